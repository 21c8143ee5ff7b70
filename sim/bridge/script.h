// Timed command scripts for the capture-box model: one line per command,
// "<ms> <command>", the time counted from when the script starts (for the
// simulator DLL, the first load of the device in the process). Blank lines
// and lines starting with '#' are skipped.
#pragma once

#include "bridge.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bridge {

constexpr size_t MAX_SCRIPT_LINE = 256;     // longer lines are refused
constexpr size_t MAX_SCRIPT_LINES = 10000;  // a script holds at most this many commands

struct ScriptLine {
    uint32_t at;       // ms after the start
    Command command;
    std::string text;  // the command part, as written
    int line;          // 1-based line number in the source
};

// Reads a whole script. Good lines are kept (in time order, stable for equal
// times); every bad line adds "line N: why" to `errors`. True when none was bad.
bool parseScript(const std::string& text, std::vector<ScriptLine>* lines, std::vector<std::string>* errors);

class Script {
public:
    Script() = default;
    explicit Script(std::vector<ScriptLine> lines) : lines_(std::move(lines)) {}
    // Hands every line due at or before `elapsed` to `run`, in order; each
    // line runs once. Returns how many ran.
    size_t runDue(uint32_t elapsed, const std::function<void(const ScriptLine&)>& run);
    bool finished() const { return next_ >= lines_.size(); }
    size_t size() const { return lines_.size(); }

private:
    std::vector<ScriptLine> lines_;
    size_t next_ = 0;
};

// Collects complete lines from a growing text (the live commands file):
// feed it what was appended, take back the lines ended by '\n'. A partial
// last line waits for the rest; a line longer than MAX_SCRIPT_LINE is
// dropped whole and reported as an over-long line.
class LineCollector {
public:
    struct Line {
        std::string text;
        bool tooLong;
    };
    std::vector<Line> feed(const char* data, size_t size);

private:
    std::string partial_;
    bool overflowing_ = false;
};

}  // namespace bridge
