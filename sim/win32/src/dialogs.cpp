// Modal dialogs built from the program's dialog templates, their controls
// (static text, buttons, check boxes, combo boxes) and the user's scripted
// actions on them.
//
// DialogBoxParamA creates the dialog and its controls, sends WM_INITDIALOG and
// then runs a modal loop that keeps dispatching the program's timers and
// posted messages until EndDialog is called for it, from wherever: its own
// procedure, a timer procedure, a nested modal loop. A dialog ended while
// another modal loop runs above it closes once that loop has returned.
//
// Geometry: dialog units become pixels with fixed base units of 6 x 13 (an
// 8-point dialog font at 96 dpi): x * 6 / 4 and y * 13 / 8. The simulated
// dialog has no frame, so its window size is its client size. Without an
// owner (or with DS_ABSALIGN) the template position is on the screen; with an
// owner it is relative to the owner's corner; DS_CENTER centres it on the screen.
#include <sim/world.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using sim::Window;
using sim::world;

namespace {

constexpr int kBaseUnitX = 6;   // pixels per 4 horizontal dialog units
constexpr int kBaseUnitY = 13;  // pixels per 8 vertical dialog units
constexpr int kDluPerBaseX = 4;
constexpr int kDluPerBaseY = 8;
constexpr const char* kDialogClass = "#32770";
constexpr const char* kButtonClass = "BUTTON";
constexpr const char* kComboClass = "COMBOBOX";
// Window handles advance by this much, keeping them aligned as the system's are.
constexpr uintptr_t kHandleStep = 4;
// The font handle WM_SETFONT hands out for templates with DS_SETFONT.
const HFONT kDialogFont = reinterpret_cast<HFONT>(static_cast<uintptr_t>(0x320040));

uintptr_t key(HWND h) { return reinterpret_cast<uintptr_t>(h); }

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool sameText(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

// Pixels for dialog units, rounded to the nearest as MulDiv does.
int toPixels(int units, int base, int per) {
    long long scaled = static_cast<long long>(units) * base;
    long long half = per / 2;
    return static_cast<int>(scaled >= 0 ? (scaled + half) / per : -((-scaled + half) / per));
}

// The key a template is stored under: MAKEINTRESOURCE(n) and "#n" are numbers,
// names are matched in capitals.
std::string templateKey(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(LOWORD(name));
    std::string text(name);
    if (text.size() > 1 && text[0] == '#' &&
        std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::to_string(std::atoi(text.c_str() + 1));
    return upper(text);
}

std::string templateText(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(LOWORD(name));
    return std::string("\"") + name + "\"";
}

// A message reaches a window of the program through its procedure, without
// appearing in the call log: the system, not the program, sends it.
LRESULT deliver(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = world().window(h);
    if (!w || w->foreign || !w->proc) return 0;
    return w->proc(h, msg, wParam, lParam);
}

HWND addWindow(std::unique_ptr<Window> w) {
    sim::World& wd = world();
    HWND h = reinterpret_cast<HWND>(wd.nextWindow);
    wd.nextWindow += kHandleStep;
    w->handle = h;
    HWND parent = w->parent;
    wd.windows[key(h)] = std::move(w);
    if (parent) {
        // Controls keep template order: the first one is on top and first in tab order.
        if (Window* p = wd.window(parent)) p->children.push_back(h);
    } else {
        wd.zorder.insert(wd.zorder.begin(), h);
    }
    return h;
}

// The system's destruction of a dialog: WM_DESTROY from the dialog down,
// WM_NCDESTROY from the controls up, then the windows are gone.
void destroyQuietly(HWND h) {
    sim::World& wd = world();
    if (!wd.window(h)) return;
    deliver(h, WM_DESTROY, 0, 0);
    if (Window* still = wd.window(h))
        for (HWND c : std::vector<HWND>(still->children)) destroyQuietly(c);
    deliver(h, WM_NCDESTROY, 0, 0);
    wd.dialogData.erase(key(h));
    wd.destroyWindow(h);
}

bool enabled(const Window& w) { return (w.style & WS_DISABLED) == 0; }

bool isButton(const Window& w) { return sameText(w.className, kButtonClass); }
bool isCombo(const Window& w) { return sameText(w.className, kComboClass); }

DWORD buttonType(const Window& w) { return w.style & BS_TYPEMASK; }

bool checkable(const Window& w) {
    if (!isButton(w)) return false;
    switch (buttonType(w)) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
    case BS_3STATE:
    case BS_AUTO3STATE:
        return true;
    default:
        return false;
    }
}

HWND findControl(HWND parent, int id) { return world().childById(parent, id); }

// The auto radio buttons of the group `button` is in: from the control that
// starts the group (WS_GROUP) up to the next one that starts another.
void uncheckRadioGroup(Window& button) {
    sim::World& wd = world();
    Window* parent = wd.window(button.parent);
    if (!parent) return;
    const std::vector<HWND>& all = parent->children;
    auto self = std::find(all.begin(), all.end(), button.handle);
    if (self == all.end()) return;
    auto first = self;
    while (first != all.begin()) {
        Window* w = wd.window(*first);
        if (w && (w->style & WS_GROUP)) break;
        --first;
    }
    for (auto it = first; it != all.end(); ++it) {
        Window* w = wd.window(*it);
        if (!w) continue;
        if (it != first && (w->style & WS_GROUP)) break;
        if (*it != button.handle && isButton(*w) && buttonType(*w) == BS_AUTORADIOBUTTON)
            wd.controlStates[key(*it)].check = BST_UNCHECKED;
    }
}

// A click on a button as the user makes it: auto buttons change state, then
// the parent hears BN_CLICKED. Group boxes do not react.
bool clickControl(Window& button) {
    if (!isButton(button) || buttonType(button) == BS_GROUPBOX) return false;
    if (!button.visible || !enabled(button)) return false;
    sim::ControlState& st = world().controlStates[key(button.handle)];
    switch (buttonType(button)) {
    case BS_AUTOCHECKBOX:
        st.check = st.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        break;
    case BS_AUTO3STATE:
        st.check = st.check == BST_UNCHECKED ? BST_CHECKED
                   : st.check == BST_CHECKED ? BST_INDETERMINATE
                                             : BST_UNCHECKED;
        break;
    case BS_AUTORADIOBUTTON:
        uncheckRadioGroup(button);
        st.check = BST_CHECKED;
        break;
    default:
        break;
    }
    deliver(button.parent, WM_COMMAND, MAKEWPARAM(button.controlId, BN_CLICKED),
            reinterpret_cast<LPARAM>(button.handle));
    return true;
}

LRESULT copyText(const std::string& text, WPARAM size, LPARAM buffer) {
    char* out = reinterpret_cast<char*>(buffer);
    if (!out || size == 0) return 0;
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<LRESULT>(n);
}

// Window text shared by dialogs and controls.
bool textMessage(Window& w, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_SETTEXT:
        w.title = lParam ? reinterpret_cast<const char*>(lParam) : "";
        result = TRUE;
        return true;
    case WM_GETTEXT:
        result = copyText(w.title, wParam, lParam);
        return true;
    case WM_GETTEXTLENGTH:
        result = static_cast<LRESULT>(w.title.size());
        return true;
    default:
        return false;
    }
}

// The entry the combo box shows is its window text.
void selectEntry(Window& combo, sim::ControlState& st, int index) {
    st.selection = index;
    combo.title = index >= 0 ? st.items[static_cast<size_t>(index)] : "";
}

bool validIndex(const sim::ControlState& st, WPARAM index) {
    auto i = static_cast<intptr_t>(index);
    return i >= 0 && i < static_cast<intptr_t>(st.items.size());
}

LRESULT comboMessage(Window& combo, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::ControlState& st = world().controlStates[key(combo.handle)];
    switch (msg) {
    case CB_RESETCONTENT:
        st.items.clear();
        selectEntry(combo, st, CB_ERR);
        return CB_OKAY;
    case CB_ADDSTRING: {
        if (!lParam) return CB_ERR;
        std::string text(reinterpret_cast<const char*>(lParam));
        auto at = st.items.end();
        if (combo.style & CBS_SORT)
            at = std::upper_bound(st.items.begin(), st.items.end(), text, [](const std::string& a, const std::string& b) {
                return lstrcmpiA(a.c_str(), b.c_str()) < 0;
            });
        int index = static_cast<int>(at - st.items.begin());
        st.items.insert(at, text);
        if (st.selection >= index) ++st.selection;  // the selected entry moved down
        return index;
    }
    case CB_GETCOUNT:
        return static_cast<LRESULT>(st.items.size());
    case CB_SETCURSEL:
        // Out of range (including -1) clears the selection and answers CB_ERR.
        if (!validIndex(st, wParam)) {
            selectEntry(combo, st, CB_ERR);
            return CB_ERR;
        }
        selectEntry(combo, st, static_cast<int>(wParam));
        return static_cast<LRESULT>(wParam);
    case CB_GETCURSEL:
        return st.selection;
    case CB_GETLBTEXTLEN:
        if (!validIndex(st, wParam)) return CB_ERR;
        return static_cast<LRESULT>(st.items[wParam].size());
    case CB_GETLBTEXT: {
        // The caller's buffer must hold the entry: CB_GETLBTEXTLEN tells its size.
        if (!validIndex(st, wParam) || !lParam) return CB_ERR;
        const std::string& text = st.items[wParam];
        std::memcpy(reinterpret_cast<char*>(lParam), text.c_str(), text.size() + 1);
        return static_cast<LRESULT>(text.size());
    }
    default:
        return 0;
    }
}

LRESULT buttonMessage(Window& button, UINT msg, WPARAM wParam) {
    sim::ControlState& st = world().controlStates[key(button.handle)];
    switch (msg) {
    case BM_GETCHECK:
        return checkable(button) ? st.check : BST_UNCHECKED;
    case BM_SETCHECK:
        if (checkable(button)) {
            DWORD type = buttonType(button);
            bool threeState = type == BS_3STATE || type == BS_AUTO3STATE;
            st.check = threeState ? static_cast<UINT>(wParam) & (BST_CHECKED | BST_INDETERMINATE)
                                  : (wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED);
        }
        return 0;
    case BM_CLICK:
        clickControl(button);
        return 0;
    default:
        return 0;
    }
}

LRESULT CALLBACK controlProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    Window* w = wd.window(h);
    if (!w) return 0;
    LRESULT result = 0;
    if (textMessage(*w, msg, wParam, lParam, result)) return result;
    if (msg == WM_NCDESTROY) {
        wd.controlStates.erase(key(h));
        return 0;
    }
    if (isCombo(*w)) return comboMessage(*w, msg, wParam, lParam);
    if (isButton(*w)) return buttonMessage(*w, msg, wParam);
    return 0;
}

void enableOwner(sim::DialogState& st) {
    if (!st.disabledOwner) return;
    st.disabledOwner = false;
    if (Window* o = world().window(st.owner)) o->style &= ~static_cast<DWORD>(WS_DISABLED);
}

// What the dialog manager does with a message the dialog procedure returned
// FALSE for. WM_COMMAND IDOK / IDCANCEL need nothing: only the procedure ends
// the dialog.
LRESULT defaultDialogProcessing(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    Window* w = wd.window(h);
    auto st = wd.dialogStates.find(key(h));
    if (!w) return 0;
    LRESULT result = 0;
    if (textMessage(*w, msg, wParam, lParam, result)) return result;
    switch (msg) {
    case WM_CLOSE: {
        // Closing is cancelling, unless the Cancel button is there and disabled.
        HWND cancel = findControl(h, IDCANCEL);
        Window* c = wd.window(cancel);
        if (c && !enabled(*c)) return 0;
        MSG m{};
        m.hwnd = h;
        m.message = WM_COMMAND;
        m.wParam = MAKEWPARAM(IDCANCEL, BN_CLICKED);
        m.lParam = reinterpret_cast<LPARAM>(cancel);
        m.time = wd.now;
        wd.queue.push_back(m);
        return 0;
    }
    case DM_GETDEFID:
        if (st == wd.dialogStates.end() || !st->second.defaultId) return 0;
        return MAKELONG(st->second.defaultId, DC_HASDEFID);
    case DM_SETDEFID:
        if (st != wd.dialogStates.end()) st->second.defaultId = static_cast<int>(wParam);
        return TRUE;
    case WM_NCDESTROY:
        // Destroyed while its loop runs (DestroyWindow on a modal dialog): the loop ends.
        if (st != wd.dialogStates.end()) {
            st->second.destroyed = true;
            enableOwner(st->second);
            if (sim::Modal* m = wd.findModal(st->second.modal)) {
                m->result = st->second.result;
                m->ended = true;
            }
        }
        return 0;
    default:
        return 0;
    }
}

// The dialog window's procedure: the dialog procedure first, then the
// dialog manager's default. Before the dialog procedure is attached (while
// the window is being created) nothing reaches it: dialog procedures never
// see WM_CREATE. A procedure that handles a message and set DWLP_MSGRESULT
// while doing so answers with that value.
LRESULT CALLBACK dialogWindowProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam) {
    sim::World& wd = world();
    auto st = wd.dialogStates.find(key(h));
    if (st == wd.dialogStates.end()) return 0;
    DLGPROC proc = st->second.proc;
    wd.dialogData[key(h)].msgResultSet = false;
    INT_PTR handled = proc ? proc(h, msg, wParam, lParam) : FALSE;
    if (handled && msg != WM_NCDESTROY) {
        auto data = wd.dialogData.find(key(h));
        if (data != wd.dialogData.end() && data->second.msgResultSet) return data->second.msgResult;
        return handled;
    }
    LRESULT result = defaultDialogProcessing(h, msg, wParam, lParam);
    return handled ? handled : result;
}

// Template positions are on the screen, relative to the owner's corner, or
// (child dialogs) relative to the parent's client area.
void placeDialog(Window& d, const sim::DialogTemplate& t, HWND owner, bool child) {
    sim::World& wd = world();
    d.cx = toPixels(t.cx, kBaseUnitX, kDluPerBaseX);
    d.cy = toPixels(t.cy, kBaseUnitY, kDluPerBaseY);
    if ((t.style & DS_CENTER) && !child) {
        d.x = (wd.metric(SM_CXSCREEN) - d.cx) / 2;
        d.y = (wd.metric(SM_CYSCREEN) - d.cy) / 2;
        return;
    }
    d.x = toPixels(t.x, kBaseUnitX, kDluPerBaseX);
    d.y = toPixels(t.y, kBaseUnitY, kDluPerBaseY);
    Window* o = wd.window(owner);
    if (o && !child && !(t.style & DS_ABSALIGN)) {
        d.x += o->x;
        d.y += o->y;
    }
}

HWND createControl(HWND dialog, HINSTANCE instance, const sim::DialogControl& c) {
    auto w = std::make_unique<Window>();
    w->className = c.windowClass;
    w->title = c.text;
    w->style = c.style;
    w->parent = dialog;
    w->instance = instance;
    w->proc = controlProc;
    w->visible = (c.style & WS_VISIBLE) != 0;
    w->controlId = c.id;
    w->x = toPixels(c.x, kBaseUnitX, kDluPerBaseX);
    w->y = toPixels(c.y, kBaseUnitY, kDluPerBaseY);
    w->cx = toPixels(c.cx, kBaseUnitX, kDluPerBaseX);
    w->cy = toPixels(c.cy, kBaseUnitY, kDluPerBaseY);
    return addWindow(std::move(w));
}

void snapshot(sim::DialogRecord& r, HWND h) {
    Window* w = world().window(h);
    if (!w) return;
    r.title = w->title;
    r.x = w->x;
    r.y = w->y;
    r.cx = w->cx;
    r.cy = w->cy;
    r.topmost = w->topmost;
}

HWND firstTabStop(HWND dialog) { return world().firstTabStop(dialog); }

// The control a scripted action aims at: on the innermost dialog, shown and enabled.
Window* userTarget(int id, const std::string& action) {
    sim::World& wd = world();
    HWND dialog = wd.innermostDialog();
    Window* w = wd.window(findControl(dialog, id));
    bool usable = w && w->visible && enabled(*w);
    wd.log("User", action + " id=" + std::to_string(id) + (usable ? "" : " (nothing to act on)"));
    return usable ? w : nullptr;
}

// The user chooses an entry of a combo box's list: it becomes the selection
// and the dialog hears CBN_SELCHANGE.
bool pickEntry(Window& combo, int index) {
    sim::ControlState& st = world().controlStates[key(combo.handle)];
    if (!isCombo(combo) || index < 0 || index >= static_cast<int>(st.items.size())) return false;
    selectEntry(combo, st, index);
    deliver(combo.parent, WM_COMMAND, MAKEWPARAM(combo.controlId, CBN_SELCHANGE),
            reinterpret_cast<LPARAM>(combo.handle));
    return true;
}

}  // namespace

namespace sim {

HWND World::createDialogWindow(HINSTANCE instance, const DialogTemplate& t, HWND parent, bool child,
                               WNDPROC windowProc, const std::function<void(HWND)>& attach) {
    auto d = std::make_unique<Window>();
    d->className = kDialogClass;
    d->title = t.caption;
    d->style = t.style & ~static_cast<DWORD>(WS_VISIBLE);  // shown once initialised
    if (child) d->parent = parent;
    else d->owner = parent;
    d->instance = instance;
    d->proc = windowProc;
    d->topmost = !child && (t.style & DS_SYSMODAL) != 0;
    placeDialog(*d, t, parent, child);
    HWND h = addWindow(std::move(d));
    if (attach) attach(h);
    const bool setFont = (t.style & DS_SETFONT) != 0;
    for (const DialogControl& c : t.controls) {
        HWND control = createControl(h, instance, c);
        if (setFont) deliver(control, WM_SETFONT, reinterpret_cast<WPARAM>(kDialogFont), FALSE);
    }
    return h;
}

HFONT World::dialogFont() const { return kDialogFont; }

LRESULT World::defaultDialogMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    return defaultDialogProcessing(dialog, msg, wParam, lParam);
}

void World::destroyDialogWindow(HWND dialog) { destroyQuietly(dialog); }

HWND World::innermostDialog() {
    for (auto it = modals.rbegin(); it != modals.rend(); ++it) {
        if ((*it)->kind != "Dialog") continue;
        auto st = dialogStates.find(key((*it)->window));
        if (st != dialogStates.end() && !st->second.ended && !st->second.destroyed) return (*it)->window;
    }
    return nullptr;
}

bool World::clickDialogButton(int id) {
    Window* w = userTarget(id, "click");
    return w && clickControl(*w);
}

bool World::pickComboEntry(int comboId, int index) {
    Window* w = userTarget(comboId, "pick #" + std::to_string(index));
    return w && pickEntry(*w, index);
}

bool World::pickComboEntry(int comboId, const std::string& text) {
    Window* w = userTarget(comboId, "pick \"" + text + "\"");
    if (!w) return false;
    const std::vector<std::string>& items = controlStates[key(w->handle)].items;
    auto it = std::find_if(items.begin(), items.end(), [&text](const std::string& s) { return sameText(s, text); });
    return it != items.end() && pickEntry(*w, static_cast<int>(it - items.begin()));
}

bool World::pressDialogEscape() {
    HWND dialog = innermostDialog();
    log("User", std::string("escape") + (dialog ? "" : " (nothing to act on)"));
    if (!dialog) return false;
    deliver(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
            reinterpret_cast<LPARAM>(findControl(dialog, IDCANCEL)));
    return true;
}

bool World::pressDialogEnter() {
    HWND dialog = innermostDialog();
    log("User", std::string("enter") + (dialog ? "" : " (nothing to act on)"));
    if (!dialog) return false;
    LRESULT def = deliver(dialog, DM_GETDEFID, 0, 0);
    int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
    HWND button = findControl(dialog, id);
    Window* b = window(button);
    if (b && !enabled(*b)) return false;  // a disabled default button ignores Enter
    deliver(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    return true;
}

LRESULT World::sendToDialog(UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND dialog = innermostDialog();
    char buf[96];
    std::snprintf(buf, sizeof buf, "message msg=%u w=%lu l=%ld", msg, static_cast<unsigned long>(wParam),
                  static_cast<long>(lParam));
    log("User", std::string(buf) + (dialog ? "" : " (nothing to act on)"));
    return dialog ? deliver(dialog, msg, wParam, lParam) : 0;
}

}  // namespace sim

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC dialogProc,
                               LPARAM initParam) {
    sim::World& wd = world();
    wd.log("DialogBoxParamA", "hinst=" + sim::handleText(instance) + " name=" + templateText(templateName) +
                                  " owner=" + sim::handleText(owner));
    sim::Module* m = wd.module(instance);
    // An address that is no module holds no resources at all.
    if (!m || m->dialogs.empty()) {
        wd.lastError = m ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_DATA_NOT_FOUND;
        return -1;
    }
    auto found = m->dialogs.find(templateKey(templateName));
    if (found == m->dialogs.end()) {
        wd.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return -1;
    }
    // A bad owner is the one failure DialogBoxParam answers with 0.
    if (owner && !wd.window(owner)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    // The owner of a dialog is a top-level window: a child hands it to its top parent.
    while (Window* o = wd.window(owner)) {
        if (!o->parent) break;
        owner = o->parent;
    }
    const sim::DialogTemplate t = found->second;  // a copy: the module may be reloaded meanwhile

    sim::DialogState state;
    state.proc = dialogProc;
    state.owner = owner;
    state.modal = ++wd.serial;
    if (Window* o = wd.window(owner)) {
        if (enabled(*o)) {
            o->style |= WS_DISABLED;
            state.disabledOwner = true;
        }
    }
    // The first default push button, whichever statement made it, answers Enter.
    for (const sim::DialogControl& c : t.controls) {
        if (sameText(c.windowClass, kButtonClass) && (c.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            state.defaultId = c.id;
            break;
        }
    }

    // A modal dialog is an owned top-level window whatever its template says.
    HWND h = wd.createDialogWindow(instance, t, owner, false, dialogWindowProc, [&](HWND created) {
        sim::DialogRecord record;
        record.templateName = found->first;
        record.templateId = t.id;
        record.handle = created;
        record.owner = owner;
        record.opened = wd.now;
        snapshot(record, created);
        state.record = wd.dialogsShown.size();
        wd.dialogsShown.push_back(record);
        wd.dialogStates[key(created)] = state;
    });
    if (t.style & DS_SETFONT) deliver(h, WM_SETFONT, reinterpret_cast<WPARAM>(kDialogFont), FALSE);
    deliver(h, WM_INITDIALOG, reinterpret_cast<WPARAM>(firstTabStop(h)), initParam);

    sim::DialogState* st = &wd.dialogStates[key(h)];
    if (!st->ended && !st->destroyed) {
        // Modal dialogs show whatever their template says about WS_VISIBLE.
        if (Window* w = wd.window(h)) {
            w->visible = true;
            wd.active = h;
            if (t.style & DS_SETFOREGROUND) wd.foreground = h;
        }
        sim::Modal modal;
        modal.id = st->modal;
        modal.kind = "Dialog";
        modal.window = h;
        try {
            wd.runModal(modal);
        } catch (...) {
            // The scenario ends with the dialog open: it stays as it is, for inspection.
            snapshot(wd.dialogsShown[state.record], h);
            throw;
        }
        // A loop ended by the quit request leaves the dialog without EndDialog:
        // it closes with whatever result it has (0 if none).
        st = &wd.dialogStates[key(h)];
    }

    INT_PTR result = st->result;
    sim::DialogRecord& r = wd.dialogsShown[st->record];
    snapshot(r, h);
    r.open = false;
    r.result = result;
    r.closed = wd.now;
    enableOwner(*st);
    if (wd.active == h) wd.active = owner;
    if (wd.foreground == h) wd.foreground = owner;
    if (!st->destroyed) destroyQuietly(h);
    wd.dialogStates.erase(key(h));
    wd.dialogData.erase(key(h));
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    sim::World& wd = world();
    wd.log("EndDialog", sim::handleText(dialog) + " result=" + std::to_string(static_cast<long long>(result)));
    auto it = wd.dialogStates.find(key(dialog));
    if (it == wd.dialogStates.end() || it->second.destroyed) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    sim::DialogState& st = it->second;
    st.ended = true;
    st.result = result;  // a second call before the loop unwinds replaces it
    if (sim::Modal* m = wd.findModal(st.modal)) {
        m->result = result;
        m->ended = true;
    }
    // The dialog disappears and its owner takes input again at once; the
    // window itself goes when the loop unwinds.
    if (Window* w = wd.window(dialog)) w->visible = false;
    enableOwner(st);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    sim::World& wd = world();
    if (!wd.window(dialog)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    HWND control = findControl(dialog, id);
    if (!control) wd.lastError = ERROR_CONTROL_ID_NOT_FOUND;
    return control;
}

int WINAPI GetDlgCtrlID(HWND control) {
    sim::World& wd = world();
    Window* w = wd.window(control);
    if (!w) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    return w->parent ? w->controlId : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SendMessageA(control, msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control && SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    HWND control = GetDlgItem(dialog, id);
    if (!control) return 0;
    return static_cast<UINT>(SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) return FALSE;
    SendMessageA(control, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control ? static_cast<UINT>(SendMessageA(control, BM_GETCHECK, 0, 0)) : 0;
}
