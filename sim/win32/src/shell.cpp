// The notification area.
#include <sim/world.h>

#include <algorithm>
#include <cstdio>

using sim::world;

BOOL WINAPI Shell_NotifyIconA(DWORD message, PNOTIFYICONDATAA data) {
    sim::World& wd = world();
    if (!data) return FALSE;
    char tip[sizeof data->szTip + 1];
    std::memcpy(tip, data->szTip, sizeof data->szTip);
    tip[sizeof data->szTip] = '\0';  // a tip without terminator stays bounded
    char buf[160];
    static const char* const names[] = {"NIM_ADD", "NIM_MODIFY", "NIM_DELETE"};
    std::snprintf(buf, sizeof buf, "%s size=%lu id=%u flags=%u msg=%u", message < 3 ? names[message] : "?",
                  static_cast<unsigned long>(data->cbSize), data->uID, data->uFlags, data->uCallbackMessage);
    wd.log("Shell_NotifyIconA", std::string(buf) + " hwnd=" + sim::handleText(data->hWnd) + " tip=" + tip);

    auto it = std::find_if(wd.tray.begin(), wd.tray.end(), [data](const sim::TrayIcon& t) {
        return t.hwnd == data->hWnd && t.id == data->uID;
    });
    auto apply = [data, &tip](sim::TrayIcon& t) {
        if (data->uFlags & NIF_MESSAGE) t.callbackMessage = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON) t.icon = data->hIcon;
        if (data->uFlags & NIF_TIP) t.tip = tip;
        t.flags |= data->uFlags;
    };
    switch (message) {
    case NIM_ADD: {
        if (it != wd.tray.end() || !world().window(data->hWnd)) return FALSE;
        sim::TrayIcon t{data->hWnd, data->uID, 0, 0, nullptr, ""};
        apply(t);
        wd.tray.push_back(t);
        return TRUE;
    }
    case NIM_MODIFY:
        if (it == wd.tray.end()) return FALSE;
        apply(*it);
        return TRUE;
    case NIM_DELETE:
        if (it == wd.tray.end()) return FALSE;
        wd.tray.erase(it);
        return TRUE;
    default:
        return FALSE;
    }
}
