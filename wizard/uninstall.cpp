// Page 2's removals: the uninstallers' command lines come from the system's
// Uninstall key, and each runs to its end before the wizard goes on.
#include "wizard/app.h"
#include "wizard/pages.h"

namespace {

constexpr DWORD SUBKEY_NAME_CAPACITY = 256;
constexpr DWORD DISPLAY_NAME_CAPACITY = 256;
// The utilities' command may fill the whole buffer; the drivers' one is read
// with one byte less.
constexpr DWORD UTILITY_COMMAND_READ_SIZE = TEXT_CAPACITY;
constexpr DWORD DRIVER_COMMAND_READ_SIZE = TEXT_CAPACITY - 1;

// Reads a text value into `buffer` with room for `size` bytes. A value
// stored without its NUL gets one when the room holds it; otherwise it does
// not fit. True when `buffer` holds the text.
bool ReadTextValue(HKEY key, LPCSTR name, char* buffer, DWORD size) {
    DWORD read = size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &read) != ERROR_SUCCESS)
        return false;
    if (read > 0 && buffer[read - 1] == '\0') return true;
    if (read >= size) return false;
    buffer[read] = '\0';
    return true;
}

}  // namespace

void CPage2::RemoveUtilities() {
    CUninstallWizardApp& app = theApp;
    // An empty name would match every entry without a readable display name,
    // and run another program's uninstaller.
    if (app.m_szUtilityName[0] == '\0') return;
    HKEY uninstall = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_ALL_ACCESS, &uninstall) != ERROR_SUCCESS) return;
    bool found = false;
    char subkeyName[SUBKEY_NAME_CAPACITY];
    char displayName[DISPLAY_NAME_CAPACITY];
    // A read that fails may leave its buffer spoilt: a command found earlier
    // is kept apart until the next one is read whole.
    char command[TEXT_CAPACITY];
    // Every match is looked at: the last one with a readable command wins.
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = SUBKEY_NAME_CAPACITY;
        if (RegEnumKeyExA(uninstall, index, subkeyName, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY entry = nullptr;
        if (RegOpenKeyExA(uninstall, subkeyName, 0, KEY_ALL_ACCESS, &entry) != ERROR_SUCCESS) continue;
        // A missing or unreadable display name is the empty text.
        if (!ReadTextValue(entry, DISPLAY_NAME_VALUE, displayName, DISPLAY_NAME_CAPACITY))
            lstrcpyA(displayName, app.m_szEmpty);
        if (lstrcmpiA(displayName, app.m_szUtilityName) == 0 &&
            ReadTextValue(entry, UNINSTALL_STRING_VALUE, command, UTILITY_COMMAND_READ_SIZE)) {
            lstrcpyA(app.m_szUninstallCommand, command);
            found = true;
        }
        RegCloseKey(entry);
    }
    RegCloseKey(uninstall);
    if (found) RunUninstallCommand();
}

void CPage2::RemoveDrivers() {
    // Without a name the path would be the Uninstall key itself, no entry.
    if (theApp.m_szDriverKeyName[0] == '\0') return;
    // A cut path would name another key.
    int length = lstrlenA(UNINSTALL_KEY "\\") + lstrlenA(theApp.m_szDriverKeyName);
    if (length >= DRIVER_KEY_PATH_CAPACITY) return;
    char path[DRIVER_KEY_PATH_CAPACITY];
    wsprintfA(path, "%s\\%s", UNINSTALL_KEY, theApp.m_szDriverKeyName);
    HKEY entry = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &entry) != ERROR_SUCCESS) return;
    if (ReadTextValue(entry, UNINSTALL_STRING_VALUE, theApp.m_szUninstallCommand, DRIVER_COMMAND_READ_SIZE))
        RunUninstallCommand();
    RegCloseKey(entry);
}

// The command line runs exactly as stored. Only the started process is
// waited for, without a time limit.
void CPage2::RunUninstallCommand() {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, theApp.m_szUninstallCommand, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}
