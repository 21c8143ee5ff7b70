// Starting programs with CreateProcessA, waiting for them, their exit codes
// and their handles, on the simulated desktop.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUninstaller = "C:\\Program Files\\Capture\\uninst.exe";
constexpr const char* kHazard = "C:\\Program.exe";
constexpr uint32_t kRun = 5000;
constexpr DWORD kExitCode = 3;
constexpr UINT kTimerPeriod = 100;

std::vector<uint32_t> g_ticks;

void CALLBACK countTick(HWND, UINT, UINT_PTR, DWORD now) { g_ticks.push_back(now); }

sim::ProgramSetup uninstaller(uint32_t runsFor = kRun) {
    sim::ProgramSetup program;
    program.runsForMs = runsFor;
    program.exitCode = kExitCode;
    return program;
}

class ProcessesTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_ticks.clear();
        si = STARTUPINFOA{};
        si.cb = sizeof si;
        pi = PROCESS_INFORMATION{};
    }

    sim::World& w() { return sim::world(); }

    BOOL start(const char* line, LPCSTR app = nullptr, BOOL inherit = FALSE, DWORD flags = 0) {
        std::strncpy(buffer, line, sizeof buffer - 1);
        buffer[sizeof buffer - 1] = '\0';
        return CreateProcessA(app, buffer, nullptr, nullptr, inherit, flags, nullptr, nullptr, &si, &pi);
    }

    // The program's message loop for a while: what its timers do.
    void pump(uint32_t until) {
        w().after(until - w().now, "stop pumping", [] { PostQuitMessage(0); });
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) DispatchMessageA(&msg);
    }

    STARTUPINFOA si{};
    PROCESS_INFORMATION pi{};
    char buffer[MAX_PATH * 2] = {};
};

// ---- starting --------------------------------------------------------------------------------

TEST_F(ProcessesTest, StartIsRecorded) {
    w().installProgram(kUninstaller, uninstaller());
    w().advanceTo(250);
    const std::string line = std::string("\"") + kUninstaller + "\" /S /D=C:\\Capture";
    ASSERT_TRUE(start(line.c_str(), nullptr, TRUE, CREATE_NEW_PROCESS_GROUP));

    ASSERT_EQ(w().processes.size(), 1u);
    const sim::ProcessRecord& p = w().processes[0];
    EXPECT_EQ(p.time, 250u);
    EXPECT_EQ(p.commandLine, line);
    EXPECT_EQ(p.path, kUninstaller);
    EXPECT_TRUE(p.applicationName.empty());
    EXPECT_EQ(p.startupInfoSize, DWORD(sizeof(STARTUPINFOA)));
    EXPECT_EQ(p.inheritHandles, TRUE);
    EXPECT_EQ(p.creationFlags, DWORD(CREATE_NEW_PROCESS_GROUP));
    EXPECT_TRUE(p.running);
    EXPECT_EQ(p.processId, pi.dwProcessId);
    EXPECT_EQ(p.threadId, pi.dwThreadId);
    EXPECT_EQ(w().processById(pi.dwProcessId), &w().processes[0]);
    EXPECT_EQ(w().openProcessHandles(), 1);
    EXPECT_EQ(w().openThreadHandles(), 1);
}

TEST_F(ProcessesTest, StartupInfoSizeIsTheOneTheCallerPassed) {
    constexpr DWORD kThirtyTwoBitSize = 68;  // STARTUPINFOA of a 32-bit program
    w().installProgram(kUninstaller, uninstaller());
    si.cb = kThirtyTwoBitSize;
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_EQ(w().processes.at(0).startupInfoSize, kThirtyTwoBitSize);
}

TEST_F(ProcessesTest, UnquotedPathStartsTheFirstCandidateAndANamedApplicationExactlyThat) {
    w().installProgram(kUninstaller, uninstaller());
    w().installProgram(kHazard, uninstaller());
    const std::string line = std::string(kUninstaller) + " /S";
    ASSERT_TRUE(start(line.c_str()));
    EXPECT_EQ(w().processes.at(0).path, kHazard);

    ASSERT_TRUE(start(line.c_str(), kUninstaller));
    EXPECT_EQ(w().processes.at(1).path, kUninstaller);
    EXPECT_EQ(w().processes.at(1).applicationName, kUninstaller);
    EXPECT_EQ(w().processes.at(1).commandLine, line);
}

TEST_F(ProcessesTest, UnstartableCommandLinesFailAndStartNothing) {
    w().installProgram("C:\\Tools\\broken.exe", [] {
        sim::ProgramSetup s;
        s.execResult = ERROR_BAD_FORMAT;
        return s;
    }());
    // An application name gets no search and no extension.
    EXPECT_FALSE(start("broken", "C:\\Tools\\broken"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(start("C:\\Tools\\broken.exe"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_FORMAT));
    EXPECT_TRUE(w().processes.empty());
    EXPECT_EQ(w().openProcessHandles(), 0);
    EXPECT_EQ(w().openThreadHandles(), 0);
    EXPECT_EQ(pi.hProcess, nullptr);
    EXPECT_TRUE(w().events.empty());
}

// ---- waiting ---------------------------------------------------------------------------------

TEST_F(ProcessesTest, InfiniteWaitAdvancesTheClockWhileTheProgramsTimersWait) {
    w().installProgram(kUninstaller, uninstaller());
    SetTimer(nullptr, 1, kTimerPeriod, countTick);
    bool blockedMeanwhile = false;
    w().after(kRun / 2, "something happens in the world meanwhile", [&] { blockedMeanwhile = w().blockedInWait; });
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(w().now, kRun);
    EXPECT_TRUE(g_ticks.empty());  // the thread was blocked
    EXPECT_TRUE(blockedMeanwhile);
    EXPECT_FALSE(w().blockedInWait);
    EXPECT_FALSE(w().processes[0].running);
    EXPECT_EQ(w().processes[0].ended, kRun);

    // Once the loop runs again the overdue timer fires once, then keeps its period.
    pump(kRun + 2 * kTimerPeriod + 1);
    EXPECT_EQ(g_ticks, (std::vector<uint32_t>{kRun, kRun + kTimerPeriod, kRun + 2 * kTimerPeriod}));
}

TEST_F(ProcessesTest, FiniteTimeoutExpiresFirst) {
    constexpr DWORD kTimeout = 1000;
    w().installProgram(kUninstaller, uninstaller());
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, kTimeout), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(w().now, kTimeout);
    WaitForSingleObject(pi.hProcess, 0);
    EXPECT_EQ(w().now, kTimeout);
    EXPECT_EQ(WaitForSingleObject(pi.hThread, kRun), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(w().now, kRun);  // returned as the process ended, not at the timeout
}

TEST_F(ProcessesTest, ProgramThatEndsAtOnceIsStillRunningUntilTheClockMoves) {
    w().installProgram(kUninstaller, uninstaller(0));
    ASSERT_TRUE(start(kUninstaller));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(w().now, 0u);
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, kExitCode);
}

TEST_F(ProcessesTest, ProcessThatNeverEndsEndsTheScenarioOrEndsWhenTheTestSaysSo) {
    sim::ProgramSetup forever = uninstaller();
    forever.runsUntilEnded = true;
    w().installProgram(kUninstaller, forever);
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_THROW(WaitForSingleObject(pi.hProcess, INFINITE), sim::ScenarioEnd);
    EXPECT_EQ(w().now, 0u);

    constexpr DWORD kUserCode = 1602;  // the user cancelled the uninstaller
    const DWORD pid = pi.dwProcessId;
    w().after(3000, "the user closes the uninstaller", [pid] { sim::world().endProgram(pid, kUserCode); });
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(w().now, 3000u);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
    EXPECT_EQ(code, kUserCode);

    ASSERT_TRUE(start(kUninstaller));
    w().deadline = 8000;
    w().hasDeadline = true;
    w().after(500, "an unrelated event", [] {});
    EXPECT_THROW(WaitForSingleObject(pi.hProcess, 20000), sim::ScenarioEnd);
    EXPECT_EQ(w().now, 8000u);
}

// ---- handles ---------------------------------------------------------------------------------

TEST_F(ProcessesTest, HandlesAreCountedAndClosedProcessThenThread) {
    w().installProgram(kUninstaller, uninstaller());
    ASSERT_TRUE(start(kUninstaller));
    const HANDLE process = pi.hProcess, thread = pi.hThread;
    EXPECT_TRUE(CloseHandle(process));
    EXPECT_EQ(w().openProcessHandles(), 0);
    EXPECT_EQ(w().openThreadHandles(), 1);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(w().openThreadHandles(), 0);
    std::vector<sim::Call> closes = w().callsTo("CloseHandle");
    ASSERT_EQ(closes.size(), 2u);
    EXPECT_EQ(closes[0].args, sim::handleText(process));
    EXPECT_EQ(closes[1].args, sim::handleText(thread));

    EXPECT_FALSE(CloseHandle(process));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(process, INFINITE), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(process, &code));
    // The process runs on without the program's handles.
    w().advanceTo(kRun);
    EXPECT_FALSE(w().processes[0].running);
    EXPECT_EQ(w().processes[0].exitCode, kExitCode);
}

TEST_F(ProcessesTest, ThreadHandleHasNoExitCodeOfTheProcessAndHandlesDoNotCollide) {
    w().installProgram(kUninstaller, uninstaller());
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_NE(pi.hProcess, token);
    EXPECT_NE(pi.hThread, token);
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(token, 0), WAIT_FAILED);  // a token is nothing to wait for
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_EQ(w().openProcessHandles(), 1);
}

// ---- windows of started programs -----------------------------------------------------------------

TEST_F(ProcessesTest, ProgramWindowShowsAsAskedAndGoesWithTheProcess) {
    sim::ProgramSetup program = uninstaller(1000);
    program.windowClass = "UninstWindow";
    program.windowTitle = "Uninstall";
    program.windowDelay = 300;
    w().installProgram(kUninstaller, program);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    ASSERT_TRUE(start(kUninstaller));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 500), DWORD(WAIT_TIMEOUT));
    HWND window = FindWindowA("UninstWindow", "Uninstall");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(w().processes[0].window, window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_FALSE(IsWindow(window));

    // A process that ends before its window would show never shows one.
    program.runsForMs = 100;
    w().installProgram(kUninstaller, program);
    ASSERT_TRUE(start(kUninstaller));
    w().advanceTo(w().now + 1000);
    EXPECT_EQ(FindWindowA("UninstWindow", nullptr), nullptr);
    EXPECT_EQ(w().processes[1].window, nullptr);
}

}  // namespace
