// The process token, its privileges, kernel handles, and ending the session.
//
// Every handle OpenProcessToken hands out refers to the one process token, so
// a privilege enabled through one handle is enabled for all of them; the
// World keeps the token's privileges. The Windows 95 family has no tokens:
// its advapi32 answers these calls with ERROR_CALL_NOT_IMPLEMENTED, and its
// ExitWindowsEx needs no privilege.
#include <sim/world.h>

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

using sim::world;

namespace {

// The privileges the system knows, with the LUIDs it gives them.
struct KnownPrivilege {
    const char* name;
    DWORD luid;
};
constexpr KnownPrivilege kKnownPrivileges[] = {
    {"SeCreateTokenPrivilege", 2},         {"SeAssignPrimaryTokenPrivilege", 3},
    {"SeLockMemoryPrivilege", 4},          {"SeIncreaseQuotaPrivilege", 5},
    {"SeMachineAccountPrivilege", 6},      {"SeTcbPrivilege", 7},
    {"SeSecurityPrivilege", 8},            {"SeTakeOwnershipPrivilege", 9},
    {"SeLoadDriverPrivilege", 10},         {"SeSystemProfilePrivilege", 11},
    {"SeSystemtimePrivilege", 12},         {"SeProfileSingleProcessPrivilege", 13},
    {"SeIncreaseBasePriorityPrivilege", 14}, {"SeCreatePagefilePrivilege", 15},
    {"SeCreatePermanentPrivilege", 16},    {"SeBackupPrivilege", 17},
    {"SeRestorePrivilege", 18},            {"SeShutdownPrivilege", 19},
    {"SeDebugPrivilege", 20},              {"SeAuditPrivilege", 21},
    {"SeSystemEnvironmentPrivilege", 22},  {"SeChangeNotifyPrivilege", 23},
    {"SeRemoteShutdownPrivilege", 24},     {"SeUndockPrivilege", 25},
};

// Token handles advance by this much, aligned as kernel handles are.
constexpr uintptr_t kTokenHandleStep = 4;
// ExitWindowsEx requests that need the shutdown privilege on NT (logging off does not).
constexpr UINT kPowerActions = EWX_SHUTDOWN | EWX_REBOOT | EWX_POWEROFF;

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const KnownPrivilege* byName(const char* name) {
    for (const KnownPrivilege& p : kKnownPrivileges)
        if (sameName(p.name, name)) return &p;
    return nullptr;
}

const KnownPrivilege* byLuid(const LUID& luid) {
    if (luid.HighPart != 0) return nullptr;
    for (const KnownPrivilege& p : kKnownPrivileges)
        if (p.luid == luid.LowPart) return &p;
    return nullptr;
}

// A privilege of the token by name, in any case; end() when not held.
std::map<std::string, bool>::iterator findNoCase(std::map<std::string, bool>& privileges, const char* name) {
    for (auto it = privileges.begin(); it != privileges.end(); ++it)
        if (sameName(it->first, name)) return it;
    return privileges.end();
}

std::string hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

// Fails a call the Windows 95 family does not implement.
bool notOn95(sim::World& wd) {
    if (!wd.win95Family) return false;
    wd.lastError = ERROR_CALL_NOT_IMPLEMENTED;
    return true;
}

bool fail(DWORD error) {
    world().lastError = error;
    return false;
}

// A held privilege an adjustment names.
struct Touched {
    std::string name;  // as the token holds it
    DWORD luid;
};

}  // namespace

namespace sim {

bool World::privilegeEnabled(const std::string& name) const {
    for (const auto& p : privileges)
        if (sameName(p.first, name)) return p.second;
    return false;
}

}  // namespace sim

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
    sim::World& wd = world();
    wd.log("OpenProcessToken", "process=" + sim::handleText(process) + " access=" + hex(access));
    if (notOn95(wd)) return FALSE;
    if (!token) return fail(ERROR_NOACCESS);
    *token = nullptr;
    // Only the program's own process is simulated.
    if (process != GetCurrentProcess()) return fail(ERROR_INVALID_HANDLE);
    if (wd.denyProcessToken) return fail(ERROR_ACCESS_DENIED);
    uintptr_t h = wd.nextToken;
    wd.nextToken += kTokenHandleStep;
    wd.tokens[h] = access;
    *token = reinterpret_cast<HANDLE>(h);
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid) {
    sim::World& wd = world();
    wd.log("LookupPrivilegeValueA", std::string("system=") + (systemName ? systemName : "(local)") +
                                        " name=" + (name ? name : "(null)"));
    if (notOn95(wd)) return FALSE;
    if (!name || !luid) return fail(ERROR_INVALID_PARAMETER);
    // No other computer can be reached from the simulated desktop.
    if (systemName && *systemName) return fail(RPC_S_SERVER_UNAVAILABLE);
    const KnownPrivilege* p = byName(name);
    if (!p) return fail(ERROR_NO_SUCH_PRIVILEGE);
    luid->LowPart = p->luid;
    luid->HighPart = 0;
    return TRUE;
}

// Succeeds with ERROR_SUCCESS when every privilege named was held and is now
// as asked, and with ERROR_NOT_ALL_ASSIGNED when some were not held (those
// stay as they are). A too small PreviousState buffer fails the call before
// anything changes.
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
    sim::World& wd = world();
    wd.log("AdjustTokenPrivileges", "token=" + sim::handleText(token) + " disableAll=" + std::to_string(disableAll) +
                                        " count=" + std::to_string(newState ? newState->PrivilegeCount : 0));
    if (notOn95(wd)) return FALSE;
    auto t = wd.tokens.find(reinterpret_cast<uintptr_t>(token));
    if (t == wd.tokens.end()) return fail(ERROR_INVALID_HANDLE);
    if (!(t->second & TOKEN_ADJUST_PRIVILEGES)) return fail(ERROR_ACCESS_DENIED);
    if (previousState && !(t->second & TOKEN_QUERY)) return fail(ERROR_ACCESS_DENIED);
    if (!disableAll && !newState) return fail(ERROR_INVALID_PARAMETER);

    // Work the adjustment out on a copy of the token's states, so that a
    // privilege named twice ends as its last entry says and nothing changes
    // when the call fails.
    std::map<std::string, bool> after = wd.privileges;
    std::vector<Touched> touched;  // in the order first named
    bool notAllAssigned = false;
    auto touch = [&touched](const std::string& name, DWORD luid) {
        for (const Touched& t : touched)
            if (t.name == name) return;
        touched.push_back({name, luid});
    };
    if (disableAll) {
        for (auto& p : after) {
            if (!p.second) continue;
            const KnownPrivilege* k = byName(p.first.c_str());
            touch(p.first, k ? k->luid : 0);
            p.second = false;
        }
    } else {
        for (DWORD i = 0; i < newState->PrivilegeCount; ++i) {
            const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
            const KnownPrivilege* k = byLuid(entry.Luid);
            auto it = k ? findNoCase(after, k->name) : after.end();
            if (it == after.end()) {
                notAllAssigned = true;  // not held: left as it is
                continue;
            }
            touch(it->first, k->luid);
            if (entry.Attributes & SE_PRIVILEGE_REMOVED) after.erase(it);
            else it->second = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    // PreviousState lists the privileges whose state actually changed.
    std::vector<LUID_AND_ATTRIBUTES> changed;
    for (const Touched& t : touched) {
        bool was = wd.privileges.at(t.name);
        auto now = after.find(t.name);
        if (now == after.end() || now->second != was)
            changed.push_back({LUID{t.luid, 0}, was ? DWORD(SE_PRIVILEGE_ENABLED) : DWORD(0)});
    }

    DWORD needed = static_cast<DWORD>(offsetof(TOKEN_PRIVILEGES, Privileges) +
                                      changed.size() * sizeof(LUID_AND_ATTRIBUTES));
    if (previousState) {
        if (returnLength) *returnLength = needed;
        if (bufferLength < needed) return fail(ERROR_INSUFFICIENT_BUFFER);
        previousState->PrivilegeCount = static_cast<DWORD>(changed.size());
        for (size_t i = 0; i < changed.size(); ++i) previousState->Privileges[i] = changed[i];
    }
    wd.privileges = after;
    wd.lastError = notAllAssigned ? ERROR_NOT_ALL_ASSIGNED : ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
    sim::World& wd = world();
    wd.log("ExitWindowsEx", "flags=" + hex(flags) + " reason=" + hex(reason));
    bool enabled = !wd.win95Family && wd.privilegeEnabled(SE_SHUTDOWN_NAME);
    BOOL answer = TRUE;
    DWORD error = ERROR_SUCCESS;
    if (!wd.exitWindowsAnswers.empty()) {
        answer = wd.exitWindowsAnswers.front().answer;
        error = wd.exitWindowsAnswers.front().error;
        wd.exitWindowsAnswers.erase(wd.exitWindowsAnswers.begin());
    } else if (!wd.win95Family && (flags & kPowerActions) && !enabled) {
        answer = FALSE;
        error = ERROR_PRIVILEGE_NOT_HELD;
    }
    if (answer) error = ERROR_SUCCESS;
    else wd.lastError = error;
    wd.shutdownRequests.push_back({wd.now, flags, reason, enabled, answer, error});
    return answer;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    sim::World& wd = world();
    wd.log("CloseHandle", sim::handleText(handle));
    // The process pseudo handle needs no closing; closing it does nothing.
    if (handle == GetCurrentProcess()) return TRUE;
    if (wd.tokens.erase(reinterpret_cast<uintptr_t>(handle))) return TRUE;
    // Process and thread handles (processes.cpp); the process runs on without them.
    if (wd.processHandles.erase(reinterpret_cast<uintptr_t>(handle))) return TRUE;
    return fail(ERROR_INVALID_HANDLE);
}
