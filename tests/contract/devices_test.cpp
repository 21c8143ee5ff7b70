// The system device enumerator as the agent walks it to find the capture
// box: the video input devices listed, each one's name read from its property
// bag, the box bound as a filter and asked for the driver's control interface.
#include "contract.h"

#include <dshow.h>

#include "device/device.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

// One COM reference, given back when it goes.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    ~Ref() { reset(); }
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T* operator->() const { return p; }
    T** put() { return reset(), &p; }
    void** out() { return reinterpret_cast<void**>(put()); }
};

// A category made up for these tests: nothing is registered in it anywhere.
const GUID kEmptyCategory = {0x3C1A7E52, 0x90B4, 0x4D6F, {0x8E, 0x21, 0x5B, 0x7A, 0x0C, 0x94, 0xD3, 0x6E}};

class Devices : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        initialised_ = true;
    }
    void TearDown() override {
        if (initialised_) CoUninitialize();
    }
    bool initialised_ = false;
};

// The friendly name as the agent reads it: asked for as a BSTR.
std::string friendlyName(IMoniker* moniker) {
    Ref<IPropertyBag> bag;
    EXPECT_EQ(S_OK, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out()));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    char name[FRIENDLY_NAME_CAPACITY] = "";
    EXPECT_TRUE(bag.p && bag->Read(L"FriendlyName", &value, nullptr) == S_OK && value.vt == VT_BSTR);
    if (value.vt == VT_BSTR && value.bstrVal)
        WideCharToMultiByte(CP_ACP, 0, value.bstrVal, -1, name, sizeof name, nullptr, nullptr);
    VariantClear(&value);
    return name;
}

// The identifiers the agent names, by value: a wrong byte asks for something else.
TEST_F(Devices, IdentifiersHaveThePlatformsValues) {
    const struct {
        const GUID& guid;
        GUID value;
    } known[] = {
        {CLSID_SystemDeviceEnum, {0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}}},
        {CLSID_VideoInputDeviceCategory, {0x860BB310, 0x5D01, 0x11D0, {0xBD, 0x3B, 0, 0xA0, 0xC9, 0x11, 0xCE, 0x86}}},
        {IID_ICreateDevEnum, {0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}}},
        {IID_IPropertyBag, {0x55272A00, 0x42CB, 0x11CE, {0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51}}},
        {IID_IBaseFilter, {0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}},
    };
    for (const auto& k : known) EXPECT_TRUE(IsEqualGUID(k.guid, k.value)) << std::hex << k.value.Data1;
    GUID copy = CLSID_VideoInputDeviceCategory;
    copy.Data4[7] ^= 1;
    EXPECT_FALSE(IsEqualGUID(copy, CLSID_VideoInputDeviceCategory));
}

// The agent initialises COM at every open of the box, whoever else has.
TEST_F(Devices, InitialisationNestsAndTheEnumeratorNeedsIt) {
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));  // already initialised: it counts all the same
    EXPECT_EQ(RPC_E_CHANGED_MODE, CoInitializeEx(nullptr, COINIT_MULTITHREADED));  // and does not count
    CoUninitialize();
    CoUninitialize();
    initialised_ = false;
    void* object = &object;
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                                    IID_ICreateDevEnum, &object));
    EXPECT_EQ(nullptr, object);
}

TEST_F(Devices, VideoInputListsTheBoxWhoseFilterHandsOutTheControl) {
    Ref<ICreateDevEnum> devEnum;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     devEnum.out()));
    // A category nothing is registered in: S_FALSE and no enumerator.
    IEnumMoniker* none = reinterpret_cast<IEnumMoniker*>(&devEnum);
    EXPECT_EQ(S_FALSE, devEnum->CreateClassEnumerator(kEmptyCategory, &none, 0));
    EXPECT_EQ(nullptr, none);

    Ref<IEnumMoniker> monikers;
    ASSERT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0));
    ASSERT_NE(nullptr, monikers.p);
    EXPECT_EQ(S_OK, monikers->Reset());
    std::vector<std::string> names;
    Ref<IMoniker> moniker;
    Ref<IBaseFilter> filter;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
        names.push_back(friendlyName(moniker.p));
        if (names.back() != contract::captureBoxName() || filter.p) continue;
        // The bag is the device's registry key: names in any case, nothing more in it.
        Ref<IPropertyBag> bag;
        ASSERT_EQ(S_OK, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.out()));
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(S_OK, bag->Read(L"friendlyname", &value, nullptr));
        EXPECT_EQ(VT_BSTR, value.vt);
        VariantClear(&value);
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), bag->Read(L"TunerpadNoSuchValue", &value, nullptr));
        void* object = nullptr;
        EXPECT_EQ(MK_E_NOSTORAGE, moniker->BindToStorage(nullptr, nullptr, IID_IBaseFilter, &object));
        EXPECT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.out()));
    }
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), contract::captureBoxName()));
    // Past the end: S_FALSE and nothing fetched, as often as asked.
    ULONG fetched = 7;
    EXPECT_EQ(S_FALSE, monikers->Next(1, moniker.put(), &fetched));
    EXPECT_EQ(0u, fetched);

    // The agent keeps the control interface and lets go of the filter at once.
    ASSERT_NE(nullptr, filter.p);
    Ref<IBridgeControl> control;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IBridgeControl, control.out()));
    filter.reset();
    ULONG word = BUS_ADDRESS;
    EXPECT_EQ(S_OK, control->SetValue(BRIDGE_BUS_ADDRESS, &word));
    word = 0;
    EXPECT_EQ(S_OK, control->GetValue(BRIDGE_BUS_ADDRESS, &word));
    EXPECT_EQ(BUS_ADDRESS, word);
}

// The name goes into the agent's buffer only when it fits with its terminator.
TEST_F(Devices, NameConvertsIntoTheBufferOnlyWithItsTerminator) {
    const int kSize = FRIENDLY_NAME_CAPACITY;
    const std::wstring fits(kSize - 1, L'x'), tooLong(kSize, L'x');
    char name[kSize];
    EXPECT_EQ(kSize, WideCharToMultiByte(CP_ACP, 0, fits.c_str(), -1, name, kSize, nullptr, nullptr));
    EXPECT_EQ(std::string(kSize - 1, 'x'), std::string(name));
    SetLastError(0);
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0, tooLong.c_str(), -1, name, kSize, nullptr, nullptr));
    EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError());
    EXPECT_EQ(kSize + 1, WideCharToMultiByte(CP_ACP, 0, tooLong.c_str(), -1, nullptr, 0, nullptr, nullptr));
}

}  // namespace
