// tvstub: a stand-in for the TV applications the agent drives. It shows the
// main window an application would show, logs every message that window (and
// WinDVD's child) receives, and ends on that application's close action.
//
// The role comes from the program's own file name (PVCR.EXE, WINDVR.EXE ...)
// or from tvstub.ini beside it, which also names the log:
//
//   [tvstub]
//   Role=powervcr|honestech|windvr|roviver|windvd|winrip
//   Log=C:\path\of\the.log      (default: tvstub.log beside the program)
//   Title=...                   (optional: another main-window title)
//
// The log is appended to, one line at a time, each written straight through
// so a reader can follow it while the program runs:
//
//   start <role> <pid> <origin>
//   <ms> <window> <msg> <wParam> <lParam> <name> [ctrl] [shift] [alt]
//   exit
//
// <origin> is the performance counter at the start in microseconds, the
// clock every process of the machine shares (boxsim's log gives its own), and
// <ms> counts from it. <window> is main, child or thread (posted to the
// thread), numbers are hexadecimal with 0x; key and character messages name
// the modifier keys that were down when the message was read.
//
// Exit codes: 0 after a close, 2 when no role is known, 3 when the log or the
// window cannot be made.
#include <windows.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

namespace {

const char INI_NAME[] = "tvstub.ini";
const char INI_SECTION[] = "tvstub";
const char DEFAULT_LOG_NAME[] = "tvstub.log";
const char CHILD_CLASS[] = "TvStubChild";

const int EXIT_NO_ROLE = 2;
const int EXIT_SETUP_FAILED = 3;

const int WINDOW_WIDTH = 360;
const int WINDOW_HEIGHT = 240;
const int LOG_LINE_SIZE = 256;
const int TEXT_SIZE = 128;
const ULONGLONG MICROSECONDS = 1000000;
const ULONGLONG MILLISECONDS = 1000;

// Private messages of the applications.
const UINT MSG_911 = 911;
const UINT MSG_ROVIVER_COMMAND = WM_USER + 2000;  // 3024
const WPARAM ROVIVER_CLOSE = 1;

// The lParam WinDVR expects with its close key: repeat 1, scan code 0x2D ('X').
const LPARAM WINDVR_CLOSE_LPARAM = 0x002D0001;

enum class Close {
    CtrlX,         // WM_KEYDOWN 'X' while Ctrl is down (typed with keybd_event)
    KeyO,          // WM_KEYDOWN 'O'
    KeyXWinDvr,    // WM_KEYDOWN 'X' with WINDVR_CLOSE_LPARAM
    RovCommand,    // MSG_ROVIVER_COMMAND with ROVIVER_CLOSE
    ChildKeyX,     // WM_KEYDOWN 'X' to the first child window
    KeyX,          // WM_KEYDOWN 'X'
};

struct Role {
    const char *name;
    const char *exe;         // the file name that selects the role
    const char *window_class;
    const char *title;
    bool has_child;
    Close close;
};

// honestechTV and RoviverUVA share one program file; tvstub.ini tells them apart.
const Role ROLES[] = {
    {"powervcr", "PVCR.EXE", "PowerVCR II Taurus", "PowerVCR II - TV", false, Close::CtrlX},
    {"honestech", "honestechTV.EXE", "honestechTV 2.0", "TVR honestechTV", false, Close::KeyO},
    {"windvr", "WINDVR.EXE", "TvStubWinDVR", "InterVideo WinDVR", false, Close::KeyXWinDvr},
    {"roviver", nullptr, "HALCYON_TVR", "FormMainWindow RoviverUVA", false, Close::RovCommand},
    {"windvd", "WINDVD.EXE", "TvStubWinDVD", "InterVideo WinDVD 4", true, Close::ChildKeyX},
    {"winrip", "WINRIP.EXE", "TvStubWinRip", "WinRip 1.0", false, Close::KeyX},
};

struct State {
    const Role *role = nullptr;
    HANDLE log = INVALID_HANDLE_VALUE;
    LARGE_INTEGER started = {};
    LARGE_INTEGER frequency = {};
    HWND main = nullptr;
    HWND child = nullptr;
} g;

void write_line(const char *format, ...) {
    char line[LOG_LINE_SIZE];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 2, format, args);
    va_end(args);
    if (n < 0) return;
    // A line too long for the buffer is cut, never left without its end.
    size_t len = (size_t)n < sizeof line - 2 ? (size_t)n : sizeof line - 3;
    line[len++] = '\r';
    line[len++] = '\n';
    DWORD written;
    WriteFile(g.log, line, (DWORD)len, &written, nullptr);
}

// The performance counter, not GetTickCount: that one moves in steps of 16 ms.
unsigned long elapsed_ms() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (unsigned long)((ULONGLONG)(now.QuadPart - g.started.QuadPart) * MILLISECONDS /
                           (ULONGLONG)g.frequency.QuadPart);
}

// In two parts, so that a counter running for weeks does not overflow.
ULONGLONG origin_us() {
    ULONGLONG count = (ULONGLONG)g.started.QuadPart, frequency = (ULONGLONG)g.frequency.QuadPart;
    return count / frequency * MICROSECONDS + count % frequency * MICROSECONDS / frequency;
}

const char *message_name(UINT msg, char *buf, size_t size) {
    switch (msg) {
#define NAME(m) \
    case m:     \
        return #m;
        NAME(WM_NULL) NAME(WM_CREATE) NAME(WM_DESTROY) NAME(WM_MOVE) NAME(WM_SIZE)
        NAME(WM_ACTIVATE) NAME(WM_SETFOCUS) NAME(WM_KILLFOCUS) NAME(WM_ENABLE)
        NAME(WM_SETTEXT) NAME(WM_GETTEXT) NAME(WM_GETTEXTLENGTH) NAME(WM_PAINT)
        NAME(WM_CLOSE) NAME(WM_QUIT) NAME(WM_ERASEBKGND) NAME(WM_SHOWWINDOW)
        NAME(WM_ACTIVATEAPP) NAME(WM_SETCURSOR) NAME(WM_MOUSEACTIVATE)
        NAME(WM_GETMINMAXINFO) NAME(WM_WINDOWPOSCHANGING) NAME(WM_WINDOWPOSCHANGED)
        NAME(WM_GETICON) NAME(WM_NCCREATE) NAME(WM_NCDESTROY) NAME(WM_NCCALCSIZE)
        NAME(WM_NCHITTEST) NAME(WM_NCPAINT) NAME(WM_NCACTIVATE) NAME(WM_KEYDOWN)
        NAME(WM_KEYUP) NAME(WM_CHAR) NAME(WM_DEADCHAR) NAME(WM_SYSKEYDOWN)
        NAME(WM_SYSKEYUP) NAME(WM_SYSCHAR) NAME(WM_COMMAND) NAME(WM_SYSCOMMAND)
        NAME(WM_TIMER) NAME(WM_MOUSEMOVE) NAME(WM_LBUTTONDOWN) NAME(WM_LBUTTONUP)
        NAME(WM_RBUTTONDOWN) NAME(WM_RBUTTONUP) NAME(WM_MOUSEWHEEL) NAME(WM_PARENTNOTIFY)
        NAME(WM_IME_SETCONTEXT) NAME(WM_IME_NOTIFY) NAME(WM_HOTKEY) NAME(WM_APPCOMMAND)
        NAME(WM_INPUTLANGCHANGE) NAME(WM_CHILDACTIVATE) NAME(WM_STYLECHANGING)
        NAME(WM_STYLECHANGED) NAME(WM_SYNCPAINT) NAME(WM_CANCELMODE)
#undef NAME
    case MSG_911:
        return "MSG_911";
    }
    if (msg >= WM_USER && msg < WM_APP)
        snprintf(buf, size, "WM_USER+%u", msg - WM_USER);
    else if (msg >= WM_APP && msg < 0xC000)
        snprintf(buf, size, "WM_APP+%u", msg - WM_APP);
    else
        snprintf(buf, size, "msg");
    return buf;
}

bool is_key_message(UINT msg) {
    return msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP ||
           msg == WM_CHAR || msg == WM_SYSCHAR;
}

bool key_down(int vk) { return GetKeyState(vk) < 0; }

void log_message(const char *window, UINT msg, WPARAM wp, LPARAM lp) {
    char name_buf[TEXT_SIZE];
    const char *name = message_name(msg, name_buf, sizeof name_buf);
    bool mods = is_key_message(msg);
    write_line("%lu %s 0x%x 0x%llx 0x%llx %s%s%s%s", elapsed_ms(),
               window, msg, (unsigned long long)wp, (unsigned long long)(ULONG_PTR)lp, name,
               mods && key_down(VK_CONTROL) ? " ctrl" : "", mods && key_down(VK_SHIFT) ? " shift" : "",
               mods && key_down(VK_MENU) ? " alt" : "");
}

// True when the main window's message is its role's close action.
bool is_close_action(UINT msg, WPARAM wp, LPARAM lp) {
    switch (g.role->close) {
    case Close::CtrlX:
        return msg == WM_KEYDOWN && wp == 'X' && key_down(VK_CONTROL);
    case Close::KeyO:
        return msg == WM_KEYDOWN && wp == 'O';
    case Close::KeyXWinDvr:
        return msg == WM_KEYDOWN && wp == 'X' && lp == WINDVR_CLOSE_LPARAM;
    case Close::RovCommand:
        return msg == MSG_ROVIVER_COMMAND && wp == ROVIVER_CLOSE;
    case Close::KeyX:
        return msg == WM_KEYDOWN && wp == 'X';
    case Close::ChildKeyX:
        return false;
    }
    return false;
}

LRESULT CALLBACK child_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    log_message("child", msg, wp, lp);
    // Closing the child closes the application, as its close key does.
    if ((msg == WM_KEYDOWN && wp == 'X') || msg == WM_CLOSE) {
        DestroyWindow(g.main);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

LRESULT CALLBACK main_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    log_message("main", msg, wp, lp);
    if (is_close_action(msg, wp, lp)) {
        DestroyWindow(hwnd);
        return 0;
    }
    switch (msg) {
    case WM_CREATE:
        if (g.role->has_child) {
            RECT r;
            GetClientRect(hwnd, &r);
            g.child = CreateWindowExA(0, CHILD_CLASS, "", WS_CHILD | WS_VISIBLE, 0, 0, r.right, r.bottom, hwnd,
                                      nullptr, GetModuleHandleA(nullptr), nullptr);
            if (!g.child) return -1;
        }
        return 0;
    case WM_SETFOCUS:
        // Keys typed into the application reach its child, where it has one.
        if (g.child) SetFocus(g.child);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

// The directory of this program with a trailing backslash, and its file name.
bool own_path(char *dir, size_t dir_size, char *file, size_t file_size) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return false;
    const char *slash = strrchr(path, '\\');
    size_t dir_len = slash ? (size_t)(slash - path) + 1 : 0;
    if (dir_len >= dir_size || strlen(path + dir_len) >= file_size) return false;
    memcpy(dir, path, dir_len);
    dir[dir_len] = '\0';
    strcpy(file, path + dir_len);
    return true;
}

const Role *find_role(const char *ini, const char *exe) {
    char name[TEXT_SIZE];
    GetPrivateProfileStringA(INI_SECTION, "Role", "", name, sizeof name, ini);
    for (const Role &r : ROLES) {
        if (name[0] ? lstrcmpiA(name, r.name) == 0 : r.exe && lstrcmpiA(exe, r.exe) == 0) return &r;
    }
    return nullptr;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    // Never fail from Windows XP on.
    QueryPerformanceFrequency(&g.frequency);
    QueryPerformanceCounter(&g.started);
    char dir[MAX_PATH], exe[MAX_PATH], ini[MAX_PATH], log_path[MAX_PATH], title[TEXT_SIZE];
    if (!own_path(dir, sizeof dir, exe, sizeof exe)) return EXIT_SETUP_FAILED;
    if (snprintf(ini, sizeof ini, "%s%s", dir, INI_NAME) >= (int)sizeof ini) return EXIT_SETUP_FAILED;
    g.role = find_role(ini, exe);
    if (!g.role) return EXIT_NO_ROLE;

    char default_log[MAX_PATH];
    if (snprintf(default_log, sizeof default_log, "%s%s", dir, DEFAULT_LOG_NAME) >= (int)sizeof default_log)
        return EXIT_SETUP_FAILED;
    GetPrivateProfileStringA(INI_SECTION, "Log", default_log, log_path, sizeof log_path, ini);
    GetPrivateProfileStringA(INI_SECTION, "Title", g.role->title, title, sizeof title, ini);

    g.log = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g.log == INVALID_HANDLE_VALUE) return EXIT_SETUP_FAILED;
    write_line("start %s %lu %llu", g.role->name, (unsigned long)GetCurrentProcessId(), origin_us());

    WNDCLASSA wc = {};
    wc.lpfnWndProc = main_proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = g.role->window_class;
    bool registered = RegisterClassA(&wc) != 0;
    if (registered && g.role->has_child) {
        wc.lpfnWndProc = child_proc;
        wc.hbrBackground = (HBRUSH)(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = CHILD_CLASS;
        registered = RegisterClassA(&wc) != 0;
    }
    if (registered)
        g.main = CreateWindowExA(0, g.role->window_class, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                 WINDOW_WIDTH, WINDOW_HEIGHT, nullptr, nullptr, instance, nullptr);
    int code = EXIT_SETUP_FAILED;
    if (g.main) {
        // Shown whatever the starter asked: the agent looks for a visible window.
        ShowWindow(g.main, show == SW_HIDE ? SW_SHOWNORMAL : show);
        UpdateWindow(g.main);
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (!msg.hwnd) log_message("thread", msg.message, msg.wParam, msg.lParam);
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        code = 0;
    }
    write_line("exit");
    CloseHandle(g.log);
    return code;
}
