// Settings in HKLM\SOFTWARE\Vuzided Ivavevariv\Velotune Utilities, and the
// user's country code.
#include "agent/settings.h"

#include <cstring>

int defaultTvApp = INITIAL_DEFAULT_TV_APP;
bool remoteOff = false;
bool country81Mode = false;

namespace {

constexpr UINT WINDOWS_DIR_CAPACITY = 128;
constexpr DWORD COUNTRY_TEXT_CAPACITY = 30;
constexpr int COUNTRY_DIGITS_TAKEN = 5;
#define WIN_INI_NAME "\\win.ini"

void writeDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// A setting counts as read only when it is the 4-byte number the agent writes;
// anything else stored under the name is treated as unreadable and replaced.
bool readDword(HKEY key, const char* name, DWORD* value) {
    DWORD type = REG_NONE;
    DWORD size = sizeof *value;
    DWORD data = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_DWORD || size != sizeof data) return false;
    *value = data;
    return true;
}

int countryFromWinIni() {
    char windowsDir[WINDOWS_DIR_CAPACITY];
    UINT n = GetWindowsDirectoryA(windowsDir, WINDOWS_DIR_CAPACITY);
    if (n == 0 || n >= WINDOWS_DIR_CAPACITY) return DEFAULT_COUNTRY_CODE;
    // Room for the longest directory accepted above and the file's name.
    char path[WINDOWS_DIR_CAPACITY + sizeof WIN_INI_NAME];
    std::memcpy(path, windowsDir, n);
    std::memcpy(path + n, WIN_INI_NAME, sizeof WIN_INI_NAME);
    return static_cast<int>(GetPrivateProfileIntA("intl", "iCountry", DEFAULT_COUNTRY_CODE, path));
}

// The text is converted digit by digit without checking that the characters
// are digits, so "7a" gives 7 * 10 + ('a' - '0').
int countryFromRegistry() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\International", &key) != ERROR_SUCCESS)
        return DEFAULT_COUNTRY_CODE;
    char text[COUNTRY_TEXT_CAPACITY] = {};
    DWORD size = sizeof text;
    DWORD type = REG_SZ;
    LSTATUS read = RegQueryValueExA(key, "iCountry", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS) return DEFAULT_COUNTRY_CODE;
    int value = 0;
    for (int i = 0; i < COUNTRY_DIGITS_TAKEN && i < static_cast<int>(size) && text[i] != '\0'; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace

bool loadSettings() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, &key, &disposition) == ERROR_SUCCESS) {
            writeDword(key, SETTING_DEFAULT_TV_APP, static_cast<DWORD>(defaultTvApp));
            writeDword(key, SETTING_ALWAYS_REMOTE_OFF, 0);
            RegFlushKey(key);
            RegCloseKey(key);
        }
        return true;
    }

    DWORD value = 0;
    if (readDword(key, SETTING_DEFAULT_TV_APP, &value)) {
        defaultTvApp = static_cast<int>(value);
    } else {
        writeDword(key, SETTING_DEFAULT_TV_APP, static_cast<DWORD>(defaultTvApp));
        RegFlushKey(key);
    }
    if (readDword(key, SETTING_ALWAYS_REMOTE_OFF, &value)) {
        remoteOff = value == 1;
    } else {
        writeDword(key, SETTING_ALWAYS_REMOTE_OFF, 0);
        RegFlushKey(key);
    }
    RegCloseKey(key);
    return true;
}

bool saveDefaultTvApp() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY_PATH, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    DWORD existing = 0;
    DWORD size = sizeof existing;
    if (RegQueryValueExA(key, SETTING_DEFAULT_TV_APP, nullptr, nullptr, reinterpret_cast<BYTE*>(&existing),
                         &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return false;
    }
    DWORD value = static_cast<DWORD>(defaultTvApp);
    bool written = RegSetValueExA(key, SETTING_DEFAULT_TV_APP, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                  sizeof value) == ERROR_SUCCESS;
    RegFlushKey(key);
    RegCloseKey(key);
    return written;
}

int readCountryCode() {
    // The high bit of the version marks the Windows 95 family, which keeps
    // the country code in win.ini.
    if (GetVersion() & 0x80000000u) return countryFromWinIni();
    return countryFromRegistry();
}

void decideCountryMode() { country81Mode = readCountryCode() == COUNTRY_CODE_81; }
