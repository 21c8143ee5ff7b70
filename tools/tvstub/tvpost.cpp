// tvpost: finds a TV application's window and sends it what the agent sends,
// for tests that drive tvstub (or any window) from inside a Wine prefix.
//
//   tvpost [-w MS] find WINDOW
//   tvpost [-w MS] post WINDOW MSG WPARAM LPARAM
//   tvpost [-w MS] post-child WINDOW MSG WPARAM LPARAM
//   tvpost [-w MS] chord WINDOW KEY [KEY...]
//
// WINDOW is a window class name or else an exact title, as FindWindowA takes
// them. post-child posts to the window's first child. chord brings the window
// to the foreground and types the keys with keybd_event: each down in order,
// then each up in reverse order. MSG, WPARAM and LPARAM are numbers (decimal,
// or hexadecimal with 0x). A KEY is ctrl, shift or alt, a single letter or
// digit for its key, or a virtual-key number.
//
// -w MS waits up to MS milliseconds for the window (and child) to exist and
// its process to wait for input; without it the window must be there.
//
// Prints the window found (handle, pid, class, title) and what was sent.
// Exit 0 when sent, 1 on a usage error, 2 when there is no such window,
// 3 when it could not be sent.
#include <windows.h>
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int EXIT_USAGE = 1;
const int EXIT_NO_WINDOW = 2;
const int EXIT_NOT_SENT = 3;

const DWORD POLL_MS = 100;
const DWORD FOREGROUND_WAIT_MS = 5000;
const int MAX_CHORD_KEYS = 8;
const int TEXT_SIZE = 256;
const UINT VK_TO_SCAN_CODE = 0;  // MapVirtualKey's MAPVK_VK_TO_VSC

const char USAGE[] =
    "usage: tvpost [-w MS] find WINDOW\n"
    "       tvpost [-w MS] post WINDOW MSG WPARAM LPARAM\n"
    "       tvpost [-w MS] post-child WINDOW MSG WPARAM LPARAM\n"
    "       tvpost [-w MS] chord WINDOW KEY [KEY...]\n";

int usage() {
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}

bool parse_number(const char *text, unsigned long long *out) {
    char *end;
    errno = 0;
    *out = strtoull(text, &end, 0);
    return *text && !*end && errno == 0;
}

bool parse_key(const char *text, BYTE *vk) {
    static const struct {
        const char *name;
        BYTE vk;
    } NAMES[] = {{"ctrl", VK_CONTROL}, {"shift", VK_SHIFT}, {"alt", VK_MENU}};
    for (const auto &n : NAMES) {
        if (lstrcmpiA(text, n.name) == 0) {
            *vk = n.vk;
            return true;
        }
    }
    if (text[0] && !text[1] && isalnum((unsigned char)text[0])) {
        *vk = (BYTE)toupper((unsigned char)text[0]);
        return true;
    }
    unsigned long long n;
    if (!parse_number(text, &n) || n == 0 || n > 0xFE) return false;
    *vk = (BYTE)n;
    return true;
}

HWND find_window(const char *name) {
    HWND hwnd = FindWindowA(name, nullptr);
    return hwnd ? hwnd : FindWindowA(nullptr, name);
}

// Polls until `find` gives a window or the deadline passes.
template <typename Find>
HWND wait_for(Find find, DWORD start, DWORD wait_ms) {
    for (;;) {
        HWND hwnd = find();
        if (hwnd || GetTickCount() - start >= wait_ms) return hwnd;
        Sleep(POLL_MS);
    }
}

void wait_input_idle(HWND hwnd, DWORD start, DWORD wait_ms) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) return;
    DWORD elapsed = GetTickCount() - start;
    WaitForInputIdle(process, elapsed < wait_ms ? wait_ms - elapsed : 0);
    CloseHandle(process);
}

void describe(const char *what, HWND hwnd) {
    char cls[TEXT_SIZE] = "", title[TEXT_SIZE] = "";
    GetClassNameA(hwnd, cls, sizeof cls);
    GetWindowTextA(hwnd, title, sizeof title);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    printf("%s 0x%llx pid %lu class \"%s\" title \"%s\"\n", what, (unsigned long long)(ULONG_PTR)hwnd,
           (unsigned long)pid, cls, title);
}

bool bring_to_foreground(HWND hwnd) {
    SetForegroundWindow(hwnd);
    DWORD start = GetTickCount();
    while (GetForegroundWindow() != hwnd) {
        if (GetTickCount() - start >= FOREGROUND_WAIT_MS) return false;
        Sleep(POLL_MS);
    }
    return true;
}

struct Request {
    enum { Find, Post, Chord } kind;
    bool to_child;
    unsigned long long msg, wp, lp;
    BYTE keys[MAX_CHORD_KEYS];
    int key_count;
};

// Reads the command's arguments; false on a usage error.
bool parse_request(const char *command, char **args, int count, Request *r) {
    r->to_child = strcmp(command, "post-child") == 0;
    if (strcmp(command, "find") == 0) {
        r->kind = Request::Find;
        return count == 0;
    }
    if (r->to_child || strcmp(command, "post") == 0) {
        r->kind = Request::Post;
        return count == 3 && parse_number(args[0], &r->msg) && r->msg <= 0xFFFF && parse_number(args[1], &r->wp) &&
               parse_number(args[2], &r->lp);
    }
    if (strcmp(command, "chord") == 0) {
        r->kind = Request::Chord;
        if (count < 1 || count > MAX_CHORD_KEYS) return false;
        for (int i = 0; i < count; i++) {
            if (!parse_key(args[i], &r->keys[i])) return false;
        }
        r->key_count = count;
        return true;
    }
    return false;
}

int post(HWND hwnd, const Request &r) {
    if (!PostMessageA(hwnd, (UINT)r.msg, (WPARAM)r.wp, (LPARAM)r.lp)) {
        printf("PostMessage failed (error %lu)\n", (unsigned long)GetLastError());
        return EXIT_NOT_SENT;
    }
    printf("posted 0x%llx 0x%llx 0x%llx\n", r.msg, r.wp, r.lp);
    return 0;
}

int chord(HWND hwnd, const Request &r) {
    if (!bring_to_foreground(hwnd)) {
        printf("the window did not come to the foreground within %lu ms\n", (unsigned long)FOREGROUND_WAIT_MS);
        return EXIT_NOT_SENT;
    }
    for (int i = 0; i < r.key_count; i++)
        keybd_event(r.keys[i], (BYTE)MapVirtualKeyA(r.keys[i], VK_TO_SCAN_CODE), 0, 0);
    for (int i = r.key_count - 1; i >= 0; i--)
        keybd_event(r.keys[i], (BYTE)MapVirtualKeyA(r.keys[i], VK_TO_SCAN_CODE), KEYEVENTF_KEYUP, 0);
    printf("typed");
    for (int i = 0; i < r.key_count; i++) printf(" 0x%02x", r.keys[i]);
    printf("\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    int at = 1;
    unsigned long long wait_ms = 0;
    if (at + 1 < argc && strcmp(argv[at], "-w") == 0) {
        if (!parse_number(argv[at + 1], &wait_ms) || wait_ms > MAXDWORD) return usage();
        at += 2;
    }
    Request request = {};
    if (argc - at < 2 || !parse_request(argv[at], argv + at + 2, argc - at - 2, &request)) return usage();
    const char *name = argv[at + 1];

    DWORD start = GetTickCount();
    HWND hwnd = wait_for([name] { return find_window(name); }, start, (DWORD)wait_ms);
    if (!hwnd) {
        printf("no window \"%s\"\n", name);
        return EXIT_NO_WINDOW;
    }
    wait_input_idle(hwnd, start, (DWORD)wait_ms);
    describe("window", hwnd);
    if (request.to_child) {
        HWND parent = hwnd;
        hwnd = wait_for([parent] { return GetWindow(parent, GW_CHILD); }, start, (DWORD)wait_ms);
        if (!hwnd) {
            printf("window \"%s\" has no child\n", name);
            return EXIT_NO_WINDOW;
        }
        describe("child", hwnd);
    }
    switch (request.kind) {
    case Request::Post:
        return post(hwnd, request);
    case Request::Chord:
        return chord(hwnd, request);
    case Request::Find:
        break;
    }
    return 0;
}
