// The capture driver's vendor control interface. Its filter hands it out on
// QueryInterface; everything the agent reads from the box passes through
// SetValue and GetValue with one 32-bit word per property.
#pragma once

#include <objbase.h>

// {BE0AB5D2-3B9A-4E42-A05E-4A178B566C7C}
static const IID IID_IBridgeControl = {0xBE0AB5D2, 0x3B9A, 0x4E42, {0xA0, 0x5E, 0x4A, 0x17, 0x8B, 0x56, 0x6C, 0x7C}};

struct IBridgeControl : public IUnknown {
    // The first method of the driver's table is never called by the agent.
    virtual HRESULT STDMETHODCALLTYPE Reserved() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetValue(ULONG propertyId, ULONG* word) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetValue(ULONG propertyId, ULONG* word) = 0;
};
