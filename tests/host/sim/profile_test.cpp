// Profile files, the Windows directory and DeleteFileA in the simulation.
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

TEST_F(ProfileTest, ParsesLikeWindows) {
    put(kIni,
        "; tuner settings\r\n"
        "Orphan=before any section\r\n"
        "  [ Tuner ]  \r\n"
        "  Device Name  =  \"Hauppauge WinTV\"  \r\n"
        "App = 'single' \r\n"
        "Half=\"open\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "  ; Key=commented\r\n"
        "app=second\r\n"
        "Path=C:\\a=b ; not a comment\n"
        "[tuner]\r\n"
        "Other=later section\r\n"
        "[Last]\n"
        ";Hidden=1\n"
        "Tail=no newline");
    DWORD n = 0;
    EXPECT_EQ("Hauppauge WinTV", read("tuner", "device name", "x", 256, &n));
    EXPECT_EQ(15u, n);
    EXPECT_EQ("single", read(" TUNER ", "APP", "x"));
    EXPECT_EQ("\"open", read("Tuner", "Half", "x"));
    EXPECT_EQ("", read("Tuner", "Empty", "x", 256, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ("x", read("Tuner", "NoEquals", "x"));
    EXPECT_EQ("x", read("Tuner", "Key", "x"));
    EXPECT_EQ("C:\\a=b ; not a comment", read("Tuner", "Path", "x"));
    EXPECT_EQ("x", read("Tuner", "Other", "x"));  // the first [tuner] wins
    EXPECT_EQ("x", read("Tuner", "Orphan", "x"));
    EXPECT_EQ("no newline", read("last", "tail", "x"));
    char keys[16];
    EXPECT_EQ(5u, GetPrivateProfileStringA("Last", nullptr, "", keys, sizeof keys, kIni));
    EXPECT_EQ(0, std::memcmp(keys, "Tail\0\0", 6));
}

TEST_F(ProfileTest, MissingPiecesGiveTheDefault) {
    put(kIni, "[Tuner]\nChannel=5\n");
    DWORD n = 99;
    EXPECT_EQ("dflt", read("Tuner", "Volume", "dflt", 256, &n));
    EXPECT_EQ(4u, n);
    EXPECT_EQ("", read("Tuner", "Volume", nullptr, 256, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ("one two", read("Tuner", "Volume", "one two  ", 256, &n));  // trailing blanks go
    EXPECT_EQ(7u, n);
    EXPECT_EQ("d", read("Other", "Channel", "d"));
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

TEST_F(ProfileTest, TruncationReturnValues) {
    put(kIni, "[section1]\nname1=val1\nname2=\"val2\"\nname4=a\n[section2]\n");
    DWORD n = 0;
    EXPECT_EQ("val1", read("section1", "name1", "default", 5, &n));
    EXPECT_EQ(4u, n);
    EXPECT_EQ("val", read("section1", "name1", "default", 4, &n));
    EXPECT_EQ(3u, n);
    EXPECT_EQ("va", read("section1", "name2", "default", 3, &n));  // quotes gone before cutting
    EXPECT_EQ(2u, n);
    EXPECT_EQ("", read("section1", "name4", "default", 1, &n));
    EXPECT_EQ(0u, n);
    EXPECT_EQ("def", read("section1", "none", "default", 4, &n));
    EXPECT_EQ(3u, n);

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

TEST_F(ProfileTest, TenThousandCharacterLines) {
    std::string longValue(10000, 'v');
    std::string longName(10000, 'k');
    put(kIni, "[Tuner]\n" + longName + "\nLong=" + longValue + "\r\n" + longName + "=x\nAfter=1\n");
    DWORD n = 0;
    EXPECT_EQ(std::string(63, 'v'), read("Tuner", "Long", "d", 64, &n));
    EXPECT_EQ(63u, n);
    EXPECT_EQ(longValue, read("Tuner", "Long", "d", 10001, &n));
    EXPECT_EQ(10000u, n);
    EXPECT_EQ(std::string(9999, 'v'), read("Tuner", "Long", "d", 10000, &n));
    EXPECT_EQ(9999u, n);
    EXPECT_EQ("x", read("Tuner", longName.c_str(), "d"));
    EXPECT_EQ(1u, GetPrivateProfileIntA("Tuner", "After", 0, kIni));
    // Key list: the line without '=' is no key; the long key is cut.
    char list[32];
    EXPECT_EQ(30u, GetPrivateProfileStringA("Tuner", nullptr, "d", list, sizeof list, kIni));
    EXPECT_EQ("Long", std::string(list));
    EXPECT_EQ(std::string(25, 'k'), std::string(list + 5));
    EXPECT_EQ('\0', list[31]);
}

TEST_F(ProfileTest, IntParsing) {
    put(kIni,
        "[Remote]\nA=81\nB=7a\nC=\nD=-3\nE=0x1F\nF=abc\nG=+5\nH=4294967297\nI=\"12\"\nJ= 42 \nK=0x\n");
    auto get = [](const char* key, INT def = 99) {
        return static_cast<int>(GetPrivateProfileIntA("Remote", key, def, kIni));
    };
    EXPECT_EQ(81, get("A"));
    EXPECT_EQ(7, get("B"));
    EXPECT_EQ(99, get("C"));  // an empty value reads as the default
    EXPECT_EQ(-3, get("D"));
    EXPECT_EQ(0xFFFFFFFDu, GetPrivateProfileIntA("Remote", "D", 0, kIni));
    EXPECT_EQ(31, get("E"));
    EXPECT_EQ(0, get("F"));
    EXPECT_EQ(5, get("G"));
    EXPECT_EQ(1, get("H"));  // wraps modulo 2^32
    EXPECT_EQ(12, get("I"));
    EXPECT_EQ(42, get("J"));
    EXPECT_EQ(0, get("K"));
    EXPECT_EQ(-1, get("Missing", -1));
    EXPECT_EQ(-1, static_cast<int>(GetPrivateProfileIntA("Remote", "A", -1, "C:\\absent.ini")));
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
