// Property sheets and wizards (comctl32's PropertySheetA), their pages, and
// the window data a dialog procedure answers through (SetWindowLongPtr).
//
// PropertySheetA reads every page's dialog template first (the sheet is as
// large as its largest page), creates the sheet window with its buttons,
// activates the start page and runs a modal loop that keeps dispatching the
// program's timers and posted messages. Pages are dialogs made from their
// templates in the page's module when first activated (WM_INITDIALOG carries
// the page's copy of its PROPSHEETPAGEA); they are children of the sheet.
//
// The sheet talks to the active page with WM_NOTIFY (a PSHNOTIFY from the
// sheet, idFrom 0). A page answers through DWLP_MSGRESULT alone: 0 goes on,
// -1 stays, a page's resource id goes to that page. Wizard moves send
// PSN_WIZNEXT or PSN_WIZBACK to the page, then PSN_KILLACTIVE, hide it, then
// send PSN_SETACTIVE to the new one (-1 there skips it, in the direction of
// travel), which shows once it accepted. Finish sends PSN_WIZFINISH; Cancel
// sends PSN_QUERYCANCEL to the active page and then PSN_RESET to every page
// created.
//
// Wizard buttons start as Back and Next enabled; PSM_SETWIZBUTTONS changes
// them, and PSWIZB_FINISH or PSWIZB_DISABLEDFINISH shows Finish in place of
// Next (beside it with PSH_WIZARDHASFINISH, where Finish is enabled unless
// PSWIZB_DISABLEDFINISH says otherwise).
#include <sim/world.h>
#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using sim::Window;
using sim::world;

namespace {

constexpr const char* kButtonClass = "BUTTON";
// The sheet's own buttons, with the control ids the platform gives them.
constexpr int kApplyId = 0x3021;
constexpr int kBackId = 0x3023;
constexpr int kNextId = 0x3024;
constexpr int kFinishId = 0x3025;
// Wizard buttons before any PSM_SETWIZBUTTONS.
constexpr DWORD kInitialWizardButtons = PSWIZB_BACK | PSWIZB_NEXT;
// A page structure larger than this is refused rather than copied.
constexpr DWORD kMaxPageSize = 0x10000;
// HPROPSHEETPAGE values: counted from here, aligned as the system's are.
constexpr uintptr_t kFirstPageHandle = 0x5F0010;
constexpr uintptr_t kPageHandleStep = 4;
// Sheet layout, in dialog units: margins around the pages and the button row.
constexpr int kMargin = 7;
constexpr int kButtonCx = 50;
constexpr int kButtonCy = 14;
constexpr int kButtonGap = 4;
// What the sheet's template says before PSCB_PRECREATE may change it.
constexpr DWORD kSheetStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT | DS_CENTER;
constexpr DWORD kSheetExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
// What comctl32 takes off and puts on a page's template: a page is an
// enabled child control parent (page templates are often written disabled).
constexpr DWORD kPageStyleRemoved =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | DS_MODALFRAME | WS_VISIBLE | WS_DISABLED;
constexpr DWORD kPageStyleAdded = WS_CHILD | DS_CONTROL | DS_3DLOOK;

uintptr_t key(const void* h) { return reinterpret_cast<uintptr_t>(h); }

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

// The key a dialog template is stored under, as dialogs.cpp stores them.
std::string templateKey(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(LOWORD(name));
    std::string text(name);
    if (text.size() > 1 && text[0] == '#' &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::to_string(std::atoi(text.c_str() + 1));
    return upper(text);
}

// A title or caption: a string, or the id of a string in `instance`'s table.
std::string resourceText(LPCSTR s, HINSTANCE instance) {
    if (!s) return "";
    if (!IS_INTRESOURCE(s)) return s;
    sim::Module* m = world().module(instance);
    if (!m) return "";
    auto it = m->strings.find(LOWORD(s));
    return it == m->strings.end() ? "" : it->second;
}

const char* notificationName(UINT code) {
    switch (code) {
    case PSN_SETACTIVE: return "PSN_SETACTIVE";
    case PSN_KILLACTIVE: return "PSN_KILLACTIVE";
    case PSN_APPLY: return "PSN_APPLY";
    case PSN_RESET: return "PSN_RESET";
    case PSN_HELP: return "PSN_HELP";
    case PSN_WIZBACK: return "PSN_WIZBACK";
    case PSN_WIZNEXT: return "PSN_WIZNEXT";
    case PSN_WIZFINISH: return "PSN_WIZFINISH";
    case PSN_QUERYCANCEL: return "PSN_QUERYCANCEL";
    default: return "PSN_?";
    }
}

bool enabled(const Window& w) { return (w.style & WS_DISABLED) == 0; }

// A message from the system to a window of the program: no call log entry.
LRESULT deliver(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = world().window(h);
    if (!w || w->foreign || !w->proc) return 0;
    return w->proc(h, msg, wParam, lParam);
}

HWND findChild(HWND parent, int id) { return world().childById(parent, id); }

HWND firstTabStop(HWND dialog) { return world().firstTabStop(dialog); }

bool isCheckBox(const Window& w) {
    if (upper(w.className) != kButtonClass) return false;
    switch (w.style & BS_TYPEMASK) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return true;
    default:
        return false;
    }
}

}  // namespace

namespace sim {

// A page CreatePropertySheetPageA made: the caller's structure copied whole
// (dwSize bytes, so data a program appends to it travels with the page).
struct PageObject {
    std::vector<unsigned char> bytes;
    HWND sheet = nullptr;  // the sheet that owns it, while one does
    PROPSHEETPAGEA* page() { return reinterpret_cast<PROPSHEETPAGEA*>(bytes.data()); }
};

struct SheetPage {
    uintptr_t object = 0;  // key in SheetLedger::pages
    DialogTemplate dialog;
    std::string templateName;  // the template's key: "101", or a name in capitals
    std::string title;
    HWND window = nullptr;     // once created
};

struct LiveSheet {
    HWND window = nullptr;
    HWND owner = nullptr;
    bool disabledOwner = false;
    uint64_t modal = 0;
    size_t record = 0;
    size_t firstCall = 0;  // the call log's length when the sheet opened
    DWORD flags = 0;
    bool wizard = false;
    HINSTANCE instance = nullptr;
    std::string caption;
    std::vector<SheetPage> pages;
    int active = -1;
    DWORD buttons = kInitialWizardButtons;
    bool finishTextShown = false;  // PSM_SETFINISHTEXT: Finish alone
    bool cancelToClose = false;
    bool changed = false;
    INT_PTR restart = 0;  // ID_PSRESTARTWINDOWS or ID_PSREBOOTSYSTEM, once asked for
    bool ended = false;
    INT_PTR result = 0;
};

struct PageWindow {
    HWND sheet;
    DLGPROC proc;
};

struct SheetLedger {
    std::map<uintptr_t, std::unique_ptr<PageObject>> pages;  // by HPROPSHEETPAGE
    uintptr_t nextPage = kFirstPageHandle;
    std::map<uintptr_t, std::unique_ptr<LiveSheet>> sheets;  // by sheet window
    std::map<uintptr_t, PageWindow> pageWindows;             // by page window
};

}  // namespace sim

namespace {

sim::SheetLedger& ledger() {
    sim::World& wd = world();
    if (!wd.sheetLedger) wd.sheetLedger = std::make_shared<sim::SheetLedger>();
    return *wd.sheetLedger;
}

sim::LiveSheet* sheetOf(HWND h) {
    auto& sheets = ledger().sheets;
    auto it = sheets.find(key(h));
    return it == sheets.end() ? nullptr : it->second.get();
}

sim::PageObject* pageObject(uintptr_t h) {
    auto& pages = ledger().pages;
    auto it = pages.find(h);
    return it == pages.end() ? nullptr : it->second.get();
}

// Makes a page object from the caller's structure; 0 when it is unusable.
uintptr_t makePage(const PROPSHEETPAGEA* page) {
    sim::World& wd = world();
    if (!page || page->dwSize < PROPSHEETPAGEA_V1_SIZE || page->dwSize > kMaxPageSize) {
        wd.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // In-memory templates are not simulated: every page comes from a resource script.
    if (page->dwFlags & PSP_DLGINDIRECT) {
        wd.lastError = ERROR_CALL_NOT_IMPLEMENTED;
        return 0;
    }
    auto object = std::make_unique<sim::PageObject>();
    const auto* raw = reinterpret_cast<const unsigned char*>(page);
    object->bytes.assign(raw, raw + page->dwSize);
    PROPSHEETPAGEA* copy = object->page();
    sim::SheetLedger& l = ledger();
    uintptr_t h = l.nextPage;
    l.nextPage += kPageHandleStep;
    l.pages[h] = std::move(object);
    if ((copy->dwFlags & PSP_USEREFPARENT) && copy->pcRefParent) ++*copy->pcRefParent;
    // PSPCB_ADDREF came with the structure's later versions: a first-version page does not get it.
    if ((copy->dwFlags & PSP_USECALLBACK) && copy->pfnCallback && copy->dwSize > PROPSHEETPAGEA_V1_SIZE)
        copy->pfnCallback(nullptr, PSPCB_ADDREF, copy);
    return h;
}

void releasePage(uintptr_t h) {
    sim::PageObject* object = pageObject(h);
    if (!object) return;
    PROPSHEETPAGEA* page = object->page();
    if ((page->dwFlags & PSP_USECALLBACK) && page->pfnCallback) page->pfnCallback(nullptr, PSPCB_RELEASE, page);
    if ((page->dwFlags & PSP_USEREFPARENT) && page->pcRefParent && *page->pcRefParent) --*page->pcRefParent;
    ledger().pages.erase(h);
}

// ---- notifications ----------------------------------------------------------------------------

LRESULT notify(sim::LiveSheet& s, int index, UINT code, LPARAM extra = 0) {
    if (index < 0 || index >= static_cast<int>(s.pages.size()) || !s.pages[index].window) return 0;
    HWND page = s.pages[index].window;
    PSHNOTIFY n{};
    n.hdr.hwndFrom = s.window;
    n.hdr.idFrom = 0;
    n.hdr.code = code;
    n.lParam = extra;
    LRESULT answer = deliver(page, WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
    world().log("PropSheetNotify", sim::handleText(page) + " " + notificationName(code) +
                                       " answer=" + std::to_string(static_cast<long long>(answer)));
    return answer;
}

// The page an answer names: its template's resource id, or the very
// template name the page was made with.
int pageNamed(const sim::LiveSheet& s, LRESULT answer) {
    for (size_t i = 0; i < s.pages.size(); ++i) {
        sim::PageObject* o = pageObject(s.pages[i].object);
        if (o && reinterpret_cast<LRESULT>(o->page()->pszTemplate) == answer) return static_cast<int>(i);
        if (IS_INTRESOURCE(answer) && s.pages[i].templateName == std::to_string(LOWORD(answer)))
            return static_cast<int>(i);
    }
    return -1;
}

// ---- buttons and title ------------------------------------------------------------------------

void setButton(HWND sheet, int id, bool shown, bool on, const char* text = nullptr) {
    Window* b = world().window(findChild(sheet, id));
    if (!b) return;
    b->visible = shown;
    if (on) b->style &= ~static_cast<DWORD>(WS_DISABLED);
    else b->style |= WS_DISABLED;
    if (text) b->title = text;
}

bool activePageHasHelp(sim::LiveSheet& s) {
    if (s.active < 0) return false;
    sim::PageObject* o = pageObject(s.pages[s.active].object);
    return o && (o->page()->dwFlags & PSP_HASHELP);
}

void layoutButtons(sim::LiveSheet& s) {
    setButton(s.window, IDHELP, true, activePageHasHelp(s));
    if (!s.wizard) {
        setButton(s.window, IDOK, true, true);
        setButton(s.window, IDCANCEL, true, !s.cancelToClose);
        setButton(s.window, kApplyId, true, s.changed);
        return;
    }
    const bool finishInPlace = (s.buttons & (PSWIZB_FINISH | PSWIZB_DISABLEDFINISH)) != 0;
    const bool alwaysFinish = (s.flags & PSH_WIZARDHASFINISH) != 0;
    const bool finishOn = (s.buttons & PSWIZB_FINISH || alwaysFinish) && !(s.buttons & PSWIZB_DISABLEDFINISH);
    setButton(s.window, kBackId, !s.finishTextShown, (s.buttons & PSWIZB_BACK) != 0);
    setButton(s.window, kNextId, alwaysFinish || (!s.finishTextShown && !finishInPlace), (s.buttons & PSWIZB_NEXT) != 0);
    setButton(s.window, kFinishId, s.finishTextShown || finishInPlace || alwaysFinish, s.finishTextShown || finishOn);
    setButton(s.window, IDCANCEL, true, !s.cancelToClose);
}

// A wizard shows the active page's title; a sheet its caption.
void updateTitle(sim::LiveSheet& s) {
    Window* w = world().window(s.window);
    if (!w) return;
    std::string title = s.caption;
    if (s.wizard && s.active >= 0 && !s.pages[s.active].title.empty()) title = s.pages[s.active].title;
    w->title = title;
}

// ---- pages ------------------------------------------------------------------------------------

LRESULT CALLBACK pageWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

bool createPage(sim::LiveSheet& s, int index) {
    sim::World& wd = world();
    sim::SheetPage& p = s.pages[index];
    if (p.window) return true;
    sim::PageObject* object = pageObject(p.object);
    if (!object) return false;
    PROPSHEETPAGEA* page = object->page();
    if ((page->dwFlags & PSP_USECALLBACK) && page->pfnCallback && !page->pfnCallback(nullptr, PSPCB_CREATE, page))
        return false;
    sim::DialogTemplate t = p.dialog;
    t.style = (t.style & ~kPageStyleRemoved) | kPageStyleAdded;
    const HWND sheet = s.window;
    const DLGPROC proc = page->pfnDlgProc;
    HWND h = wd.createDialogWindow(page->hInstance, t, sheet, true, pageWindowProc, [sheet, proc](HWND created) {
        ledger().pageWindows[key(created)] = sim::PageWindow{sheet, proc};
    });
    s.pages[index].window = h;
    if (t.style & DS_SETFONT) deliver(h, WM_SETFONT, reinterpret_cast<WPARAM>(wd.dialogFont()), FALSE);
    deliver(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop(h)), reinterpret_cast<LPARAM>(page));
    return wd.window(h) != nullptr;
}

void showPage(sim::LiveSheet& s, int index) {
    sim::World& wd = world();
    if (s.active >= 0 && s.active != index)
        if (Window* old = wd.window(s.pages[s.active].window)) old->visible = false;
    if (Window* w = wd.window(s.pages[index].window)) w->visible = true;
    s.active = index;
    updateTitle(s);
    layoutButtons(s);
    if (s.record < wd.sheetsShown.size()) wd.sheetsShown[s.record].pagesShown.push_back(index);
}

// Activates the page at `index`, or the first one after it in `direction`
// that accepts PSN_SETACTIVE. False when none does (the active page stays).
bool activate(sim::LiveSheet& s, int index, int direction) {
    const int count = static_cast<int>(s.pages.size());
    // The page that let go is hidden before another one hears PSN_SETACTIVE.
    Window* old = s.active >= 0 ? world().window(s.pages[s.active].window) : nullptr;
    const bool oldShown = old && old->visible;
    if (old) old->visible = false;
    for (int tries = 0; tries <= count && index >= 0 && index < count; ++tries) {
        if (!createPage(s, index)) {
            index += direction;
            continue;
        }
        LRESULT answer = notify(s, index, PSN_SETACTIVE);
        if (answer == -1) {
            index += direction;
            continue;
        }
        int named = answer == 0 ? index : pageNamed(s, answer);
        if (named < 0 || named == index) {
            showPage(s, index);
            return true;
        }
        index = named;
    }
    if (old && world().window(s.pages[s.active].window) == old) old->visible = oldShown;
    return false;
}

bool selectPage(sim::LiveSheet& s, int index) {
    if (index < 0 || index >= static_cast<int>(s.pages.size())) return false;
    if (index == s.active) return true;
    if (notify(s, s.active, PSN_KILLACTIVE) != 0) return false;
    return activate(s, index, index < s.active ? -1 : 1);
}

// ---- the user's buttons -----------------------------------------------------------------------

void close(sim::LiveSheet& s, INT_PTR result) {
    s.ended = true;
    s.result = result;
    if (Window* w = world().window(s.window)) w->visible = false;
    if (sim::Modal* m = world().findModal(s.modal)) {
        m->result = result;
        m->ended = true;
    }
}

void move(sim::LiveSheet& s, UINT code, int direction) {
    if (!s.wizard || s.active < 0) return;
    const int from = s.active;
    LRESULT answer = notify(s, from, code);
    if (answer == -1) return;
    int target = answer == 0 ? from + direction : pageNamed(s, answer);
    if (target < 0 || target >= static_cast<int>(s.pages.size()) || target == from) return;
    if (notify(s, from, PSN_KILLACTIVE) != 0) return;
    activate(s, target, direction);
}

void finish(sim::LiveSheet& s) {
    if (notify(s, s.active, PSN_WIZFINISH) != 0) return;
    close(s, s.restart ? s.restart : 1);
}

// A restart asked for is reported even when the user cancels.
void cancel(sim::LiveSheet& s, bool closeBox) {
    if (notify(s, s.active, PSN_QUERYCANCEL) != 0) return;
    for (size_t i = 0; i < s.pages.size(); ++i) notify(s, static_cast<int>(i), PSN_RESET, closeBox ? TRUE : FALSE);
    close(s, s.restart);
}

// OK on a sheet: the active page lets go, every page created applies.
void applyAll(sim::LiveSheet& s, bool closing) {
    if (notify(s, s.active, PSN_KILLACTIVE) != 0) return;
    for (size_t i = 0; i < s.pages.size(); ++i)
        if (notify(s, static_cast<int>(i), PSN_APPLY, closing ? TRUE : FALSE) != PSNRET_NOERROR) return;
    s.changed = false;
    layoutButtons(s);
    if (closing) close(s, s.restart ? s.restart : 1);
}

void press(sim::LiveSheet& s, int id) {
    switch (id) {
    case kBackId: move(s, PSN_WIZBACK, -1); break;
    case kNextId: move(s, PSN_WIZNEXT, 1); break;
    case kFinishId: finish(s); break;
    case IDOK: applyAll(s, true); break;
    case kApplyId: applyAll(s, false); break;
    case IDCANCEL: cancel(s, false); break;
    case IDHELP: notify(s, s.active, PSN_HELP); break;
    default: break;
    }
}

int buttonFor(WPARAM psbtn) {
    switch (psbtn) {
    case PSBTN_BACK: return kBackId;
    case PSBTN_NEXT: return kNextId;
    case PSBTN_FINISH: return kFinishId;
    case PSBTN_OK: return IDOK;
    case PSBTN_APPLYNOW: return kApplyId;
    case PSBTN_CANCEL: return IDCANCEL;
    case PSBTN_HELP: return IDHELP;
    default: return 0;
    }
}

// A click on one of the sheet's buttons through the button's own procedure:
// nothing happens unless it is shown and enabled.
bool clickButton(HWND sheet, int id) {
    Window* b = world().window(findChild(sheet, id));
    if (!b || !b->visible || !enabled(*b)) return false;
    deliver(b->handle, BM_CLICK, 0, 0);
    return true;
}

int indexOfWindow(const sim::LiveSheet& s, HWND page) {
    for (size_t i = 0; i < s.pages.size(); ++i)
        if (page && s.pages[i].window == page) return static_cast<int>(i);
    return -1;
}

LRESULT sheetMessage(sim::LiveSheet& s, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) press(s, LOWORD(wParam));
        return 0;
    case WM_CLOSE: {
        // The close box is Cancel, while Cancel is enabled.
        Window* c = world().window(findChild(s.window, IDCANCEL));
        if (c && enabled(*c)) cancel(s, true);
        return 0;
    }
    case PSM_SETWIZBUTTONS:
        s.buttons = static_cast<DWORD>(lParam);
        s.finishTextShown = false;
        layoutButtons(s);
        return 0;
    case PSM_PRESSBUTTON:
        // The program's press acts even on a button the user could not click.
        press(s, buttonFor(wParam));
        return 0;
    case PSM_SETFINISHTEXTA:
        s.finishTextShown = true;
        layoutButtons(s);
        if (Window* f = world().window(findChild(s.window, kFinishId))) f->title = resourceText(reinterpret_cast<LPCSTR>(lParam), s.instance);
        return 0;
    case PSM_SETCURSEL: {
        int index = static_cast<int>(wParam);
        if (lParam)
            for (size_t i = 0; i < s.pages.size(); ++i)
                if (s.pages[i].object == static_cast<uintptr_t>(lParam)) index = static_cast<int>(i);
        return selectPage(s, index) ? TRUE : FALSE;
    }
    case PSM_SETCURSELID:
        return selectPage(s, pageNamed(s, lParam)) ? TRUE : FALSE;
    case PSM_SETTITLEA:
        s.caption = resourceText(reinterpret_cast<LPCSTR>(lParam), s.instance);
        updateTitle(s);
        return 0;
    case PSM_GETCURRENTPAGEHWND:
        return s.active < 0 ? 0 : reinterpret_cast<LRESULT>(s.pages[s.active].window);
    case PSM_HWNDTOINDEX:
        return indexOfWindow(s, reinterpret_cast<HWND>(wParam));
    case PSM_INDEXTOHWND:
        return wParam < s.pages.size() ? reinterpret_cast<LRESULT>(s.pages[wParam].window) : 0;
    case PSM_IDTOINDEX:
        return pageNamed(s, lParam);
    case PSM_INDEXTOID:
        return wParam < s.pages.size() ? s.pages[wParam].dialog.id : 0;
    case PSM_CHANGED:
        s.changed = true;
        layoutButtons(s);
        return 0;
    case PSM_UNCHANGED:
        return 0;
    case PSM_RESTARTWINDOWS:
        s.restart |= ID_PSRESTARTWINDOWS;
        return 0;
    case PSM_REBOOTSYSTEM:
        s.restart |= ID_PSREBOOTSYSTEM;
        return 0;
    case PSM_CANCELTOCLOSE:
        s.cancelToClose = true;
        layoutButtons(s);
        setButton(s.window, IDOK, !s.wizard, !s.wizard, "Close");
        return 0;
    default:
        return world().defaultDialogMessage(s.window, msg, wParam, lParam);
    }
}

LRESULT CALLBACK sheetWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::LiveSheet* s = sheetOf(h);
    if (!s || s->ended) return world().defaultDialogMessage(h, msg, wParam, lParam);
    return sheetMessage(*s, msg, wParam, lParam);
}

// A page's window: its dialog procedure, then the dialog manager. A handled
// notification answers with DWLP_MSGRESULT when the procedure set it, else
// 0: the value the procedure returns only says it handled the notification.
LRESULT CALLBACK pageWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    auto pw = ledger().pageWindows.find(key(h));
    if (pw == ledger().pageWindows.end()) return 0;
    DLGPROC proc = pw->second.proc;
    wd.dialogData[key(h)].msgResultSet = false;
    INT_PTR handled = proc ? proc(h, msg, wParam, lParam) : FALSE;
    if (handled && msg != WM_NCDESTROY) {
        auto data = wd.dialogData.find(key(h));
        if (data != wd.dialogData.end() && data->second.msgResultSet) return data->second.msgResult;
        return msg == WM_NOTIFY ? 0 : handled;
    }
    return wd.defaultDialogMessage(h, msg, wParam, lParam);
}

// ---- the sheet window -------------------------------------------------------------------------

void addButton(sim::DialogTemplate& t, int id, const char* text, int x, int y) {
    sim::DialogControl c;
    c.kind = "PUSHBUTTON";
    c.text = text;
    c.id = id;
    c.windowClass = kButtonClass;
    c.style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
    c.x = x;
    c.y = y;
    c.cx = kButtonCx;
    c.cy = kButtonCy;
    t.controls.push_back(c);
}

sim::DialogTemplate sheetTemplate(const sim::LiveSheet& s, DWORD style) {
    sim::DialogTemplate t;
    t.style = style;
    t.caption = s.caption;
    int cx = 0, cy = 0;
    for (const sim::SheetPage& p : s.pages) {
        cx = std::max(cx, p.dialog.cx);
        cy = std::max(cy, p.dialog.cy);
    }
    t.cx = cx + 2 * kMargin;
    t.cy = cy + 3 * kMargin + kButtonCy;
    const int y = t.cy - kMargin - kButtonCy;
    // Buttons right-aligned, in the platform's order.
    std::vector<std::pair<int, const char*>> row;
    if (s.wizard) row = {{kBackId, "< &Back"}, {kNextId, "&Next >"}, {kFinishId, "Finish"}, {IDCANCEL, "Cancel"}};
    else row = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    if (!s.wizard && !(s.flags & PSH_NOAPPLYNOW)) row.push_back({kApplyId, "&Apply"});
    if (s.flags & PSH_HASHELP) row.push_back({IDHELP, "Help"});
    int x = t.cx - kMargin - static_cast<int>(row.size()) * (kButtonCx + kButtonGap) + kButtonGap;
    for (const auto& b : row) {
        addButton(t, b.first, b.second, x, y);
        x += kButtonCx + kButtonGap;
    }
    return t;
}

// The owner of a sheet is a top-level window: a child hands it to its top parent.
HWND topLevel(HWND h) {
    while (Window* w = world().window(h)) {
        if (!w->parent) break;
        h = w->parent;
    }
    return h;
}

void recordShows(sim::LiveSheet& s) {
    sim::World& wd = world();
    if (s.record >= wd.sheetsShown.size()) return;
    sim::SheetRecord& r = wd.sheetsShown[s.record];
    r.shows.clear();
    const std::string prefix = sim::handleText(s.window) + " cmd=";
    for (size_t i = s.firstCall; i < wd.calls.size(); ++i) {
        const sim::Call& c = wd.calls[i];
        if (c.api == "ShowWindow" && c.args.compare(0, prefix.size(), prefix) == 0)
            r.shows.push_back({c.time, std::atoi(c.args.c_str() + prefix.size())});
    }
}

INT_PTR failSheet(DWORD error, const std::vector<uintptr_t>& made) {
    for (uintptr_t h : made) releasePage(h);
    world().lastError = error;
    return -1;
}

// Reads the header's pages into `s`: page objects it makes (ppsp) or takes
// (phpage), their templates and titles. 0 on success, else the error.
DWORD collectPages(const PROPSHEETHEADERA& header, sim::LiveSheet& s, std::vector<uintptr_t>& made) {
    sim::World& wd = world();
    const auto* next = reinterpret_cast<const unsigned char*>(header.ppsp);
    for (UINT i = 0; i < header.nPages; ++i) {
        uintptr_t h = 0;
        if (header.dwFlags & PSH_PROPSHEETPAGE) {
            // Each entry is as long as its own dwSize says.
            const auto* page = reinterpret_cast<const PROPSHEETPAGEA*>(next);
            if (!page) return ERROR_INVALID_PARAMETER;
            h = makePage(page);
            if (!h) return wd.lastError;
            made.push_back(h);
            next += page->dwSize;
        } else {
            h = header.phpage ? key(header.phpage[i]) : 0;
            sim::PageObject* o = pageObject(h);
            if (!o || o->sheet) return ERROR_INVALID_PARAMETER;
        }
        PROPSHEETPAGEA* page = pageObject(h)->page();
        sim::Module* m = wd.module(page->hInstance);
        const std::string name = templateKey(page->pszTemplate);
        if (!m || !m->dialogs.count(name)) {
            // A page whose template cannot be found is left out of the sheet.
            made.erase(std::remove(made.begin(), made.end(), h), made.end());
            releasePage(h);
            continue;
        }
        sim::SheetPage p;
        p.object = h;
        p.dialog = m->dialogs[name];
        p.templateName = name;
        // PSP_USETITLE overrides the template's caption.
        p.title = (page->dwFlags & PSP_USETITLE) ? resourceText(page->pszTitle, page->hInstance) : p.dialog.caption;
        s.pages.push_back(p);
    }
    return s.pages.empty() ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_SUCCESS;
}

int startPage(const PROPSHEETHEADERA& header, const sim::LiveSheet& s) {
    const int count = static_cast<int>(s.pages.size());
    if (header.dwFlags & PSH_USEPSTARTPAGE) {
        std::string wanted = resourceText(header.pStartPage, header.hInstance);
        for (int i = 0; i < count; ++i)
            if (s.pages[i].title == wanted) return i;
        return 0;
    }
    return header.nStartPage < static_cast<UINT>(count) ? static_cast<int>(header.nStartPage) : 0;
}

// Destroys the sheet and its pages and gives the page objects back.
void teardown(sim::LiveSheet& s) {
    sim::World& wd = world();
    if (s.disabledOwner) {
        s.disabledOwner = false;
        if (Window* o = wd.window(s.owner)) o->style &= ~static_cast<DWORD>(WS_DISABLED);
    }
    if (wd.active == s.window) wd.active = s.owner;
    if (wd.foreground == s.window) wd.foreground = s.owner;
    wd.destroyDialogWindow(s.window);
    for (sim::SheetPage& p : s.pages) {
        ledger().pageWindows.erase(key(p.window));
        releasePage(p.object);
    }
}

}  // namespace

// ---- the World's view and the user's actions ------------------------------------------------------

namespace sim {

HWND World::innermostSheet() {
    for (auto it = modals.rbegin(); it != modals.rend(); ++it) {
        if ((*it)->kind != "PropertySheet") continue;
        LiveSheet* s = sheetOf((*it)->window);
        if (s && !s->ended) return s->window;
    }
    return nullptr;
}

SheetView World::sheetView() {
    SheetView v;
    LiveSheet* s = sheetOf(innermostSheet());
    Window* w = s ? window(s->window) : nullptr;
    if (!w) return v;
    v.handle = s->window;
    v.wizard = s->wizard;
    v.title = w->title;
    v.visible = w->visible;
    v.enabled = enabled(*w);
    v.activePage = s->active;
    v.wizardButtons = s->buttons;
    for (const SheetPage& p : s->pages) {
        v.pageTitles.push_back(p.title);
        v.pages.push_back(p.window);
    }
    auto button = [this, s](int id) {
        SheetButton b;
        if (Window* bw = window(findChild(s->window, id))) {
            b.shown = bw->visible;
            b.enabled = enabled(*bw);
            b.text = bw->title;
        }
        return b;
    };
    v.back = button(kBackId);
    v.next = button(kNextId);
    v.finish = button(kFinishId);
    v.ok = button(IDOK);
    v.cancel = button(IDCANCEL);
    v.apply = button(kApplyId);
    v.help = button(IDHELP);
    if (s->active >= 0)
        if (Window* page = window(s->pages[s->active].window))
            for (HWND c : page->children) {
                Window* cw = window(c);
                if (!cw) continue;
                auto st = controlStates.find(key(c));
                v.controls.push_back({cw->controlId, cw->className, cw->title, cw->visible, enabled(*cw),
                                      st == controlStates.end() ? UINT(BST_UNCHECKED) : st->second.check});
            }
    return v;
}

namespace {

// The innermost sheet when the user can act on it: shown, enabled, and its
// program not blocked in a wait.
LiveSheet* userSheet(World& wd, const std::string& action) {
    LiveSheet* s = sheetOf(wd.innermostSheet());
    Window* w = s ? wd.window(s->window) : nullptr;
    bool usable = w && w->visible && enabled(*w) && !wd.blockedInWait;
    wd.log("User", action + (usable ? "" : " (nothing to act on)"));
    return usable ? s : nullptr;
}

bool userClick(World& wd, int id, const std::string& action) {
    LiveSheet* s = userSheet(wd, action);
    return s && clickButton(s->window, id);
}

}  // namespace

bool World::clickNext() { return userClick(*this, kNextId, "next"); }
bool World::clickBack() { return userClick(*this, kBackId, "back"); }
bool World::clickFinish() { return userClick(*this, kFinishId, "finish"); }
bool World::clickCancel() { return userClick(*this, IDCANCEL, "cancel"); }

bool World::clickCheckBox(int id) {
    LiveSheet* s = userSheet(*this, "check box id=" + std::to_string(id));
    if (!s || s->active < 0) return false;
    Window* box = window(findChild(s->pages[s->active].window, id));
    if (!box || !isCheckBox(*box) || !box->visible || !enabled(*box)) return false;
    deliver(box->handle, BM_CLICK, 0, 0);
    return true;
}

int World::livePropertySheetPages() const { return sheetLedger ? static_cast<int>(sheetLedger->pages.size()) : 0; }

}  // namespace sim

// ---- comctl32 ---------------------------------------------------------------------------------------

void WINAPI InitCommonControls(void) { world().log("InitCommonControls", ""); }

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
    sim::World& wd = world();
    wd.log("InitCommonControlsEx", init ? "icc=" + hex(init->dwICC) : "(null)");
    return init && init->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA page) {
    sim::World& wd = world();
    wd.log("CreatePropertySheetPageA", page ? "flags=" + hex(page->dwFlags) : "(null)");
    return reinterpret_cast<HPROPSHEETPAGE>(makePage(page));
}

BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE page) {
    sim::World& wd = world();
    wd.log("DestroyPropertySheetPage", sim::handleText(page));
    sim::PageObject* o = pageObject(key(page));
    // A page a sheet holds goes with the sheet.
    if (!o || o->sheet) {
        wd.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    releasePage(key(page));
    return TRUE;
}

INT_PTR WINAPI PropertySheetA(LPCPROPSHEETHEADERA header) {
    sim::World& wd = world();
    wd.log("PropertySheetA", header ? "flags=" + hex(header->dwFlags) + " pages=" + std::to_string(header->nPages) +
                                          " parent=" + sim::handleText(header->hwndParent)
                                    : "(null)");
    if (!header || header->dwSize < PROPSHEETHEADERA_V1_SIZE || header->dwSize > sizeof(PROPSHEETHEADERA) ||
        header->nPages == 0 || header->nPages > MAXPROPPAGES)
        return failSheet(ERROR_INVALID_PARAMETER, {});
    // Modeless sheets are not simulated: every sheet here runs its own loop.
    if (header->dwFlags & PSH_MODELESS) return failSheet(ERROR_CALL_NOT_IMPLEMENTED, {});
    if (header->hwndParent && !wd.window(header->hwndParent)) return failSheet(ERROR_INVALID_WINDOW_HANDLE, {});

    auto owned = std::make_unique<sim::LiveSheet>();
    sim::LiveSheet& s = *owned;
    s.flags = header->dwFlags;
    s.wizard = (header->dwFlags & (PSH_WIZARD | PSH_WIZARD97)) != 0;
    s.instance = header->hInstance;
    s.caption = resourceText(header->pszCaption, header->hInstance);
    s.owner = topLevel(header->hwndParent);
    std::vector<uintptr_t> made;
    if (DWORD error = collectPages(*header, s, made)) return failSheet(error, made);
    const int start = startPage(*header, s);

    // The sheet's template, which the program may adjust before the sheet exists.
    const bool contextHelp = s.wizard ? (s.flags & PSH_WIZARDCONTEXTHELP) != 0 : !(s.flags & PSH_NOCONTEXTHELP);
    DWORD style = kSheetStyle | (contextHelp ? DS_CONTEXTHELP : 0);
    if ((s.flags & PSH_USECALLBACK) && header->pfnCallback) {
        sim::DialogTemplate probe = sheetTemplate(s, style);
        DLGTEMPLATE dt{};
        dt.style = style;
        dt.dwExtendedStyle = kSheetExStyle;
        dt.cdit = static_cast<WORD>(probe.controls.size());
        dt.cx = static_cast<short>(probe.cx);
        dt.cy = static_cast<short>(probe.cy);
        header->pfnCallback(nullptr, PSCB_PRECREATE, reinterpret_cast<LPARAM>(&dt));
        style = dt.style;
    }

    s.modal = ++wd.serial;
    if (Window* o = wd.window(s.owner)) {
        if (enabled(*o)) {
            o->style |= WS_DISABLED;
            s.disabledOwner = true;
        }
    }
    sim::LiveSheet* live = &s;
    HWND sheet = wd.createDialogWindow(header->hInstance, sheetTemplate(s, style), s.owner, false, sheetWindowProc,
                                       [&](HWND created) {
                                           live->window = created;
                                           live->record = wd.sheetsShown.size();
                                           live->firstCall = wd.calls.size();
                                           sim::SheetRecord r;
                                           r.handle = created;
                                           r.owner = live->owner;
                                           r.flags = live->flags;
                                           r.wizard = live->wizard;
                                           r.caption = live->caption;
                                           for (const sim::SheetPage& p : live->pages) r.pageTitles.push_back(p.title);
                                           r.opened = wd.now;
                                           wd.sheetsShown.push_back(r);
                                           ledger().sheets[key(created)] = std::move(owned);
                                       });
    if (Window* w = wd.window(sheet)) w->exStyle = kSheetExStyle;
    for (sim::SheetPage& p : s.pages) pageObject(p.object)->sheet = sheet;
    layoutButtons(s);

    if ((s.flags & PSH_USECALLBACK) && header->pfnCallback) header->pfnCallback(sheet, PSCB_INITIALIZED, 0);
    for (size_t i = 0; i < s.pages.size(); ++i)
        if (pageObject(s.pages[i].object)->page()->dwFlags & PSP_PREMATURE) createPage(s, static_cast<int>(i));
    // The start page shows even when every page declines activation.
    if (!activate(s, start, 1) && s.active < 0 && createPage(s, start)) showPage(s, start);

    if (!s.ended) {
        if (Window* w = wd.window(sheet)) {
            w->visible = true;
            wd.active = sheet;
        }
        sim::Modal modal;
        modal.id = s.modal;
        modal.kind = "PropertySheet";
        modal.window = sheet;
        try {
            wd.runModal(modal);
        } catch (...) {
            // The scenario ends with the sheet open: it stays as it is, for inspection.
            recordShows(s);
            throw;
        }
        // A loop ended by the quit request closes the sheet as cancelled.
        if (!s.ended) close(s, 0);
    }

    recordShows(s);
    const INT_PTR result = s.result;
    if (s.record < wd.sheetsShown.size()) {
        sim::SheetRecord& r = wd.sheetsShown[s.record];
        r.open = false;
        r.result = result;
        r.closed = wd.now;
    }
    teardown(s);
    ledger().sheets.erase(key(sheet));
    return result;
}

// ---- window data ----------------------------------------------------------------------------------

namespace {

bool isDialogWindow(const Window& w) { return !w.foreign && w.className == "#32770"; }

// DWLP_DLGPROC: the procedure of a page, or of a modal dialog.
DLGPROC* dialogProcedure(HWND h) {
    auto pw = ledger().pageWindows.find(key(h));
    if (pw != ledger().pageWindows.end()) return &pw->second.proc;
    auto st = world().dialogStates.find(key(h));
    return st == world().dialogStates.end() ? nullptr : &st->second.proc;
}

// Reads (and with `set`, replaces) one value; false for an index the window does not have.
bool windowLong(HWND h, int index, const LONG_PTR* set, LONG_PTR& old) {
    sim::World& wd = world();
    Window* w = wd.window(h);
    switch (index) {
    case GWLP_WNDPROC:
        old = reinterpret_cast<LONG_PTR>(w->proc);
        if (set) w->proc = reinterpret_cast<WNDPROC>(*set);
        return true;
    case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        if (set) w->instance = reinterpret_cast<HINSTANCE>(*set);
        return true;
    case GWLP_ID:
        old = w->controlId;
        if (set) w->controlId = static_cast<int>(*set);
        return true;
    case GWL_STYLE:
        // WS_VISIBLE is the window's visibility.
        old = static_cast<LONG_PTR>((w->style & ~static_cast<DWORD>(WS_VISIBLE)) | (w->visible ? WS_VISIBLE : 0));
        if (set) {
            w->style = static_cast<DWORD>(*set);
            w->visible = (*set & WS_VISIBLE) != 0;
        }
        return true;
    case GWL_EXSTYLE:
        // WS_EX_TOPMOST is the window's place in the Z order.
        old = static_cast<LONG_PTR>(w->exStyle | (w->topmost ? WS_EX_TOPMOST : 0));
        if (set) w->exStyle = static_cast<DWORD>(*set);
        return true;
    case GWLP_USERDATA:
        old = w->userData;
        if (set) w->userData = *set;
        return true;
    default:
        break;
    }
    if (!isDialogWindow(*w)) return false;
    sim::DialogWindowData& data = wd.dialogData[key(h)];
    if (index == DWLP_MSGRESULT) {
        old = data.msgResult;
        if (set) {
            data.msgResult = *set;
            data.msgResultSet = true;
        }
        return true;
    }
    if (index == DWLP_USER) {
        old = data.user;
        if (set) data.user = *set;
        return true;
    }
    if (index == DWLP_DLGPROC) {
        DLGPROC* proc = dialogProcedure(h);
        old = proc ? reinterpret_cast<LONG_PTR>(*proc) : 0;
        if (set && proc) *proc = reinterpret_cast<DLGPROC>(*set);
        return true;
    }
    return false;
}

}  // namespace

LONG_PTR WINAPI SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value) {
    sim::World& wd = world();
    wd.log("SetWindowLongPtrA", sim::handleText(hwnd) + " index=" + std::to_string(index) +
                                    " value=" + std::to_string(static_cast<long long>(value)));
    if (!wd.window(hwnd)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    LONG_PTR old = 0;
    if (!windowLong(hwnd, index, &value, old)) {
        wd.lastError = ERROR_INVALID_INDEX;
        return 0;
    }
    return old;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hwnd, int index) {
    sim::World& wd = world();
    if (!wd.window(hwnd)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    LONG_PTR value = 0;
    if (!windowLong(hwnd, index, nullptr, value)) {
        wd.lastError = ERROR_INVALID_INDEX;
        return 0;
    }
    return value;
}
