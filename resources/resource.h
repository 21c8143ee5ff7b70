/* Identifiers of tunerpad's resources and commands.
   Included by the C++ sources and by tunerpad.rc, so plain #defines only. */
#ifndef TUNERPAD_RESOURCE_H
#define TUNERPAD_RESOURCE_H

/* string table */
#define IDS_WINDOW_TITLE 22
#define IDS_WINDOW_CLASS 23

/* accelerator table */
#define IDR_ACCELERATORS 23

/* icons: the notification-area icon and the one on the shutdown prompt */
#define IDI_AGENT 50
#define IDI_SHUTDOWN 110

/* dialogs */
#define IDD_SETTING 20
#define IDD_ABOUT 21
#define IDD_SHUTDOWN 107

/* dialog controls */
#define IDC_APP_COMBO 11

/* commands: the agent's own */
#define IDM_ABOUT 30
#define IDM_QUIT 31
#define IDM_SETTING 32

/* commands: the player application chosen from the menu */
#define IDM_WINDVD 1101
#define IDM_WINDVR 1102
#define IDM_WINRIP 1103
#define IDM_POWERVCR 1104
#define IDM_HONESTECH 1105
#define IDM_ROVIVER 1106

/* commands: leave the player application */
#define IDM_EXIT 1201

#endif
