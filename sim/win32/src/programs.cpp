// Starting other programs: WinExec and the scripted programs it can start.
//
// The command line is read the way CreateProcess reads it without an
// application name: a quoted first token is the program; an unquoted one is
// tried up to each space in turn, so "C:\Program Files\TV\tv.exe" runs
// C:\Program.exe when that exists. A started program's main window appears
// after the program's start-up delay.
#include <sim/world.h>

#include <algorithm>
#include <cstdio>

using sim::world;

namespace {

// WinExec answers above 31 for a program that started.
constexpr UINT kFirstSuccess = 32;
constexpr const char* kExtension = ".exe";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The file a candidate names: ".exe" is added when its name has no
// extension; a name ending in a period has none and gets none.
std::string withExtension(std::string candidate) {
    size_t slash = candidate.find_last_of("\\/");
    std::string name = slash == std::string::npos ? candidate : candidate.substr(slash + 1);
    if (!name.empty() && name.back() == '.') {
        candidate.pop_back();
        return candidate;
    }
    if (name.find('.') == std::string::npos) candidate += kExtension;
    return candidate;
}

// The candidates for the program, in the order they are tried.
std::vector<std::string> candidates(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    if (start == line.size()) return out;
    if (line[start] == '"') {
        size_t close = line.find('"', start + 1);
        size_t end = close == std::string::npos ? line.size() : close;
        out.push_back(line.substr(start + 1, end - start - 1));
        return out;
    }
    for (size_t i = start + 1; i < line.size(); ++i)
        if (isBlank(line[i]) && !isBlank(line[i - 1])) out.push_back(line.substr(start, i - start));
    size_t end = line.size();
    while (end > start && isBlank(line[end - 1])) --end;
    std::string whole = line.substr(start, end - start);
    if (out.empty() || out.back() != whole) out.push_back(whole);
    return out;
}

// Shows the main window of a started program (and the child inside it).
void showProgramWindow(size_t startIndex, const sim::ProgramSpec& spec) {
    sim::World& wd = world();
    if (startIndex >= wd.programStarts.size()) return;  // a test cleared the record
    HWND main = wd.addForeignWindow(spec.windowClass, spec.windowTitle);
    sim::Window* w = wd.window(main);
    const UINT show = wd.programStarts[startIndex].show;
    w->style = WS_OVERLAPPEDWINDOW | (show == SW_HIDE ? 0 : WS_VISIBLE);
    w->visible = show != SW_HIDE;
    w->onMessage = spec.onMessage;
    wd.programStarts[startIndex].window = main;
    if (!spec.childClass.empty()) {
        HWND child = wd.addForeignWindow(spec.childClass, spec.childTitle);
        sim::Window* c = wd.window(child);
        wd.zorder.erase(std::remove(wd.zorder.begin(), wd.zorder.end(), child), wd.zorder.end());
        c->parent = main;
        c->style = WS_CHILD | WS_VISIBLE;
        w->children.insert(w->children.begin(), child);
        wd.programStarts[startIndex].child = child;
    }
    if (spec.takesForeground && w->visible) wd.foreground = main;
}

}  // namespace

namespace sim {

void World::installProgram(const std::string& path, ProgramSpec spec) {
    programs[fileKey(path)] = std::move(spec);
}

void World::closeProgramWindow(HWND h) {
    log("CloseProgramWindow", handleText(h));
    destroyWindow(h);
}

}  // namespace sim

UINT WINAPI WinExec(LPCSTR commandLine, UINT show) {
    sim::World& wd = world();
    const std::string line = commandLine ? commandLine : "";
    wd.log("WinExec", "cmd=" + line + " show=" + std::to_string(show));
    for (const std::string& candidate : candidates(line)) {
        std::string path = withExtension(candidate);
        std::string key = wd.fileKey(path);
        auto program = wd.programs.find(key);
        // A plain file runs as a program that shows no window.
        if (program == wd.programs.end() && !wd.files.count(key)) continue;
        sim::ProgramSpec spec = program == wd.programs.end() ? sim::ProgramSpec{} : program->second;
        if (spec.execResult < kFirstSuccess) return spec.execResult;
        size_t index = wd.programStarts.size();
        wd.programStarts.push_back({wd.now, line, path, show});
        if (!spec.windowClass.empty())
            wd.after(spec.windowDelay, path + " shows its window", [index, spec] { showProgramWindow(index, spec); });
        return spec.execResult;
    }
    wd.lastError = ERROR_FILE_NOT_FOUND;
    return ERROR_FILE_NOT_FOUND;
}
