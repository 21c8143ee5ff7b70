/* idletimer: the least a Windows program that wakes every 70 ms can cost,
 * the yardstick for the agent's idle cost: one hidden window, one SetTimer
 * and the message loop, with nothing done on a tick.
 *
 *   idletimer [PERIOD_MS]
 *
 * PERIOD_MS is 70 unless given; 0 sets no timer, leaving a program that only
 * waits for messages. The window's class is "IdleTimer"; the program ends
 * when the window is closed. Exit 0, or 1 on a bad argument or when the
 * window or the timer cannot be made.
 */
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#define DEFAULT_PERIOD_MS 70
#define TIMER_ID 1
#define MAX_DIGITS 10 /* USER_TIMER_MAXIMUM, 0x7FFFFFFF, has 10 digits */
#define EXIT_FAILED 1

static const char WINDOW_CLASS[] = "IdleTimer";

static LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_TIMER:
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

/* The period from the command line: digits only, at most USER_TIMER_MAXIMUM. */
static BOOL parse_period(const char *text, UINT *period) {
    while (*text == ' ' || *text == '\t') text++;
    size_t n = strspn(text, "0123456789");
    const char *rest = text + n;
    while (*rest == ' ' || *rest == '\t') rest++;
    if (n == 0) {
        *period = DEFAULT_PERIOD_MS;
        return *rest == '\0';
    }
    if (n > MAX_DIGITS || *rest != '\0') return FALSE;
    unsigned long long value = strtoull(text, NULL, 10);
    if (value > USER_TIMER_MAXIMUM) return FALSE;
    *period = (UINT)value;
    return TRUE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show) {
    (void)previous;
    (void)show;
    UINT period;
    if (!parse_period(command_line, &period)) return EXIT_FAILED;

    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = window_proc;
    wc.hInstance = instance;
    wc.lpszClassName = WINDOW_CLASS;
    if (!RegisterClassA(&wc)) return EXIT_FAILED;
    /* Hidden, as the agent's main window is. */
    HWND hwnd = CreateWindowExA(0, WINDOW_CLASS, WINDOW_CLASS, WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL, instance, NULL);
    if (!hwnd) return EXIT_FAILED;
    if (period && !SetTimer(hwnd, TIMER_ID, period, NULL)) {
        DestroyWindow(hwnd);
        return EXIT_FAILED;
    }
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    /* Gone already unless the loop failed; the timer goes with it. */
    if (IsWindow(hwnd)) DestroyWindow(hwnd);
    return 0;
}
