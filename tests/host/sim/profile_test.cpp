// Profile files, the Windows directory and DeleteFileA in the simulation:
// files by name, lists of names, win.ini and the call log.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

const char kIni[] = "C:\\Tuner\\tuner.ini";

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
    void put(const std::string& path, const std::string& text) {
        sim::world().files[sim::world().fileKey(path)] = text;
    }
    // GetPrivateProfileStringA into a fresh buffer; returns the text and sets *count.
    std::string read(const char* section, const char* key, const char* def, DWORD size = 256,
                     DWORD* count = nullptr, const char* file = kIni) {
        std::string buf(size + 1, 'Z');
        DWORD n = GetPrivateProfileStringA(section, key, def, &buf[0], size, file);
        if (count) *count = n;
        EXPECT_EQ('Z', buf[size]) << "wrote past the buffer";
        return std::string(buf.c_str());
    }
};

// Files are named without regard to case or the kind of slash.
TEST_F(ProfileTest, FilesAreFoundByName) {
    put(kIni, "[Tuner]\nChannel=5\n");
    EXPECT_EQ("d", read("", "Channel", "d"));
    EXPECT_EQ("d", read("Tuner", "", "d"));
    EXPECT_EQ("d", read("Tuner", "Channel", "d", 256, nullptr, "C:\\Tuner\\absent.ini"));
    EXPECT_EQ("d", read("Tuner", "Channel", "d", 256, nullptr, nullptr));
    EXPECT_EQ("5", read("Tuner", "Channel", "d", 256, nullptr, "c:/TUNER/Tuner.INI"));

    // A bare name is looked up in the Windows directory.
    sim::world().windowsDirectory = "D:\\WIN98";
    put("D:\\Win98\\TUNER.INI", "[Tuner]\nChannel=9\n");
    EXPECT_EQ("d:\\win98\\tuner.ini", sim::world().fileKey("tuner.ini"));
    EXPECT_EQ("9", read("Tuner", "Channel", "d", 256, nullptr, "tuner.ini"));
    EXPECT_EQ(9u, GetPrivateProfileIntA("Tuner", "Channel", 0, "Tuner.ini"));
}

// Lists of names as Windows cuts them; Wine cuts them otherwise (its own
// tests mark these as not yet matched), and the programs read none.
TEST_F(ProfileTest, ListsOfNames) {
    put(kIni, "[section1]\nname1=val1\nname2=\"val2\"\nname4=a\nnovalue\n[section2]\n");
    char buf[32] = "kumquat";
    EXPECT_EQ(0u, GetPrivateProfileStringA("section1", "name1", "default", buf, 0, kIni));
    EXPECT_STREQ("kumquat", buf);

    // Lists: names with terminators and a final terminator; cut lists end
    // in two terminators and count size-2.
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(18u, GetPrivateProfileStringA(nullptr, "x", "d", buf, sizeof buf, kIni));
    EXPECT_EQ(0, std::memcmp(buf, "section1\0section2\0\0", 19));
    std::memset(buf, 'Z', sizeof buf);  // an exactly fitting list counts as cut: size-2
    EXPECT_EQ(17u, GetPrivateProfileStringA(nullptr, "x", "d", buf, 19, kIni));
    EXPECT_EQ(0, std::memcmp(buf, "section1\0section2\0\0Z", 20));
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(14u, GetPrivateProfileStringA(nullptr, "x", "d", buf, 16, kIni));
    EXPECT_EQ(0, std::memcmp(buf, "section1\0secti\0\0Z", 17));
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(14u, GetPrivateProfileStringA("section1", nullptr, "d", buf, 16, kIni));
    EXPECT_EQ(0, std::memcmp(buf, "name1\0name2\0na\0\0Z", 17));
    EXPECT_EQ(18u, GetPrivateProfileStringA("SECTION1", nullptr, "d", buf, sizeof buf, kIni));
    EXPECT_EQ(0, std::memcmp(buf, "name1\0name2\0name4\0\0", 19));
}

TEST_F(ProfileTest, WinIniAndWindowsDirectory) {
    sim::world().windowsDirectory = "C:\\WINNT";
    put("C:\\WINNT\\WIN.INI", "[windows]\nDoubleClickSpeed=452\nDevice=Tuner,drv,LPT1:\n");
    EXPECT_EQ(452u, GetProfileIntA("Windows", "doubleclickspeed", 0));
    char buf[16];
    EXPECT_EQ(9u, GetProfileStringA("windows", "device", "", buf, 10));
    EXPECT_STREQ("Tuner,drv", buf);

    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(9u, GetWindowsDirectoryA(buf, 8));  // too small: size needed, nothing copied
    EXPECT_EQ('Z', buf[0]);
    EXPECT_EQ(8u, GetWindowsDirectoryA(buf, 9));
    EXPECT_STREQ("C:\\WINNT", buf);
    EXPECT_EQ(9u, GetWindowsDirectoryA(nullptr, 0));
}

TEST_F(ProfileTest, DeleteFile) {
    put(kIni, "[Tuner]\n");
    sim::world().lastError = 0;
    EXPECT_TRUE(DeleteFileA("c:/tuner/TUNER.ini"));
    EXPECT_TRUE(sim::world().files.empty());
    EXPECT_FALSE(DeleteFileA(kIni));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
    auto calls = sim::world().callsTo("DeleteFileA");
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("path=c:/tuner/TUNER.ini", calls[0].args);
}

}  // namespace
