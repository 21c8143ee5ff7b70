// Timers as the agent uses them: its key poll is a 70 ms timer with a timer
// procedure on its hidden window, armed again and killed as the box comes and
// goes, and it keeps polling while a dialog, a message box or its tray menu is up.
#include "contract.h"
#include "modal_resource.h"

#include <functional>
#include <vector>

namespace {

constexpr UINT kPoll = 70;
// GetTickCount moves in steps of the system's clock tick (up to 16 ms on
// Windows), so a tick may seem early by that much.
constexpr DWORD kClockStep = 16;
constexpr DWORD kLimit = 5000;  // a slow machine still gets there
const char kClass[] = "TunerpadContractTimers";
const char kBoxCaption[] = "Tunerpad contract box";

struct Tick {
    HWND hwnd;
    UINT_PTR id;
    DWORD at;
    bool viaProc;
};
std::vector<Tick> g_ticks;
std::function<void(UINT_PTR)> g_onTick;
std::vector<UINT> g_commands;  // WM_COMMAND ids the window received
HWND g_dialog = nullptr;

void record(HWND h, UINT_PTR id, bool viaProc) {
    g_ticks.push_back({h, id, GetTickCount(), viaProc});
    if (g_onTick) g_onTick(id);
}

LRESULT CALLBACK windowProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_TIMER) record(h, w, false);
    if (msg == WM_COMMAND) g_commands.push_back(LOWORD(w));
    return msg == WM_TIMER ? 0 : DefWindowProcA(h, msg, w, l);
}

void CALLBACK timerProc(HWND h, UINT msg, UINT_PTR id, DWORD) {
    EXPECT_EQ(UINT{WM_TIMER}, msg);
    record(h, id, true);
}

INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_INITDIALOG) g_dialog = h;
    return msg == WM_INITDIALOG;
}

class Timers : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_ticks.clear();
        g_onTick = nullptr;
        g_commands.clear();
        g_dialog = nullptr;
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = contract::testModule();
        wc.lpszClassName = kClass;
        ASSERT_NE(0, RegisterClassExA(&wc));
        window_ = CreateWindowExA(0, kClass, "Timers", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  contract::testModule(), nullptr);
        ASSERT_NE(nullptr, window_);
    }
    void TearDown() override {
        g_onTick = nullptr;
        if (window_) DestroyWindow(window_);  // its timers go with it
        UnregisterClassA(kClass, contract::testModule());
    }

    // When the ticks of one timer came, from the `from`th tick of all on.
    std::vector<DWORD> ticksOf(UINT_PTR id, size_t from = 0) {
        std::vector<DWORD> at;
        for (size_t i = from; i < g_ticks.size(); ++i)
            if (g_ticks[i].id == id) at.push_back(g_ticks[i].at);
        return at;
    }
    // The k-th tick after `start` comes no sooner than k periods after it;
    // missed ticks are dropped, never made up.
    void expectPeriod(const std::vector<DWORD>& at, DWORD start, UINT period) {
        for (size_t k = 0; k < at.size(); ++k)
            EXPECT_GE(at[k] - start + kClockStep, (k + 1) * period) << "tick " << k + 1;
    }

    HWND window_ = nullptr;
};

TEST_F(Timers, TicksCarryTheirIdAndNeverComeBeforeThePeriod) {
    const DWORD start = GetTickCount();
    ASSERT_NE(0u, SetTimer(window_, 1, kPoll, nullptr));
    ASSERT_NE(0u, SetTimer(window_, 2, 2 * kPoll, timerProc));
    ASSERT_TRUE(contract::pumpUntil([&] { return ticksOf(1).size() >= 3 && ticksOf(2).size() >= 3; }, kLimit));
    EXPECT_TRUE(KillTimer(window_, 1));
    EXPECT_TRUE(KillTimer(window_, 2));
    for (const Tick& t : g_ticks) {
        EXPECT_EQ(window_, t.hwnd);
        EXPECT_EQ(t.id == 2, t.viaProc) << "timer " << t.id;
    }
    expectPeriod(ticksOf(1), start, kPoll);
    expectPeriod(ticksOf(2), start, 2 * kPoll);
}

// Setting a timer that runs replaces it: one stream of ticks, with the new
// period counted from the moment it was set again.
TEST_F(Timers, SettingTheSameIdAgainReplacesTheTimer) {
    const struct {
        UINT first, renewed;
    } cases[] = {{kPoll, kPoll}, {kPoll, 3 * kPoll}, {60000, kPoll}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.first << " ms, then " << c.renewed << " ms");
        g_ticks.clear();
        DWORD renewedAt = 0;
        size_t renewedFrom = 0;
        ASSERT_NE(0u, SetTimer(window_, 1, c.first, nullptr));
        // Set again from another timer's first tick, before the first one is due.
        ASSERT_NE(0u, SetTimer(window_, 2, kPoll / 2, nullptr));
        g_onTick = [&](UINT_PTR id) {
            if (id != 2 || renewedAt) return;
            KillTimer(window_, 2);
            renewedFrom = g_ticks.size();
            renewedAt = GetTickCount();
            EXPECT_NE(0u, SetTimer(window_, 1, c.renewed, nullptr));
        };
        ASSERT_TRUE(contract::pumpUntil([&] { return renewedAt && ticksOf(1, renewedFrom).size() >= 3; }, kLimit));
        g_onTick = nullptr;
        EXPECT_TRUE(KillTimer(window_, 1));
        expectPeriod(ticksOf(1, renewedFrom), renewedAt, c.renewed);
    }
}

TEST_F(Timers, KillTimerStopsEvenATickThatIsDueAndTheWindowTakesItsTimers) {
    ASSERT_NE(0u, SetTimer(window_, 1, kPoll, nullptr));
    ASSERT_NE(0u, SetTimer(window_, 2, kPoll, nullptr));
    // Both are due once this much has passed; neither tick has been fetched.
    Sleep(kPoll + kClockStep);
    EXPECT_TRUE(KillTimer(window_, 1));
    EXPECT_FALSE(KillTimer(window_, 1));
    ASSERT_TRUE(contract::pumpUntil([&] { return ticksOf(2).size() >= 3; }, kLimit));
    EXPECT_TRUE(ticksOf(1).empty());

    ASSERT_TRUE(DestroyWindow(window_));
    EXPECT_FALSE(KillTimer(window_, 2));
    window_ = nullptr;
}

// The system's modal loops dispatch the window's timers: the agent's poll
// goes on under its dialogs, message boxes and tray menu. The test ends each
// loop from the timer as the user would, once a few ticks have come.
TEST_F(Timers, TicksGoOnInsideDialogMessageBoxAndMenuLoops) {
    HMENU menu = CreatePopupMenu();
    ASSERT_NE(nullptr, menu);
    ASSERT_TRUE(AppendMenuA(menu, MF_STRING, 1, "Exit"));
    const struct {
        const char* loop;
        std::function<INT_PTR()> run;
        std::function<bool()> end;  // false: nothing to end yet
        INT_PTR result;
    } loops[] = {
        {"dialog",
         [&] { return DialogBoxParamA(contract::testModule(), MAKEINTRESOURCEA(IDD_MODAL_TICKS), window_, dialogProc, 0); },
         [] { return g_dialog && EndDialog(g_dialog, 42); }, 42},
        {"message box", [] { return INT_PTR{MessageBoxA(nullptr, "Polling", kBoxCaption, MB_OKCANCEL)}; },
         [] {
             HWND box = FindWindowA("#32770", kBoxCaption);
             if (box) SendMessageA(box, WM_COMMAND, IDCANCEL, 0);
             return box != nullptr;
         },
         IDCANCEL},
        // The tray menu as the agent opens it: its hidden window in front first.
        {"menu",
         [&] {
             SetForegroundWindow(window_);
             return INT_PTR{TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_LEFTBUTTON | TPM_RETURNCMD, 10, 10, 0, window_,
                                           nullptr)};
         },
         [] { return EndMenu() != FALSE; }, 0},
    };
    for (const auto& l : loops) {
        SCOPED_TRACE(l.loop);
        g_ticks.clear();
        g_commands.clear();
        bool inside = true, ended = false;
        int insideTicks = 0;
        g_onTick = [&](UINT_PTR) {
            if (!inside || ended) return;
            if (++insideTicks >= 3) ended = l.end();
            if (insideTicks == 100) {  // never ended: fail rather than hang
                ADD_FAILURE() << "the loop could not be ended";
                KillTimer(window_, 1);
            }
        };
        ASSERT_NE(0u, SetTimer(window_, 1, kPoll, timerProc));
        EXPECT_EQ(l.result, l.run());
        inside = false;
        EXPECT_TRUE(ended);
        EXPECT_GE(insideTicks, 3);
        KillTimer(window_, 1);
        // Whatever the loop left for the window comes before this.
        ASSERT_TRUE(PostMessageA(window_, WM_COMMAND, 999, 0));
        ASSERT_TRUE(contract::pumpUntil([] { return !g_commands.empty() && g_commands.back() == 999; }, kLimit));
        EXPECT_EQ(std::vector<UINT>{999}, g_commands);
    }
    // A dialog that has gone cannot be ended.
    SetLastError(0);
    EXPECT_FALSE(EndDialog(g_dialog, 1));
    EXPECT_EQ(DWORD{ERROR_INVALID_WINDOW_HANDLE}, GetLastError());
    DestroyMenu(menu);
}

}  // namespace
