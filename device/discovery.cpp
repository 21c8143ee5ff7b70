// Finding the capture box among the video capture devices, and the life of
// the channel: COM initialisation, the device object, the model seen.
#include <cstring>
#include <new>

#include "device/device.h"

const char* const MODEL_FALLBACK_NAMES[12] = {
    "USB 2800 Video", "USB 2801 Video", "USB 2700 Camera", "USB 2701 Camera",
    "USB 2840 Video", "USB 2841 Video", "USB 2830 Video", "USB 2831 Video",
    "USB 2820 Video", "USB 2821 Video", "USB 2710 Camera", "USB 2711 Camera",
};

CaptureDevice* remoteDevice = nullptr;
LONG deviceModel = MODEL_NONE;

namespace {

const char NAME_2800[] = "USB 2800 Video";
const char NAME_2820[] = "USB 2820 Video";
const char NAME_2821[] = "USB 2821 Video";
constexpr size_t PRESENCE_NAME_CAPACITY = 32;

// The name the attached box was found under. Like the model it is kept across
// closes, so a box that comes back is checked for under its own name whatever
// fallback name it registers.
char presenceName[PRESENCE_NAME_CAPACITY];

LONG modelOf(const char* name) {
    if (std::strcmp(name, NAME_2820) == 0) return MODEL_2820;
    if (std::strcmp(name, NAME_2821) == 0) return MODEL_2821;
    return MODEL_2800;
}

void rememberPresenceName(const char* name) {
    std::strncpy(presenceName, name, sizeof presenceName - 1);
    presenceName[sizeof presenceName - 1] = '\0';
}

// Reads a moniker's friendly name into `name`; false when it cannot be read
// or does not fit.
bool readFriendlyName(IMoniker* moniker, char (&name)[FRIENDLY_NAME_CAPACITY], HRESULT* result) {
    IPropertyBag* bag = nullptr;
    *result = moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag));
    if (FAILED(*result) || !bag) return false;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = nullptr;
    *result = bag->Read(L"FriendlyName", &value, nullptr);
    bool readable = false;
    if (*result == S_OK) {
        if (value.vt == VT_BSTR && value.bstrVal) {
            readable = WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, name, FRIENDLY_NAME_CAPACITY, nullptr,
                                           nullptr) != 0;
            SysFreeString(value.bstrVal);
        } else {
            VariantClear(&value);
        }
    }
    bag->Release();
    return readable;
}

}  // namespace

IBaseFilter* CaptureDevice::findFilter(REFGUID category, const char* name) {
    ICreateDevEnum* devEnum = nullptr;
    lastResult = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&devEnum));
    if (FAILED(lastResult) || !devEnum) return nullptr;
    IEnumMoniker* monikers = nullptr;
    lastResult = devEnum->CreateClassEnumerator(category, &monikers, 0);
    devEnum->Release();
    if (lastResult != S_OK || !monikers) {
        if (monikers) monikers->Release();
        return nullptr;
    }
    lastResult = monikers->Reset();

    size_t nameLength = std::strlen(name);
    IBaseFilter* filter = nullptr;
    IMoniker* moniker = nullptr;
    while (!filter && (lastResult = monikers->Next(1, &moniker, nullptr)) == S_OK) {
        char friendly[FRIENDLY_NAME_CAPACITY];
        if (readFriendlyName(moniker, friendly, &lastResult) && std::strncmp(friendly, name, nameLength) == 0) {
            IBaseFilter* bound = nullptr;
            lastResult = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&bound));
            if (SUCCEEDED(lastResult) && bound) filter = bound;
            else if (bound) bound->Release();
        }
        moniker->Release();
        moniker = nullptr;
    }
    monikers->Release();
    return filter;
}

IBaseFilter* CaptureDevice::findAnyFilter(const char** foundUnder) {
    for (const char* name : MODEL_FALLBACK_NAMES) {
        if (IBaseFilter* filter = findFilter(CLSID_VideoInputDeviceCategory, name)) {
            if (foundUnder) *foundUnder = name;
            return filter;
        }
    }
    return nullptr;
}

IBridgeControl* CaptureDevice::attach(const char* name, const char** foundUnder) {
    const char* under = name;
    IBaseFilter* filter = findFilter(CLSID_VideoInputDeviceCategory, name);
    if (!filter) filter = findAnyFilter(&under);
    if (!filter) return nullptr;
    lastResult = filter->QueryInterface(IID_IBridgeControl, reinterpret_cast<void**>(&control));
    filter->Release();
    if (FAILED(lastResult)) {
        control = nullptr;
        return nullptr;
    }
    if (foundUnder) *foundUnder = under;
    return control;
}

void CaptureDevice::detach() {
    if (!control) return;
    control->Release();
    control = nullptr;
}

bool openRemoteDevice() {
    if (remoteDevice) closeRemoteDevice();
    CoInitialize(nullptr);
    remoteDevice = new (std::nothrow) CaptureDevice();
    if (!remoteDevice) {
        CoUninitialize();
        return false;
    }

    // The probes keep their order; the model and the name checked for
    // presence follow the box that was actually attached, which may have been
    // found under any name of the fallback list.
    static const char* const probes[] = {NAME_2800, NAME_2820, NAME_2821};
    const char* foundUnder = nullptr;
    for (const char* probe : probes) {
        if (remoteDevice->attach(probe, &foundUnder)) {
            deviceModel = modelOf(foundUnder);
            rememberPresenceName(foundUnder);
            break;
        }
    }
    if (!remoteDevice->control && deviceModel == MODEL_NONE) {
        delete remoteDevice;
        remoteDevice = nullptr;
        CoUninitialize();
        return false;
    }

    bool present = false;
    if (IBaseFilter* filter = remoteDevice->findFilter(CLSID_VideoInputDeviceCategory, presenceName)) {
        filter->Release();
        present = true;
    }
    remoteDevice->lastResult = remoteDevice->setBusAddress(BUS_ADDRESS);
    // A box that is listed but hands out no control interface (its driver is
    // still starting after a replug) cannot be read: every access would answer
    // RESULT_NO_CONTROL, never "gone", and the key poll would run forever
    // without a key. It counts as not found, so the retry goes on.
    return present && remoteDevice->control != nullptr;
}

void closeRemoteDevice() {
    if (!remoteDevice) return;
    remoteDevice->detach();
    delete remoteDevice;
    remoteDevice = nullptr;
    CoUninitialize();
}

#ifdef SIM_WIN32
void resetDeviceChannel() {
    // A scenario that ended with the agent still running left its object, as
    // a process ends with its memory: the system takes it back. Its interface
    // belonged to that process's desktop and is not released here.
    delete remoteDevice;
    remoteDevice = nullptr;
    deviceModel = MODEL_NONE;
    presenceName[0] = '\0';
}
#endif
