// The simulated COM runtime, system device enumerator, capture filters and
// their control interface, BSTRs and the ANSI/wide conversions.
#include <sim/world.h>

#include <dshow.h>

#include "device/bridge_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The size of the buffer the device channel reads a friendly name into.
constexpr int kNameBuffer = 260;

// What one walk through the video input devices saw.
struct Walk {
    HRESULT create = E_FAIL;      // CoCreateInstance of the enumerator
    HRESULT enumerate = E_FAIL;   // CreateClassEnumerator
    std::vector<std::string> names;  // names read, in order
    IBridgeControl* control = nullptr;
};

// Walks the enumeration step by step as the device channel does, binding the
// first device called `wanted` (none when null) and asking its filter for the
// control interface. Everything but the control interface is released.
Walk walk(const char* wanted) {
    Walk result;
    ICreateDevEnum* devEnum = nullptr;
    result.create = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(&devEnum));
    if (FAILED(result.create)) return result;
    IEnumMoniker* enumMoniker = nullptr;
    result.enumerate = devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &enumMoniker, 0);
    devEnum->Release();
    if (result.enumerate != S_OK) return result;
    enumMoniker->Reset();
    IBaseFilter* filter = nullptr;
    IMoniker* moniker = nullptr;
    while (!filter && enumMoniker->Next(1, &moniker, nullptr) == S_OK) {
        IPropertyBag* bag = nullptr;
        bool named = false;
        char buffer[kNameBuffer];
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
            VARIANT v;
            v.vt = VT_BSTR;
            if (SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr))) {
                if (v.vt == VT_BSTR) {
                    named = WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, buffer, kNameBuffer, nullptr, nullptr) > 0;
                    SysFreeString(v.bstrVal);
                } else {
                    VariantClear(&v);
                }
            }
            bag->Release();
        }
        if (named) {
            result.names.push_back(buffer);
            if (wanted && std::strcmp(buffer, wanted) == 0)
                moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
        }
        moniker->Release();
    }
    enumMoniker->Release();
    if (filter) {
        filter->QueryInterface(IID_IBridgeControl, reinterpret_cast<void**>(&result.control));
        filter->Release();
    }
    return result;
}

std::vector<std::string> apisCalled() {
    std::vector<std::string> out;
    for (const sim::Call& c : sim::world().calls) out.push_back(c.api);
    return out;
}

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
    sim::World& w() { return sim::world(); }
    // The first video moniker of a fresh enumeration (COM initialised).
    IMoniker* firstMoniker() {
        ICreateDevEnum* devEnum = nullptr;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                         reinterpret_cast<void**>(&devEnum)));
        IEnumMoniker* e = nullptr;
        EXPECT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
        devEnum->Release();
        IMoniker* moniker = nullptr;
        EXPECT_EQ(S_OK, e->Next(1, &moniker, nullptr));
        e->Release();
        return moniker;
    }
};

// ---- the runtime -----------------------------------------------------------------------------

TEST_F(ComTest, InitialisationNestsAndCounts) {
    CoInitialize(nullptr);
    CoInitialize(nullptr);  // already initialised: still counts
    EXPECT_EQ(2, w().comInitDepth);
    CoUninitialize();
    EXPECT_EQ(1, w().comInitDepth);
    CoUninitialize();
    EXPECT_EQ(0, w().comInitDepth);
    EXPECT_EQ(0, w().comMisuses);
    CoUninitialize();  // one too many
    EXPECT_EQ(0, w().comInitDepth);
    EXPECT_EQ(1, w().comMisuses);
    EXPECT_EQ(2, w().coInitializeCalls);
    EXPECT_EQ(3, w().coUninitializeCalls);
}

TEST_F(ComTest, FailedInitialisationDoesNotCount) {
    w().coInitializeResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, CoInitialize(nullptr));
    EXPECT_EQ(0, w().comInitDepth);
    w().coInitializeResult = S_OK;
    CoInitialize(nullptr);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // another threading model: refused
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(2, w().comInitDepth);
    EXPECT_EQ(4, w().coInitializeCalls);
}

TEST_F(ComTest, CreateInstanceAnswersTheScriptedFailure) {
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    void* object = nullptr;
    w().createDevEnumResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY,
              CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum, &object));
    EXPECT_EQ(0, w().liveComObjects());
    CoUninitialize();
}

// ---- enumeration -------------------------------------------------------------------------------

TEST_F(ComTest, WalkReadsNamesInOrderAndReleasesEverything) {
    w().addCaptureDevice("Webcam");
    w().addCaptureDevice("Line In").category = CLSID_AudioInputDeviceCategory;  // another category
    w().addCaptureDevice("USB 2.0 Video Grabber");
    w().addCaptureDevice("TV Box");

    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk(nullptr);
    CoUninitialize();

    EXPECT_EQ(S_OK, seen.enumerate);
    EXPECT_EQ((std::vector<std::string>{"Webcam", "USB 2.0 Video Grabber", "TV Box"}), seen.names);
    EXPECT_EQ(nullptr, seen.control);
    EXPECT_EQ(0, w().liveComObjects());
    EXPECT_EQ(0, w().allocatedBstrs);
    EXPECT_EQ(0, w().comMisuses);
    EXPECT_EQ(0, w().comInitDepth);
}

TEST_F(ComTest, CallsAreLoggedInOrder) {
    w().addCaptureDevice("TV Box");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    ASSERT_NE(nullptr, seen.control);
    seen.control->Release();
    CoUninitialize();

    std::vector<std::string> expected = {
        "CoInitialize", "CoCreateInstance", "CreateClassEnumerator", "Release", "IEnumMoniker::Reset",
        "IEnumMoniker::Next", "BindToStorage", "IPropertyBag::Read", "Release", "BindToObject", "Release",
        "Release", "QueryInterface", "Release", "Release", "CoUninitialize"};
    EXPECT_EQ(expected, apisCalled());
    auto reads = w().callsTo("IPropertyBag::Read");
    ASSERT_EQ(1u, reads.size());
    EXPECT_NE(std::string::npos, reads[0].args.find("device=\"TV Box\""));
    EXPECT_NE(std::string::npos, reads[0].args.find("property=FriendlyName"));
    auto query = w().callsTo("QueryInterface");
    ASSERT_EQ(1u, query.size());
    EXPECT_NE(std::string::npos, query[0].args.find("iid=IID_IBridgeControl"));
}

TEST_F(ComTest, ScriptedEnumeratorAnswers) {
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    // An empty list even though a video device is present, then a failure.
    w().addCaptureDevice("TV Box");
    w().createClassEnumResult = S_FALSE;
    EXPECT_EQ(S_FALSE, walk(nullptr).enumerate);
    w().createClassEnumResult = E_FAIL;
    EXPECT_EQ(E_FAIL, walk(nullptr).enumerate);
    w().createClassEnumResult = S_OK;
    EXPECT_EQ(S_OK, walk(nullptr).enumerate);
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
}

TEST_F(ComTest, UnreadableAndOddNamesAreSkipped) {
    w().addCaptureDevice("Broken").nameReadable = E_FAIL;
    w().addCaptureDevice("Numbered").nameType = VT_I4;
    w().addCaptureDevice("Blank").nameType = VT_EMPTY;
    w().addCaptureDevice("No Storage").bindToStorageResult = E_ACCESSDENIED;
    w().addCaptureDevice("TV Box");

    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    ASSERT_NE(nullptr, seen.control);
    seen.control->Release();
    CoUninitialize();

    EXPECT_EQ(std::vector<std::string>{"TV Box"}, seen.names);
    EXPECT_EQ(5u, w().callsTo("BindToStorage").size());
    EXPECT_EQ(4u, w().callsTo("IPropertyBag::Read").size());
    EXPECT_EQ(0, w().liveComObjects());
    EXPECT_EQ(0, w().allocatedBstrs);
}

TEST_F(ComTest, FailedReadLeavesTheVariantAlone) {
    w().addCaptureDevice("Broken").nameReadable = E_FAIL;
    w().addCaptureDevice("Numbered").nameType = VT_I4;
    w().captureDevices[1]->nameNumber = 42;
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    ICreateDevEnum* devEnum = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(&devEnum)));
    IEnumMoniker* e = nullptr;
    ASSERT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
    IMoniker* monikers[2] = {nullptr, nullptr};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, e->Next(2, monikers, &fetched));
    ASSERT_EQ(2u, fetched);

    IPropertyBag* bag = nullptr;
    ASSERT_EQ(S_OK, monikers[0]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)));
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = nullptr;
    EXPECT_EQ(E_FAIL, bag->Read(L"FriendlyName", &v, nullptr));
    EXPECT_EQ(VT_BSTR, v.vt);
    EXPECT_EQ(nullptr, v.bstrVal);
    bag->Release();

    // A number asked for as a string is refused; asked for as anything, it comes.
    ASSERT_EQ(S_OK, monikers[1]->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)));
    EXPECT_EQ(E_INVALIDARG, bag->Read(L"FriendlyName", &v, nullptr));
    EXPECT_EQ(VT_BSTR, v.vt);
    VariantInit(&v);
    EXPECT_EQ(S_OK, bag->Read(L"FriendlyName", &v, nullptr));
    EXPECT_EQ(VT_I4, v.vt);
    EXPECT_EQ(42, v.lVal);
    EXPECT_EQ(0, w().allocatedBstrs);
    bag->Release();

    for (IMoniker* m : monikers) m->Release();
    e->Release();
    devEnum->Release();
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
}

TEST_F(ComTest, BindFailuresHandOutNothing) {
    w().addCaptureDevice("TV Box").bindToObjectResult = E_OUTOFMEMORY;
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    EXPECT_EQ(std::vector<std::string>{"TV Box"}, seen.names);
    EXPECT_EQ(nullptr, seen.control);
    EXPECT_EQ(0, w().liveComObjects("IBaseFilter"));

    w().captureDevices[0]->bindToObjectResult = S_OK;
    w().captureDevices[0]->answersBridgeControl = false;
    seen = walk("TV Box");
    EXPECT_EQ(nullptr, seen.control);
    auto query = w().callsTo("QueryInterface");
    ASSERT_EQ(1u, query.size());
    EXPECT_NE(std::string::npos, query[0].args.find("hr=0x80004002"));
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
}

TEST_F(ComTest, NextFailingMidwayEndsTheWalk) {
    w().addCaptureDevice("Webcam");
    w().addCaptureDevice("TV Box");
    w().addCaptureDevice("Grabber");
    w().nextFailsAt = 1;
    w().nextFailure = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    EXPECT_EQ(std::vector<std::string>{"Webcam"}, seen.names);
    EXPECT_EQ(nullptr, seen.control);

    // A request for several monikers that runs into the failure hands out none.
    w().nextFailsAt = 2;
    ICreateDevEnum* devEnum = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(&devEnum)));
    IEnumMoniker* e = nullptr;
    ASSERT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
    devEnum->Release();
    IMoniker* monikers[3] = {};
    ULONG fetched = 7;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), e->Next(3, monikers, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(nullptr, monikers[0]);
    EXPECT_EQ(0, w().liveComObjects("IMoniker"));
    e->Release();
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
}

TEST_F(ComTest, EnumeratorSkipsClonesAndResets) {
    w().addCaptureDevice("A");
    w().addCaptureDevice("B");
    w().addCaptureDevice("C");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    ICreateDevEnum* devEnum = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                     reinterpret_cast<void**>(&devEnum)));
    IEnumMoniker* e = nullptr;
    ASSERT_EQ(S_OK, devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &e, 0));
    devEnum->Release();

    EXPECT_EQ(S_OK, e->Skip(1));
    IEnumMoniker* copy = nullptr;
    ASSERT_EQ(S_OK, e->Clone(&copy));
    IMoniker* monikers[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, e->Next(4, monikers, &fetched));  // only B and C are left
    EXPECT_EQ(2u, fetched);
    EXPECT_EQ(nullptr, monikers[2]);
    EXPECT_EQ(E_POINTER, e->Next(2, monikers + 2, nullptr));
    EXPECT_EQ(2, w().liveComObjects("IMoniker"));
    for (ULONG i = 0; i < fetched; ++i) monikers[i]->Release();

    EXPECT_EQ(S_FALSE, copy->Skip(5));  // the copy was at B: two left
    ASSERT_EQ(S_OK, copy->Reset());
    IMoniker* first = nullptr;
    ASSERT_EQ(S_OK, copy->Next(1, &first, nullptr));
    IPropertyBag* bag = nullptr;
    ASSERT_EQ(S_OK, first->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)));
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(S_OK, bag->Read(L"FriendlyName", &v, nullptr));
    ASSERT_EQ(VT_BSTR, v.vt);
    EXPECT_EQ(std::wstring(L"A"), std::wstring(v.bstrVal));
    EXPECT_EQ(S_OK, VariantClear(&v));
    bag->Release();
    first->Release();
    copy->Release();
    e->Release();
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
    EXPECT_EQ(0, w().allocatedBstrs);
}

TEST_F(ComTest, HeldObjectsOutliveTheirEntry) {
    w().addCaptureDevice("TV Box");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    IMoniker* moniker = firstMoniker();
    std::shared_ptr<bridge::CaptureBox> box = w().captureDevices[0]->box;
    w().captureDevices.clear();  // the device goes from the list while its moniker is held

    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    moniker->Release();
    IBridgeControl* control = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IBridgeControl, reinterpret_cast<void**>(&control)));
    filter->Release();
    ULONG word = 0x60;
    EXPECT_EQ(S_OK, control->SetValue(bridge::PROP_BUS_ADDRESS, &word));
    EXPECT_EQ(0x60u, box->busAddress());
    control->Release();
    CoUninitialize();
    EXPECT_EQ(0, w().liveComObjects());
}

TEST_F(ComTest, ControlKeepsItsFilter) {
    w().addCaptureDevice("TV Box");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    IMoniker* moniker = firstMoniker();
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    moniker->Release();
    IBridgeControl* control = nullptr;
    ASSERT_EQ(S_OK, filter->QueryInterface(IID_IBridgeControl, reinterpret_cast<void**>(&control)));
    // The control interface still holds the filter.
    EXPECT_EQ(1u, filter->Release());
    EXPECT_EQ(1, w().liveComObjects("IBaseFilter"));
    EXPECT_EQ(1, w().liveComObjects("IBridgeControl"));
    EXPECT_EQ(0u, control->Release());
    EXPECT_EQ(0, w().liveComObjects());
    EXPECT_EQ(0, w().comMisuses);
    CoUninitialize();
}

TEST_F(ComTest, CallsOnReleasedObjectsAreCounted) {
    w().addCaptureDevice("TV Box");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    IMoniker* moniker = firstMoniker();
    EXPECT_EQ(0u, moniker->Release());
    EXPECT_EQ(0u, moniker->Release());
    void* object = nullptr;
    EXPECT_EQ(E_UNEXPECTED, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(2, w().comMisuses);
    EXPECT_EQ(0, w().liveComObjects());
    CoUninitialize();
}

// ---- the driver's control interface ---------------------------------------------------------------

TEST_F(ComTest, ControlCallsReachTheBox) {
    sim::CaptureDeviceEntry& device = w().addCaptureDevice("TV Box");
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    ASSERT_NE(nullptr, seen.control);
    w().now = 1234;

    ULONG word = bridge::RECEIVER_ADDRESS;
    EXPECT_EQ(S_OK, seen.control->SetValue(bridge::PROP_BUS_ADDRESS, &word));
    ULONG read = 0;
    EXPECT_EQ(S_OK, seen.control->GetValue(bridge::PROP_BUS_ADDRESS, &read));
    EXPECT_EQ(ULONG{bridge::RECEIVER_ADDRESS}, read);

    // An injected failure comes back as the call's result; the word is untouched.
    device.box->failNext(bridge::PROP_BUS_ADDRESS, false, bridge::GEN_FAILURE);
    read = 0xABCD;
    EXPECT_EQ(HRESULT{bridge::GEN_FAILURE}, seen.control->GetValue(bridge::PROP_BUS_ADDRESS, &read));
    EXPECT_EQ(0xABCDu, read);

    const auto& log = device.box->log();
    ASSERT_EQ(3u, log.size());
    EXPECT_TRUE(log[0].set);
    EXPECT_EQ(bridge::PROP_BUS_ADDRESS, log[0].id);
    EXPECT_EQ(uint32_t{bridge::RECEIVER_ADDRESS}, log[0].value);
    EXPECT_EQ(1234u, log[0].time);  // the box runs on the world's clock
    EXPECT_FALSE(log[1].set);
    EXPECT_EQ(bridge::GEN_FAILURE, log[2].result);

    auto sets = w().callsTo("IBridgeControl::SetValue");
    ASSERT_EQ(1u, sets.size());
    EXPECT_NE(std::string::npos, sets[0].args.find("id=0x100B word=0x60 hr=0x00000000"));
    EXPECT_EQ(2u, w().callsTo("IBridgeControl::GetValue").size());

    seen.control->Release();
    CoUninitialize();
}

TEST_F(ComTest, ControlWithoutBoxFails) {
    w().addCaptureDevice("TV Box").box.reset();
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk("TV Box");
    ASSERT_NE(nullptr, seen.control);
    ULONG word = 5;
    EXPECT_EQ(E_UNEXPECTED, seen.control->SetValue(bridge::PROP_REG_SELECT, &word));
    EXPECT_EQ(E_UNEXPECTED, seen.control->GetValue(bridge::PROP_REG_DATA, &word));
    EXPECT_EQ(5u, word);
    seen.control->Release();
    CoUninitialize();
}

// ---- strings -----------------------------------------------------------------------------------------

TEST_F(ComTest, BstrsAreCounted) {
    BSTR text = SysAllocString(L"TV Box");
    const OLECHAR embedded[] = {L'a', L'\0', L'b'};
    BSTR withZero = SysAllocStringLen(embedded, 3);
    SysAllocString(nullptr);
    EXPECT_EQ(2, w().allocatedBstrs);

    SysFreeString(text);
    SysFreeString(withZero);
    SysFreeString(nullptr);
    EXPECT_EQ(0, w().allocatedBstrs);
    EXPECT_EQ(0, w().comMisuses);
    SysFreeString(text);  // a second free
    EXPECT_EQ(1, w().comMisuses);
    EXPECT_EQ(0, w().allocatedBstrs);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"x");
    VariantClear(&v);
    EXPECT_EQ(0, w().allocatedBstrs);
}

TEST_F(ComTest, NameTooLongForTheChannelBufferIsNeverReadAsAName) {
    w().addCaptureDevice(std::string(kNameBuffer, 'n'));
    w().addCaptureDevice(std::string(kNameBuffer - 1, 'm'));
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    Walk seen = walk(nullptr);
    CoUninitialize();
    EXPECT_EQ(std::vector<std::string>{std::string(kNameBuffer - 1, 'm')}, seen.names);
    EXPECT_EQ(0, w().allocatedBstrs);
}

TEST_F(ComTest, ConversionsFollowTheAnsiCodePage) {
    // Windows-1252: the euro sign is 0x80, e-acute 0xE9; a Greek letter has no byte.
    const wchar_t wide[] = {L'T', 0x20AC, 0x00E9, 0x03A9, L'\0'};
    char out[8];
    BOOL usedDefault = FALSE;
    ASSERT_EQ(5, WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, &usedDefault));
    EXPECT_EQ('T', out[0]);
    EXPECT_EQ(static_cast<char>(0x80), out[1]);
    EXPECT_EQ(static_cast<char>(0xE9), out[2]);
    EXPECT_EQ('?', out[3]);
    EXPECT_TRUE(usedDefault);
    const char dash = '-';
    ASSERT_EQ(2, WideCharToMultiByte(CP_ACP, 0, wide + 2, 2, out, sizeof out, &dash, &usedDefault));
    EXPECT_EQ('-', out[1]);

    WCHAR back[8];
    ASSERT_EQ(4, MultiByteToWideChar(CP_ACP, 0, "\x80\xE9z", -1, back, 8));
    EXPECT_EQ(WCHAR(0x20AC), back[0]);
    EXPECT_EQ(WCHAR(0x00E9), back[1]);
    EXPECT_EQ(L'\0', back[3]);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", -1, back, 3));
    EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetLastError());
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "abc", 3, back, 3));  // no terminator asked for

    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "abc", 0, back, 8));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(437, 0, wide, -1, out, sizeof out, nullptr, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_EQ(0, WideCharToMultiByte(CP_ACP, 0x80, wide, -1, out, sizeof out, nullptr, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_FLAGS}, GetLastError());
}

}  // namespace
