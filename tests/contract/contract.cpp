// The parts of the platform tests' support that are the same everywhere.
#include "contract.h"

namespace contract {

const char kRegistryRoot[] = "Software\\TunerpadContract";

const char* captureBoxName() { return "USB 2800 Video"; }

bool registerWindowClass(const char* name, WNDPROC proc) {
    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = proc;
    wc.hInstance = testModule();
    wc.lpszClassName = name;
    return RegisterClassExA(&wc) != 0;
}

bool pumpUntil(const std::function<bool()>& done, DWORD limitMs) {
    const DWORD start = GetTickCount();
    const UINT_PTR guard = SetTimer(nullptr, 0, limitMs < 50 ? limitMs : 50, nullptr);
    bool met = done();
    MSG msg;
    while (!met && GetTickCount() - start <= limitMs) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) break;
        if (!(msg.message == WM_TIMER && msg.hwnd == nullptr && msg.wParam == guard)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        met = done();
    }
    KillTimer(nullptr, guard);
    return met;
}

}  // namespace contract
