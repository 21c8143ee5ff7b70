// Host stand-in for <prsht.h>: property sheets and wizards of comctl32, with
// the platform's structure layouts, flags, messages and notification codes.
// Behaviour lives in sim/win32/src/propsheet.cpp.
#pragma once

#include <windows.h>

#define MAXPROPPAGES 100

struct _PSP;
typedef struct _PSP* HPROPSHEETPAGE;

struct _PROPSHEETPAGEA;
typedef UINT(CALLBACK* LPFNPSPCALLBACKA)(HWND hwnd, UINT msg, struct _PROPSHEETPAGEA* page);
typedef int(CALLBACK* PFNPROPSHEETCALLBACK)(HWND hwnd, UINT msg, LPARAM lParam);

// ---- pages ------------------------------------------------------------------------------
#define PSP_DEFAULT 0x00000000
#define PSP_DLGINDIRECT 0x00000001
#define PSP_USEHICON 0x00000002
#define PSP_USEICONID 0x00000004
#define PSP_USETITLE 0x00000008
#define PSP_RTLREADING 0x00000010
#define PSP_HASHELP 0x00000020
#define PSP_USEREFPARENT 0x00000040
#define PSP_USECALLBACK 0x00000080
#define PSP_PREMATURE 0x00000400
#define PSP_HIDEHEADER 0x00000800
#define PSP_USEHEADERTITLE 0x00001000
#define PSP_USEHEADERSUBTITLE 0x00002000

// Page callback messages (PSP_USECALLBACK).
#define PSPCB_ADDREF 0
#define PSPCB_RELEASE 1
#define PSPCB_CREATE 2

typedef struct _PROPSHEETPAGEA {
    DWORD dwSize;
    DWORD dwFlags;
    HINSTANCE hInstance;
    union {
        LPCSTR pszTemplate;
        LPCDLGTEMPLATE pResource;
    };
    union {
        HICON hIcon;
        LPCSTR pszIcon;
    };
    LPCSTR pszTitle;
    DLGPROC pfnDlgProc;
    LPARAM lParam;
    LPFNPSPCALLBACKA pfnCallback;
    UINT* pcRefParent;
    LPCSTR pszHeaderTitle;
    LPCSTR pszHeaderSubTitle;
} PROPSHEETPAGEA, *LPPROPSHEETPAGEA;
typedef const PROPSHEETPAGEA* LPCPROPSHEETPAGEA;
typedef PROPSHEETPAGEA PROPSHEETPAGE;
typedef LPPROPSHEETPAGEA LPPROPSHEETPAGE;
typedef LPCPROPSHEETPAGEA LPCPROPSHEETPAGE;

// The size of the first version of the structure, which every version accepts.
#define PROPSHEETPAGEA_V1_SIZE (offsetof(PROPSHEETPAGEA, pcRefParent) + sizeof(UINT*))
#define PROPSHEETPAGE_V1_SIZE PROPSHEETPAGEA_V1_SIZE

// ---- sheets -----------------------------------------------------------------------------
#define PSH_DEFAULT 0x00000000
#define PSH_PROPTITLE 0x00000001
#define PSH_USEHICON 0x00000002
#define PSH_USEICONID 0x00000004
#define PSH_PROPSHEETPAGE 0x00000008
#define PSH_WIZARDHASFINISH 0x00000010
#define PSH_WIZARD 0x00000020
#define PSH_USEPSTARTPAGE 0x00000040
#define PSH_NOAPPLYNOW 0x00000080
#define PSH_USECALLBACK 0x00000100
#define PSH_HASHELP 0x00000200
#define PSH_MODELESS 0x00000400
#define PSH_RTLREADING 0x00000800
#define PSH_WIZARDCONTEXTHELP 0x00001000
#define PSH_WIZARD97 0x01000000
#define PSH_NOCONTEXTHELP 0x02000000

// Sheet callback messages (PSH_USECALLBACK).
#define PSCB_INITIALIZED 1
#define PSCB_PRECREATE 2
#define PSCB_BUTTONPRESSED 3

typedef struct _PROPSHEETHEADERA {
    DWORD dwSize;
    DWORD dwFlags;
    HWND hwndParent;
    HINSTANCE hInstance;
    union {
        HICON hIcon;
        LPCSTR pszIcon;
    };
    LPCSTR pszCaption;
    UINT nPages;
    union {
        UINT nStartPage;
        LPCSTR pStartPage;
    };
    union {
        LPCPROPSHEETPAGEA ppsp;
        HPROPSHEETPAGE* phpage;
    };
    PFNPROPSHEETCALLBACK pfnCallback;
} PROPSHEETHEADERA, *LPPROPSHEETHEADERA;
typedef const PROPSHEETHEADERA* LPCPROPSHEETHEADERA;
typedef PROPSHEETHEADERA PROPSHEETHEADER;
typedef LPPROPSHEETHEADERA LPPROPSHEETHEADER;
typedef LPCPROPSHEETHEADERA LPCPROPSHEETHEADER;

#define PROPSHEETHEADERA_V1_SIZE (offsetof(PROPSHEETHEADERA, pfnCallback) + sizeof(PFNPROPSHEETCALLBACK))
#define PROPSHEETHEADER_V1_SIZE PROPSHEETHEADERA_V1_SIZE

// What PropertySheet answers after the user closed the sheet with OK or Finish
// and a page asked for a restart.
#define ID_PSRESTARTWINDOWS 0x2
#define ID_PSREBOOTSYSTEM (ID_PSRESTARTWINDOWS | 0x1)

// ---- notifications to pages -------------------------------------------------------------
typedef struct _PSHNOTIFY {
    NMHDR hdr;
    LPARAM lParam;
} PSHNOTIFY, *LPPSHNOTIFY;

#define PSN_FIRST (0U - 200U)
#define PSN_LAST (0U - 299U)
#define PSN_SETACTIVE (PSN_FIRST - 0)
#define PSN_KILLACTIVE (PSN_FIRST - 1)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_RESET (PSN_FIRST - 3)
#define PSN_HELP (PSN_FIRST - 5)
#define PSN_WIZBACK (PSN_FIRST - 6)
#define PSN_WIZNEXT (PSN_FIRST - 7)
#define PSN_WIZFINISH (PSN_FIRST - 8)
#define PSN_QUERYCANCEL (PSN_FIRST - 9)

#define PSNRET_NOERROR 0
#define PSNRET_INVALID 1
#define PSNRET_INVALID_NOCHANGEPAGE 2

// ---- messages to the sheet ---------------------------------------------------------------
#define PSM_SETCURSEL (WM_USER + 101)
#define PSM_REMOVEPAGE (WM_USER + 102)
#define PSM_ADDPAGE (WM_USER + 103)
#define PSM_CHANGED (WM_USER + 104)
#define PSM_RESTARTWINDOWS (WM_USER + 105)
#define PSM_REBOOTSYSTEM (WM_USER + 106)
#define PSM_CANCELTOCLOSE (WM_USER + 107)
#define PSM_QUERYSIBLINGS (WM_USER + 108)
#define PSM_UNCHANGED (WM_USER + 109)
#define PSM_APPLY (WM_USER + 110)
#define PSM_SETTITLEA (WM_USER + 111)
#define PSM_SETWIZBUTTONS (WM_USER + 112)
#define PSM_PRESSBUTTON (WM_USER + 113)
#define PSM_SETCURSELID (WM_USER + 114)
#define PSM_SETFINISHTEXTA (WM_USER + 115)
#define PSM_GETTABCONTROL (WM_USER + 116)
#define PSM_ISDIALOGMESSAGE (WM_USER + 117)
#define PSM_GETCURRENTPAGEHWND (WM_USER + 118)
#define PSM_HWNDTOINDEX (WM_USER + 129)
#define PSM_INDEXTOHWND (WM_USER + 130)
#define PSM_IDTOINDEX (WM_USER + 133)
#define PSM_INDEXTOID (WM_USER + 134)
#define PSM_SETTITLE PSM_SETTITLEA
#define PSM_SETFINISHTEXT PSM_SETFINISHTEXTA

#define PSWIZB_BACK 0x00000001
#define PSWIZB_NEXT 0x00000002
#define PSWIZB_FINISH 0x00000004
#define PSWIZB_DISABLEDFINISH 0x00000008

#define PSBTN_BACK 0
#define PSBTN_NEXT 1
#define PSBTN_FINISH 2
#define PSBTN_OK 3
#define PSBTN_APPLYNOW 4
#define PSBTN_CANCEL 5
#define PSBTN_HELP 6

// The message macros, as the platform spells them: buttons and presses are posted.
#define PropSheet_SetCurSel(d, hpage, index) \
    SendMessageA(d, PSM_SETCURSEL, (WPARAM)(index), (LPARAM)(hpage))
#define PropSheet_SetCurSelByID(d, id) SendMessageA(d, PSM_SETCURSELID, 0, (LPARAM)(id))
#define PropSheet_Changed(d, page) SendMessageA(d, PSM_CHANGED, (WPARAM)(page), 0)
#define PropSheet_UnChanged(d, page) SendMessageA(d, PSM_UNCHANGED, (WPARAM)(page), 0)
#define PropSheet_RestartWindows(d) SendMessageA(d, PSM_RESTARTWINDOWS, 0, 0)
#define PropSheet_RebootSystem(d) SendMessageA(d, PSM_REBOOTSYSTEM, 0, 0)
#define PropSheet_CancelToClose(d) PostMessageA(d, PSM_CANCELTOCLOSE, 0, 0)
#define PropSheet_SetTitle(d, style, text) SendMessageA(d, PSM_SETTITLEA, (WPARAM)(style), (LPARAM)(text))
#define PropSheet_SetWizButtons(d, flags) PostMessageA(d, PSM_SETWIZBUTTONS, 0, (LPARAM)(flags))
#define PropSheet_PressButton(d, button) PostMessageA(d, PSM_PRESSBUTTON, (WPARAM)(button), 0)
#define PropSheet_SetFinishText(d, text) SendMessageA(d, PSM_SETFINISHTEXTA, 0, (LPARAM)(text))
#define PropSheet_GetCurrentPageHwnd(d) ((HWND)SendMessageA(d, PSM_GETCURRENTPAGEHWND, 0, 0))
#define PropSheet_HwndToIndex(d, page) ((int)SendMessageA(d, PSM_HWNDTOINDEX, (WPARAM)(page), 0))
#define PropSheet_IndexToHwnd(d, index) ((HWND)SendMessageA(d, PSM_INDEXTOHWND, (WPARAM)(index), 0))
#define PropSheet_IdToIndex(d, id) ((int)SendMessageA(d, PSM_IDTOINDEX, 0, (LPARAM)(id)))
#define PropSheet_IndexToId(d, index) SendMessageA(d, PSM_INDEXTOID, (WPARAM)(index), 0)

// ---- comctl32 -----------------------------------------------------------------------------
HPROPSHEETPAGE WINAPI CreatePropertySheetPageA(LPCPROPSHEETPAGEA page);
BOOL WINAPI DestroyPropertySheetPage(HPROPSHEETPAGE page);
INT_PTR WINAPI PropertySheetA(LPCPROPSHEETHEADERA header);
#define CreatePropertySheetPage CreatePropertySheetPageA
#define PropertySheet PropertySheetA
