// Resources of the simulated programs: a reader for preprocessed resource
// scripts, and the user32 functions that serve strings, icons, cursors and
// accelerator tables from them.
//
// The script is read after the C preprocessor has run on it, so symbolic
// identifiers and style names are already numbers; what is left are the
// resource compiler's own keywords (BEGIN, ASCII, ALT, NOT, ...), which are
// matched without regard to case.
#include <sim/world.h>
#include <winresrc.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// ---- handle layout ------------------------------------------------------------------
// Each loaded module owns a 64 KiB range starting at its instance handle, as
// real images are aligned. Icons and accelerator tables are handed out inside
// that range, so a handle alone tells which module and which resource it is.
constexpr uintptr_t kModuleBase = 0x400000;
constexpr uintptr_t kModuleStride = 0x10000;
constexpr uintptr_t kIconSlot = 0x0001;    // + index in Module::icons
constexpr uintptr_t kAccelSlot = 0x8001;   // + index in Module::accelerators
// Shared system icons and cursors: base | IDI_* / IDC_* number.
constexpr uintptr_t kSystemIconBase = 0x300000;
constexpr uintptr_t kSystemCursorBase = 0x310000;

constexpr WORD kSystemIcons[] = {32512, 32513, 32514, 32515, 32516, 32517, 32518};
constexpr WORD kSystemCursors[] = {32512, 32513, 32514, 32515, 32516, 32640, 32641, 32642, 32643,
                                   32644, 32645, 32646, 32648, 32649, 32650, 32651};

// Largest value of a resource identifier, string identifier or version part.
constexpr uint32_t kMaxWord = 0xFFFF;
// Bit 29 of a keystroke message's lParam: Alt was down.
constexpr LPARAM kAltDownBit = LPARAM(1) << 29;
// Defaults the resource compiler gives a dialog without STYLE, and every control.
constexpr DWORD kDefaultDialogStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;
constexpr DWORD kControlBaseStyle = WS_CHILD | WS_VISIBLE;

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool allDigits(const char* begin, const char* end) {
    return begin != end && std::all_of(begin, end, [](char c) { return c >= '0' && c <= '9'; });
}

bool sameWord(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// ---- tokens -------------------------------------------------------------------------
enum class Tok { End, Number, String, Word, Punct };

struct Token {
    Tok kind = Tok::End;
    std::string text;    // word as written, string contents, punctuation character
    uint32_t value = 0;  // numbers
    int line = 0;
    size_t start = 0;    // offset in the script, to re-read a bare file name
};

class Lexer {
public:
    Lexer(const std::string& text, const std::string& where) : s_(text), where_(where) {}

    [[noreturn]] void fail(int line, const std::string& what) const {
        throw std::runtime_error(where_ + ":" + std::to_string(line) + ": " + what);
    }

    Token next() {
        skipSpace();
        Token t;
        t.line = line_;
        t.start = pos_;
        if (pos_ >= s_.size()) return t;
        char c = s_[pos_];
        if (c == '"' || (c == 'L' && peek(1) == '"')) {
            if (c == 'L') ++pos_;
            t.kind = Tok::String;
            t.text = stringLiteral();
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t.kind = Tok::Number;
            t.value = number(t.text);
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            t.kind = Tok::Word;
            while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
                t.text += s_[pos_++];
        } else if (std::strchr(",{}()|&+-~*/%", c)) {
            t.kind = Tok::Punct;
            t.text = std::string(1, c);
            ++pos_;
        } else {
            fail(line_, std::string("unexpected character '") + c + "'");
        }
        return t;
    }

    // The rest of the line from `from`, trimmed: a file name written without quotes.
    std::string restOfLine(size_t from) {
        pos_ = from;
        size_t end = s_.find('\n', pos_);
        if (end == std::string::npos) end = s_.size();
        std::string raw = s_.substr(pos_, end - pos_);
        pos_ = end;
        while (!raw.empty() && std::isspace(static_cast<unsigned char>(raw.back()))) raw.pop_back();
        return raw;
    }

private:
    char peek(size_t ahead) const { return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0'; }

    void newline() {
        ++line_;
        lineStart_ = true;
    }

    void skipSpace() {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '\n') {
                ++pos_;
                newline();
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                ++pos_;
            } else if (c == '/' && peek(1) == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
            } else if (c == '/' && peek(1) == '*') {
                int opened = line_;
                pos_ += 2;
                while (pos_ < s_.size() && !(s_[pos_] == '*' && peek(1) == '/')) {
                    if (s_[pos_] == '\n') ++line_;
                    ++pos_;
                }
                if (pos_ >= s_.size()) fail(opened, "unterminated comment");
                pos_ += 2;
            } else if (c == '#' && lineStart_) {
                directive();
            } else {
                lineStart_ = false;
                return;
            }
        }
    }

    // A line the preprocessor left: a line marker ("# 12 \"file\"", "#line 12")
    // renumbers the following line; anything else (#pragma code_page) is ignored.
    void directive() {
        size_t end = s_.find('\n', pos_);
        if (end == std::string::npos) end = s_.size();
        std::istringstream in(s_.substr(pos_ + 1, end - pos_ - 1));
        std::string first;
        in >> first;
        if (first == "line") in >> first;
        if (allDigits(first.data(), first.data() + first.size())) {
            line_ = std::atoi(first.c_str()) - 1;
            std::string file;
            if (in >> file && file.size() >= 2 && file.front() == '"') where_ = file.substr(1, file.size() - 2);
        }
        pos_ = end;
    }

    uint32_t number(std::string& spelling) {
        size_t begin = pos_;
        uint64_t v = 0;
        bool hex = s_[pos_] == '0' && (peek(1) == 'x' || peek(1) == 'X');
        if (hex) {
            pos_ += 2;
            if (!std::isxdigit(static_cast<unsigned char>(peek(0)))) fail(line_, "hexadecimal number without digits");
        }
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            int d;
            if (std::isdigit(static_cast<unsigned char>(c))) d = c - '0';
            else if (hex && std::isxdigit(static_cast<unsigned char>(c))) d = std::tolower(c) - 'a' + 10;
            else break;
            v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
            if (v > 0xFFFFFFFFull) fail(line_, "number does not fit in 32 bits");
            ++pos_;
        }
        while (pos_ < s_.size() && std::strchr("LlUu", s_[pos_])) ++pos_;
        if (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_'))
            fail(line_, "malformed number '" + s_.substr(begin, pos_ + 1 - begin) + "'");
        spelling = s_.substr(begin, pos_ - begin);
        return static_cast<uint32_t>(v);
    }

    // "..." with "" for a quote inside, and the C escapes.
    std::string stringLiteral() {
        int opened = line_;
        ++pos_;
        std::string out;
        for (;;) {
            if (pos_ >= s_.size()) fail(opened, "unterminated string");
            char c = s_[pos_++];
            if (c == '\n') fail(opened, "line ends inside a string");
            if (c == '"') {
                if (peek(0) == '"') {
                    out += '"';
                    ++pos_;
                    continue;
                }
                return out;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= s_.size()) fail(opened, "unterminated string");
            char e = s_[pos_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'a': out += '\a'; break;
            case '\\': out += '\\'; break;
            case '"': out += '"'; break;
            case 'x': case 'X': {
                int v = 0, digits = 0;
                while (digits < 2 && std::isxdigit(static_cast<unsigned char>(peek(0)))) {
                    char h = s_[pos_++];
                    v = v * 16 + (std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : std::tolower(h) - 'a' + 10);
                    ++digits;
                }
                if (digits == 0) fail(line_, "\\x without hexadecimal digits");
                out += static_cast<char>(v);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    int v = e - '0';
                    for (int digits = 1; digits < 3 && peek(0) >= '0' && peek(0) <= '7'; ++digits)
                        v = v * 8 + (s_[pos_++] - '0');
                    out += static_cast<char>(v & 0xFF);
                } else {
                    // Not an escape the compiler knows: both characters stay.
                    out += '\\';
                    out += e;
                }
            }
        }
    }

    const std::string& s_;
    std::string where_;
    size_t pos_ = 0;
    int line_ = 1;
    bool lineStart_ = true;
};

// ---- parser ---------------------------------------------------------------------------
// A style expression remembers the bits NOT removed, so they also come off the
// defaults the statement implies.
struct Style {
    DWORD on = 0;
    DWORD off = 0;
    DWORD over(DWORD defaults) const { return (defaults & ~off) | on; }
};

struct ControlKind {
    const char* keyword;
    const char* windowClass;
    DWORD defaultStyle;
    bool hasText;
};

// The control statements with a predefined class, and the style each implies.
constexpr ControlKind kControlKinds[] = {
    {"LTEXT", "STATIC", SS_LEFT | WS_GROUP, true},
    {"CTEXT", "STATIC", SS_CENTER | WS_GROUP, true},
    {"RTEXT", "STATIC", SS_RIGHT | WS_GROUP, true},
    {"ICON", "STATIC", SS_ICON, true},
    {"PUSHBUTTON", "BUTTON", BS_PUSHBUTTON | WS_TABSTOP, true},
    {"DEFPUSHBUTTON", "BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, true},
    {"CHECKBOX", "BUTTON", BS_CHECKBOX | WS_TABSTOP, true},
    {"AUTOCHECKBOX", "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, true},
    {"RADIOBUTTON", "BUTTON", BS_RADIOBUTTON | WS_TABSTOP, true},
    {"AUTORADIOBUTTON", "BUTTON", BS_AUTORADIOBUTTON | WS_TABSTOP, true},
    {"STATE3", "BUTTON", BS_3STATE | WS_TABSTOP, true},
    {"AUTO3STATE", "BUTTON", BS_AUTO3STATE | WS_TABSTOP, true},
    {"GROUPBOX", "BUTTON", BS_GROUPBOX, true},
    {"EDITTEXT", "EDIT", ES_LEFT | WS_BORDER | WS_TABSTOP, false},
    {"COMBOBOX", "COMBOBOX", CBS_SIMPLE | WS_TABSTOP, false},
    {"LISTBOX", "LISTBOX", LBS_NOTIFY | WS_BORDER, false},
    {"SCROLLBAR", "SCROLLBAR", SBS_HORZ, false},
};

// Window classes a CONTROL statement may name by keyword or by atom.
struct PredefinedClass {
    const char* name;
    uint32_t atom;
};
constexpr PredefinedClass kPredefinedClasses[] = {
    {"BUTTON", 0x80}, {"EDIT", 0x81}, {"STATIC", 0x82}, {"LISTBOX", 0x83}, {"SCROLLBAR", 0x84}, {"COMBOBOX", 0x85},
};

constexpr const char* kMemoryOptions[] = {"PRELOAD", "LOADONCALL", "FIXED", "MOVEABLE", "DISCARDABLE",
                                          "PURE", "IMPURE", "SHARED", "NONSHARED"};

class Parser {
public:
    Parser(const std::string& text, const std::string& name) : lex_(text, name) {
        mod_.name = name;
        advance();
    }

    sim::Module run() {
        while (cur_.kind != Tok::End) {
            if (isWord("LANGUAGE")) {
                advance();
                language_ = languageArgs();
            } else if (isWord("STRINGTABLE")) {
                stringTable();
            } else {
                resource();
            }
        }
        return std::move(mod_);
    }

private:
    // ---- token helpers ----
    void advance() { cur_ = lex_.next(); }
    bool isWord(const char* w) const { return cur_.kind == Tok::Word && sameWord(cur_.text, w); }
    bool isPunct(char c) const { return cur_.kind == Tok::Punct && cur_.text[0] == c; }
    bool isBegin() const { return isWord("BEGIN") || isPunct('{'); }
    bool isEnd() const { return isWord("END") || isPunct('}'); }
    [[noreturn]] void fail(const std::string& what) const { lex_.fail(cur_.line, what); }

    std::string describe() const {
        switch (cur_.kind) {
        case Tok::End: return "end of file";
        case Tok::String: return "string \"" + cur_.text + "\"";
        case Tok::Number: return "number " + cur_.text;
        default: return "'" + cur_.text + "'";
        }
    }

    void expectComma() {
        if (!isPunct(',')) fail("expected ',' before " + describe());
        advance();
    }
    bool optionalComma() {
        if (!isPunct(',')) return false;
        advance();
        return true;
    }
    void expectBegin() {
        if (!isBegin()) fail("expected BEGIN before " + describe());
        advance();
    }
    std::string expectString() {
        if (cur_.kind != Tok::String) fail("expected a string before " + describe());
        std::string s = cur_.text;
        advance();
        // Adjacent literals join, as in C.
        while (cur_.kind == Tok::String) {
            s += cur_.text;
            advance();
        }
        return s;
    }

    // ---- expressions ----
    uint32_t primary() {
        if (cur_.kind == Tok::Number) {
            uint32_t v = cur_.value;
            advance();
            return v;
        }
        if (isPunct('(')) {
            advance();
            uint32_t v = orExpr();
            if (!isPunct(')')) fail("expected ')' before " + describe());
            advance();
            return v;
        }
        if (isPunct('-')) {
            advance();
            return 0u - primary();
        }
        if (isPunct('~')) {
            advance();
            return ~primary();
        }
        if (isWord("NOT")) fail("NOT is only allowed in a style");
        if (cur_.kind == Tok::Word) fail("undefined symbol '" + cur_.text + "'");
        fail("expected a number before " + describe());
    }
    uint32_t mulExpr() {
        uint32_t v = primary();
        while (isPunct('*') || isPunct('/') || isPunct('%')) {
            char op = cur_.text[0];
            advance();
            uint32_t r = primary();
            if (op != '*' && r == 0) fail("division by zero");
            v = op == '*' ? v * r : op == '/' ? v / r : v % r;
        }
        return v;
    }
    uint32_t addExpr() {
        uint32_t v = mulExpr();
        while (isPunct('+') || isPunct('-')) {
            bool plus = isPunct('+');
            advance();
            uint32_t r = mulExpr();
            v = plus ? v + r : v - r;
        }
        return v;
    }
    uint32_t andExpr() {
        uint32_t v = addExpr();
        while (isPunct('&')) {
            advance();
            v &= addExpr();
        }
        return v;
    }
    uint32_t orExpr() {
        uint32_t v = andExpr();
        while (isPunct('|')) {
            advance();
            v |= andExpr();
        }
        return v;
    }
    uint32_t number() { return orExpr(); }
    int signedNumber() { return static_cast<int32_t>(orExpr()); }
    WORD word(const char* what) {
        int line = cur_.line;
        uint32_t v = orExpr();
        if (v > kMaxWord) lex_.fail(line, std::string(what) + " out of range: " + std::to_string(static_cast<int32_t>(v)));
        return static_cast<WORD>(v);
    }

    Style style() {
        Style s;
        for (;;) {
            bool negate = isWord("NOT");
            if (negate) advance();
            DWORD v = andExpr();
            if (negate) {
                s.on &= ~v;
                s.off |= v;
            } else {
                s.on |= v;
                s.off &= ~v;
            }
            if (!isPunct('|')) return s;
            advance();
        }
    }

    // ---- pieces shared by several statements ----
    int languageArgs() {
        int primaryLang = number();
        expectComma();
        number();  // sublanguage: not kept
        return primaryLang;
    }

    void memoryOptions() {
        for (bool more = true; more;) {
            more = false;
            for (const char* opt : kMemoryOptions)
                if (isWord(opt)) {
                    advance();
                    more = true;
                    break;
                }
        }
    }

    // LANGUAGE, CHARACTERISTICS and VERSION, allowed before the body of most
    // resources; a LANGUAGE here applies to this resource only.
    bool commonOption(int& lang) {
        if (isWord("LANGUAGE")) {
            advance();
            lang = languageArgs();
            return true;
        }
        if (isWord("CHARACTERISTICS") || isWord("VERSION")) {
            advance();
            number();
            return true;
        }
        return false;
    }

    void recordLanguage(const std::string& id, int lang) {
        if (lang >= 0) mod_.language[id] = lang;
    }

    // A resource identifier: a number, or a name (kept upper-case, as the
    // resource compiler stores names and the loaders compare them).
    std::string resourceId(int* numeric) {
        *numeric = 0;
        if (cur_.kind == Tok::Word || cur_.kind == Tok::String) {
            std::string name = upper(cur_.text);
            advance();
            return name;
        }
        WORD id = word("resource identifier");
        *numeric = id;
        return std::to_string(id);
    }

    std::string fileName() {
        if (cur_.kind == Tok::String) return expectString();
        if (cur_.kind == Tok::End || isBegin()) fail("expected a file name before " + describe());
        std::string raw = lex_.restOfLine(cur_.start);
        advance();
        return raw;
    }

    // ---- statements ----
    void stringTable() {
        advance();
        memoryOptions();
        int lang = language_;
        while (commonOption(lang)) {
        }
        expectBegin();
        while (!isEnd()) {
            if (cur_.kind == Tok::End) fail("STRINGTABLE without END");
            int line = cur_.line;
            WORD id = word("string identifier");
            optionalComma();
            std::string text = expectString();
            if (!mod_.strings.emplace(id, text).second)
                lex_.fail(line, "string " + std::to_string(id) + " defined twice");
            recordLanguage(std::to_string(id), lang);
        }
        advance();
    }

    void resource() {
        if (isBegin() || isEnd() || isPunct(',')) fail("unexpected " + describe());
        int line = cur_.line;
        int numeric = 0;
        std::string id = resourceId(&numeric);
        if (cur_.kind != Tok::Word && cur_.kind != Tok::Number) fail("expected a resource type after '" + id + "'");
        if (isBegin() || isEnd()) fail("expected a resource type after '" + id + "'");
        std::string type = cur_.kind == Tok::Word ? upper(cur_.text) : std::to_string(cur_.value);
        advance();
        if (type == "ACCELERATORS") accelerators(id, line);
        else if (type == "ICON") icon(id, line);
        else if (type == "DIALOG" || type == "DIALOGEX") dialog(id, numeric, type == "DIALOGEX", line);
        else if (type == "VERSIONINFO") versionInfo(id, line);
        else skipResource(type, line);
    }

    void accelerators(const std::string& id, int line) {
        memoryOptions();
        int lang = language_;
        while (commonOption(lang)) {
        }
        expectBegin();
        std::vector<sim::AccelEntry> table;
        while (!isEnd()) {
            if (cur_.kind == Tok::End) fail("ACCELERATORS without END");
            table.push_back(accelerator());
        }
        advance();
        if (!mod_.accelerators.emplace(id, std::move(table)).second)
            lex_.fail(line, "accelerator table " + id + " defined twice");
        recordLanguage(id, lang);
    }

    sim::AccelEntry accelerator() {
        int line = cur_.line;
        std::string event;
        bool byString = cur_.kind == Tok::String;
        uint32_t code = 0;
        if (byString) {
            event = cur_.text;
            advance();
        } else {
            code = word("accelerator key");
        }
        expectComma();
        WORD cmd = word("command identifier");
        bool ascii = false, virtkey = false;
        BYTE flags = 0;
        for (;;) {
            bool comma = optionalComma();
            if (cur_.kind != Tok::Word) {
                if (comma) fail("expected an accelerator option before " + describe());
                break;
            }
            if (isWord("ASCII")) ascii = true;
            else if (isWord("VIRTKEY")) virtkey = true;
            else if (isWord("NOINVERT")) flags |= FNOINVERT;
            else if (isWord("ALT")) flags |= FALT;
            else if (isWord("SHIFT")) flags |= FSHIFT;
            else if (isWord("CONTROL")) flags |= FCONTROL;
            else if (comma) fail("unknown accelerator option '" + cur_.text + "'");
            else break;
            advance();
        }
        if (ascii && virtkey) lex_.fail(line, "accelerator is both ASCII and VIRTKEY");
        if (virtkey) flags |= FVIRTKEY;
        if (byString) {
            bool control = event.size() == 2 && event[0] == '^';
            if (event.size() != 1 && !control) lex_.fail(line, "accelerator key \"" + event + "\" is not one character");
            if (control) {
                // "^C": the control character itself, typed with Ctrl.
                int c = std::toupper(static_cast<unsigned char>(event[1]));
                if (virtkey) lex_.fail(line, "\"^" + event.substr(1) + "\" cannot be a VIRTKEY accelerator");
                if (c < '@' || c > '_') lex_.fail(line, "no control character for \"" + event + "\"");
                code = static_cast<uint32_t>(c - '@');
            } else {
                unsigned char c = static_cast<unsigned char>(event[0]);
                // Virtual-key codes of letters are the capitals.
                code = virtkey ? static_cast<uint32_t>(std::toupper(c)) : c;
            }
        } else if (!ascii && !virtkey) {
            lex_.fail(line, "a numeric accelerator key needs ASCII or VIRTKEY");
        }
        return sim::AccelEntry{flags, static_cast<WORD>(code), cmd};
    }

    void icon(const std::string& id, int line) {
        memoryOptions();
        std::string file = fileName();
        if (!mod_.icons.emplace(id, file).second) lex_.fail(line, "icon " + id + " defined twice");
        recordLanguage(id, language_);
    }

    void dialog(const std::string& id, int numeric, bool extended, int line) {
        sim::DialogTemplate d;
        d.id = numeric;
        d.extended = extended;
        memoryOptions();
        d.x = signedNumber();
        expectComma();
        d.y = signedNumber();
        expectComma();
        d.cx = signedNumber();
        expectComma();
        d.cy = signedNumber();
        if (extended && optionalComma()) number();  // help identifier
        int lang = language_;
        bool hasStyle = false, hasCaption = false, hasFont = false;
        DWORD given = 0;
        for (;;) {
            if (commonOption(lang)) continue;
            if (isWord("STYLE")) {
                advance();
                given = style().over(0);
                hasStyle = true;
            } else if (isWord("EXSTYLE")) {
                advance();
                style();
            } else if (isWord("CAPTION")) {
                advance();
                d.caption = expectString();
                hasCaption = true;
            } else if (isWord("FONT")) {
                advance();
                d.fontSize = signedNumber();
                expectComma();
                d.font = expectString();
                // DIALOGEX adds weight, italic and character set.
                for (int extra = 0; extra < 3 && isPunct(','); ++extra) {
                    if (!extended) fail("FONT weight, italic and charset need DIALOGEX");
                    advance();
                    number();
                }
                hasFont = true;
            } else if (isWord("MENU") || isWord("CLASS")) {
                advance();
                if (cur_.kind == Tok::Word || cur_.kind == Tok::String) advance();
                else number();
            } else {
                break;
            }
        }
        d.style = (hasStyle ? given : kDefaultDialogStyle) | (hasCaption ? DWORD(WS_CAPTION) : 0) |
                  (hasFont ? DWORD(DS_SETFONT) : 0);
        expectBegin();
        while (!isEnd()) {
            if (cur_.kind == Tok::End) fail("dialog " + id + " without END");
            d.controls.push_back(control(extended));
        }
        advance();
        if (!mod_.dialogs.emplace(id, std::move(d)).second) lex_.fail(line, "dialog " + id + " defined twice");
        recordLanguage(id, lang);
    }

    // Control text: a string, or (ICON, CONTROL) an icon given by number or name.
    std::string controlText() {
        if (cur_.kind == Tok::String) return expectString();
        if (cur_.kind == Tok::Word) {
            std::string name = upper(cur_.text);
            advance();
            return name;
        }
        // "#50" is how the loaders take an ordinal written as text.
        return "#" + std::to_string(word("icon identifier"));
    }

    std::string controlClass() {
        if (cur_.kind == Tok::Number) {
            uint32_t atom = cur_.value;
            for (const PredefinedClass& pc : kPredefinedClasses)
                if (pc.atom == atom) {
                    advance();
                    return pc.name;
                }
            fail("unknown control class " + cur_.text);
        }
        if (cur_.kind != Tok::Word && cur_.kind != Tok::String) fail("expected a control class before " + describe());
        std::string cls = cur_.text;
        advance();
        // Predefined classes are named in capitals whichever way they are written.
        for (const PredefinedClass& pc : kPredefinedClasses)
            if (sameWord(cls, pc.name)) return pc.name;
        return cls;
    }

    sim::DialogControl control(bool extended) {
        if (cur_.kind != Tok::Word) fail("expected a control statement before " + describe());
        sim::DialogControl c;
        c.kind = upper(cur_.text);
        advance();
        if (c.kind == "CONTROL") {
            c.text = controlText();
            expectComma();
            c.id = signedNumber();
            expectComma();
            c.windowClass = controlClass();
            expectComma();
            c.style = style().over(kControlBaseStyle);
            expectComma();
            position(c, false);
            trailingNumbers(2);  // extended style, help identifier
        } else {
            const ControlKind* kind = nullptr;
            for (const ControlKind& k : kControlKinds)
                if (c.kind == k.keyword) kind = &k;
            if (!kind) fail("unknown control statement '" + c.kind + "'");
            c.windowClass = kind->windowClass;
            if (kind->hasText) {
                c.text = controlText();
                expectComma();
            }
            c.id = signedNumber();
            expectComma();
            // An icon sizes itself: width and height may be left out.
            position(c, c.kind == "ICON");
            Style given;
            if (optionalComma()) given = style();
            c.style = given.over(kControlBaseStyle | kind->defaultStyle);
            trailingNumbers(2);
        }
        // DIALOGEX controls may carry creation data.
        if (extended && isBegin()) skipBlock();
        return c;
    }

    void position(sim::DialogControl& c, bool sizeOptional) {
        c.x = signedNumber();
        expectComma();
        c.y = signedNumber();
        if (sizeOptional && !isPunct(',')) return;
        expectComma();
        c.cx = signedNumber();
        expectComma();
        c.cy = signedNumber();
    }

    void trailingNumbers(int most) {
        for (int i = 0; i < most && optionalComma(); ++i) number();
    }

    void versionInfo(const std::string& id, int line) {
        if (sawVersion_) lex_.fail(line, "second VERSIONINFO");
        sawVersion_ = true;
        memoryOptions();
        for (;;) {
            if (isWord("FILEVERSION")) {
                advance();
                mod_.version.fileVersion = versionNumbers();
            } else if (isWord("PRODUCTVERSION")) {
                advance();
                mod_.version.productVersion = versionNumbers();
            } else if (isWord("FILEFLAGSMASK") || isWord("FILEFLAGS") || isWord("FILEOS") || isWord("FILETYPE") ||
                       isWord("FILESUBTYPE")) {
                advance();
                number();
            } else {
                break;
            }
        }
        expectBegin();
        while (!isEnd()) versionBlock({});
        advance();
        recordLanguage(id, language_);
    }

    // Up to four parts; the missing ones are 0.
    std::string versionNumbers() {
        std::string out = std::to_string(word("version part"));
        int parts = 1;
        for (; parts < 4 && optionalComma(); ++parts) out += "," + std::to_string(word("version part"));
        for (; parts < 4; ++parts) out += ",0";
        return out;
    }

    void versionBlock(std::vector<std::string> path) {
        if (!isWord("BLOCK")) fail("expected BLOCK before " + describe());
        advance();
        path.push_back(expectString());
        // The first language block of StringFileInfo is the one read.
        bool strings = path.size() == 2 && sameWord(path[0], "StringFileInfo") &&
                       (mod_.version.block.empty() || mod_.version.block == path[1]);
        if (strings) mod_.version.block = path[1];
        expectBegin();
        while (!isEnd()) {
            if (cur_.kind == Tok::End) fail("BLOCK \"" + path.back() + "\" without END");
            if (isWord("BLOCK")) {
                versionBlock(path);
                continue;
            }
            if (!isWord("VALUE")) fail("expected VALUE or BLOCK before " + describe());
            advance();
            std::string key = expectString();
            std::string text;
            for (bool more = optionalComma() || cur_.kind == Tok::String; more; more = optionalComma()) {
                if (cur_.kind == Tok::String) text += expectString();
                else number();  // Translation and other numeric values
            }
            // A trailing "\0" some scripts write is not part of the value.
            while (!text.empty() && text.back() == '\0') text.pop_back();
            if (strings) mod_.version.strings[key] = text;
        }
        advance();
    }

    // Resources this simulation does not use (MENU, BITMAP, RCDATA, manifests, ...):
    // either a file name, or options and then a BEGIN ... END body.
    void skipResource(const std::string& type, int line) {
        for (;;) {
            if (cur_.kind == Tok::End) lex_.fail(line, type + " resource without a body or file");
            if (cur_.kind == Tok::String) {
                expectString();
                return;
            }
            if (isBegin()) {
                skipBlock();
                return;
            }
            if (isEnd()) fail("unexpected " + describe());
            advance();
        }
    }

    void skipBlock() {
        int opened = cur_.line;
        int depth = 0;
        do {
            if (cur_.kind == Tok::End) lex_.fail(opened, "BEGIN without END");
            if (isBegin()) ++depth;
            else if (isEnd()) --depth;
            advance();
        } while (depth > 0);
    }

    Lexer lex_;
    Token cur_;
    sim::Module mod_;
    int language_ = -1;  // primary language of the last top-level LANGUAGE; -1 before any
    bool sawVersion_ = false;
};

// ---- handle helpers ---------------------------------------------------------------------
uintptr_t moduleBaseOf(const void* h) { return reinterpret_cast<uintptr_t>(h) & ~(kModuleStride - 1); }

sim::Module* moduleAt(uintptr_t base) {
    auto it = sim::world().modules.find(base);
    return it == sim::world().modules.end() ? nullptr : &it->second;
}

// The id text a loader name stands for: MAKEINTRESOURCE(n) and "#n" are numbers.
std::string nameKey(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(LOWORD(name));
    if (name[0] == '#' && allDigits(name + 1, name + std::strlen(name)))
        return std::to_string(std::atoi(name + 1));
    return upper(name);
}

std::string nameText(LPCSTR name) {
    if (IS_INTRESOURCE(name)) return std::to_string(LOWORD(name));
    return std::string("\"") + name + "\"";
}

template <typename Map>
void* slotHandle(uintptr_t base, uintptr_t slot, const Map& map, const std::string& key) {
    auto it = map.find(key);
    if (it == map.end()) return nullptr;
    return reinterpret_cast<void*>(base + slot + static_cast<uintptr_t>(std::distance(map.begin(), it)));
}

// Finds `name` among a module's resources of one kind; sets the loader's error
// when the module, the kind or the name is missing.
template <typename Map>
void* findResource(HINSTANCE instance, LPCSTR name, Map sim::Module::*kind, uintptr_t slot) {
    sim::World& wd = sim::world();
    sim::Module* m = wd.module(instance);
    if (!m || (m->*kind).empty()) {
        wd.lastError = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    void* h = slotHandle(reinterpret_cast<uintptr_t>(instance), slot, m->*kind, nameKey(name));
    if (!h) wd.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return h;
}

void* systemHandle(LPCSTR name, uintptr_t base, const WORD* ids, size_t count) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    WORD id = LOWORD(name);
    if (std::find(ids, ids + count, id) == ids + count) return nullptr;
    return reinterpret_cast<void*>(base | id);
}

const std::vector<sim::AccelEntry>* acceleratorTable(HACCEL accel) {
    sim::Module* m = moduleAt(moduleBaseOf(accel));
    if (!m) return nullptr;
    uintptr_t slot = reinterpret_cast<uintptr_t>(accel) - moduleBaseOf(accel);
    if (slot < kAccelSlot || slot - kAccelSlot >= m->accelerators.size()) return nullptr;
    return &std::next(m->accelerators.begin(), static_cast<long>(slot - kAccelSlot))->second;
}

bool isIconHandle(HICON icon) {
    uintptr_t base = moduleBaseOf(icon);
    uintptr_t low = reinterpret_cast<uintptr_t>(icon) - base;
    if (base == kSystemIconBase)
        return std::find(std::begin(kSystemIcons), std::end(kSystemIcons), low) != std::end(kSystemIcons);
    if (base == kSystemCursorBase)
        return std::find(std::begin(kSystemCursors), std::end(kSystemCursors), low) != std::end(kSystemCursors);
    sim::Module* m = moduleAt(base);
    return m && low >= kIconSlot && low - kIconSlot < m->icons.size();
}

}  // namespace

namespace sim {

Module parseResourceScript(const std::string& text, const std::string& name) { return Parser(text, name).run(); }

HINSTANCE World::loadModule(const std::string& name, const std::string& preprocessedRcPath) {
    std::ifstream in(preprocessedRcPath, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read resource script " + preprocessedRcPath);
    std::ostringstream text;
    text << in.rdbuf();
    Module m = parseResourceScript(text.str(), name);
    uintptr_t base = kModuleBase;
    while (modules.count(base)) base += kModuleStride;
    modules.emplace(base, std::move(m));
    return reinterpret_cast<HINSTANCE>(base);
}

Module* World::module(HINSTANCE instance) {
    auto it = modules.find(reinterpret_cast<uintptr_t>(instance));
    return it == modules.end() ? nullptr : &it->second;
}

}  // namespace sim

using sim::world;

// Copies at most size-1 characters and terminates; returns the count copied.
// A size of 0 (which asks LoadStringW for a read-only pointer to the
// string) answers -1 here and writes nothing.
int WINAPI LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    sim::World& wd = world();
    wd.log("LoadStringA", "hinst=" + sim::handleText(instance) + " id=" + std::to_string(id) +
                              " size=" + std::to_string(size));
    if (size == 0) return -1;
    if (!buffer || size < 0) return 0;
    buffer[0] = '\0';
    sim::Module* m = wd.module(instance);
    if (!m || m->strings.empty()) {
        wd.lastError = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return 0;
    }
    auto it = m->strings.find(id);
    if (it == m->strings.end()) {
        wd.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return 0;
    }
    size_t n = std::min(it->second.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, it->second.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR name) {
    sim::World& wd = world();
    wd.log("LoadIconA", "hinst=" + sim::handleText(instance) + " name=" + nameText(name));
    if (!instance) {
        void* h = systemHandle(name, kSystemIconBase, kSystemIcons, std::size(kSystemIcons));
        if (!h) wd.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
        return static_cast<HICON>(h);
    }
    return static_cast<HICON>(findResource(instance, name, &sim::Module::icons, kIconSlot));
}

// The modules keep no cursor resources: only the shared system cursors load.
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    sim::World& wd = world();
    wd.log("LoadCursorA", "hinst=" + sim::handleText(instance) + " name=" + nameText(name));
    if (instance) {
        wd.lastError = ERROR_RESOURCE_TYPE_NOT_FOUND;
        return nullptr;
    }
    void* h = systemHandle(name, kSystemCursorBase, kSystemCursors, std::size(kSystemCursors));
    if (!h) wd.lastError = ERROR_RESOURCE_NAME_NOT_FOUND;
    return static_cast<HCURSOR>(h);
}

// Loaded icons are shared, so nothing is freed; the call only has to name one.
BOOL WINAPI DestroyIcon(HICON icon) {
    sim::World& wd = world();
    wd.log("DestroyIcon", sim::handleText(icon));
    if (!isIconHandle(icon)) {
        wd.lastError = ERROR_INVALID_CURSOR_HANDLE;
        return FALSE;
    }
    return TRUE;
}

HACCEL WINAPI LoadAcceleratorsA(HINSTANCE instance, LPCSTR name) {
    world().log("LoadAcceleratorsA", "hinst=" + sim::handleText(instance) + " name=" + nameText(name));
    return static_cast<HACCEL>(findResource(instance, name, &sim::Module::accelerators, kAccelSlot));
}

// Character entries match the character messages (WM_SYSCHAR when the entry
// has ALT, WM_CHAR when not); VIRTKEY entries match key-down messages with the
// Alt state from lParam. Ctrl and Shift count as released.
int WINAPI TranslateAcceleratorA(HWND hwnd, HACCEL accel, LPMSG msg) {
    sim::World& wd = world();
    char buf[96];
    std::snprintf(buf, sizeof buf, " msg=0x%x wParam=0x%lx", msg ? msg->message : 0u,
                  static_cast<unsigned long>(msg ? msg->wParam : 0));
    wd.log("TranslateAcceleratorA", "hwnd=" + sim::handleText(hwnd) + " haccel=" + sim::handleText(accel) + buf);
    const std::vector<sim::AccelEntry>* table = acceleratorTable(accel);
    if (!table) {
        wd.lastError = ERROR_INVALID_ACCEL_HANDLE;
        return 0;
    }
    if (!hwnd || !msg) {
        wd.lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    bool virtkey, alt;
    switch (msg->message) {
    case WM_CHAR: virtkey = false; alt = false; break;
    case WM_SYSCHAR: virtkey = false; alt = true; break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: virtkey = true; alt = (msg->lParam & kAltDownBit) != 0; break;
    default: return 0;
    }
    for (const sim::AccelEntry& e : *table) {
        if (((e.flags & FVIRTKEY) != 0) != virtkey || static_cast<WPARAM>(e.key) != msg->wParam) continue;
        if (((e.flags & FALT) != 0) != alt) continue;
        if (virtkey && (e.flags & (FCONTROL | FSHIFT))) continue;
        SendMessageA(hwnd, WM_COMMAND, MAKEWPARAM(e.cmd, 1), 0);
        return 1;
    }
    return 0;
}
