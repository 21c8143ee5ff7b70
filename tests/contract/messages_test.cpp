// The order messages come in, as the agent's loop and its shutdown rely on:
// sent messages run at once, posted ones wait their turn, timers and the quit
// request come when nothing is posted, and a window closed through
// DefWindowProc is destroyed before the loop sees the quit request.
#include "contract.h"
#include "modal_resource.h"

#include <vector>

namespace {

const char kClass[] = "TunerpadContractMessages";
constexpr int kQuitCode = 3;  // what the window's WM_DESTROY quits with
constexpr DWORD kLimit = 5000;

// What the window received: WM_APP + n as n, WM_TIMER as -id, and the
// messages of closing as themselves.
std::vector<long> g_seen;

LRESULT CALLBACK windowProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg >= WM_APP) g_seen.push_back(static_cast<long>(msg - WM_APP));
    if (msg == WM_TIMER) g_seen.push_back(-static_cast<long>(w));
    if (msg == WM_CLOSE || msg == WM_DESTROY || msg == WM_NCDESTROY) g_seen.push_back(static_cast<long>(msg));
    if (msg == WM_DESTROY) PostQuitMessage(kQuitCode);  // as the agent does
    return msg >= WM_APP || msg == WM_TIMER ? 0 : DefWindowProcA(h, msg, w, l);
}

// The dialog's own closing, as 1000 + the message.
INT_PTR CALLBACK dialogProc(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_DESTROY || msg == WM_NCDESTROY) g_seen.push_back(1000 + static_cast<long>(msg));
    return msg == WM_INITDIALOG;
}

// What the uninstaller does to the agent: WM_CLOSE, sent from outside.
void CALLBACK closeTheWindow(HWND h, UINT, UINT_PTR, DWORD) { SendMessageA(h, WM_CLOSE, 0, 0); }

// The agent's message loop: it ends with the quit request's code.
WPARAM runLoop() {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    EXPECT_EQ(UINT{WM_QUIT}, msg.message);
    return msg.wParam;
}

class Messages : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_seen.clear();
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = contract::testModule();
        wc.lpszClassName = kClass;
        ASSERT_NE(0, RegisterClassExA(&wc));
        makeWindow();
    }
    void makeWindow() {
        window_ = CreateWindowExA(0, kClass, "Messages", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  contract::testModule(), nullptr);
        ASSERT_NE(nullptr, window_);
    }
    void TearDown() override {
        if (IsWindow(window_)) DestroyWindow(window_);
        UnregisterClassA(kClass, contract::testModule());
    }
    void post(long n) { ASSERT_TRUE(PostMessageA(window_, WM_APP + static_cast<UINT>(n), 0, 0)); }

    HWND window_ = nullptr;
};

TEST_F(Messages, SentRunsAtOncePostedInOrderThenTimersAndQuitAfterEveryPostedOne) {
    ASSERT_NE(0u, SetTimer(window_, 1, 10, nullptr));
    Sleep(10 + 16);  // the timer is due: a tick waits to be fetched
    post(1);
    post(2);
    EXPECT_EQ(0, SendMessageA(window_, WM_APP + 3, 0, 0));
    EXPECT_EQ(std::vector<long>{3}, g_seen);
    ASSERT_TRUE(contract::pumpUntil([] { return g_seen.size() >= 4; }, kLimit));
    EXPECT_EQ((std::vector<long>{3, 1, 2, -1}), g_seen);
    EXPECT_TRUE(KillTimer(window_, 1));

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
TEST_F(Messages, CloseDestroysTheWindowAndItsQueueThenTheLoopQuits) {
    for (bool sent : {true, false}) {
        SCOPED_TRACE(sent ? "WM_CLOSE sent" : "WM_CLOSE posted");
        if (!IsWindow(window_)) {
            ASSERT_NO_FATAL_FAILURE(makeWindow());
        }
        g_seen.clear();
        ASSERT_NE(0u, SetTimer(window_, 1, 10, nullptr));
        post(1);
        if (sent) {
            SendMessageA(window_, WM_CLOSE, 0, 0);
            EXPECT_EQ((std::vector<long>{WM_CLOSE, WM_DESTROY, WM_NCDESTROY}), g_seen);
        } else {
            ASSERT_TRUE(PostMessageA(window_, WM_CLOSE, 0, 0));
            post(2);
        }
        EXPECT_EQ(WPARAM{kQuitCode}, runLoop());
        std::vector<long> closing = {WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
        if (!sent) closing.insert(closing.begin(), 1);
        EXPECT_EQ(closing, g_seen);
        EXPECT_FALSE(IsWindow(window_));
        SetLastError(0);
        EXPECT_FALSE(PostMessageA(window_, WM_APP, 0, 0));
        EXPECT_EQ(DWORD{ERROR_INVALID_WINDOW_HANDLE}, GetLastError());
    }
}

// Closed while it shows a dialog, the window takes the dialog with it first;
// DialogBoxParamA returns and the quit request reaches the loop outside.
TEST_F(Messages, ClosingTheOwnerTakesItsDialogFirstThenTheLoopQuits) {
    ASSERT_NE(0u, SetTimer(window_, 1, 70, closeTheWindow));
    DialogBoxParamA(contract::testModule(), MAKEINTRESOURCEA(IDD_MODAL_TICKS), window_, dialogProc, 0);
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ((std::vector<long>{WM_CLOSE, 1000 + WM_DESTROY, 1000 + WM_NCDESTROY, WM_DESTROY, WM_NCDESTROY}), g_seen);
    EXPECT_EQ(WPARAM{kQuitCode}, runLoop());
}

}  // namespace
