/* uninstaller_stub: stands in for an uninstaller that clearway starts, and
 * watches the wizard for the end-to-end tests. A windowless GUI program, so
 * no console opens when clearway starts it.
 *
 *   uninstaller_stub run LOGFILE NAME SLEEP_MS [TITLE...]
 *       Appends one line when it starts and one when it ends, SLEEP_MS later:
 *           NAME start TICK "TITLE"=shown|hidden|none ...
 *           NAME end TICK
 *       TICK is GetTickCount, one clock for every process of the prefix. For
 *       each TITLE the start line tells whether a top-level window of that
 *       title exists and is visible.
 *   uninstaller_stub wait-shown TITLE TIMEOUT_MS [TEXT]
 *       Waits until a top-level window of that title is visible and, with
 *       TEXT, holds a visible control of exactly that text.
 *
 * Exit 0; 1 on a usage error or when the log cannot be written; 2 when the
 * window did not show in time.
 */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LINE_CAPACITY 1024
#define POLL_MS 100
#define EXIT_USAGE 1
#define EXIT_NOT_SHOWN 2

static int append_line(const char *path, const char *line) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD length = (DWORD)strlen(line), written = 0;
    BOOL ok = WriteFile(file, line, length, &written, NULL) && written == length;
    CloseHandle(file);
    return ok;
}

static const char *window_state(const char *title) {
    HWND window = FindWindowA(NULL, title);
    if (!window) return "none";
    return IsWindowVisible(window) ? "shown" : "hidden";
}

static int run(const char *log_path, const char *name, DWORD sleep_ms, int title_count, char **titles) {
    char line[LINE_CAPACITY];
    int used = snprintf(line, sizeof line, "%s start %lu", name, (unsigned long)GetTickCount());
    for (int i = 0; i < title_count && used > 0 && used < (int)sizeof line; ++i)
        used += snprintf(line + used, sizeof line - (size_t)used, " \"%s\"=%s", titles[i], window_state(titles[i]));
    if (used < 0 || used + 3 > (int)sizeof line) return EXIT_USAGE;
    strcpy(line + used, "\r\n");
    if (!append_line(log_path, line)) return EXIT_USAGE;

    Sleep(sleep_ms);

    snprintf(line, sizeof line, "%s end %lu\r\n", name, (unsigned long)GetTickCount());
    return append_line(log_path, line) ? 0 : EXIT_USAGE;
}

struct text_search {
    const char *text;
    BOOL found;
};

static BOOL CALLBACK match_text(HWND child, LPARAM param) {
    struct text_search *search = (struct text_search *)param;
    char text[LINE_CAPACITY];
    if (IsWindowVisible(child) && GetWindowTextA(child, text, sizeof text) >= 0 && strcmp(text, search->text) == 0) {
        search->found = TRUE;
        return FALSE;
    }
    return TRUE;
}

static int shows_text(HWND window, const char *text) {
    struct text_search search = {text, FALSE};
    EnumChildWindows(window, match_text, (LPARAM)&search);
    return search.found;
}

static int wait_shown(const char *title, DWORD timeout_ms, const char *text) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(NULL, title);
        if (window && IsWindowVisible(window) && (!text || shows_text(window, text))) return 0;
        if (GetTickCount() - start >= timeout_ms) return EXIT_NOT_SHOWN;
        Sleep(POLL_MS);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)instance;
    (void)previous;
    (void)command_line;
    (void)show;
    if (__argc >= 5 && strcmp(__argv[1], "run") == 0)
        return run(__argv[2], __argv[3], (DWORD)strtoul(__argv[4], NULL, 10), __argc - 5, __argv + 5);
    if ((__argc == 4 || __argc == 5) && strcmp(__argv[1], "wait-shown") == 0)
        return wait_shown(__argv[2], (DWORD)strtoul(__argv[3], NULL, 10), __argc == 5 ? __argv[4] : NULL);
    return EXIT_USAGE;
}
