// kernel32's lstr* helpers and user32's wsprintfA.
#include <sim/world.h>

#include <string>

namespace {

// wsprintfA never writes more than this, terminator included.
constexpr size_t kWsprintfLimit = 1024;

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
// Word sort: hyphens and apostrophes only break ties.
bool ignorable(char c) { return c == '-' || c == '\''; }

// Primary sort weight of a character under the user's locale, for ASCII:
// punctuation and symbols first (in code order), then digits, then letters
// without regard to case; other bytes last in code order.
int weight(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return 0x300 + u;
    if (isLetter(c)) return 0x200 + fold(c);
    if (isDigit(c)) return 0x100 + u;
    return u;
}

int sign(int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); }

// lstrcmp compares like CompareString with the user's locale, not byte by
// byte: "apple" < "Banana", "co-op" sorts with "coop", and when two strings
// differ only in case the lower-case one comes first.
int localeCompare(LPCSTR a, LPCSTR b, bool ignoreCase) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    // Primary: characters by weight, ignoring hyphens and apostrophes.
    const char* p = a;
    const char* q = b;
    for (;;) {
        while (*p && ignorable(*p)) ++p;
        while (*q && ignorable(*q)) ++q;
        if (!*p || !*q) break;
        int d = weight(*p) - weight(*q);
        if (d) return sign(d);
        ++p, ++q;
    }
    if (*p || *q) return *p ? 1 : -1;
    // Then case: at the first letter differing only in case, lower comes first.
    if (!ignoreCase) {
        for (p = a, q = b; *p && *q;) {
            while (*p && ignorable(*p)) ++p;
            while (*q && ignorable(*q)) ++q;
            if (!*p || !*q) break;
            if (*p != *q) return (*p >= 'a' && *p <= 'z') ? -1 : 1;
            ++p, ++q;
        }
    }
    // Last, the ignored punctuation decides: fewer marks first ("coop" before
    // "co-op"), otherwise byte by byte.
    auto marks = [](const char* s) {
        int n = 0;
        for (; *s; ++s) n += ignorable(*s) ? 1 : 0;
        return n;
    };
    if (int d = marks(a) - marks(b)) return sign(d);
    for (p = a, q = b; *p || *q; ++p, ++q) {
        char x = ignoreCase ? fold(*p) : *p;
        char y = ignoreCase ? fold(*q) : *q;
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
    }
    return 0;
}

// Output of wvsprintfA, bounded by the documented 1024-character buffer.
class Output {
public:
    explicit Output(LPSTR out) : out_(out) {}
    void put(char c) {
        if (length_ + 1 < kWsprintfLimit) out_[length_++] = c;
    }
    void put(const std::string& s) {
        for (char c : s) put(c);
    }
    int finish() {
        out_[length_] = '\0';
        return static_cast<int>(length_);
    }

private:
    LPSTR out_;
    size_t length_ = 0;
};

struct FieldFormat {
    bool left = false;   // '-'
    bool zero = false;   // '0'
    bool prefix = false; // '#'
    int width = 0;
    int precision = -1;
    bool wide = false;   // 'l' or 'w' on c and s; integers are 32-bit either way
    bool shortInt = false;
};

void pad(Output& o, const std::string& body, const FieldFormat& s) {
    int fill = s.width - static_cast<int>(body.size());
    if (!s.left)
        for (int i = 0; i < fill; ++i) o.put(' ');
    o.put(body);
    if (s.left)
        for (int i = 0; i < fill; ++i) o.put(' ');
}

void number(Output& o, uint32_t magnitude, bool negative, unsigned base, bool upper, const FieldFormat& s) {
    const char* digitsOf = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string digits;
    do {
        digits.insert(digits.begin(), digitsOf[magnitude % base]);
        magnitude /= base;
    } while (magnitude);
    if (s.precision >= 0 && static_cast<int>(digits.size()) < s.precision)
        digits.insert(0, static_cast<size_t>(s.precision) - digits.size(), '0');
    std::string lead = negative ? "-" : "";
    if (s.prefix && base == 16) lead += upper ? "0X" : "0x";
    if (s.zero && !s.left && s.precision < 0) {
        int fill = s.width - static_cast<int>(lead.size() + digits.size());
        if (fill > 0) digits.insert(0, static_cast<size_t>(fill), '0');
    }
    pad(o, lead + digits, s);
}

}  // namespace

int WINAPI lstrlenA(LPCSTR s) { return s ? static_cast<int>(std::strlen(s)) : 0; }

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b) { return localeCompare(a, b, false); }

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) { return localeCompare(a, b, true); }

LPSTR WINAPI lstrcpyA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst, src, std::strlen(src) + 1);
    return dst;
}

LPSTR WINAPI lstrcpynA(LPSTR dst, LPCSTR src, int size) {
    if (!dst || size <= 0) return dst;
    int n = 0;
    if (src)
        while (n < size - 1 && src[n]) {
            dst[n] = src[n];
            ++n;
        }
    dst[n] = '\0';
    return dst;
}

LPSTR WINAPI lstrcatA(LPSTR dst, LPCSTR src) {
    if (!dst || !src) return nullptr;
    std::memmove(dst + std::strlen(dst), src, std::strlen(src) + 1);
    return dst;
}

int WINAPI wvsprintfA(LPSTR out, LPCSTR format, va_list args) {
    if (!out) return 0;
    Output o(out);
    if (!format) return o.finish();
    va_list ap;
    va_copy(ap, args);
    for (const char* f = format; *f; ++f) {
        if (*f != '%') {
            o.put(*f);
            continue;
        }
        ++f;
        if (!*f) break;
        FieldFormat s;
        for (;; ++f) {
            if (*f == '-') s.left = true;
            else if (*f == '0') s.zero = true;
            else if (*f == '#') s.prefix = true;
            else break;
        }
        while (isDigit(*f)) s.width = s.width * 10 + (*f++ - '0');
        if (*f == '.') {
            s.precision = 0;
            for (++f; isDigit(*f);) s.precision = s.precision * 10 + (*f++ - '0');
        }
        if (*f == 'l' || *f == 'w') {
            s.wide = true;
            ++f;
        } else if (*f == 'h') {
            s.shortInt = true;
            ++f;
        }
        switch (*f) {
        case '%':
            o.put('%');
            break;
        case 'c':
        case 'C': {
            int c = va_arg(ap, int);
            bool wideChar = (*f == 'C') != s.wide;
            char ch = (wideChar && (c < 0 || c > 0xFF)) ? '?' : static_cast<char>(c);
            pad(o, std::string(1, ch), s);
            break;
        }
        case 's':
        case 'S': {
            std::string text;
            if ((*f == 'S') != s.wide) {
                const WCHAR* w = va_arg(ap, const WCHAR*);
                if (!w) text = "(null)";
                for (; w && *w; ++w) text += (*w > 0xFF) ? '?' : static_cast<char>(*w);
            } else {
                const char* a = va_arg(ap, const char*);
                text = a ? a : "(null)";
            }
            if (s.precision >= 0 && text.size() > static_cast<size_t>(s.precision))
                text.resize(static_cast<size_t>(s.precision));
            pad(o, text, s);
            break;
        }
        case 'd':
        case 'i': {
            // 'l' is 32 bits on Windows, so every integer is read as int.
            int v = va_arg(ap, int);
            if (s.shortInt) v = static_cast<short>(v);
            uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
            number(o, magnitude, v < 0, 10, false, s);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            uint32_t v = va_arg(ap, unsigned int);
            if (s.shortInt) v &= 0xFFFF;
            number(o, v, false, *f == 'u' ? 10 : 16, *f == 'X', s);
            break;
        }
        default:
            // Not a wsprintf conversion: the character itself is written.
            o.put(*f);
            break;
        }
    }
    va_end(ap);
    return o.finish();
}

int WINAPIV wsprintfA(LPSTR out, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(out, format, args);
    va_end(args);
    return n;
}
