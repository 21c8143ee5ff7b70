// Modal dialogs of the simulated desktop: templates, the modal loop, controls
// and the user's scripted actions.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include <unistd.h>  // getpid: test processes run side by side

namespace {

// Dialog 20: a settings dialog with a list, a check box and buttons; dialog 21: a centred About box.
constexpr int kSetting = 20;
constexpr int kAbout = 21;
constexpr int kCombo = 11;
constexpr int kAutoCheck = 12;
constexpr int kApply = 14;  // disabled
constexpr int kSettingX = 10, kSettingY = 20, kSettingCx = 160, kSettingCy = 80;
constexpr int kAboutCx = 120, kAboutCy = 40;
const char* const kScript = R"(
20 DIALOG 10, 20, 160, 80
STYLE 0x80000000L | 0x00C00000L | 0x80L               /* WS_POPUP | WS_CAPTION | DS_MODALFRAME */
CAPTION "Setting"
FONT 8, "MS Sans Serif"
BEGIN
    LTEXT "Player:", (-1), 7, 7, 40, 8
    COMBOBOX 11, 50, 7, 100, 60, 0x0003L | 0x00200000L     /* CBS_DROPDOWNLIST | WS_VSCROLL */
    AUTOCHECKBOX "Start with the system", 12, 7, 25, 100, 10
    PUSHBUTTON "Apply", 14, 7, 60, 40, 14, 0x08000000L    /* WS_DISABLED */
    DEFPUSHBUTTON "OK", 1, 50, 60, 40, 14
    PUSHBUTTON "Cancel", 2, 100, 60, 40, 14
END
21 DIALOG 0, 0, 120, 40
STYLE 0x80000000L | 0x00C00000L | 0x0800L             /* WS_POPUP | WS_CAPTION | DS_CENTER */
CAPTION "About"
BEGIN
    LTEXT "Version 1.2", (-1), 7, 7, 80, 8
    DEFPUSHBUTTON "OK", 1, 35, 20, 50, 14
END
)";

// The base units the simulation documents for dialog units.
constexpr int kBaseX = 6, kBaseY = 13;

struct Seen { UINT msg; WPARAM wParam; LPARAM lParam; uint32_t time; };

// What the probe dialog procedure received, and how the test wants it to react.
std::vector<Seen> g_seen;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler;
std::function<void(HWND, UINT_PTR)> g_timer;

// Without a handler: end on OK and Cancel with their ids, as most dialogs do.
INT_PTR endOnOkCancel(HWND h, UINT msg, WPARAM w) {
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_COMMAND && (LOWORD(w) == IDOK || LOWORD(w) == IDCANCEL)) {
        EndDialog(h, LOWORD(w));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK probeProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    g_seen.push_back({msg, w, l, sim::world().now});
    return g_handler ? g_handler(h, msg, w, l) : endOnOkCancel(h, msg, w);
}

void CALLBACK timerProc(HWND h, UINT, UINT_PTR id, DWORD) {
    if (g_timer) g_timer(h, id);
}

std::vector<Seen> commands(const std::vector<Seen>& seen) {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.msg == WM_COMMAND) out.push_back(s);
    return out;
}

int pixelsX(int units) { return (units * kBaseX + 2) / 4; }
int pixelsY(int units) { return (units * kBaseY + 4) / 8; }

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_seen.clear();
        g_handler = nullptr;
        g_timer = nullptr;
        std::string path = ::testing::TempDir() + "dialogs_test." + std::to_string(getpid()) + ".rc.i";
        std::ofstream(path, std::ios::binary) << kScript;
        instance = w().loadModule("dialogs", path);
        std::remove(path.c_str());
        w().deadline = 60000;
        w().hasDeadline = true;

        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "DialogOwner";
        RegisterClassExA(&wc);
        owner = CreateWindowExA(0, "DialogOwner", "Owner", 0, 100, 50, 300, 200, nullptr, nullptr, instance, nullptr);
    }

    sim::World& w() { return sim::world(); }
    INT_PTR show(int id) { return DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, probeProc, 0); }
    bool ownerDisabled() { return (w().window(owner)->style & WS_DISABLED) != 0; }

    HINSTANCE instance = nullptr;
    HWND owner = nullptr;
};

TEST_F(DialogTest, CentredDialogEndedDuringInitialisationNeverShows) {
    g_handler = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) EndDialog(h, 9);
        return TRUE;
    };
    // "#21" names the same template as MAKEINTRESOURCE(21).
    EXPECT_EQ(DialogBoxParamA(instance, "#21", owner, probeProc, 0), 9);
    EXPECT_TRUE(w().callsTo("ModalEnter").empty());
    const sim::DialogRecord& r = w().dialogsShown.at(0);
    EXPECT_EQ(r.templateId, kAbout);
    EXPECT_EQ(r.opened, r.closed);
    EXPECT_EQ(r.x, (w().metric(SM_CXSCREEN) - pixelsX(kAboutCx)) / 2);
    EXPECT_EQ(r.y, (w().metric(SM_CYSCREEN) - pixelsY(kAboutCy)) / 2);
    EXPECT_FALSE(ownerDisabled());
}

TEST_F(DialogTest, UnansweredDialogStaysOpenUntilTheScenarioEnds) {
    w().deadline = 5000;
    // The program keeps polling while the user does nothing.
    g_handler = [](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) SetTimer(h, 1, 70, timerProc);
        return endOnOkCancel(h, msg, wp);
    };
    EXPECT_THROW(show(kSetting), sim::ScenarioEnd);
    EXPECT_EQ(w().now, 5000u);
    const sim::DialogRecord& r = w().dialogsShown.at(0);
    EXPECT_TRUE(r.open);
    EXPECT_EQ(r.closed, 0u);
    EXPECT_TRUE(IsWindowVisible(r.handle));
    EXPECT_TRUE(ownerDisabled());
}

TEST_F(DialogTest, NestedDialogOpenedFromATimerProcedure) {
    HWND outer = nullptr, inner = nullptr;
    INT_PTR innerResult = 0;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG && !outer) SetTimer(outer = h, 1, 200, timerProc);
        else if (msg == WM_INITDIALOG) inner = h;
        return endOnOkCancel(h, msg, wp);
    };
    g_timer = [&](HWND h, UINT_PTR id) {
        KillTimer(h, id);
        innerResult = DialogBoxParamA(instance, MAKEINTRESOURCEA(kAbout), h, probeProc, 0);
    };
    w().after(500, "the user checks which dialog is on top", [&] {
        EXPECT_EQ(sim::world().innermostDialog(), inner);
        EXPECT_TRUE(sim::world().window(outer)->style & WS_DISABLED);  // the inner dialog's owner
        EXPECT_TRUE(sim::world().pressDialogEnter());                 // ends the inner one
    });
    w().after(900, "the user presses Escape", [&] {
        EXPECT_EQ(sim::world().innermostDialog(), outer);
        EXPECT_FALSE(sim::world().window(outer)->style & WS_DISABLED);
        EXPECT_TRUE(sim::world().pressDialogEscape());
    });
    EXPECT_EQ(show(kSetting), IDCANCEL);
    EXPECT_EQ(innerResult, IDOK);
    ASSERT_EQ(w().dialogsShown.size(), 2u);
    EXPECT_EQ(w().dialogsShown[1].owner, outer);
    EXPECT_EQ(w().dialogsShown[1].opened, 200u);
    EXPECT_EQ(w().dialogsShown[1].closed, 500u);
    EXPECT_EQ(w().dialogsShown[0].closed, 900u);
    EXPECT_FALSE(ownerDisabled());
}

TEST_F(DialogTest, ScriptedPickSendsSelChangeAndEnterUsesTheDefaultButton) {
    HWND combo = nullptr, okButton = nullptr;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            combo = GetDlgItem(h, kCombo);
            okButton = GetDlgItem(h, IDOK);
            for (const char* s : {"WinDVR", "PowerVCR", "HonesTVR"})
                SendMessageA(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s));
            SendMessageA(combo, CB_SETCURSEL, 0, 0);
            SetWindowPos(h, HWND_TOPMOST, 350, 300, 0, 0, SWP_NOSIZE);
            return TRUE;
        }
        if (msg == WM_COMMAND && LOWORD(wp) == IDOK) {
            EndDialog(h, 100 + SendMessageA(combo, CB_GETCURSEL, 0, 0));
            return TRUE;
        }
        return FALSE;
    };
    w().after(400, "the user picks PowerVCR", [] {
        EXPECT_TRUE(sim::world().pickComboEntry(kCombo, std::string("powervcr")));
        EXPECT_FALSE(sim::world().pickComboEntry(kCombo, 7));
        EXPECT_FALSE(sim::world().pickComboEntry(kCombo, std::string("RoviverUVA")));
        EXPECT_FALSE(sim::world().pickComboEntry(kAutoCheck, 0));  // not a list
    });
    w().after(800, "the user presses Enter", [] { EXPECT_TRUE(sim::world().pressDialogEnter()); });
    EXPECT_EQ(show(kSetting), 101);

    std::vector<Seen> cmds = commands(g_seen);
    ASSERT_EQ(cmds.size(), 2u);
    EXPECT_EQ(cmds[0].wParam, MAKEWPARAM(kCombo, CBN_SELCHANGE));
    EXPECT_EQ(cmds[0].lParam, reinterpret_cast<LPARAM>(combo));
    EXPECT_EQ(cmds[0].time, 400u);
    EXPECT_EQ(cmds[1].wParam, MAKEWPARAM(IDOK, BN_CLICKED));
    EXPECT_EQ(cmds[1].lParam, reinterpret_cast<LPARAM>(okButton));
    const sim::DialogRecord& placed = w().dialogsShown.at(0);
    EXPECT_TRUE(placed.topmost);
    EXPECT_EQ(placed.x, 350);
    EXPECT_EQ(placed.y, 300);
}

TEST_F(DialogTest, ScriptedClicksAndEscapeReachTheProcedure) {
    int cancels = 0;
    HWND cancel = nullptr;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            cancel = GetDlgItem(h, IDCANCEL);
            return TRUE;
        }
        // The first cancel is refused: the dialog must stay open.
        if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL && ++cancels == 2) {
            EndDialog(h, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    };
    w().after(100, "the user clicks Cancel", [] { EXPECT_TRUE(sim::world().clickDialogButton(IDCANCEL)); });
    w().after(200, "the user clicks the disabled Apply", [] { EXPECT_FALSE(sim::world().clickDialogButton(kApply)); });
    w().after(250, "the user clicks nothing", [] { EXPECT_FALSE(sim::world().clickDialogButton(4242)); });
    w().after(300, "the user presses Escape", [] { EXPECT_TRUE(sim::world().pressDialogEscape()); });
    EXPECT_EQ(show(kSetting), IDCANCEL);
    EXPECT_EQ(w().now, 300u);

    std::vector<Seen> cmds = commands(g_seen);
    ASSERT_EQ(cmds.size(), 2u);
    for (const Seen& c : cmds) {
        EXPECT_EQ(c.wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        EXPECT_EQ(c.lParam, reinterpret_cast<LPARAM>(cancel));
    }
    EXPECT_EQ(cmds[0].time, 100u);
    EXPECT_EQ(cmds[1].time, 300u);
    // The record of the dialog: its place follows the owner and the base units.
    const sim::DialogRecord& r = w().dialogsShown.at(0);
    EXPECT_EQ(r.templateName, std::to_string(kSetting));
    EXPECT_EQ(r.title, "Setting");
    EXPECT_EQ(r.result, IDCANCEL);
    EXPECT_FALSE(r.topmost);
    EXPECT_EQ(r.x, 100 + pixelsX(kSettingX));
    EXPECT_EQ(r.y, 50 + pixelsY(kSettingY));
    EXPECT_EQ(r.cx, pixelsX(kSettingCx));
    EXPECT_EQ(r.cy, pixelsY(kSettingCy));
    EXPECT_TRUE(w().dialogStates.empty());
    EXPECT_TRUE(w().controlStates.empty());
    // With no dialog open the user's actions reach nobody.
    EXPECT_FALSE(w().pressDialogEscape());
    EXPECT_FALSE(w().pressDialogEnter());
    EXPECT_EQ(w().sendToDialog(WM_CLOSE, 0, 0), 0);
}

}  // namespace
