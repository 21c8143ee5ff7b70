// Version answers, last error, lstr* helpers and wsprintfA in the simulation.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class SystemTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
};

TEST_F(SystemTest, VersionOf95Family) {
    sim::World& w = sim::world();
    w.win95Family = true;
    w.majorVersion = 4;
    w.minorVersion = 10;
    w.buildNumber = 1998;
    DWORD v = GetVersion();
    EXPECT_NE(0u, v & 0x80000000u);
    EXPECT_EQ(4, LOBYTE(LOWORD(v)));
    EXPECT_EQ(10, HIBYTE(LOWORD(v)));

    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(DWORD{VER_PLATFORM_WIN32_WINDOWS}, info.dwPlatformId);
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(0x040A07CEu, info.dwBuildNumber);
    EXPECT_EQ(1998, LOWORD(info.dwBuildNumber));
}

TEST_F(SystemTest, LastErrorAndProcessHandle) {
    SetLastError(1234);
    EXPECT_EQ(1234u, GetLastError());
    EXPECT_EQ(1234u, sim::world().lastError);
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)), GetCurrentProcess());
}

TEST_F(SystemTest, StringCompareFollowsTheLocale) {
    EXPECT_EQ(0, lstrcmpiA("TunerPad", "TUNERPAD"));
    EXPECT_EQ(-1, lstrcmpiA("abc", "ABD"));
    EXPECT_EQ(1, lstrcmpiA("abd", "ABC"));
    EXPECT_EQ(-1, lstrcmpiA("ab", "abc"));
    EXPECT_EQ(0, lstrcmpA("same", "same"));
    EXPECT_EQ(-1, lstrcmpA("apple", "Banana"));  // not byte order
    EXPECT_EQ(-1, lstrcmpA("a", "A"));            // lower case first on a tie
    EXPECT_EQ(1, lstrcmpA("Tuner", "tuner"));
    EXPECT_EQ(-1, lstrcmpA("9", "a"));
    EXPECT_EQ(-1, lstrcmpA("_x", "0"));
    EXPECT_EQ(-1, lstrcmpA("coop", "co-op"));  // hyphen only breaks the tie
    EXPECT_EQ(-1, lstrcmpA("co-op", "cop"));
    EXPECT_EQ(0, lstrcmpA(nullptr, nullptr));
    EXPECT_EQ(-1, lstrcmpA(nullptr, ""));
}

TEST_F(SystemTest, StringCopies) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(buf, lstrcpynA(buf, "abcdef", 4));
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ('Z', buf[4]);
    lstrcpynA(buf, "xy", 1);
    EXPECT_STREQ("", buf);
    buf[0] = 'Q';
    lstrcpynA(buf, "xy", 0);
    EXPECT_EQ('Q', buf[0]);
    lstrcpynA(buf, "xy", 8);
    EXPECT_STREQ("xy", buf);
    EXPECT_EQ(buf, lstrcatA(buf, "z1"));
    EXPECT_STREQ("xyz1", buf);
    EXPECT_EQ(buf, lstrcpyA(buf, "hello"));
    EXPECT_STREQ("hello", buf);
    EXPECT_EQ(5, lstrlenA(buf));
    EXPECT_EQ(0, lstrlenA(nullptr));
}

int vformat(char* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(out, format, args);
    va_end(args);
    return n;
}

TEST_F(SystemTest, WsprintfFormats) {
    char buf[1100];
    int n = wsprintfA(buf, "%s|%d|%i|%u|%x|%X|%c|%ld|%lu|%lx|%%", "tv", -5, 7, 4000000000u, 0xbeefu, 0xbeefu, 'q',
                      static_cast<LONG>(-70000), static_cast<DWORD>(70000), static_cast<DWORD>(0xABCDEF));
    EXPECT_STREQ("tv|-5|7|4000000000|beef|BEEF|q|-70000|70000|abcdef|%", buf);
    EXPECT_EQ(static_cast<int>(std::strlen(buf)), n);

    wsprintfA(buf, "[%5d][%-5d][%05d][%-05d][%08lX][%#x]", 42, 42, -42, 42, static_cast<DWORD>(0x1F), 255);
    EXPECT_STREQ("[   42][42   ][-0042][42   ][0000001F][0xff]", buf);
    wsprintfA(buf, "[%6s][%-6s][%.3s][%s][%3c]", "ab", "ab", "abcdef", static_cast<const char*>(nullptr), 'x');
    EXPECT_STREQ("[    ab][ab    ][abc][(null)][  x]", buf);
    EXPECT_EQ(7, vformat(buf, "%s=%u", "id", 1234u));
    EXPECT_STREQ("id=1234", buf);

    // Output stops at 1024 characters including the terminator.
    std::string longText(2000, 'w');
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(1023, wsprintfA(buf, "%s%d", longText.c_str(), 1));
    EXPECT_EQ('\0', buf[1023]);
    EXPECT_EQ('Z', buf[1024]);
    EXPECT_EQ(std::string(1023, 'w'), std::string(buf));
}

}  // namespace
