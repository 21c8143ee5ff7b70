// Scenario support for clearway: a fresh simulated desktop and application
// object per test, the wizard run through its real WinMain, and a user who
// clicks as soon as the wizard lets them.
#pragma once

#include <gtest/gtest.h>
#include <sim/world.h>

#include <functional>
#include <string>

#include "clearway_resource.h"
#include "wizard/app.h"
#include "wizard/pages.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace wizard_test {

constexpr const char* UNINSTALL = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* AGENT = "Ruvuzovi Razuzu Davidod";
// The standard installation's uninstallers (WizardTest::install).
constexpr const char* UTIL_EXE = "C:\\Program Files\\Tolvar\\unutil.exe";
constexpr const char* UTIL_CMD = "\"C:\\Program Files\\Tolvar\\unutil.exe\" /remove";
constexpr const char* DRV_EXE = "C:\\Tolvar\\undrv.exe";
constexpr const char* DRV_CMD = "C:\\Tolvar\\undrv.exe -u";

// The INI keys, and the application's fields in the same order.
constexpr int KEY_COUNT = 8;
extern const char* const KEYS[KEY_COUNT];
extern char (CUninstallWizardApp::*const FIELDS[KEY_COUNT])[TEXT_CAPACITY];
// An INI section holding every key but `missing`, key k as text(tag, k).
std::string section(const std::string& name, const std::string& tag, const std::string& missing = "");
std::string text(const std::string& tag, int key);

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Whatever happened, no key or handle is left open and no message was shown.
    void TearDown() override;
    sim::World& w() { return sim::world(); }

    void ini(const std::string& content);
    void country(const std::string& iCountry);
    // An Uninstall entry; an empty text leaves that value out.
    void entry(const std::string& key, const std::string& displayName, const std::string& command);
    void program(const std::string& path, uint32_t runsForMs = 1000);
    // Section "1" tagged "en", country 1, both uninstallers registered and installed.
    void install();

    // The user does `action` at `tick`, and again every 100 ms until it works.
    void user(uint32_t tick, std::function<bool()> action);
    // Runs the program to its end; false when it still runs at the deadline.
    bool run(uint32_t ms = 60000);
    // Index of the first call to `api` with `needle` in its arguments, from `from` on; -1 when none.
    int call(const std::string& api, const std::string& needle = "", int from = 0);
    int calls(const std::string& api, const std::string& needle = "");

    HINSTANCE instance = nullptr;
    int exitCode = -1;
};

}  // namespace wizard_test
