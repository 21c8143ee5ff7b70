// The agent's settings dialog (players, check boxes, caption) and tray menu; the dialog tests run in WM_INITDIALOG.
// Wine 8 sets no error where Windows sets ERROR_CONTROL_ID_NOT_FOUND or ERROR_INVALID_MENU_HANDLE: answers only there.
#include "contract.h"
#include "modal_resource.h"

#include <cstring>
#include <functional>
#include <vector>

namespace {

const char kOwnerClass[] = "TunerpadContractDialogOwner";
std::function<void(HWND, HWND, LPARAM)> g_init;  // WM_INITDIALOG's dialog, focus control and parameter
std::vector<std::pair<WPARAM, LPARAM>> g_cancels;
std::vector<UINT> g_checkOnClick;  // a check box's state as its click arrives

// Ends on OK and on the second Cancel: the first is refused.
INT_PTR CALLBACK dialogProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
    if (msg == WM_INITDIALOG) g_init(h, reinterpret_cast<HWND>(w), l);
    if (msg != WM_COMMAND) return msg == WM_INITDIALOG;
    if (LOWORD(w) == IDC_AUTOCHECK || LOWORD(w) == IDC_MANUALCHECK) g_checkOnClick.push_back(IsDlgButtonChecked(h, LOWORD(w)));
    if (LOWORD(w) == IDCANCEL) g_cancels.push_back({w, l});
    if (LOWORD(w) == IDOK || (LOWORD(w) == IDCANCEL && g_cancels.size() == 2)) EndDialog(h, LOWORD(w));
    return TRUE;
}

LPARAM text(const char* s) { return reinterpret_cast<LPARAM>(s); }

class Dialogs : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        g_cancels.clear();
        g_checkOnClick.clear();
        ASSERT_TRUE(contract::registerWindowClass(kOwnerClass, DefWindowProcA));
        owner = CreateWindowExA(0, kOwnerClass, "Owner", WS_OVERLAPPEDWINDOW, 100, 50, 300, 200, nullptr, nullptr,
                                contract::testModule(), nullptr);
        ASSERT_NE(nullptr, owner);
    }
    void TearDown() override {
        DestroyWindow(owner);
        UnregisterClassA(kOwnerClass, contract::testModule());
    }
    // Shows the settings dialog; `init` runs in WM_INITDIALOG.
    INT_PTR show(std::function<void(HWND, HWND, LPARAM)> init, LPARAM param = 0) {
        g_init = init;
        return DialogBoxParamA(contract::testModule(), MAKEINTRESOURCEA(IDD_SETTING), owner, dialogProc, param);
    }
    HWND owner = nullptr;
};

class Menus : public Contract {};

TEST_F(Dialogs, InitDialogTheCaptionTheItemTextsAndThePlace) {
    HWND dialog = nullptr;
    EXPECT_EQ(IDOK, show([&](HWND h, HWND focus, LPARAM param) {
                  dialog = h;
                  EXPECT_EQ(LPARAM{0x5EED}, param);
                  char small[6], big[32];
                  EXPECT_EQ(owner, GetWindow(h, GW_OWNER));
                  EXPECT_FALSE(IsWindowVisible(h));  // shown once the procedure has initialised it
                  EXPECT_TRUE(GetWindowLongPtrA(owner, GWL_STYLE) & WS_DISABLED);
                  EXPECT_EQ(h, GetParent(GetDlgItem(h, IDOK)));
                  EXPECT_EQ(IDC_PLAYER, GetDlgCtrlID(focus));  // the first tab stop, not the label before it
                  EXPECT_TRUE(SetDlgItemTextA(h, IDC_APPLY, "Apply now"));
                  EXPECT_EQ(5u, GetDlgItemTextA(h, IDC_APPLY, small, sizeof small));
                  EXPECT_STREQ("Apply", small);
                  EXPECT_EQ(0u, GetDlgItemTextA(h, 4242, big, sizeof big));
                  EXPECT_STREQ("", big);
                  EXPECT_FALSE(SetDlgItemTextA(h, 4242, "x"));
                  EXPECT_EQ(7, SendMessageA(h, WM_GETTEXTLENGTH, 0, 0));  // "Setting"
                  SendMessageA(h, WM_SETTEXT, 0, text("Setting - Player"));
                  EXPECT_EQ(16, GetWindowTextA(h, big, sizeof big));
                  EXPECT_STREQ("Setting - Player", big);
                  RECT was, now;  // moved on top of all, its size kept
                  GetWindowRect(h, &was);
                  EXPECT_FALSE(GetWindowLongPtrA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
                  EXPECT_TRUE(SetWindowPos(h, HWND_TOPMOST, 350, 300, 0, 0, SWP_NOSIZE));
                  GetWindowRect(h, &now);
                  EXPECT_TRUE(GetWindowLongPtrA(h, GWL_EXSTYLE) & WS_EX_TOPMOST);
                  EXPECT_EQ((std::vector<LONG>{350, 300, 350 + was.right - was.left, 300 + was.bottom - was.top}),
                            (std::vector<LONG>{now.left, now.top, now.right, now.bottom}));
                  EndDialog(h, IDOK);
              }, 0x5EED));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(GetWindowLongPtrA(owner, GWL_STYLE) & WS_DISABLED);

    // A missing template or module fails with -1, a bad owner with 0; the procedure never runs.
    auto fails = [&](HINSTANCE module, LPCSTR name, HWND by, INT_PTR result, DWORD error) {
        SetLastError(0);
        EXPECT_EQ(result, DialogBoxParamA(module, name, by, dialogProc, 1));
        EXPECT_EQ(error, GetLastError());
    };
    g_init = [](HWND, HWND, LPARAM) { ADD_FAILURE() << "the procedure ran"; };
    fails(contract::testModule(), MAKEINTRESOURCEA(99), owner, -1, ERROR_RESOURCE_NAME_NOT_FOUND);
    fails(contract::testModule(), "NOSUCH", owner, -1, ERROR_RESOURCE_NAME_NOT_FOUND);
    fails(reinterpret_cast<HINSTANCE>(0x7770000), MAKEINTRESOURCEA(IDD_SETTING), owner, -1, ERROR_RESOURCE_DATA_NOT_FOUND);
    fails(contract::testModule(), MAKEINTRESOURCEA(IDD_SETTING), reinterpret_cast<HWND>(0xDEAD0), 0, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(GetWindowLongPtrA(owner, GWL_STYLE) & WS_DISABLED);
}

TEST_F(Dialogs, ComboBoxMessagesAndTheirErrors) {
    show([](HWND h, HWND, LPARAM) {
        auto send = [h](UINT m, WPARAM wp, LPARAM lp = 0) { return SendDlgItemMessageA(h, IDC_PLAYER, m, wp, lp); };
        char entry[32];
        EXPECT_EQ(CB_ERR, send(CB_GETCURSEL, 0));
        for (const char* s : {"WinDVR", "PowerVCR", "HonesTVR"}) send(CB_ADDSTRING, 0, text(s));  // appended
        EXPECT_EQ(8, send(CB_GETLBTEXT, 2, text(entry)));
        EXPECT_STREQ("HonesTVR", entry);
        EXPECT_EQ(CB_ERR, send(CB_GETLBTEXT, 3, text(entry)));
        EXPECT_EQ(CB_ERR, send(CB_GETLBTEXT, WPARAM(-1), text(entry)));
        // Each message's answer, and the selection's text afterwards (nullptr: not checked).
        const struct { UINT msg; WPARAM wp; LRESULT result; const char* shown; } steps[] = {
            {CB_GETCOUNT, 0, 3, ""}, {CB_SETCURSEL, 1, 1, "PowerVCR"}, {CB_GETCURSEL, 0, 1, "PowerVCR"},
            {CB_GETLBTEXTLEN, 2, 8, "PowerVCR"}, {CB_GETLBTEXTLEN, 3, CB_ERR, "PowerVCR"},
            {CB_SETCURSEL, 3, CB_ERR, nullptr},  // Windows clears the selection, Wine 8 keeps it
            {CB_SETCURSEL, 0, 0, "WinDVR"}, {CB_SETCURSEL, WPARAM(-1), CB_ERR, ""}, {CB_GETCURSEL, 0, CB_ERR, ""},
            {CB_SETCURSEL, 2, 2, "HonesTVR"},
        };
        for (const auto& s : steps) {
            EXPECT_EQ(s.result, send(s.msg, s.wp)) << "message " << s.msg << " with " << s.wp;
            if (!s.shown) continue;
            EXPECT_EQ(std::strlen(s.shown), GetDlgItemTextA(h, IDC_PLAYER, entry, sizeof entry));
            EXPECT_STREQ(s.shown, entry);
        }
        send(CB_RESETCONTENT, 0);  // CB_OKAY on Windows, TRUE on Wine 8
        EXPECT_EQ(0, send(CB_GETCOUNT, 0));
        EXPECT_EQ(CB_ERR, send(CB_GETCURSEL, 0));
        EXPECT_EQ(CB_ERR, send(CB_SETCURSEL, 0));
        EXPECT_EQ(0, SendDlgItemMessageA(h, 999, CB_GETCOUNT, 0, 0));  // no such control
        EndDialog(h, IDOK);
    });
}

// A click on an automatic box turns it before the procedure hears of it; a
// plain box is the program's to set. Closing the dialog is pressing Cancel:
// the procedure hears WM_COMMAND IDCANCEL from the button and may refuse.
TEST_F(Dialogs, ClicksCheckBoxesAndCloseAsCancel) {
    HWND cancel = nullptr;
    EXPECT_EQ(IDCANCEL, show([&](HWND h, HWND, LPARAM) {
                  EXPECT_EQ(UINT{BST_UNCHECKED}, IsDlgButtonChecked(h, IDC_AUTOCHECK));
                  for (int id : {IDC_AUTOCHECK, IDC_AUTOCHECK, IDC_MANUALCHECK}) SendDlgItemMessageA(h, id, BM_CLICK, 0, 0);
                  EXPECT_EQ((std::vector<UINT>{BST_CHECKED, BST_UNCHECKED, BST_UNCHECKED}), g_checkOnClick);
                  EXPECT_TRUE(CheckDlgButton(h, IDC_MANUALCHECK, BST_CHECKED));
                  EXPECT_EQ(UINT{BST_CHECKED}, IsDlgButtonChecked(h, IDC_MANUALCHECK));
                  EXPECT_TRUE(CheckDlgButton(h, IDCANCEL, BST_CHECKED));  // a push button has no check state
                  EXPECT_EQ(UINT{BST_UNCHECKED}, IsDlgButtonChecked(h, IDCANCEL));
                  EXPECT_EQ(0u, IsDlgButtonChecked(h, 4242));
                  SendMessageA(cancel = GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0);
                  EXPECT_TRUE(IsWindow(h));
                  PostMessageA(h, WM_CLOSE, 0, 0);
              }));
    ASSERT_EQ(2u, g_cancels.size());
    for (const auto& c : g_cancels) EXPECT_EQ(std::make_pair(WPARAM(MAKEWPARAM(IDCANCEL, BN_CLICKED)), LPARAM(cancel)), c);
}

TEST_F(Menus, CheckMenuItemAnswersThePreviousStateAndBadHandlesFail) {
    HMENU menu = CreatePopupMenu();  // the tray menu's kinds of item
    EXPECT_TRUE(AppendMenuA(menu, MF_STRING, 101, "&Open") && AppendMenuA(menu, MF_STRING | MF_CHECKED, 102, "&Settings") &&
                AppendMenuA(menu, MF_SEPARATOR, 0, nullptr));
    const struct { UINT item, flags; DWORD previous; } steps[] = {
        {102, MF_BYCOMMAND | MF_UNCHECKED, MF_CHECKED}, {102, MF_BYCOMMAND | MF_CHECKED, MF_UNCHECKED},
        {0, MF_BYPOSITION | MF_CHECKED, MF_UNCHECKED},  {0, MF_BYPOSITION | MF_UNCHECKED, MF_CHECKED},
        {999, MF_BYCOMMAND | MF_CHECKED, DWORD(-1)},    {3, MF_BYPOSITION | MF_CHECKED, DWORD(-1)},
    };
    for (const auto& s : steps) EXPECT_EQ(s.previous, CheckMenuItem(menu, s.item, s.flags)) << s.item;
    EXPECT_EQ(3, GetMenuItemCount(menu));

    HMENU bogus = reinterpret_cast<HMENU>(static_cast<uintptr_t>(0x1234));
    EXPECT_FALSE(AppendMenuA(bogus, MF_STRING, 1, "x"));
    EXPECT_EQ(-1, GetMenuItemCount(bogus));
    const std::pair<HMENU, DWORD> bad[] = {{bogus, ERROR_INVALID_MENU_HANDLE}, {menu, ERROR_INVALID_WINDOW_HANDLE}};
    for (auto [m, error] : bad) {  // a bad menu, or no owner
        SetLastError(0);
        EXPECT_FALSE(TrackPopupMenu(m, 0, 0, 0, 0, nullptr, nullptr));
        EXPECT_EQ(error, GetLastError());
    }
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(DestroyMenu(menu));
}

}  // namespace
