// The key maps of the four TV applications: for every remote key, with and
// without the country-81 assignment, what the application's main window
// receives and which keystrokes reach it.
#include "scenario.h"
#include "tvapps.h"

#include "apps/keymaps.h"

#include <sstream>

using namespace scenario;

namespace {

// One message the application's window is expected to find in its queue.
struct Post {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// What one key does to the application: posted messages in order, and for a
// chord the keys pressed with keybd_event (modifiers first, outermost first).
struct Action {
    std::vector<Post> posts;
    std::vector<BYTE> chordModifiers;
    BYTE chordKey = 0;
    bool chord() const { return chordKey != 0; }
};

Action nothing() { return {}; }

Action key(BYTE vk, LPARAM lParam) { return Action{{{WM_KEYDOWN, vk, lParam}}, {}, 0}; }

Action character(BYTE c, LPARAM lParam) { return Action{{{WM_CHAR, c, lParam}}, {}, 0}; }

// A digit key: repeat count 1, the digit's scan code in bits 16-23 (the 0 key
// sits after 9 on the keyboard, scan code 0x0B).
Action number(int n) {
    LPARAM scan = n == 0 ? 0x0B : n + 1;
    return key(static_cast<BYTE>('0' + n), (scan << 16) | 1);
}

Action chord(std::vector<BYTE> modifiers, BYTE k) { return Action{{}, std::move(modifiers), k}; }

Action message(UINT msg, WPARAM wParam) { return Action{{{msg, wParam, 0}}, {}, 0}; }

Action keys(std::vector<Post> posts) { return Action{std::move(posts), {}, 0}; }

struct Row {
    int code;
    Action plain;
    Action country81;
};

// Rows whose action does not change with the country-81 mode.
Row same(int code, Action a) { return Row{code, a, a}; }

std::string describe(const Action& a) {
    std::ostringstream out;
    for (const Post& p : a.posts) out << "post(" << p.message << ", 0x" << std::hex << p.wParam << ", 0x" << p.lParam << std::dec << ") ";
    if (a.chord()) {
        out << "chord(";
        for (BYTE m : a.chordModifiers) out << "0x" << std::hex << int(m) << "+";
        out << "0x" << std::hex << int(a.chordKey) << std::dec << ")";
    }
    if (a.posts.empty() && !a.chord()) out << "nothing";
    return out.str();
}

// Virtual-key codes of the numeric keypad and the last function keys.
constexpr BYTE KEY_MULTIPLY = 0x6A;
constexpr BYTE KEY_ADD = 0x6B;
constexpr BYTE KEY_SUBTRACT = 0x6D;
constexpr BYTE KEY_F11 = 0x7A;
constexpr BYTE KEY_F12 = 0x7B;

constexpr DWORD DOWN = KEYEVENTF_EXTENDEDKEY;
constexpr DWORD UP = KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP;

class KeyMapTest : public AgentTest {
protected:
    // A fresh desktop with some other program in the foreground, the agent's
    // records as at start and the given country mode.
    void freshDesktop(bool mode81) {
        SetUp();
        restartAgentStatics();
        country81Mode = mode81;
        bystander = w().addForeignWindow("Notepad", "Untitled - Notepad");
    }

    void focusBystander() {
        w().foreground = bystander;
        w().active = bystander;
        w().calls.clear();
    }

    // Checks everything one key did: the messages `target` received (posted,
    // in order), the keystrokes of a chord with their flags and the window
    // they reached, and the foreground change that must precede them.
    void expectAction(HWND target, const Action& expected) {
        SCOPED_TRACE("expected " + describe(expected));
        sim::World& wd = w();

        std::vector<sim::KeyEventRecord> strokes = wd.keyEvents;
        std::vector<std::pair<BYTE, DWORD>> expectedStrokes;
        if (expected.chord()) {
            for (BYTE m : expected.chordModifiers) expectedStrokes.push_back({m, DOWN});
            expectedStrokes.push_back({expected.chordKey, DOWN});
            expectedStrokes.push_back({expected.chordKey, UP});
            for (auto it = expected.chordModifiers.rbegin(); it != expected.chordModifiers.rend(); ++it)
                expectedStrokes.push_back({*it, UP});
        }
        ASSERT_EQ(strokes.size(), expectedStrokes.size()) << "keystrokes";
        for (size_t i = 0; i < strokes.size(); ++i) {
            EXPECT_EQ(strokes[i].vk, expectedStrokes[i].first) << "keystroke " << i;
            EXPECT_EQ(strokes[i].flags, expectedStrokes[i].second) << "keystroke " << i;
            EXPECT_EQ(strokes[i].scan, 0) << "keystroke " << i;
            EXPECT_EQ(strokes[i].extraInfo, 0u) << "keystroke " << i;
            EXPECT_EQ(strokes[i].foreground, target) << "keystroke " << i << " went elsewhere";
        }

        const std::string handle = sim::handleText(target);
        if (expected.chord()) {
            // Brought forward and activated before the first keystroke.
            int fore = firstCall("SetForegroundWindow", handle);
            int active = firstCall("SetActiveWindow", handle);
            int firstKey = firstCall("keybd_event");
            EXPECT_GE(fore, 0) << "SetForegroundWindow on the target";
            EXPECT_GT(active, fore) << "SetActiveWindow after SetForegroundWindow";
            EXPECT_GT(firstKey, active) << "keystrokes after the window was activated";
            EXPECT_EQ(wd.foreground, target);
        } else {
            EXPECT_TRUE(callsWith("SetForegroundWindow").empty()) << "a posted key leaves the foreground alone";
            EXPECT_TRUE(callsWith("SetActiveWindow").empty());
            EXPECT_EQ(wd.foreground, bystander);
        }

        // The window's log holds the keystrokes delivered to it and the posted
        // messages; take the keystrokes out in their order.
        std::vector<Post> posted;
        size_t next = 0;
        for (const sim::LoggedMessage& m : tvapps::received(target)) {
            EXPECT_FALSE(m.sent) << "message " << m.message << " was sent, not posted";
            if (next < strokes.size() && strokes[next].message == m.message && strokes[next].lParam == m.lParam &&
                m.wParam == strokes[next].vk) {
                ++next;
                continue;
            }
            posted.push_back({m.message, m.wParam, m.lParam});
        }
        EXPECT_EQ(next, strokes.size()) << "every keystroke reached the target";
        ASSERT_EQ(posted.size(), expected.posts.size()) << "posted messages";
        for (size_t i = 0; i < posted.size(); ++i) {
            EXPECT_EQ(posted[i].message, expected.posts[i].message) << "post " << i;
            EXPECT_EQ(posted[i].wParam, expected.posts[i].wParam) << "post " << i;
            EXPECT_EQ(posted[i].lParam, expected.posts[i].lParam) << "post " << i;
        }
        EXPECT_EQ(callsWith("PostMessageA").size(), expected.posts.size()) << "nothing posted elsewhere";
        EXPECT_TRUE(tvapps::received(bystander).empty());
    }

    // Runs every code of `rows` on a fresh desktop with the application's
    // window open, in both country modes. Codes in `skipped` are not the map's.
    void runTable(AppId app, TvApp tv, const std::vector<Row>& rows, std::vector<int> skipped) {
        for (bool mode81 : {false, true}) {
            for (int code = 0; code < 32; ++code) {
                if (std::find(skipped.begin(), skipped.end(), code) != skipped.end()) continue;
                SCOPED_TRACE("code " + std::to_string(code) + (mode81 ? " country 81" : " other country"));
                auto row = std::find_if(rows.begin(), rows.end(), [code](const Row& r) { return r.code == code; });
                ASSERT_NE(row, rows.end()) << "the table lacks the code";
                freshDesktop(mode81);
                beforeKey();
                HWND target = tvapps::run(app);
                focusBystander();
                handleKey(tv, code);
                expectAction(target, mode81 ? row->country81 : row->plain);
                afterKey(code);
            }
        }
    }

    virtual void beforeKey() {}
    virtual void afterKey(int) {}

    HWND bystander = nullptr;
};

std::vector<Row> withNumbers(std::vector<Row> rows) {
    for (int n = 1; n <= 9; ++n) rows.push_back(same(n, number(n)));
    return rows;
}

const char* const CYBERLINK = "HKLM\\SOFTWARE\\CyberLink";

// PowerVCR II: the capture-settings key exists, so every code shows whether
// it touches the registry.
class KeyMapPowerVcrTest : public KeyMapTest {
protected:
    void beforeKey() override { w().registry.setDword(CYBERLINK, "Other", 5); }
    void afterKey(int code) override {
        DWORD value = 0;
        bool written = w().registry.dword(CYBERLINK, "DisableCapDlg", &value);
        EXPECT_EQ(written, code == KEY_CAPTURE_DIALOG) << "DisableCapDlg";
        if (written) {
            const sim::RegValue* v = w().registry.value(CYBERLINK, "DisableCapDlg");
            EXPECT_EQ(v->type, static_cast<DWORD>(REG_DWORD));
            EXPECT_EQ(v->data.size(), 4u);
            EXPECT_EQ(value, 1u);
        }
        EXPECT_EQ(w().registry.openHandles(), 0u) << "the key is closed again";
    }
};

}  // namespace

TEST_F(KeyMapPowerVcrTest, EveryCodeInBothCountryModes) {
    const BYTE CTRL = VK_CONTROL, ALT = VK_MENU;
    const std::vector<Row> rows = withNumbers({
        {0, chord({CTRL}, 'R'), chord({ALT, CTRL}, KEY_F12)},
        {10, number(0), chord({ALT, CTRL}, VK_F10)},
        same(12, chord({CTRL}, 'U')),
        same(13, key('S', 0)),
        {14, key(VK_SPACE, 0), chord({CTRL}, 'S')},
        same(15, key('T', 0x00580001)),
        same(16, key('Q', 0)),
        same(17, nothing()),
        same(19, key('C', 0)),
        same(20, chord({CTRL}, 'M')),
        same(22, character(0x0D, 0x001C0001)),
        {23, key(KEY_MULTIPLY, 0), chord({ALT, CTRL}, KEY_F11)},
        same(24, key('Z', 0)),
        same(25, nothing()),
        same(26, key('N', 0)),
        same(27, key(KEY_ADD, 0)),
        {28, chord({CTRL}, 'S'), key(VK_SPACE, 0)},
        same(29, key('R', 0)),
        same(30, key('P', 0)),
        same(31, key(KEY_SUBTRACT, 0)),
    });
    runTable(APP_POWERVCR, TV_POWERVCR, rows, {KEY_SECOND_START, KEY_POWER, KEY_SHUTDOWN});
}

TEST_F(KeyMapTest, HonestechEveryCodeInBothCountryModes) {
    const std::vector<Row> rows = withNumbers({
        same(0, key('L', 0)),
        same(10, number(0)),
        same(12, key('N', 0)),
        same(13, key('S', 0)),
        {14, key(VK_SPACE, 0), key('F', 0)},
        same(15, key('I', 0)),
        same(16, key('U', 0)),
        same(17, nothing()),
        same(19, key('C', 0)),
        same(20, key('M', 0)),
        same(22, key(VK_RETURN, 0)),
        same(23, key(KEY_MULTIPLY, 0)),
        same(24, key('W', 0)),
        same(25, nothing()),
        same(26, key(VK_UP, 0)),
        same(27, key(VK_RIGHT, 0)),
        {28, key('F', 0), key(VK_SPACE, 0)},
        same(29, key('R', 0)),
        same(30, key(VK_DOWN, 0)),
        same(31, key(VK_LEFT, 0)),
    });
    runTable(APP_HONESTECH, TV_HONESTECH, rows, {KEY_SECOND_START, KEY_POWER, KEY_SHUTDOWN});
}

TEST_F(KeyMapTest, WinDvrEveryCodeInBothCountryModes) {
    const std::vector<Row> rows = withNumbers({
        same(0, key('L', 0x00260001)),
        same(10, number(0)),
        same(12, key('A', 0x001E0001)),
        same(13, message(WINDVR_COMMAND_MESSAGE, 2)),
        {14, key(VK_F10, 0x00440001), key('K', 0x00250001)},
        same(15, chord({VK_CONTROL}, 'I')),
        same(16, key('M', 0x00320001)),
        same(17, nothing()),
        same(19, key('P', 0x00190001)),
        same(20, key('U', 0x00160001)),
        same(22, message(WINDVR_COMMAND_MESSAGE, 24)),
        same(23, nothing()),
        same(24, key('Z', 0x002C0001)),
        same(25, nothing()),
        same(26, key(VK_PRIOR, 0x01490001)),
        same(27, keys({{WM_KEYDOWN, VK_SHIFT, 0x002A0001}, {WM_KEYDOWN, VK_UP, 0x01480001}})),
        {28, key('K', 0x00250001), key(VK_F10, 0x00440001)},
        same(29, message(WINDVR_COMMAND_MESSAGE, 23)),
        same(30, key(VK_NEXT, 0x01510001)),
        same(31, keys({{WM_KEYDOWN, VK_SHIFT, 0x002A0001}, {WM_KEYDOWN, VK_DOWN, 0x01500001}})),
    });
    runTable(APP_WINDVR, TV_WINDVR, rows, {KEY_SECOND_START, KEY_POWER, KEY_SHUTDOWN});
}

TEST_F(KeyMapTest, RoviverEveryCodeInBothCountryModes) {
    auto cmd = [](WPARAM c) { return message(ROVIVER_COMMAND_MESSAGE, c); };
    std::vector<Row> rows = {
        {0, cmd(4003), cmd(10012)},
        {10, cmd(10000), cmd(10010)},
        same(11, cmd(6000)),
        same(12, cmd(4004)),
        same(13, cmd(1002)),
        {14, cmd(1003), cmd(8)},
        same(15, cmd(200)),
        same(16, cmd(403)),
        same(17, cmd(1005)),
        same(19, cmd(1000)),
        same(20, cmd(300)),
        same(21, cmd(5001)),
        same(22, cmd(3001)),
        {23, cmd(10020), cmd(10011)},
        same(24, cmd(3)),
        same(25, cmd(1004)),
        same(26, cmd(4001)),
        same(27, cmd(401)),
        {28, cmd(8), cmd(1003)},
        same(29, cmd(1001)),
        same(30, cmd(4002)),
        same(31, cmd(402)),
    };
    for (int n = 1; n <= 9; ++n) rows.push_back(same(n, cmd(10000 + n)));
    runTable(APP_ROVIVER, TV_ROVIVER, rows, {KEY_POWER});
}

TEST_F(KeyMapTest, CaptureDialogSwitchNeedsTheWindowAndAnOpenableKey) {
    // Window and key: the value is written (replacing an older one), then 'R' posted.
    freshDesktop(false);
    w().registry.setDword(CYBERLINK, "DisableCapDlg", 0);
    HWND pvcr = tvapps::run(APP_POWERVCR);
    focusBystander();
    handleKey(TV_POWERVCR, KEY_CAPTURE_DIALOG);
    DWORD value = 7;
    ASSERT_TRUE(w().registry.dword(CYBERLINK, "DisableCapDlg", &value));
    EXPECT_EQ(value, 1u);
    expectAction(pvcr, key('R', 0));
    EXPECT_LT(firstCall("RegSetValueExA", "DisableCapDlg"), firstCall("PostMessageA"));
    EXPECT_EQ(w().registry.openHandles(), 0u);

    // Window but no key: the key is not created, 'R' is posted all the same.
    freshDesktop(false);
    pvcr = tvapps::run(APP_POWERVCR);
    focusBystander();
    handleKey(TV_POWERVCR, KEY_CAPTURE_DIALOG);
    EXPECT_FALSE(w().registry.exists(CYBERLINK));
    EXPECT_TRUE(callsWith("RegCreateKeyExA").empty());
    EXPECT_TRUE(callsWith("RegSetValueExA").empty());
    expectAction(pvcr, key('R', 0));

    // Window and a key the user may not open: nothing written, 'R' posted.
    freshDesktop(false);
    w().registry.create(CYBERLINK).denyOpen = true;
    pvcr = tvapps::run(APP_POWERVCR);
    focusBystander();
    handleKey(TV_POWERVCR, KEY_CAPTURE_DIALOG);
    EXPECT_TRUE(callsWith("RegSetValueExA").empty());
    EXPECT_FALSE(w().registry.dword(CYBERLINK, "DisableCapDlg", &value));
    expectAction(pvcr, key('R', 0));

    // Key but no PowerVCR II window: the registry is not touched.
    freshDesktop(false);
    w().registry.setDword(CYBERLINK, "Other", 5);
    focusBystander();
    handleKey(TV_POWERVCR, KEY_CAPTURE_DIALOG);
    EXPECT_FALSE(w().registry.dword(CYBERLINK, "DisableCapDlg", &value));
    EXPECT_TRUE(callsWith("RegOpenKeyA").empty());
    EXPECT_TRUE(callsWith("RegOpenKeyExA").empty());
    EXPECT_TRUE(callsWith("PostMessageA").empty());
}

TEST_F(KeyMapTest, WithoutTheWindowNoCodeDoesAnything) {
    const TvApp maps[] = {TV_POWERVCR, TV_WINDVR, TV_HONESTECH, TV_ROVIVER};
    for (TvApp tv : maps) {
        for (bool mode81 : {false, true}) {
            for (int code = 0; code < 32; ++code) {
                SCOPED_TRACE("map " + std::to_string(tv) + " code " + std::to_string(code) + (mode81 ? " 81" : ""));
                freshDesktop(mode81);
                w().registry.setDword(CYBERLINK, "Other", 5);
                // Windows of the other applications are of no concern to this map.
                HWND others[TV_COUNT] = {};
                const AppId apps[TV_COUNT] = {APP_POWERVCR, APP_WINDVR, APP_HONESTECH, APP_ROVIVER};
                for (int t = 0; t < TV_COUNT; ++t)
                    if (t != tv) others[t] = tvapps::run(apps[t]);
                focusBystander();
                handleKey(tv, code);
                EXPECT_TRUE(callsWith("PostMessageA").empty());
                EXPECT_TRUE(w().keyEvents.empty());
                EXPECT_TRUE(callsWith("SetForegroundWindow").empty());
                EXPECT_TRUE(callsWith("RegSetValueExA").empty());
                EXPECT_EQ(w().foreground, bystander);
                for (HWND h : others) {
                    if (!h) continue;
                    EXPECT_TRUE(tvapps::received(h).empty());
                }
            }
        }
    }
}

TEST_F(KeyMapTest, WinDvrKeyActionsNeedTheExactTitle) {
    for (int code = 0; code < 32; ++code) {
        SCOPED_TRACE("code " + std::to_string(code));
        freshDesktop(false);
        HWND longer = w().addForeignWindow("WinDVRMain", "InterVideo WinDVR - Live TV");
        HWND lower = w().addForeignWindow("WinDVRMain", "intervideo windvr");
        focusBystander();
        handleKey(TV_WINDVR, code);
        EXPECT_TRUE(tvapps::received(longer).empty());
        EXPECT_TRUE(tvapps::received(lower).empty());
        EXPECT_TRUE(callsWith("PostMessageA").empty());
        EXPECT_TRUE(w().keyEvents.empty());
    }

    // The exact title is found below windows whose titles only begin with it.
    freshDesktop(false);
    HWND exact = tvapps::run(APP_WINDVR);
    HWND longer = w().addForeignWindow("WinDVRMain", "InterVideo WinDVR - Live TV");  // on top
    focusBystander();
    handleKey(TV_WINDVR, 16);
    expectAction(exact, key('M', 0x00320001));
    EXPECT_TRUE(tvapps::received(longer).empty());
}

TEST_F(KeyMapTest, HonestechMapIgnoresRoviverWindow) {
    for (bool mode81 : {false, true}) {
        for (int code = 0; code < 32; ++code) {
            SCOPED_TRACE("code " + std::to_string(code) + (mode81 ? " 81" : ""));
            freshDesktop(mode81);
            HWND roviver = tvapps::run(APP_ROVIVER);
            focusBystander();
            handleKey(TV_HONESTECH, code);
            EXPECT_TRUE(tvapps::received(roviver).empty());
            EXPECT_TRUE(callsWith("PostMessageA").empty());
        }
    }
}

TEST_F(KeyMapTest, ChordWaitsUntilTheApplicationIsInFront) {
    // The application takes the activation a little after SetForegroundWindow,
    // as under Wine: the keystrokes wait for it and all reach it.
    freshDesktop(false);
    HWND target = tvapps::run(APP_POWERVCR);
    focusBystander();
    w().foregroundDelay = 40;
    uint32_t before = w().now;
    handleKey(TV_POWERVCR, 20);
    expectAction(target, chord({VK_CONTROL}, 'M'));
    EXPECT_GE(w().now - before, 40u) << "typed before the window was in front";
    EXPECT_LE(w().now - before, 60u) << "waited on after the window was in front";

    // It never comes to the front: nothing is typed into the program that is,
    // and the key poll is held half a second at most.
    freshDesktop(false);
    target = tvapps::run(APP_POWERVCR);
    focusBystander();
    w().foregroundDelay = 60000;
    before = w().now;
    handleKey(TV_POWERVCR, 20);
    EXPECT_TRUE(w().keyEvents.empty()) << w().keyEvents.size() << " keystrokes typed";
    EXPECT_TRUE(tvapps::received(bystander).empty());
    EXPECT_GE(w().now - before, 500u);
    EXPECT_LE(w().now - before, 520u);

    // The application hands the activation on to a dialog of its own: the
    // keys go there.
    freshDesktop(false);
    target = tvapps::run(APP_POWERVCR);
    HWND dialog = w().addForeignWindow("#32770", "PowerVCR II - Record");
    w().window(dialog)->owner = target;
    focusBystander();
    w().foregroundDelay = 60000;
    w().after(20, "the dialog takes the activation", [this, dialog] { w().foreground = dialog; });
    before = w().now;
    handleKey(TV_POWERVCR, 12);
    ASSERT_EQ(w().keyEvents.size(), 4u);
    for (const sim::KeyEventRecord& stroke : w().keyEvents) EXPECT_EQ(stroke.foreground, dialog);
    EXPECT_EQ(w().keyEvents[1].vk, 'U');
    EXPECT_LE(w().now - before, 40u);
}
