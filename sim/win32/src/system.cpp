// Version answers, the last-error value and the process pseudo handle.
#include <sim/world.h>

#include <cstring>

namespace {
// GetVersion's high bit tells the Windows 95 family from NT.
constexpr DWORD kWin95FamilyBit = 0x80000000u;
// OSVERSIONINFOEXA: OSVERSIONINFOA and then service pack numbers, suite
// mask, product type and a reserved byte.
constexpr DWORD kVersionInfoExSize = sizeof(OSVERSIONINFOA) + 8;
constexpr BYTE kNtWorkstation = 1;  // wProductType VER_NT_WORKSTATION
// GetCurrentProcess always answers this pseudo handle.
const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}  // namespace

DWORD WINAPI GetVersion(void) {
    const sim::World& w = sim::world();
    DWORD low = (w.majorVersion & 0xFF) | ((w.minorVersion & 0xFF) << 8);
    // NT puts the build in the high word; on the 95 family only the top bit
    // is defined and the rest of the high word is reserved (left zero here).
    if (w.win95Family) return kWin95FamilyBit | low;
    return low | ((w.buildNumber & 0x7FFF) << 16);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA info) {
    sim::World& w = sim::world();
    if (!info) {
        w.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // The structure or its extended form; any other size is too small for the answer.
    const DWORD size = info->dwOSVersionInfoSize;
    if (size != sizeof(OSVERSIONINFOA) && size != kVersionInfoExSize) {
        w.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    info->dwMajorVersion = w.majorVersion;
    info->dwMinorVersion = w.minorVersion;
    if (w.win95Family) {
        // The 95 family repeats major and minor in the high word of the build.
        info->dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
        info->dwBuildNumber = ((w.majorVersion & 0xFF) << 24) | ((w.minorVersion & 0xFF) << 16) |
                              (w.buildNumber & 0xFFFF);
    } else {
        info->dwPlatformId = VER_PLATFORM_WIN32_NT;
        info->dwBuildNumber = w.buildNumber;
    }
    info->szCSDVersion[0] = '\0';
    if (size == kVersionInfoExSize) {
        BYTE* extended = reinterpret_cast<BYTE*>(info + 1);
        std::memset(extended, 0, kVersionInfoExSize - sizeof(OSVERSIONINFOA));
        if (!w.win95Family) extended[6] = kNtWorkstation;
    }
    return TRUE;
}

DWORD WINAPI GetLastError(void) { return sim::world().lastError; }

void WINAPI SetLastError(DWORD error) { sim::world().lastError = error; }

HANDLE WINAPI GetCurrentProcess(void) { return kCurrentProcess; }
