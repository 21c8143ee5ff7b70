// Host stand-in for the part of <oleauto.h> the programs use: BSTRs, VARIANTs
// and property bags. Behaviour lives in sim/win32/src/com.cpp.
#pragma once

#include <objbase.h>

// ---- BSTR ---------------------------------------------------------------------------
// A BSTR points just past a 32-bit byte count and holds that many bytes of
// text followed by a zero character.
BSTR WINAPI SysAllocString(const OLECHAR* text);
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
void WINAPI SysFreeString(BSTR text);
UINT WINAPI SysStringLen(BSTR text);
UINT WINAPI SysStringByteLen(BSTR text);

// ---- VARIANT --------------------------------------------------------------------------
typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        ULONG ulVal;
        INT intVal;
        UINT uintVal;
        SHORT iVal;
        USHORT uiVal;
        BYTE bVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        PVOID byref;
    };
} VARIANT, *LPVARIANT;
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANTARG;

void WINAPI VariantInit(VARIANTARG* v);
HRESULT WINAPI VariantClear(VARIANTARG* v);

// ---- property bags ----------------------------------------------------------------------
// The caller's error log; the programs pass none.
extern const IID IID_IErrorLog;
struct IErrorLog : public IUnknown {};

extern const IID IID_IPropertyBag;
struct IPropertyBag : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) = 0;
    virtual HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) = 0;
};

extern const IID IID_IPersistPropertyBag;
struct IPersistPropertyBag : public IPersist {
    virtual HRESULT STDMETHODCALLTYPE InitNew() = 0;
    virtual HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* errorLog) = 0;
    virtual HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL saveAll) = 0;
};
