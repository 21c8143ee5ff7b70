// tunerpad's entry: one agent per desktop, a hidden main window, three timers
// and the message loop.
#include <cstring>

#include "agent/agent.h"
#include "agent/settings.h"
#include "agent/timers.h"
#include "agent/tray.h"
#include "device/device.h"
#include "resource.h"

HINSTANCE appInstance = nullptr;
HWND mainWindow = nullptr;
bool deviceFound = true;
char windowTitle[AGENT_NAME_CAPACITY];
char windowClassName[AGENT_NAME_CAPACITY];

namespace {

// InterVideo WinCinema Manager starts with Windows and would compete with the
// agent for the remote; its shortcut goes and the running program is closed.
#define OTHER_VENDOR_SHORTCUT "\\Start Menu\\Programs\\StartUp\\InterVideo WinCinema Manager.lnk"
#define OTHER_VENDOR_TITLE "InterVideo WinCinema Manager"
constexpr WPARAM MFC_EXIT_COMMAND = 0xE141;
constexpr UINT WINDOWS_DIR_CAPACITY = 128;

void deleteOtherVendorShortcut() {
    char windowsDir[WINDOWS_DIR_CAPACITY];
    UINT n = GetWindowsDirectoryA(windowsDir, WINDOWS_DIR_CAPACITY);
    if (n == 0 || n >= WINDOWS_DIR_CAPACITY) return;
    // Room for the longest directory accepted above and the shortcut's path.
    char path[WINDOWS_DIR_CAPACITY + sizeof OTHER_VENDOR_SHORTCUT];
    std::memcpy(path, windowsDir, n);
    std::memcpy(path + n, OTHER_VENDOR_SHORTCUT, sizeof OTHER_VENDOR_SHORTCUT);
    DeleteFileA(path);
}

void closeOtherVendorProgram() {
    HWND other = findWindowByTitlePrefix(OTHER_VENDOR_TITLE);
    if (!other) return;
    PostMessageA(other, WM_COMMAND, MFC_EXIT_COMMAND, 0);
    PostMessageA(other, WM_CLOSE, 0, 0);
    PostMessageA(other, WM_DESTROY, 0, 0);
}

int runMessageLoop() {
    HACCEL accelerators = LoadAcceleratorsA(appInstance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        if (TranslateAcceleratorA(msg.hwnd, accelerators, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

}  // namespace

HWND findWindowByTitlePrefix(const char* text) {
    size_t length = std::strlen(text);
    char title[TITLE_BUFFER_SIZE];
    for (HWND w = GetWindow(GetDesktopWindow(), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        title[0] = '\0';
        GetWindowTextA(w, title, sizeof title);
        if (std::strncmp(title, text, length) == 0) return w;
    }
    return nullptr;
}

bool registerMainClass(HINSTANCE instance) {
    WNDCLASSEXA wc;
    std::memset(&wc, 0, sizeof wc);
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = mainWindowProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_AGENT));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    wc.lpszClassName = windowClassName;
    return RegisterClassExA(&wc) != 0;
}

bool createMainWindow(HINSTANCE instance) {
    appInstance = instance;
    // Creation runs the window procedure's WM_CREATE: the device channel is
    // opened and the icon put up there.
    HWND hwnd = CreateWindowExA(0, windowClassName, windowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                                CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return false;
    mainWindow = hwnd;
    loadSettings();
    if (remoteOff) {
        removeTrayIcon(mainWindow, TRAY_ICON_ID);
        closeRemoteDevice();
        return false;
    }
    ShowWindow(mainWindow, SW_HIDE);
    UpdateWindow(mainWindow);

    bindDeviceRetry();
    bindKeyPoll();
    bindAppWatch();
    if (deviceFound) {
        startKeyPolling();
        primeRemoteReceiver();
    } else {
        startDeviceRetry();
    }
    return true;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    deleteOtherVendorShortcut();
    closeOtherVendorProgram();
    if (FindWindowA(AGENT_NAME, nullptr)) return 0;

    LoadStringA(instance, IDS_WINDOW_TITLE, windowTitle, AGENT_NAME_CAPACITY);
    LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, AGENT_NAME_CAPACITY);
    registerMainClass(instance);
    if (!createMainWindow(instance)) return 0;
    return runMessageLoop();
}
