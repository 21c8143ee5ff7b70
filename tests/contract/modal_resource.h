// Identifiers of the modal platform tests' resources.
#pragma once

#define IDD_MODAL_TICKS 200
#define IDD_SETTING 210
#define IDC_PLAYER 211
#define IDC_AUTOCHECK 212
#define IDC_MANUALCHECK 213
#define IDC_APPLY 214
