// Registry values of any type and size for the agent's settings and for the
// TV applications' install paths, through the agent's own start-up code: the
// static filling of the six adapter records, loadSettings, and a launch of
// every application found.
//
// Rules checked:
// - A setting is the agent's number only as a four-byte REG_DWORD; it is then
//   taken and left as it is. Anything else is replaced by a REG_DWORD of the
//   in-memory default (DefaultTVAPP 3, AlwaysRemoteOff 0). A missing key is
//   created with both.
// - An install path counts when it fits the 128-byte buffer with its
//   terminator (the value's type is not looked at) and its text, up to the
//   first zero byte, holds no quote; the record then holds that text.
//   Otherwise the application is not installed and its path is empty.
// - A launch runs the install path, a backslash and the executable, nothing
//   else, quoted as one program; no registry key stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/settings.h"
#include "apps/adapters.h"
#include "fuzz_world.h"

namespace {

constexpr size_t PATH_BUFFER = 128;

struct PathValue {
    AppId app;
    const char* key;
    const char* value;
    const char* exe;
};
const PathValue PATHS[] = {
    {APP_POWERVCR, "HKLM\\Software\\Cyberlink\\PowerVCR II", "InstallPath", "PVCR.EXE"},
    {APP_HONESTECH, "HKLM\\Software\\Honestech\\TV Plus\\TVR", "AppPath", "honestechTV.EXE"},
    {APP_WINDVD, "HKLM\\Software\\InterVideo\\WinDVD4", "PATH", "WINDVD.EXE"},
    {APP_WINDVR, "HKLM\\Software\\InterVideo\\WinDVR", "PATH", "WINDVR.EXE"},
    {APP_WINRIP, "HKLM\\Software\\InterVideo\\WinRip", "PATH", "WINRIP.EXE"},
};

struct Stored {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<uint8_t> bytes;
};

Stored consumeValue(FuzzedDataProvider& in) {
    static const DWORD types[] = {REG_SZ, REG_BINARY, REG_DWORD, REG_EXPAND_SZ, REG_MULTI_SZ, REG_NONE};
    Stored s;
    s.present = in.ConsumeIntegralInRange(0, 3) != 0;
    s.type = in.ConsumeBool() ? types[in.ConsumeIntegralInRange(0, 5)] : in.ConsumeIntegral<DWORD>();
    size_t length;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: length = 4; break;
    case 1: length = in.ConsumeIntegralInRange<size_t>(126, 130); break;
    case 2: length = in.ConsumeIntegralInRange<size_t>(0, 5000); break;
    default: length = in.ConsumeIntegralInRange<size_t>(0, 140); break;
    }
    s.bytes = in.ConsumeBytes<uint8_t>(length);
    return s;
}

void put(const std::string& key, const char* name, const Stored& s) {
    if (s.present) sim::world().registry.setRaw(key, name, s.type, std::vector<BYTE>(s.bytes.begin(), s.bytes.end()));
}

bool agentNumber(const Stored& s, DWORD* value) {
    if (!s.present || s.type != REG_DWORD || s.bytes.size() != 4) return false;
    std::memcpy(value, s.bytes.data(), 4);
    return true;
}

void checkSetting(const char* name, const Stored& s, DWORD fallback, bool keyPresent) {
    const sim::RegValue* now = sim::world().registry.value("HKLM\\" SETTINGS_KEY_PATH, name);
    if (!now) fuzz::fatal(std::string(name) + " is missing after the load");
    DWORD value = 0;
    if (keyPresent && agentNumber(s, &value)) {
        if (now->type != s.type || now->data != std::vector<BYTE>(s.bytes.begin(), s.bytes.end()))
            fuzz::fatal(std::string(name) + ": a readable value was changed");
        return;
    }
    std::vector<BYTE> expected(4);
    std::memcpy(expected.data(), &fallback, 4);
    if (now->type != REG_DWORD || now->data != expected)
        fuzz::fatal(std::string(name) + " " + fuzz::hex(s.bytes) + " was not replaced by the default");
}

std::string expectedPath(const Stored& s, bool keyPresent, bool* found) {
    *found = keyPresent && s.present && s.bytes.size() <= PATH_BUFFER &&
             !(s.bytes.size() == PATH_BUFFER && s.bytes[PATH_BUFFER - 1] != 0);
    if (!*found) return std::string();
    std::string text(s.bytes.begin(), s.bytes.end());
    text = text.substr(0, text.find('\0'));
    // A quote would end the quoting of the launch's command line.
    if (text.find('"') != std::string::npos) {
        *found = false;
        return std::string();
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::freshWorld(false);
    sim::World& w = sim::world();

    bool settingsKey = in.ConsumeIntegralInRange(0, 7) != 0;
    Stored defaultApp = consumeValue(in);
    Stored remoteOffValue = consumeValue(in);
    if (settingsKey) {
        w.registry.create("HKLM\\" SETTINGS_KEY_PATH);
        put("HKLM\\" SETTINGS_KEY_PATH, SETTING_DEFAULT_TV_APP, defaultApp);
        put("HKLM\\" SETTINGS_KEY_PATH, SETTING_ALWAYS_REMOTE_OFF, remoteOffValue);
    }
    bool keys[5];
    Stored paths[5];
    for (int i = 0; i < 5; ++i) {
        keys[i] = in.ConsumeIntegralInRange(0, 7) != 0;
        paths[i] = consumeValue(in);
        if (keys[i]) {
            w.registry.create(PATHS[i].key);
            put(PATHS[i].key, PATHS[i].value, paths[i]);
        }
    }

    // The process starts: the records are filled, then the settings loaded.
    restartAgentStatics();
    loadSettings();
    if (w.registry.openHandles() != 0) fuzz::fatal("a registry key left open");

    DWORD number = 0;
    bool readable = settingsKey && agentNumber(defaultApp, &number);
    if (defaultTvApp != (readable ? static_cast<int>(number) : 3)) fuzz::fatal("DefaultTVAPP loaded wrongly");
    checkSetting(SETTING_DEFAULT_TV_APP, defaultApp, 3, settingsKey);
    readable = settingsKey && agentNumber(remoteOffValue, &number);
    if (remoteOff != (readable && number == 1)) fuzz::fatal("AlwaysRemoteOff loaded wrongly");
    checkSetting(SETTING_ALWAYS_REMOTE_OFF, remoteOffValue, 0, settingsKey);

    for (int i = 0; i < 6; ++i) {
        // RoviverUVA reads honestechTV's value.
        int source = i == 5 ? 1 : i;
        AppId app = i == 5 ? APP_ROVIVER : PATHS[i].app;
        const char* exe = PATHS[source].exe;
        AppAdapter& a = adapterOf(app);
        bool found = false;
        std::string path = expectedPath(paths[source], keys[source], &found);
        if (a.found != (found ? 1 : 0))
            fuzz::fatal(std::string("install path ") + fuzz::hex(paths[source].bytes) + " gave found=" +
                        std::to_string(a.found));
        if (std::memchr(a.installPath, 0, sizeof a.installPath) == nullptr) fuzz::fatal("install path unterminated");
        if (a.installPath != path) fuzz::fatal("install path held as \"" + std::string(a.installPath) + "\"");
        if (!found) continue;
        // Nothing is installed on the simulated disk: the start fails after
        // the command line was built; exactly the stored path is named.
        size_t before = w.calls.size();
        a.launch();
        bool exec = false;
        for (size_t c = before; c < w.calls.size(); ++c) {
            if (w.calls[c].api != "WinExec") continue;
            exec = true;
            std::string args = w.calls[c].args;
            std::string cmd = args.substr(4, args.rfind(" show=") - 4);
            // The whole program in one pair of quotes: nothing else can run.
            if (cmd != "\"" + path + "\\" + exe + "\"") fuzz::fatal("launch ran " + cmd + " for the path \"" + path + "\"");
        }
        if (!exec) fuzz::fatal("an installed application was not started");
        if (w.registry.openHandles() != 0) fuzz::fatal("a registry key left open by a launch");
    }
    endAgentStatics();
    return 0;
}
