// Finding top-level windows, as the programs find each other and the TV
// applications: by class and title, or walking the Z order from the
// desktop's first child, hidden windows included. Other programs' windows
// share the desktop, so only the order of the test's own windows counts.
#include "contract.h"

#include <string>
#include <vector>

namespace {

const char kClass[] = "TunerpadContractWalk";
std::vector<HWND> g_windows;  // A, B, C, made in that order

BOOL CALLBACK collect(HWND h, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(h);
    return TRUE;
}

// The test's own windows among `all`, by letter, in that order.
std::string ours(const std::vector<HWND>& all) {
    std::string names;
    for (HWND h : all)
        for (size_t i = 0; i < g_windows.size(); ++i)
            if (h == g_windows[i]) names += static_cast<char>('A' + i);
    return names;
}

// The Z order of the test's windows; the three ways through it agree.
std::string order() {
    std::vector<HWND> found, walked, enumerated;
    for (HWND h = FindWindowExA(nullptr, nullptr, kClass, nullptr); h; h = FindWindowExA(nullptr, h, kClass, nullptr))
        found.push_back(h);
    for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) walked.push_back(h);
    EXPECT_TRUE(EnumWindows(collect, reinterpret_cast<LPARAM>(&enumerated)));
    EXPECT_EQ(ours(found), ours(walked));
    EXPECT_EQ(ours(found), ours(enumerated));
    EXPECT_EQ(ours(found).size(), found.size());  // the class finds nothing else
    return ours(found);
}

class Windows : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_windows.clear();
        ASSERT_TRUE(contract::registerWindowClass(kClass, DefWindowProcA));
        for (const char* title : {"Tunerpad walk A", "Tunerpad walk B", "Tunerpad walk C"}) {
            g_windows.push_back(CreateWindowExA(0, kClass, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                                nullptr, contract::testModule(), nullptr));
            ASSERT_NE(nullptr, g_windows.back());
        }
    }
    void TearDown() override {
        for (HWND h : g_windows) DestroyWindow(h);  // those still there
        UnregisterClassA(kClass, contract::testModule());
    }
};

// A window comes on top when it is made, shown with activation or moved
// there; shown without activation it stays where it is. FindWindowA answers
// the first match in that order, whatever the case of class and title.
TEST_F(Windows, NewestOnTopUntilShownOrMovedAndFoundInThatOrder) {
    HWND a = g_windows[0], b = g_windows[1], c = g_windows[2];
    EXPECT_EQ("CBA", order());
    EXPECT_EQ(c, FindWindowA("tunerpadcontractwalk", nullptr));
    EXPECT_EQ(b, FindWindowA(kClass, "Tunerpad walk B"));
    EXPECT_EQ(b, FindWindowA(nullptr, "TUNERPAD WALK b"));
    EXPECT_EQ(b, FindWindowExA(GetDesktopWindow(), c, kClass, nullptr));
    EXPECT_EQ(nullptr, FindWindowA(kClass, "Tunerpad walk"));  // the whole title, not a prefix
    ShowWindow(b, SW_SHOWNOACTIVATE);
    EXPECT_EQ("CBA", order());
    ShowWindow(a, SW_SHOW);
    EXPECT_EQ("ACB", order());
    EXPECT_TRUE(SetWindowPos(b, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE));
    EXPECT_EQ("BAC", order());
    EXPECT_TRUE(DestroyWindow(a));
    EXPECT_EQ("BC", order());
}

}  // namespace
