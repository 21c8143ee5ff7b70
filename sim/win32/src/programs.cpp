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

// Shows the main window of a program WinExec started (and the child inside it).
void showWinExecWindow(size_t startIndex, const sim::ProgramSetup& scripted) {
    sim::World& wd = world();
    if (startIndex >= wd.programStarts.size()) return;  // a test cleared the record
    HWND child = nullptr;
    HWND main = wd.showProgramWindow(scripted, wd.programStarts[startIndex].show, &child);
    wd.programStarts[startIndex].window = main;
    wd.programStarts[startIndex].child = child;
}

}  // namespace

namespace sim {

bool World::findProgram(const std::string& commandLine, std::string* path, ProgramSetup* scripted) {
    for (const std::string& candidate : candidates(commandLine)) {
        std::string file = withExtension(candidate);
        std::string key = fileKey(file);
        auto program = programs.find(key);
        // A plain file runs as a program that shows no window.
        if (program == programs.end() && !files.count(key)) continue;
        if (path) *path = file;
        if (scripted) *scripted = program == programs.end() ? ProgramSetup{} : program->second;
        return true;
    }
    return false;
}

HWND World::showProgramWindow(const ProgramSetup& scripted, UINT show, HWND* child) {
    if (child) *child = nullptr;
    HWND main = addForeignWindow(scripted.windowClass, scripted.windowTitle);
    Window* w = window(main);
    w->style = WS_OVERLAPPEDWINDOW | (show == SW_HIDE ? 0 : WS_VISIBLE);
    w->visible = show != SW_HIDE;
    w->onMessage = scripted.onMessage;
    if (!scripted.childClass.empty()) {
        HWND inner = addForeignWindow(scripted.childClass, scripted.childTitle);
        Window* c = window(inner);
        zorder.erase(std::remove(zorder.begin(), zorder.end(), inner), zorder.end());
        c->parent = main;
        c->style = WS_CHILD | WS_VISIBLE;
        w->children.insert(w->children.begin(), inner);
        if (child) *child = inner;
    }
    if (scripted.takesForeground && w->visible) foreground = main;
    return main;
}

void World::installProgram(const std::string& path, ProgramSetup setup) {
    programs[fileKey(path)] = std::move(setup);
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
    std::string path;
    sim::ProgramSetup scripted;
    if (!wd.findProgram(line, &path, &scripted)) {
        wd.lastError = ERROR_FILE_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    if (scripted.execResult < kFirstSuccess) return scripted.execResult;
    size_t index = wd.programStarts.size();
    wd.programStarts.push_back({wd.now, line, path, show});
    if (!scripted.windowClass.empty())
        wd.after(scripted.windowDelay, path + " shows its window", [index, scripted] { showWinExecWindow(index, scripted); });
    return scripted.execResult;
}
