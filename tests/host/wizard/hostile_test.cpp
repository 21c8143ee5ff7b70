// Hostile data for clearway: an Uninstall key of ten thousand entries,
// display names and uninstall commands of 255, 256 and 4096 bytes, with and
// without their terminator, and an REDerUro.ini of 10,000-character lines.
// Each has one clear outcome: a text that fits its 256-byte buffer is used
// whole; a display name that does not fit matches nothing; a command that
// does not fit is never started, cut or otherwise; the wizard's shown texts
// are cut to their buffers, while the two names it looks up in the registry
// are used whole or not at all.
#include "wizard_test.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace wizard_test {
namespace {

constexpr const char* EXE = "C:\\u\\a.exe";
constexpr size_t MANY_ENTRIES = 10000;
// The whole search, on the host, including the simulated registry's own
// bookkeeping; an unbounded walk or a walk per entry would pass it.
constexpr double SEARCH_SECONDS_LIMIT = 30.0;
constexpr size_t LONG_LINE = 10000;

// A command line of exactly `length` characters that starts EXE.
std::string command(size_t length) {
    const std::string c = std::string(EXE) + " ";
    return c + std::string(length - c.size(), 'x');
}

std::vector<BYTE> bytes(const std::string& text, bool terminated) {
    std::vector<BYTE> out(text.begin(), text.end());
    if (terminated) out.push_back(0);
    return out;
}

using Started = std::vector<std::string>;

class HostileWizardTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        w().registry.create(UNINSTALL);
        program(EXE);
    }
    Started started() {
        Started out;
        for (const sim::ProcessRecord& p : w().processes) out.push_back(p.commandLine);
        return out;
    }
    void expectTerminated(const char* field) {
        EXPECT_NE(std::memchr(field, 0, TEXT_CAPACITY), nullptr) << "the text ends inside its buffer";
    }
};

// Ten thousand entries before the utilities' one: the search reads them all,
// closes every key it opened, and runs the one command once.
TEST_F(HostileWizardTest, TenThousandUninstallEntries) {
    const std::string name = "Tolvar Remote Control Utilities";
    lstrcpyA(theApp.m_szUtilityName, name.c_str());
    char key[32];
    for (size_t i = 0; i < MANY_ENTRIES; ++i) {
        std::snprintf(key, sizeof key, "{%08zu}", i);
        entry(key, "Program " + std::to_string(i), "C:\\other\\un" + std::to_string(i) + ".exe");
    }
    entry("~Tolvar", name, command(40));  // enumerated last
    ASSERT_EQ(w().registry.find(UNINSTALL)->subkeys.size(), MANY_ENTRIES + 1);

    auto start = std::chrono::steady_clock::now();
    CPage2().RemoveUtilities();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("clearway: search of %zu Uninstall entries took %.3f s on the simulated registry\n",
                MANY_ENTRIES + 1, seconds);
    EXPECT_LT(seconds, SEARCH_SECONDS_LIMIT);
    EXPECT_EQ(started(), Started{command(40)});
    EXPECT_EQ(calls("RegEnumKeyExA"), static_cast<int>(MANY_ENTRIES + 2)) << "every entry, then the end";
    EXPECT_EQ(calls("RegOpenKeyExA"), static_cast<int>(MANY_ENTRIES + 2));
    EXPECT_EQ(w().registry.openHandles(), 0u);
}

// Display names around the 256-byte buffer. The configured name is the
// longest an INI text can be (255 characters); a stored name that is longer,
// even one that begins with the configured name, matches nothing.
TEST_F(HostileWizardTest, DisplayNamesOfEveryAwkwardLength) {
    const std::string configured(TEXT_CAPACITY - 1, 'n');
    struct Case {
        const char* what;
        std::vector<BYTE> stored;
        bool matches;
    };
    const std::vector<Case> cases = {
        {"255 characters with terminator (256 bytes)", bytes(configured, true), true},
        {"255 characters without terminator (255 bytes)", bytes(configured, false), true},
        {"256 characters without terminator (256 bytes)", bytes(configured + "n", false), false},
        {"256 characters with terminator (257 bytes)", bytes(configured + "n", true), false},
        {"the configured name and more, 4096 bytes", bytes(configured + std::string(4096 - 256, 'n'), true), false},
        {"4096 bytes without terminator", bytes(std::string(4096, 'n'), false), false},
        {"255 characters of another name", bytes(std::string(TEXT_CAPACITY - 1, 'm'), true), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        lstrcpyA(theApp.m_szUtilityName, configured.c_str());
        const std::string path = std::string(UNINSTALL) + "\\A";
        w().registry.setRaw(path, "DisplayName", REG_SZ, c.stored);
        w().registry.setString(path, "UninstallString", command(30));
        CPage2().RemoveUtilities();
        EXPECT_EQ(started(), c.matches ? Started{command(30)} : Started{});
    }
}

// Commands around the 256-byte buffer, for both removals. The utilities'
// command may fill the buffer; the drivers' one is read with one byte less.
// Whatever does not fit is never started, and nothing cut is ever run.
TEST_F(HostileWizardTest, CommandsOfEveryAwkwardLength) {
    struct Case {
        size_t characters;
        bool terminated;
        bool utilitiesRun, driversRun;
    };
    const Case cases[] = {
        {254, true, true, true},    {254, false, true, true},   {255, true, true, false},
        {255, false, true, false},  {256, true, false, false},  {256, false, false, false},
        {4095, true, false, false}, {4096, false, false, false},
    };
    const std::string utilities = "Tolvar Remote Control Utilities", drivers = "TolvarCaptureDrivers";
    for (const Case& c : cases) {
        for (bool forUtilities : {true, false}) {
            SCOPED_TRACE(std::to_string(c.characters) + " characters, " + (c.terminated ? "with" : "without") +
                         " terminator, " + (forUtilities ? "utilities" : "drivers"));
            SetUp();
            lstrcpyA(theApp.m_szUtilityName, utilities.c_str());
            lstrcpyA(theApp.m_szDriverKeyName, drivers.c_str());
            const std::string line = command(c.characters);
            const std::string path = std::string(UNINSTALL) + "\\" + (forUtilities ? "A" : drivers);
            w().registry.setString(path, "DisplayName", utilities);
            w().registry.setRaw(path, "UninstallString", REG_SZ, bytes(line, c.terminated));
            std::memset(theApp.m_szUninstallCommand, 'Z', TEXT_CAPACITY);
            forUtilities ? CPage2().RemoveUtilities() : CPage2().RemoveDrivers();
            bool runs = forUtilities ? c.utilitiesRun : c.driversRun;
            EXPECT_EQ(started(), runs ? Started{line} : Started{});
            EXPECT_EQ(calls("CreateProcessA"), runs ? 1 : 0) << "nothing cut is started";
        }
    }
}

// An INI file of 10,000-character lines, read by the real program: every
// shown text is cut to its 255 characters, page 1's explanation to its
// buffer, and the two registry names, which do not fit, are not used at all:
// an entry named by their first 255 characters is not the one the file names.
TEST_F(HostileWizardTest, IniOfTenThousandCharacterLines) {
    std::string content = "[1]\r\n";
    for (int k = 0; k < KEY_COUNT; ++k)
        content += std::string(KEYS[k]) + "=" + std::string(LONG_LINE, static_cast<char>('a' + k)) + "\r\n";
    content += std::string(LONG_LINE, '#') + "\r\n";  // a line that is no key at all
    ini(content);
    country("1");
    // An entry whose display name is what a cut utility name would be.
    entry("A", std::string(TEXT_CAPACITY - 1, 'a' + 6), command(20));
    sim::SheetView page1;
    user(1000, [&] {
        page1 = w().sheetView();
        return w().clickNext();
    });
    user(1001, [this] { return w().clickFinish(); });
    ASSERT_TRUE(run());

    EXPECT_STREQ(theApp.m_szSection, "1");
    for (int k = 0; k < 6; ++k) {
        SCOPED_TRACE(KEYS[k]);
        expectTerminated(theApp.*FIELDS[k]);
        EXPECT_EQ(std::string(theApp.*FIELDS[k]), std::string(TEXT_CAPACITY - 1, static_cast<char>('a' + k)));
    }
    EXPECT_STREQ(theApp.m_szUtilityName, "") << "a name cut to its buffer would name another entry";
    EXPECT_STREQ(theApp.m_szDriverKeyName, "");
    std::string explanation, option1, option2;
    for (const sim::PageControlView& c : page1.controls) {
        if (c.id == IDC_PAGE1_TEXT) explanation = c.text;
        if (c.id == IDC_REMOVE_UTILITIES) option1 = c.text;
        if (c.id == IDC_REMOVE_DRIVERS) option2 = c.text;
    }
    EXPECT_EQ(explanation, std::string(TEXT_CAPACITY - 1, 'b'));
    EXPECT_EQ(option1, std::string(TEXT_CAPACITY - 1, 'd'));
    EXPECT_EQ(option2, std::string(TEXT_CAPACITY - 1, 'e'));
    EXPECT_TRUE(started().empty()) << "nothing runs for names the file does not hold whole";
    EXPECT_EQ(exitCode, 0);
}

// Names that fit exactly are used whole: a 255-character utility name finds
// its entry.
TEST_F(HostileWizardTest, IniNamesThatJustFitAreUsed) {
    const std::string name(TEXT_CAPACITY - 1, 'u');
    ini(std::string("[1]\r\n") + KEYS[0] + "=t\r\n" + KEYS[6] + "=" + name + "\r\n" + KEYS[7] + "=D\r\n");
    country("1");
    entry("A", name, command(20));
    entry("D", "", command(22));
    user(1000, [this] { return w().clickNext(); });
    user(1001, [this] { return w().clickFinish(); });
    ASSERT_TRUE(run());
    EXPECT_EQ(std::string(theApp.m_szUtilityName), name);
    EXPECT_EQ(started(), (Started{command(20), command(22)}));
}

// Without a drivers' key name the path would be the Uninstall key itself.
TEST_F(HostileWizardTest, NoDriversKeyNameRunsNothing) {
    w().registry.setString(UNINSTALL, "UninstallString", command(25));
    theApp.m_szDriverKeyName[0] = '\0';
    CPage2().RemoveDrivers();
    EXPECT_TRUE(started().empty());
    EXPECT_EQ(calls("RegOpenKeyA"), 0);
}

}  // namespace
}  // namespace wizard_test
