// clearway's two pages: page 1 offers the choices, page 2 closes the agent
// and runs the chosen removals as soon as it becomes active.
#include "wizard/pages.h"

#include "clearway_resource.h"
#include "wizard/app.h"

namespace {

// Page 1's explanation: two paragraphs with one empty line between them.
constexpr int PAGE1_TEXT_CAPACITY = 256;
#define PARAGRAPH_BREAK "\n\n"

// Appends `text` to the string in `buffer` (room for `capacity` bytes) as far
// as it fits, and keeps the result terminated.
void AppendCut(char* buffer, int capacity, LPCSTR text) {
    int used = lstrlenA(buffer);
    lstrcpynA(buffer + used, text, capacity - used);
}

}  // namespace

IMPLEMENT_DYNAMIC(CWizardSheet, CPropertySheet)
IMPLEMENT_DYNCREATE(CPage1, CPropertyPage)
IMPLEMENT_DYNCREATE(CPage2, CPropertyPage)

// ---- page 1 ----------------------------------------------------------------------------

CPage1::CPage1()
    : CPropertyPage(IDD_PAGE1, IDS_WIZARD_CAPTION), m_bRemoveUtilities(FALSE), m_bRemoveDrivers(FALSE) {}

void CPage1::DoDataExchange(CDataExchange* pDX) { CPropertyPage::DoDataExchange(pDX); }

// The layout's texts are replaced even by empty ones.
BOOL CPage1::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    // Two long paragraphs do not fit together: the explanation is cut.
    char text[PAGE1_TEXT_CAPACITY];
    lstrcpynA(text, theApp.m_szPage1Tip1, PAGE1_TEXT_CAPACITY);
    AppendCut(text, PAGE1_TEXT_CAPACITY, PARAGRAPH_BREAK);
    AppendCut(text, PAGE1_TEXT_CAPACITY, theApp.m_szPage1Tip2);
    SetDlgItemText(IDC_PAGE1_TEXT, text);
    SetDlgItemText(IDC_REMOVE_UTILITIES, theApp.m_szOption1);
    SetDlgItemText(IDC_REMOVE_DRIVERS, theApp.m_szOption2);
    return TRUE;
}

// Back is never offered: Next alone is enabled, and both boxes start checked.
BOOL CPage1::OnSetActive() {
    PostMessageA(::GetParent(m_hWnd), PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
    CheckDlgButton(IDC_REMOVE_UTILITIES, BST_CHECKED);
    CheckDlgButton(IDC_REMOVE_DRIVERS, BST_CHECKED);
    return CPropertyPage::OnSetActive();
}

LRESULT CPage1::OnWizardNext() {
    m_bRemoveUtilities = IsDlgButtonChecked(IDC_REMOVE_UTILITIES) != 0 ? TRUE : FALSE;
    m_bRemoveDrivers = IsDlgButtonChecked(IDC_REMOVE_DRIVERS) != 0 ? TRUE : FALSE;
    theApp.m_bRemoveUtilities = m_bRemoveUtilities;
    theApp.m_bRemoveDrivers = m_bRemoveDrivers;
    return CPropertyPage::OnWizardNext();
}

BOOL CPage1::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDC_REMOVE_UTILITIES:
            OnRemoveUtilitiesClicked();
            return TRUE;
        case IDC_REMOVE_DRIVERS:
            OnRemoveDriversClicked();
            return TRUE;
        default:
            break;
        }
    }
    return CPropertyPage::OnCommand(wParam, lParam);
}

void CPage1::OnRemoveUtilitiesClicked() {}

void CPage1::OnRemoveDriversClicked() {}

// ---- page 2 ----------------------------------------------------------------------------

CPage2::CPage2() : CPropertyPage(IDD_PAGE2, IDS_WIZARD_CAPTION) {}

void CPage2::DoDataExchange(CDataExchange* pDX) { CPropertyPage::DoDataExchange(pDX); }

// The closing text in the user's language when the INI gives one; the
// layout's own text otherwise.
BOOL CPage2::OnInitDialog() {
    CPropertyPage::OnInitDialog();
    if (theApp.m_szPage2Tip1[0] != '\0') SetDlgItemText(IDC_PAGE2_TEXT, theApp.m_szPage2Tip1);
    return TRUE;
}

BOOL CPage2::OnSetActive() {
    HWND sheet = ::GetParent(m_hWnd);
    // Posted: Finish replaces Next once this activation has returned.
    PostMessageA(sheet, PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
    // The agent ends on this message; the send returns once it has handled it.
    if (HWND agent = FindWindowA(nullptr, AGENT_WINDOW_TITLE)) SendMessageA(agent, WM_CLOSE, 0, 0);
    // The wizard answers nothing while the uninstallers run, so it is not shown meanwhile.
    ShowWindow(sheet, SW_HIDE);
    if (theApp.m_bRemoveUtilities) RemoveUtilities();
    if (theApp.m_bRemoveDrivers) RemoveDrivers();
    ShowWindow(sheet, SW_SHOW);
    return CPropertyPage::OnSetActive();
}
