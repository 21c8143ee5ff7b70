// Host stand-in for the part of <strmif.h> the programs use: the system
// device enumerator and the filter a device moniker binds to.
#pragma once

#include <objbase.h>
#include <oleauto.h>

// Flags of ICreateDevEnum::CreateClassEnumerator.
#define CDEF_DEVMON_CMGR_DEVICE 0x2
#define CDEF_DEVMON_DMO 0x4
#define CDEF_DEVMON_PNP_DEVICE 0x8
#define CDEF_DEVMON_FILTER 0x10

extern const IID IID_ICreateDevEnum;
struct ICreateDevEnum : public IUnknown {
    // S_FALSE and no enumerator when the category has no devices.
    virtual HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker** enumerator,
                                                            DWORD flags) = 0;
};

// The programs only hold a filter long enough to ask it for its driver's
// control interface, so nothing of the filter graph is declared here.
extern const IID IID_IBaseFilter;
struct IBaseFilter : public IUnknown {};
