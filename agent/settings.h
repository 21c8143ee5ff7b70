// tunerpad's settings: the registry key, the default TV application, the
// switch-off flag and the country mode of the key maps.
#pragma once

#include <windows.h>

#define SETTINGS_KEY_PATH "SOFTWARE\\Vuzided Ivavevariv\\Velotune Utilities"
#define SETTING_DEFAULT_TV_APP "DefaultTVAPP"
#define SETTING_ALWAYS_REMOTE_OFF "AlwaysRemoteOff"

// Values of DefaultTVAPP / defaultTvApp.
constexpr int TV_APP_WINDVR = 1;
constexpr int TV_APP_POWERVCR = 2;
constexpr int TV_APP_ROVIVER = 3;
constexpr int TV_APP_HONESTECH = 4;
constexpr int INITIAL_DEFAULT_TV_APP = TV_APP_ROVIVER;

// The country code whose users get the second assignment of some keys.
constexpr int COUNTRY_CODE_81 = 81;
// Used when no country code can be read.
constexpr int DEFAULT_COUNTRY_CODE = 1;

extern int defaultTvApp;
extern bool remoteOff;
extern bool country81Mode;

bool loadSettings();
bool saveDefaultTvApp();
int readCountryCode();
void decideCountryMode();
