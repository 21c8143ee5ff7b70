// Starting programs with CreateProcessA, their process and thread handles,
// waiting for them and reading how they ended.
//
// The program to run is found as WinExec finds it (programs.cpp): a quoted
// first token, or the progressive search of an unquoted command line; an
// application name is taken as it is. A scripted program runs for its
// `runsForMs` on the virtual clock and then ends with its exit code; its main
// thread ends with it, so both handles become signalled together.
//
// WaitForSingleObject blocks the program's only thread: the clock moves on
// and the world's scheduled events happen, but no message of the program is
// dispatched and none of its timers fires until the wait returns.
#include <sim/world.h>

#include <cstdio>
#include <string>

using sim::world;

namespace {

// Kernel handles and ids advance by this much, aligned as the system's are.
constexpr uintptr_t kHandleStep = 4;
constexpr DWORD kIdStep = 4;
// ProgramSetup::execResult below this value is a start that fails with that error.
constexpr UINT kFirstSuccess = 32;

bool fail(DWORD error) {
    world().lastError = error;
    return false;
}

std::string text(LPCSTR s) { return s ? s : ""; }

std::string hex(DWORD v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

HANDLE newHandle(sim::World& wd, size_t process, bool thread) {
    uintptr_t h = wd.nextToken;
    wd.nextToken += kHandleStep;
    wd.processHandles[h] = sim::ProcessHandle{process, thread};
    return reinterpret_cast<HANDLE>(h);
}

const sim::ProcessHandle* handleOf(sim::World& wd, HANDLE h) {
    auto it = wd.processHandles.find(reinterpret_cast<uintptr_t>(h));
    return it == wd.processHandles.end() ? nullptr : &it->second;
}

// A process whose record a test removed counts as ended.
bool ended(sim::World& wd, size_t index) { return index >= wd.processes.size() || !wd.processes[index].running; }

// The process ends: the system removes its windows, and both its handles
// become signalled.
void finish(size_t index, DWORD exitCode) {
    sim::World& wd = world();
    if (ended(wd, index)) return;
    sim::ProcessRecord& p = wd.processes[index];
    p.running = false;
    p.ended = wd.now;
    p.exitCode = exitCode;
    if (p.window) wd.destroyWindow(p.window);
    wd.log("ProcessExit", "pid=" + std::to_string(p.processId) + " code=" + std::to_string(exitCode));
}

// The file an application name names: taken as it is, with no search and no
// extension added.
bool findApplication(sim::World& wd, const std::string& name, sim::ProgramSetup* scripted) {
    std::string key = wd.fileKey(name);
    auto program = wd.programs.find(key);
    if (program != wd.programs.end()) {
        *scripted = program->second;
        return true;
    }
    if (!wd.files.count(key)) return false;
    *scripted = sim::ProgramSetup{};
    return true;
}

}  // namespace

namespace sim {

int World::openProcessHandles() const {
    int n = 0;
    for (const auto& h : processHandles) n += h.second.thread ? 0 : 1;
    return n;
}

int World::openThreadHandles() const {
    int n = 0;
    for (const auto& h : processHandles) n += h.second.thread ? 1 : 0;
    return n;
}

ProcessRecord* World::processById(DWORD processId) {
    for (ProcessRecord& p : processes)
        if (p.processId == processId) return &p;
    return nullptr;
}

void World::endProgram(DWORD processId, DWORD exitCode) {
    for (size_t i = 0; i < processes.size(); ++i)
        if (processes[i].processId == processId) finish(i, exitCode);
}

}  // namespace sim

BOOL WINAPI CreateProcessA(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                           BOOL inheritHandles, DWORD creationFlags, LPVOID, LPCSTR currentDirectory,
                           LPSTARTUPINFOA startupInfo, LPPROCESS_INFORMATION processInformation) {
    sim::World& wd = world();
    wd.log("CreateProcessA", "app=" + (applicationName ? text(applicationName) : "(null)") +
                                 " cmd=" + (commandLine ? text(commandLine) : "(null)") +
                                 " inherit=" + std::to_string(inheritHandles) + " flags=" + hex(creationFlags));
    if (!startupInfo || !processInformation || (!applicationName && !commandLine))
        return fail(ERROR_INVALID_PARAMETER);
    std::string path;
    sim::ProgramSetup scripted;
    if (applicationName) {
        path = applicationName;
        if (!findApplication(wd, path, &scripted)) return fail(ERROR_FILE_NOT_FOUND);
    } else if (!wd.findProgram(commandLine, &path, &scripted)) {
        return fail(ERROR_FILE_NOT_FOUND);
    }
    // The scripted start failure is the error the loader reports (0: out of memory).
    if (scripted.execResult < kFirstSuccess)
        return fail(scripted.execResult ? static_cast<DWORD>(scripted.execResult) : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));

    sim::ProcessRecord record;
    record.time = wd.now;
    record.applicationName = text(applicationName);
    record.commandLine = text(commandLine);
    record.path = path;
    record.currentDirectory = text(currentDirectory);
    record.startupInfoSize = startupInfo->cb;
    record.startupFlags = startupInfo->dwFlags;
    record.showWindow = startupInfo->wShowWindow;
    record.inheritHandles = inheritHandles;
    record.creationFlags = creationFlags;
    record.processId = wd.nextProcessId;
    record.threadId = wd.nextProcessId + kIdStep;
    wd.nextProcessId += 2 * kIdStep;
    const size_t index = wd.processes.size();
    wd.processes.push_back(record);

    processInformation->hProcess = newHandle(wd, index, false);
    processInformation->hThread = newHandle(wd, index, true);
    processInformation->dwProcessId = record.processId;
    processInformation->dwThreadId = record.threadId;

    if (!scripted.windowClass.empty()) {
        const UINT show = (startupInfo->dwFlags & STARTF_USESHOWWINDOW) ? startupInfo->wShowWindow : SW_SHOWNORMAL;
        wd.after(scripted.windowDelay, path + " shows its window", [index, scripted, show] {
            sim::World& w = world();
            if (ended(w, index)) return;
            HWND child = nullptr;
            HWND main = w.showProgramWindow(scripted, show, &child);
            w.processes[index].window = main;
            w.processes[index].child = child;
        });
    }
    if (!scripted.runsUntilEnded) {
        const DWORD code = scripted.exitCode;
        wd.after(scripted.runsForMs, path + " ends", [index, code] { finish(index, code); });
    }
    wd.lastError = ERROR_SUCCESS;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    sim::World& wd = world();
    wd.log("WaitForSingleObject", sim::handleText(handle) + " ms=" +
                                      (milliseconds == INFINITE ? std::string("INFINITE") : std::to_string(milliseconds)));
    const sim::ProcessHandle* h = handleOf(wd, handle);
    if (!h) {
        wd.lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    const size_t index = h->process;
    if (ended(wd, index)) return WAIT_OBJECT_0;

    struct Block {
        sim::World& w;
        bool was;
        ~Block() { w.blockedInWait = was; }
    } block{wd, wd.blockedInWait};
    wd.blockedInWait = true;

    const bool infinite = milliseconds == INFINITE;
    const uint32_t until = wd.now + milliseconds;
    auto later = [](uint32_t a, uint32_t b) { return static_cast<int32_t>(a - b) > 0; };
    for (;;) {
        bool any = false;
        uint32_t next = 0;
        for (const sim::ScheduledEvent& e : wd.events)
            if (!any || later(next, e.at)) next = e.at, any = true;
        if (!infinite && (!any || later(next, until))) {
            if (wd.hasDeadline && later(until, wd.deadline)) {
                wd.advanceTo(wd.deadline);
                throw sim::ScenarioEnd("the scenario's time is up");
            }
            wd.advanceTo(until);
            return WAIT_TIMEOUT;
        }
        if (!any) throw sim::ScenarioEnd("the program waits for a process that never ends");
        if (wd.hasDeadline && later(next, wd.deadline)) {
            wd.advanceTo(wd.deadline);
            throw sim::ScenarioEnd("the scenario's time is up");
        }
        wd.advanceTo(next);
        if (ended(wd, index)) return WAIT_OBJECT_0;
    }
}

BOOL WINAPI GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
    sim::World& wd = world();
    wd.log("GetExitCodeProcess", sim::handleText(process));
    if (!exitCode) return fail(ERROR_INVALID_PARAMETER);
    // The program's own process is running while it asks.
    if (process == GetCurrentProcess()) {
        *exitCode = STILL_ACTIVE;
        return TRUE;
    }
    const sim::ProcessHandle* h = handleOf(wd, process);
    if (!h || h->thread) return fail(ERROR_INVALID_HANDLE);
    if (h->process >= wd.processes.size()) {
        *exitCode = 0;  // a test removed the record
        return TRUE;
    }
    const sim::ProcessRecord& p = wd.processes[h->process];
    *exitCode = p.running ? static_cast<DWORD>(STILL_ACTIVE) : p.exitCode;
    return TRUE;
}
