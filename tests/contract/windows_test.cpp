// Finding top-level windows, as the programs find each other and the TV
// applications: by class and title, walking the Z order from the desktop's
// first child, hidden windows included. Other programs' windows share the
// desktop, so only the order of the test's own windows is asserted.
#include "contract.h"

#include <string>
#include <vector>

namespace {

const char kClass[] = "TunerpadContractWalk";
const char* const kTitles[] = {"Tunerpad walk A", "Tunerpad walk B", "Tunerpad walk C"};

std::vector<HWND> g_windows;  // A, B, C
std::vector<HWND>* g_enumerated = nullptr;

LRESULT CALLBACK windowProc(HWND h, UINT msg, WPARAM w, LPARAM l) { return DefWindowProcA(h, msg, w, l); }

BOOL CALLBACK collect(HWND h, LPARAM) {
    g_enumerated->push_back(h);
    return TRUE;
}

// The test's own windows of `all`, by name, in the order given.
std::string ours(const std::vector<HWND>& all) {
    std::string names;
    for (HWND h : all)
        for (size_t i = 0; i < g_windows.size(); ++i)
            if (h == g_windows[i]) names += static_cast<char>('A' + i);
    return names;
}

class Windows : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_windows.clear();
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = windowProc;
        wc.hInstance = contract::testModule();
        wc.lpszClassName = kClass;
        ASSERT_NE(0, RegisterClassExA(&wc));
        for (const char* title : kTitles) {
            g_windows.push_back(CreateWindowExA(0, kClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                                nullptr, contract::testModule(), nullptr));
            ASSERT_NE(nullptr, g_windows.back());
        }
    }
    void TearDown() override {
        for (HWND h : g_windows)
            if (IsWindow(h)) DestroyWindow(h);
        UnregisterClassA(kClass, contract::testModule());
    }

    // The three ways through the Z order must agree.
    std::string order() {
        std::vector<HWND> found;
        for (HWND h = FindWindowExA(nullptr, nullptr, kClass, nullptr); h; h = FindWindowExA(nullptr, h, kClass, nullptr))
            found.push_back(h);
        std::vector<HWND> walked;
        for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) walked.push_back(h);
        std::vector<HWND> enumerated;
        g_enumerated = &enumerated;
        EXPECT_TRUE(EnumWindows(collect, 0));
        EXPECT_EQ(ours(found), ours(walked));
        EXPECT_EQ(ours(found), ours(enumerated));
        EXPECT_EQ(ours(found).size(), found.size());  // the class finds nothing else
        return ours(found);
    }
};

// A window comes on top of the others when it is made, shown with
// activation or moved there; shown without activation it stays where it is.
TEST_F(Windows, NewestOnTopUntilShownOrMoved) {
    HWND a = g_windows[0], b = g_windows[1], c = g_windows[2];
    EXPECT_EQ("CBA", order());
    ShowWindow(b, SW_SHOWNOACTIVATE);
    EXPECT_EQ("CBA", order());
    ShowWindow(a, SW_SHOW);
    EXPECT_EQ("ACB", order());
    EXPECT_TRUE(SetWindowPos(b, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_EQ("BAC", order());
    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_EQ("BC", order());
    EXPECT_EQ(nullptr, FindWindowExA(nullptr, c, kClass, nullptr));
}

// FindWindowA answers the first match in that order; class names and titles
// match whatever their case; hidden windows count.
TEST_F(Windows, FindWindowByClassAndTitle) {
    HWND b = g_windows[1], c = g_windows[2];
    EXPECT_FALSE(IsWindowVisible(b));
    EXPECT_EQ(c, FindWindowA(kClass, nullptr));
    EXPECT_EQ(c, FindWindowA("tunerpadcontractwalk", nullptr));
    EXPECT_EQ(b, FindWindowA(kClass, kTitles[1]));
    EXPECT_EQ(b, FindWindowA(nullptr, "TUNERPAD WALK b"));
    EXPECT_EQ(b, FindWindowExA(nullptr, nullptr, nullptr, kTitles[1]));
    EXPECT_EQ(b, FindWindowExA(GetDesktopWindow(), c, kClass, nullptr));
    EXPECT_EQ(nullptr, FindWindowA(kClass, "Tunerpad walk"));  // the whole title, not a prefix
    char text[32];
    EXPECT_EQ(static_cast<int>(sizeof kClass) - 1, GetClassNameA(b, text, sizeof text));
    EXPECT_STREQ(kClass, text);
}

}  // namespace
