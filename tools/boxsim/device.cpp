#include "device.h"

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace boxsim {

namespace {

constexpr size_t kMaxDevices = 8;                 // boxes one process can simulate
constexpr DWORD kMaxScriptBytes = 1u << 20;       // a script file is read up to this size
constexpr DWORD kCommandsChunk = 4096;            // bytes read from the commands file at a time
constexpr DWORD kCommandsPerPoll = 16 * kCommandsChunk;  // catch-up bound for one call
constexpr uint32_t kCommandsRetryMs = 50;         // between attempts to open a missing commands file
constexpr int kLogLineMax = 512;
constexpr int kGuidText = 39;                     // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and NUL

// Every device and every filter's own state is touched under this one lock:
// the calls are short, and the threading model lets any thread call in.
CRITICAL_SECTION g_lock;
HMODULE g_module = nullptr;
Device* g_devices[kMaxDevices] = {};
CLSID g_classes[kMaxDevices] = {};

void guidText(REFGUID guid, char (&out)[kGuidText]) {
    std::snprintf(out, sizeof out, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

// A string value of HKCR\CLSID\{clsid}; false when missing or too long.
bool classSetting(const char* classText, const char* name, char* out, DWORD size) {
    char keyPath[64];
    std::snprintf(keyPath, sizeof keyPath, "CLSID\\%s", classText);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD bytes = size - 1;  // room for a terminator the stored string may lack
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || bytes == 0) return false;
    out[bytes] = '\0';
    return out[0] != '\0';
}

bool fileExists(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

}  // namespace

void initialiseDevices(HMODULE module) {
    g_module = module;
    InitializeCriticalSection(&g_lock);
}

void releaseDevices() {
    for (Device*& device : g_devices) {
        delete device;
        device = nullptr;
    }
    DeleteCriticalSection(&g_lock);
}

Device* Device::forClass(REFCLSID clsid) {
    Lock lock;
    for (size_t i = 0; i < kMaxDevices; ++i)
        if (g_devices[i] && IsEqualCLSID(g_classes[i], clsid)) return g_devices[i];
    for (size_t i = 0; i < kMaxDevices; ++i) {
        if (g_devices[i]) continue;
        Device* device = new (std::nothrow) Device(clsid);
        if (!device) return nullptr;
        g_classes[i] = clsid;
        g_devices[i] = device;
        device->configure();
        return device;
    }
    return nullptr;
}

Device::Device(REFCLSID clsid) : clsid_(clsid), box_([this] { return now(); }) {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
    box_.setLogLimit(0);  // the log file is the record; memory stays flat
}

Device::~Device() {
    if (commands_ != INVALID_HANDLE_VALUE) CloseHandle(commands_);
    if (log_ != INVALID_HANDLE_VALUE) CloseHandle(log_);
}

uint32_t Device::elapsed() const {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);  // never fails from Windows XP on
    return static_cast<uint32_t>((counter.QuadPart - start_.QuadPart) * 1000 / frequency_.QuadPart);
}

void Device::configure() {
    char classText[kGuidText];
    guidText(clsid_, classText);
    char path[MAX_PATH];
    if (classSetting(classText, "Log", path, sizeof path)) {
        log_ = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        box_.setCallObserver([this](const bridge::PropertyCall& c) {
            char line[kLogLineMax];
            int n = std::snprintf(line, sizeof line, "%u %s %04X %08X %08X\n", c.time, c.set ? "Set" : "Get",
                                  c.id, c.value, static_cast<uint32_t>(c.result));
            writeLog(line, n);
        });
    }
    note("device %s", classText);
    if (classSetting(classText, "Commands", commandsPath_, sizeof commandsPath_)) note("commands %s", commandsPath_);
    if (classSetting(classText, "Script", path, sizeof path)) {
        loadScript(path);
    } else {
        // No setting: a script beside the DLL, named after the class.
        char dll[MAX_PATH];
        DWORD length = GetModuleFileNameA(g_module, dll, sizeof dll);
        if (length == 0 || length >= sizeof dll) return;
        char* slash = std::strrchr(dll, '\\');
        if (!slash) return;
        *slash = '\0';
        int n = std::snprintf(path, sizeof path, "%s\\boxsim-%s.script", dll, classText);
        if (n > 0 && static_cast<size_t>(n) < sizeof path && fileExists(path)) loadScript(path);
    }
}

void Device::loadScript(const char* path) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        note("script %s: cannot open (error %lu)", path, GetLastError());
        return;
    }
    std::string text;
    char chunk[kCommandsChunk];
    DWORD got = 0;
    while (text.size() < kMaxScriptBytes && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        text.append(chunk, got);
    CloseHandle(file);
    if (text.size() > kMaxScriptBytes) {
        note("script %s: longer than %lu bytes, ignored", path, static_cast<unsigned long>(kMaxScriptBytes));
        return;
    }
    std::vector<bridge::ScriptLine> lines;
    std::vector<std::string> errors;
    bridge::parseScript(text, &lines, &errors);
    for (const std::string& error : errors) note("script %s: %s", path, error.c_str());
    note("script %s: %u commands", path, static_cast<unsigned>(lines.size()));
    script_ = bridge::Script(std::move(lines));
}

void Device::poll() {
    if (!script_.finished()) {
        uint32_t tick = elapsed();
        script_.runDue(tick, [this, tick](const bridge::ScriptLine& line) {
            // The box sees the command at its scripted time, so holds and
            // presses keep their timing even when applied a little late.
            overriding_ = true;
            overrideTick_ = line.at;
            box_.apply(line.command);
            overriding_ = false;
            note("script %u: %s (applied at %u)", line.at, line.text.c_str(), tick);
        });
    }
    if (commandsPath_[0]) readCommands();
}

void Device::readCommands() {
    if (commands_ == INVALID_HANDLE_VALUE) {
        uint32_t tick = elapsed();
        if (static_cast<int32_t>(tick - commandsRetryAt_) < 0) return;
        commands_ = CreateFileA(commandsPath_, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (commands_ == INVALID_HANDLE_VALUE) {
            commandsRetryAt_ = tick + kCommandsRetryMs;
            return;
        }
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(commands_, &size)) return;
    ULONGLONG total = static_cast<ULONGLONG>(size.QuadPart);
    if (total == commandsOffset_) return;  // the common case: nothing new
    if (total < commandsOffset_) {
        commandsOffset_ = 0;  // the file was started afresh
        collector_ = bridge::LineCollector();
    }
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(commandsOffset_);
    if (!SetFilePointerEx(commands_, at, nullptr, FILE_BEGIN)) return;
    char chunk[kCommandsChunk];
    DWORD budget = kCommandsPerPoll;
    while (commandsOffset_ < total && budget > 0) {
        DWORD want = static_cast<DWORD>(std::min<ULONGLONG>(sizeof chunk, total - commandsOffset_));
        DWORD got = 0;
        if (!ReadFile(commands_, chunk, want, &got, nullptr) || got == 0) break;
        commandsOffset_ += got;
        budget = got < budget ? budget - got : 0;
        for (const bridge::LineCollector::Line& line : collector_.feed(chunk, got)) {
            std::string error;
            if (line.tooLong) {
                note("command refused: longer than %u characters", static_cast<unsigned>(bridge::MAX_SCRIPT_LINE));
            } else if (!box_.command(line.text, &error)) {
                note("command refused: %s: %s", line.text.c_str(), error.c_str());
            } else if (line.text.find_first_not_of(" \t") != std::string::npos) {
                note("command: %s", line.text.c_str());
            }
        }
    }
}

void Device::note(const char* format, ...) {
    if (log_ == INVALID_HANDLE_VALUE) return;
    char line[kLogLineMax];
    int n = std::snprintf(line, sizeof line, "# %u ", elapsed());
    va_list args;
    va_start(args, format);
    int m = std::vsnprintf(line + n, sizeof line - n - 1, format, args);
    va_end(args);
    if (m < 0) return;
    n = std::min<int>(n + m, static_cast<int>(sizeof line) - 2);
    line[n++] = '\n';
    writeLog(line, n);
}

void Device::writeLog(const char* text, int length) {
    if (log_ == INVALID_HANDLE_VALUE || length <= 0) return;
    DWORD written = 0;
    // One write per line, straight to the file: readers tail it as it grows.
    WriteFile(log_, text, static_cast<DWORD>(length), &written, nullptr);
}

HRESULT Device::setValue(ULONG id, ULONG* word, uint32_t connection) {
    Lock lock;
    poll();
    uint32_t value = word ? static_cast<uint32_t>(*word) : 0;
    return box_.setValue(id, word ? &value : nullptr, connection);
}

HRESULT Device::getValue(ULONG id, ULONG* word, uint32_t connection) {
    Lock lock;
    poll();
    uint32_t value = word ? static_cast<uint32_t>(*word) : 0;
    HRESULT result = box_.getValue(id, word ? &value : nullptr, connection);
    if (word) *word = value;
    return result;
}

uint32_t Device::connection() {
    Lock lock;
    return box_.connection();
}

bool Device::bindable() {
    Lock lock;
    poll();
    if (box_.plugged()) return true;
    note("bind refused: unplugged");
    return false;
}

void Device::noteLoad(const wchar_t* friendlyName) {
    Lock lock;
    char name[MAX_PATH];
    if (!WideCharToMultiByte(CP_ACP, 0, friendlyName, -1, name, sizeof name, nullptr, nullptr)) name[0] = '\0';
    note("load \"%s\"", name);
}

}  // namespace boxsim
