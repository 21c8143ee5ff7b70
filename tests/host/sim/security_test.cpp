// The process token, privileges and ExitWindowsEx of the simulated desktop.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstddef>

namespace {

// The platform's layout, which programs rely on when they size buffers.
static_assert(sizeof(LUID) == 8, "LUID is two 32-bit halves");
static_assert(sizeof(LUID_AND_ATTRIBUTES) == 12, "LUID_AND_ATTRIBUTES packs to 12 bytes");
static_assert(offsetof(TOKEN_PRIVILEGES, Privileges) == 4, "the array follows the count");
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one entry is declared");

constexpr DWORD kShutdownLuid = 19;  // SE_SHUTDOWN_PRIVILEGE
constexpr DWORD kDebugLuid = 20;     // SE_DEBUG_PRIVILEGE
constexpr DWORD kNoSuchLuid = 99;
constexpr DWORD kAdjustAndQuery = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
constexpr UINT kPowerOff = EWX_POWEROFF | EWX_FORCE;
constexpr DWORD kStaleError = 0xBAD;

// A TOKEN_PRIVILEGES with room for more entries, laid out as the platform's.
template <int N>
struct Privileges {
    DWORD count = 0;
    LUID_AND_ATTRIBUTES entries[N] = {};
    PTOKEN_PRIVILEGES get() { return reinterpret_cast<PTOKEN_PRIVILEGES>(this); }
};

TOKEN_PRIVILEGES one(DWORD luid, DWORD attributes) {
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid.LowPart = luid;
    tp.Privileges[0].Attributes = attributes;
    return tp;
}

class SecurityTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
    sim::World& w() { return sim::world(); }
    HANDLE open(DWORD access = kAdjustAndQuery) {
        HANDLE token = nullptr;
        EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &token));
        return token;
    }
};

// ---- the shutdown privilege --------------------------------------------------------------------

TEST_F(SecurityTest, HeldPrivilegeIsEnabledAndThenShutdownIsAllowed) {
    ASSERT_FALSE(w().win95Family);
    // Held but not enabled: the system refuses to power off.
    w().now = 100;
    EXPECT_FALSE(ExitWindowsEx(kPowerOff, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));

    HANDLE token = open();
    ASSERT_NE(token, nullptr);
    EXPECT_EQ(w().openTokens(), 1);
    LUID luid{};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(luid.LowPart, kShutdownLuid);
    EXPECT_EQ(luid.HighPart, 0);
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid = luid;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    SetLastError(kStaleError);
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));  // success says so: programs read it
    EXPECT_TRUE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_EQ(w().openTokens(), 0);

    // The token is the process's: the privilege stays enabled after the handle is closed.
    w().now = 2500;
    EXPECT_TRUE(ExitWindowsEx(kPowerOff, 0x40001));
    ASSERT_EQ(w().shutdownRequests.size(), 2u);
    const sim::ShutdownRequest& refused = w().shutdownRequests[0];
    EXPECT_EQ(refused.time, 100u);
    EXPECT_FALSE(refused.privilegeEnabled);
    EXPECT_FALSE(refused.answer);
    EXPECT_EQ(refused.error, DWORD(ERROR_PRIVILEGE_NOT_HELD));
    const sim::ShutdownRequest& done = w().shutdownRequests[1];
    EXPECT_EQ(done.time, 2500u);
    EXPECT_EQ(done.flags, kPowerOff);
    EXPECT_EQ(done.reason, 0x40001u);
    EXPECT_TRUE(done.privilegeEnabled);
    EXPECT_TRUE(done.answer);
    EXPECT_EQ(done.error, DWORD(ERROR_SUCCESS));
}

TEST_F(SecurityTest, PrivilegeNotHeldIsNotAllAssignedAndShutdownFails) {
    w().privileges.clear();
    HANDLE token = open();
    TOKEN_PRIVILEGES tp = one(kShutdownLuid, SE_PRIVILEGE_ENABLED);
    SetLastError(kStaleError);
    // The call itself succeeds; only the last error tells.
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_TRUE(w().privileges.empty());
    CloseHandle(token);

    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PRIVILEGE_NOT_HELD));
    // Logging off needs no privilege.
    EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));
    ASSERT_EQ(w().shutdownRequests.size(), 2u);
    EXPECT_FALSE(w().shutdownRequests[0].answer);
    EXPECT_TRUE(w().shutdownRequests[1].answer);
}

TEST_F(SecurityTest, RefusedOrMisusedTokenRequests) {
    w().denyProcessToken = true;
    HANDLE token = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), kAdjustAndQuery, &token));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(w().openTokens(), 0);
    w().denyProcessToken = false;

    HANDLE otherProcess = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x88));
    EXPECT_FALSE(OpenProcessToken(otherProcess, kAdjustAndQuery, &token));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), kAdjustAndQuery, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));

    // A token opened only for querying cannot adjust.
    HANDLE queryOnly = open(TOKEN_QUERY);
    TOKEN_PRIVILEGES tp = one(kShutdownLuid, SE_PRIVILEGE_ENABLED);
    EXPECT_FALSE(AdjustTokenPrivileges(queryOnly, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    // Nor can a token without query rights report the previous state.
    HANDLE adjustOnly = open(TOKEN_ADJUST_PRIVILEGES);
    Privileges<1> previous;
    DWORD length = 0;
    EXPECT_FALSE(AdjustTokenPrivileges(adjustOnly, FALSE, &tp, sizeof previous, previous.get(), &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_EQ(w().openTokens(), 2);

    EXPECT_TRUE(CloseHandle(queryOnly));
    EXPECT_FALSE(CloseHandle(queryOnly));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(AdjustTokenPrivileges(queryOnly, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));  // a pseudo handle: nothing to close
    EXPECT_TRUE(CloseHandle(adjustOnly));
    EXPECT_EQ(w().openTokens(), 0);
}

TEST_F(SecurityTest, LookupKnowsPrivilegesByNameInAnyCase) {
    LUID luid{};
    EXPECT_TRUE(LookupPrivilegeValueA(nullptr, "seshutdownprivilege", &luid));
    EXPECT_EQ(luid.LowPart, kShutdownLuid);
    EXPECT_TRUE(LookupPrivilegeValueA("", "SeDebugPrivilege", &luid));
    EXPECT_EQ(luid.LowPart, kDebugLuid);
    luid = LUID{};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeMakeCoffeePrivilege", &luid));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_PRIVILEGE));
    EXPECT_EQ(luid.LowPart, 0u);
    EXPECT_FALSE(LookupPrivilegeValueA("\\\\ELSEWHERE", SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, nullptr, &luid));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// ---- adjusting in detail -------------------------------------------------------------------------

TEST_F(SecurityTest, PreviousStateListsWhatChangedAndATooSmallBufferChangesNothing) {
    w().privileges = {{"SeShutdownPrivilege", false}, {"SeDebugPrivilege", true}};
    HANDLE token = open();
    Privileges<3> request;
    request.count = 3;
    request.entries[0] = {LUID{kShutdownLuid, 0}, SE_PRIVILEGE_ENABLED};
    request.entries[1] = {LUID{kDebugLuid, 0}, 0};
    request.entries[2] = {LUID{kNoSuchLuid, 0}, SE_PRIVILEGE_ENABLED};
    const DWORD needed = offsetof(TOKEN_PRIVILEGES, Privileges) + 2 * sizeof(LUID_AND_ATTRIBUTES);

    Privileges<1> tooSmall;
    DWORD length = 0;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, request.get(), sizeof tooSmall, tooSmall.get(), &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(length, needed);
    EXPECT_FALSE(w().privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_TRUE(w().privilegeEnabled("SeDebugPrivilege"));

    Privileges<3> previous;
    length = 0;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, request.get(), sizeof previous, previous.get(), &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ALL_ASSIGNED));  // the unknown one
    EXPECT_EQ(length, needed);
    ASSERT_EQ(previous.count, 2u);
    EXPECT_EQ(previous.entries[0].Luid.LowPart, kShutdownLuid);
    EXPECT_EQ(previous.entries[0].Attributes, 0u);
    EXPECT_EQ(previous.entries[1].Luid.LowPart, kDebugLuid);
    EXPECT_EQ(previous.entries[1].Attributes, DWORD(SE_PRIVILEGE_ENABLED));
    EXPECT_TRUE(w().privilegeEnabled("SeShutdownPrivilege"));
    EXPECT_FALSE(w().privilegeEnabled("SeDebugPrivilege"));

    // Asking for the state it already has changes nothing and reports nothing.
    request.count = 1;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, request.get(), sizeof previous, previous.get(), &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(previous.count, 0u);
    EXPECT_EQ(length, DWORD(offsetof(TOKEN_PRIVILEGES, Privileges)));
    CloseHandle(token);
}

TEST_F(SecurityTest, DisableAllAndRemove) {
    HANDLE token = open();
    TOKEN_PRIVILEGES tp = one(kShutdownLuid, SE_PRIVILEGE_ENABLED);
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    ASSERT_TRUE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    // DisableAllPrivileges ignores the new state.
    SetLastError(kStaleError);
    EXPECT_TRUE(AdjustTokenPrivileges(token, TRUE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    EXPECT_EQ(w().privileges.count(SE_SHUTDOWN_NAME), 1u);
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // A removed privilege is no longer held and cannot come back.
    tp.Privileges[0].Attributes = SE_PRIVILEGE_REMOVED;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(w().privileges.count(SE_SHUTDOWN_NAME), 0u);
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ALL_ASSIGNED));
    EXPECT_FALSE(w().privilegeEnabled(SE_SHUTDOWN_NAME));
    CloseHandle(token);
}

// ---- the two families and scripted answers ------------------------------------------------------

TEST_F(SecurityTest, Windows95FamilyShutsDownWithoutTokens) {
    w().win95Family = true;
    HANDLE token = nullptr;
    EXPECT_FALSE(OpenProcessToken(GetCurrentProcess(), kAdjustAndQuery, &token));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    LUID luid{};
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));

    w().now = 700;
    EXPECT_TRUE(ExitWindowsEx(EWX_SHUTDOWN, 0));
    ASSERT_EQ(w().shutdownRequests.size(), 1u);
    const sim::ShutdownRequest& r = w().shutdownRequests[0];
    EXPECT_EQ(r.time, 700u);
    EXPECT_EQ(r.flags, UINT(EWX_SHUTDOWN));
    EXPECT_FALSE(r.privilegeEnabled);  // there are no privileges to enable
    EXPECT_TRUE(r.answer);
}

TEST_F(SecurityTest, ScriptedAnswersComeFirstThenTheRule) {
    w().win95Family = true;
    w().exitWindowsAnswers = {{FALSE, ERROR_ACCESS_DENIED}};
    EXPECT_FALSE(ExitWindowsEx(EWX_SHUTDOWN, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(ExitWindowsEx(EWX_SHUTDOWN, 0));

    // On NT a scripted success stands even without the privilege.
    w().win95Family = false;
    w().exitWindowsAnswers = {{TRUE, ERROR_SUCCESS}};
    EXPECT_TRUE(ExitWindowsEx(kPowerOff, 0));
    EXPECT_FALSE(ExitWindowsEx(kPowerOff, 0));
    ASSERT_EQ(w().shutdownRequests.size(), 4u);
    EXPECT_EQ(w().shutdownRequests[0].error, DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(w().shutdownRequests[2].answer);
    EXPECT_FALSE(w().shutdownRequests[2].privilegeEnabled);
    EXPECT_EQ(w().shutdownRequests[3].error, DWORD(ERROR_PRIVILEGE_NOT_HELD));
    EXPECT_TRUE(w().exitWindowsAnswers.empty());
}

}  // namespace
