#include "device.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
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
constexpr uint32_t kQuietCommandsMs = 500;        // between looks at the commands file when quiet
constexpr char kCallsCommand[] = "calls";         // notes the number of property calls
constexpr int kLogLineMax = 512;
constexpr int kGuidText = 39;                     // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" and NUL
constexpr size_t kMaxDelayed = 64;                // "after" commands waiting at once
constexpr uint32_t kMaxDelayMs = 24u * 60 * 60 * 1000;  // a day: due times stay ordered across the tick's wrap
constexpr size_t kMaxDelayDigits = 9;             // kMaxDelayMs fits; longer texts are refused unread
constexpr char kAfter[] = "after";
constexpr char kBlank[] = " \t";
constexpr uint64_t kMicroseconds = 1000000;

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

// A performance counter value in microseconds, in two parts so that a
// counter running for weeks does not overflow.
uint64_t microseconds(LARGE_INTEGER count, LARGE_INTEGER frequency) {
    uint64_t c = static_cast<uint64_t>(count.QuadPart), f = static_cast<uint64_t>(frequency.QuadPart);
    return c / f * kMicroseconds + c % f * kMicroseconds / f;
}

// Splits "after <ms> <command>" into the delay and the command; false for
// a line of another kind. The parts are empty when missing.
bool splitDelayed(const std::string& text, std::string* delay, std::string* command) {
    size_t begin = text.find_first_not_of(kBlank);
    if (begin == std::string::npos) return false;
    size_t end = text.find_first_of(kBlank, begin);
    if (text.compare(begin, end == std::string::npos ? std::string::npos : end - begin, kAfter) != 0) return false;
    delay->clear();
    command->clear();
    size_t delayBegin = end == std::string::npos ? end : text.find_first_not_of(kBlank, end);
    if (delayBegin == std::string::npos) return true;
    size_t delayEnd = text.find_first_of(kBlank, delayBegin);
    *delay = text.substr(delayBegin, delayEnd == std::string::npos ? delayEnd : delayEnd - delayBegin);
    size_t commandBegin = delayEnd == std::string::npos ? delayEnd : text.find_first_not_of(kBlank, delayEnd);
    if (commandBegin != std::string::npos) *command = text.substr(commandBegin);
    return true;
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
    constexpr DWORD kFlagBytes = 8;  // room for a yes/no setting's text
    char flag[kFlagBytes];
    quiet_ = classSetting(classText, "Quiet", flag, sizeof flag) && std::strcmp(flag, "1") == 0;
    char path[MAX_PATH];
    if (classSetting(classText, "Log", path, sizeof path)) {
        log_ = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        // A quiet box is not told of calls at all: no work per call.
        if (!quiet_) {
            box_.setCallObserver([this](const bridge::PropertyCall& c) {
                char line[kLogLineMax];
                int n = std::snprintf(line, sizeof line, "%u %s %04X %08X %08X\n", c.time, c.set ? "Set" : "Get",
                                      c.id, c.value, static_cast<uint32_t>(c.result));
                writeLog(line, n);
            });
        }
    }
    note("device %s", classText);
    note("clock %llu", static_cast<unsigned long long>(microseconds(start_, frequency_)));
    if (classSetting(classText, "Commands", commandsPath_, sizeof commandsPath_)) note("commands %s", commandsPath_);
    filterNotes_ = classSetting(classText, "FilterNotes", flag, sizeof flag) && std::strcmp(flag, "1") == 0;
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
    if (commandsPath_[0] && quietLookDue()) readCommands();
    runDelayed();
}

bool Device::quietLookDue() {
    if (!quiet_) return true;
    uint32_t tick = elapsed();
    if (static_cast<int32_t>(tick - commandsDueAt_) < 0) return false;
    commandsDueAt_ = tick + kQuietCommandsMs;
    return true;
}

bool Device::delay(const std::string& text) {
    std::string delayText, commandText;
    if (!splitDelayed(text, &delayText, &commandText)) return false;
    if (delayText.empty() || delayText.size() > kMaxDelayDigits ||
        delayText.find_first_not_of("0123456789") != std::string::npos ||
        std::strtoul(delayText.c_str(), nullptr, 10) > kMaxDelayMs) {
        note("command refused: %s: the delay is not a number of ms up to %u", text.c_str(), kMaxDelayMs);
        return true;
    }
    bridge::ScriptLine line{};
    std::string error;
    if (!bridge::parseCommand(commandText, &line.command, &error)) {
        note("command refused: %s: %s", text.c_str(), error.c_str());
        return true;
    }
    if (line.command.kind == bridge::Command::Kind::None) {
        note("command refused: %s: no command after the delay", text.c_str());
        return true;
    }
    if (delayed_.size() >= kMaxDelayed) {
        note("command refused: %s: %u commands are already waiting", text.c_str(), static_cast<unsigned>(kMaxDelayed));
        return true;
    }
    line.at = elapsed() + static_cast<uint32_t>(std::strtoul(delayText.c_str(), nullptr, 10));
    line.text = commandText;
    // Behind those due no later, so commands due together keep their order.
    auto place = std::find_if(delayed_.begin(), delayed_.end(), [&line](const bridge::ScriptLine& waiting) {
        return static_cast<int32_t>(waiting.at - line.at) > 0;
    });
    delayed_.insert(place, line);
    note("command: %s (due at %u)", text.c_str(), line.at);
    return true;
}

void Device::runDelayed() {
    if (delayed_.empty()) return;
    uint32_t tick = elapsed();
    while (!delayed_.empty() && static_cast<int32_t>(tick - delayed_.front().at) >= 0) {
        bridge::ScriptLine line = std::move(delayed_.front());
        delayed_.erase(delayed_.begin());
        // As with a script line, the box sees the command at its due time.
        overriding_ = true;
        overrideTick_ = line.at;
        box_.apply(line.command);
        overriding_ = false;
        note("due %u: %s (applied at %u)", line.at, line.text.c_str(), tick);
    }
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
            } else if (line.text == kCallsCommand) {
                note("calls %lu", calls_);
            } else if (delay(line.text)) {
                // queued, or refused with its reason in the log
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
    ++calls_;
    poll();
    uint32_t value = word ? static_cast<uint32_t>(*word) : 0;
    return box_.setValue(id, word ? &value : nullptr, connection);
}

HRESULT Device::getValue(ULONG id, ULONG* word, uint32_t connection) {
    Lock lock;
    ++calls_;
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

void Device::countFilter(bool made) {
    Lock lock;
    liveFilters_ += made ? 1 : -1;
    if (filterNotes_) note("filter %s: %ld live", made ? "made" : "ended", liveFilters_);
}

void Device::noteLoad(const wchar_t* friendlyName) {
    Lock lock;
    char name[MAX_PATH];
    if (!WideCharToMultiByte(CP_ACP, 0, friendlyName, -1, name, sizeof name, nullptr, nullptr)) name[0] = '\0';
    note("load \"%s\"", name);
}

}  // namespace boxsim
