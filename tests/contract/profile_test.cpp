// Profile (.ini) reads as the programs make them: the wizard's texts from
// its INI file, the country code from win.ini.
#include "contract.h"

#include <cstring>
#include <string>

namespace {

using Profile = Contract;

// Names are trimmed and case-insensitive; values are trimmed and lose one
// pair of matching quotes; the first section and key of a name win; a line
// without '=' is a key without a value, read as missing, that hides later
// keys of its name. A read copies at most size-1 characters, terminates them
// and returns their count; a missing file, section or key gives the default
// (less its trailing blanks), cut the same way. (Wine cuts one character
// more from a quoted value that fits the buffer exactly; the rows keep
// quoted values away from that edge.)
TEST_F(Profile, StringReadsFindTrimAndCut) {
    const std::string ini = contract::filePath("texts.ini"), longValue(10000, 'v');
    contract::writeFile(ini,
                        "; texts\r\n"
                        "Orphan=before any section\r\n"
                        "  [ Tuner ]  \r\n"
                        "  Device Name  =  \"Hauppauge WinTV\"  \r\n"
                        "App = 'single' \r\n"
                        "Half=\"open\r\n"
                        "Empty=\r\n"
                        "NoEquals\r\n"
                        "NoEquals=hidden\r\n"
                        "; Key=commented\r\n"
                        "app=second\r\n"
                        "Path=C:\\a=b ; not a comment\r\n"
                        "[tuner]\r\n"
                        "Other=later section\r\n"
                        "[Br]acket] tail\r\n"
                        "B=2\r\n"
                        "[Long]\r\n"
                        "Value=" + longValue + "\r\n"
                        "[Last]\r\n"
                        "Tail=no newline");
    struct Row {
        const char *section, *key, *def;
        DWORD size;
        std::string text;
    };
    const Row rows[] = {
        {"tuner", "device name", "x", 64, "Hauppauge WinTV"},
        {" TUNER ", "APP", "x", 64, "single"},
        {"Tuner", "Half", "x", 64, "\"open"},
        {"Tuner", "Empty", "x", 64, ""},
        {"Tuner", "NoEquals", "x", 64, "x"},
        {"Tuner", "Key", "x", 64, "x"},
        {"Tuner", "Path", "x", 64, "C:\\a=b ; not a comment"},
        {"Tuner", "Other", "x", 64, "x"},
        {"Tuner", "Orphan", "x", 64, "x"},
        {"Br]acket", "B", "x", 64, "2"},
        {"Last", "Tail", "x", 64, "no newline"},
        {"Tuner", "Path", "x", 23, "C:\\a=b ; not a comment"},
        {"Tuner", "Path", "x", 22, "C:\\a=b ; not a commen"},
        {"Tuner", "Device Name", "x", 9, "Hauppaug"},
        {"Tuner", "App", "x", 1, ""},
        {"Long", "Value", "x", 64, std::string(63, 'v')},
        {"Long", "Value", "x", 10001, longValue},
        {"Long", "Value", "x", 10000, std::string(9999, 'v')},
        {"Tuner", "Missing", "default", 64, "default"},
        {"Tuner", "Missing", "default", 4, "def"},
        {"Tuner", "Missing", "one two  ", 64, "one two"},
        {"Tuner", "Missing", "", 64, ""},
        {"Tuner", "Missing", nullptr, 64, ""},
        {"Nowhere", "App", "d", 64, "d"},
    };
    for (const Row& row : rows) {
        std::string buf(row.size + 1, 'Z');
        DWORD n = GetPrivateProfileStringA(row.section, row.key, row.def, &buf[0], row.size, ini.c_str());
        EXPECT_EQ(row.text.size(), n) << row.section << "/" << row.key << "/" << row.size;
        EXPECT_EQ(row.text + '\0', buf.substr(0, row.text.size() + 1)) << row.section << "/" << row.key;
        EXPECT_EQ('Z', buf[row.size]) << "wrote past the buffer";
    }
    char buf[8];
    const std::string absent = contract::filePath("absent.ini");
    EXPECT_EQ(1u, GetPrivateProfileStringA("Tuner", "App", "d", buf, sizeof buf, absent.c_str()));
    EXPECT_STREQ("d", buf);
}

// Numbers are read as their leading digits, after blanks and a sign ("0x"
// reads hex), and wrap modulo 2^32; text without digits reads 0, and only a
// missing or empty value gives the default. Only the first 29 characters of
// the value count. A bare file name is looked for in the Windows directory.
TEST_F(Profile, IntReadsTheLeadingNumber) {
    const std::string ini = contract::filePath("country.ini");
    contract::writeFile(ini,
                        "[intl]\r\nA=81\r\nB=7a\r\nC=\r\nD=-3\r\nE=0x1F\r\nF=abc\r\nG=+5\r\nH=4294967297\r\n"
                        "I=\"12\"\r\nJ= 42 \r\nK=- 5\r\nL=99999999999999999999999999999999999999\r\n");
    struct Row {
        const char* key;
        int value;
    };
    const Row rows[] = {{"A", 81}, {"B", 7}, {"C", 99}, {"D", -3}, {"E", 31}, {"F", 0}, {"G", 5}, {"H", 1},
                        {"I", 12}, {"J", 42}, {"K", 0}, {"L", -1610612737}, {"Missing", 99}};
    for (const Row& row : rows)
        EXPECT_EQ(row.value, static_cast<int>(GetPrivateProfileIntA("Intl", row.key, 99, ini.c_str()))) << row.key;
    EXPECT_EQ(-1, static_cast<int>(GetPrivateProfileIntA("intl", "A", -1, contract::filePath("absent.ini").c_str())));

    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    ASSERT_TRUE(n > 0 && n < sizeof dir);
    const std::string beside = std::string(dir) + "\\TunerpadContract.ini";
    contract::writeFile(beside, "[intl]\r\niCountry=81\r\n");
    UINT country = GetPrivateProfileIntA("intl", "iCountry", 1, "TunerpadContract.ini");
    EXPECT_TRUE(DeleteFileA(beside.c_str()));
    EXPECT_EQ(81u, country);
}

// On the NT family win.ini's [intl] is the user's registry setting
// (IniFileMapping), even for a win.ini of the tests' own.
TEST_F(Profile, WinIniIntlIsTheUsersSetting) {
    HKEY intl = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\International", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &intl, nullptr));
    char saved[16];
    DWORD savedSize = sizeof saved;
    const bool had = RegQueryValueExA(intl, "iCountry", nullptr, nullptr, reinterpret_cast<BYTE*>(saved),
                                      &savedSize) == ERROR_SUCCESS;
    RegSetValueExA(intl, "iCountry", 0, REG_SZ, reinterpret_cast<const BYTE*>("81"), 3);
    const std::string ini = contract::filePath("win.ini");
    contract::writeFile(ini, "[intl]\r\niCountry=886\r\n");
    const UINT country = GetPrivateProfileIntA("intl", "iCountry", 1, ini.c_str());
    if (had) RegSetValueExA(intl, "iCountry", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved), savedSize);
    else RegDeleteValueA(intl, "iCountry");
    RegCloseKey(intl);
    EXPECT_EQ(81u, country);
}

}  // namespace
