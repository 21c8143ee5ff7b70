// Property sheets and wizards of the simulated desktop as a scenario drives
// them: the user's scripted clicks, what the sheet's view and records
// report, and the page objects' bookkeeping. What the platform does with
// the pages' notifications and the wizard's buttons is held against a real
// system by tests/contract/propsheet_test.cpp.
#include <sim/world.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <unistd.h>  // getpid: test processes run side by side

namespace {

constexpr int kWelcome = 101;
constexpr int kRemoving = 102;
constexpr int kUtilities = 1001;  // auto check boxes on the welcome page
constexpr int kDrivers = 1002;
constexpr int kStatus = 1101;     // text on the removing page
constexpr int kCaptionString = 201;
constexpr const char* kUninstaller = "C:\\Program Files\\Capture\\uninst.exe";
const char* const kScript = R"(
STRINGTABLE
BEGIN
    201 "Clearway"
END
101 DIALOG 0, 0, 200, 120
STYLE 0x40000000L | 0x08000000L | 0x00C00000L | 0x40L    /* WS_CHILD | WS_DISABLED | WS_CAPTION | DS_SETFONT */
CAPTION "Welcome"
FONT 8, "MS Sans Serif"
BEGIN
    AUTOCHECKBOX "Remove the utilities", 1001, 7, 30, 150, 10
    AUTOCHECKBOX "Remove the drivers", 1002, 7, 45, 150, 10
END
102 DIALOG 0, 0, 220, 100
STYLE 0x40000000L | 0x00C00000L
CAPTION "Removing"
BEGIN
    LTEXT "Ready.", 1101, 7, 7, 180, 8
END
)";

// What the pages' procedures heard: notifications, then everything else
// as (page, message); a page is its PROPSHEETPAGEA::lParam.
std::vector<UINT> g_heard;
std::vector<std::pair<int, UINT>> g_messages;
std::map<HWND, int> g_pageOf;
// A test's reaction to a notification; unset answers: post the usual buttons
// on activation and accept everything else.
std::function<INT_PTR(HWND, int, UINT)> g_notify;

DWORD usualButtons(int page, int pages) {
    if (page == 0) return PSWIZB_NEXT;
    return page == pages - 1 ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_BACK | PSWIZB_NEXT;
}

int g_pageCount = 0;

INT_PTR CALLBACK pageProc(HWND h, UINT msg, WPARAM, LPARAM l) {
    if (msg == WM_INITDIALOG) {
        const auto* psp = reinterpret_cast<const PROPSHEETPAGEA*>(l);
        g_pageOf[h] = static_cast<int>(psp->lParam);
        if (psp->lParam == 0) CheckDlgButton(h, kUtilities, BST_CHECKED);
        return TRUE;
    }
    const int page = g_pageOf.count(h) ? g_pageOf[h] : -1;
    if (msg == WM_NOTIFY) {
        const auto* n = reinterpret_cast<const PSHNOTIFY*>(l);
        g_heard.push_back(n->hdr.code);
        if (g_notify) return g_notify(h, page, n->hdr.code);
        if (n->hdr.code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, g_pageCount));
        SetWindowLongPtrA(h, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    g_messages.push_back({page, msg});
    return FALSE;
}

LRESULT CALLBACK ownerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return msg == WM_CREATE ? 0 : DefWindowProcA(h, msg, w, l);
}

class PropSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_heard.clear();
        g_messages.clear();
        g_pageOf.clear();
        g_notify = nullptr;
        std::string path = ::testing::TempDir() + "propsheet_test." + std::to_string(getpid()) + ".rc.i";
        std::ofstream(path, std::ios::binary) << kScript;
        instance = w().loadModule("clearway", path);
        std::remove(path.c_str());
        w().deadline = 60000;
        w().hasDeadline = true;

        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ownerProc;
        wc.lpszClassName = "WizardOwner";
        RegisterClassExA(&wc);
        owner = CreateWindowExA(0, "WizardOwner", "Owner", 0, 0, 0, 300, 200, nullptr, nullptr, instance, nullptr);
    }

    sim::World& w() { return sim::world(); }

    PROPSHEETPAGEA page(int templateId, int index) {
        PROPSHEETPAGEA p{};
        p.dwSize = sizeof p;
        p.dwFlags = PSP_DEFAULT;
        p.hInstance = instance;
        p.pszTemplate = MAKEINTRESOURCEA(templateId);
        p.pfnDlgProc = pageProc;
        p.lParam = index;
        return p;
    }

    INT_PTR run(const std::vector<int>& templates, DWORD flags = PSH_WIZARD) {
        pages.clear();
        for (size_t i = 0; i < templates.size(); ++i) pages.push_back(page(templates[i], static_cast<int>(i)));
        g_pageCount = static_cast<int>(templates.size());
        PROPSHEETHEADERA h{};
        h.dwSize = sizeof h;
        h.dwFlags = flags | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW;
        h.hwndParent = owner;
        h.hInstance = instance;
        h.pszCaption = MAKEINTRESOURCEA(kCaptionString);
        h.nPages = static_cast<UINT>(pages.size());
        h.ppsp = pages.data();
        return PropertySheetA(&h);
    }

    UINT checkOf(const sim::SheetView& v, int id) {
        for (const sim::PageControlView& c : v.controls)
            if (c.id == id) return c.check;
        ADD_FAILURE() << "no control " << id << " on the active page";
        return BST_INDETERMINATE;
    }

    HINSTANCE instance = nullptr;
    HWND owner = nullptr;
    std::vector<PROPSHEETPAGEA> pages;
};

// ---- a wizard from start to end -------------------------------------------------------------

TEST_F(PropSheetTest, WizardGoesFromWelcomeToFinishAsTheUserClicks) {
    bool drivers = false;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 2));
        if (code == PSN_WIZNEXT) drivers = IsDlgButtonChecked(h, kDrivers) == BST_CHECKED;
        return FALSE;
    };
    sim::SheetView first, second;
    w().after(100, "the user looks and ticks the drivers", [&] {
        first = w().sheetView();
        EXPECT_TRUE(w().clickCheckBox(kDrivers));
        EXPECT_FALSE(w().clickFinish());  // not shown on the first page
        EXPECT_FALSE(w().clickBack());    // shown, but disabled
    });
    w().after(200, "the user clicks Next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(300, "the user looks again", [&] {
        second = w().sheetView();
        EXPECT_FALSE(w().clickNext());  // Finish stands in its place
        EXPECT_FALSE(w().clickCheckBox(kStatus));
    });
    w().after(400, "the user clicks Finish", [&] { EXPECT_TRUE(w().clickFinish()); });

    EXPECT_EQ(run({kWelcome, kRemoving}), 1);

    ASSERT_NE(first.handle, nullptr);
    EXPECT_TRUE(first.wizard && first.visible);
    EXPECT_EQ(first.activePage, 0);
    EXPECT_EQ(first.title, "Welcome");
    EXPECT_EQ(first.pageTitles, (std::vector<std::string>{"Welcome", "Removing"}));
    ASSERT_EQ(first.pages.size(), 2u);
    EXPECT_EQ(first.pages[1], nullptr);  // not made yet
    EXPECT_FALSE(first.back.enabled);
    EXPECT_FALSE(first.finish.shown);
    EXPECT_EQ(first.wizardButtons, DWORD(PSWIZB_NEXT));
    EXPECT_EQ(checkOf(first, kUtilities), UINT(BST_CHECKED));
    EXPECT_EQ(checkOf(first, kDrivers), UINT(BST_UNCHECKED));

    EXPECT_TRUE(drivers);  // the click reached the box before Next
    bool clicked = false;  // and the box told its page
    for (const auto& m : g_messages) clicked |= m.first == 0 && m.second == WM_COMMAND;
    EXPECT_TRUE(clicked);
    EXPECT_EQ(second.activePage, 1);
    EXPECT_TRUE(second.finish.enabled);
    ASSERT_EQ(second.controls.size(), 1u);
    EXPECT_EQ(second.controls[0].text, "Ready.");

    ASSERT_EQ(w().sheetsShown.size(), 1u);
    const sim::SheetRecord& r = w().sheetsShown[0];
    EXPECT_EQ(r.pagesShown, (std::vector<int>{0, 1}));
    EXPECT_EQ(r.caption, "Clearway");
    EXPECT_EQ(r.owner, owner);
    EXPECT_FALSE(r.open);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.closed, 400u);
    EXPECT_FALSE(IsWindow(r.handle));
    EXPECT_EQ(w().livePropertySheetPages(), 0);
    EXPECT_EQ(w().innermostSheet(), nullptr);
    EXPECT_TRUE(w().dialogData.empty());  // gone with the windows
}

// ---- the sheet while the wizard works ----------------------------------------------------------

TEST_F(PropSheetTest, WizardHidesWhileAnUninstallerRunsFromANotification) {
    constexpr uint32_t kRun = 5000;
    constexpr uint32_t kClick = 100;
    sim::ProgramSetup uninstaller;
    uninstaller.runsForMs = kRun;
    w().installProgram(kUninstaller, uninstaller);
    DWORD waitResult = WAIT_FAILED;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 2));
        if (code == PSN_WIZNEXT) {
            HWND sheet = GetParent(h);
            ShowWindow(sheet, SW_HIDE);
            STARTUPINFOA si{};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi{};
            char line[] = "\"C:\\Program Files\\Capture\\uninst.exe\" /S";
            EXPECT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
            waitResult = WaitForSingleObject(pi.hProcess, INFINITE);
            CloseHandle(pi.hProcess);
            CloseHandle(pi.hThread);
            ShowWindow(sheet, SW_SHOW);
        }
        return FALSE;
    };
    bool lookedDuring = false;
    w().after(kClick, "next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(kClick + kRun / 2, "the user tries to cancel meanwhile", [&] {
        lookedDuring = true;
        EXPECT_FALSE(w().sheetView().visible);
        EXPECT_FALSE(w().clickCancel());
    });
    w().after(kClick + kRun + 100, "finish", [&] {
        EXPECT_TRUE(w().sheetView().visible);
        EXPECT_TRUE(w().clickFinish());
    });
    EXPECT_EQ(run({kWelcome, kRemoving}), 1);
    EXPECT_TRUE(lookedDuring);
    EXPECT_EQ(waitResult, DWORD(WAIT_OBJECT_0));
    const sim::SheetRecord& r = w().sheetsShown.at(0);
    ASSERT_EQ(r.shows.size(), 2u);
    EXPECT_EQ(r.shows[0].cmd, SW_HIDE);
    EXPECT_EQ(r.shows[0].time, kClick);
    EXPECT_EQ(r.shows[1].cmd, SW_SHOW);
    EXPECT_EQ(r.shows[1].time, kClick + kRun);
    EXPECT_EQ(r.pagesShown, (std::vector<int>{0, 1}));
    EXPECT_EQ(w().openProcessHandles(), 0);
    EXPECT_EQ(w().openThreadHandles(), 0);
}

// ---- callbacks, page objects and errors ---------------------------------------------------------

// The ledger of page objects: PSP_USEREFPARENT counted (Wine does not keep
// that count, so the model's is held here), pages given back with the sheet,
// and a page no sheet took destroyed once by the program.
TEST_F(PropSheetTest, PageObjectsAreCountedAndGivenBack) {
    UINT refs = 0;
    HPROPSHEETPAGE handles[2]{};
    for (int i = 0; i < 2; ++i) {
        PROPSHEETPAGEA p = page(i == 0 ? kWelcome : kRemoving, i);
        p.dwFlags = PSP_USEREFPARENT;
        p.pcRefParent = &refs;
        handles[i] = CreatePropertySheetPageA(&p);
        ASSERT_NE(handles[i], nullptr);
    }
    EXPECT_EQ(refs, 2u);
    EXPECT_EQ(w().livePropertySheetPages(), 2);
    w().after(100, "cancel", [&] { EXPECT_TRUE(w().clickCancel()); });
    PROPSHEETHEADERA h{};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_WIZARD;
    h.hInstance = instance;
    h.nPages = 2;
    h.phpage = handles;
    EXPECT_EQ(PropertySheetA(&h), 0);
    EXPECT_EQ(refs, 0u);
    EXPECT_EQ(w().livePropertySheetPages(), 0);
    EXPECT_FALSE(DestroyPropertySheetPage(handles[0]));  // the sheet destroyed it

    PROPSHEETPAGEA p = page(kWelcome, 0);
    HPROPSHEETPAGE alone = CreatePropertySheetPageA(&p);
    EXPECT_TRUE(DestroyPropertySheetPage(alone));
    EXPECT_FALSE(DestroyPropertySheetPage(alone));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

// Failing before it shows, a sheet gives back the pages it made and leaves the owner as it was.
TEST_F(PropSheetTest, SheetWithoutAnyPageFailsWithoutShowingAnything) {
    EXPECT_EQ(run({998, 999}), -1);  // neither template exists
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(w().livePropertySheetPages(), 0);
    EXPECT_EQ(run({kWelcome}, PSH_WIZARD | PSH_MODELESS), -1);  // not simulated
    EXPECT_TRUE(w().sheetsShown.empty());
    EXPECT_TRUE(g_heard.empty());
    EXPECT_FALSE(w().window(owner)->style & WS_DISABLED);
}

TEST_F(PropSheetTest, SheetLeftOpenWhenTheScenarioEnds) {
    w().deadline = 3000;
    EXPECT_THROW(run({kWelcome, kRemoving}), sim::ScenarioEnd);
    ASSERT_EQ(w().sheetsShown.size(), 1u);
    EXPECT_TRUE(w().sheetsShown[0].open);
    EXPECT_EQ(w().sheetView().handle, nullptr);  // its loop is gone
    EXPECT_TRUE(IsWindowVisible(w().sheetsShown[0].handle));
    EXPECT_TRUE(w().window(owner)->style & WS_DISABLED);
}

}  // namespace
