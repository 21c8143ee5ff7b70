// Messages and timers as the agent relies on them: its key poll, a 70 ms timer
// with a timer procedure on its hidden window, set again and killed as the box
// comes and goes, goes on under its dialogs, message boxes and tray menu; at
// shutdown WM_CLOSE destroys its window and the quit request ends its loop.
#include "contract.h"
#include "modal_resource.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

constexpr UINT kPoll = 70;
// GetTickCount moves in steps of the system's clock tick (up to 16 ms on
// Windows), so a tick may seem early by that much.
constexpr DWORD kClockStep = 16;
constexpr DWORD kLimit = 5000;  // a slow machine still gets there
constexpr int kQuitCode = 3;    // what the window's WM_DESTROY quits with
const char kClass[] = "TunerpadContractMessages";
const char kBoxCaption[] = "Tunerpad contract box";

// What the window and its dialog received: WM_APP + n as n, a tick as -id
// (through a timer procedure -100 - id), the dialog's messages as 1000 + the
// message, the others as themselves. And when each tick came.
std::vector<long> g_seen;
std::vector<std::pair<long, DWORD>> g_ticks;
std::function<void()> g_onTick;
HWND g_window = nullptr, g_dialog = nullptr;

void tick(HWND h, long code) {
    EXPECT_EQ(g_window, h);
    g_seen.push_back(code);
    g_ticks.push_back({code, GetTickCount()});
    if (g_onTick) g_onTick();
}

LRESULT CALLBACK windowProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg >= WM_APP) g_seen.push_back(static_cast<long>(msg - WM_APP));
    if (msg == WM_CLOSE || msg == WM_DESTROY || msg == WM_NCDESTROY) g_seen.push_back(msg);
    if (msg == WM_TIMER) tick(h, -static_cast<long>(w));
    if (msg == WM_DESTROY) PostQuitMessage(kQuitCode);  // as the agent does
    return msg >= WM_APP || msg == WM_TIMER ? 0 : DefWindowProcA(h, msg, w, l);
}

void CALLBACK timerProc(HWND h, UINT msg, UINT_PTR id, DWORD) {
    EXPECT_EQ(UINT{WM_TIMER}, msg);
    tick(h, -100 - static_cast<long>(id));
}

INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) g_dialog = h;
    if (msg == WM_DESTROY || msg == WM_NCDESTROY) g_seen.push_back(1000 + static_cast<long>(msg));
    return msg == WM_INITDIALOG;
}

// The agent's message loop: it ends with the quit request's code.
WPARAM runLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    EXPECT_EQ(UINT{WM_QUIT}, msg.message);
    return msg.wParam;
}

// When the ticks with this code came, from the `from`th tick of all on.
std::vector<DWORD> ticksOf(long code, size_t from = 0) {
    std::vector<DWORD> at;
    for (size_t i = from; i < g_ticks.size(); ++i)
        if (g_ticks[i].first == code) at.push_back(g_ticks[i].second);
    return at;
}

// The k-th tick after `start` comes no sooner than k periods after it;
// missed ticks are dropped, never made up.
void expectPeriod(const std::vector<DWORD>& at, DWORD start, UINT period) {
    for (size_t k = 0; k < at.size(); ++k) EXPECT_GE(at[k] - start + kClockStep, (k + 1) * period) << "tick " << k + 1;
}

class Messages : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_seen.clear();
        g_ticks.clear();
        g_onTick = nullptr;
        ASSERT_TRUE(contract::registerWindowClass(kClass, windowProc));
        g_window = CreateWindowExA(0, kClass, "Messages", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                   contract::testModule(), nullptr);
        ASSERT_NE(nullptr, g_window);
    }
    void TearDown() override {
        g_onTick = nullptr;
        if (IsWindow(g_window)) DestroyWindow(g_window);
        UnregisterClassA(kClass, contract::testModule());
    }
    static void post(long n) { ASSERT_TRUE(PostMessageA(g_window, WM_APP + static_cast<UINT>(n), 0, 0)); }
    static INT_PTR showDialog() {
        return DialogBoxParamA(contract::testModule(), MAKEINTRESOURCEA(IDD_MODAL_TICKS), g_window, dialogProc, 0);
    }
};

class Timers : public Messages {};

TEST_F(Messages, SentRunsAtOncePostedInOrderThenTimersAndQuitAfterEveryPostedOne) {
    ASSERT_NE(0u, SetTimer(g_window, 1, 10, nullptr));
    ASSERT_NE(0u, SetTimer(g_window, 2, 10, nullptr));
    Sleep(10 + kClockStep);  // both are due: their ticks wait to be fetched
    EXPECT_TRUE(KillTimer(g_window, 2));  // even so that one never comes
    EXPECT_FALSE(KillTimer(g_window, 2));
    post(1);
    post(2);
    EXPECT_EQ(0, SendMessageA(g_window, WM_APP + 3, 0, 0));
    EXPECT_EQ(std::vector<long>{3}, g_seen);
    ASSERT_TRUE(contract::pumpUntil([] { return g_seen.size() >= 4; }, kLimit));
    EXPECT_EQ((std::vector<long>{3, 1, 2, -1}), g_seen);
    EXPECT_TRUE(KillTimer(g_window, 1));

    // The quit request waits for what was posted, even after it.
    g_seen.clear();
    post(4);
    PostQuitMessage(7);
    post(5);
    EXPECT_EQ(WPARAM{7}, runLoop());
    EXPECT_EQ((std::vector<long>{4, 5}), g_seen);
}

// Closing through DefWindowProc destroys the window at once: WM_CLOSE,
// WM_DESTROY, WM_NCDESTROY. Its timers and the messages still posted to it
// go with it; the quit request its WM_DESTROY made ends the loop.
TEST_F(Messages, CloseDestroysTheWindowAndWhatWasPostedToItThenTheLoopQuits) {
    ASSERT_NE(0u, SetTimer(g_window, 1, 10, nullptr));
    post(1);
    ASSERT_TRUE(PostMessageA(g_window, WM_CLOSE, 0, 0));
    post(2);
    EXPECT_EQ(WPARAM{kQuitCode}, runLoop());
    EXPECT_EQ((std::vector<long>{1, WM_CLOSE, WM_DESTROY, WM_NCDESTROY}), g_seen);
    EXPECT_FALSE(IsWindow(g_window));
    EXPECT_FALSE(KillTimer(g_window, 1));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(g_window, WM_APP, 0, 0));
    EXPECT_EQ(DWORD{ERROR_INVALID_WINDOW_HANDLE}, GetLastError());
}

// A quit request ends a dialog; so does closing its owner (WM_CLOSE sent
// from outside, as the uninstaller closes the agent), which destroys the
// dialog first. DialogBoxParamA returns and the loop outside quits.
TEST_F(Messages, QuittingOrClosingTheOwnerEndsTheDialogThenTheLoop) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "owner closed" : "quit requested");
        g_seen.clear();
        int ticks = 0;
        g_onTick = [&] {
            if (++ticks == 1 && close) SendMessageA(g_window, WM_CLOSE, 0, 0);
            if (ticks == 1 && !close) PostQuitMessage(5);
        };
        ASSERT_NE(0u, SetTimer(g_window, 1, kPoll, timerProc));
        showDialog();
        EXPECT_FALSE(IsWindow(g_dialog));
        g_seen.erase(std::remove(g_seen.begin(), g_seen.end(), -101L), g_seen.end());
        EXPECT_EQ((close ? std::vector<long>{WM_CLOSE, 1000 + WM_DESTROY, 1000 + WM_NCDESTROY, WM_DESTROY, WM_NCDESTROY}
                         : std::vector<long>{1000 + WM_DESTROY, 1000 + WM_NCDESTROY}),
                  g_seen);
        EXPECT_EQ(WPARAM(close ? kQuitCode : 5), runLoop());
        EXPECT_EQ(!close, IsWindow(g_window) != FALSE);
    }
}

TEST_F(Timers, TicksCarryTheirIdAndNeverComeBeforeThePeriod) {
    const DWORD start = GetTickCount();
    ASSERT_NE(0u, SetTimer(g_window, 1, kPoll, nullptr));
    ASSERT_NE(0u, SetTimer(g_window, 2, 2 * kPoll, timerProc));
    ASSERT_TRUE(contract::pumpUntil([] { return ticksOf(-1).size() >= 3 && ticksOf(-102).size() >= 3; }, kLimit));
    EXPECT_EQ(g_ticks.size(), ticksOf(-1).size() + ticksOf(-102).size());
    expectPeriod(ticksOf(-1), start, kPoll);
    expectPeriod(ticksOf(-102), start, 2 * kPoll);
}

// Setting a timer that runs replaces it: one stream of ticks, the new period
// counted from the moment it was set again.
TEST_F(Timers, SettingTheSameIdAgainReplacesTheTimer) {
    const UINT cases[][2] = {{kPoll, kPoll}, {kPoll, 3 * kPoll}, {60000, kPoll}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " ms, then " << c[1] << " ms");
        g_ticks.clear();
        DWORD renewedAt = 0;
        size_t renewedFrom = 0;
        ASSERT_NE(0u, SetTimer(g_window, 1, c[0], nullptr));
        // Set again from another timer's first tick, before the first one is due.
        ASSERT_NE(0u, SetTimer(g_window, 2, kPoll / 2, nullptr));
        g_onTick = [&] {
            if (g_ticks.back().first != -2 || renewedAt) return;
            KillTimer(g_window, 2);
            renewedFrom = g_ticks.size();
            renewedAt = GetTickCount();
            EXPECT_NE(0u, SetTimer(g_window, 1, c[1], nullptr));
        };
        ASSERT_TRUE(contract::pumpUntil([&] { return renewedAt && ticksOf(-1, renewedFrom).size() >= 3; }, kLimit));
        g_onTick = nullptr;
        EXPECT_TRUE(KillTimer(g_window, 1));
        expectPeriod(ticksOf(-1, renewedFrom), renewedAt, c[1]);
    }
}

// The system's modal loops dispatch the window's timers: the agent's poll
// goes on under its dialogs, under the message boxes the poll itself may show
// over them, and under its tray menu. The test ends each loop from the timer
// as the user would, once a few ticks have come.
TEST_F(Timers, TicksGoOnInsideDialogMessageBoxAndMenuLoops) {
    int ticks = 0;
    INT_PTR boxResult = -1;
    g_onTick = [&] {
        const int tick = ++ticks;  // ticks go on while the box shows
        if (tick == 3) boxResult = MessageBoxA(nullptr, "Polling", kBoxCaption, MB_OKCANCEL);
        if (tick == 6) {  // inside the box, over the dialog
            EXPECT_TRUE(EndDialog(g_dialog, 42));
            EXPECT_TRUE(IsWindow(g_dialog));  // it goes once its loop has its turn again
            EXPECT_FALSE(IsWindowVisible(g_dialog));
            HWND box = FindWindowA("#32770", kBoxCaption);
            EXPECT_NE(nullptr, box);
            SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
        }
        if (tick == 100) KillTimer(g_window, 1);  // never ended: fail, not hang
    };
    ASSERT_NE(0u, SetTimer(g_window, 1, kPoll, timerProc));
    EXPECT_EQ(42, showDialog());
    EXPECT_EQ(IDCANCEL, boxResult);
    EXPECT_FALSE(IsWindow(g_dialog));
    SetLastError(0);  // a dialog that has gone cannot be ended
    EXPECT_FALSE(EndDialog(g_dialog, 1));
    EXPECT_EQ(DWORD{ERROR_INVALID_WINDOW_HANDLE}, GetLastError());

    // The tray menu as the agent opens it, its hidden window in front.
    HMENU menu = CreatePopupMenu();
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING, 1, "Exit"));
    ticks = 0;
    g_onTick = [&] {
        if (++ticks == 1) {  // a menu window shows; the menu cannot be opened again
            EXPECT_NE(nullptr, FindWindowA("#32768", nullptr));
            EXPECT_FALSE(TrackPopupMenu(menu, TPM_RETURNCMD, 10, 10, 0, g_window, nullptr));
            EXPECT_EQ(DWORD{ERROR_POPUP_ALREADY_ACTIVE}, GetLastError());
        }
        if (ticks == 3) {
            EXPECT_TRUE(EndMenu());
        }
        if (ticks == 100) KillTimer(g_window, 1);
    };
    SetForegroundWindow(g_window);
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD, 10, 10, 0, g_window, nullptr));
    EXPECT_GE(ticks, 3);
    DestroyMenu(menu);
}

}  // namespace
