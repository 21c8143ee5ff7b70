// Property pages and the property sheet, over comctl32's PropertySheetA.
//
// The sheet and its pages are described in the first version of comctl32's
// structures, which every version understands; an old comctl32 refuses a
// size it does not know. The sheet steps through its page array by each
// entry's size, so the pages are handed over packed at that size.
#include "wizard/framework/framework.h"

#include <cstring>

namespace {

const UINT PAGE_SIZE = PROPSHEETPAGEA_V1_SIZE;
const UINT SHEET_SIZE = PROPSHEETHEADERA_V1_SIZE;

// Answers of the page to the sheet's notifications.
constexpr LRESULT PAGE_ACCEPTS = 0;
constexpr LRESULT PAGE_REFUSES = -1;

}  // namespace

IMPLEMENT_DYNAMIC(CPropertyPage, CDialog)
IMPLEMENT_DYNAMIC(CPropertySheet, CWnd)

// ---- CPropertyPage ----------------------------------------------------------------------

CPropertyPage::CPropertyPage(UINT nIDTemplate, UINT nIDCaption) : CDialog(nIDTemplate) {
    std::memset(&m_psp, 0, sizeof m_psp);
    m_szCaption[0] = '\0';
    m_psp.dwSize = PAGE_SIZE;
    m_psp.hInstance = AfxGetResourceHandle();
    m_psp.pszTemplate = MAKEINTRESOURCEA(nIDTemplate);
    m_psp.pfnDlgProc = PageProc;
    m_psp.lParam = reinterpret_cast<LPARAM>(this);
    if (nIDCaption && LoadStringA(m_psp.hInstance, nIDCaption, m_szCaption, CAPTION_CAPACITY) > 0) {
        m_psp.dwFlags |= PSP_USETITLE;
        m_psp.pszTitle = m_szCaption;
    }
}

BOOL CPropertyPage::OnSetActive() { return TRUE; }

LRESULT CPropertyPage::OnWizardNext() { return 0; }

BOOL CPropertyPage::OnWizardFinish() { return TRUE; }

BOOL CPropertyPage::OnNotify(const NMHDR* header, LRESULT* result) {
    switch (header->code) {
    case PSN_SETACTIVE:
        *result = OnSetActive() ? PAGE_ACCEPTS : PAGE_REFUSES;
        return TRUE;
    case PSN_WIZNEXT:
        *result = OnWizardNext();
        return TRUE;
    case PSN_WIZFINISH:
        // Nonzero keeps the wizard open.
        *result = OnWizardFinish() ? FALSE : TRUE;
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK CPropertyPage::PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        // The sheet passes its copy of the page's description, whose lParam
        // is the page object.
        const PROPSHEETPAGEA* psp = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
        CPropertyPage* page = reinterpret_cast<CPropertyPage*>(psp->lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(page));
        page->m_hWnd = hwnd;
        return page->OnInitDialog();
    }
    // Messages before WM_INITDIALOG find no page yet.
    CPropertyPage* page = reinterpret_cast<CPropertyPage*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!page) return FALSE;
    switch (msg) {
    case WM_NOTIFY: {
        LRESULT result = 0;
        if (!page->OnNotify(reinterpret_cast<const NMHDR*>(lParam), &result)) return FALSE;
        SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
        return TRUE;
    }
    case WM_COMMAND:
        return page->OnCommand(wParam, lParam);
    case WM_NCDESTROY:
        page->m_hWnd = nullptr;
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

// ---- CPropertySheet -----------------------------------------------------------------------

CPropertySheet::CPropertySheet(LPCSTR pszCaption, CWnd* pParentWnd, UINT iSelectPage)
    : m_pages{}, m_nPages(0) {
    std::memset(&m_psh, 0, sizeof m_psh);
    lstrcpynA(m_szCaption, pszCaption ? pszCaption : "", CAPTION_CAPACITY);
    m_psh.dwSize = SHEET_SIZE;
    m_psh.dwFlags = PSH_PROPSHEETPAGE;
    m_psh.hwndParent = pParentWnd ? pParentWnd->GetSafeHwnd() : nullptr;
    m_psh.hInstance = AfxGetResourceHandle();
    m_psh.pszCaption = m_szCaption;
    m_psh.nStartPage = iSelectPage;
}

void CPropertySheet::AddPage(CPropertyPage* pPage) {
    if (!pPage || m_nPages >= MAX_PAGES) return;
    m_pages[m_nPages++] = pPage;
}

INT_PTR CPropertySheet::DoModal() {
    alignas(PROPSHEETPAGEA) BYTE pages[MAX_PAGES * sizeof(PROPSHEETPAGEA)];
    for (int i = 0; i < m_nPages; ++i) {
        PROPSHEETPAGEA page = m_pages[i]->m_psp;
        page.dwSize = PAGE_SIZE;
        std::memcpy(pages + static_cast<size_t>(i) * PAGE_SIZE, &page, PAGE_SIZE);
    }
    m_psh.dwSize = SHEET_SIZE;
    m_psh.dwFlags |= PSH_PROPSHEETPAGE;
    m_psh.nPages = static_cast<UINT>(m_nPages);
    m_psh.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(pages);
    // Loads comctl32's window classes; systems before comctl32 4.70 know no
    // other way.
    InitCommonControls();
    INT_PTR result = PropertySheetA(&m_psh);
    m_psh.ppsp = nullptr;
    if (result < 0) return -1;
    return result > 0 ? IDOK : IDCANCEL;
}
