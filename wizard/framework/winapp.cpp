// The application object and the program's entry.
#include "wizard/framework/framework.h"

namespace {
// The one application object; set by its construction before the entry runs.
CWinApp* theOneApp = nullptr;
}  // namespace

IMPLEMENT_DYNAMIC(CWinApp, CObject)

CWinApp::CWinApp(LPCSTR lpszAppName)
    : m_pszAppName(lpszAppName), m_hInstance(nullptr), m_lpCmdLine(nullptr), m_nCmdShow(SW_SHOWNORMAL) {
    theOneApp = this;
}

CWinApp::~CWinApp() {
    if (theOneApp == this) theOneApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

BOOL CWinApp::Enable3dControls() { return TRUE; }

CWinApp* AfxGetApp() { return theOneApp; }

HINSTANCE AfxGetInstanceHandle() { return theOneApp ? theOneApp->m_hInstance : nullptr; }

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

void AfxEnableControlContainer() {}

// The program runs inside InitInstance; whatever it answers, the process
// ends with the application's exit code.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int nCmdShow) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = lpCmdLine;
    app->m_nCmdShow = nCmdShow;
    app->InitInstance();
    return app->ExitInstance();
}
