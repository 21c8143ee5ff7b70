// Host stand-in for the part of <dshow.h> the programs use: the COM runtime,
// the DirectShow interfaces of strmif.h and the device categories.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <strmif.h>

extern const CLSID CLSID_SystemDeviceEnum;
extern const CLSID CLSID_VideoInputDeviceCategory;
extern const CLSID CLSID_AudioInputDeviceCategory;
