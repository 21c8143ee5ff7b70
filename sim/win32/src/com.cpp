// The COM runtime as the programs use it, the system device enumerator with
// its monikers, property bags and capture filters, the driver's control
// interface on each filter, and BSTRs and VARIANTs.
//
// Every object the simulation hands out belongs to the world's ledger and
// stays allocated until the world is reset, so that a call on an object whose
// last reference is gone is counted as a misuse instead of touching freed
// memory.
#include <sim/world.h>

#include "device/bridge_control.h"

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {
namespace {
class ComObject;
}

struct ComLedger {
    std::vector<std::unique_ptr<ComObject>> objects;
    std::map<std::string, int> live;  // kind -> objects with references outstanding
    std::map<const void*, UINT> bstrs;  // live BSTR -> its length in bytes
    DWORD apartment = COINIT_APARTMENTTHREADED;  // of the current initialisation
    ~ComLedger();
};

namespace {

// The property the device's bag holds.
const wchar_t kFriendlyName[] = L"FriendlyName";
// Longest property name a log line repeats.
constexpr size_t kLoggedNameLimit = 64;
// A BSTR's length prefix.
typedef DWORD BstrPrefix;

ComLedger& ledger(World& w) {
    if (!w.comLedger) w.comLedger = std::make_shared<ComLedger>();
    return *w.comLedger;
}

std::string hex(uint32_t value, const char* format = "0x%X") {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, static_cast<unsigned>(value));
    return buf;
}

std::string hrText(HRESULT hr) { return "hr=" + hex(static_cast<uint32_t>(hr), "0x%08X"); }

std::string guidText(REFGUID g) {
    static const struct {
        const GUID* guid;
        const char* name;
    } known[] = {
        {&IID_IUnknown, "IID_IUnknown"},
        {&IID_IMoniker, "IID_IMoniker"},
        {&IID_IEnumMoniker, "IID_IEnumMoniker"},
        {&IID_IPersist, "IID_IPersist"},
        {&IID_IBindCtx, "IID_IBindCtx"},
        {&IID_IPropertyBag, "IID_IPropertyBag"},
        {&IID_IPersistPropertyBag, "IID_IPersistPropertyBag"},
        {&IID_IErrorLog, "IID_IErrorLog"},
        {&IID_ICreateDevEnum, "IID_ICreateDevEnum"},
        {&IID_IBaseFilter, "IID_IBaseFilter"},
        {&IID_IBridgeControl, "IID_IBridgeControl"},
        {&CLSID_SystemDeviceEnum, "CLSID_SystemDeviceEnum"},
        {&CLSID_VideoInputDeviceCategory, "CLSID_VideoInputDeviceCategory"},
        {&CLSID_AudioInputDeviceCategory, "CLSID_AudioInputDeviceCategory"},
    };
    for (const auto& k : known)
        if (*k.guid == g) return k.name;
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// Wide text for a log line: ASCII kept, anything else as '?', bounded.
std::string narrow(LPCOLESTR text) {
    if (!text) return "(null)";
    std::string out;
    for (size_t i = 0; text[i] && i < kLoggedNameLimit; ++i)
        out += (text[i] > 0 && text[i] < 0x80) ? static_cast<char>(text[i]) : '?';
    return out;
}

bool sameName(LPCOLESTR a, const wchar_t* b) {
    // Property names are registry value names: case does not matter.
    auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

std::wstring wideName(const std::string& name) {
    if (name.empty()) return std::wstring();
    int count = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), &out[0], count);
    return out;
}

std::string ansiName(LPCOLESTR text) {
    int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));  // without the terminator
    return out;
}

// Reference counting, liveness and log text shared by every object.
class ComObject {
public:
    ComObject(ComLedger& ledger, const char* kind, std::shared_ptr<CaptureDeviceEntry> device)
        : ledger_(ledger), kind_(kind), device_(std::move(device)) {
        ++ledger_.live[kind_];
    }
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    ULONG addRef() { return ++refs_; }
    ULONG release() {
        if (--refs_ == 0) {
            --ledger_.live[kind_];
            lastReleased();
        }
        return refs_;
    }
    bool alive() const { return refs_ > 0; }

    // True, and the misuse counted, for a call on an object already released.
    bool dead(const char* method) {
        if (alive()) return false;
        World& w = world();
        ++w.comMisuses;
        w.log(method, who() + " released object");
        return true;
    }
    // "IMoniker device=\"USB Capture\"" for log lines.
    std::string who() const {
        std::string text = kind_;
        if (device_) text += " device=\"" + device_->friendlyName + "\"";
        return text;
    }

protected:
    virtual void lastReleased() {}

    ComLedger& ledger_;
    std::string kind_;
    std::shared_ptr<CaptureDeviceEntry> device_;

private:
    ULONG refs_ = 1;  // born holding the reference handed out
};

template <class T, class... Args>
T* create(Args&&... args) {
    ComLedger& l = ledger(world());
    auto object = std::make_unique<T>(l, std::forward<Args>(args)...);
    T* raw = object.get();
    l.objects.push_back(std::move(object));
    return raw;
}

// IUnknown for an object exposing `Interface` (and IUnknown).
template <class Interface>
class Object : public Interface, public ComObject {
public:
    Object(ComLedger& ledger, const char* kind, const IID& iid, std::shared_ptr<CaptureDeviceEntry> device)
        : ComObject(ledger, kind, std::move(device)), iid_(iid) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (dead("QueryInterface")) return E_UNEXPECTED;
        HRESULT hr = E_NOINTERFACE;
        if (!out) {
            hr = E_POINTER;
        } else {
            *out = find(riid);
            if (*out) hr = S_OK;
        }
        world().log("QueryInterface", who() + " iid=" + guidText(riid) + " " + hrText(hr));
        return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        if (dead("AddRef")) return 0;
        ULONG refs = addRef();
        world().log("AddRef", who() + " refs=" + std::to_string(refs));
        return refs;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (dead("Release")) return 0;
        ULONG refs = release();
        world().log("Release", who() + " refs=" + std::to_string(refs));
        return refs;
    }

    // The interface for `riid` with a reference added, or null.
    virtual void* find(REFIID riid) {
        if (riid == IID_IUnknown || riid == iid_) {
            addRef();
            return static_cast<Interface*>(this);
        }
        return nullptr;
    }

private:
    IID iid_;
};

class Filter;

// The driver's control interface: a separate object on its filter, holding
// the filter for as long as it lives (its IUnknown is the filter's).
class Control : public Object<IBridgeControl> {
public:
    Control(ComLedger& ledger, std::shared_ptr<CaptureDeviceEntry> device, Filter* filter);

    HRESULT STDMETHODCALLTYPE Reserved() override {
        if (dead("IBridgeControl::Reserved")) return E_UNEXPECTED;
        world().log("IBridgeControl::Reserved", who() + " " + hrText(E_NOTIMPL));
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE SetValue(ULONG propertyId, ULONG* word) override {
        if (dead("IBridgeControl::SetValue")) return E_UNEXPECTED;
        // The box answers a missing word itself, as the driver would.
        uint32_t value = word ? *word : 0;
        HRESULT hr = E_UNEXPECTED;
        if (device_->box) hr = device_->box->setValue(propertyId, word ? &value : nullptr);
        world().log("IBridgeControl::SetValue",
                    who() + " id=" + hex(propertyId) + " word=" + hex(value) + " " + hrText(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetValue(ULONG propertyId, ULONG* word) override {
        if (dead("IBridgeControl::GetValue")) return E_UNEXPECTED;
        // A failed read leaves the caller's word as it was.
        uint32_t value = word ? *word : 0;
        HRESULT hr = E_UNEXPECTED;
        if (device_->box) {
            hr = device_->box->getValue(propertyId, word ? &value : nullptr);
            if (word) *word = value;
        }
        world().log("IBridgeControl::GetValue",
                    who() + " id=" + hex(propertyId) + " word=" + hex(value) + " " + hrText(hr));
        return hr;
    }

    void* find(REFIID riid) override;

protected:
    void lastReleased() override;

private:
    Filter* filter_;
};

// The capture filter a device moniker binds to.
class Filter : public Object<IBaseFilter> {
public:
    Filter(ComLedger& ledger, std::shared_ptr<CaptureDeviceEntry> device)
        : Object(ledger, "IBaseFilter", IID_IBaseFilter, std::move(device)) {}

    void* find(REFIID riid) override {
        if (riid == IID_IBridgeControl) {
            if (!device_->answersBridgeControl) return nullptr;
            if (control_) {
                control_->addRef();
            } else {
                control_ = create<Control>(device_, this);
            }
            return static_cast<IBridgeControl*>(control_);
        }
        return Object::find(riid);
    }
    void controlGone() { control_ = nullptr; }

private:
    Control* control_ = nullptr;  // while alive; it holds a reference on this filter
};

Control::Control(ComLedger& ledger, std::shared_ptr<CaptureDeviceEntry> device, Filter* filter)
    : Object(ledger, "IBridgeControl", IID_IBridgeControl, std::move(device)), filter_(filter) {
    filter_->addRef();
}

void* Control::find(REFIID riid) {
    if (riid == IID_IBridgeControl) return Object::find(riid);
    // One identity: everything else is the filter's.
    return filter_->find(riid);
}

void Control::lastReleased() {
    filter_->controlGone();
    filter_->release();
}

class PropertyBag : public Object<IPropertyBag> {
public:
    PropertyBag(ComLedger& ledger, std::shared_ptr<CaptureDeviceEntry> device)
        : Object(ledger, "IPropertyBag", IID_IPropertyBag, std::move(device)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        if (dead("IPropertyBag::Read")) return E_UNEXPECTED;
        HRESULT hr = read(name, value);
        world().log("IPropertyBag::Read", who() + " property=" + narrow(name) +
                                              " vt=" + std::to_string(value && SUCCEEDED(hr) ? value->vt : 0) +
                                              " " + hrText(hr));
        return hr;
    }

    // The name can be renamed through the bag; nothing else can be stored.
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        if (dead("IPropertyBag::Write")) return E_UNEXPECTED;
        HRESULT hr = S_OK;
        if (!name || !value) {
            hr = E_POINTER;
        } else if (!sameName(name, kFriendlyName) || value->vt != VT_BSTR || !value->bstrVal) {
            hr = E_FAIL;
        } else {
            device_->friendlyName = ansiName(value->bstrVal);
        }
        world().log("IPropertyBag::Write", who() + " property=" + narrow(name) + " " + hrText(hr));
        return hr;
    }

private:
    HRESULT read(LPCOLESTR name, VARIANT* value) {
        if (!name || !value) return E_POINTER;
        // The bag is the device's registry key: a value it lacks is not found.
        if (!sameName(name, kFriendlyName)) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
        if (FAILED(device_->nameReadable)) return device_->nameReadable;
        // A type asked for must be the one stored; VT_EMPTY takes whatever it is.
        if (value->vt != VT_EMPTY && value->vt != device_->nameType) return E_INVALIDARG;
        VARIANT answer;
        std::memset(&answer, 0, sizeof answer);
        answer.vt = device_->nameType;
        if (answer.vt == VT_BSTR) {
            std::wstring text = wideName(device_->friendlyName);
            answer.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (!answer.bstrVal) return E_OUTOFMEMORY;
        } else if (answer.vt != VT_EMPTY && answer.vt != VT_NULL) {
            answer.lVal = device_->nameNumber;
        }
        // The caller's VARIANT is overwritten, never cleared: it may hold
        // anything on entry besides the type it asks for.
        *value = answer;
        return device_->nameReadable;
    }
};

class Moniker : public Object<IMoniker> {
public:
    Moniker(ComLedger& ledger, std::shared_ptr<CaptureDeviceEntry> device)
        : Object(ledger, "IMoniker", IID_IMoniker, std::move(device)) {}

    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** out) override {
        if (dead("BindToStorage")) return E_UNEXPECTED;
        HRESULT hr = device_->bindToStorageResult;
        if (!out) {
            hr = E_POINTER;
        } else {
            *out = nullptr;
            if (SUCCEEDED(hr)) {
                if (riid == IID_IPropertyBag || riid == IID_IUnknown)
                    *out = static_cast<IPropertyBag*>(create<PropertyBag>(device_));
                else
                    hr = MK_E_NOSTORAGE;  // a device's only storage is its property bag
            }
        }
        world().log("BindToStorage", who() + " iid=" + guidText(riid) + " " + hrText(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID riid, void** out) override {
        if (dead("BindToObject")) return E_UNEXPECTED;
        HRESULT hr = device_->bindToObjectResult;
        if (!out) {
            hr = E_POINTER;
        } else {
            *out = nullptr;
            if (SUCCEEDED(hr)) {
                // A new filter each time, asked for the interface wanted.
                Filter* filter = create<Filter>(device_);
                *out = filter->find(riid);
                filter->release();
                if (!*out) hr = E_NOINTERFACE;
            }
        }
        world().log("BindToObject", who() + " iid=" + guidText(riid) + " " + hrText(hr));
        return hr;
    }
};

typedef std::vector<std::shared_ptr<CaptureDeviceEntry>> DeviceList;

class MonikerEnum : public Object<IEnumMoniker> {
public:
    MonikerEnum(ComLedger& ledger, DeviceList devices, size_t position)
        : Object(ledger, "IEnumMoniker", IID_IEnumMoniker, nullptr),
          devices_(std::move(devices)),
          position_(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker** monikers, ULONG* fetched) override {
        if (dead("IEnumMoniker::Next")) return E_UNEXPECTED;
        World& w = world();
        if (!monikers || (!fetched && count != 1)) {
            w.log("IEnumMoniker::Next", "count=" + std::to_string(count) + " " + hrText(E_POINTER));
            return E_POINTER;
        }
        ULONG handed = 0;
        std::string names;
        HRESULT hr = S_OK;
        while (handed < count && position_ < devices_.size()) {
            if (w.nextFailsAt >= 0 && position_ >= static_cast<size_t>(w.nextFailsAt)) {
                hr = w.nextFailure;
                break;
            }
            const auto& device = devices_[position_++];
            monikers[handed++] = create<Moniker>(device);
            names += " device=\"" + device->friendlyName + "\"";
        }
        if (FAILED(hr)) {
            // A failed call hands out nothing.
            for (ULONG i = 0; i < handed; ++i) static_cast<Moniker*>(monikers[i])->release();
            handed = 0;
            names.clear();
        } else if (handed < count) {
            hr = S_FALSE;
        }
        for (ULONG i = handed; i < count; ++i) monikers[i] = nullptr;
        if (fetched) *fetched = handed;
        w.log("IEnumMoniker::Next",
              "count=" + std::to_string(count) + " fetched=" + std::to_string(handed) + names + " " + hrText(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        if (dead("IEnumMoniker::Skip")) return E_UNEXPECTED;
        size_t left = devices_.size() - position_;
        size_t skipped = count < left ? count : left;
        position_ += skipped;
        HRESULT hr = skipped == count ? S_OK : S_FALSE;
        world().log("IEnumMoniker::Skip", "count=" + std::to_string(count) + " " + hrText(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Reset() override {
        if (dead("IEnumMoniker::Reset")) return E_UNEXPECTED;
        position_ = 0;
        world().log("IEnumMoniker::Reset", hrText(S_OK));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** copy) override {
        if (dead("IEnumMoniker::Clone")) return E_UNEXPECTED;
        HRESULT hr = S_OK;
        if (!copy)
            hr = E_POINTER;
        else
            *copy = create<MonikerEnum>(devices_, position_);
        world().log("IEnumMoniker::Clone", hrText(hr));
        return hr;
    }

private:
    DeviceList devices_;  // the snapshot taken when the enumerator was made
    size_t position_;
};

class DevEnum : public Object<ICreateDevEnum> {
public:
    explicit DevEnum(ComLedger& ledger) : Object(ledger, "ICreateDevEnum", IID_ICreateDevEnum, nullptr) {}

    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** out, DWORD) override {
        if (dead("CreateClassEnumerator")) return E_UNEXPECTED;
        World& w = world();
        DeviceList listed;
        HRESULT hr = w.createClassEnumResult;
        if (!out) {
            hr = E_POINTER;
        } else {
            *out = nullptr;
            if (hr == S_OK) {
                for (const auto& device : w.captureDevices)
                    if (device && device->category == category) listed.push_back(device);
                // An empty category answers S_FALSE and no enumerator.
                if (listed.empty())
                    hr = S_FALSE;
                else
                    *out = create<MonikerEnum>(listed, 0);
            }
        }
        w.log("CreateClassEnumerator", "category=" + guidText(category) +
                                           " devices=" + std::to_string(listed.size()) + " " + hrText(hr));
        return hr;
    }
};

// The reserved argument is not looked at: the system takes any value.
HRESULT initialize(const char* api, DWORD apartment) {
    World& w = world();
    ++w.coInitializeCalls;
    ComLedger& l = ledger(w);
    HRESULT hr;
    if (FAILED(w.coInitializeResult))
        hr = w.coInitializeResult;
    else if (w.comInitDepth > 0 && l.apartment != apartment)
        hr = RPC_E_CHANGED_MODE;  // not an initialisation: must not be balanced
    else
        hr = w.comInitDepth > 0 ? S_FALSE : S_OK;
    if (SUCCEEDED(hr)) {
        l.apartment = apartment;
        ++w.comInitDepth;
    }
    w.log(api, "depth=" + std::to_string(w.comInitDepth) + " " + hrText(hr));
    return hr;
}

BstrPrefix* prefixOf(BSTR text) { return reinterpret_cast<BstrPrefix*>(text) - 1; }

}  // namespace

ComLedger::~ComLedger() {
    // Strings the program never freed go with the world.
    for (const auto& entry : bstrs) std::free(prefixOf(static_cast<BSTR>(const_cast<void*>(entry.first))));
}

CaptureDeviceEntry& World::addCaptureDevice(const std::string& friendlyName) {
    auto entry = std::make_shared<CaptureDeviceEntry>();
    entry->friendlyName = friendlyName;
    entry->box = std::make_shared<bridge::CaptureBox>([] { return world().now; });
    captureDevices.push_back(entry);
    return *entry;
}

int World::liveComObjects() const {
    int total = 0;
    if (comLedger)
        for (const auto& kind : comLedger->live) total += kind.second;
    return total;
}

int World::liveComObjects(const std::string& kind) const {
    if (!comLedger) return 0;
    auto found = comLedger->live.find(kind);
    return found == comLedger->live.end() ? 0 : found->second;
}

}  // namespace sim

using sim::World;
using sim::world;

// ---- COM runtime ----------------------------------------------------------------------------

HRESULT WINAPI CoInitialize(LPVOID) {
    return sim::initialize("CoInitialize", COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD coInit) {
    return sim::initialize("CoInitializeEx", coInit & COINIT_APARTMENTTHREADED);
}

void WINAPI CoUninitialize(void) {
    World& w = world();
    ++w.coUninitializeCalls;
    if (w.comInitDepth > 0) {
        --w.comInitDepth;
        w.log("CoUninitialize", "depth=" + std::to_string(w.comInitDepth));
    } else {
        ++w.comMisuses;
        w.log("CoUninitialize", "depth=0 not initialised");
    }
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* object) {
    World& w = world();
    HRESULT hr = S_OK;
    if (!object) {
        hr = E_POINTER;
    } else {
        *object = nullptr;
        if (w.comInitDepth == 0)
            hr = CO_E_NOTINITIALIZED;
        else if (outer)
            hr = CLASS_E_NOAGGREGATION;
        else if (clsid != CLSID_SystemDeviceEnum || !(context & CLSCTX_INPROC_SERVER))
            hr = REGDB_E_CLASSNOTREG;  // the only class registered, and only in-process
        else if (FAILED(w.createDevEnumResult))
            hr = w.createDevEnumResult;
        if (SUCCEEDED(hr)) {
            auto* devEnum = sim::create<sim::DevEnum>();
            *object = devEnum->find(riid);
            devEnum->release();
            if (!*object) hr = E_NOINTERFACE;
        }
    }
    w.log("CoCreateInstance", "clsid=" + sim::guidText(clsid) + " iid=" + sim::guidText(riid) + " " + sim::hrText(hr));
    return hr;
}

// ---- BSTR -----------------------------------------------------------------------------------

BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length) {
    size_t bytes = static_cast<size_t>(length) * sizeof(OLECHAR);
    if (bytes > 0xFFFFFFFFu - sizeof(OLECHAR)) return nullptr;  // the prefix holds 32 bits
    auto* prefix = static_cast<sim::BstrPrefix*>(std::malloc(sizeof(sim::BstrPrefix) + bytes + sizeof(OLECHAR)));
    if (!prefix) return nullptr;
    *prefix = static_cast<sim::BstrPrefix>(bytes);
    BSTR result = reinterpret_cast<BSTR>(prefix + 1);
    if (text)
        std::memcpy(result, text, bytes);
    else
        std::memset(result, 0, bytes);
    result[length] = L'\0';
    World& w = world();
    sim::ledger(w).bstrs[result] = static_cast<UINT>(bytes);
    ++w.allocatedBstrs;
    return result;
}

BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void WINAPI SysFreeString(BSTR text) {
    if (!text) return;
    World& w = world();
    auto& bstrs = sim::ledger(w).bstrs;
    auto found = bstrs.find(text);
    if (found == bstrs.end()) {
        // Freed twice, or never a BSTR: the platform's heap would be damaged.
        ++w.comMisuses;
        w.log("SysFreeString", "not a live BSTR");
        return;
    }
    bstrs.erase(found);
    std::free(sim::prefixOf(text));
    --w.allocatedBstrs;
}

UINT WINAPI SysStringByteLen(BSTR text) {
    if (!text) return 0;
    World& w = world();
    auto& bstrs = sim::ledger(w).bstrs;
    auto found = bstrs.find(text);
    if (found == bstrs.end()) {
        ++w.comMisuses;
        w.log("SysStringLen", "not a live BSTR");
        return 0;
    }
    return found->second;
}

UINT WINAPI SysStringLen(BSTR text) { return SysStringByteLen(text) / sizeof(OLECHAR); }

// ---- VARIANT ----------------------------------------------------------------------------------

void WINAPI VariantInit(VARIANTARG* v) {
    if (!v) return;
    v->vt = VT_EMPTY;
    v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
}

HRESULT WINAPI VariantClear(VARIANTARG* v) {
    if (!v) return E_INVALIDARG;
    switch (v->vt) {
    case VT_BSTR:
        SysFreeString(v->bstrVal);
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        if (v->punkVal) v->punkVal->Release();
        break;
    default:
        break;
    }
    v->vt = VT_EMPTY;
    return S_OK;
}
