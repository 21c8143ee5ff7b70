// The resource-script reader and the resource functions of the simulated desktop.
#include <sim/world.h>
#include <winresrc.h>

#include "resource.h"

#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>  // getpid: test processes run side by side


using ::testing::HasSubstr;

namespace {

constexpr DWORD kChildVisible = WS_CHILD | WS_VISIBLE;
constexpr LPARAM kAltDown = LPARAM(1) << 29;
const std::string kTunerpadTitle = "Ruvuzovi Razuzu Davidod";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The message of the error a script raises, or "" when it parses.
std::string parseError(const std::string& script) {
    try {
        sim::parseResourceScript(script, "inline");
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

void expectAccel(const sim::AccelEntry& e, BYTE flags, WORD key, WORD cmd) {
    EXPECT_EQ(e.flags, flags) << "key " << e.key;
    EXPECT_EQ(e.key, key);
    EXPECT_EQ(e.cmd, cmd) << "key " << e.key;
}

TEST(ResourceScript, TunerpadScriptHoldsTheAgentResources) {
    std::string text = readFile(TUNERPAD_RC_PREPROCESSED);
    ASSERT_FALSE(text.empty()) << TUNERPAD_RC_PREPROCESSED;
    sim::Module m = sim::parseResourceScript(text, "tunerpad");

    EXPECT_EQ(m.strings, (std::map<UINT, std::string>{{IDS_WINDOW_TITLE, kTunerpadTitle},
                                                      {IDS_WINDOW_CLASS, kTunerpadTitle}}));

    ASSERT_EQ(m.accelerators.size(), 1u);
    const std::vector<sim::AccelEntry>& keys = m.accelerators.at(std::to_string(IDR_ACCELERATORS));
    ASSERT_EQ(keys.size(), 2u);
    expectAccel(keys[0], FALT, '/', IDM_ABOUT);  // a character entry: no FVIRTKEY
    expectAccel(keys[1], FALT, '?', IDM_SETTING);

    EXPECT_EQ(m.icons, (std::map<std::string, std::string>{{std::to_string(IDI_AGENT), "icons/tunerpad.ico"},
                                                          {std::to_string(IDI_SHUTDOWN), "icons/shutdown.ico"}}));
    // The three dialogs: caption, size in dialog units, font, and every control.
    struct Expected {
        int id;
        const char* caption;
        int cx, cy;
        std::vector<std::tuple<std::string, int, std::string, int, int, int, int>> controls;  // class, id, text, rect
    };
    const Expected dialogs[] = {
        {IDD_ABOUT, "Ruvuzovi Razuzu Davidod - About", 250, 45,
         {{"STATIC", -1, "#50", 10, 10, 20, 20},
          {"STATIC", -1, "Tolvar Remote Control Utility V1.2.0.0", 40, 10, 155, 10},
          {"STATIC", -1, "", 40, 25, 181, 10},
          {"BUTTON", IDOK, "OK", 197, 7, 35, 15}}},
        {IDD_SETTING, "Ruvuzovi Razuzu Davidod - Setting", 200, 60,
         {{"STATIC", -1, "#50", 5, 5, 20, 20},
          {"STATIC", -1, "Select the application you want to launch when pressing power key on remote controller",
           30, 5, 160, 16},
          {"COMBOBOX", IDC_APP_COMBO, "", 45, 25, 120, 31},
          {"BUTTON", IDOK, "OK", 80, 42, 40, 15}}},
        {IDD_SHUTDOWN, "Ruvuzovi Razuzu Davidod - Shut Down", 200, 60,
         {{"STATIC", -1, "#110", 12, 12, 20, 20},
          {"STATIC", -1, "Press \"Power\" to shut down your computer, or any other key to cancel.", 40, 12, 145, 20},
          {"BUTTON", IDOK, "OK", 50, 40, 40, 14},
          {"BUTTON", IDCANCEL, "Cancel", 115, 40, 40, 14}}},
    };
    ASSERT_EQ(m.dialogs.size(), 3u);
    for (const Expected& e : dialogs) {
        SCOPED_TRACE(e.id);
        const sim::DialogTemplate& d = m.dialogs.at(std::to_string(e.id));
        EXPECT_EQ(d.caption, e.caption);
        EXPECT_EQ(d.cx, e.cx);
        EXPECT_EQ(d.cy, e.cy);
        EXPECT_EQ(d.font, "Arial");
        EXPECT_EQ(d.fontSize, 8);
        const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU;
        EXPECT_EQ(d.style & frame, frame);
        ASSERT_EQ(d.controls.size(), e.controls.size());
        for (size_t i = 0; i < e.controls.size(); ++i) {
            const sim::DialogControl& c = d.controls[i];
            const auto& [cls, id, text, x, y, cx, cy] = e.controls[i];
            EXPECT_EQ(c.windowClass, cls) << i;
            EXPECT_EQ(c.id, id) << i;
            if (!text.empty()) {
                EXPECT_EQ(c.text, text) << i;
            }
            EXPECT_EQ(std::make_tuple(c.x, c.y, c.cx, c.cy), std::make_tuple(x, y, cx, cy)) << i;
        }
    }
    const sim::DialogTemplate& about = m.dialogs.at(std::to_string(IDD_ABOUT));
    EXPECT_TRUE(about.controls[1].style & SS_NOPREFIX);
    EXPECT_FALSE(about.controls[2].text.empty()) << "the About dialog's second line has its own wording";
    EXPECT_EQ(about.controls[3].style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    const sim::DialogTemplate& setting = m.dialogs.at(std::to_string(IDD_SETTING));
    EXPECT_EQ(setting.controls[2].style & 0xF, static_cast<DWORD>(CBS_DROPDOWNLIST));
    EXPECT_TRUE(setting.controls[2].style & WS_VSCROLL);
    const sim::DialogTemplate& prompt = m.dialogs.at(std::to_string(IDD_SHUTDOWN));
    EXPECT_EQ(prompt.controls[2].style & 0xF, static_cast<DWORD>(BS_DEFPUSHBUTTON));
    EXPECT_EQ(prompt.controls[3].style & 0xF, static_cast<DWORD>(BS_PUSHBUTTON));

    EXPECT_EQ(m.version.fileVersion, "1,2,0,0");
    EXPECT_EQ(m.version.productVersion, "1,2,0,0");
    EXPECT_EQ(m.version.block, "040904b0");
    std::map<std::string, std::string> strings = m.version.strings;
    EXPECT_THAT(strings["LegalCopyright"], HasSubstr("Vuzided Ivavevariv"));
    strings.erase("LegalCopyright");
    EXPECT_EQ(strings, (std::map<std::string, std::string>{
                           {"CompanyName", "Vuzided Ivavevariv"},
                           {"FileDescription", "Tolvar Remote Control for Halcyon TVR ( WorldWide )"},
                           {"FileVersion", "1, 2, 0, 0"},
                           {"InternalName", "tunerpad"},
                           {"OriginalFilename", "tunerpad.exe"},
                           {"ProductName", "Tolvar Remote Control Application"},
                           {"ProductVersion", "1, 2, 0, 0"}}));

    EXPECT_EQ(m.language.at(std::to_string(IDS_WINDOW_TITLE)), LANG_ENGLISH);
    EXPECT_EQ(m.language.at(std::to_string(IDI_SHUTDOWN)), LANG_ENGLISH);
}

TEST(ResourceScript, DialogControlsGetTheirClassAndImpliedStyles) {
    sim::Module m = sim::parseResourceScript(R"(
20 DIALOG DISCARDABLE 0, 0, 186, 95
STYLE 0x80000000L | 0x80L           /* WS_POPUP | DS_MODALFRAME */
CAPTION "Settings"
FONT 8, "MS Shell Dlg"
BEGIN
    LTEXT "Left", (-1), 7, 7, 50, 8
    CTEXT "Centre", (-1), 7, 17, 50, 8
    RTEXT "Right", 12, 7, 27, 50, 8, 0x00000100L          // SS_NOTIFY
    PUSHBUTTON "Push", 13, 7, 37, 50, 14, NOT 0x00010000L  // NOT WS_TABSTOP
    DEFPUSHBUTTON "OK", 1, 7, 57, 50, 14
    CHECKBOX "Check", 14, 7, 77, 50, 10
    AUTOCHECKBOX "Auto", 15, 60, 77, 50, 10
    COMBOBOX 11, 60, 7, 100, 60, 0x0003L | 0x00200000L     // CBS_DROPDOWNLIST | WS_VSCROLL
    ICON 50, (-1), 160, 7
    CONTROL "Generic", 16, "Button", 0x00000009L | 0x00010000L, 60, 37, 50, 14
    CONTROL "", 17, "msctls_trackbar32", NOT 0x10000000L | 0x1, 60, 50, 50, 14
END
)",
                                             "inline");
    ASSERT_EQ(m.dialogs.count("20"), 1u);
    const sim::DialogTemplate& d = m.dialogs.at("20");
    EXPECT_EQ(d.id, 20);
    EXPECT_FALSE(d.extended);
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({0, 0, 186, 95}));
    EXPECT_EQ(d.style, DWORD(WS_POPUP | DS_MODALFRAME | WS_CAPTION | DS_SETFONT));
    EXPECT_EQ(d.caption, "Settings");
    EXPECT_EQ(d.font, "MS Shell Dlg");
    EXPECT_EQ(d.fontSize, 8);

    struct Expected {
        const char* kind;
        const char* cls;
        const char* text;
        int id;
        DWORD style;
    };
    const Expected expected[] = {
        {"LTEXT", "STATIC", "Left", IDC_STATIC, kChildVisible | SS_LEFT | WS_GROUP},
        {"CTEXT", "STATIC", "Centre", IDC_STATIC, kChildVisible | SS_CENTER | WS_GROUP},
        {"RTEXT", "STATIC", "Right", 12, kChildVisible | SS_RIGHT | WS_GROUP | SS_NOTIFY},
        {"PUSHBUTTON", "BUTTON", "Push", 13, kChildVisible | BS_PUSHBUTTON},
        {"DEFPUSHBUTTON", "BUTTON", "OK", IDOK, kChildVisible | BS_DEFPUSHBUTTON | WS_TABSTOP},
        {"CHECKBOX", "BUTTON", "Check", 14, kChildVisible | BS_CHECKBOX | WS_TABSTOP},
        {"AUTOCHECKBOX", "BUTTON", "Auto", 15, kChildVisible | BS_AUTOCHECKBOX | WS_TABSTOP},
        {"COMBOBOX", "COMBOBOX", "", 11, kChildVisible | CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
        {"ICON", "STATIC", "#50", IDC_STATIC, kChildVisible | SS_ICON},
        {"CONTROL", "BUTTON", "Generic", 16, kChildVisible | BS_AUTORADIOBUTTON | WS_TABSTOP},
        {"CONTROL", "msctls_trackbar32", "", 17, WS_CHILD | 0x1},
    };
    ASSERT_EQ(d.controls.size(), std::size(expected));
    for (size_t i = 0; i < d.controls.size(); ++i) {
        const sim::DialogControl& c = d.controls[i];
        SCOPED_TRACE(c.kind + " \"" + c.text + "\"");
        EXPECT_EQ(c.kind, expected[i].kind);
        EXPECT_EQ(c.windowClass, expected[i].cls);
        EXPECT_EQ(c.text, expected[i].text);
        EXPECT_EQ(c.id, expected[i].id);
        EXPECT_EQ(c.style, expected[i].style);
    }
    EXPECT_EQ(std::vector<int>({d.controls[1].x, d.controls[1].y, d.controls[1].cx, d.controls[1].cy}),
              std::vector<int>({7, 17, 50, 8}));
    EXPECT_EQ(std::vector<int>({d.controls[8].x, d.controls[8].y}), std::vector<int>({160, 7}));
}

TEST(ResourceScript, DialogExAcceptsItsExtrasAndPlainDialogsKeepDefaults) {
    sim::Module m = sim::parseResourceScript(R"(
21 DIALOGEX 10, 20, 100, 50, 0
EXSTYLE 0x00000008L
CAPTION "About"
FONT 8, "MS Shell Dlg", 400, 0, 0x1
BEGIN
    DEFPUSHBUTTON "OK", 1, 20, 30, 50, 14, 0, 0x00000200L, 0
    LTEXT "Version", -1, -5, 2, 3, 4
END
22 DIALOG 0, 0, 10, 10
BEGIN
END
)",
                                             "inline");
    const sim::DialogTemplate& about = m.dialogs.at("21");
    EXPECT_TRUE(about.extended);
    EXPECT_EQ(about.style, DWORD(WS_POPUP | WS_BORDER | WS_SYSMENU | WS_CAPTION | DS_SETFONT));
    EXPECT_EQ(about.font, "MS Shell Dlg");
    ASSERT_EQ(about.controls.size(), 2u);
    EXPECT_EQ(about.controls[0].style, kChildVisible | BS_DEFPUSHBUTTON | WS_TABSTOP);
    EXPECT_EQ(about.controls[1].x, -5);
    EXPECT_EQ(m.dialogs.at("22").style, DWORD(WS_POPUP | WS_BORDER | WS_SYSMENU));
    EXPECT_TRUE(m.dialogs.at("22").controls.empty());

    EXPECT_THAT(parseError("1 DIALOG 0, 0, 1, 1\nFONT 8, \"MS Shell Dlg\", 400\nBEGIN\nEND\n"),
                HasSubstr(":2: FONT weight"));
    EXPECT_THAT(parseError("1 DIALOG 0, 0, 1, 1\nBEGIN\n  SLIDER \"x\", 1, 0, 0, 1, 1\nEND\n"),
                HasSubstr(":3: unknown control statement 'SLIDER'"));
}

TEST(ResourceScript, StringsDecodeEscapesAndIdentifierExpressions) {
    sim::Module m = sim::parseResourceScript(R"(
STRINGTABLE
BEGIN
    1, "say ""hi"""
    2 "tab\there\nnew\\slash\"q\"\r"
    3, "\101\x42\103\x4a"
    4, "nul\0end"
    0x10, "hex id"
    20L "long id"
    (2+3)*4+1, "expression id"
    30, "joined " "literal"
    31, L"wide"
    32, "\q stays"
END
)",
                                             "inline");
    EXPECT_EQ(m.strings.at(1), "say \"hi\"");
    EXPECT_EQ(m.strings.at(2), "tab\there\nnew\\slash\"q\"\r");
    EXPECT_EQ(m.strings.at(3), "ABCJ");
    EXPECT_EQ(m.strings.at(4), std::string("nul\0end", 7));
    EXPECT_EQ(m.strings.at(16), "hex id");
    EXPECT_EQ(m.strings.at(20), "long id");
    EXPECT_EQ(m.strings.at(21), "expression id");
    EXPECT_EQ(m.strings.at(30), "joined literal");
    EXPECT_EQ(m.strings.at(31), "wide");
    EXPECT_EQ(m.strings.at(32), "\\q stays");
    EXPECT_EQ(m.strings.size(), 10u);
}

TEST(ResourceScript, AcceleratorEntriesInEveryForm) {
    sim::Module m = sim::parseResourceScript(R"(
7 ACCELERATORS
BEGIN
    "a", 100, VIRTKEY, CONTROL, SHIFT
    0x70, 101, VIRTKEY
    "^c", 102
    "x", 103, ASCII, NOINVERT
    65, 104, ASCII, ALT
    "q", 105, alt
END
)",
                                             "inline");
    const std::vector<sim::AccelEntry>& t = m.accelerators.at("7");
    ASSERT_EQ(t.size(), 6u);
    expectAccel(t[0], FVIRTKEY | FCONTROL | FSHIFT, 'A', 100);  // virtual keys of letters are capitals
    expectAccel(t[1], FVIRTKEY, VK_F1, 101);
    expectAccel(t[2], 0, 3, 102);  // Ctrl+C as the character it types
    expectAccel(t[3], FNOINVERT, 'x', 103);
    expectAccel(t[4], FALT, 'A', 104);
    expectAccel(t[5], FALT, 'q', 105);
}

TEST(ResourceScript, SyntaxErrorsNameTheirLine) {
    const struct {
        const char* script;
        const char* where;
    } cases[] = {
        {"STRINGTABLE\nBEGIN\n  1, \"ok\"\n  2, \"open\nEND\n", "inline:4: line ends inside a string"},
        {"STRINGTABLE\nBEGIN\n  1 \"a\"\n  IDS_MISSING, \"b\"\nEND\n", "inline:4: undefined symbol 'IDS_MISSING'"},
        {"STRINGTABLE\nBEGIN\n  1 \"a\"\n  1 \"b\"\nEND\n", "inline:4: string 1 defined twice"},
        {"1 ACCELERATORS\nBEGIN\n  \"ab\", 5\nEND\n", "inline:3: accelerator key \"ab\""},
        {"1 ACCELERATORS\nBEGIN\n  65, 5\nEND\n", "inline:3: a numeric accelerator key needs"},
        {"1 ACCELERATORS\nBEGIN\n  \"a\", 5, ASCII, VIRTKEY\nEND\n", "inline:3: accelerator is both"},
        {"1 ACCELERATORS\nBEGIN\n  \"a\", 5, CTRL\nEND\n", "inline:3: unknown accelerator option 'CTRL'"},
        {"\n\n20 DIALOG 0, 0, 10\nBEGIN\nEND\n", "inline:4: expected ','"},
        {"1 ICON \"a.ico\"\n2 MENU\nBEGIN\n  POPUP \"x\"\n  BEGIN\n", "inline:3: BEGIN without END"},
        {"1 ICON \"a.ico\"\n1 ICON \"b.ico\"\n", "inline:2: icon 1 defined twice"},
        {"1 ICON \"a.ico\"\nEND\n", "inline:2: unexpected 'END'"},
        {"STRINGTABLE\nBEGIN\n  0x10000, \"big\"\nEND\n", "inline:3: string identifier out of range"},
        {"1 VERSIONINFO\nFILEVERSION 1,2\nBEGIN\n  VALUE \"x\", \"y\"\nEND\n", "inline:4: expected BLOCK"},
        {"/* a comment\nthat never ends\n", "inline:1: unterminated comment"},
        {"1 ICON \"a.ico\" @\n", "inline:1: unexpected character '@'"},
        // The preprocessor's line markers point errors at the original script.
        {"# 40 \"tunerpad.rc\"\nSTRINGTABLE\nBEGIN\n  x\nEND\n", "tunerpad.rc:42: undefined symbol 'x'"},
    };
    for (const auto& c : cases) EXPECT_THAT(parseError(c.script), HasSubstr(c.where)) << c.script;
}

TEST(ResourceScript, LanguageAppliesToTheResourcesThatFollow) {
    sim::Module m = sim::parseResourceScript(R"(
1 ICON "before.ico"
LANGUAGE 0x07, 0x01
2 ICON "german.ico"
STRINGTABLE
LANGUAGE 0x0c, 0x01
BEGIN
    5, "french"
END
3 ACCELERATORS
BEGIN
    "a", 1
END
LANGUAGE 0x09, 0x01
4 DIALOG 0, 0, 1, 1
BEGIN
END
)",
                                             "inline");
    EXPECT_EQ(m.language, (std::map<std::string, int>{{"2", LANG_GERMAN}, {"5", LANG_FRENCH},
                                                      {"3", LANG_GERMAN}, {"4", LANG_ENGLISH}}));
}

TEST(ResourceScript, ResourcesItDoesNotUseAreSkipped) {
    sim::Module m = sim::parseResourceScript(R"(#pragma code_page(1252)
1 24 "tunerpad.exe.manifest"
2 BITMAP MOVEABLE PURE "logo.bmp"
3 MENU
BEGIN
    POPUP "&File"
    BEGIN
        MENUITEM "E&xit", 1201
    END
END
4 RCDATA { 1, 2, "three" }
myIcon ICON "named.ico"
STRINGTABLE BEGIN 7, "after" END
5 ICON icons/raw name.ico
)",
                                             "inline");
    EXPECT_EQ(m.icons, (std::map<std::string, std::string>{{"MYICON", "named.ico"}, {"5", "icons/raw name.ico"}}));
    EXPECT_EQ(m.strings, (std::map<UINT, std::string>{{7, "after"}}));
    EXPECT_TRUE(m.dialogs.empty());
    EXPECT_TRUE(m.accelerators.empty());
}

// ---- the loaders, on modules loaded into the world ----
class ResourceLoading : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        tunerpad = sim::world().loadModule("tunerpad", TUNERPAD_RC_PREPROCESSED);
    }
    void TearDown() override {
        for (const std::string& path : written_) std::remove(path.c_str());
    }

    HINSTANCE loadInline(const std::string& script) {
        std::string path = ::testing::TempDir() + "resources_test_" + std::to_string(getpid()) + "_" +
                           std::to_string(written_.size()) + ".rc.i";
        std::ofstream(path) << script;
        written_.push_back(path);
        return sim::world().loadModule("inline", path);
    }

    HINSTANCE tunerpad = nullptr;
    const HINSTANCE bogus = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7770000));

private:
    std::vector<std::string> written_;
};

TEST_F(ResourceLoading, LoadStringFindsTheModulesStrings) {
    ASSERT_NE(tunerpad, nullptr);
    ASSERT_NE(sim::world().module(tunerpad), nullptr);
    EXPECT_EQ(sim::world().module(tunerpad)->name, "tunerpad");
    EXPECT_EQ(sim::world().module(bogus), nullptr);

    char buf[64];
    EXPECT_EQ(LoadStringA(tunerpad, IDS_WINDOW_TITLE, buf, sizeof buf), static_cast<int>(kTunerpadTitle.size()));
    EXPECT_EQ(std::string(buf), kTunerpadTitle);

    // A module the world does not know has no strings.
    std::strcpy(buf, "stale");
    EXPECT_EQ(LoadStringA(bogus, IDS_WINDOW_CLASS, buf, 5), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));

    std::vector<sim::Call> calls = sim::world().callsTo("LoadStringA");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_THAT(calls[1].args, HasSubstr("id=23 size=5"));

    EXPECT_THROW(sim::world().loadModule("missing", ::testing::TempDir() + "no_such_script.rc.i"),
                 std::runtime_error);
}

TEST_F(ResourceLoading, IconsCursorsAndTablesResolveWithinTheirModule) {
    HICON agent = LoadIconA(tunerpad, MAKEINTRESOURCEA(IDI_AGENT));
    HICON shutdown = LoadIconA(tunerpad, MAKEINTRESOURCEA(IDI_SHUTDOWN));
    ASSERT_NE(agent, nullptr);
    ASSERT_NE(shutdown, nullptr);
    EXPECT_NE(agent, shutdown);
    EXPECT_EQ(LoadIconA(tunerpad, MAKEINTRESOURCEA(IDI_AGENT)), agent);  // loaded icons are shared
    EXPECT_EQ(LoadIconA(tunerpad, "#50"), agent);

    HINSTANCE copy = sim::world().loadModule("copy", TUNERPAD_RC_PREPROCESSED);
    EXPECT_NE(copy, tunerpad);
    HICON copied = LoadIconA(copy, MAKEINTRESOURCEA(IDI_AGENT));
    EXPECT_NE(copied, nullptr);
    EXPECT_NE(copied, agent);

    EXPECT_EQ(LoadIconA(tunerpad, MAKEINTRESOURCEA(IDI_AGENT + 1)), nullptr);
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadIconA(bogus, MAKEINTRESOURCEA(IDI_AGENT)), nullptr);
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    HINSTANCE bare = loadInline("STRINGTABLE BEGIN 1 \"only strings\" END\n");
    EXPECT_EQ(LoadIconA(bare, MAKEINTRESOURCEA(IDI_AGENT)), nullptr);
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));

    HICON application = LoadIconA(nullptr, IDI_APPLICATION);
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    EXPECT_NE(application, nullptr);
    EXPECT_NE(arrow, nullptr);
    EXPECT_NE(static_cast<void*>(application), static_cast<void*>(arrow));
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(LoadCursorA(tunerpad, IDC_ARROW), nullptr);  // the program has no cursors of its own

    EXPECT_TRUE(DestroyIcon(agent));
    EXPECT_TRUE(DestroyIcon(application));
    EXPECT_FALSE(DestroyIcon(nullptr));
    EXPECT_FALSE(DestroyIcon(reinterpret_cast<HICON>(reinterpret_cast<uintptr_t>(tunerpad) + 0x100)));
    EXPECT_EQ(sim::world().callsTo("DestroyIcon").size(), 4u);

    EXPECT_NE(LoadAcceleratorsA(tunerpad, MAKEINTRESOURCEA(IDR_ACCELERATORS)), nullptr);
    EXPECT_EQ(LoadAcceleratorsA(tunerpad, MAKEINTRESOURCEA(IDR_ACCELERATORS + 1)), nullptr);
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(LoadAcceleratorsA(bogus, MAKEINTRESOURCEA(IDR_ACCELERATORS)), nullptr);
    EXPECT_EQ(sim::world().lastError, DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
}

// Sends one keyboard message through TranslateAcceleratorA to a window of
// another program, which logs the WM_COMMAND it is sent.
class AcceleratorTranslation : public ResourceLoading {
protected:
    void SetUp() override {
        ResourceLoading::SetUp();
        target = sim::world().addForeignWindow("Target", "target");
    }
    int key(HACCEL accel, UINT message, WPARAM code, LPARAM lParam = 0) {
        MSG msg{};
        msg.hwnd = target;
        msg.message = message;
        msg.wParam = code;
        msg.lParam = lParam;
        return TranslateAcceleratorA(target, accel, &msg);
    }
    std::vector<WPARAM> commandsSent() {
        std::vector<WPARAM> out;
        for (const sim::LoggedMessage& m : sim::world().window(target)->log)
            if (m.message == WM_COMMAND) {
                EXPECT_TRUE(m.sent);
                EXPECT_EQ(m.lParam, 0);
                out.push_back(m.wParam);
            }
        return out;
    }
    HWND target = nullptr;
};

TEST_F(AcceleratorTranslation, AltCharactersOfTheAgentSendTheirCommands) {
    HACCEL accel = LoadAcceleratorsA(tunerpad, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    ASSERT_NE(accel, nullptr);
    EXPECT_EQ(key(accel, WM_SYSCHAR, '/', kAltDown), 1);
    EXPECT_EQ(key(accel, WM_SYSCHAR, '?', kAltDown), 1);
    EXPECT_EQ(key(accel, WM_CHAR, '/'), 0);                 // "/" without Alt
    EXPECT_EQ(key(accel, WM_SYSCHAR, 'x', kAltDown), 0);    // a key with no entry
    EXPECT_EQ(key(accel, WM_SYSKEYDOWN, '/', kAltDown), 0); // character entries ignore key-down
    EXPECT_EQ(key(nullptr, WM_SYSCHAR, '/', kAltDown), 0);
    EXPECT_EQ(commandsSent(), (std::vector<WPARAM>{MAKEWPARAM(IDM_ABOUT, 1), MAKEWPARAM(IDM_SETTING, 1)}));
    EXPECT_EQ(sim::world().callsTo("TranslateAcceleratorA").size(), 6u);
}

TEST_F(AcceleratorTranslation, VirtualKeysMatchKeyDownWithTheirAltState) {
    HINSTANCE module = loadInline(R"(1 ACCELERATORS
BEGIN
    0x70, 200, VIRTKEY
    0x73, 201, VIRTKEY, ALT
    "S", 202, VIRTKEY, CONTROL
    "^C", 203
END
)");
    HACCEL accel = LoadAcceleratorsA(module, MAKEINTRESOURCEA(1));
    ASSERT_NE(accel, nullptr);
    EXPECT_EQ(key(accel, WM_KEYDOWN, VK_F1), 1);
    EXPECT_EQ(key(accel, WM_SYSKEYDOWN, VK_F1, kAltDown), 0);  // the entry has no ALT
    EXPECT_EQ(key(accel, WM_SYSKEYDOWN, VK_F4, kAltDown), 1);
    EXPECT_EQ(key(accel, WM_KEYDOWN, VK_F4), 0);
    EXPECT_EQ(key(accel, WM_KEYDOWN, 'S'), 0);  // Ctrl is never held here
    EXPECT_EQ(key(accel, WM_CHAR, VK_F1), 0);   // virtual keys are not characters
    EXPECT_EQ(key(accel, WM_CHAR, 3), 1);       // Ctrl+C typed
    EXPECT_EQ(commandsSent(), (std::vector<WPARAM>{MAKEWPARAM(200, 1), MAKEWPARAM(201, 1), MAKEWPARAM(203, 1)}));
}

}  // namespace
