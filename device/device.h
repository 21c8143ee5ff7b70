// The device channel: the capture box found among the video capture devices,
// its driver's control interface, and the register and I2C accesses that read
// the remote-control receiver and the snapshot button.
#pragma once

#include <windows.h>
#include <dshow.h>

#include "device/bridge_control.h"

// Property identifiers of IBridgeControl; one 32-bit word each.
constexpr ULONG BRIDGE_REG_SELECT = 0x1005;
constexpr ULONG BRIDGE_REG_DATA = 0x1006;
constexpr ULONG BRIDGE_I2C_SELECT = 0x1007;
constexpr ULONG BRIDGE_I2C_DATA = 0x1008;
constexpr ULONG BRIDGE_BUS_ADDRESS = 0x100B;

// Bridge registers and the receiver.
constexpr BYTE BRIDGE_REG_PRE_STATUS = 8;
constexpr BYTE BRIDGE_REG_RECEIVER_STATUS = 9;
constexpr BYTE BRIDGE_REG_SNAPSHOT = 12;
constexpr DWORD RECEIVER_IDLE = 0x04;
constexpr DWORD SNAPSHOT_LATCH = 0x20;
constexpr BYTE RECEIVER_I2C_ADDRESS = 0x60;
constexpr DWORD RECEIVER_NO_KEY = 0xFF;
constexpr DWORD BUS_ADDRESS = 0x60;
constexpr BYTE ACCESS_LENGTH = 1;

// Results the channel's callers act on.
constexpr HRESULT RESULT_NO_CONTROL = 6;
constexpr HRESULT RESULT_DEVICE_GONE = static_cast<HRESULT>(0x80070001u);
constexpr HRESULT RESULT_GEN_FAILURE = static_cast<HRESULT>(0x8007001Fu);

// Models the open sequence probes for, by the name their driver registers.
constexpr LONG MODEL_NONE = 0;
constexpr LONG MODEL_2800 = 1;
constexpr LONG MODEL_2820 = 2;
constexpr LONG MODEL_2821 = 4;

// Friendly names are converted into buffers of this size.
constexpr int FRIENDLY_NAME_CAPACITY = 260;

// The friendly-name prefixes of the boxes the agent serves, in the order the
// fallback search tries them.
extern const char* const MODEL_FALLBACK_NAMES[12];

class CaptureDevice {
public:
    CaptureDevice() : control(nullptr), lastResult(0) {}

    // An owned filter reference of the first device in `category` whose
    // friendly name starts with `name` and that binds, or null.
    IBaseFilter* findFilter(REFGUID category, const char* name);
    // findFilter over the fallback list; `foundUnder` receives the prefix that matched.
    IBaseFilter* findAnyFilter(const char** foundUnder = nullptr);
    // The control interface of the device named `name`, else of any box of the
    // fallback list; `foundUnder` receives the name the device was found under.
    IBridgeControl* attach(const char* name, const char** foundUnder = nullptr);
    void detach();

    HRESULT readRegister(BYTE index, BYTE length, DWORD* buffer);
    HRESULT writeRegister(BYTE index, BYTE length, const DWORD* word);
    HRESULT readI2C(BYTE address, BYTE length, DWORD* buffer);
    HRESULT readStatus(DWORD* status);
    HRESULT setBusAddress(DWORD value);

    IBridgeControl* control;
    HRESULT lastResult;

private:
    HRESULT selectThenData(ULONG selectId, ULONG selectWord, ULONG dataId, DWORD* word, bool write);
};

// Channel state: the device object of the current open, and the model seen.
extern CaptureDevice* remoteDevice;
extern LONG deviceModel;

bool openRemoteDevice();
void closeRemoteDevice();

HRESULT readRemoteKey(DWORD* status, DWORD* code);
bool checkSnapshotButton();
void primeRemoteReceiver();

#ifdef SIM_WIN32
// Host build: the channel's process state as at program start.
void resetDeviceChannel();
#endif
