// clearway's wizard: the sheet, page 1 (the choices) and page 2 (the work).
#pragma once

#include "wizard/framework/framework.h"

// The main window of the remote-control agent, found by this title alone.
#define AGENT_WINDOW_TITLE "Ruvuzovi Razuzu Davidod"
// The system's list of installed programs, under HKEY_LOCAL_MACHINE.
#define UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
// The values of an entry in that list that the wizard reads.
#define DISPLAY_NAME_VALUE "DisplayName"
#define UNINSTALL_STRING_VALUE "UninstallString"

// Room for the drivers' key path, "<Uninstall key>\<name>", with its NUL.
constexpr int DRIVER_KEY_PATH_CAPACITY = 260;

class CWizardSheet : public CPropertySheet {
    DECLARE_DYNAMIC(CWizardSheet)
public:
    using CPropertySheet::CPropertySheet;
};

// Explains what will be removed and offers the two choices, both checked.
class CPage1 : public CPropertyPage {
    DECLARE_DYNCREATE(CPage1)
public:
    CPage1();

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;

    // The page's own record of the two choices, written on Next.
    BOOL m_bRemoveUtilities;
    BOOL m_bRemoveDrivers;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

private:
    // The boxes toggle by themselves; a click needs nothing more.
    void OnRemoveUtilitiesClicked();
    void OnRemoveDriversClicked();
};

// Closes the agent and runs the chosen uninstallers as soon as it is shown.
class CPage2 : public CPropertyPage {
    DECLARE_DYNCREATE(CPage2)
public:
    CPage2();

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;

    // Runs the command of the Uninstall entry whose display name is the
    // utilities' name.
    void RemoveUtilities();
    // Runs the command of the Uninstall entry named by the drivers' key name.
    void RemoveDrivers();
    // Starts the command about to run and waits for its process to end.
    void RunUninstallCommand();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
