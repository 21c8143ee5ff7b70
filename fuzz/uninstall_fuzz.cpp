// The wizard's Uninstall entries of any shape: subkey names of any length,
// DisplayName and UninstallString values of any type, size and content, the
// configured utility name and driver key name of any text, through page 2's
// RemoveUtilities and RemoveDrivers.
//
// Rules checked:
// - At most one uninstaller is started for each removal, and what is started
//   is the text of an UninstallString stored under the Uninstall key, at most
//   255 characters long and terminated.
// - The utilities' command comes from an entry whose display name equals the
//   configured name, ignoring letter case (checked for plain ASCII names).
// - The drivers' command is the text of the configured entry's
//   UninstallString when that text and its terminator fit the 255-byte read,
//   and nothing runs otherwise.
// - No registry key and no process or thread handle stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_world.h"
#include "wizard/app.h"
#include "wizard/pages.h"

namespace {

const std::string UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr size_t COMMAND_CAPACITY = 256;
constexpr size_t DRIVER_READ_SIZE = 255;
constexpr size_t DRIVER_PATH_CAPACITY = 260;

struct Entry {
    std::string name;
    bool hasDisplay = false, hasCommand = false;
    std::vector<uint8_t> display, command;
};

std::string textOf(const std::vector<uint8_t>& bytes) {
    std::string s(bytes.begin(), bytes.end());
    return s.substr(0, s.find('\0'));
}

bool ascii(const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) return false;
    return true;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<uint8_t> valueBytes(FuzzedDataProvider& in, const std::string& likely) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: {  // the likely text, in another letter case, with its terminator
        std::string s = likely;
        for (char& c : s)
            if (in.ConsumeBool()) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        std::vector<uint8_t> v(s.begin(), s.end());
        v.push_back(0);
        return v;
    }
    case 1: {  // the likely text without its terminator
        return std::vector<uint8_t>(likely.begin(), likely.end());
    }
    case 2: return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(250, 260));
    default: return in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
    }
}

DWORD valueType(FuzzedDataProvider& in) {
    static const DWORD types[] = {REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ};
    return types[in.ConsumeIntegralInRange(0, 4)];
}

void setText(char* field, const std::string& text) {
    std::strncpy(field, text.c_str(), TEXT_CAPACITY - 1);
    field[TEXT_CAPACITY - 1] = '\0';
}

// Command lines CreateProcessA was given from call index `from` on.
std::vector<std::string> commandsSince(size_t from) {
    std::vector<std::string> out;
    const auto& calls = sim::world().calls;
    for (size_t i = from; i < calls.size(); ++i) {
        if (calls[i].api != "CreateProcessA") continue;
        const std::string& a = calls[i].args;
        size_t start = a.find(" cmd=");
        size_t end = a.rfind(" inherit=");
        if (start == std::string::npos || end == std::string::npos || end < start) fuzz::fatal("unreadable log: " + a);
        out.push_back(a.substr(start + 5, end - start - 5));
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::freshWorld(false);
    sim::World& w = sim::world();
    restartWizardStatics();
    CUninstallWizardApp& app = theApp;

    std::string utility = in.ConsumeRandomLengthString(300);
    std::string driverKey = in.ConsumeRandomLengthString(300);
    setText(app.m_szUtilityName, utility);
    setText(app.m_szDriverKeyName, driverKey);
    utility = app.m_szUtilityName;
    driverKey = app.m_szDriverKeyName;

    std::vector<Entry> entries;
    std::vector<std::string> storedCommands;
    if (in.ConsumeIntegralInRange(0, 7) != 0) {
        w.registry.create(UNINSTALL);
        int count = in.ConsumeIntegralInRange(0, 6);
        for (int i = 0; i < count; ++i) {
            Entry e;
            e.name = in.ConsumeBool() ? driverKey : in.ConsumeRandomLengthString(300);
            if (e.name.empty()) continue;
            std::string path = UNINSTALL + "\\" + e.name;
            w.registry.create(path);
            e.hasDisplay = in.ConsumeBool();
            if (e.hasDisplay) {
                e.display = valueBytes(in, utility);
                w.registry.setRaw(path, "DisplayName", valueType(in), std::vector<BYTE>(e.display.begin(), e.display.end()));
            }
            e.hasCommand = in.ConsumeIntegralInRange(0, 3) != 0;
            if (e.hasCommand) {
                e.command = valueBytes(in, "C:\\un" + std::to_string(i) + ".exe /x");
                w.registry.setRaw(path, "UninstallString", valueType(in),
                                  std::vector<BYTE>(e.command.begin(), e.command.end()));
            }
            entries.push_back(e);
        }
    }
    // Every value anywhere under the key that a command could come from, and
    // the display name stored beside it (entries written twice hold the last
    // values written).
    std::vector<std::pair<std::string, std::string>> named;  // display name, command
    std::function<void(const sim::RegKey&)> collect = [&](const sim::RegKey& k) {
        auto command = k.values.find("uninstallstring");
        auto display = k.values.find("displayname");
        if (command != k.values.end()) {
            std::string text = textOf({command->second.data.begin(), command->second.data.end()});
            storedCommands.push_back(text);
            if (display != k.values.end())
                named.push_back({textOf({display->second.data.begin(), display->second.data.end()}), text});
        }
        for (const auto& s : k.subkeys) collect(*s.second);
    };
    if (const sim::RegKey* root = w.registry.find(UNINSTALL)) collect(*root);

    CPage2 page;
    size_t before = w.calls.size();
    page.RemoveUtilities();
    std::vector<std::string> utilities = commandsSince(before);
    before = w.calls.size();
    page.RemoveDrivers();
    std::vector<std::string> drivers = commandsSince(before);

    if (utilities.size() > 1) fuzz::fatal("the utilities' uninstaller started more than once");
    for (const std::string& cmd : utilities) {
        if (cmd.size() >= COMMAND_CAPACITY) fuzz::fatal("a command longer than its buffer: " + cmd);
        bool stored = false;
        for (const auto& s : storedCommands) stored = stored || s == cmd;
        if (!stored) fuzz::fatal("the utilities' removal started a command no entry holds: " + cmd);
        if (ascii(utility) && !utility.empty()) {
            bool fromMatch = false;
            for (const auto& n : named)
                if (n.second == cmd && ascii(n.first) && sameIgnoringCase(n.first, utility)) fromMatch = true;
            if (!fromMatch) fuzz::fatal("the utilities' command comes from an entry of another name: " + cmd);
        }
    }

    // The drivers' entry, read as the page reads it.
    std::string expectedDriver;
    bool driverRuns = false;
    std::string driverPath = UNINSTALL + "\\" + driverKey;
    if (driverPath.size() - 5 < DRIVER_PATH_CAPACITY) {  // without "HKLM\"
        if (const sim::RegValue* v = w.registry.value(driverPath, "UninstallString")) {
            // The command and its terminator must fit the 255-byte read.
            size_t n = v->data.size();
            bool fits = n < DRIVER_READ_SIZE || (n == DRIVER_READ_SIZE && v->data[n - 1] == 0);
            if (fits && w.registry.find(driverPath)) {
                driverRuns = true;
                expectedDriver = textOf({v->data.begin(), v->data.end()});
            }
        }
    }
    if (drivers.size() > 1) fuzz::fatal("the drivers' uninstaller started more than once");
    // A name holding backslashes names a path of subkeys, which the system
    // may refuse to open (empty parts); only the text started is judged then.
    bool plainName = !driverKey.empty() && driverKey.find('\\') == std::string::npos;
    if (plainName && driverRuns && drivers.size() != 1)
        fuzz::fatal("the drivers' entry \"" + driverKey + "\" holds \"" + expectedDriver +
                    "\", which fits, yet nothing was started");
    if (plainName && !driverRuns && !drivers.empty())
        fuzz::fatal("the drivers' removal started \"" + drivers[0] + "\" from an entry that does not fit");
    for (const std::string& cmd : drivers) {
        if (cmd.size() >= COMMAND_CAPACITY - 1) fuzz::fatal("a drivers' command longer than its read: " + cmd);
        bool stored = false;
        for (const auto& c : storedCommands) stored = stored || c == cmd;
        if (!stored) fuzz::fatal("the drivers' removal started a command no entry holds: " + cmd);
    }
    if (plainName && driverRuns && drivers.size() == 1 && drivers[0] != expectedDriver)
        fuzz::fatal("the drivers' removal started \"" + drivers[0] + "\" instead of \"" + expectedDriver + "\"");

    if (w.registry.openHandles() != 0) fuzz::fatal("a registry key left open");
    if (w.openProcessHandles() != 0 || w.openThreadHandles() != 0) fuzz::fatal("a process or thread handle left open");
    return 0;
}
