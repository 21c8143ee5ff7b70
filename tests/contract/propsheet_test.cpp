// The property-sheet wizard as the uninstall wizard runs it: pages from the
// program's templates, the notifications each page gets, what the pages'
// answers do, and the wizard's buttons. The tests press the buttons with the
// sheet's own message, posted as a user's click would arrive, so every sheet
// ends by itself; a guard timer cancels one that does not.
#include "contract.h"
#include "contract_resource.h"
#include "sheets_resource.h"

#include <commctrl.h>
#include <prsht.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The wizard's buttons, with the control ids the system gives them.
constexpr int kBack = 0x3023;
constexpr int kNext = 0x3024;
constexpr int kFinish = 0x3025;
// Posted by a test to a page: handled after everything queued before it.
constexpr UINT kLook = WM_APP + 1;
constexpr UINT kGuardMs = 10000;

// The notifications by their distance from PSN_FIRST.
const char* codeName(UINT code) {
    const char* const names[] = {"setactive", "kill", "apply",  "reset",  "?",
                                 "help",      "back", "next",   "finish", "querycancel"};
    return PSN_FIRST - code < std::size(names) ? names[PSN_FIRST - code] : "other";
}

// A page's answer to one notification ("<page> <notification>"), used once.
// `returnedOnly`: the page procedure returns it without DWLP_MSGRESULT.
struct Answer {
    std::string event;
    LRESULT value;
    bool returnedOnly = false;
};

// What one sheet's pages saw and do.
struct SheetRun {
    std::vector<std::string> seen;  // "<page> init", "<page> <notification>"
    std::vector<LPARAM> described;  // what each WM_INITDIALOG brought, in order
    std::vector<Answer> answers;    // unlisted notifications are answered 0
    std::function<void(HWND page, const std::string& event)> act;  // before answering
    std::function<void(HWND page)> look;                           // on kLook
    HWND sheet = nullptr;
    bool timedOut = false;
};
SheetRun* g_run = nullptr;

INT_PTR CALLBACK pageProc(HWND page, UINT msg, WPARAM, LPARAM lParam) {
    SheetRun& r = *g_run;
    if (msg == WM_INITDIALOG) {
        // The page's own copy of its description.
        const LPARAM index = reinterpret_cast<const PROPSHEETPAGEA*>(lParam)->lParam;
        r.described.push_back(lParam);
        SetWindowLongPtrA(page, DWLP_USER, index);
        r.seen.push_back(std::to_string(index) + " init");
        return TRUE;
    }
    if (msg == kLook) return r.look(page), TRUE;
    if (msg != WM_NOTIFY) return FALSE;
    const auto* n = reinterpret_cast<const PSHNOTIFY*>(lParam);
    EXPECT_EQ(UINT_PTR{0}, n->hdr.idFrom);
    r.sheet = n->hdr.hwndFrom;
    std::string event = std::to_string(GetWindowLongPtrA(page, DWLP_USER)) + " " + codeName(n->hdr.code);
    if (n->lParam) event += " " + std::to_string(n->lParam);
    r.seen.push_back(event);
    if (r.act && !r.timedOut) r.act(page, event);
    for (auto it = r.answers.begin(); it != r.answers.end() && !r.timedOut; ++it) {
        if (it->event != event) continue;
        const Answer a = *it;
        r.answers.erase(it);
        if (a.returnedOnly) return a.value;
        SetWindowLongPtrA(page, DWLP_MSGRESULT, a.value);
        return TRUE;
    }
    SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
    return TRUE;
}

// Something went wrong: every page accepts from now on and the sheet is cancelled.
void CALLBACK guardExpired(HWND, UINT, UINT_PTR, DWORD) {
    g_run->timedOut = true;
    if (g_run->sheet) PostMessageA(g_run->sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
}

// The wizard's buttons as a user sees them: those shown, "-" after a disabled one.
std::string buttons(HWND sheet) {
    std::string shown;
    const std::pair<int, const char*> row[] = {
        {kBack, "back"}, {kNext, "next"}, {kFinish, "finish"}, {IDCANCEL, "cancel"}};
    for (const auto& b : row) {
        const LONG_PTR style = GetWindowLongPtrA(GetDlgItem(sheet, b.first), GWL_STYLE);
        if (!(style & WS_VISIBLE)) continue;
        shown += std::string(shown.empty() ? "" : " ") + b.second + (style & WS_DISABLED ? "-" : "");
    }
    return shown;
}

std::string title(HWND window) {
    char text[64] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Beside the PSBTN_ values: WM_CLOSE, as the close box sends it.
constexpr WPARAM kClose = 100;

void post(HWND sheet, WPARAM button) {
    if (button == kClose) PostMessageA(sheet, WM_CLOSE, 0, 0);
    else PostMessageA(sheet, PSM_PRESSBUTTON, button, 0);
}

void CALLBACK pressNext(HWND page, UINT, UINT_PTR id, DWORD) {
    KillTimer(page, id);
    post(GetParent(page), PSBTN_NEXT);
}

class Wizard : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_run = &run_;
    }
    void TearDown() override { g_run = nullptr; }

    // Shows a wizard of pages made with CreatePropertySheetPageA, page i
    // from templates[i] with lParam i, until it closes.
    INT_PTR show(const std::vector<int>& templates, DWORD flags = PSH_WIZARD) {
        std::vector<HPROPSHEETPAGE> pages;
        for (size_t i = 0; i < templates.size(); ++i) {
            PROPSHEETPAGEA p = {};
            p.dwSize = sizeof p;
            p.hInstance = contract::testModule();
            p.pszTemplate = MAKEINTRESOURCEA(templates[i]);
            p.pfnDlgProc = pageProc;
            p.lParam = static_cast<LPARAM>(i);
            pages.push_back(CreatePropertySheetPageA(&p));
        }
        PROPSHEETHEADERA h = {};
        h.dwSize = sizeof h;
        h.dwFlags = flags;
        h.hInstance = contract::testModule();
        h.pszCaption = "Removal";
        h.nPages = static_cast<UINT>(pages.size());
        h.phpage = pages.data();
        return guarded(h);
    }

    INT_PTR guarded(const PROPSHEETHEADERA& header) {
        const UINT_PTR guard = SetTimer(nullptr, 0, kGuardMs, guardExpired);
        const INT_PTR result = PropertySheetA(&header);
        KillTimer(nullptr, guard);
        EXPECT_FALSE(run_.timedOut) << "the sheet was cancelled after " << kGuardMs << " ms";
        return result;
    }

    SheetRun run_;
};

// The uninstall wizard's own way: two pages from an array of first-version
// descriptions, Next on the first, and the second page hiding the sheet
// while it runs a program to its end from its activation, then Finish.
TEST_F(Wizard, TwoPagesFromChoicesToFinishWithTheSheetHiddenWhileWorking) {
    std::string initial;
    std::vector<std::string> notes;  // the sheet as the second page saw it
    auto note = [&](HWND sheet) {
        std::string shown = IsWindowVisible(sheet) ? "" : ", hidden";
        for (int i = 0; i < 2; ++i)
            if (IsWindowVisible(PropSheet_IndexToHwnd(sheet, i))) shown += ", page " + std::to_string(i) + " shown";
        notes.push_back(title(sheet) + ": " + buttons(sheet) + shown);
    };
    bool waited = false;
    const std::string child = contract::childCommand(0, 200);
    run_.act = [&](HWND page, const std::string& event) {
        HWND sheet = GetParent(page);
        if (event == "0 setactive") {
            initial = buttons(sheet);
            // Posted: the buttons change once this activation has returned.
            PropSheet_SetWizButtons(sheet, PSWIZB_NEXT);
            // The sheet's own loop runs the page's timer, which presses Next.
            SetTimer(page, 1, 50, pressNext);
        } else if (event == "1 setactive") {
            note(sheet);
            PropSheet_SetWizButtons(sheet, PSWIZB_FINISH);
            ShowWindow(sheet, SW_HIDE);
            note(sheet);
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process = {};
            std::vector<char> line(child.c_str(), child.c_str() + child.size() + 1);
            if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process)) {
                waited = WaitForSingleObject(process.hProcess, INFINITE) == WAIT_OBJECT_0;
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
            }
            ShowWindow(sheet, SW_SHOW);
            PostMessageA(page, kLook, 0, 0);
        }
    };
    run_.look = [&](HWND page) {
        note(GetParent(page));
        post(GetParent(page), PSBTN_FINISH);
    };
    // Handed over as the wizard's framework does: packed at the first
    // version's size, the first page with a title of its own.
    PROPSHEETPAGEA pages[2] = {};
    unsigned char packed[2 * sizeof(PROPSHEETPAGEA)];
    for (int i = 0; i < 2; ++i) {
        pages[i].dwSize = PROPSHEETPAGEA_V1_SIZE;
        pages[i].dwFlags = i == 0 ? PSP_USETITLE : PSP_DEFAULT;
        pages[i].hInstance = contract::testModule();
        pages[i].pszTemplate = MAKEINTRESOURCEA(i == 0 ? IDD_SHEET_CHOICES : IDD_SHEET_WORK);
        pages[i].pszTitle = "Removal wizard";
        pages[i].pfnDlgProc = pageProc;
        pages[i].lParam = i;
        std::memcpy(packed + i * PROPSHEETPAGEA_V1_SIZE, &pages[i], PROPSHEETPAGEA_V1_SIZE);
    }
    PROPSHEETHEADERA h = {};
    h.dwSize = PROPSHEETHEADERA_V1_SIZE;
    h.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD;
    h.hInstance = contract::testModule();
    h.pszCaption = "MyWizard1";
    h.nPages = 2;
    h.ppsp = reinterpret_cast<LPCPROPSHEETPAGEA>(packed);

    EXPECT_EQ(1, guarded(h));
    // Each page is made when it first becomes active; the hidden sheet told its pages nothing.
    EXPECT_EQ((std::vector<std::string>{"0 init", "0 setactive", "0 next", "0 kill", "1 init", "1 setactive",
                                        "1 finish"}),
              run_.seen);
    EXPECT_EQ("back next cancel", initial);
    // While the second page is activated: the first one's buttons and title
    // still, no page shown; then the second page's, Finish in place of Next.
    EXPECT_EQ((std::vector<std::string>{"Removal wizard: back- next cancel",
                                        "Removal wizard: back- next cancel, hidden",
                                        "Working: back- finish cancel, page 1 shown"}),
              notes);
    EXPECT_TRUE(waited);
    EXPECT_FALSE(IsWindow(run_.sheet));
}

// What a page's answer does: -1 stays, 0 goes on, a page's template id goes
// there; a page declining activation is passed over in the direction of
// travel; nonzero refuses Finish, Cancel and leaving the page. An answer
// only counts through DWLP_MSGRESULT.
TEST_F(Wizard, AnswersStayGoOnJumpOrRefuse) {
    // Before each press by default: the buttons that let it be pressed.
    constexpr DWORD kAsPressed = ~DWORD{0};
    constexpr WPARAM kNextPress = PSBTN_NEXT, kBackPress = PSBTN_BACK, kFinishPress = PSBTN_FINISH,
                     kCancelPress = PSBTN_CANCEL;
    struct Case {
        const char* what;
        std::vector<WPARAM> presses;
        std::vector<Answer> answers;
        std::vector<std::string> seen;  // after "0 init", "0 setactive"
        INT_PTR result;
        DWORD flags = PSH_WIZARD;
        UINT ask = 0;                // sent by the first page on its first activation
        DWORD enabled = kAsPressed;  // the wizard buttons set before each press
        std::vector<int> templates = {IDD_SHEET_CHOICES, IDD_SHEET_WORK, IDD_SHEET_DONE};
    };
    const Case cases[] = {
        {"Next refused, then taken; Back returns without a new init",
         {kNextPress, kNextPress, kBackPress, kCancelPress}, {{"0 next", -1}},
         {"0 next", "0 next", "0 kill", "1 init", "1 setactive", "1 back", "1 kill", "0 setactive", "0 querycancel",
          "0 reset", "1 reset"}, 0},
        {"Next jumps to a page by its template id; Back goes to the page before it",
         {kNextPress, kBackPress, kCancelPress}, {{"0 next", IDD_SHEET_DONE}},
         {"0 next", "0 kill", "2 init", "2 setactive", "2 back", "2 kill", "1 init", "1 setactive", "1 querycancel",
          "0 reset", "1 reset", "2 reset"}, 0},
        {"a value returned without DWLP_MSGRESULT is no answer", {kNextPress, kCancelPress},
         {{"0 next", IDD_SHEET_DONE, true}},
         {"0 next", "0 kill", "1 init", "1 setactive", "1 querycancel", "0 reset", "1 reset"}, 0},
        {"a page declining activation is passed over both ways", {kNextPress, kBackPress, kCancelPress},
         {{"1 setactive", -1}, {"1 setactive", -1}},
         {"0 next", "0 kill", "1 init", "1 setactive", "2 init", "2 setactive", "2 back", "2 kill", "1 setactive",
          "0 setactive", "0 querycancel", "0 reset", "1 reset", "2 reset"}, 0},
        {"leaving refused by the page", {kNextPress, kNextPress, kCancelPress}, {{"0 kill", TRUE}},
         {"0 next", "0 kill", "0 next", "0 kill", "1 init", "1 setactive", "1 querycancel", "0 reset", "1 reset"}, 0},
        {"Finish refused, then taken", {kFinishPress, kFinishPress}, {{"0 finish", TRUE}}, {"0 finish", "0 finish"}, 1},
        {"Cancel refused, then taken", {kCancelPress, kCancelPress}, {{"0 querycancel", TRUE}},
         {"0 querycancel", "0 querycancel", "0 reset"}, 0},
        {"a disabled Next pressed through the message", {kNextPress, kCancelPress}, {},
         {"0 next", "0 kill", "1 init", "1 setactive", "1 querycancel", "0 reset", "1 reset"}, 0, PSH_WIZARD, 0, 0},
        {"a hidden Finish pressed through the message", {kFinishPress}, {}, {"0 finish"}, 1, PSH_WIZARD, 0,
         PSWIZB_NEXT},
        {"a page whose template is missing is left out", {kNextPress, kCancelPress}, {},
         {"0 next", "0 kill", "2 init", "2 setactive", "2 querycancel", "0 reset", "2 reset"}, 0, PSH_WIZARD, 0,
         kAsPressed, {IDD_SHEET_CHOICES, 399, IDD_SHEET_DONE}},
        {"the close box", {kClose}, {}, {"0 querycancel", "0 reset 1"}, 0},
        {"restart asked for, then Finish", {kFinishPress}, {}, {"0 finish"}, ID_PSRESTARTWINDOWS, PSH_WIZARD,
         PSM_RESTARTWINDOWS},
        {"restart asked for, then Cancel", {kCancelPress}, {}, {"0 querycancel", "0 reset"}, ID_PSRESTARTWINDOWS,
         PSH_WIZARD, PSM_RESTARTWINDOWS},
        {"a plain sheet: OK applies every page made", {PSBTN_OK}, {}, {"0 kill", "0 apply 1"}, 1, PSH_NOAPPLYNOW},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run_ = SheetRun();
        run_.answers = c.answers;
        run_.act = [&c](HWND page, const std::string& event) {
            if (event != "0 setactive" || g_run->seen.size() != 2) return;
            // Every press queued at once, each behind the buttons it needs.
            HWND sheet = GetParent(page);
            if (c.ask) SendMessageA(sheet, c.ask, 0, 0);
            for (WPARAM press : c.presses) {
                if (c.enabled != kAsPressed) PropSheet_SetWizButtons(sheet, c.enabled);
                else if (press == kFinishPress) PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_FINISH);
                else if (press == kNextPress || press == kBackPress)
                    PropSheet_SetWizButtons(sheet, PSWIZB_BACK | PSWIZB_NEXT);
                post(sheet, press);
            }
        };
        std::vector<std::string> seen = {"0 init", "0 setactive"};
        seen.insert(seen.end(), c.seen.begin(), c.seen.end());
        EXPECT_EQ(c.result, show(c.templates, c.flags));
        EXPECT_EQ(seen, run_.seen);
    }
}

// PSM_SETWIZBUTTONS: which buttons show and which are enabled, also with
// Finish always shown; then PSM_SETFINISHTEXT.
TEST_F(Wizard, WizardButtonsFollowTheirFlags) {
    struct Case {
        DWORD flags;
        const char* shown;
        const char* withFinish;  // PSH_WIZARDHASFINISH: Finish enabled unless disabled outright
    };
    const Case cases[] = {
        {PSWIZB_BACK | PSWIZB_NEXT, "back next cancel", "back next finish cancel"},
        {PSWIZB_NEXT, "back- next cancel", "back- next finish cancel"},
        {0, "back- next- cancel", "back- next- finish cancel"},
        {PSWIZB_FINISH, "back- finish cancel", "back- next- finish cancel"},
        {PSWIZB_BACK | PSWIZB_FINISH, "back finish cancel", "back next- finish cancel"},
        {PSWIZB_NEXT | PSWIZB_FINISH, "back- finish cancel", "back- next finish cancel"},
        {PSWIZB_DISABLEDFINISH, "back- finish- cancel", "back- next- finish- cancel"},
        {PSWIZB_BACK | PSWIZB_FINISH | PSWIZB_DISABLEDFINISH, "back finish- cancel", "back next- finish- cancel"},
    };
    for (DWORD header : {DWORD{PSH_WIZARD}, DWORD{PSH_WIZARD | PSH_WIZARDHASFINISH}}) {
        const bool hasFinish = (header & PSH_WIZARDHASFINISH) != 0;
        std::vector<std::string> shown;
        std::string afterFinishText;
        run_ = SheetRun();
        run_.act = [](HWND page, const std::string& event) {
            if (event == "0 setactive") PostMessageA(page, kLook, 0, 0);
        };
        run_.look = [&](HWND page) {
            HWND sheet = GetParent(page);
            // Sent, the message takes effect at once.
            for (const Case& c : cases) {
                SendMessageA(sheet, PSM_SETWIZBUTTONS, 0, c.flags);
                shown.push_back(buttons(sheet));
            }
            SendMessageA(sheet, PSM_SETFINISHTEXTA, 0, reinterpret_cast<LPARAM>("Close"));
            afterFinishText = buttons(sheet) + ", " + title(GetDlgItem(sheet, kFinish));
            post(sheet, PSBTN_CANCEL);
        };
        EXPECT_EQ(0, show({IDD_SHEET_CHOICES}, header));
        ASSERT_EQ(std::size(cases), shown.size());
        for (size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(hasFinish ? cases[i].withFinish : cases[i].shown, shown[i]) << header << " " << cases[i].flags;
        EXPECT_EQ(hasFinish ? "next- finish cancel, Close" : "finish cancel, Close", afterFinishText);
    }
}

// Pages made with CreatePropertySheetPageA: each keeps a copy of the whole
// structure, data appended to it too, and calls back as it is made, shown
// and let go; the sheet calls back before it exists, when it may still
// change its template, and once it does.
// (PSP_USEREFPARENT is left out: Wine does not keep that count.)
struct AppPage {
    PROPSHEETPAGEA psp;
    char marker[16];
};
std::vector<std::string> g_callbacks;

UINT CALLBACK pageCallback(HWND window, UINT msg, PROPSHEETPAGEA* psp) {
    const char* what[] = {"addref", "release", "create"};
    g_callbacks.push_back(std::to_string(psp->lParam) + " " + (msg <= PSPCB_CREATE ? what[msg] : "?") +
                          (window ? " window" : ""));
    return 1;
}

int CALLBACK sheetCallback(HWND window, UINT msg, LPARAM lParam) {
    if (msg == PSCB_PRECREATE) {
        // A DLGTEMPLATE, or a DLGTEMPLATEEX (its second word 0xFFFF) with the style further on.
        auto* words = reinterpret_cast<WORD*>(lParam);
        auto* style = reinterpret_cast<DWORD*>(words[1] == 0xFFFF ? words + 6 : words);
        g_callbacks.push_back(*style & WS_SYSMENU ? "precreate sysmenu" : "precreate");
        *style &= ~static_cast<DWORD>(WS_SYSMENU);
    }
    if (msg == PSCB_INITIALIZED) g_callbacks.push_back(window ? "initialized window" : "initialized");
    return 0;
}

TEST_F(Wizard, PagesKeepACopyOfTheirDescriptionAndCallBack) {
    g_callbacks.clear();
    AppPage app[2] = {};
    HPROPSHEETPAGE pages[2] = {};
    for (int i = 0; i < 2; ++i) {
        app[i].psp.dwSize = sizeof(AppPage);
        app[i].psp.dwFlags = PSP_USECALLBACK | PSP_USETITLE;
        app[i].psp.hInstance = contract::testModule();
        app[i].psp.pszTemplate = MAKEINTRESOURCEA(i == 0 ? IDD_SHEET_CHOICES : IDD_SHEET_WORK);
        app[i].psp.pszTitle = i == 0 ? "Start" : MAKEINTRESOURCEA(IDS_CONTRACT_SHORT);
        app[i].psp.pfnDlgProc = pageProc;
        app[i].psp.lParam = i;
        app[i].psp.pfnCallback = pageCallback;
        lstrcpyA(app[i].marker, "as made");
        pages[i] = CreatePropertySheetPageA(&app[i].psp);
        ASSERT_NE(nullptr, pages[i]);
    }
    lstrcpyA(app[0].marker, "changed");

    std::vector<std::string> titles;
    std::string copy;
    bool sysMenu = true;
    LONG_PTR pageStyle = 0, procOfPage = 0;
    run_.act = [](HWND page, const std::string& event) {
        if (event == "0 setactive" || event == "1 setactive") PostMessageA(page, kLook, 0, 0);
    };
    run_.look = [&](HWND page) {
        HWND sheet = GetParent(page);
        titles.push_back(title(sheet));
        if (GetWindowLongPtrA(page, DWLP_USER) == 1) return post(sheet, PSBTN_CANCEL);
        // The copy WM_INITDIALOG brought lives as long as the page.
        const auto* given = reinterpret_cast<const AppPage*>(run_.described.at(0));
        copy = std::string(given != &app[0] ? "a copy " : "the same ") + given->marker;
        pageStyle = GetWindowLongPtrA(page, GWL_STYLE);
        procOfPage = GetWindowLongPtrA(page, DWLP_DLGPROC);
        sysMenu = (GetWindowLongPtrA(sheet, GWL_STYLE) & WS_SYSMENU) != 0;
        post(sheet, PSBTN_NEXT);
    };
    PROPSHEETHEADERA h = {};
    h.dwSize = sizeof h;
    h.dwFlags = PSH_WIZARD | PSH_USECALLBACK;
    h.hInstance = contract::testModule();
    h.pszCaption = "Removal";
    h.nPages = 2;
    h.phpage = pages;
    h.pfnCallback = sheetCallback;
    EXPECT_EQ(0, guarded(h));

    EXPECT_EQ((std::vector<std::string>{"0 addref", "1 addref", "precreate sysmenu", "initialized window", "0 create",
                                        "1 create", "0 release", "1 release"}),
              g_callbacks);
    EXPECT_EQ("a copy as made", copy);
    EXPECT_EQ((std::vector<std::string>{"Start", "Tuner"}), titles);  // a title may name a string
    EXPECT_FALSE(sysMenu);
    EXPECT_TRUE(pageStyle & WS_CHILD);
    EXPECT_FALSE(pageStyle & WS_DISABLED);  // though its template says so
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(pageProc), procOfPage);

    // A page no sheet took is the program's to destroy; one of the first
    // version's size gets no PSPCB_ADDREF; a smaller one is refused.
    g_callbacks.clear();
    app[0].psp.dwSize = PROPSHEETPAGEA_V1_SIZE;
    HPROPSHEETPAGE alone = CreatePropertySheetPageA(&app[0].psp);
    ASSERT_NE(nullptr, alone);
    EXPECT_TRUE(DestroyPropertySheetPage(alone));
    EXPECT_EQ((std::vector<std::string>{"0 release"}), g_callbacks);
    app[0].psp.dwSize = PROPSHEETPAGEA_V1_SIZE - 1;
    EXPECT_EQ(nullptr, CreatePropertySheetPageA(&app[0].psp));
}

}  // namespace
