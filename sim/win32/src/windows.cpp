// Window classes, top-level windows, Z order and window text.
#include <sim/world.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

using sim::Window;
using sim::world;

namespace {

std::string lower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool equalNoCase(const std::string& a, const char* b) { return lower(a) == lower(b ? b : ""); }

std::string msgText(UINT msg, WPARAM w, LPARAM l) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "msg=%u w=%lu l=%ld", msg, static_cast<unsigned long>(w),
                  static_cast<long>(l));
    return buf;
}

// The siblings list a window lives in: the top-level Z order or its parent's children.
std::vector<HWND>* siblingsOf(Window& w) {
    if (w.parent) {
        Window* p = world().window(w.parent);
        return p ? &p->children : nullptr;
    }
    return &world().zorder;
}

void bringToTop(Window& w) {
    std::vector<HWND>* list = siblingsOf(w);
    if (!list) return;
    list->erase(std::remove(list->begin(), list->end(), w.handle), list->end());
    list->insert(list->begin(), w.handle);
}

HWND makeWindow(std::unique_ptr<Window> w) {
    sim::World& wd = world();
    HWND h = reinterpret_cast<HWND>(wd.nextWindow);
    wd.nextWindow += 4;
    w->handle = h;
    Window* raw = w.get();
    wd.windows[reinterpret_cast<uintptr_t>(h)] = std::move(w);
    if (std::vector<HWND>* list = siblingsOf(*raw)) list->insert(list->begin(), h);
    return h;
}

}  // namespace

namespace sim {

Window* World::window(HWND h) {
    auto it = windows.find(reinterpret_cast<uintptr_t>(h));
    return it == windows.end() ? nullptr : it->second.get();
}

HWND World::childById(HWND parent, int id) {
    Window* p = window(parent);
    if (!p) return nullptr;
    for (HWND c : p->children) {
        Window* w = window(c);
        if (w && w->controlId == id) return c;
    }
    return nullptr;
}

HWND World::firstTabStop(HWND dialog) {
    Window* d = window(dialog);
    if (!d) return nullptr;
    for (HWND c : d->children) {
        Window* w = window(c);
        if (w && (w->style & WS_TABSTOP) && (w->style & WS_DISABLED) == 0 && w->visible) return c;
    }
    return nullptr;
}

HWND World::addForeignWindow(const std::string& className, const std::string& title) {
    auto w = std::make_unique<Window>();
    w->className = className;
    w->title = title;
    w->foreign = true;
    w->visible = true;
    return makeWindow(std::move(w));
}

// Removes a window and its children without sending anything: what the
// system does to the windows of a process that ends.
void World::destroyWindow(HWND h) {
    Window* w = window(h);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) destroyWindow(c);
    if (std::vector<HWND>* list = siblingsOf(*w)) list->erase(std::remove(list->begin(), list->end(), h), list->end());
    timers.erase(std::remove_if(timers.begin(), timers.end(), [h](const Timer& t) { return t.hwnd == h; }),
                 timers.end());
    queue.erase(std::remove_if(queue.begin(), queue.end(), [h](const MSG& m) { return m.hwnd == h; }),
                queue.end());
    if (foreground == h) foreground = nullptr;
    if (active == h) active = nullptr;
    windows.erase(reinterpret_cast<uintptr_t>(h));
}

}  // namespace sim

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    sim::World& wd = world();
    if (!wc || !wc->lpszClassName || wc->cbSize != sizeof(WNDCLASSEXA)) {
        wd.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    std::string key = lower(wc->lpszClassName);
    wd.log("RegisterClassExA", std::string("class=") + wc->lpszClassName);
    if (wd.classes.count(key)) {
        wd.lastError = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    sim::WindowClass cls;
    cls.name = wc->lpszClassName;
    cls.wc = *wc;
    wd.classes[key] = cls;
    return static_cast<ATOM>(0xC000 + wd.classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    return world().classes.erase(lower(className ? className : "")) ? TRUE : FALSE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR title, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    sim::World& wd = world();
    auto cls = wd.classes.find(lower(className ? className : ""));
    wd.log("CreateWindowExA", std::string("class=") + (className ? className : "") +
                                  " title=" + (title ? title : ""));
    if (cls == wd.classes.end()) {
        wd.lastError = 1407;  // ERROR_CANNOT_FIND_WND_CLASS
        return nullptr;
    }
    auto w = std::make_unique<Window>();
    w->className = cls->second.name;
    w->title = title ? title : "";
    w->style = style;
    w->exStyle = exStyle;
    w->instance = instance;
    w->proc = cls->second.wc.lpfnWndProc;
    w->visible = (style & WS_VISIBLE) != 0;
    if (style & WS_CHILD) {
        w->parent = parent;
        w->controlId = static_cast<int>(reinterpret_cast<uintptr_t>(menu));
    } else {
        w->owner = parent;
    }
    w->x = x == CW_USEDEFAULT ? 0 : x;
    w->y = y;
    w->cx = width == CW_USEDEFAULT ? 0 : width;
    w->cy = height;
    HWND h = makeWindow(std::move(w));

    CREATESTRUCTA cs{};
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cx = width;
    cs.cy = height;
    cs.x = x;
    cs.y = y;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = title;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    if (SendMessageA(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(h);
        return nullptr;
    }
    return wd.window(h) ? h : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hwnd) {
    sim::World& wd = world();
    Window* w = wd.window(hwnd);
    if (!w) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    wd.log("DestroyWindow", sim::handleText(hwnd));
    if (!w->foreign) {
        // The windows it owns go first.
        std::vector<HWND> owned;
        for (HWND h : wd.zorder)
            if (Window* o = wd.window(h); o && o->owner == hwnd) owned.push_back(h);
        for (HWND h : owned)
            if (wd.window(h)) DestroyWindow(h);
        if (!wd.window(hwnd)) return TRUE;
        SendMessageA(hwnd, WM_DESTROY, 0, 0);
        if (Window* still = wd.window(hwnd))
            for (HWND c : std::vector<HWND>(still->children)) DestroyWindow(c);
        SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
    }
    wd.destroyWindow(hwnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hwnd) { return world().window(hwnd) ? TRUE : FALSE; }

BOOL WINAPI IsWindowVisible(HWND hwnd) {
    Window* w = world().window(hwnd);
    return w && w->visible ? TRUE : FALSE;
}

BOOL WINAPI ShowWindow(HWND hwnd, int cmd) {
    sim::World& wd = world();
    Window* w = wd.window(hwnd);
    wd.log("ShowWindow", sim::handleText(hwnd) + " cmd=" + std::to_string(cmd));
    if (!w) return FALSE;
    BOOL was = w->visible ? TRUE : FALSE;
    w->visible = cmd != SW_HIDE;
    // Shown with activation, a hidden top-level window comes on top.
    const bool activates = cmd != SW_HIDE && cmd != SW_SHOWNOACTIVATE && cmd != SW_SHOWNA &&
                           cmd != SW_SHOWMINNOACTIVE && cmd != SW_MINIMIZE;
    if (!was && activates && !w->parent) bringToTop(*w);
    return was;
}

BOOL WINAPI UpdateWindow(HWND hwnd) {
    world().log("UpdateWindow", sim::handleText(hwnd));
    return world().window(hwnd) ? TRUE : FALSE;
}

HWND WINAPI GetDesktopWindow(void) { return world().desktop(); }

HWND WINAPI FindWindowExA(HWND parent, HWND childAfter, LPCSTR className, LPCSTR title) {
    sim::World& wd = world();
    wd.log("FindWindowExA", std::string("class=") + (className ? className : "(none)") +
                                " title=" + (title ? title : "(none)"));
    std::vector<HWND>* list = &wd.zorder;
    if (parent && parent != wd.desktop()) {
        Window* p = wd.window(parent);
        if (!p) return nullptr;
        list = &p->children;
    }
    auto it = list->begin();
    if (childAfter) {
        it = std::find(list->begin(), list->end(), childAfter);
        if (it == list->end()) return nullptr;
        ++it;
    }
    // The system compares class names and titles without regard to case.
    for (; it != list->end(); ++it) {
        Window* w = wd.window(*it);
        if (!w) continue;
        if (className && !IS_INTRESOURCE(className) && !equalNoCase(w->className, className)) continue;
        if (title && !equalNoCase(w->title, title)) continue;
        return *it;
    }
    return nullptr;
}

HWND WINAPI FindWindowA(LPCSTR className, LPCSTR title) {
    world().log("FindWindowA", std::string("class=") + (className ? className : "(none)") +
                                   " title=" + (title ? title : "(none)"));
    sim::World& wd = world();
    for (HWND h : wd.zorder) {
        Window* w = wd.window(h);
        if (!w) continue;
        if (className && !equalNoCase(w->className, className)) continue;
        if (title && !equalNoCase(w->title, title)) continue;
        return h;
    }
    return nullptr;
}

BOOL WINAPI EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
    // A snapshot: the callback may create or destroy windows.
    const std::vector<HWND> snapshot = world().zorder;
    for (HWND h : snapshot)
        if (world().window(h) && !proc(h, lParam)) return FALSE;
    return TRUE;
}

HWND WINAPI GetWindow(HWND hwnd, UINT cmd) {
    sim::World& wd = world();
    if (hwnd == wd.desktop()) {
        if (cmd == GW_CHILD) return wd.zorder.empty() ? nullptr : wd.zorder.front();
        return nullptr;
    }
    Window* w = wd.window(hwnd);
    if (!w) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return nullptr;
    }
    std::vector<HWND>* list = siblingsOf(*w);
    switch (cmd) {
    case GW_CHILD:
        return w->children.empty() ? nullptr : w->children.front();
    case GW_OWNER:
        return w->owner;
    case GW_HWNDFIRST:
        return list && !list->empty() ? list->front() : nullptr;
    case GW_HWNDLAST:
        return list && !list->empty() ? list->back() : nullptr;
    case GW_HWNDNEXT:
    case GW_HWNDPREV: {
        if (!list) return nullptr;
        auto it = std::find(list->begin(), list->end(), hwnd);
        if (it == list->end()) return nullptr;
        if (cmd == GW_HWNDNEXT) return ++it == list->end() ? nullptr : *it;
        return it == list->begin() ? nullptr : *--it;
    }
    default:
        return nullptr;
    }
}

HWND WINAPI GetParent(HWND hwnd) {
    Window* w = world().window(hwnd);
    if (!w) return nullptr;
    return w->parent ? w->parent : w->owner;
}

int WINAPI GetWindowTextA(HWND hwnd, LPSTR buffer, int size) {
    Window* w = world().window(hwnd);
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    if (!w) return 0;
    int n = static_cast<int>(std::min<size_t>(w->title.size(), static_cast<size_t>(size - 1)));
    std::memcpy(buffer, w->title.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

int WINAPI GetWindowTextLengthA(HWND hwnd) {
    Window* w = world().window(hwnd);
    return w ? static_cast<int>(w->title.size()) : 0;
}

BOOL WINAPI SetWindowTextA(HWND hwnd, LPCSTR text) {
    Window* w = world().window(hwnd);
    if (!w) return FALSE;
    w->title = text ? text : "";
    return TRUE;
}

int WINAPI GetClassNameA(HWND hwnd, LPSTR buffer, int size) {
    Window* w = world().window(hwnd);
    if (!w || !buffer || size <= 0) return 0;
    int n = static_cast<int>(std::min<size_t>(w->className.size(), static_cast<size_t>(size - 1)));
    std::memcpy(buffer, w->className.data(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

BOOL WINAPI SetForegroundWindow(HWND hwnd) {
    sim::World& wd = world();
    wd.log("SetForegroundWindow", sim::handleText(hwnd));
    Window* w = wd.window(hwnd);
    if (!w) return FALSE;
    if (w->foreign && wd.foregroundDelay && wd.foreground != hwnd) {
        wd.foreground = nullptr;
        wd.after(wd.foregroundDelay, "foreground " + sim::handleText(hwnd), [hwnd] {
            sim::World& later = world();
            if (Window* taken = later.window(hwnd)) {
                later.foreground = hwnd;
                if (!taken->parent) bringToTop(*taken);
            }
        });
        return TRUE;
    }
    wd.foreground = hwnd;
    if (!w->parent) bringToTop(*w);
    return TRUE;
}

HWND WINAPI GetForegroundWindow(void) { return world().foreground; }

HWND WINAPI SetActiveWindow(HWND hwnd) {
    sim::World& wd = world();
    wd.log("SetActiveWindow", sim::handleText(hwnd));
    if (!wd.window(hwnd)) return nullptr;
    HWND previous = wd.active;
    wd.active = hwnd;
    return previous;
}

BOOL WINAPI SetWindowPos(HWND hwnd, HWND after, int x, int y, int cx, int cy, UINT flags) {
    sim::World& wd = world();
    char buf[128];
    std::snprintf(buf, sizeof buf, " after=%ld x=%d y=%d cx=%d cy=%d flags=0x%x",
                  static_cast<long>(reinterpret_cast<intptr_t>(after)), x, y, cx, cy, flags);
    wd.log("SetWindowPos", sim::handleText(hwnd) + buf);
    Window* w = wd.window(hwnd);
    if (!w) return FALSE;
    if (!(flags & SWP_NOMOVE)) {
        w->x = x;
        w->y = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        w->cx = cx;
        w->cy = cy;
    }
    if (!(flags & SWP_NOZORDER)) {
        if (after == HWND_TOPMOST) w->topmost = true;
        if (after == HWND_NOTOPMOST) w->topmost = false;
        if (after == HWND_TOPMOST || after == HWND_TOP) bringToTop(*w);
    }
    if (flags & SWP_SHOWWINDOW) w->visible = true;
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND hwnd, LPRECT rect) {
    Window* w = world().window(hwnd);
    if (!w || !rect) return FALSE;
    rect->left = w->x;
    rect->top = w->y;
    rect->right = w->x + w->cx;
    rect->bottom = w->y + w->cy;
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    world().log("DefWindowProcA", sim::handleText(hwnd) + " " + msgText(msg, wParam, lParam));
    if (msg == WM_CLOSE) DestroyWindow(hwnd);
    return 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return proc ? proc(hwnd, msg, wParam, lParam) : 0;
}
