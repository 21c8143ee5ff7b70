// kernel32's conversions between ANSI and wide text. The simulated desktop's
// ANSI code page is Windows-1252, one byte per character; no other code page
// is installed, and characters outside it become the default character (no
// best-fit mapping).
#include <sim/world.h>

#include <cwchar>

namespace {

constexpr UINT kAnsiCodePage = 1252;
constexpr char kDefaultChar = '?';
// Flags each direction accepts for a single-byte code page.
constexpr DWORD kWideFlags = WC_NO_BEST_FIT_CHARS;
constexpr DWORD kAnsiFlags = MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves
// undefined map to the control characters of the same value, as on the
// platform; every other byte is its own code point.
constexpr WCHAR kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
constexpr unsigned kHighFirst = 0x80;
constexpr unsigned kHighEnd = 0xA0;
constexpr unsigned kByteEnd = 0x100;

WCHAR toWide(unsigned char byte) {
    if (byte >= kHighFirst && byte < kHighEnd) return kHighControls[byte - kHighFirst];
    return static_cast<WCHAR>(byte);
}

// False when the code page has no byte for the character.
bool toAnsi(WCHAR wide, char* out) {
    unsigned long code = static_cast<unsigned long>(wide);
    if (code < kHighFirst || (code >= kHighEnd && code < kByteEnd)) {
        *out = static_cast<char>(code);
        return true;
    }
    for (unsigned i = 0; i < kHighEnd - kHighFirst; ++i) {
        if (static_cast<unsigned long>(kHighControls[i]) == code) {
            *out = static_cast<char>(kHighFirst + i);
            return true;
        }
    }
    return false;
}

bool ansiCodePage(UINT codePage) { return codePage == CP_ACP || codePage == kAnsiCodePage; }

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

}  // namespace

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR out, int outSize,
                               LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (!ansiCodePage(codePage)) return fail(ERROR_INVALID_PARAMETER);
    if (flags & ~kWideFlags) return fail(ERROR_INVALID_FLAGS);
    if (!wide || wideCount == 0 || wideCount < -1 || outSize < 0 || (outSize > 0 && !out))
        return fail(ERROR_INVALID_PARAMETER);
    if (outSize > 0 && static_cast<const void*>(out) == static_cast<const void*>(wide))
        return fail(ERROR_INVALID_PARAMETER);

    // -1: the string up to its terminator, which is converted too.
    size_t count = wideCount == -1 ? std::wcslen(wide) + 1 : static_cast<size_t>(wideCount);
    char substitute = defaultChar ? *defaultChar : kDefaultChar;
    bool usedDefault = false;
    size_t written = 0;
    for (size_t i = 0; i < count; ++i) {
        char byte;
        if (!toAnsi(wide[i], &byte)) {
            byte = substitute;
            usedDefault = true;
        }
        if (outSize == 0) continue;  // only measuring
        if (written == static_cast<size_t>(outSize)) {
            // The platform fills what fits, then fails.
            if (usedDefaultChar) *usedDefaultChar = usedDefault;
            return fail(ERROR_INSUFFICIENT_BUFFER);
        }
        out[written++] = byte;
    }
    if (usedDefaultChar) *usedDefaultChar = usedDefault;
    return static_cast<int>(count);
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int textSize, LPWSTR out, int outCount) {
    if (!ansiCodePage(codePage)) return fail(ERROR_INVALID_PARAMETER);
    if (flags & ~kAnsiFlags) return fail(ERROR_INVALID_FLAGS);
    if (!text || textSize == 0 || textSize < -1 || outCount < 0 || (outCount > 0 && !out))
        return fail(ERROR_INVALID_PARAMETER);
    if (outCount > 0 && static_cast<const void*>(out) == static_cast<const void*>(text))
        return fail(ERROR_INVALID_PARAMETER);

    size_t count = textSize == -1 ? std::strlen(text) + 1 : static_cast<size_t>(textSize);
    if (outCount == 0) return static_cast<int>(count);
    for (size_t i = 0; i < count; ++i) {
        if (i == static_cast<size_t>(outCount)) return fail(ERROR_INSUFFICIENT_BUFFER);
        out[i] = toWide(static_cast<unsigned char>(text[i]));
    }
    return static_cast<int>(count);
}
