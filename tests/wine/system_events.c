/* system_events: does to the programs of a Wine prefix what the system and
 * its shell do to every program, for the end-to-end tests. Console program;
 * prints what it did on stdout.
 *
 *   system_events power EVENT TIMEOUT_MS
 *       WM_POWERBROADCAST with wParam EVENT (decimal, or hexadecimal with
 *       0x) and lParam 0, sent to each top-level window in turn as the
 *       system does around a sleep. Returns once every window has handled
 *       it (or TIMEOUT_MS passed for a hung one).
 *   system_events tray-lost CLASS ID
 *       The notification area forgets icon ID of the first top-level window
 *       of CLASS, as a taskbar that went down and came back has lost every
 *       icon. The program is not told.
 *   system_events taskbar-created TIMEOUT_MS
 *       The registered message "TaskbarCreated", sent to each top-level
 *       window as the shell does when its taskbar comes up again.
 *
 * Wine's own shell can neither be restarted under running programs (its
 * desktop window outlives it) nor sends TaskbarCreated, so the tests play
 * its part with tray-lost and taskbar-created.
 *
 * Exit 0 when done, 1 on a usage error, 2 when there is no such window,
 * 3 when the system refused.
 */
#include <windows.h>
#include <shellapi.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { EXIT_USAGE = 1, EXIT_MISSING = 2, EXIT_FAILED = 3 };

static const char TASKBAR_CREATED[] = "TaskbarCreated";

static int usage(void) {
    fputs("usage: system_events power EVENT TIMEOUT_MS | tray-lost CLASS ID | taskbar-created TIMEOUT_MS\n", stderr);
    return EXIT_USAGE;
}

static int parse_number(const char *text, unsigned long *out) {
    char *end;
    errno = 0;
    *out = strtoul(text, &end, 0);
    return *text && !*end && errno == 0;
}

static int send_to_all(UINT msg, WPARAM wparam, DWORD timeout_ms) {
    DWORD_PTR result = 0;
    /* Each window in turn, synchronously: when this returns the windows
     * have acted on it, so what follows is measured from a known moment. */
    if (!SendMessageTimeoutA(HWND_BROADCAST, msg, wparam, 0, SMTO_ABORTIFHUNG, timeout_ms, &result)) {
        printf("send of message 0x%x failed: error %lu\n", msg, GetLastError());
        return EXIT_FAILED;
    }
    printf("sent message 0x%x wParam %lu\n", msg, (unsigned long)wparam);
    return 0;
}

static int tray_lost(const char *cls, UINT id) {
    NOTIFYICONDATAA data;
    HWND owner = FindWindowA(cls, NULL);
    if (!owner) {
        printf("no window of class \"%s\"\n", cls);
        return EXIT_MISSING;
    }
    memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    data.hWnd = owner;
    data.uID = id;
    if (!Shell_NotifyIconA(NIM_DELETE, &data)) {
        printf("the notification area has no icon %u of window %p\n", id, (void *)owner);
        return EXIT_FAILED;
    }
    printf("icon %u of window %p removed\n", id, (void *)owner);
    return 0;
}

int main(int argc, char **argv) {
    unsigned long number, timeout_ms;
    if (argc == 4 && strcmp(argv[1], "power") == 0) {
        if (!parse_number(argv[2], &number) || !parse_number(argv[3], &timeout_ms)) return usage();
        return send_to_all(WM_POWERBROADCAST, (WPARAM)number, (DWORD)timeout_ms);
    }
    if (argc == 4 && strcmp(argv[1], "tray-lost") == 0) {
        if (!parse_number(argv[3], &number)) return usage();
        return tray_lost(argv[2], (UINT)number);
    }
    if (argc == 3 && strcmp(argv[1], "taskbar-created") == 0) {
        UINT msg;
        if (!parse_number(argv[2], &timeout_ms)) return usage();
        msg = RegisterWindowMessageA(TASKBAR_CREATED);
        if (!msg) {
            printf("RegisterWindowMessage failed: error %lu\n", GetLastError());
            return EXIT_FAILED;
        }
        return send_to_all(msg, 0, (DWORD)timeout_ms);
    }
    return usage();
}
