// Profile (.ini) files, the Windows directory and file deletion.
//
// Files live in World::files as text. The profile readers parse them the way
// Windows does: names are case-insensitive and trimmed, values are trimmed
// and lose one pair of surrounding quotes, ';' starts a comment line, the
// first matching section and key win. A section's name runs to the last ']'
// of its line (a line without one is no section); a line without '=' is a
// key without a value, which reads as missing and hides later keys of its
// name.
#include <sim/world.h>

#include <algorithm>
#include <string>
#include <vector>

namespace sim {

namespace {

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string trim(const std::string& s) {
    size_t begin = 0, end = s.size();
    while (begin < end && blank(s[begin])) ++begin;
    while (end > begin && blank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

std::string World::fileKey(const std::string& path) const {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (p.empty()) return p;
    // A bare file name is looked for in the Windows directory.
    if (p.find('\\') == std::string::npos && p.find(':') == std::string::npos) {
        std::string dir = windowsDirectory;
        if (!dir.empty() && dir.back() != '\\') dir += '\\';
        p = dir + p;
    }
    // Doubled separators name the same file (a leading "\\\\" is a share).
    std::string out;
    for (size_t i = 0; i < p.size(); ++i) {
        if (p[i] == '\\' && i > 1 && p[i - 1] == '\\') continue;
        out += p[i];
    }
    return lower(out);
}

}  // namespace sim

namespace {

struct Entry {
    std::string key;
    std::string value;
    bool hasValue;
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
};

std::vector<Section> parseProfile(const std::string& content) {
    std::vector<Section> sections;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string line = sim::trim(content.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';') continue;
        size_t close = line.rfind(']');
        if (line[0] == '[' && close != std::string::npos && close > 0) {
            sections.push_back({sim::trim(line.substr(1, close - 1)), {}});
            continue;
        }
        if (sections.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) sections.back().entries.push_back({line, "", false});
        else sections.back().entries.push_back({sim::trim(line.substr(0, eq)), sim::trim(line.substr(eq + 1)), true});
    }
    return sections;
}

const std::string* fileText(LPCSTR file) {
    if (!file || !*file) return nullptr;
    sim::World& w = sim::world();
    auto it = w.files.find(w.fileKey(file));
    return it == w.files.end() ? nullptr : &it->second;
}

const Section* findSection(const std::vector<Section>& sections, const std::string& name) {
    std::string wanted = sim::lower(sim::trim(name));
    for (const Section& s : sections)
        if (sim::lower(s.name) == wanted) return &s;
    return nullptr;
}

// The NT family keeps win.ini's [intl] in the user's registry
// (IniFileMapping), whichever folder the file is named in: a value there
// answers instead of the file; without one the file is read.
bool mappedToRegistry(const std::string& section, const std::string& key, LPCSTR file, std::string* out) {
    sim::World& w = sim::world();
    std::string name = w.fileKey(file);
    name.erase(0, name.rfind('\\') + 1);  // the file's own name
    if (w.win95Family || name != "win.ini" || sim::lower(section) != "intl") return false;
    const char kIntl[] = "HKCU\\Control Panel\\International";
    const sim::RegValue* v = w.registry.value(kIntl, key);
    if (!v || v->type != REG_SZ) return false;
    *out = w.registry.string(kIntl, key);
    return true;
}

// The value of section/key, unquoted; false when the file, section or key
// is missing. Empty names never match.
bool lookup(LPCSTR section, LPCSTR key, LPCSTR file, std::string* out) {
    if (!section || !key || !file) return false;
    std::string sectionName = sim::trim(section), keyName = sim::lower(sim::trim(key));
    if (sectionName.empty() || keyName.empty()) return false;
    if (mappedToRegistry(sectionName, sim::trim(key), file, out)) return true;
    const std::string* content = fileText(file);
    if (!content) return false;
    std::vector<Section> sections = parseProfile(*content);
    const Section* s = findSection(sections, sectionName);
    if (!s) return false;
    for (const Entry& e : s->entries) {
        if (sim::lower(e.key) != keyName) continue;
        if (!e.hasValue) return false;
        std::string v = e.value;
        // One pair of matching quotes around the value is removed.
        if (v.size() > 1 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
        *out = v;
        return true;
    }
    return false;
}

// Copies one string: at most size-1 characters and a terminator.
DWORD copyOne(const std::string& text, LPSTR out, DWORD size) {
    if (!out || size == 0) return 0;
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies a list of names, each terminated, plus a final terminator. When it
// does not fit (an exactly fitting list counts as not fitting, as on
// Windows) the list is cut at size-2 and ends with two terminators.
DWORD copyList(const std::vector<std::string>& names, LPSTR out, DWORD size) {
    if (!out || size == 0) return 0;
    std::string list;
    for (const std::string& n : names) list += n + '\0';
    if (list.size() + 1 < size) {
        std::memcpy(out, list.data(), list.size());
        out[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size == 1) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, list.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

// Windows converts the text as RtlCharToInteger does with base 0: blanks,
// an optional sign, then "0x", "0o" or "0b" choose the base; conversion
// stops at the first character that is not a digit, and the result wraps
// modulo 2^32 (so "-1" reads as 0xFFFFFFFF).
UINT profileNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && static_cast<unsigned char>(text[i]) <= ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        char p = text[i + 1];
        if (p == 'x' || p == 'X') base = 16;
        else if (p == 'o' || p == 'O') base = 8;
        else if (p == 'b' || p == 'B') base = 2;
        if (base != 10) i += 2;
    }
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else break;
        if (digit >= base) break;
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

std::string fileArg(LPCSTR file) { return file ? file : ""; }

DWORD profileString(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size, LPCSTR file) {
    if (!out || size == 0) return 0;
    if (!section || !key) {
        // Without a section: the section names; without a key: the keys of
        // the section.
        std::vector<std::string> names;
        const std::string* content = fileText(file);
        if (content) {
            std::vector<Section> sections = parseProfile(*content);
            if (!section) {
                for (const Section& s : sections) names.push_back(s.name);
            } else if (const Section* s = findSection(sections, section)) {
                for (const Entry& e : s->entries)
                    if (e.hasValue) names.push_back(e.key);
            }
        }
        if (names.empty()) {
            out[0] = '\0';
            return 0;
        }
        return copyList(names, out, size);
    }
    std::string value;
    if (!lookup(section, key, file, &value)) {
        // The default loses its trailing blanks.
        value = def ? def : "";
        while (!value.empty() && sim::blank(value.back())) value.pop_back();
    }
    return copyOne(value, out, size);
}

UINT profileInt(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
    std::string value;
    // An empty value reads like a missing one: Windows finds no characters
    // to convert and answers the default.
    if (!lookup(section, key, file, &value) || value.empty()) return static_cast<UINT>(def);
    // The text is read through a buffer of 30 characters: only its first 29
    // are converted.
    return profileNumber(value.substr(0, 29));
}

const char kWinIni[] = "win.ini";

}  // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size,
                                      LPCSTR file) {
    sim::world().log("GetPrivateProfileStringA", "file=" + fileArg(file) + " section=" + fileArg(section) +
                                                     " key=" + fileArg(key));
    return profileString(section, key, def, out, size, file);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT def, LPCSTR file) {
    sim::world().log("GetPrivateProfileIntA", "file=" + fileArg(file) + " section=" + fileArg(section) +
                                                  " key=" + fileArg(key));
    return profileInt(section, key, def, file);
}

UINT WINAPI GetProfileIntA(LPCSTR section, LPCSTR key, INT def) {
    sim::world().log("GetProfileIntA", "section=" + fileArg(section) + " key=" + fileArg(key));
    return profileInt(section, key, def, kWinIni);
}

DWORD WINAPI GetProfileStringA(LPCSTR section, LPCSTR key, LPCSTR def, LPSTR out, DWORD size) {
    sim::world().log("GetProfileStringA", "section=" + fileArg(section) + " key=" + fileArg(key));
    return profileString(section, key, def, out, size, kWinIni);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    const std::string& dir = sim::world().windowsDirectory;
    UINT length = static_cast<UINT>(dir.size());
    // Too small: nothing is copied and the size needed, terminator included,
    // comes back.
    if (!buffer || size <= length) return length + 1;
    std::memcpy(buffer, dir.c_str(), length + 1);
    return length;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
    sim::World& w = sim::world();
    w.log("DeleteFileA", "path=" + fileArg(path));
    if (!path || !*path) {
        w.lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    if (!w.files.erase(w.fileKey(path))) {
        w.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    return TRUE;
}
