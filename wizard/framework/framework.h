// The small class layer the uninstall wizard is written on: an application
// object whose InitInstance runs the program, windows and dialogs with the
// control helpers the pages use, and property pages and a property sheet
// over comctl32's PropertySheetA. Names and calling conventions are those of
// the application framework the wizard's classes derive from; only what the
// wizard uses is here.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

// Room for a caption: a page's caption string, the sheet's caption.
constexpr int CAPTION_CAPACITY = 256;

// ---- run-time class information ------------------------------------------------------
class CObject;

// The name of a class, its base, and how to create one by name (when the
// class allows dynamic creation).
struct CRuntimeClass {
    LPCSTR m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    CObject* (*m_pfnCreateObject)();  // null: no dynamic creation

    // A new object of the class (the caller deletes it); null without dynamic creation.
    CObject* CreateObject() const;
    // True for this class and every class derived from `base`.
    BOOL IsDerivedFrom(const CRuntimeClass* base) const;
};

#define RUNTIME_CLASS(name) (&name::class##name)

#define DECLARE_DYNAMIC(name)                \
public:                                      \
    static const CRuntimeClass class##name;  \
    const CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(name) \
    DECLARE_DYNAMIC(name)       \
    static CObject* CreateObject();

#define IMPLEMENT_DYNAMIC(name, base)                                                 \
    const CRuntimeClass name::class##name = {#name, RUNTIME_CLASS(base), nullptr};   \
    const CRuntimeClass* name::GetRuntimeClass() const { return RUNTIME_CLASS(name); }

#define IMPLEMENT_DYNCREATE(name, base)                                                      \
    CObject* name::CreateObject() { return new name; }                                      \
    const CRuntimeClass name::class##name = {#name, RUNTIME_CLASS(base), name::CreateObject}; \
    const CRuntimeClass* name::GetRuntimeClass() const { return RUNTIME_CLASS(name); }

class CObject {
public:
    static const CRuntimeClass classCObject;
    virtual ~CObject() = default;
    virtual const CRuntimeClass* GetRuntimeClass() const;
    BOOL IsKindOf(const CRuntimeClass* cls) const;

    CObject(const CObject&) = delete;
    CObject& operator=(const CObject&) = delete;

protected:
    CObject() = default;
};

// ---- the application ---------------------------------------------------------------------
// The one application object of the process, constructed statically before
// the entry runs. The entry hands it the instance and runs InitInstance; the
// wizard's program does all its work there and returns FALSE, so this layer
// has no message loop of its own.
class CWinApp : public CObject {
    DECLARE_DYNAMIC(CWinApp)
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitInstance();
    // The process's exit code.
    virtual int ExitInstance();
    // Three-dimensional controls are the platform's own look on every system
    // the program runs on: nothing to switch on.
    BOOL Enable3dControls();

    LPCSTR m_pszAppName;
    HINSTANCE m_hInstance;
    LPSTR m_lpCmdLine;
    int m_nCmdShow;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// The module the dialog templates and strings are loaded from.
HINSTANCE AfxGetResourceHandle();
// The wizard's templates hold no embedded controls of other programs: there is
// no control container to prepare.
void AfxEnableControlContainer();

// ---- windows and dialogs ---------------------------------------------------------------------
class CWnd : public CObject {
    DECLARE_DYNAMIC(CWnd)
public:
    CWnd() = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    void CheckDlgButton(int nIDButton, UINT nCheck);
    UINT IsDlgButtonChecked(int nIDButton) const;
    void SetDlgItemText(int nID, LPCSTR lpszString);

    HWND m_hWnd = nullptr;

protected:
    // WM_COMMAND from a control of this window: TRUE when the window handled it.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
};

// Which way a data exchange goes: into the dialog's controls or out of them.
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT nIDTemplate);

    // The dialog's controls exist: fills them (UpdateData(FALSE)); TRUE lets
    // the system give the focus to the first control.
    virtual BOOL OnInitDialog();
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);

    UINT m_nIDTemplate;
};

// ---- property pages and the property sheet ----------------------------------------------------
// One page of a property sheet, made from a dialog template of the
// application's module; its caption is a string of the same module.
class CPropertyPage : public CDialog {
    DECLARE_DYNAMIC(CPropertyPage)
public:
    explicit CPropertyPage(UINT nIDTemplate, UINT nIDCaption = 0);

    // The page is about to become the current one: TRUE accepts.
    virtual BOOL OnSetActive();
    // Next was pressed: 0 moves to the next page, -1 stays, a template
    // identifier moves to that page.
    virtual LRESULT OnWizardNext();
    // Finish was pressed: TRUE lets the wizard close.
    virtual BOOL OnWizardFinish();

    // What the sheet is given for this page.
    PROPSHEETPAGEA m_psp;

private:
    static INT_PTR CALLBACK PageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // A notification from the sheet: TRUE with `result` when the page answers it.
    BOOL OnNotify(const NMHDR* header, LRESULT* result);

    char m_szCaption[CAPTION_CAPACITY];
};

class CPropertySheet : public CWnd {
    DECLARE_DYNAMIC(CPropertySheet)
public:
    explicit CPropertySheet(LPCSTR pszCaption, CWnd* pParentWnd = nullptr, UINT iSelectPage = 0);

    // Pages show in the order they are added; a page past the sheet's
    // capacity is not added.
    void AddPage(CPropertyPage* pPage);
    int GetPageCount() const { return m_nPages; }
    // Runs the sheet until it closes: IDOK when the system reports a
    // positive result, IDCANCEL for none, -1 when it could not be shown.
    INT_PTR DoModal();

    // The header the sheet is created from; the caller may add flags
    // (PSH_WIZARD) before DoModal.
    PROPSHEETHEADERA m_psh;

    static constexpr int MAX_PAGES = 8;

private:
    CPropertyPage* m_pages[MAX_PAGES];
    int m_nPages;
    char m_szCaption[CAPTION_CAPACITY];
};
