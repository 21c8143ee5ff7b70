#include "script.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace bridge {

namespace {

std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    size_t first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(space);
    return text.substr(first, last - first + 1);
}

// One script line: "<ms> <command>". False with the reason for a bad one.
bool parseScriptLine(const std::string& raw, ScriptLine* out, bool* skip, std::string* error) {
    *skip = false;
    if (raw.size() > MAX_SCRIPT_LINE) {
        *error = "longer than " + std::to_string(MAX_SCRIPT_LINE) + " characters";
        return false;
    }
    std::string line = trimmed(raw);
    if (line.empty() || line[0] == '#') {
        *skip = true;
        return true;
    }
    size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0) {
        *error = "does not start with a time in ms";
        return false;
    }
    std::string timeText = line.substr(0, digits);
    errno = 0;
    unsigned long long at = std::strtoull(timeText.c_str(), nullptr, 10);
    if (errno == ERANGE || at > 0xFFFFFFFFull) {
        *error = "time " + timeText + " is out of range";
        return false;
    }
    std::string rest = digits == std::string::npos ? std::string() : trimmed(line.substr(digits));
    if (digits != std::string::npos && line[digits] != ' ' && line[digits] != '\t') {
        *error = "time \"" + line.substr(0, line.find_first_of(" \t")) + "\" is not a number of ms";
        return false;
    }
    if (rest.empty()) {
        *error = "time " + timeText + " has no command";
        return false;
    }
    Command command;
    if (!parseCommand(rest, &command, error)) return false;
    if (command.kind == Command::Kind::None) {
        *error = "time " + timeText + " has no command";
        return false;
    }
    out->at = static_cast<uint32_t>(at);
    out->command = command;
    out->text = rest;
    return true;
}

}  // namespace

bool parseScript(const std::string& text, std::vector<ScriptLine>* lines, std::vector<std::string>* errors) {
    std::vector<ScriptLine> good;
    bool clean = true;
    int number = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++number;
        ScriptLine line{};
        line.line = number;
        bool skip = false;
        std::string error;
        if (!parseScriptLine(text.substr(start, end - start), &line, &skip, &error)) {
            clean = false;
            if (errors) errors->push_back("line " + std::to_string(number) + ": " + error);
        } else if (!skip) {
            if (good.size() >= MAX_SCRIPT_LINES) {
                clean = false;
                if (errors)
                    errors->push_back("line " + std::to_string(number) + ": more than " +
                                      std::to_string(MAX_SCRIPT_LINES) + " commands");
                break;
            }
            good.push_back(line);
        }
        start = end + 1;
    }
    std::stable_sort(good.begin(), good.end(), [](const ScriptLine& a, const ScriptLine& b) { return a.at < b.at; });
    *lines = std::move(good);
    return clean;
}

size_t Script::runDue(uint32_t elapsed, const std::function<void(const ScriptLine&)>& run) {
    size_t ran = 0;
    while (next_ < lines_.size() && lines_[next_].at <= elapsed) {
        run(lines_[next_++]);
        ++ran;
    }
    return ran;
}

std::vector<LineCollector::Line> LineCollector::feed(const char* data, size_t size) {
    std::vector<Line> lines;
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
            lines.push_back(Line{overflowing_ ? std::string() : partial_, overflowing_});
            partial_.clear();
            overflowing_ = false;
        } else if (!overflowing_) {
            if (partial_.size() >= MAX_SCRIPT_LINE) {
                // Keep nothing of an over-long line; report it when it ends.
                partial_.clear();
                overflowing_ = true;
            } else {
                partial_ += c;
            }
        }
    }
    return lines;
}

}  // namespace bridge
