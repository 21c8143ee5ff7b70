// boxprobe: finds the capture box the way the agent does and reads its
// remote-control receiver for a while, printing every key it accepts.
//
//   boxprobe <friendly-name prefix> <milliseconds>
//
// A diagnostic for the real COM path: the system device enumerator, the
// moniker's property bag, binding the filter and the driver's control
// interface. Exit status: 0 after the full run, 1 bad arguments, 2 no
// device matched and bound, 3 COM or the enumerator failed, 4 the device
// went away while being read, 5 the filter has no control interface.
#include <windows.h>

#include <dshow.h>
#include <strmif.h>

#include "device/bridge_control.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr ULONG kRegSelect = 0x1005;
constexpr ULONG kRegData = 0x1006;
constexpr ULONG kI2CSelect = 0x1007;
constexpr ULONG kI2CData = 0x1008;
constexpr ULONG kBusAddress = 0x100B;
constexpr ULONG kBusAddressValue = 0x60;
constexpr BYTE kPreStatusRegister = 8;
constexpr BYTE kStatusRegister = 9;
constexpr BYTE kSnapshotRegister = 12;
constexpr BYTE kReceiverAddress = 0x60;
constexpr BYTE kTransferLength = 1;
constexpr ULONG kIdleBit = 0x04;
constexpr ULONG kSnapshotLatch = 0x20;
constexpr ULONG kNoCode = 0xFF;
constexpr ULONG kKeyMask = 0x1F;
constexpr HRESULT kDeviceGone = static_cast<HRESULT>(0x80070001u);
constexpr DWORD kTickMs = 70;
constexpr int kNameBytes = 260;

enum Exit { kDone = 0, kUsage = 1, kNoDevice = 2, kComFailed = 3, kGone = 4, kNoControl = 5 };

// The first video input device whose friendly name starts with `prefix`
// and binds; its name goes to `name`. Null when none does.
IBaseFilter* findFilter(const char* prefix, char (&name)[kNameBytes], HRESULT* failure) {
    ICreateDevEnum* devices = nullptr;
    *failure = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices));
    if (FAILED(*failure) || !devices) return nullptr;
    IEnumMoniker* monikers = nullptr;
    *failure = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    devices->Release();
    if (*failure != S_OK || !monikers) return nullptr;  // S_FALSE: an empty category
    *failure = S_OK;

    IBaseFilter* filter = nullptr;
    IMoniker* moniker = nullptr;
    monikers->Reset();
    while (!filter && monikers->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        bool matched = false;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT value;
            VariantInit(&value);
            value.vt = VT_BSTR;
            if (bag->Read(L"FriendlyName", &value, nullptr) == S_OK && value.vt == VT_BSTR) {
                char text[kNameBytes];
                if (WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, text, sizeof text, nullptr, nullptr) &&
                    std::strncmp(text, prefix, std::strlen(prefix)) == 0) {
                    matched = true;
                    std::memcpy(name, text, sizeof name);
                }
            }
            VariantClear(&value);
            bag->Release();
        }
        if (matched) {
            HRESULT hr = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
            if (FAILED(hr)) {
                std::printf("bind failed 0x%08lX: %s\n", static_cast<unsigned long>(hr), name);
                filter = nullptr;
            }
        }
        moniker->Release();
    }
    monikers->Release();
    return filter;
}

class Box {
public:
    explicit Box(IBridgeControl* control) : control_(control) {}

    HRESULT setBusAddress() {
        ULONG word = kBusAddressValue;
        return control_->SetValue(kBusAddress, &word);
    }

    // One key read: status, and the code byte when the receiver has one.
    HRESULT readKey(ULONG* status, ULONG* code) {
        ULONG localStatus = 0;
        ULONG localCode = 0;
        ULONG scratch = 0;
        transfer(kRegSelect, select(kPreStatusRegister), kRegData, &scratch, false);
        HRESULT r = transfer(kRegSelect, select(kStatusRegister), kRegData, &localStatus, false);
        if (r != S_OK) {
            HRESULT c = transfer(kI2CSelect, selectI2C(kReceiverAddress), kI2CData, &localCode, false);
            return c == kDeviceGone ? kDeviceGone : r;
        }
        *status = localStatus;
        if (localStatus & kIdleBit) return S_OK;
        transfer(kI2CSelect, selectI2C(kReceiverAddress), kI2CData, &localCode, false);
        *code = localCode;
        return S_OK;
    }

    // A latched press of the snapshot button, cleared once seen.
    bool checkSnapshot() {
        ULONG value = 0;
        transfer(kRegSelect, select(kSnapshotRegister), kRegData, &value, false);
        if (!(value & kSnapshotLatch)) return false;
        ULONG cleared = value & 0xFF & ~kSnapshotLatch;
        transfer(kRegSelect, select(kSnapshotRegister), kRegData, &cleared, true);
        return true;
    }

private:
    static ULONG select(BYTE index) { return static_cast<ULONG>(index) << 8 | kTransferLength; }
    static ULONG selectI2C(BYTE address) { return static_cast<ULONG>(address) << 16 | kTransferLength; }

    // Select, then read or write the data; a failure clears the selection.
    HRESULT transfer(ULONG selectId, ULONG selectWord, ULONG dataId, ULONG* word, bool write) {
        HRESULT r = control_->SetValue(selectId, &selectWord);
        if (r >= 0) r = write ? control_->SetValue(dataId, word) : control_->GetValue(dataId, word);
        if (r < 0) {
            ULONG none = 0;
            control_->SetValue(selectId, &none);
        }
        return r;
    }

    IBridgeControl* control_;
};

// Reads keys every tick until `ms` have passed; the agent's handshake
// accepts a key only when the receiver is idle again right after it.
Exit readKeys(Box& box, DWORD ms) {
    DWORD start = GetTickCount();
    unsigned keys = 0;
    for (DWORD next = start;; next += kTickMs) {
        DWORD now = GetTickCount();
        if (now - start >= ms) break;
        if (static_cast<LONG>(next - now) > 0) {
            Sleep(next - now);
        } else if (now - next >= kTickMs) {
            next = now;  // fell behind: a timer skips missed ticks rather than bursting
        }
        if (GetTickCount() - start >= ms) break;

        ULONG status = 0, code = kNoCode;
        HRESULT r = box.readKey(&status, &code);
        if (r == kDeviceGone) {
            std::printf("device gone at %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
            return kGone;
        }
        bool accepted = false;
        if (r == S_OK && !(status & kIdleBit)) {
            ULONG second = kNoCode;
            HRESULT again = box.readKey(&status, &second);
            accepted = again == S_OK && (status & kIdleBit) && code != kNoCode;
            if (!accepted) {
                std::printf("key lost: code 0x%02lX, status 0x%08lX, result 0x%08lX\n", code, status,
                            static_cast<unsigned long>(again));
            }
        } else if (r != S_OK) {
            std::printf("read failed 0x%08lX\n", static_cast<unsigned long>(r));
        }
        if (accepted) {
            ++keys;
            std::printf("key %lu code 0x%02lX at %lu ms\n", code & kKeyMask, code,
                        static_cast<unsigned long>(GetTickCount() - start));
        }
        if (box.checkSnapshot()) {
            std::printf("snapshot at %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
        }
        std::fflush(stdout);
    }
    std::printf("done: %u keys\n", keys);
    return kDone;
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    errno = 0;
    unsigned long ms = argc == 3 ? std::strtoul(argv[2], &end, 10) : 0;
    if (argc != 3 || !argv[1][0] || end == argv[2] || *end != '\0' || errno == ERANGE || ms > 0x7FFFFFFFul) {
        std::fprintf(stderr, "usage: boxprobe <friendly-name prefix> <milliseconds>\n");
        return kUsage;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // a tailing test sees each line at once

    HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        std::printf("CoInitialize failed 0x%08lX\n", static_cast<unsigned long>(hr));
        return kComFailed;
    }
    Exit exit = kDone;
    char name[kNameBytes] = {};
    IBaseFilter* filter = findFilter(argv[1], name, &hr);
    if (!filter) {
        if (FAILED(hr)) {
            std::printf("device enumeration failed 0x%08lX\n", static_cast<unsigned long>(hr));
            exit = kComFailed;
        } else {
            std::printf("no device matching \"%s\"\n", argv[1]);
            exit = kNoDevice;
        }
    } else {
        std::printf("device: %s\n", name);
        IBridgeControl* control = nullptr;
        hr = filter->QueryInterface(IID_IBridgeControl, reinterpret_cast<void**>(&control));
        filter->Release();
        if (FAILED(hr) || !control) {
            std::printf("no control interface: 0x%08lX\n", static_cast<unsigned long>(hr));
            exit = kNoControl;
        } else {
            Box box(control);
            hr = box.setBusAddress();
            std::printf("bus address 0x%02lX written: result 0x%08lX\n", kBusAddressValue,
                        static_cast<unsigned long>(hr));
            exit = readKeys(box, ms);
            control->Release();
        }
    }
    CoUninitialize();
    return exit;
}
