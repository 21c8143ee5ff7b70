// clearway: the application object, which holds every text and choice of the
// uninstall wizard, and the choice of the texts' language.
#pragma once

#include "wizard/framework/framework.h"

// The INI section name: a country code in decimal.
constexpr int SECTION_CAPACITY = 32;
// INI texts, registry names and the command line, with their terminating NUL.
constexpr int TEXT_CAPACITY = 256;
constexpr int EMPTY_CAPACITY = 4;

// The texts' file, in the Windows directory, and its fallback section.
#define WIZARD_INI_FILE "REDerUro.ini"
#define FALLBACK_SECTION "1"

class CUninstallWizardApp : public CWinApp {
public:
    CUninstallWizardApp();

    // Runs the whole program: the texts, then the wizard. Returns FALSE.
    BOOL InitInstance() override;
    // Chooses the INI section by the user's country code and reads the eight
    // texts from it. Always TRUE.
    BOOL LoadWizardTexts();

    BOOL m_bRemoveUtilities;
    BOOL m_bRemoveDrivers;
    char m_szSection[SECTION_CAPACITY];
    char m_szTitle[TEXT_CAPACITY];
    char m_szPage1Tip1[TEXT_CAPACITY];
    char m_szPage1Tip2[TEXT_CAPACITY];
    char m_szOption1[TEXT_CAPACITY];
    char m_szOption2[TEXT_CAPACITY];
    char m_szPage2Tip1[TEXT_CAPACITY];
    char m_szUtilityName[TEXT_CAPACITY];
    char m_szDriverKeyName[TEXT_CAPACITY];
    char m_szEmpty[EMPTY_CAPACITY];
    char m_szUninstallCommand[TEXT_CAPACITY];

private:
    // One key of the chosen section into a text field; the empty text when
    // the file, the section or the key is missing. A longer text is cut.
    void ReadWizardText(LPCSTR key, char* text);
    // The same for a name the wizard looks up in the registry: a name that
    // does not fit whole is left empty, as a cut one would name another entry.
    void ReadWizardName(LPCSTR key, char* name);
};

// The one application object of the process.
extern CUninstallWizardApp theApp;

// True on the NT family from version 5 (Windows 2000) on.
bool IsWindows2000OrLater();
// The user's country code from the regional settings; 1 when it cannot be read.
int ReadCountryCode();

#ifdef SIM_WIN32
// Host build: replay the static construction of the application object, so
// each scenario starts as a fresh process.
void restartWizardStatics();
#endif
