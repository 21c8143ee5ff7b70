// Property sheets and wizards of the simulated desktop: pages from the
// program's templates, notifications, wizard buttons, the user's scripted
// clicks, and the page objects' lifetime.
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
constexpr int kDone = 103;
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
    LTEXT "This wizard removes the capture box software.", (-1), 7, 7, 180, 8
    AUTOCHECKBOX "Remove the utilities", 1001, 7, 30, 150, 10
    AUTOCHECKBOX "Remove the drivers", 1002, 7, 45, 150, 10
END
102 DIALOG 0, 0, 220, 100
STYLE 0x40000000L | 0x00C00000L
CAPTION "Removing"
BEGIN
    LTEXT "Ready.", 1101, 7, 7, 180, 8
END
103 DIALOG 0, 0, 200, 140
STYLE 0x40000000L | 0x00C00000L
CAPTION "Done"
BEGIN
    LTEXT "Finished.", (-1), 7, 7, 180, 8
END
)";

// What a page's procedure heard: notifications with the sheet they came from.
struct Heard {
    int page;  // the page's PROPSHEETPAGEA::lParam
    UINT code;
    HWND from;
    LPARAM lParam;
    uint32_t time;
};

std::vector<Heard> g_heard;
std::vector<std::pair<int, UINT>> g_messages;  // (page, message) for everything else
std::map<HWND, int> g_pageOf;
// A test's reaction to a notification; unset answers: post the usual buttons
// on activation and accept everything else.
std::function<INT_PTR(HWND, int, UINT)> g_notify;
std::function<void(HWND, int, WPARAM)> g_command;
std::vector<LPARAM> g_initParams;
int g_timerTicks = 0;

DWORD usualButtons(int page, int pages) {
    if (page == 0) return PSWIZB_NEXT;
    return page == pages - 1 ? PSWIZB_BACK | PSWIZB_FINISH : PSWIZB_BACK | PSWIZB_NEXT;
}

int g_pageCount = 0;

INT_PTR CALLBACK pageProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_INITDIALOG) {
        const auto* psp = reinterpret_cast<const PROPSHEETPAGEA*>(l);
        g_pageOf[h] = static_cast<int>(psp->lParam);
        g_initParams.push_back(l);
        if (psp->lParam == 0) CheckDlgButton(h, kUtilities, BST_CHECKED);
        return TRUE;
    }
    const int page = g_pageOf.count(h) ? g_pageOf[h] : -1;
    if (msg == WM_NOTIFY) {
        const auto* n = reinterpret_cast<const PSHNOTIFY*>(l);
        g_heard.push_back({page, n->hdr.code, n->hdr.hwndFrom, n->lParam, sim::world().now});
        if (g_notify) return g_notify(h, page, n->hdr.code);
        if (n->hdr.code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, g_pageCount));
        SetWindowLongPtrA(h, DWLP_MSGRESULT, 0);
        return TRUE;
    }
    g_messages.push_back({page, msg});
    if (msg == WM_COMMAND && g_command) g_command(h, page, w);
    return FALSE;
}

LRESULT CALLBACK ownerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return msg == WM_CREATE ? 0 : DefWindowProcA(h, msg, w, l);
}

void CALLBACK pressNextTimer(HWND h, UINT, UINT_PTR id, DWORD) {
    ++g_timerTicks;
    KillTimer(h, id);
    PropSheet_PressButton(GetParent(h), PSBTN_NEXT);
}

std::vector<UINT> codesOf(int page) {
    std::vector<UINT> out;
    for (const Heard& h : g_heard)
        if (h.page == page) out.push_back(h.code);
    return out;
}

class PropSheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_heard.clear();
        g_messages.clear();
        g_pageOf.clear();
        g_notify = nullptr;
        g_command = nullptr;
        g_initParams.clear();
        g_timerTicks = 0;
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
    bool utilities = false, drivers = false;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 2));
        if (code == PSN_WIZNEXT) {
            utilities = IsDlgButtonChecked(h, kUtilities) == BST_CHECKED;
            drivers = IsDlgButtonChecked(h, kDrivers) == BST_CHECKED;
        }
        return FALSE;
    };
    sim::SheetView first, second;
    HWND firstParent = nullptr;
    w().after(100, "the user looks and ticks the drivers", [&] {
        first = w().sheetView();
        firstParent = GetParent(first.pages.at(0));
        EXPECT_TRUE(w().clickCheckBox(kDrivers));
        EXPECT_FALSE(w().clickFinish());  // not shown on the first page
    });
    w().after(200, "the user clicks Next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(300, "the user looks again", [&] { second = w().sheetView(); });
    w().after(400, "the user clicks Finish", [&] { EXPECT_TRUE(w().clickFinish()); });

    EXPECT_EQ(run({kWelcome, kRemoving}), 1);

    ASSERT_NE(first.handle, nullptr);
    EXPECT_TRUE(first.wizard);
    EXPECT_TRUE(first.visible);
    EXPECT_EQ(first.activePage, 0);
    EXPECT_EQ(first.title, "Welcome");  // a wizard shows the page's caption
    EXPECT_EQ(first.pageTitles, (std::vector<std::string>{"Welcome", "Removing"}));
    ASSERT_EQ(first.pages.size(), 2u);
    EXPECT_EQ(firstParent, first.handle);
    EXPECT_EQ(first.pages[1], nullptr);  // created when first activated
    EXPECT_TRUE(first.back.shown);
    EXPECT_FALSE(first.back.enabled);
    EXPECT_TRUE(first.next.enabled);
    EXPECT_FALSE(first.finish.shown);
    EXPECT_TRUE(first.cancel.enabled);
    EXPECT_EQ(first.wizardButtons, DWORD(PSWIZB_NEXT));
    EXPECT_EQ(checkOf(first, kUtilities), UINT(BST_CHECKED));
    EXPECT_EQ(checkOf(first, kDrivers), UINT(BST_UNCHECKED));

    EXPECT_TRUE(utilities);
    EXPECT_TRUE(drivers);  // the click reached the box before Next
    EXPECT_EQ(second.activePage, 1);
    EXPECT_EQ(second.title, "Removing");
    EXPECT_TRUE(second.back.enabled);
    EXPECT_FALSE(second.next.shown);  // Finish takes its place
    EXPECT_TRUE(second.finish.shown);
    EXPECT_TRUE(second.finish.enabled);
    ASSERT_EQ(second.controls.size(), 1u);
    EXPECT_EQ(second.controls[0].id, kStatus);
    EXPECT_EQ(second.controls[0].text, "Ready.");
    EXPECT_FALSE(IsWindowVisible(second.pages[0]));

    EXPECT_EQ(codesOf(0), (std::vector<UINT>{PSN_SETACTIVE, PSN_WIZNEXT, PSN_KILLACTIVE}));
    EXPECT_EQ(codesOf(1), (std::vector<UINT>{PSN_SETACTIVE, PSN_WIZFINISH}));
    for (const Heard& h : g_heard) EXPECT_EQ(h.from, first.handle);
    // The check box told its page.
    bool clicked = false;
    for (const auto& m : g_messages) clicked |= m.first == 0 && m.second == WM_COMMAND;
    EXPECT_TRUE(clicked);

    ASSERT_EQ(w().sheetsShown.size(), 1u);
    const sim::SheetRecord& r = w().sheetsShown[0];
    EXPECT_EQ(r.pagesShown, (std::vector<int>{0, 1}));
    EXPECT_EQ(r.caption, "Clearway");
    EXPECT_EQ(r.owner, owner);
    EXPECT_FALSE(r.open);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.closed, 400u);
    EXPECT_FALSE(IsWindow(r.handle));
    EXPECT_FALSE(IsWindow(second.pages[1]));
    EXPECT_EQ(w().livePropertySheetPages(), 0);
    EXPECT_FALSE(w().window(owner)->style & WS_DISABLED);
    EXPECT_EQ(w().innermostSheet(), nullptr);
}

TEST_F(PropSheetTest, PostedButtonsTakeEffectOnlyAfterTheNotificationReturns) {
    sim::SheetView during, after;
    bool sentApplies = false;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code != PSN_SETACTIVE) return FALSE;
        PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 2));
        if (page == 1) {
            during = w().sheetView();
            // Sent rather than posted, the message changes the buttons at once.
            SendMessageA(GetParent(h), PSM_SETWIZBUTTONS, 0, PSWIZB_DISABLEDFINISH);
            sentApplies = w().sheetView().finish.shown && !w().sheetView().finish.enabled;
        }
        return FALSE;
    };
    w().after(100, "the user clicks Next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(150, "the user looks", [&] {
        after = w().sheetView();
        EXPECT_TRUE(w().clickCancel());
    });
    EXPECT_EQ(run({kWelcome, kRemoving}), 0);
    EXPECT_EQ(during.wizardButtons, DWORD(PSWIZB_NEXT));  // the first page's buttons still
    EXPECT_FALSE(during.back.enabled);
    EXPECT_TRUE(sentApplies);
    // Then the posted message arrived, after the sent one.
    EXPECT_EQ(after.wizardButtons, DWORD(PSWIZB_BACK | PSWIZB_FINISH));
    EXPECT_TRUE(after.back.enabled);
    EXPECT_TRUE(after.finish.enabled);
}

// ---- answers to the notifications ------------------------------------------------------------

TEST_F(PropSheetTest, NextAnswersStayOrJumpAndBackReturns) {
    int nextClicks = 0;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), PSWIZB_BACK | PSWIZB_NEXT);
        if (code == PSN_WIZNEXT && page == 0) {
            // First through DWLP_MSGRESULT, as the platform asks; then the return value alone.
            if (++nextClicks == 1) {
                SetWindowLongPtrA(h, DWLP_MSGRESULT, -1);
                return TRUE;
            }
            return kDone;
        }
        return FALSE;
    };
    std::vector<int> active;
    auto look = [&] { active.push_back(w().sheetView().activePage); };
    w().after(100, "next (refused)", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(150, "look", look);
    w().after(200, "next (jumps)", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(250, "look", look);
    w().after(300, "back", [&] { EXPECT_TRUE(w().clickBack()); });
    w().after(350, "look", look);
    w().after(400, "cancel", [&] { EXPECT_TRUE(w().clickCancel()); });
    EXPECT_EQ(run({kWelcome, kRemoving, kDone}), 0);
    EXPECT_EQ(active, (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(w().sheetsShown.at(0).pagesShown, (std::vector<int>{0, 2, 1}));
    // A refused Next does not take the page's activation away.
    EXPECT_EQ(codesOf(0), (std::vector<UINT>{PSN_SETACTIVE, PSN_WIZNEXT, PSN_WIZNEXT, PSN_KILLACTIVE, PSN_RESET}));
    EXPECT_EQ(codesOf(2), (std::vector<UINT>{PSN_SETACTIVE, PSN_WIZBACK, PSN_KILLACTIVE, PSN_RESET}));
    EXPECT_EQ(codesOf(1), (std::vector<UINT>{PSN_SETACTIVE, PSN_QUERYCANCEL, PSN_RESET}));
}

TEST_F(PropSheetTest, PageDecliningActivationIsSkippedInTheDirectionOfTravel) {
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code != PSN_SETACTIVE) return FALSE;
        if (page == 1) return -1;
        PropSheet_SetWizButtons(GetParent(h), PSWIZB_BACK | PSWIZB_NEXT);
        return FALSE;
    };
    w().after(100, "next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(200, "back", [&] { EXPECT_TRUE(w().clickBack()); });
    w().after(300, "cancel", [&] { EXPECT_TRUE(w().clickCancel()); });
    EXPECT_EQ(run({kWelcome, kRemoving, kDone}), 0);
    EXPECT_EQ(w().sheetsShown.at(0).pagesShown, (std::vector<int>{0, 2, 0}));
    EXPECT_EQ(codesOf(1), (std::vector<UINT>{PSN_SETACTIVE, PSN_SETACTIVE, PSN_RESET}));
}

TEST_F(PropSheetTest, CancelAsksTheActivePageThenResetsEveryCreatedPage) {
    int queries = 0;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 3));
        // The first time "not now", which only DWLP_MSGRESULT can say: TRUE alone means 0.
        if (code == PSN_QUERYCANCEL && ++queries == 1) SetWindowLongPtrA(h, DWLP_MSGRESULT, TRUE);
        return code == PSN_QUERYCANCEL;
    };
    w().after(100, "next", [&] { EXPECT_TRUE(w().clickNext()); });
    w().after(200, "cancel, refused", [&] { EXPECT_TRUE(w().clickCancel()); });
    w().after(300, "close box", [&] {
        EXPECT_EQ(w().sheetView().activePage, 1);
        SendMessageA(w().innermostSheet(), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(run({kWelcome, kRemoving, kDone}), 0);
    EXPECT_EQ(queries, 2);
    std::vector<Heard> resets;
    for (const Heard& h : g_heard)
        if (h.code == PSN_RESET) resets.push_back(h);
    // Pages 0 and 1 were created; the third never was.
    ASSERT_EQ(resets.size(), 2u);
    EXPECT_EQ(resets[0].page, 0);
    EXPECT_EQ(resets[1].page, 1);
    EXPECT_EQ(resets[0].lParam, TRUE);  // from the close box, not the Cancel button
    EXPECT_EQ(w().sheetsShown.at(0).closed, 300u);
    EXPECT_EQ(w().sheetsShown.at(0).result, 0);
}

TEST_F(PropSheetTest, FinishRefusedKeepsTheSheetAndRestartIsReported) {
    int finishes = 0;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) {
            PropSheet_SetWizButtons(GetParent(h), PSWIZB_FINISH);
            PropSheet_RestartWindows(GetParent(h));
        }
        // Refused through DWLP_MSGRESULT; then TRUE returned alone, which accepts.
        if (code == PSN_WIZFINISH && ++finishes == 1) SetWindowLongPtrA(h, DWLP_MSGRESULT, TRUE);
        (void)page;
        return code == PSN_WIZFINISH;
    };
    w().after(100, "finish, refused", [&] { EXPECT_TRUE(w().clickFinish()); });
    w().after(200, "finish", [&] {
        EXPECT_TRUE(w().sheetView().visible);
        EXPECT_FALSE(w().clickNext());  // Finish stands in its place
        EXPECT_TRUE(w().clickFinish());
    });
    EXPECT_EQ(run({kWelcome}), ID_PSRESTARTWINDOWS);
    EXPECT_EQ(finishes, 2);
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

TEST_F(PropSheetTest, TimerInsideTheSheetPressesNextThroughAPostedMessage) {
    constexpr UINT kDelay = 700;
    g_notify = [&](HWND h, int page, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) {
            PropSheet_SetWizButtons(GetParent(h), usualButtons(page, 2));
            if (page == 0) SetTimer(h, 1, kDelay, pressNextTimer);
        }
        return FALSE;
    };
    uint32_t arrived = 0;
    w().after(kDelay + 50, "look and cancel", [&] {
        if (w().sheetView().activePage == 1) arrived = w().now;
        EXPECT_TRUE(w().clickCancel());
    });
    EXPECT_EQ(run({kWelcome, kRemoving}), 0);
    EXPECT_EQ(g_timerTicks, 1);
    EXPECT_EQ(arrived, kDelay + 50);
    ASSERT_EQ(codesOf(1).size(), 3u);  // SETACTIVE, QUERYCANCEL, RESET
    for (const Heard& h : g_heard)
        if (h.page == 1 && h.code == PSN_SETACTIVE) {
            EXPECT_EQ(h.time, kDelay);
        }
}

TEST_F(PropSheetTest, FinishTextAndAlwaysShownFinish) {
    sim::SheetView withFinish, finishText;
    g_notify = [&](HWND h, int, UINT code) -> INT_PTR {
        if (code == PSN_SETACTIVE) PropSheet_SetWizButtons(GetParent(h), PSWIZB_NEXT);
        return FALSE;
    };
    w().after(100, "look", [&] {
        withFinish = w().sheetView();
        PropSheet_SetFinishText(w().innermostSheet(), "Close");
        finishText = w().sheetView();
        EXPECT_TRUE(w().clickFinish());
    });
    EXPECT_EQ(run({kWelcome, kRemoving}, PSH_WIZARD | PSH_WIZARDHASFINISH), 1);
    EXPECT_TRUE(withFinish.next.shown);  // beside Finish, not replaced by it
    EXPECT_TRUE(withFinish.finish.shown);
    EXPECT_FALSE(withFinish.finish.enabled);
    EXPECT_FALSE(finishText.back.shown);
    EXPECT_FALSE(finishText.next.shown);
    EXPECT_TRUE(finishText.finish.enabled);
    EXPECT_EQ(finishText.finish.text, "Close");
}

TEST_F(PropSheetTest, PlainSheetAppliesEveryCreatedPageOnOk) {
    sim::SheetView v;
    w().after(100, "look and press OK", [&] {
        v = w().sheetView();
        PropSheet_Changed(w().innermostSheet(), v.pages[0]);
        PropSheet_PressButton(w().innermostSheet(), PSBTN_OK);
    });
    EXPECT_EQ(run({kWelcome, kRemoving}, PSH_DEFAULT), 1);
    EXPECT_FALSE(v.wizard);
    EXPECT_EQ(v.title, "Clearway");  // the caption, from the string table
    EXPECT_TRUE(v.ok.enabled);
    EXPECT_FALSE(v.next.shown);
    EXPECT_FALSE(v.apply.shown);  // PSH_NOAPPLYNOW
    EXPECT_EQ(codesOf(0), (std::vector<UINT>{PSN_SETACTIVE, PSN_KILLACTIVE, PSN_APPLY}));
    EXPECT_TRUE(codesOf(1).empty());  // never created, never applied
}

// ---- callbacks, page objects and errors ---------------------------------------------------------

struct AppPage {
    PROPSHEETPAGEA psp;
    char marker[16];  // data a program appends to its page structure
};

std::vector<std::pair<UINT, HWND>> g_pageCallbacks;
std::vector<std::pair<UINT, HWND>> g_sheetCallbacks;
DWORD g_preStyle = 0;

UINT CALLBACK pageCallback(HWND h, UINT msg, PROPSHEETPAGEA*) {
    g_pageCallbacks.push_back({msg, h});
    return 1;
}

int CALLBACK sheetCallback(HWND h, UINT msg, LPARAM l) {
    g_sheetCallbacks.push_back({msg, h});
    if (msg == PSCB_PRECREATE) {
        auto* t = reinterpret_cast<DLGTEMPLATE*>(l);
        g_preStyle = t->style;
        t->style &= ~static_cast<DWORD>(WS_SYSMENU);
    }
    return 0;
}

TEST_F(PropSheetTest, PageObjectsCallBackAndTravelWithTheirAppendedData) {
    g_pageCallbacks.clear();
    g_sheetCallbacks.clear();
    UINT refs = 0;
    AppPage app[2]{};
    HPROPSHEETPAGE handles[2]{};
    for (int i = 0; i < 2; ++i) {
        app[i].psp = page(i == 0 ? kWelcome : kRemoving, i);
        app[i].psp.dwSize = sizeof(AppPage);
        app[i].psp.dwFlags = PSP_USECALLBACK | PSP_USEREFPARENT | PSP_USETITLE;
        app[i].psp.pfnCallback = pageCallback;
        app[i].psp.pcRefParent = &refs;
        app[i].psp.pszTitle = i == 0 ? "Start" : MAKEINTRESOURCEA(kCaptionString);
        std::snprintf(app[i].marker, sizeof app[i].marker, "page-%d", i);
        handles[i] = CreatePropertySheetPageA(&app[i].psp);
        ASSERT_NE(handles[i], nullptr);
    }
    EXPECT_EQ(refs, 2u);
    EXPECT_EQ(w().livePropertySheetPages(), 2);
    EXPECT_EQ(g_pageCallbacks.size(), 2u);
    std::snprintf(app[0].marker, sizeof app[0].marker, "changed");  // the page keeps its copy

    std::string seenMarker;
    sim::SheetView v;
    g_pageCount = 2;
    bool sysMenu = true;
    bool copied = false;
    w().after(100, "look and cancel", [&] {
        v = w().sheetView();
        // The page's copy lives as long as the page: read it while the sheet is open.
        ASSERT_EQ(g_initParams.size(), 1u);  // only the start page was created
        const auto* copy = reinterpret_cast<const AppPage*>(g_initParams[0]);
        copied = static_cast<const void*>(copy) != static_cast<const void*>(&app[0]);
        seenMarker = copy->marker;
        sysMenu = (GetWindowLongPtrA(v.handle, GWL_STYLE) & WS_SYSMENU) != 0;
        EXPECT_TRUE(w().clickCancel());
    });
    PROPSHEETHEADERA h{};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_WIZARD | PSH_USECALLBACK;
    h.hInstance = instance;
    h.pszCaption = "Clearway";
    h.nPages = 2;
    h.phpage = handles;
    h.pfnCallback = sheetCallback;
    EXPECT_EQ(PropertySheetA(&h), 0);

    EXPECT_TRUE(copied);
    EXPECT_EQ(seenMarker, "page-0");
    EXPECT_EQ(v.pageTitles, (std::vector<std::string>{"Start", "Clearway"}));
    EXPECT_EQ(v.title, "Start");
    // ADDREF twice, CREATE for the page shown, RELEASE twice as the sheet goes.
    std::vector<UINT> msgs;
    for (const auto& c : g_pageCallbacks) msgs.push_back(c.first);
    EXPECT_EQ(msgs, (std::vector<UINT>{PSPCB_ADDREF, PSPCB_ADDREF, PSPCB_CREATE, PSPCB_RELEASE, PSPCB_RELEASE}));
    EXPECT_EQ(refs, 0u);
    EXPECT_EQ(w().livePropertySheetPages(), 0);
    EXPECT_FALSE(DestroyPropertySheetPage(handles[0]));  // the sheet destroyed it
    // PRECREATE before the sheet exists, INITIALIZED with it.
    ASSERT_EQ(g_sheetCallbacks.size(), 2u);
    EXPECT_EQ(g_sheetCallbacks[0].first, UINT(PSCB_PRECREATE));
    EXPECT_EQ(g_sheetCallbacks[0].second, nullptr);
    EXPECT_EQ(g_sheetCallbacks[1].first, UINT(PSCB_INITIALIZED));
    EXPECT_EQ(g_sheetCallbacks[1].second, v.handle);
    EXPECT_TRUE(g_preStyle & WS_SYSMENU);
    EXPECT_FALSE(sysMenu);  // the callback's change to the template took
    EXPECT_EQ(w().sheetsShown.at(0).owner, nullptr);
}

TEST_F(PropSheetTest, PagesNotGivenToASheetAreDestroyedByTheProgram) {
    g_pageCallbacks.clear();
    PROPSHEETPAGEA p = page(kWelcome, 0);
    p.dwFlags = PSP_USECALLBACK;
    p.pfnCallback = pageCallback;
    HPROPSHEETPAGE h = CreatePropertySheetPageA(&p);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(DestroyPropertySheetPage(h));
    EXPECT_FALSE(DestroyPropertySheetPage(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    ASSERT_EQ(g_pageCallbacks.size(), 2u);
    EXPECT_EQ(g_pageCallbacks[1].first, UINT(PSPCB_RELEASE));
    p.dwSize = 8;  // smaller than any version of the structure
    EXPECT_EQ(CreatePropertySheetPageA(&p), nullptr);
    EXPECT_EQ(w().livePropertySheetPages(), 0);
}

TEST_F(PropSheetTest, BadHeadersAndMissingTemplatesFailWithoutShowingAnything) {
    EXPECT_EQ(run({kWelcome, 999}), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(w().livePropertySheetPages(), 0);  // the pages made from the array are gone again
    EXPECT_EQ(run({}), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(run({kWelcome}, PSH_WIZARD | PSH_MODELESS), -1);
    PROPSHEETHEADERA h{};
    h.dwSize = 4;
    EXPECT_EQ(PropertySheetA(&h), -1);
    EXPECT_EQ(PropertySheetA(nullptr), -1);
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

// ---- window data -------------------------------------------------------------------------------

TEST_F(PropSheetTest, DialogDataAndWindowLongs) {
    LONG_PTR user = 0, userData = 0, missing = -7;
    DWORD missingError = 0;
    w().after(100, "probe", [&] {
        sim::SheetView v = w().sheetView();
        HWND page = v.pages[0];
        EXPECT_EQ(SetWindowLongPtrA(page, DWLP_USER, 0x1234), 0);
        user = GetWindowLongPtrA(page, DWLP_USER);
        EXPECT_EQ(GetWindowLongPtrA(page, DWLP_DLGPROC), reinterpret_cast<LONG_PTR>(pageProc));
        EXPECT_TRUE(GetWindowLongPtrA(page, GWL_STYLE) & WS_CHILD);
        EXPECT_FALSE(GetWindowLongPtrA(page, GWL_STYLE) & WS_DISABLED);
        SetWindowLongPtrA(owner, GWLP_USERDATA, 77);
        userData = GetWindowLongPtrA(owner, GWLP_USERDATA);
        // The owner is no dialog: it has no dialog data.
        missing = GetWindowLongPtrA(owner, DWLP_USER);
        missingError = GetLastError();
        EXPECT_TRUE(w().clickCancel());
    });
    run({kWelcome});
    EXPECT_EQ(user, 0x1234);
    EXPECT_EQ(userData, 77);
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(missingError, DWORD(ERROR_INVALID_INDEX));
    EXPECT_TRUE(w().dialogData.empty());  // gone with the windows
}

}  // namespace
