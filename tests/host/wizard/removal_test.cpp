// Page 2's removals on their own: the search of the Uninstall entries, the
// drivers' entry, and the start of each command.
#include "wizard_test.h"

namespace wizard_test {
namespace {

constexpr const char* UTILITIES = "Tolvar Remote Control Utilities";
constexpr const char* DRIVERS = "TolvarCaptureDrivers";
constexpr const char* EXE = "C:\\u\\a.exe";

// A command line of `length` characters that starts EXE.
std::string command(size_t length) {
    const std::string c = std::string(EXE) + " ";
    return c + std::string(length - c.size(), 'x');
}
std::string command(const std::string& arg) { return std::string(EXE) + " " + arg; }

using Started = std::vector<std::string>;

class RemovalTest : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        lstrcpyA(theApp.m_szUtilityName, UTILITIES);
        lstrcpyA(theApp.m_szDriverKeyName, DRIVERS);
        w().registry.create(UNINSTALL);
        program(EXE);
    }
    void removeUtilities() { CPage2().RemoveUtilities(); }
    void removeDrivers() { CPage2().RemoveDrivers(); }
    Started started() {
        Started out;
        for (const sim::ProcessRecord& p : w().processes) out.push_back(p.commandLine);
        return out;
    }
};

// Entries come in the order of their names; the display name is compared
// without regard to case. A match without a command, with one that does not
// fit or that cannot be opened leaves the command found before it, and an
// unreadable display name matches nothing.
TEST_F(RemovalTest, LastMatchWithAReadableCommandRunsOnce) {
    entry("A", UTILITIES, command("A"));
    entry("B", "TOLVAR remote CONTROL utilities", command("B"));
    entry("C", "Another program", command("C"));
    entry("D", UTILITIES, "");
    entry("E", UTILITIES, command(TEXT_CAPACITY + 40));
    entry("F", UTILITIES, command("F"));
    w().registry.find(std::string(UNINSTALL) + "\\F")->denyOpen = true;
    entry("G", std::string(TEXT_CAPACITY, 'g'), command("G"));
    removeUtilities();
    EXPECT_EQ(started(), Started{command("B")});
}

TEST_F(RemovalTest, EnumerationErrorEndsTheSearch) {
    entry("A", UTILITIES, command("A"));
    entry("M" + std::string(TEXT_CAPACITY, 'm'), UTILITIES, command("M"));  // a name longer than the buffer
    entry("Z", UTILITIES, command("Z"));
    removeUtilities();
    EXPECT_EQ(started(), Started{command("A")});
}

TEST_F(RemovalTest, NothingRunsWithoutFullAccessOrWithoutAMatchingCommand) {
    entry("A", UTILITIES, "");
    removeUtilities();
    entry("B", UTILITIES, command("B"));
    w().registry.find(UNINSTALL)->denyWrite = true;
    removeUtilities();
    EXPECT_TRUE(started().empty());
}

// An empty name would match every entry without a readable display name.
TEST_F(RemovalTest, EmptyUtilityNameMatchesNothing) {
    theApp.m_szUtilityName[0] = '\0';
    entry("A", "", command("A"));
    w().registry.setString(std::string(UNINSTALL) + "\\B", "DisplayName", "");
    w().registry.setString(std::string(UNINSTALL) + "\\B", "UninstallString", command("B"));
    removeUtilities();
    EXPECT_TRUE(started().empty());
}

// The utilities' command is read into all 256 bytes, the drivers' into 255;
// a value stored without its NUL needs one more byte.
TEST_F(RemovalTest, CommandsThatFit) {
    struct Case {
        bool utilities, terminated;
        size_t length;
        bool runs;
    };
    const Case cases[] = {{true, true, 255, true},    {true, true, 256, false},  {false, true, 254, true},
                          {false, true, 255, false},  {true, false, 255, true},  {true, false, 256, false},
                          {false, false, 254, true},  {false, false, 255, false}};
    for (const Case& c : cases) {
        SetUp();
        const std::string key = std::string(UNINSTALL) + "\\" + (c.utilities ? "A" : DRIVERS);
        const std::string line = command(c.length);
        w().registry.setString(key, "DisplayName", UTILITIES);
        if (c.terminated) w().registry.setString(key, "UninstallString", line);
        else w().registry.setRaw(key, "UninstallString", REG_SZ, std::vector<BYTE>(line.begin(), line.end()));
        std::memset(theApp.m_szUninstallCommand, 'Z', TEXT_CAPACITY);
        c.utilities ? removeUtilities() : removeDrivers();
        EXPECT_EQ(started(), c.runs ? Started{line} : Started{}) << c.utilities << c.terminated << c.length;
    }
}

// "<Uninstall key>\<name>" has 259 characters of room; a cut path would name another key.
TEST_F(RemovalTest, DriversKeyPathThatDoesNotFitRunsNothing) {
    removeDrivers();
    entry(DRIVERS, "Tolvar WDM drivers", "");
    removeDrivers();
    const size_t room = DRIVER_KEY_PATH_CAPACITY - 1 - (std::strlen(UNINSTALL) - std::strlen("HKLM\\")) - 1;
    for (const std::string& name : {std::string(room, 'd'), std::string(room + 1, 'd')}) {
        entry(name, "", command(std::to_string(name.size())));
        lstrcpyA(theApp.m_szDriverKeyName, name.c_str());
        removeDrivers();
    }
    EXPECT_EQ(started(), Started{command(std::to_string(room))});
}

TEST_F(RemovalTest, CommandRunsAsStoredAndIsWaitedForWithoutLimit) {
    const std::string stored = "%SystemRoot%\\undrv.exe /q";
    program("%SystemRoot%\\undrv.exe", 7000);
    w().registry.setString(std::string(UNINSTALL) + "\\" + DRIVERS, "UninstallString", stored, REG_EXPAND_SZ);
    removeDrivers();
    ASSERT_EQ(w().processes.size(), 1u);
    const sim::ProcessRecord& p = w().processes[0];
    EXPECT_EQ(p.commandLine, stored);
    EXPECT_EQ(p.applicationName + p.currentDirectory, "");
    EXPECT_EQ(p.inheritHandles, FALSE);
    EXPECT_EQ(p.creationFlags, 0u);
    EXPECT_EQ(p.startupInfoSize, sizeof(STARTUPINFOA));
    // The process handle is waited for, then closed, then the thread handle.
    const int wait = call("WaitForSingleObject", " ms=INFINITE");
    ASSERT_GE(wait, 0);
    const std::string process = w().calls[wait].args.substr(0, w().calls[wait].args.find(' '));
    const int first = call("CloseHandle", "", wait), second = call("CloseHandle", "", first + 1);
    ASSERT_GE(second, 0);
    EXPECT_EQ(w().calls[first].args, process);
    EXPECT_NE(w().calls[second].args, process);
    EXPECT_GE(w().calls[first].time, p.ended);
    EXPECT_FALSE(p.running);
}

}  // namespace
}  // namespace wizard_test
