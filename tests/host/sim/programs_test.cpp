// Starting programs with WinExec on the simulated desktop.
#include <sim/world.h>

#include <gtest/gtest.h>

namespace {

constexpr const char* kTvPath = "C:\\Program Files\\TV\\tv.exe";
constexpr const char* kHazardPath = "C:\\Program.exe";
constexpr UINT kStarted = 33;

sim::ProgramSetup tvSetup() {
    sim::ProgramSetup setup;
    setup.windowClass = "TvMain";
    setup.windowTitle = "TV";
    setup.childClass = "TvVideo";
    setup.childTitle = "video";
    setup.windowDelay = 500;
    return setup;
}

class ProgramsTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
};

TEST_F(ProgramsTest, QuotedPathRunsExactlyThatProgram) {
    sim::World& w = sim::world();
    w.installProgram(kTvPath, tvSetup());
    w.installProgram(kHazardPath, sim::ProgramSetup{});
    std::string line = std::string("\"") + kTvPath + "\" /fullscreen";
    EXPECT_EQ(kStarted, WinExec(line.c_str(), SW_SHOWNORMAL));
    ASSERT_EQ(1u, w.programStarts.size());
    EXPECT_EQ(kTvPath, w.programStarts[0].path);
    EXPECT_EQ(line, w.programStarts[0].commandLine);
    EXPECT_EQ(UINT{SW_SHOWNORMAL}, w.programStarts[0].show);
    ASSERT_EQ(1u, w.callsTo("WinExec").size());
    EXPECT_EQ("cmd=" + line + " show=1", w.callsTo("WinExec")[0].args);
}

TEST_F(ProgramsTest, UnquotedPathWithSpacesRunsTheFirstCandidateThatExists) {
    sim::World& w = sim::world();
    w.installProgram(kTvPath, tvSetup());
    w.installProgram(kHazardPath, sim::ProgramSetup{});
    EXPECT_EQ(kStarted, WinExec(kTvPath, SW_SHOW));
    ASSERT_EQ(1u, w.programStarts.size());
    EXPECT_EQ(kHazardPath, w.programStarts[0].path);

    // Without the hazard the whole path is reached.
    sim::resetWorld();
    sim::World& clean = sim::world();
    clean.installProgram(kTvPath, tvSetup());
    EXPECT_EQ(kStarted, WinExec(kTvPath, SW_SHOW));
    ASSERT_EQ(1u, clean.programStarts.size());
    EXPECT_EQ(kTvPath, clean.programStarts[0].path);
}

TEST_F(ProgramsTest, MiddleCandidateMayBeAPlainFile) {
    sim::World& w = sim::world();
    w.installProgram("C:\\Program Files\\My TV\\tv.exe", tvSetup());
    w.files[w.fileKey("C:\\Program Files\\My.exe")] = "MZ";
    EXPECT_EQ(kStarted, WinExec("C:\\Program Files\\My TV\\tv.exe -a", SW_SHOW));
    ASSERT_EQ(1u, w.programStarts.size());
    EXPECT_EQ("C:\\Program Files\\My.exe", w.programStarts[0].path);
    // A plain file shows no window.
    EXPECT_TRUE(w.events.empty());
}

TEST_F(ProgramsTest, ExtensionIsAddedAndCaseDoesNotMatter) {
    sim::World& w = sim::world();
    w.installProgram("c:\\tv\\APP.EXE", tvSetup());
    EXPECT_EQ(kStarted, WinExec("C:\\TV\\app -channel 3", SW_SHOW));
    ASSERT_EQ(1u, w.programStarts.size());
    EXPECT_EQ("C:\\TV\\app.exe", w.programStarts[0].path);
    // A name ending in a period has no extension and gets none.
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, WinExec("C:\\TV\\app.", SW_SHOW));
}

TEST_F(ProgramsTest, FailuresStartNothing) {
    sim::World& w = sim::world();
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, WinExec(kTvPath, SW_SHOW));
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, WinExec("", SW_SHOW));
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, WinExec(nullptr, SW_SHOW));

    sim::ProgramSetup broken = tvSetup();
    broken.execResult = ERROR_BAD_FORMAT;
    w.installProgram(kTvPath, broken);
    EXPECT_EQ(UINT{ERROR_BAD_FORMAT}, WinExec(kTvPath, SW_SHOW));
    EXPECT_TRUE(w.programStarts.empty());
    EXPECT_TRUE(w.events.empty());
    w.advanceTo(10000);
    EXPECT_EQ(nullptr, FindWindowA("TvMain", nullptr));
}

TEST_F(ProgramsTest, WindowAppearsAfterTheStartUpDelay) {
    sim::World& w = sim::world();
    w.installProgram(kTvPath, tvSetup());
    HWND other = w.addForeignWindow("Other", "Other");
    w.foreground = other;
    w.advanceTo(1000);
    ASSERT_EQ(kStarted, WinExec(std::string(std::string("\"") + kTvPath + "\"").c_str(), SW_SHOW));
    EXPECT_EQ(1000u, w.programStarts[0].time);

    w.advanceTo(1499);
    EXPECT_EQ(nullptr, FindWindowA("TvMain", nullptr));
    w.advanceTo(1500);
    HWND main = FindWindowA("TvMain", "TV");
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(main, w.zorder.front());
    EXPECT_TRUE(IsWindowVisible(main));
    EXPECT_EQ(nullptr, GetWindow(main, GW_OWNER));
    EXPECT_EQ(main, w.programStarts[0].window);
    EXPECT_EQ(other, w.foreground);

    HWND child = FindWindowExA(main, nullptr, "TvVideo", nullptr);
    ASSERT_NE(nullptr, child);
    EXPECT_EQ(main, GetParent(child));
    EXPECT_EQ(child, w.programStarts[0].child);
    // The child is no top-level window.
    EXPECT_EQ(nullptr, FindWindowA("TvVideo", nullptr));
}

TEST_F(ProgramsTest, HiddenStartAndForegroundAreHonoured) {
    sim::World& w = sim::world();
    sim::ProgramSetup setup = tvSetup();
    setup.takesForeground = true;
    w.installProgram(kTvPath, setup);
    WinExec("\"C:\\Program Files\\TV\\tv.exe\"", SW_HIDE);
    WinExec("\"C:\\Program Files\\TV\\tv.exe\"", SW_SHOW);
    w.advanceTo(setup.windowDelay);
    ASSERT_EQ(2u, w.programStarts.size());
    HWND hidden = w.programStarts[0].window;
    HWND shown = w.programStarts[1].window;
    ASSERT_NE(nullptr, hidden);
    ASSERT_NE(nullptr, shown);
    EXPECT_NE(hidden, shown);
    EXPECT_FALSE(IsWindowVisible(hidden));
    EXPECT_TRUE(IsWindowVisible(shown));
    EXPECT_EQ(shown, w.foreground);
}

TEST_F(ProgramsTest, ProgramReactsToItsCloseKeyAndClosesWithItsChild) {
    sim::World& w = sim::world();
    sim::ProgramSetup setup = tvSetup();
    setup.onMessage = [](sim::Window& self, const sim::LoggedMessage& m) {
        if (m.message == WM_KEYDOWN && m.wParam == VK_ESCAPE) sim::world().closeProgramWindow(self.handle);
    };
    w.installProgram(kTvPath, setup);
    WinExec("\"C:\\Program Files\\TV\\tv.exe\"", SW_SHOW);
    w.advanceTo(setup.windowDelay);
    HWND main = w.programStarts[0].window;
    HWND child = w.programStarts[0].child;
    ASSERT_TRUE(IsWindow(main));
    w.foreground = main;

    keybd_event(VK_RETURN, 0x1C, 0, 0);
    EXPECT_TRUE(IsWindow(main));
    keybd_event(VK_ESCAPE, 0x01, 0, 0);
    EXPECT_FALSE(IsWindow(main));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(nullptr, w.foreground);
    EXPECT_EQ(1u, w.callsTo("CloseProgramWindow").size());
}

}  // namespace
