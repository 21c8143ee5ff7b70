// The pointer, synthesized keystrokes and screen metrics of the simulated desktop.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Keyboard message lParam bits, as the system documents them.
constexpr DWORD kExtended = 1u << 24;
constexpr DWORD kAltHeld = 1u << 29;
constexpr DWORD kWasDown = 1u << 30;
constexpr DWORD kReleased = 1u << 31;

DWORD keyBits(BYTE scan, DWORD extra) { return 1u | (static_cast<DWORD>(scan) << 16) | extra; }

DWORD bitsOf(LPARAM lParam) { return static_cast<DWORD>(lParam); }

struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
std::vector<Received> g_received;

LRESULT CALLBACK recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_DISPLAYCHANGE) g_received.push_back({hwnd, msg, wParam, lParam});
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_received.clear();
    }

    HWND ownWindow(DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr) {
        if (!sim::world().classes.count("inputtestwindow")) {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof wc;
            wc.lpfnWndProc = recordingProc;
            wc.lpszClassName = "InputTestWindow";
            EXPECT_NE(0, RegisterClassExA(&wc));
        }
        return CreateWindowExA(0, "InputTestWindow", "own", style, 0, 0, 100, 100, parent, nullptr, nullptr,
                               nullptr);
    }

    // A foreign window that has the keyboard.
    HWND foregroundApp() {
        HWND h = sim::world().addForeignWindow("TvApp", "TV");
        sim::world().foreground = h;
        return h;
    }
};

// ---- pointer ----------------------------------------------------------------------------

TEST_F(InputTest, SetCursorPosClampsToTheScreenAndIsLogged) {
    POINT p{};
    ASSERT_TRUE(SetCursorPos(100, 200));
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(100, p.x);
    EXPECT_EQ(200, p.y);

    SetCursorPos(-5, 5000);
    GetCursorPos(&p);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN) - 1, p.y);

    sim::world().metrics[SM_CXSCREEN] = 800;
    SetCursorPos(900, 10);
    GetCursorPos(&p);
    EXPECT_EQ(799, p.x);

    auto calls = sim::world().callsTo("SetCursorPos");
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ("x=-5 y=5000", calls[1].args);
    EXPECT_FALSE(GetCursorPos(nullptr));
}

TEST_F(InputTest, RelativeMovesStopAtTheEdgesAndButtonsLeaveThePointer) {
    sim::World& w = sim::world();
    SetCursorPos(100, 100);
    mouse_event(MOUSEEVENTF_MOVE, 10, static_cast<DWORD>(-20), 0, 77);
    EXPECT_EQ(110, w.cursor.x);
    EXPECT_EQ(80, w.cursor.y);

    // Without MOUSEEVENTF_MOVE the motion fields mean nothing.
    mouse_event(MOUSEEVENTF_LEFTDOWN, 50, 50, 0, 0);
    EXPECT_EQ(110, w.cursor.x);
    EXPECT_EQ(80, w.cursor.y);
    EXPECT_TRUE(w.leftButtonDown);
    EXPECT_NE(0, GetAsyncKeyState(VK_LBUTTON) & 0x8000);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
    EXPECT_FALSE(w.leftButtonDown);
    EXPECT_EQ(0, GetAsyncKeyState(VK_LBUTTON));

    mouse_event(MOUSEEVENTF_MOVE, static_cast<DWORD>(-500), 5000, 0, 0);
    EXPECT_EQ(0, w.cursor.x);
    EXPECT_EQ(767, w.cursor.y);

    ASSERT_EQ(4u, w.mouseEvents.size());
    EXPECT_EQ(DWORD{MOUSEEVENTF_MOVE}, w.mouseEvents[0].flags);
    EXPECT_EQ(77u, w.mouseEvents[0].extraInfo);
    EXPECT_EQ(80, w.mouseEvents[0].cursor.y);
    EXPECT_EQ(DWORD{MOUSEEVENTF_LEFTDOWN}, w.mouseEvents[1].flags);
    EXPECT_EQ(50u, w.mouseEvents[1].dx);
}

TEST_F(InputTest, AbsoluteMovesMapTheNormalisedRangeOntoTheScreen) {
    sim::World& w = sim::world();
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 65535, 65535, 0, 0);
    EXPECT_EQ(1023, w.cursor.x);
    EXPECT_EQ(767, w.cursor.y);
    mouse_event(MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 32768, 0, 0, 0);
    EXPECT_EQ(512, w.cursor.x);
    EXPECT_EQ(0, w.cursor.y);
}

TEST_F(InputTest, SwappedButtonsMakeThePhysicalLeftTheLogicalRight) {
    sim::World& w = sim::world();
    w.metrics[SM_SWAPBUTTON] = 1;
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    EXPECT_TRUE(w.leftButtonDown);
    EXPECT_TRUE(w.keyDown(VK_RBUTTON));
    EXPECT_FALSE(w.keyDown(VK_LBUTTON));
}

TEST_F(InputTest, MetricsDefaultToA1024By768Desktop) {
    EXPECT_EQ(1024, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(768, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(1024, GetSystemMetrics(SM_CXFULLSCREEN));
    EXPECT_EQ(742, GetSystemMetrics(SM_CYFULLSCREEN));
    EXPECT_EQ(0, GetSystemMetrics(SM_SWAPBUTTON));
    EXPECT_EQ(0, GetSystemMetrics(4321));
    sim::world().metrics[SM_CYSCREEN] = 600;
    EXPECT_EQ(600, GetSystemMetrics(SM_CYSCREEN));
}

// ---- keyboard ---------------------------------------------------------------------------

TEST_F(InputTest, KeystrokeReachesTheForegroundWindowAsKeyDownAndKeyUp) {
    sim::World& w = sim::world();
    HWND app = foregroundApp();
    keybd_event(VK_RETURN, 0x1C, 0, 5);
    EXPECT_TRUE(w.keyDown(VK_RETURN));
    keybd_event(VK_RETURN, 0x1C, KEYEVENTF_KEYUP, 6);
    EXPECT_FALSE(w.keyDown(VK_RETURN));

    const auto& log = w.window(app)->log;
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(UINT{WM_KEYDOWN}, log[0].message);
    EXPECT_EQ(WPARAM{VK_RETURN}, log[0].wParam);
    EXPECT_EQ(keyBits(0x1C, 0), bitsOf(log[0].lParam));
    EXPECT_FALSE(log[0].sent);
    EXPECT_EQ(UINT{WM_KEYUP}, log[1].message);
    EXPECT_EQ(keyBits(0x1C, kWasDown | kReleased), bitsOf(log[1].lParam));

    ASSERT_EQ(2u, w.keyEvents.size());
    EXPECT_EQ(app, w.keyEvents[0].foreground);
    EXPECT_EQ(5u, w.keyEvents[0].extraInfo);
    EXPECT_EQ(DWORD{KEYEVENTF_KEYUP}, w.keyEvents[1].flags);
    EXPECT_EQ(UINT{WM_KEYUP}, w.keyEvents[1].message);
}

TEST_F(InputTest, AltTurnsKeysIntoSystemKeys) {
    sim::World& w = sim::world();
    HWND app = foregroundApp();
    keybd_event(VK_MENU, 0x38, 0, 0);
    keybd_event(VK_F4, 0x3E, 0, 0);
    keybd_event(VK_F4, 0x3E, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_MENU, 0x38, KEYEVENTF_KEYUP, 0);
    keybd_event('A', 0x1E, 0, 0);

    const auto& log = w.window(app)->log;
    ASSERT_EQ(5u, log.size());
    EXPECT_EQ(UINT{WM_SYSKEYDOWN}, log[0].message);
    EXPECT_EQ(WPARAM{VK_MENU}, log[0].wParam);
    EXPECT_EQ(keyBits(0x38, kAltHeld), bitsOf(log[0].lParam));
    EXPECT_EQ(UINT{WM_SYSKEYDOWN}, log[1].message);
    EXPECT_EQ(WPARAM{VK_F4}, log[1].wParam);
    EXPECT_EQ(keyBits(0x3E, kAltHeld), bitsOf(log[1].lParam));
    EXPECT_EQ(UINT{WM_SYSKEYUP}, log[2].message);
    EXPECT_EQ(keyBits(0x3E, kAltHeld | kWasDown | kReleased), bitsOf(log[2].lParam));
    // Releasing Alt is still a system key, with Alt no longer held.
    EXPECT_EQ(UINT{WM_SYSKEYUP}, log[3].message);
    EXPECT_EQ(keyBits(0x38, kWasDown | kReleased), bitsOf(log[3].lParam));
    EXPECT_EQ(UINT{WM_KEYDOWN}, log[4].message);
}

TEST_F(InputTest, ExtendedKeysAndRepeatsSetTheirBits) {
    sim::World& w = sim::world();
    HWND app = foregroundApp();
    keybd_event(VK_RIGHT, 0x4D, KEYEVENTF_EXTENDEDKEY, 0);
    keybd_event(VK_RIGHT, 0x4D, KEYEVENTF_EXTENDEDKEY, 0);
    const auto& log = w.window(app)->log;
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(keyBits(0x4D, kExtended), bitsOf(log[0].lParam));
    EXPECT_EQ(keyBits(0x4D, kExtended | kWasDown), bitsOf(log[1].lParam));
}

TEST_F(InputTest, SidedModifiersHoldTheGenericKey) {
    sim::World& w = sim::world();
    HWND app = foregroundApp();
    keybd_event(VK_LCONTROL, 0x1D, 0, 0);
    EXPECT_TRUE(w.keyDown(VK_CONTROL));
    EXPECT_NE(0, GetKeyState(VK_CONTROL) & 0x8000);
    EXPECT_EQ(WPARAM{VK_CONTROL}, w.window(app)->log.back().wParam);
    keybd_event(VK_RCONTROL, 0x1D, KEYEVENTF_EXTENDEDKEY, 0);
    keybd_event(VK_LCONTROL, 0x1D, KEYEVENTF_KEYUP, 0);
    EXPECT_TRUE(w.keyDown(VK_CONTROL));
    keybd_event(VK_RCONTROL, 0x1D, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
    EXPECT_FALSE(w.keyDown(VK_CONTROL));
}

TEST_F(InputTest, KeystrokesFollowTheForegroundOfTheirMoment) {
    sim::World& w = sim::world();
    HWND first = foregroundApp();
    keybd_event(VK_UP, 0x48, 0, 0);
    HWND second = w.addForeignWindow("Other", "Other");
    w.foreground = second;
    keybd_event(VK_UP, 0x48, KEYEVENTF_KEYUP, 0);
    w.foreground = nullptr;
    keybd_event(VK_DOWN, 0x50, 0, 0);

    EXPECT_EQ(1u, w.window(first)->log.size());
    ASSERT_EQ(1u, w.window(second)->log.size());
    EXPECT_EQ(UINT{WM_KEYUP}, w.window(second)->log[0].message);
    ASSERT_EQ(3u, w.keyEvents.size());
    EXPECT_EQ(nullptr, w.keyEvents[2].foreground);
    EXPECT_EQ(0u, w.keyEvents[2].message);
    EXPECT_TRUE(w.keyDown(VK_DOWN));  // the key is down even with nobody listening
}

TEST_F(InputTest, OwnForegroundWindowFindsTheKeystrokeInItsQueue) {
    HWND own = ownWindow();
    ASSERT_NE(nullptr, own);
    sim::world().foreground = own;
    keybd_event(VK_SPACE, 0x39, 0, 0);
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(own, msg.hwnd);
    EXPECT_EQ(UINT{WM_KEYDOWN}, msg.message);
    EXPECT_EQ(WPARAM{VK_SPACE}, msg.wParam);
    EXPECT_EQ(keyBits(0x39, 0), bitsOf(msg.lParam));
}

TEST_F(InputTest, ForegroundWindowMayCloseOnAKey) {
    sim::World& w = sim::world();
    HWND app = foregroundApp();
    w.window(app)->onMessage = [](sim::Window& self, const sim::LoggedMessage& m) {
        if (m.message == WM_KEYDOWN && m.wParam == VK_ESCAPE) sim::world().destroyWindow(self.handle);
    };
    keybd_event(VK_ESCAPE, 0x01, 0, 0);
    EXPECT_FALSE(IsWindow(app));
    keybd_event(VK_ESCAPE, 0x01, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(nullptr, w.keyEvents.back().foreground);
}

TEST_F(InputTest, ToggleKeysFlipOnEachPress) {
    EXPECT_EQ(0, GetKeyState(VK_CAPITAL));
    keybd_event(VK_CAPITAL, 0x3A, 0, 0);
    EXPECT_EQ(1, GetKeyState(VK_CAPITAL) & 1);
    keybd_event(VK_CAPITAL, 0x3A, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(1, GetKeyState(VK_CAPITAL));
    keybd_event(VK_CAPITAL, 0x3A, 0, 0);
    keybd_event(VK_CAPITAL, 0x3A, KEYEVENTF_KEYUP, 0);
    EXPECT_EQ(0, GetKeyState(VK_CAPITAL));
    EXPECT_EQ(0, GetKeyState(-1));
    EXPECT_EQ(0, GetKeyState(999));
}

TEST_F(InputTest, MessageExtraInfoIsAnsweredAndEveryCallLogged) {
    sim::World& w = sim::world();
    w.messageExtraInfo = 0x5A5A;
    EXPECT_EQ(LPARAM{0x5A5A}, GetMessageExtraInfo());
    w.messageExtraInfo = 3;
    EXPECT_EQ(LPARAM{3}, GetMessageExtraInfo());
    EXPECT_EQ(2u, w.callsTo("GetMessageExtraInfo").size());
}

// ---- display changes --------------------------------------------------------------------

TEST_F(InputTest, DisplayChangeReachesEveryTopLevelWindowOfTheProgram) {
    sim::World& w = sim::world();
    HWND visible = ownWindow(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND hidden = ownWindow(WS_POPUP);
    HWND child = ownWindow(WS_CHILD, visible);
    ASSERT_NE(nullptr, child);
    HWND app = w.addForeignWindow("TvApp", "TV");
    SetCursorPos(1000, 700);

    w.changeDisplay(800, 600);

    EXPECT_EQ(800, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(600, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(800, GetSystemMetrics(SM_CXFULLSCREEN));
    EXPECT_EQ(600 - (768 - 742), GetSystemMetrics(SM_CYFULLSCREEN));
    EXPECT_EQ(799, w.cursor.x);
    EXPECT_EQ(599, w.cursor.y);

    ASSERT_EQ(2u, g_received.size());
    for (const Received& r : g_received) {
        EXPECT_TRUE(r.hwnd == visible || r.hwnd == hidden);
        EXPECT_EQ(WPARAM{32}, r.wParam);
        EXPECT_EQ(800, LOWORD(r.lParam));
        EXPECT_EQ(600, HIWORD(r.lParam));
    }
    EXPECT_NE(g_received[0].hwnd, g_received[1].hwnd);
    EXPECT_TRUE(w.window(app)->log.empty());
}

}  // namespace
