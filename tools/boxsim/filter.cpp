// The capture filter that the system device enumerator binds for a
// registered box, its class factory and the DLL's exports. The filter does
// no streaming: it exists to be found, bound, loaded from its property bag
// and asked for the driver's control interface.
#include "device.h"

#include <dshow.h>
#include <ocidl.h>
#include <strmif.h>

#include "device/bridge_control.h"

#include <new>

namespace boxsim {

namespace {

LONG g_serverLocks = 0;

// A filter without pins: its pin enumerator is always empty.
class EmptyPins final : public IEnumPins {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumPins)) {
            *ppv = static_cast<IEnumPins*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (!pins) return E_POINTER;
        if (fetched) *fetched = 0;
        return count == 0 ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override { return count == 0 ? S_OK : S_FALSE; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(IEnumPins** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EmptyPins();
        return *out ? S_OK : E_OUTOFMEMORY;
    }

private:
    LONG refs_ = 1;
};

class Filter final : public IBaseFilter, public IPersistPropertyBag, public IBridgeControl {
public:
    Filter(REFCLSID clsid, Device* device) : clsid_(clsid), device_(device), connection_(device->connection()) {
        device_->countFilter(true);
    }

    // ---- IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPersist) || IsEqualIID(riid, IID_IMediaFilter) ||
            IsEqualIID(riid, IID_IBaseFilter)) {
            *ppv = static_cast<IBaseFilter*>(this);
        } else if (IsEqualIID(riid, IID_IPersistPropertyBag)) {
            *ppv = static_cast<IPersistPropertyBag*>(this);
        } else if (IsEqualIID(riid, IID_IBridgeControl)) {
            *ppv = static_cast<IBridgeControl*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }

    // ---- IPersist
    STDMETHODIMP GetClassID(CLSID* out) override {
        if (!out) return E_POINTER;
        *out = clsid_;
        return S_OK;
    }

    // ---- IMediaFilter
    STDMETHODIMP Stop() override { return setState(State_Stopped); }
    STDMETHODIMP Pause() override { return setState(State_Paused); }
    STDMETHODIMP Run(REFERENCE_TIME) override { return setState(State_Running); }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        if (!state) return E_POINTER;
        *state = static_cast<FILTER_STATE>(InterlockedCompareExchange(&state_, 0, 0));
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        if (clock) clock->AddRef();
        IReferenceClock* old = static_cast<IReferenceClock*>(
            InterlockedExchangePointer(reinterpret_cast<void**>(&clock_), clock));
        if (old) old->Release();
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** out) override {
        if (!out) return E_POINTER;
        // The graph sets the clock while stopped, not while it is being read.
        *out = clock_;
        if (*out) (*out)->AddRef();
        return S_OK;
    }

    // ---- IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** out) override {
        if (!out) return E_POINTER;
        *out = new (std::nothrow) EmptyPins();
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP FindPin(LPCWSTR, IPin** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
        if (!info) return E_POINTER;
        lstrcpynW(info->achName, joinName_[0] ? joinName_ : friendlyName_, MAX_FILTER_NAME);
        info->pGraph = graph_;
        if (graph_) graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        // The graph holds the filter; holding the graph back would make a cycle.
        graph_ = graph;
        if (graph && name) {
            lstrcpynW(joinName_, name, MAX_FILTER_NAME);
        } else {
            joinName_[0] = L'\0';
        }
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    // ---- IPersistPropertyBag
    STDMETHODIMP InitNew() override { return S_OK; }
    STDMETHODIMP Load(IPropertyBag* bag, IErrorLog* errors) override {
        if (!bag) return E_POINTER;
        VARIANT name;
        VariantInit(&name);
        name.vt = VT_BSTR;
        HRESULT hr = bag->Read(L"FriendlyName", &name, errors);
        if (hr == S_OK && name.vt == VT_BSTR && name.bstrVal) {
            lstrcpynW(friendlyName_, name.bstrVal, MAX_FILTER_NAME);
            device_->noteLoad(friendlyName_);
        }
        VariantClear(&name);
        return S_OK;
    }
    STDMETHODIMP Save(IPropertyBag*, BOOL, BOOL) override { return E_NOTIMPL; }

    // ---- IBridgeControl
    STDMETHODIMP Reserved() override { return E_NOTIMPL; }
    STDMETHODIMP SetValue(ULONG id, ULONG* word) override {
        try {
            return device_->setValue(id, word, connection_);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP GetValue(ULONG id, ULONG* word) override {
        try {
            return device_->getValue(id, word, connection_);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    ~Filter() {
        if (clock_) clock_->Release();
        device_->countFilter(false);
    }
    HRESULT setState(FILTER_STATE state) {
        InterlockedExchange(&state_, static_cast<LONG>(state));
        return S_OK;
    }

    LONG refs_ = 1;
    CLSID clsid_;
    Device* device_;
    uint32_t connection_;  // the box's connection when this filter was bound
    LONG state_ = State_Stopped;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;  // not counted, see JoinFilterGraph
    WCHAR friendlyName_[MAX_FILTER_NAME] = {};
    WCHAR joinName_[MAX_FILTER_NAME] = {};
};

// One factory per class identifier asked for: the identifier says which box.
class Factory final : public IClassFactory {
public:
    explicit Factory(REFCLSID clsid) : clsid_(clsid) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&refs_); }
    STDMETHODIMP_(ULONG) Release() override {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            Device* device = Device::forClass(clsid_);
            if (!device) return E_OUTOFMEMORY;
            if (!device->bindable()) return kUnpluggedBind;
            Filter* filter = new (std::nothrow) Filter(clsid_, device);
            if (!filter) return E_OUTOFMEMORY;
            HRESULT hr = filter->QueryInterface(riid, ppv);
            filter->Release();
            return hr;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock) {
            InterlockedIncrement(&g_serverLocks);
        } else {
            InterlockedDecrement(&g_serverLocks);
        }
        return S_OK;
    }

private:
    LONG refs_ = 1;
    CLSID clsid_;
};

}  // namespace

}  // namespace boxsim

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        boxsim::initialiseDevices(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // An explicit unload: close the files. At process exit the system does.
        boxsim::releaseDevices();
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    boxsim::Factory* factory = new (std::nothrow) boxsim::Factory(clsid);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

// The boxes' state must outlive their filter objects (the agent reopens the
// box every few seconds), so the server never agrees to be unloaded.
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return S_FALSE; }
