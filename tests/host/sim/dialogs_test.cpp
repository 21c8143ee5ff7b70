// Modal dialogs of the simulated desktop: templates, the modal loop, controls
// and the user's scripted actions.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#include <unistd.h>  // getpid: test processes run side by side

namespace {

// Dialog 20: a settings dialog with a list, a sorted list, check boxes and
// buttons; dialog 21: a centred About box.
constexpr int kSetting = 20;
constexpr int kAbout = 21;
constexpr int kCombo = 11;
constexpr int kAutoCheck = 12;
constexpr int kManualCheck = 13;
constexpr int kApply = 14;  // disabled
constexpr int kSorted = 15;
constexpr int kSettingControls = 8;
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
    CHECKBOX "Manual", 13, 7, 37, 100, 10
    PUSHBUTTON "Apply", 14, 7, 60, 40, 14, 0x08000000L    /* WS_DISABLED */
    COMBOBOX 15, 50, 40, 100, 60, 0x0002L | 0x0100L        /* CBS_DROPDOWN | CBS_SORT */
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

struct Seen {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    uint32_t time;
};

// What the probe dialog procedures received, and how the test wants them to react.
std::vector<Seen> g_seen, g_innerSeen;
std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> g_handler, g_innerHandler;
std::function<void(HWND, UINT_PTR)> g_timer;
std::vector<Seen> g_controlSeen;
WNDPROC g_controlOriginal = nullptr;

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

INT_PTR CALLBACK innerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    g_innerSeen.push_back({msg, w, l, sim::world().now});
    return g_innerHandler ? g_innerHandler(h, msg, w, l) : endOnOkCancel(h, msg, w);
}

void CALLBACK timerProc(HWND h, UINT, UINT_PTR id, DWORD) {
    if (g_timer) g_timer(h, id);
}

// Stands between a control and its own procedure, as a subclass would.
LRESULT CALLBACK controlSpy(HWND h, UINT msg, WPARAM w, LPARAM l) {
    g_controlSeen.push_back({msg, w, l, sim::world().now});
    return g_controlOriginal(h, msg, w, l);
}

LRESULT CALLBACK ownerProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    return msg == WM_CREATE ? 0 : DefWindowProcA(h, msg, w, l);
}

std::vector<Seen> commands(const std::vector<Seen>& seen) {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.msg == WM_COMMAND) out.push_back(s);
    return out;
}

bool saw(const std::vector<Seen>& seen, UINT msg) {
    for (const Seen& s : seen)
        if (s.msg == msg) return true;
    return false;
}

int pixelsX(int units) { return (units * kBaseX + 2) / 4; }
int pixelsY(int units) { return (units * kBaseY + 4) / 8; }

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_seen.clear();
        g_innerSeen.clear();
        g_controlSeen.clear();
        g_handler = nullptr;
        g_innerHandler = nullptr;
        g_timer = nullptr;
        g_controlOriginal = nullptr;
        std::string path = ::testing::TempDir() + "dialogs_test." + std::to_string(getpid()) + ".rc.i";
        std::ofstream(path, std::ios::binary) << kScript;
        instance = w().loadModule("dialogs", path);
        std::remove(path.c_str());
        w().deadline = 60000;
        w().hasDeadline = true;

        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ownerProc;
        wc.lpszClassName = "DialogOwner";
        RegisterClassExA(&wc);
        owner = CreateWindowExA(0, "DialogOwner", "Owner", 0, 100, 50, 300, 200, nullptr, nullptr, instance, nullptr);
    }

    sim::World& w() { return sim::world(); }
    INT_PTR show(int id, LPARAM param = 0) {
        return DialogBoxParamA(instance, MAKEINTRESOURCEA(id), owner, probeProc, param);
    }
    bool ownerDisabled() { return (w().window(owner)->style & WS_DISABLED) != 0; }

    HINSTANCE instance = nullptr;
    HWND owner = nullptr;
};

// ---- creation and WM_INITDIALOG --------------------------------------------------------------

TEST_F(DialogTest, InitDialogReachesTheProcedureWithParamAndFocusControl) {
    constexpr LPARAM kParam = 0x5EED;
    HWND dialog = nullptr;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM lp) -> INT_PTR {
        if (msg != WM_INITDIALOG) return endOnOkCancel(h, msg, wp);
        dialog = h;
        EXPECT_EQ(lp, kParam);
        // The focus goes to the first visible, enabled tab stop: the list, not the label.
        EXPECT_EQ(reinterpret_cast<HWND>(wp), GetDlgItem(h, kCombo));
        sim::Window* d = w().window(h);
        EXPECT_EQ(d->className, "#32770");
        EXPECT_EQ(d->owner, owner);
        EXPECT_FALSE(d->visible);  // shown once the procedure has initialised it
        EXPECT_TRUE(ownerDisabled());
        char title[16];
        EXPECT_EQ(GetWindowTextA(h, title, sizeof title), 7);
        EXPECT_STREQ(title, "Setting");
        EXPECT_EQ(d->children.size(), size_t(kSettingControls));
        sim::Window* first = w().window(d->children.front());
        EXPECT_EQ(first->className, "STATIC");
        EXPECT_EQ(first->title, "Player:");
        EXPECT_EQ(first->parent, h);
        sim::Window* ok = w().window(GetDlgItem(h, IDOK));
        EXPECT_EQ(ok->className, "BUTTON");
        EXPECT_EQ(ok->title, "OK");
        EXPECT_EQ(GetDlgCtrlID(GetDlgItem(h, IDOK)), IDOK);
        EXPECT_EQ(ok->cx, pixelsX(40));
        EXPECT_EQ(ok->cy, pixelsY(14));
        // Watch the OK button to the end of its life.
        g_controlOriginal = ok->proc;
        ok->proc = controlSpy;
        return TRUE;
    };
    w().after(500, "the user presses Escape", [] { EXPECT_TRUE(sim::world().pressDialogEscape()); });

    EXPECT_EQ(show(kSetting, kParam), IDCANCEL);

    // A dialog procedure never sees WM_CREATE; DS_SETFONT brings WM_SETFONT first.
    ASSERT_GE(g_seen.size(), 2u);
    EXPECT_FALSE(saw(g_seen, WM_CREATE));
    EXPECT_EQ(g_seen[0].msg, UINT(WM_SETFONT));
    EXPECT_EQ(g_seen[1].msg, UINT(WM_INITDIALOG));
    EXPECT_TRUE(saw(g_seen, WM_DESTROY));
    EXPECT_TRUE(saw(g_controlSeen, WM_DESTROY));
    EXPECT_TRUE(saw(g_controlSeen, WM_NCDESTROY));

    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(ownerDisabled());
    EXPECT_TRUE(w().dialogStates.empty());
    EXPECT_TRUE(w().controlStates.empty());
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    const sim::DialogRecord& r = w().dialogsShown[0];
    EXPECT_EQ(r.templateId, kSetting);
    EXPECT_EQ(r.templateName, std::to_string(kSetting));
    EXPECT_EQ(r.handle, dialog);
    EXPECT_EQ(r.owner, owner);
    EXPECT_EQ(r.title, "Setting");
    EXPECT_EQ(r.result, IDCANCEL);
    EXPECT_FALSE(r.open);
    EXPECT_EQ(r.opened, 0u);
    EXPECT_EQ(r.closed, 500u);
    // Template position is relative to the owner; sizes follow the base units.
    EXPECT_EQ(r.x, 100 + pixelsX(kSettingX));
    EXPECT_EQ(r.y, 50 + pixelsY(kSettingY));
    EXPECT_EQ(r.cx, pixelsX(kSettingCx));
    EXPECT_EQ(r.cy, pixelsY(kSettingCy));
    EXPECT_FALSE(r.topmost);
}

TEST_F(DialogTest, CentredDialogEndedDuringInitialisationNeverShows) {
    g_handler = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) EndDialog(h, 9);
        return TRUE;
    };
    // "#21" names the same template as MAKEINTRESOURCE(21).
    EXPECT_EQ(DialogBoxParamA(instance, "#21", owner, probeProc, 0), 9);
    EXPECT_TRUE(w().callsTo("ModalEnter").empty());
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    const sim::DialogRecord& r = w().dialogsShown[0];
    EXPECT_EQ(r.templateId, kAbout);
    EXPECT_EQ(r.opened, r.closed);
    EXPECT_EQ(r.x, (w().metric(SM_CXSCREEN) - pixelsX(kAboutCx)) / 2);
    EXPECT_EQ(r.y, (w().metric(SM_CYSCREEN) - pixelsY(kAboutCy)) / 2);
    EXPECT_FALSE(saw(g_seen, WM_SETFONT));  // no FONT statement
    EXPECT_FALSE(ownerDisabled());
}

TEST_F(DialogTest, MissingTemplateModuleOrOwnerFails) {
    EXPECT_EQ(show(99), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(DialogBoxParamA(instance, "NOSUCH", owner, probeProc, 0), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_NAME_NOT_FOUND));
    HINSTANCE unloaded = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7770000));
    EXPECT_EQ(DialogBoxParamA(unloaded, MAKEINTRESOURCEA(kSetting), owner, probeProc, 0), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_RESOURCE_TYPE_NOT_FOUND));
    HWND gone = reinterpret_cast<HWND>(static_cast<uintptr_t>(0xDEAD0));
    EXPECT_EQ(DialogBoxParamA(instance, MAKEINTRESOURCEA(kSetting), gone, probeProc, 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(g_seen.empty());
    EXPECT_TRUE(w().dialogsShown.empty());
    EXPECT_FALSE(ownerDisabled());
}

// ---- the modal loop --------------------------------------------------------------------------

TEST_F(DialogTest, UnansweredDialogStaysOpenUntilTheScenarioEnds) {
    w().deadline = 5000;
    // The program keeps polling while the user does nothing.
    g_handler = [](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) SetTimer(h, 1, 70, timerProc);
        return endOnOkCancel(h, msg, wp);
    };
    EXPECT_THROW(show(kSetting), sim::ScenarioEnd);
    EXPECT_EQ(w().now, 5000u);
    ASSERT_EQ(w().dialogsShown.size(), 1u);
    const sim::DialogRecord& r = w().dialogsShown[0];
    EXPECT_TRUE(r.open);
    EXPECT_EQ(r.closed, 0u);
    EXPECT_TRUE(IsWindowVisible(r.handle));
    EXPECT_TRUE(ownerDisabled());
}

TEST_F(DialogTest, NestedDialogOpenedFromATimerProcedure) {
    HWND outer = nullptr, inner = nullptr;
    INT_PTR innerResult = 0;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            outer = h;
            SetTimer(h, 1, 200, timerProc);
        }
        return endOnOkCancel(h, msg, wp);
    };
    g_timer = [&](HWND h, UINT_PTR id) {
        KillTimer(h, id);
        innerResult = DialogBoxParamA(instance, MAKEINTRESOURCEA(kAbout), h, innerProc, 0);
    };
    g_innerHandler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) inner = h;
        return endOnOkCancel(h, msg, wp);
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
    // Enter on the About box is its default button's command.
    ASSERT_EQ(commands(g_innerSeen).size(), 1u);
    EXPECT_EQ(commands(g_innerSeen)[0].wParam, MAKEWPARAM(IDOK, BN_CLICKED));
    EXPECT_FALSE(ownerDisabled());
}

// ---- combo boxes -----------------------------------------------------------------------------

TEST_F(DialogTest, ComboBoxMessagesAndTheirErrors) {
    g_handler = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG) return FALSE;
        auto send = [h](UINT m, WPARAM wp, LPARAM lp = 0) { return SendDlgItemMessageA(h, kCombo, m, wp, lp); };
        auto text = [](const char* s) { return reinterpret_cast<LPARAM>(s); };
        EXPECT_EQ(send(CB_GETCOUNT, 0), 0);
        EXPECT_EQ(send(CB_GETCURSEL, 0), CB_ERR);
        EXPECT_EQ(send(CB_ADDSTRING, 0, text("WinDVR")), 0);
        EXPECT_EQ(send(CB_ADDSTRING, 0, text("PowerVCR")), 1);
        EXPECT_EQ(send(CB_ADDSTRING, 0, text("HonesTVR")), 2);  // unsorted: appended
        EXPECT_EQ(send(CB_GETCOUNT, 0), 3);
        EXPECT_EQ(send(CB_SETCURSEL, 1), 1);
        EXPECT_EQ(send(CB_GETCURSEL, 0), 1);
        char shown[32];
        EXPECT_EQ(GetDlgItemTextA(h, kCombo, shown, sizeof shown), 8u);
        EXPECT_STREQ(shown, "PowerVCR");
        EXPECT_EQ(send(CB_GETLBTEXTLEN, 2), 8);
        char entry[32];
        std::memset(entry, 'x', sizeof entry);
        EXPECT_EQ(send(CB_GETLBTEXT, 2, reinterpret_cast<LPARAM>(entry)), 8);
        EXPECT_STREQ(entry, "HonesTVR");
        EXPECT_EQ(send(CB_GETLBTEXTLEN, 3), CB_ERR);
        EXPECT_EQ(send(CB_GETLBTEXT, 3, reinterpret_cast<LPARAM>(entry)), CB_ERR);
        EXPECT_EQ(send(CB_GETLBTEXT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(entry)), CB_ERR);
        EXPECT_EQ(send(CB_ADDSTRING, 0, 0), CB_ERR);
        // Out of range clears the selection.
        EXPECT_EQ(send(CB_SETCURSEL, 3), CB_ERR);
        EXPECT_EQ(send(CB_GETCURSEL, 0), CB_ERR);
        EXPECT_EQ(GetDlgItemTextA(h, kCombo, shown, sizeof shown), 0u);
        EXPECT_EQ(send(CB_SETCURSEL, 0), 0);
        EXPECT_EQ(send(CB_SETCURSEL, static_cast<WPARAM>(-1)), CB_ERR);
        EXPECT_EQ(send(CB_GETCURSEL, 0), CB_ERR);
        EXPECT_EQ(send(CB_SETCURSEL, 2), 2);
        EXPECT_EQ(send(CB_RESETCONTENT, 0), CB_OKAY);
        EXPECT_EQ(send(CB_GETCOUNT, 0), 0);
        EXPECT_EQ(send(CB_GETCURSEL, 0), CB_ERR);
        EXPECT_EQ(send(CB_SETCURSEL, 0), CB_ERR);

        // A sorted list inserts in order, whatever the case, and keeps its selection on its entry.
        auto sorted = [h](UINT m, WPARAM wp, LPARAM lp = 0) { return SendDlgItemMessageA(h, kSorted, m, wp, lp); };
        EXPECT_EQ(sorted(CB_ADDSTRING, 0, text("mango")), 0);
        EXPECT_EQ(sorted(CB_SETCURSEL, 0), 0);
        EXPECT_EQ(sorted(CB_ADDSTRING, 0, text("Apple")), 0);
        EXPECT_EQ(sorted(CB_ADDSTRING, 0, text("banana")), 1);
        EXPECT_EQ(sorted(CB_ADDSTRING, 0, text("zucchini")), 3);
        EXPECT_EQ(sorted(CB_GETCURSEL, 0), 2);
        EXPECT_EQ(sorted(CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(entry)), 5);
        EXPECT_STREQ(entry, "Apple");

        // A control that is not there answers nothing.
        EXPECT_EQ(SendDlgItemMessageA(h, 999, CB_GETCOUNT, 0, 0), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CONTROL_ID_NOT_FOUND));
        EndDialog(h, IDOK);
        return TRUE;
    };
    EXPECT_EQ(show(kSetting), IDOK);
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
}

// ---- buttons ---------------------------------------------------------------------------------

TEST_F(DialogTest, ClicksEscapeAndCloseReachTheProcedure) {
    int cancels = 0;
    HWND cancel = nullptr;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            cancel = GetDlgItem(h, IDCANCEL);
            return TRUE;
        }
        // The first two cancels are refused: the dialog must stay open.
        if (msg == WM_COMMAND && LOWORD(wp) == IDCANCEL && ++cancels == 3) {
            EndDialog(h, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    };
    w().after(100, "the user clicks Cancel", [] { EXPECT_TRUE(sim::world().clickDialogButton(IDCANCEL)); });
    w().after(200, "the user clicks the disabled Apply", [] { EXPECT_FALSE(sim::world().clickDialogButton(kApply)); });
    w().after(250, "the user clicks nothing", [] { EXPECT_FALSE(sim::world().clickDialogButton(4242)); });
    w().after(300, "the user presses Escape", [] { EXPECT_TRUE(sim::world().pressDialogEscape()); });
    w().after(400, "the user closes the window", [] { sim::world().sendToDialog(WM_CLOSE, 0, 0); });
    EXPECT_EQ(show(kSetting), IDCANCEL);
    EXPECT_EQ(w().now, 400u);

    std::vector<Seen> cmds = commands(g_seen);
    ASSERT_EQ(cmds.size(), 3u);
    for (const Seen& c : cmds) {
        EXPECT_EQ(c.wParam, MAKEWPARAM(IDCANCEL, BN_CLICKED));
        EXPECT_EQ(c.lParam, reinterpret_cast<LPARAM>(cancel));
    }
    EXPECT_EQ(cmds[0].time, 100u);
    EXPECT_EQ(cmds[1].time, 300u);
    EXPECT_EQ(cmds[2].time, 400u);
    EXPECT_TRUE(saw(g_seen, WM_CLOSE));
    // With no dialog open the user's actions reach nobody.
    EXPECT_FALSE(w().pressDialogEscape());
    EXPECT_FALSE(w().pressDialogEnter());
    EXPECT_EQ(w().sendToDialog(WM_CLOSE, 0, 0), 0);
}

TEST_F(DialogTest, CheckBoxesFollowClicksAndCheckDlgButton) {
    std::vector<UINT> stateOnClick;
    g_handler = [&](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            EXPECT_EQ(IsDlgButtonChecked(h, kAutoCheck), UINT(BST_UNCHECKED));
            return TRUE;
        }
        if (msg == WM_COMMAND && (LOWORD(wp) == kAutoCheck || LOWORD(wp) == kManualCheck)) {
            stateOnClick.push_back(IsDlgButtonChecked(h, LOWORD(wp)));
            return TRUE;
        }
        return endOnOkCancel(h, msg, wp);
    };
    w().after(100, "click the auto box", [] { sim::world().clickDialogButton(kAutoCheck); });
    w().after(200, "click it again", [] { sim::world().clickDialogButton(kAutoCheck); });
    w().after(300, "click the manual box", [] { sim::world().clickDialogButton(kManualCheck); });
    w().after(400, "the program checks boxes", [] {
        HWND d = sim::world().innermostDialog();
        EXPECT_TRUE(CheckDlgButton(d, kManualCheck, BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, kManualCheck), UINT(BST_CHECKED));
        // A push button has no check state.
        EXPECT_TRUE(CheckDlgButton(d, IDCANCEL, BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, IDCANCEL), UINT(BST_UNCHECKED));
        EXPECT_FALSE(CheckDlgButton(d, 4242, BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(d, 4242), 0u);
        // BM_CLICK is a click: the auto box turns itself on.
        SendDlgItemMessageA(d, kAutoCheck, BM_CLICK, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(d, kAutoCheck, BM_GETCHECK, 0, 0), BST_CHECKED);
    });
    w().after(500, "OK", [] { sim::world().clickDialogButton(IDOK); });
    EXPECT_EQ(show(kSetting), IDOK);
    // The state had changed before the procedure heard the click; a plain check box is the program's to set.
    EXPECT_EQ(stateOnClick, std::vector<UINT>({BST_CHECKED, BST_UNCHECKED, BST_UNCHECKED, BST_CHECKED}));
}

TEST_F(DialogTest, ItemTextIsBoundedAndTheCaptionIsTheWindowText) {
    g_handler = [](HWND h, UINT msg, WPARAM, LPARAM) -> INT_PTR {
        if (msg != WM_INITDIALOG) return FALSE;
        EXPECT_TRUE(SetDlgItemTextA(h, kApply, "Apply now"));
        char small[6];
        EXPECT_EQ(GetDlgItemTextA(h, kApply, small, sizeof small), 5u);
        EXPECT_STREQ(small, "Apply");
        char big[32];
        EXPECT_EQ(GetDlgItemTextA(h, 4242, big, sizeof big), 0u);
        EXPECT_STREQ(big, "");
        EXPECT_EQ(GetLastError(), DWORD(ERROR_CONTROL_ID_NOT_FOUND));
        EXPECT_FALSE(SetDlgItemTextA(h, 4242, "x"));
        EXPECT_EQ(SendMessageA(h, WM_GETTEXTLENGTH, 0, 0), 7);
        SendMessageA(h, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("Setting - Player"));
        EXPECT_EQ(GetWindowTextA(h, big, sizeof big), 16);
        EndDialog(h, IDOK);
        return TRUE;
    };
    EXPECT_EQ(show(kSetting), IDOK);
    EXPECT_EQ(w().dialogsShown.at(0).title, "Setting - Player");
}

TEST_F(DialogTest, SetWindowPosMakesADialogTopmostAndKeepsItsSize) {
    g_handler = [](HWND h, UINT msg, WPARAM wp, LPARAM) -> INT_PTR {
        if (msg == WM_INITDIALOG) {
            EXPECT_TRUE(SetWindowPos(h, HWND_TOPMOST, 350, 300, 0, 0, SWP_NOSIZE));
            EXPECT_EQ(sim::world().zorder.front(), h);
        }
        return endOnOkCancel(h, msg, wp);
    };
    w().after(100, "OK", [] { sim::world().clickDialogButton(IDOK); });
    EXPECT_EQ(show(kSetting), IDOK);
    g_handler = nullptr;
    w().after(100, "OK", [] { sim::world().clickDialogButton(IDOK); });
    EXPECT_EQ(show(kSetting), IDOK);

    ASSERT_EQ(w().dialogsShown.size(), 2u);
    const sim::DialogRecord& placed = w().dialogsShown[0];
    EXPECT_TRUE(placed.topmost);
    EXPECT_EQ(placed.x, 350);
    EXPECT_EQ(placed.y, 300);
    EXPECT_EQ(placed.cx, pixelsX(kSettingCx));
    EXPECT_EQ(placed.cy, pixelsY(kSettingCy));
    EXPECT_FALSE(w().dialogsShown[1].topmost);
    EXPECT_NE(w().dialogsShown[1].x, 350);
}

}  // namespace
