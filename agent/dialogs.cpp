// The About, Setting and Shut Down dialogs, and switching the computer off.
#include "agent/dialogs.h"

#include <cstring>

#include "agent/agent.h"
#include "agent/settings.h"
#include "apps/adapters.h"
#include "resource.h"

bool shutdownPromptOpen = false;
HWND shutdownPromptWindow = nullptr;
LONG settingSelection = -1;
char settingChoiceText[SETTING_CHOICE_CAPACITY];

namespace {

// Where the dialogs go, by the width of the full-screen client area.
struct Placement {
    int width;
    int x, y;
};
const Placement PLACEMENTS[] = {
    {640, 160, 200}, {800, 280, 250}, {1024, 350, 300}, {1152, 420, 300}, {1280, 420, 300}, {1600, 580, 340},
};

// The Setting dialog's entries, in the order they can appear.
struct SettingEntry {
    const char* text;
    AppId app;
    int value;  // DefaultTVAPP
};
const SettingEntry SETTING_ENTRIES[] = {
    {"WinDVR", APP_WINDVR, TV_APP_WINDVR},
    {"PowerVCR", APP_POWERVCR, TV_APP_POWERVCR},
    {"HonesTVR", APP_HONESTECH, TV_APP_HONESTECH},
    {"RoviverUVA", APP_ROVIVER, TV_APP_ROVIVER},
};

// The order in which a chosen text is matched back to its value.
const SettingEntry* const CHOICE_ORDER[] = {&SETTING_ENTRIES[0], &SETTING_ENTRIES[1], &SETTING_ENTRIES[2],
                                            &SETTING_ENTRIES[3]};

constexpr WPARAM PROMPT_CONFIRM_KEY = VK_RETURN;
constexpr WPARAM PROMPT_CANCEL_KEY = VK_ESCAPE;

void placeDialog(HWND dialog) {
    int width = GetSystemMetrics(SM_CXFULLSCREEN);
    for (const Placement& p : PLACEMENTS) {
        if (p.width == width) {
            SetWindowPos(dialog, HWND_TOPMOST, p.x, p.y, 0, 0, SWP_NOSIZE);
            return;
        }
    }
}

void fillSettingChoices(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_RESETCONTENT, 0, 0);
    LONG index = 0;
    for (const SettingEntry& e : SETTING_ENTRIES) {
        if (!adapterOf(e.app).found) continue;
        SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(e.text));
        if (defaultTvApp == e.value) settingSelection = index;
        ++index;
    }
    if (settingSelection == -1) settingSelection = 0;
    SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_SETCURSEL, static_cast<WPARAM>(settingSelection), 0);
}

void acceptSettingChoice(HWND dialog) {
    settingSelection = static_cast<LONG>(SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_GETCURSEL, 0, 0));
    if (settingSelection == CB_ERR) return;
    // The entry's text must fit the choice buffer; a longer one matches nothing.
    LRESULT length = SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_GETLBTEXTLEN, settingSelection, 0);
    if (length < 0 || length >= static_cast<LRESULT>(sizeof settingChoiceText)) return;
    SendDlgItemMessageA(dialog, IDC_APP_COMBO, CB_GETLBTEXT, settingSelection,
                        reinterpret_cast<LPARAM>(settingChoiceText));
    for (const SettingEntry* e : CHOICE_ORDER) {
        if (std::strcmp(settingChoiceText, e->text) != 0) continue;
        if (e->value != defaultTvApp) {
            defaultTvApp = e->value;
            saveDefaultTvApp();
        }
        return;
    }
}

void closePrompt(HWND dialog, INT_PTR result, bool confirmed) {
    shutdownPromptOpen = false;
    EndDialog(dialog, result);
    if (confirmed) shutDownComputer();
}

}  // namespace

INT_PTR CALLBACK aboutProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        placeDialog(dialog);
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK settingProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        placeDialog(dialog);
        fillSettingChoices(dialog);
        return TRUE;
    }
    if (msg != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IDCANCEL:
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    case IDOK:
        acceptSettingChoice(dialog);
        EndDialog(dialog, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK shutdownProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
    case WM_INITDIALOG:
        SetForegroundWindow(dialog);
        SetActiveWindow(dialog);
        shutdownPromptWindow = dialog;
        placeDialog(dialog);
        return TRUE;
    case WM_KEYDOWN:
        // The remote's keys arrive here from the key poll: Power confirms,
        // every other key cancels.
        if (wParam == PROMPT_CONFIRM_KEY) {
            closePrompt(dialog, PROMPT_CONFIRM_KEY, true);
            return TRUE;
        }
        if (wParam == PROMPT_CANCEL_KEY) {
            closePrompt(dialog, PROMPT_CANCEL_KEY, false);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            closePrompt(dialog, IDOK, true);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            closePrompt(dialog, IDCANCEL, false);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

void showAboutDialog(HWND owner) { DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_ABOUT), owner, aboutProc, 0); }

void showSettingDialog(HWND owner) {
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_SETTING), owner, settingProc, 0);
}

void showShutdownPrompt(HWND owner) {
    shutdownPromptOpen = true;
    DialogBoxParamA(appInstance, MAKEINTRESOURCEA(IDD_SHUTDOWN), owner, shutdownProc, 0);
    // Every way the prompt closes clears the flag; so must a prompt that could
    // not be shown, or the remote's keys would go to a window that is not there.
    shutdownPromptOpen = false;
}

void shutDownComputer() {
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        ExitWindowsEx(EWX_SHUTDOWN, 0);
        return;
    }
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges;
    std::memset(&privileges, 0, sizeof privileges);
    LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    DWORD error = GetLastError();
    CloseHandle(token);
    if (error != ERROR_SUCCESS) return;
    if (!ExitWindowsEx(EWX_POWEROFF | EWX_FORCE, 0))
        MessageBoxA(nullptr, "Can't run ExitWindowsEx.", AGENT_NAME, MB_OK);
}
