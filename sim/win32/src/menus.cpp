// Menus and shortcut menus.
//
// TrackPopupMenu runs a modal loop, as the system's menu does: timers keep
// firing while it is open, and a scripted click (World::menuChoices) ends it.
// The owner learns the choice from a posted WM_COMMAND once the loop is over,
// or from the return value with TPM_RETURNCMD.
#include <sim/world.h>

#include <cstdio>

using sim::world;

namespace {

// What CheckMenuItem and EnableMenuItem answer for an item that is not there.
constexpr DWORD kNoSuchItem = static_cast<DWORD>(-1);
constexpr UINT kEnableMask = MF_GRAYED | MF_DISABLED;
// The class of the window a shown menu lives in.
constexpr const char* kMenuWindowClass = "#32768";

std::string hex(unsigned long value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%lx", value);
    return buf;
}

sim::Menu* validMenu(sim::World& wd, HMENU h) {
    sim::Menu* m = wd.menu(h);
    if (!m) wd.lastError = ERROR_INVALID_MENU_HANDLE;
    return m;
}

HMENU newMenu(bool popup, const char* api) {
    sim::World& wd = world();
    HMENU h = reinterpret_cast<HMENU>(wd.nextMenu);
    wd.nextMenu += 4;
    sim::Menu& m = wd.menus[reinterpret_cast<uintptr_t>(h)];
    m.handle = h;
    m.popup = popup;
    wd.log(api, sim::handleText(h));
    return h;
}

// An item by command, searching submenus too, as the system does.
sim::MenuItem* byCommand(sim::World& wd, sim::Menu& menu, UINT_PTR id, int depth = 0) {
    // Submenus cannot nest deeper than the menus the program has made.
    if (depth > static_cast<int>(wd.menus.size())) return nullptr;
    for (sim::MenuItem& item : menu.items) {
        if (item.submenu) {
            if (sim::Menu* sub = wd.menu(item.submenu))
                if (sim::MenuItem* found = byCommand(wd, *sub, id, depth + 1)) return found;
            continue;
        }
        if (!(item.flags & MF_SEPARATOR) && item.id == id) return &item;
    }
    return nullptr;
}

sim::MenuItem* findItem(sim::World& wd, sim::Menu& menu, UINT item, UINT flags) {
    if (flags & MF_BYPOSITION) return item < menu.items.size() ? &menu.items[item] : nullptr;
    return byCommand(wd, menu, item);
}

// What a click on the item `id` of the shown menu does: a command for an
// enabled command item, nothing (the menu closes) for anything else.
UINT_PTR commandFor(sim::World& wd, HMENU h, UINT_PTR id) {
    sim::Menu* menu = wd.menu(h);
    if (!menu || !id) return 0;
    sim::MenuItem* item = byCommand(wd, *menu, id);
    if (!item || (item->flags & kEnableMask)) return 0;
    return id;
}

// Menu notifications go straight to the owner's window procedure, as the
// system's menu loop sends them.
void notifyOwner(sim::World& wd, HWND owner, UINT message, WPARAM wParam, LPARAM lParam) {
    sim::Window* w = wd.window(owner);
    if (!w) return;
    if (w->foreign) {
        sim::LoggedMessage m{wd.now, message, wParam, lParam, true};
        w->log.push_back(m);
        if (w->onMessage) {
            auto handler = w->onMessage;
            handler(*w, m);
        }
        return;
    }
    if (w->proc)
        w->proc(owner, message, wParam, lParam);
    else
        DefWindowProcA(owner, message, wParam, lParam);
}

void postCommand(sim::World& wd, HWND owner, UINT_PTR id) {
    sim::Window* w = wd.window(owner);
    if (!w) return;
    if (w->foreign) {
        w->log.push_back({wd.now, WM_COMMAND, id, 0, false});
        return;
    }
    MSG msg{};
    msg.hwnd = owner;
    msg.message = WM_COMMAND;
    msg.wParam = id;
    msg.time = wd.now;
    msg.pt = wd.cursor;
    wd.queue.push_back(msg);
}

}  // namespace

namespace sim {

Menu* World::menu(HMENU h) {
    auto it = menus.find(reinterpret_cast<uintptr_t>(h));
    return it == menus.end() ? nullptr : &it->second;
}

}  // namespace sim

HMENU WINAPI CreateMenu(void) { return newMenu(false, "CreateMenu"); }

HMENU WINAPI CreatePopupMenu(void) { return newMenu(true, "CreatePopupMenu"); }

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text) {
    sim::World& wd = world();
    // Bitmap and owner-drawn items carry a handle or a value, not text.
    const bool hasText = !(flags & (MF_SEPARATOR | MF_BITMAP | MF_OWNERDRAW)) && text;
    wd.log("AppendMenuA", sim::handleText(menu) + " flags=" + hex(flags) + " id=" +
                              std::to_string(static_cast<unsigned long long>(idOrSubmenu)) +
                              " text=" + (hasText ? text : ""));
    sim::Menu* m = validMenu(wd, menu);
    if (!m) return FALSE;
    sim::MenuItem item;
    item.flags = flags;
    item.id = idOrSubmenu;
    if (hasText) item.text = text;
    if (flags & MF_POPUP) {
        HMENU sub = reinterpret_cast<HMENU>(idOrSubmenu);
        if (sub == menu || !validMenu(wd, sub)) return FALSE;
        item.submenu = sub;
    }
    m->items.push_back(item);
    return TRUE;
}

BOOL WINAPI DestroyMenu(HMENU menu) {
    sim::World& wd = world();
    wd.log("DestroyMenu", sim::handleText(menu));
    sim::Menu* m = validMenu(wd, menu);
    if (!m) return FALSE;
    // A menu takes its submenus with it.
    std::vector<HMENU> subs;
    for (const sim::MenuItem& item : m->items)
        if (item.submenu) subs.push_back(item.submenu);
    wd.menus.erase(reinterpret_cast<uintptr_t>(menu));
    for (HMENU sub : subs)
        if (wd.menu(sub)) DestroyMenu(sub);
    return TRUE;
}

DWORD WINAPI CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    sim::World& wd = world();
    wd.log("CheckMenuItem", sim::handleText(menu) + " item=" + std::to_string(item) + " flags=" + hex(flags));
    sim::Menu* m = validMenu(wd, menu);
    if (!m) return kNoSuchItem;
    sim::MenuItem* it = findItem(wd, *m, item, flags);
    if (!it) return kNoSuchItem;
    DWORD previous = it->flags & MF_CHECKED;
    it->flags = (it->flags & ~static_cast<UINT>(MF_CHECKED)) | (flags & MF_CHECKED);
    return previous;
}

BOOL WINAPI EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    sim::World& wd = world();
    wd.log("EnableMenuItem", sim::handleText(menu) + " item=" + std::to_string(item) + " flags=" + hex(flags));
    sim::Menu* m = validMenu(wd, menu);
    if (!m) return static_cast<BOOL>(kNoSuchItem);
    sim::MenuItem* it = findItem(wd, *m, item, flags);
    if (!it) return static_cast<BOOL>(kNoSuchItem);
    UINT previous = it->flags & kEnableMask;
    it->flags = (it->flags & ~kEnableMask) | (flags & kEnableMask);
    return static_cast<BOOL>(previous);
}

int WINAPI GetMenuItemCount(HMENU menu) {
    sim::World& wd = world();
    sim::Menu* m = validMenu(wd, menu);
    return m ? static_cast<int>(m->items.size()) : -1;
}

BOOL WINAPI TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    sim::World& wd = world();
    char buf[96];
    std::snprintf(buf, sizeof buf, " flags=0x%x x=%d y=%d owner=", flags, x, y);
    wd.log("TrackPopupMenu", sim::handleText(menu) + buf + sim::handleText(owner));
    if (!validMenu(wd, menu)) return FALSE;
    if (!wd.window(owner)) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    for (const sim::Modal* m : wd.modals)
        if (m->kind == "Menu") {
            wd.lastError = ERROR_POPUP_ALREADY_ACTIVE;
            return FALSE;
        }

    // With TPM_NONOTIFY the owner hears nothing from the menu.
    const bool notify = !(flags & TPM_NONOTIFY);
    if (notify) {
        notifyOwner(wd, owner, WM_ENTERMENULOOP, TRUE, 0);
        notifyOwner(wd, owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), MAKELPARAM(0, FALSE));
    }
    // The owner may have changed the menu while it was being prepared.
    sim::Menu* shown = validMenu(wd, menu);
    if (!shown) return FALSE;

    UINT_PTR click = 0;
    if (!wd.menuChoices.empty()) {
        click = wd.menuChoices.front();
        wd.menuChoices.erase(wd.menuChoices.begin());
    }
    size_t record = wd.shownMenus.size();
    sim::ShownMenu snapshot{};
    snapshot.time = wd.now;
    snapshot.menu = menu;
    snapshot.items = shown->items;
    snapshot.x = x;
    snapshot.y = y;
    snapshot.owner = owner;
    snapshot.flags = flags;
    snapshot.scripted = click;
    wd.shownMenus.push_back(snapshot);

    // While it shows, the menu is a top-most window of its own.
    HWND box = wd.addForeignWindow(kMenuWindowClass, "");
    if (sim::Window* w = wd.window(box)) {
        w->topmost = true;
        w->x = x;
        w->y = y;
    }
    sim::Modal modal;
    modal.kind = "Menu";
    modal.window = box;
    modal.id = ++wd.serial;
    uint64_t id = modal.id;
    std::string what = click ? "the user clicks menu item " + std::to_string(static_cast<unsigned long long>(click))
                             : std::string("the user clicks away from the menu");
    wd.after(wd.menuDelay, what, [id, click, menu] {
        sim::World& w = world();
        if (sim::Modal* m = w.findModal(id)) {
            m->result = static_cast<INT_PTR>(commandFor(w, menu, click));
            m->ended = true;
        }
    });
    UINT_PTR chosen = static_cast<UINT_PTR>(wd.runModal(modal));
    wd.destroyWindow(box);
    wd.shownMenus[record].closed = wd.now;
    wd.shownMenus[record].chosen = chosen;

    if (notify) notifyOwner(wd, owner, WM_EXITMENULOOP, TRUE, 0);
    if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
    if (chosen && notify) postCommand(wd, owner, chosen);
    return TRUE;
}

// Ends the menu that shows, as a click elsewhere would.
BOOL WINAPI EndMenu(void) {
    sim::World& wd = world();
    wd.log("EndMenu", "");
    for (sim::Modal* m : wd.modals)
        if (m->kind == "Menu" && !m->ended) {
            m->result = 0;
            m->ended = true;
            return TRUE;
        }
    return FALSE;
}
