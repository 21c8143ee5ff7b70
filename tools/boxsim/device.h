// One simulated capture box inside the process that loaded boxsim.dll.
//
// Every filter object made for the same class identifier shares one Device,
// so the agent's reopening of the box finds the same receiver, latch and
// script timeline. The device's settings live under HKCR\CLSID\{clsid}:
//   Script    path of a timed script, "<ms> <command>" per line, the time
//             counted from the device's first object (the first bind); when
//             absent, boxsim-{clsid}.script beside the DLL is used if present
//   Commands  path of a file that others append command lines to; the lines
//             are applied as they are seen, at the next call into the device;
//             "after <ms> <command>" is due <ms> after the call that read it
//             (a key then reaches the receiver between two polls, not at one)
//   Log       path of a file that gets one line per property call,
//             "<ms> <Set|Get> <id> <word> <result>" in hex, and '#' lines
//             for what the device did (script lines, commands, binds); its
//             "clock <us>" line gives the performance counter at time 0 in
//             microseconds, so other logs of the machine can be lined up
//   FilterNotes  "1": the log also notes each filter object's making and
//             end with the number still alive, so a closed channel shows
//   Quiet     "1": no line per property call, and the commands file looked
//             at no more than every half second, so that measuring the
//             agent's own cost does not measure the simulator's logging;
//             the command "calls" then notes how many calls there were
// The state lives until the process ends; each process has its own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "sim/bridge/bridge.h"
#include "sim/bridge/script.h"

namespace boxsim {

// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED): an unplugged box cannot be bound.
constexpr HRESULT kUnpluggedBind = static_cast<HRESULT>(0x8007048Fu);

void initialiseDevices(HMODULE module);  // DLL_PROCESS_ATTACH
void releaseDevices();                   // DLL_PROCESS_DETACH

class Device {
public:
    // The device of a class identifier, made on first use; null when the
    // process already has as many devices as it can hold.
    static Device* forClass(REFCLSID clsid);

    // The control interface's calls, after applying what is due, from a
    // filter made while connection() was `connection`.
    HRESULT setValue(ULONG id, ULONG* word, uint32_t connection);
    HRESULT getValue(ULONG id, ULONG* word, uint32_t connection);
    uint32_t connection();
    // Whether a new filter object may be bound now (false while unplugged).
    bool bindable();
    void noteLoad(const wchar_t* friendlyName);
    // A filter object of this device was made (true) or has ended (false).
    void countFilter(bool made);

    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

private:
    explicit Device(REFCLSID clsid);
    void configure();
    void loadScript(const char* path);
    void poll();
    void readCommands();
    bool quietLookDue();
    bool delay(const std::string& text);
    void runDelayed();
    void note(const char* format, ...);
    void writeLog(const char* text, int length);
    uint32_t elapsed() const;
    uint32_t now() const { return overriding_ ? overrideTick_ : elapsed(); }

    friend void releaseDevices();

    CLSID clsid_;
    bridge::CaptureBox box_;
    bridge::Script script_;
    LARGE_INTEGER start_{};
    LARGE_INTEGER frequency_{};
    bool overriding_ = false;  // a script line runs at its own time
    uint32_t overrideTick_ = 0;
    char commandsPath_[MAX_PATH] = {};
    HANDLE commands_ = INVALID_HANDLE_VALUE;
    uint32_t commandsRetryAt_ = 0;
    ULONGLONG commandsOffset_ = 0;
    bridge::LineCollector collector_;
    std::vector<bridge::ScriptLine> delayed_;  // "after" commands not yet due, in due order
    HANDLE log_ = INVALID_HANDLE_VALUE;
    bool filterNotes_ = false;
    long liveFilters_ = 0;
    bool quiet_ = false;
    uint32_t commandsDueAt_ = 0;  // quiet: the next look at the commands file
    unsigned long calls_ = 0;     // property calls so far
};

}  // namespace boxsim
