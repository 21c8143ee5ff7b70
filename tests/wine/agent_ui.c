/* agent_ui: looks at and works the agent's dialogs, menu and pointer from
 * inside a Wine prefix, for the end-to-end tests. Console program; prints
 * what it found on stdout, one fact a line.
 *
 *   agent_ui metrics
 *       Prints "cxfullscreen=N cyfullscreen=N cxscreen=N cyscreen=N".
 *   agent_ui cursor
 *       Prints "cursor=X,Y" (GetCursorPos).
 *   agent_ui wait-title TITLE TIMEOUT_MS
 *       Waits until a visible top-level window titled TITLE exists and its
 *       process waits for input, then describes it and its children:
 *         window 0x.. pid N class "C" rect L,T,R,B topmost 0|1 foreground 0|1
 *         control ID class "C" text "T" rect L,T,R,B style 0x.. icon 0|1 fits 0|1
 *       "fits" tells whether a static text (word-wrapped) or a check box's
 *       label (one line beside its box) fits its control, drawn in the
 *       control's own font (else Arial, 8 points); other controls give 1.
 *       Exit 2 when the time ran out.
 *   agent_ui wait-class CLASS TIMEOUT_MS
 *       The same for the first visible top-level window of CLASS.
 *   agent_ui wait-gone TITLE TIMEOUT_MS
 *       Waits until no window titled TITLE exists. Exit 2 when it stays.
 *   agent_ui combo TITLE ID
 *       The items of combo box ID in the window titled TITLE:
 *         count=N selected=I
 *         item I "TEXT"
 *   agent_ui select TITLE ID INDEX
 *       Selects item INDEX of combo box ID (CB_SETCURSEL), then prints the
 *       selection read back as "selected=I".
 *   agent_ui click TITLE ID
 *       Clicks button ID of the window titled TITLE (BM_CLICK, posted, so a
 *       dialog that ends on it does not hold this program).
 *   agent_ui close TITLE
 *       Posts WM_CLOSE to the window titled TITLE, as its close box does.
 *   agent_ui tray-icon MS
 *       Puts an icon of its own (the system's information icon) in the
 *       notification area for MS milliseconds, then takes it away. Prints
 *       "icon up" once it is there.
 *   agent_ui type VK [VK...]
 *       Types keys into whatever has the keyboard (keybd_event): each key
 *       down and up in turn. VK is a virtual-key number (decimal or 0x..).
 *
 * Exit 0 when done, 1 on a usage error, 2 when a window or control is
 * missing, 3 when a control did not do what was asked.
 */
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Matches the harness's polling period. */
#define POLL_MS 100
#define TEXT_SIZE 256

enum { EXIT_USAGE = 1, EXIT_MISSING = 2, EXIT_FAILED = 3 };

struct find_request {
    const char *cls;
    const char *title;
    HWND found;
};

static BOOL CALLBACK find_visible(HWND hwnd, LPARAM param) {
    struct find_request *req = (struct find_request *)param;
    char text[TEXT_SIZE];
    if (!IsWindowVisible(hwnd)) return TRUE;
    if (req->cls && (!GetClassNameA(hwnd, text, sizeof text) || strcmp(text, req->cls) != 0)) return TRUE;
    if (req->title) {
        text[0] = '\0';
        GetWindowTextA(hwnd, text, sizeof text);
        if (strcmp(text, req->title) != 0) return TRUE;
    }
    req->found = hwnd;
    return FALSE;
}

static HWND find_top(const char *cls, const char *title) {
    struct find_request req = {cls, title, NULL};
    EnumWindows(find_visible, (LPARAM)&req);
    return req.found;
}

static void print_rect(HWND hwnd) {
    RECT r;
    GetWindowRect(hwnd, &r);
    printf(" rect %ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
}

/* The agent's dialog templates ask for this font. */
#define DIALOG_FONT "Arial"
#define DIALOG_FONT_POINTS 8

/* Whether `text` fits a client area of width x height when the control
   draws it in its own font (the dialog font when it has none): a static
   text word-wrapped, a check box's label on one line beside its box. */
static int text_fits(HWND control, const char *text, LONG style, int width, int height, int checkBox) {
    HDC dc = GetDC(NULL);
    HFONT own = (HFONT)SendMessageA(control, WM_GETFONT, 0, 0);
    HFONT made = own ? NULL
                     : CreateFontA(-MulDiv(DIALOG_FONT_POINTS, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                                   FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                   CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, DIALOG_FONT);
    HGDIOBJ old = SelectObject(dc, own ? own : made);
    RECT r = {0, 0, width, 0};
    UINT format = DT_CALCRECT | DT_EXPANDTABS;
    if (checkBox) {
        format |= DT_SINGLELINE;
        /* The box, and the gap before the label. */
        width -= GetSystemMetrics(SM_CXMENUCHECK) + GetSystemMetrics(SM_CXEDGE);
    } else {
        format |= DT_WORDBREAK | ((style & SS_NOPREFIX) ? DT_NOPREFIX : 0);
    }
    DrawTextA(dc, text, -1, &r, format);
    SelectObject(dc, old);
    if (made) DeleteObject(made);
    ReleaseDC(NULL, dc);
    return r.right <= width && r.bottom <= height;
}

static BOOL CALLBACK describe_child(HWND hwnd, LPARAM param) {
    char cls[TEXT_SIZE] = "", text[TEXT_SIZE] = "";
    (void)param;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, text, sizeof text);
    LONG style = GetWindowLongA(hwnd, GWL_STYLE);
    int icon = 0, fits = 1;
    if (strcmp(cls, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
        icon = SendMessageA(hwnd, STM_GETICON, 0, 0) != 0;
    } else if (strcmp(cls, "Static") == 0 && (style & SS_TYPEMASK) <= SS_RIGHT) {
        RECT client;
        GetClientRect(hwnd, &client);
        fits = text_fits(hwnd, text, style, client.right, client.bottom, 0);
    } else if (strcmp(cls, "Button") == 0 &&
               ((style & BS_TYPEMASK) == BS_CHECKBOX || (style & BS_TYPEMASK) == BS_AUTOCHECKBOX)) {
        RECT client;
        GetClientRect(hwnd, &client);
        fits = text_fits(hwnd, text, style, client.right, client.bottom, 1);
    }
    printf("control %d class \"%s\" text \"%s\"", GetDlgCtrlID(hwnd), cls, text);
    print_rect(hwnd);
    printf(" style 0x%08lx icon %d fits %d\n", (unsigned long)style, icon, fits);
    return TRUE;
}

static void describe(HWND hwnd) {
    char cls[TEXT_SIZE] = "", title[TEXT_SIZE] = "";
    DWORD pid = 0;
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    GetWindowThreadProcessId(hwnd, &pid);
    printf("window 0x%llx pid %lu class \"%s\" title \"%s\"", (unsigned long long)(ULONG_PTR)hwnd,
           (unsigned long)pid, cls, title);
    print_rect(hwnd);
    printf(" topmost %d foreground %d\n", (GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0,
           GetForegroundWindow() == hwnd);
    EnumChildWindows(hwnd, describe_child, 0);
}

static int wait_window(const char *cls, const char *title, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    HWND hwnd;
    while (!(hwnd = find_top(cls, title))) {
        if (GetTickCount() - start >= timeout_ms) {
            printf("no visible window %s \"%s\" within %lu ms\n", cls ? "of class" : "titled", cls ? cls : title,
                   (unsigned long)timeout_ms);
            return EXIT_MISSING;
        }
        Sleep(POLL_MS);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process) {
        DWORD elapsed = GetTickCount() - start;
        WaitForInputIdle(process, elapsed < timeout_ms ? timeout_ms - elapsed : 0);
        CloseHandle(process);
    }
    describe(hwnd);
    return 0;
}

static int wait_gone(const char *title, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    while (FindWindowA(NULL, title)) {
        if (GetTickCount() - start >= timeout_ms) {
            printf("window \"%s\" still there after %lu ms\n", title, (unsigned long)timeout_ms);
            return EXIT_MISSING;
        }
        Sleep(POLL_MS);
    }
    printf("gone\n");
    return 0;
}

static HWND control(const char *title, const char *id_text) {
    HWND dialog = FindWindowA(NULL, title);
    if (!dialog) {
        printf("no window \"%s\"\n", title);
        return NULL;
    }
    HWND item = GetDlgItem(dialog, atoi(id_text));
    if (!item) printf("window \"%s\" has no control %s\n", title, id_text);
    return item;
}

static int combo(const char *title, const char *id_text) {
    HWND box = control(title, id_text);
    if (!box) return EXIT_MISSING;
    LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
    printf("count=%ld selected=%ld\n", (long)count, (long)SendMessageA(box, CB_GETCURSEL, 0, 0));
    for (LRESULT i = 0; i < count; i++) {
        /* Asked for in UTF-16: Wine hands an ANSI caller in another process
           the combo box's Unicode text unconverted. */
        WCHAR wide[TEXT_SIZE] = L"";
        char text[TEXT_SIZE] = "";
        if (SendMessageW(box, CB_GETLBTEXTLEN, i, 0) < TEXT_SIZE) SendMessageW(box, CB_GETLBTEXT, i, (LPARAM)wide);
        WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, NULL, NULL);
        printf("item %ld \"%s\"\n", (long)i, text);
    }
    return 0;
}

static int select_item(const char *title, const char *id_text, int index) {
    HWND box = control(title, id_text);
    if (!box) return EXIT_MISSING;
    SendMessageA(box, CB_SETCURSEL, index, 0);
    LRESULT now = SendMessageA(box, CB_GETCURSEL, 0, 0);
    printf("selected=%ld\n", (long)now);
    return now == index ? 0 : EXIT_FAILED;
}

static int click(const char *title, const char *id_text) {
    HWND button = control(title, id_text);
    if (!button) return EXIT_MISSING;
    if (!PostMessageA(button, BM_CLICK, 0, 0)) {
        printf("PostMessage failed (error %lu)\n", (unsigned long)GetLastError());
        return EXIT_FAILED;
    }
    printf("clicked %s\n", id_text);
    return 0;
}

static int close_window(const char *title) {
    HWND hwnd = FindWindowA(NULL, title);
    if (!hwnd) {
        printf("no window \"%s\"\n", title);
        return EXIT_MISSING;
    }
    if (!PostMessageA(hwnd, WM_CLOSE, 0, 0)) {
        printf("PostMessage failed (error %lu)\n", (unsigned long)GetLastError());
        return EXIT_FAILED;
    }
    printf("closed\n");
    return 0;
}

static int type_keys(char **keys, int count) {
    for (int i = 0; i < count; i++) {
        char *end;
        unsigned long vk = strtoul(keys[i], &end, 0);
        if (*end || vk == 0 || vk > 0xFE) return EXIT_USAGE;
    }
    for (int i = 0; i < count; i++) {
        BYTE vk = (BYTE)strtoul(keys[i], NULL, 0);
        BYTE scan = (BYTE)MapVirtualKeyA(vk, 0);
        keybd_event(vk, scan, 0, 0);
        keybd_event(vk, scan, KEYEVENTF_KEYUP, 0);
        printf("typed 0x%02x\n", vk);
    }
    return 0;
}

#define OWN_TRAY_ID 1

static LRESULT CALLBACK tray_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_TIMER) {
        NOTIFYICONDATAA data;
        memset(&data, 0, sizeof data);
        data.cbSize = sizeof data;
        data.hWnd = hwnd;
        data.uID = OWN_TRAY_ID;
        Shell_NotifyIconA(NIM_DELETE, &data);
        KillTimer(hwnd, 1);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

static int tray_icon(DWORD ms) {
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = tray_proc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "agent_ui tray";
    if (!RegisterClassA(&wc)) return EXIT_FAILED;
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "agent_ui tray", 0, 0, 0, 0, 0, NULL, NULL, wc.hInstance, NULL);
    if (!hwnd) return EXIT_FAILED;
    NOTIFYICONDATAA data;
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = hwnd;
    data.uID = OWN_TRAY_ID;
    data.uFlags = NIF_ICON | NIF_TIP;
    data.hIcon = LoadIconA(NULL, (LPCSTR)IDI_INFORMATION);
    strcpy(data.szTip, "agent_ui");
    if (!Shell_NotifyIconA(NIM_ADD, &data)) {
        printf("Shell_NotifyIcon failed\n");
        return EXIT_FAILED;
    }
    printf("icon up\n");
    fflush(stdout);
    SetTimer(hwnd, 1, ms, NULL);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) DispatchMessageA(&msg);
    return 0;
}

int main(int argc, char **argv) {
    int rc = EXIT_USAGE;
    const char *command = argc > 1 ? argv[1] : "";
    if (argc == 2 && strcmp(command, "metrics") == 0) {
        printf("cxfullscreen=%d cyfullscreen=%d cxscreen=%d cyscreen=%d\n", GetSystemMetrics(SM_CXFULLSCREEN),
               GetSystemMetrics(SM_CYFULLSCREEN), GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        rc = 0;
    } else if (argc == 2 && strcmp(command, "cursor") == 0) {
        POINT p;
        rc = GetCursorPos(&p) ? 0 : EXIT_FAILED;
        if (rc == 0) printf("cursor=%ld,%ld\n", p.x, p.y);
    } else if (argc == 4 && strcmp(command, "wait-title") == 0) {
        rc = wait_window(NULL, argv[2], (DWORD)strtoul(argv[3], NULL, 10));
    } else if (argc == 4 && strcmp(command, "wait-class") == 0) {
        rc = wait_window(argv[2], NULL, (DWORD)strtoul(argv[3], NULL, 10));
    } else if (argc == 4 && strcmp(command, "wait-gone") == 0) {
        rc = wait_gone(argv[2], (DWORD)strtoul(argv[3], NULL, 10));
    } else if (argc == 4 && strcmp(command, "combo") == 0) {
        rc = combo(argv[2], argv[3]);
    } else if (argc == 5 && strcmp(command, "select") == 0) {
        rc = select_item(argv[2], argv[3], atoi(argv[4]));
    } else if (argc == 4 && strcmp(command, "click") == 0) {
        rc = click(argv[2], argv[3]);
    } else if (argc == 3 && strcmp(command, "close") == 0) {
        rc = close_window(argv[2]);
    } else if (argc == 3 && strcmp(command, "tray-icon") == 0) {
        rc = tray_icon((DWORD)strtoul(argv[2], NULL, 10));
    } else if (argc >= 3 && strcmp(command, "type") == 0) {
        rc = type_keys(argv + 2, argc - 2);
    } else {
        fprintf(stderr,
                "usage: agent_ui metrics | cursor | wait-title TITLE MS | wait-class CLASS MS\n"
                "       | wait-gone TITLE MS | combo TITLE ID | select TITLE ID INDEX | click TITLE ID\n"
                "       | close TITLE | tray-icon MS | type VK [VK...]\n");
    }
    fflush(stdout);
    return rc;
}
