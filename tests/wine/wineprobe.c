/* wineprobe: looks at the desktop from inside a Wine prefix, for the
 * end-to-end tests. Console program; prints what it found on stdout.
 *
 *   wineprobe wait-window CLASS TIMEOUT_MS
 *       Waits until a top-level window of CLASS exists and its process waits
 *       for input (has reached its message loop). Prints "pid=N".
 *       Exit 0 when found, 2 when the time ran out.
 *   wineprobe count-windows CLASS
 *       Prints the number of top-level windows of CLASS. Exit 0.
 *
 * Exit 1 on a usage error.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Matches the harness's polling period. */
#define POLL_MS 100

struct count_request {
    const char *cls;
    int count;
};

static BOOL CALLBACK count_window(HWND hwnd, LPARAM param) {
    struct count_request *req = (struct count_request *)param;
    char name[256];
    if (GetClassNameA(hwnd, name, sizeof name) && strcmp(name, req->cls) == 0) req->count++;
    return TRUE;
}

static int count_windows(const char *cls) {
    struct count_request req = {cls, 0};
    EnumWindows(count_window, (LPARAM)&req);
    printf("count=%d\n", req.count);
    return 0;
}

static int wait_window(const char *cls, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    HWND hwnd;
    while (!(hwnd = FindWindowA(cls, NULL))) {
        if (GetTickCount() - start >= timeout_ms) {
            printf("no window of class \"%s\" within %lu ms\n", cls, (unsigned long)timeout_ms);
            return 2;
        }
        Sleep(POLL_MS);
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (!process) {
        printf("pid=%lu cannot be opened (error %lu)\n", (unsigned long)pid, (unsigned long)GetLastError());
        return 2;
    }
    DWORD elapsed = GetTickCount() - start;
    DWORD left = elapsed < timeout_ms ? timeout_ms - elapsed : 0;
    DWORD idle = WaitForInputIdle(process, left);
    CloseHandle(process);
    if (idle != 0) {
        printf("pid=%lu not waiting for input within %lu ms (result %lu)\n", (unsigned long)pid,
               (unsigned long)timeout_ms, (unsigned long)idle);
        return 2;
    }
    printf("pid=%lu\n", (unsigned long)pid);
    return 0;
}

int main(int argc, char **argv) {
    int rc = 1;
    if (argc == 4 && strcmp(argv[1], "wait-window") == 0) {
        rc = wait_window(argv[2], (DWORD)strtoul(argv[3], NULL, 10));
    } else if (argc == 3 && strcmp(argv[1], "count-windows") == 0) {
        rc = count_windows(argv[2]);
    } else {
        fprintf(stderr, "usage: wineprobe wait-window CLASS TIMEOUT_MS | count-windows CLASS\n");
    }
    fflush(stdout);
    return rc;
}
