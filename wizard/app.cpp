// clearway's application object: the user's country code, the wizard's texts
// from REDerUro.ini, and the run of the two-page wizard.
#include "wizard/app.h"

#include <new>

#include "clearway_resource.h"
#include "wizard/pages.h"

namespace {

constexpr int DEFAULT_COUNTRY = 1;
// The NT family reads the country code from the registry from this major version on.
constexpr DWORD REGISTRY_COUNTRY_MAJOR_VERSION = 5;
// "iCountry" in the registry: read into this many bytes, of which at most
// this many leading digits make the code.
constexpr DWORD COUNTRY_VALUE_SIZE = 30;
constexpr int COUNTRY_DIGITS = 5;
constexpr int DECIMAL_BASE = 10;
// Room for the Windows directory before the name of win.ini is added.
constexpr UINT WINDOWS_DIR_CAPACITY = 128;

#define WIN_INI_NAME "\\win.ini"
#define INTL_SECTION "intl"
#define COUNTRY_VALUE "iCountry"
#define INTERNATIONAL_KEY "Control Panel\\International"

// The sheet's own caption; in wizard mode the platform shows the active
// page's caption instead.
#define SHEET_CAPTION "MyWizard1"

// The eight keys of a section, read in this order.
#define KEY_TITLE "UninstallWizardAppTitle"
#define KEY_PAGE1_TIP1 "UninstallWizardTPG1Tip1"
#define KEY_PAGE1_TIP2 "UninstallWizardTPG1Tip2"
#define KEY_OPTION1 "UninstallWizardTPG1OPT1"
#define KEY_OPTION2 "UninstallWizardTPG1OPT2"
#define KEY_PAGE2_TIP1 "UninstallWizardTPG2Tip1"
#define KEY_UTILITY_NAME "UninstallUtilityRegName"
#define KEY_DRIVER_KEY_NAME "DrvUninstRegKeyPath"

// Windows 95, 98, Me and NT 4.0 keep the country code in win.ini.
int ReadCountryFromWinIni() {
    char path[WINDOWS_DIR_CAPACITY + sizeof WIN_INI_NAME];
    UINT length = GetWindowsDirectoryA(path, WINDOWS_DIR_CAPACITY);
    if (length == 0 || length >= WINDOWS_DIR_CAPACITY) return DEFAULT_COUNTRY;
    lstrcatA(path, WIN_INI_NAME);
    return static_cast<int>(GetPrivateProfileIntA(INTL_SECTION, COUNTRY_VALUE, DEFAULT_COUNTRY, path));
}

// The registry holds the code as text; its leading characters are taken as
// digits without further checks.
int ReadCountryFromRegistry() {
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, INTERNATIONAL_KEY, &key) != ERROR_SUCCESS) return DEFAULT_COUNTRY;
    char text[COUNTRY_VALUE_SIZE] = {};
    DWORD size = COUNTRY_VALUE_SIZE;
    LONG status = RegQueryValueExA(key, COUNTRY_VALUE, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return DEFAULT_COUNTRY;
    int code = 0;
    for (int i = 0; i < COUNTRY_DIGITS && text[i] != '\0'; ++i) code = code * DECIMAL_BASE + (text[i] - '0');
    return code;
}

// The wizard's title in the user's language: the INI's title, when it has
// one, replaces the pages' caption string.
void ShowWizardTitle(CPropertyPage& page, LPCSTR title) {
    if (title[0] == '\0') return;
    page.m_psp.dwFlags |= PSP_USETITLE;
    page.m_psp.pszTitle = title;
}

}  // namespace

CUninstallWizardApp theApp;

CUninstallWizardApp::CUninstallWizardApp()
    : CWinApp(nullptr),
      m_bRemoveUtilities(FALSE),
      m_bRemoveDrivers(FALSE),
      m_szSection{},
      m_szTitle{},
      m_szPage1Tip1{},
      m_szPage1Tip2{},
      m_szOption1{},
      m_szOption2{},
      m_szPage2Tip1{},
      m_szUtilityName{},
      m_szDriverKeyName{},
      m_szEmpty{},
      m_szUninstallCommand{} {}

bool IsWindows2000OrLater() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExA(&info);
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= REGISTRY_COUNTRY_MAJOR_VERSION;
}

int ReadCountryCode() { return IsWindows2000OrLater() ? ReadCountryFromRegistry() : ReadCountryFromWinIni(); }

void CUninstallWizardApp::ReadWizardText(LPCSTR key, char* text) {
    GetPrivateProfileStringA(m_szSection, key, m_szEmpty, text, TEXT_CAPACITY, WIZARD_INI_FILE);
}

void CUninstallWizardApp::ReadWizardName(LPCSTR key, char* name) {
    // One byte more than the field tells a name that fits from one that was cut.
    char whole[TEXT_CAPACITY + 1];
    DWORD length = GetPrivateProfileStringA(m_szSection, key, m_szEmpty, whole, sizeof whole, WIZARD_INI_FILE);
    if (length >= TEXT_CAPACITY) whole[0] = '\0';
    lstrcpynA(name, whole, TEXT_CAPACITY);
}

BOOL CUninstallWizardApp::LoadWizardTexts() {
    // A decimal int needs at most 11 characters.
    wsprintfA(m_szSection, "%d", ReadCountryCode());
    ReadWizardText(KEY_TITLE, m_szTitle);
    // A section counts only with a title; otherwise every text comes from the fallback.
    if (m_szTitle[0] == '\0') {
        lstrcpyA(m_szSection, FALLBACK_SECTION);
        ReadWizardText(KEY_TITLE, m_szTitle);
    }
    ReadWizardText(KEY_PAGE1_TIP1, m_szPage1Tip1);
    ReadWizardText(KEY_PAGE1_TIP2, m_szPage1Tip2);
    ReadWizardText(KEY_OPTION1, m_szOption1);
    ReadWizardText(KEY_OPTION2, m_szOption2);
    ReadWizardText(KEY_PAGE2_TIP1, m_szPage2Tip1);
    ReadWizardName(KEY_UTILITY_NAME, m_szUtilityName);
    ReadWizardName(KEY_DRIVER_KEY_NAME, m_szDriverKeyName);
    return TRUE;
}

BOOL CUninstallWizardApp::InitInstance() {
    AfxEnableControlContainer();
    Enable3dControls();
    LoadWizardTexts();

    CWizardSheet sheet(SHEET_CAPTION, nullptr, 0);
    sheet.m_psh.dwFlags |= PSH_WIZARD;
    CPage1 page1;
    CPage2 page2;
    ShowWizardTitle(page1, m_szTitle);
    ShowWizardTitle(page2, m_szTitle);
    sheet.AddPage(&page1);
    sheet.AddPage(&page2);
    sheet.DoModal();
    return FALSE;
}

#ifdef SIM_WIN32
void restartWizardStatics() {
    theApp.~CUninstallWizardApp();
    new (&theApp) CUninstallWizardApp();
}
#endif
