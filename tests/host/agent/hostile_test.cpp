// Hostile registry data through the real agent: the two settings stored with
// the wrong type or size, and install paths of every awkward length, without
// their terminator, of binary type. Each case has one clear outcome: a setting
// that is not a four-byte REG_DWORD is replaced by its default; an install
// path is taken as stored, whatever its type, when it fits its 128-byte buffer
// with a terminator, and is treated as missing otherwise. Nothing overflows
// and nothing is started that the data does not name.
#include "scenario.h"
#include "tvapps.h"

#include "agent/dialogs.h"
#include "apps/adapters.h"
#include "apps/keymaps.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using namespace scenario;

namespace {

// REG_QWORD: an 8-byte number.
constexpr DWORD QWORD_TYPE = 11;

std::vector<BYTE> bytesOf(const std::string& text) { return std::vector<BYTE>(text.begin(), text.end()); }
// Every byte of a string literal, zeros written inside it included, without the literal's own terminator.
template <size_t N>
std::vector<BYTE> literalBytes(const char (&text)[N]) {
    return std::vector<BYTE>(text, text + N - 1);
}
std::vector<BYTE> dwordBytes(DWORD v) {
    return {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
}

// The command line of a WinExec call as logged, without the show argument
// and without quotes around the program.
std::string commandOf(const sim::Call& call) {
    std::string args = call.args;
    if (args.rfind("cmd=", 0) == 0) args = args.substr(4);
    size_t show = args.rfind(" show=");
    if (show != std::string::npos) args = args.substr(0, show);
    std::string out;
    for (char c : args)
        if (c != '"') out += c;
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char* const NOT_INSTALLED = "Please re-initialize the TV application settings.";
const char* const START_FAILED = "Can't run launch TV application what you want.";

class HostileTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        box = w().addCaptureDevice("USB 2800 Video").box;
    }
    void pressAt(uint32_t at, uint8_t code) {
        auto b = box;
        w().at(at, "remote key", [b, code] { b->press(code); });
    }
    void setSetting(const char* name, DWORD type, const std::vector<BYTE>& bytes) {
        w().registry.setRaw(SETTINGS, name, type, bytes);
    }
    // The value as the registry holds it after the run.
    const sim::RegValue* setting(const char* name) { return w().registry.value(SETTINGS, name); }
    std::vector<std::string> started() {
        std::vector<std::string> out;
        for (const sim::ProgramStart& p : w().programStarts) out.push_back(lower(p.path));
        return out;
    }
    bool messageShown(const char* text) {
        for (const sim::MessageBoxRecord& m : w().messageBoxes)
            if (m.text == text) return true;
        return false;
    }
    std::shared_ptr<bridge::CaptureBox> box;
};

// ---- DefaultTVAPP ---------------------------------------------------------------------------

// A setting counts only as the agent writes it: a REG_DWORD of four bytes.
// Anything else stored under its name (another type, another size) is
// unreadable and written anew with the default; no byte of it is used.
struct DefaultCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    bool readable;  // taken as stored and left as it is
    int expected;   // defaultTvApp after loading
    AppId starts;   // what the Power key starts; APP_COUNT: nothing
};

TEST_F(HostileTest, DefaultTvAppOfAnyTypeAndSize) {
    const std::vector<DefaultCase> cases = {
        {"REG_DWORD 2", REG_DWORD, dwordBytes(2), true, 2, APP_POWERVCR},
        {"REG_DWORD 0xFFFFFFFF", REG_DWORD, dwordBytes(0xFFFFFFFFu), true, -1, APP_COUNT},
        {"REG_DWORD 0x80000000", REG_DWORD, dwordBytes(0x80000000u), true, static_cast<int>(0x80000000u),
         APP_COUNT},
        {"REG_DWORD 0x00000102", REG_DWORD, dwordBytes(0x102), true, 0x102, APP_COUNT},
        {"REG_DWORD 0", REG_DWORD, dwordBytes(0), true, 0, APP_COUNT},
        // Not the agent's number: the default, RoviverUVA, is written and used.
        {"REG_SZ \"2\" with terminator", REG_SZ, bytesOf(std::string("2\0", 2)), false, 3, APP_ROVIVER},
        {"REG_SZ \"4\" without terminator", REG_SZ, bytesOf("4"), false, 3, APP_ROVIVER},
        {"REG_SZ \"12345678\"", REG_SZ, bytesOf(std::string("12345678\0", 9)), false, 3, APP_ROVIVER},
        {"REG_BINARY 02 00 00 00", REG_BINARY, dwordBytes(2), false, 3, APP_ROVIVER},
        {"REG_BINARY 02 00", REG_BINARY, {2, 0}, false, 3, APP_ROVIVER},
        {"REG_DWORD of 2 bytes", REG_DWORD, {4, 0}, false, 3, APP_ROVIVER},
        {"REG_DWORD of 0 bytes", REG_DWORD, {}, false, 3, APP_ROVIVER},
        {"REG_DWORD of 5 bytes", REG_DWORD, {2, 0, 0, 0, 0}, false, 3, APP_ROVIVER},
        {"REG_QWORD 2", QWORD_TYPE, {2, 0, 0, 0, 0, 0, 0, 0}, false, 3, APP_ROVIVER},
        {"REG_BINARY of 4096 bytes", REG_BINARY, std::vector<BYTE>(4096, 0x02), false, 3, APP_ROVIVER},
    };
    for (const DefaultCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        for (AppId app : {APP_POWERVCR, APP_WINDVR, APP_HONESTECH}) tvapps::install(app);
        tvapps::install(APP_ROVIVER);  // installed last: the shared program shows RoviverUVA's window
        setSetting(SETTING_DEFAULT_TV_APP, c.type, c.bytes);
        pressAt(1000, KEY_POWER);
        Outcome run = runAgent(3000);
        EXPECT_FALSE(run.finished) << "the agent keeps running";
        EXPECT_EQ(defaultTvApp, c.expected);
        const sim::RegValue* stored = setting(SETTING_DEFAULT_TV_APP);
        ASSERT_NE(stored, nullptr);
        if (c.readable) {
            EXPECT_EQ(stored->type, c.type) << "a readable value is left as it is";
            EXPECT_EQ(stored->data, c.bytes);
        } else {
            EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD)) << "an unreadable value is written anew";
            EXPECT_EQ(stored->data, dwordBytes(3));
        }
        EXPECT_TRUE(w().messageBoxes.empty());
        if (c.starts == APP_COUNT)
            EXPECT_TRUE(w().callsTo("WinExec").empty()) << "no default application: Power starts nothing";
        else
            EXPECT_EQ(started(), std::vector<std::string>{lower(tvapps::exePath(c.starts))});
        EXPECT_EQ(w().registry.openHandles(), 0u);
    }
}

// ---- AlwaysRemoteOff ------------------------------------------------------------------------

struct OffCase {
    const char* what;
    DWORD type;
    std::vector<BYTE> bytes;
    bool readable;
    bool off;  // the agent ends at once
};

TEST_F(HostileTest, AlwaysRemoteOffOfAnyTypeAndSize) {
    const std::vector<OffCase> cases = {
        {"REG_DWORD 1", REG_DWORD, dwordBytes(1), true, true},
        {"REG_DWORD 0x00000101", REG_DWORD, dwordBytes(0x101), true, false},
        {"REG_DWORD 2", REG_DWORD, dwordBytes(2), true, false},
        {"REG_DWORD 0xFFFFFFFF", REG_DWORD, dwordBytes(0xFFFFFFFFu), true, false},
        // Not the agent's number: 0 is written and the agent runs.
        {"REG_BINARY 01 00 00 00", REG_BINARY, dwordBytes(1), false, false},
        {"REG_BINARY 01", REG_BINARY, {1}, false, false},
        {"REG_SZ \"1\"", REG_SZ, bytesOf(std::string("1\0", 2)), false, false},
        {"REG_DWORD of 0 bytes", REG_DWORD, {}, false, false},
        {"REG_DWORD of 1 byte", REG_DWORD, {1}, false, false},
        {"REG_QWORD 1", QWORD_TYPE, {1, 0, 0, 0, 0, 0, 0, 0}, false, false},
        {"REG_SZ of 4096 bytes", REG_SZ, std::vector<BYTE>(4096, '1'), false, false},
    };
    for (const OffCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        setSetting(SETTING_ALWAYS_REMOTE_OFF, c.type, c.bytes);
        Outcome run = runAgent(2000);
        if (c.off) {
            EXPECT_TRUE(run.finished);
            EXPECT_EQ(run.exitCode, 0);
            EXPECT_TRUE(w().tray.empty()) << "no icon left behind";
            EXPECT_EQ(w().comInitDepth, 0);
            EXPECT_TRUE(callsWith("SetTimer").empty());
        } else {
            EXPECT_FALSE(run.finished) << "the agent runs";
            EXPECT_TRUE(keyPollTimer.armed);
            EXPECT_EQ(w().tray.size(), 1u);
        }
        const sim::RegValue* stored = setting(SETTING_ALWAYS_REMOTE_OFF);
        ASSERT_NE(stored, nullptr);
        if (c.readable) {
            EXPECT_EQ(stored->type, c.type) << "a readable value is left as it is";
            EXPECT_EQ(stored->data, c.bytes);
        } else {
            EXPECT_EQ(stored->type, static_cast<DWORD>(REG_DWORD)) << "an unreadable value is written anew";
            EXPECT_EQ(stored->data, dwordBytes(0));
        }
        EXPECT_EQ(w().registry.openHandles(), 0u);
    }
}

// ---- install paths --------------------------------------------------------------------------

// A directory name of exactly `length` characters, without spaces, so the
// program it names is found however the command line is quoted.
std::string pathOfLength(size_t length) {
    std::string p = "C:\\";
    while (p.size() < length) p += static_cast<char>('a' + p.size() % 26);
    return p.substr(0, length);
}

struct PathCase {
    size_t bytes;     // size of the stored value
    bool terminated;  // its last byte is the terminating zero
    DWORD type;
};

std::string describe(const PathCase& c) {
    return std::to_string(c.bytes) + " bytes, " + (c.terminated ? "with" : "without") + " terminator, " +
           (c.type == REG_SZ ? "REG_SZ" : "REG_BINARY");
}

TEST_F(HostileTest, InstallPathsOfEveryAwkwardLength) {
    std::vector<PathCase> cases;
    for (size_t bytes : {size_t{0}, size_t{1}, size_t{127}, size_t{128}, size_t{129}, size_t{4096}})
        for (bool terminated : {true, false})
            for (DWORD type : {static_cast<DWORD>(REG_SZ), static_cast<DWORD>(REG_BINARY)}) {
                if ((bytes == 0 && terminated) || (bytes == 1 && !terminated)) continue;
                cases.push_back({bytes, terminated, type});
            }
    for (const PathCase& c : cases) {
        SCOPED_TRACE(describe(c));
        SetUp();
        size_t chars = c.terminated ? c.bytes - 1 : c.bytes;
        std::string dir = pathOfLength(chars);
        std::vector<BYTE> data = bytesOf(dir);
        if (c.terminated) data.push_back(0);
        ASSERT_EQ(data.size(), c.bytes);
        // PowerVCR II installed there, and the default for the Power key.
        const std::string exe = dir + "\\PVCR.EXE";
        if (!dir.empty()) {
            sim::ProgramSetup setup;
            setup.windowClass = "PowerVCR II Taurus";
            setup.windowTitle = "PowerVCR II";
            w().installProgram(exe, setup);
        }
        w().registry.setRaw("HKLM\\Software\\Cyberlink\\PowerVCR II", "InstallPath", c.type, data);
        w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 2);
        pressAt(1000, KEY_POWER);
        runAgent(3000);

        // The path counts when it fits the 128-byte buffer with its terminator.
        bool fits = c.terminated ? c.bytes <= 128 : c.bytes <= 127;
        EXPECT_EQ(powerVcrApp.found, fits ? 1 : 0);
        ASSERT_LT(std::strlen(powerVcrApp.installPath), sizeof powerVcrApp.installPath) << "terminated";
        auto execs = w().callsTo("WinExec");
        if (!fits) {
            EXPECT_TRUE(execs.empty()) << "nothing is started from a path that does not fit";
            EXPECT_TRUE(messageShown(NOT_INSTALLED));
            continue;
        }
        EXPECT_EQ(std::string(powerVcrApp.installPath), dir);
        EXPECT_FALSE(messageShown(NOT_INSTALLED));
        ASSERT_EQ(execs.size(), 1u);
        EXPECT_EQ(commandOf(execs[0]), exe) << "the path exactly as stored, then the program";
        if (chars == 0) {
            // An empty path names "\PVCR.EXE", which is not there.
            EXPECT_TRUE(w().programStarts.empty());
            EXPECT_TRUE(messageShown(START_FAILED));
        } else {
            EXPECT_EQ(started(), std::vector<std::string>{lower(exe)});
            EXPECT_EQ(powerVcrApp.active, 1);
        }
    }
}

// A quote is no part of a directory name, and inside the quoted command line
// a launch builds it would end the quoting: "C:\Tools\evil" "\PVCR.EXE"
// starts C:\Tools\evil.exe. Such a path counts as not installed. What
// follows a zero byte inside the value is not part of the path.
TEST_F(HostileTest, InstallPathsHoldingAQuoteCountAsNotInstalled) {
    const std::string planted = "C:\\Tools\\evil.exe";
    struct QuoteCase {
        std::vector<BYTE> stored;
        bool found;
        const char* path;  // the path held, when found
    };
    const std::vector<QuoteCase> cases = {
        {literalBytes("C:\\Tools\\evil\" \"\0"), false, ""},
        {literalBytes("\"C:\\Program Files\\CyberLink\\PowerVCR II\"\0"), false, ""},
        {literalBytes("C:\\a\"b\0"), false, ""},
        {literalBytes("C:\\PVCR\0\" C:\\Tools\\evil\0"), true, "C:\\PVCR"},
    };
    for (const QuoteCase& c : cases) {
        SCOPED_TRACE(std::string(c.stored.begin(), c.stored.end()));
        SetUp();
        sim::ProgramSetup setup;
        setup.windowClass = "PowerVCR II Taurus";
        w().installProgram(planted, setup);
        w().installProgram("C:\\PVCR\\PVCR.EXE", setup);
        w().registry.setRaw("HKLM\\Software\\Cyberlink\\PowerVCR II", "InstallPath", REG_SZ, c.stored);
        w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, 2);
        pressAt(1000, KEY_POWER);
        runAgent(3000);
        EXPECT_EQ(powerVcrApp.found, c.found ? 1 : 0);
        EXPECT_STREQ(powerVcrApp.installPath, c.path);
        for (const std::string& p : started()) EXPECT_NE(p, lower(planted)) << "the planted program ran";
        if (c.found) {
            EXPECT_EQ(started(), std::vector<std::string>{"c:\\pvcr\\pvcr.exe"});
        } else {
            EXPECT_TRUE(w().callsTo("WinExec").empty());
            EXPECT_TRUE(messageShown(NOT_INSTALLED));
        }
    }
}

TEST_F(HostileTest, OversizedPathsLeaveEveryApplicationUninstalled) {
    const char* const keys[][2] = {{"HKLM\\Software\\Cyberlink\\PowerVCR II", "InstallPath"},
                                   {"HKLM\\Software\\Honestech\\TV Plus\\TVR", "AppPath"},
                                   {"HKLM\\Software\\InterVideo\\WinDVD4", "PATH"},
                                   {"HKLM\\Software\\InterVideo\\WinDVR", "PATH"},
                                   {"HKLM\\Software\\InterVideo\\WinRip", "PATH"}};
    for (size_t bytes : {size_t{129}, size_t{4096}}) {
        SCOPED_TRACE(bytes);
        SetUp();
        for (const auto& k : keys) w().registry.setRaw(k[0], k[1], REG_BINARY, std::vector<BYTE>(bytes, 'x'));
        // The Setting dialog then lists nothing, and the tray menu offers no RoviverUVA.
        std::vector<std::string> entries;
        w().after(500, "setting", [] { PostMessageA(mainWindow, WM_COMMAND, 32, 0); });
        w().after(700, "look", [&] {
            HWND d = sim::world().innermostDialog();
            LRESULT n = SendDlgItemMessageA(d, 11, CB_GETCOUNT, 0, 0);
            entries.assign(static_cast<size_t>(n > 0 ? n : 0), "");
            sim::world().pressDialogEscape();
        });
        pressAt(1000, KEY_SECOND_START);
        pressAt(1500, KEY_POWER);
        runAgent(5000);
        for (AppId app : {APP_POWERVCR, APP_HONESTECH, APP_WINDVD, APP_WINDVR, APP_WINRIP, APP_ROVIVER}) {
            EXPECT_EQ(adapterOf(app).found, 0) << app;
            EXPECT_EQ(adapterOf(app).installPath[0], '\0') << app;
        }
        EXPECT_TRUE(entries.empty());
        EXPECT_TRUE(w().callsTo("WinExec").empty());
        EXPECT_TRUE(messageShown(NOT_INSTALLED)) << "Power reports the default as not installed";
        EXPECT_EQ(w().registry.openHandles(), 0u);
    }
}

}  // namespace
