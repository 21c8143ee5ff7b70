// What the platform tests need of the machine besides the API they test: a
// clean place in the registry, files, a program to start and a capture box.
// Each test states one behaviour of Win32 the programs rely on, through the
// API alone, and runs both on the simulated desktop and on a real system.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace contract {

// The tests' own key under HKEY_CURRENT_USER; gone at the start of each test.
extern const char kRegistryRoot[];

// Called before every test: the registry root removed, the files folder
// emptied, no timers or windows left from the test before.
void resetPlatform();

// The module that holds the tests' resources (contract.rc).
HINSTANCE testModule();

// A full path in the tests' own folder, and writing a file there byte for byte.
std::string filePath(const std::string& name);
void writeFile(const std::string& path, const std::string& bytes);

// A command line that starts a program which runs `ms` milliseconds and
// then exits with `exitCode`. The program's path holds a space and is
// quoted, as the uninstall command lines the wizard runs are.
std::string childCommand(DWORD exitCode, DWORD ms);

// The friendly name of the capture box registered as a video input device.
const char* captureBoxName();

// Registers a window class of the test module with `proc`; false when the
// system refuses.
bool registerWindowClass(const char* name, WNDPROC proc);

// Pumps this thread's messages until `done()` answers true (true) or
// `limitMs` pass (false). A thread timer of its own wakes the pump, so it
// never waits on a queue that stays empty. On the simulated desktop the
// clock advances as the pump waits.
bool pumpUntil(const std::function<bool()>& done, DWORD limitMs);

}  // namespace contract

// The base of every platform test: a clean platform first.
class Contract : public ::testing::Test {
protected:
    void SetUp() override { contract::resetPlatform(); }
};
