/* setup_wizard: works the uninstall wizard from inside a Wine prefix, for
 * the setup's end-to-end test. Console program; prints what it found.
 *
 *   setup_wizard next TITLE TIMEOUT_MS ID...
 *       Waits until the window TITLE is visible and shows every check box ID,
 *       prints "ID=checked" or "ID=unchecked" for each as found, clicks each
 *       unchecked one, and presses Next once all are checked.
 *   setup_wizard wait-text TITLE TIMEOUT_MS TEXT
 *       Waits until the window TITLE is visible and shows a control whose
 *       text is exactly TEXT.
 *   setup_wizard finish TITLE
 *       Presses Finish.
 *
 * Exit 0; 1 on a usage error; 2 when the window or control did not show in
 * time; 3 when a box stayed unchecked or a button could not be pressed.
 */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define POLL_MS 100
#define TEXT_CAPACITY 512
#define EXIT_USAGE 1
#define EXIT_NOT_SHOWN 2
#define EXIT_FAILED 3

struct control_search {
    int id;
    const char *text;
    HWND found;
};

/* Controls sit on the wizard's pages, which are children of the sheet. */
static BOOL CALLBACK match_control(HWND child, LPARAM param) {
    struct control_search *search = (struct control_search *)param;
    if (!IsWindowVisible(child)) return TRUE;
    if (search->text) {
        char text[TEXT_CAPACITY];
        if (GetWindowTextA(child, text, sizeof text) < 0 || strcmp(text, search->text) != 0) return TRUE;
    } else if (GetDlgCtrlID(child) != search->id) {
        return TRUE;
    }
    search->found = child;
    return FALSE;
}

static HWND find_control(HWND window, int id, const char *text) {
    struct control_search search = {id, text, NULL};
    EnumChildWindows(window, match_control, (LPARAM)&search);
    return search.found;
}

static HWND visible_window(const char *title) {
    HWND window = FindWindowA(NULL, title);
    return window && IsWindowVisible(window) ? window : NULL;
}

/* The window once it is visible and shows every control asked for. */
static HWND wait_window(const char *title, DWORD timeout_ms, int id_count, char **ids, const char *text) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = visible_window(title);
        int missing = window == NULL || (text && !find_control(window, 0, text));
        for (int i = 0; window && !missing && i < id_count; ++i)
            missing = find_control(window, atoi(ids[i]), NULL) == NULL;
        if (!missing) return window;
        if (GetTickCount() - start >= timeout_ms) return NULL;
        Sleep(POLL_MS);
    }
}

static int press(HWND window, WPARAM button, const char *name) {
    if (!PostMessageA(window, PSM_PRESSBUTTON, button, 0)) {
        printf("%s could not be pressed (error %lu)\n", name, (unsigned long)GetLastError());
        return EXIT_FAILED;
    }
    printf("pressed %s\n", name);
    return 0;
}

static int next(const char *title, DWORD timeout_ms, int id_count, char **ids) {
    HWND window = wait_window(title, timeout_ms, id_count, ids, NULL);
    if (!window) {
        printf("no visible \"%s\" with its check boxes within %lu ms\n", title, (unsigned long)timeout_ms);
        return EXIT_NOT_SHOWN;
    }
    for (int i = 0; i < id_count; ++i) {
        HWND box = find_control(window, atoi(ids[i]), NULL);
        int checked = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED;
        printf("%s=%s\n", ids[i], checked ? "checked" : "unchecked");
        if (!checked) SendMessageA(box, BM_CLICK, 0, 0);
        if (SendMessageA(box, BM_GETCHECK, 0, 0) != BST_CHECKED) {
            printf("%s stays unchecked\n", ids[i]);
            return EXIT_FAILED;
        }
    }
    return press(window, PSBTN_NEXT, "Next");
}

int main(int argc, char **argv) {
    int rc = EXIT_USAGE;
    if (argc >= 5 && strcmp(argv[1], "next") == 0) {
        rc = next(argv[2], (DWORD)strtoul(argv[3], NULL, 10), argc - 4, argv + 4);
    } else if (argc == 5 && strcmp(argv[1], "wait-text") == 0) {
        DWORD timeout_ms = (DWORD)strtoul(argv[3], NULL, 10);
        rc = wait_window(argv[2], timeout_ms, 0, NULL, argv[4]) ? 0 : EXIT_NOT_SHOWN;
        if (rc) printf("no visible \"%s\" showing \"%s\" within %lu ms\n", argv[2], argv[4], (unsigned long)timeout_ms);
    } else if (argc == 3 && strcmp(argv[1], "finish") == 0) {
        HWND window = visible_window(argv[2]);
        rc = window ? press(window, PSBTN_FINISH, "Finish") : EXIT_NOT_SHOWN;
        if (!window) printf("no visible \"%s\"\n", argv[2]);
    } else {
        fprintf(stderr, "usage: setup_wizard next TITLE TIMEOUT_MS ID... | wait-text TITLE TIMEOUT_MS TEXT"
                        " | finish TITLE\n");
    }
    fflush(stdout);
    return rc;
}
