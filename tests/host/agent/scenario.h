// Scenario support for tunerpad: a fresh simulated desktop per test, the
// agent run through its real WinMain as one process of that desktop.
#pragma once

#include <gtest/gtest.h>
#include <sim/world.h>

#include <string>
#include <vector>

#include "agent/agent.h"
#include "agent/settings.h"
#include "agent/timers.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace scenario {

constexpr const char* SETTINGS = "HKLM\\" SETTINGS_KEY_PATH;

struct Outcome {
    bool finished = false;  // WinMain returned (else the scenario's time ran out)
    int exitCode = -1;
};

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override;
    // Starts the agent as a new process and runs it until WinMain returns or
    // `ms` of virtual time have passed. A process that returned is ended as
    // the system ends it (static records destroyed, windows removed); one
    // still running at the deadline is left as it is for inspection.
    Outcome runAgent(uint32_t ms = 10000);
    sim::World& w() { return sim::world(); }
    HINSTANCE instance = nullptr;
};

// The calls to `api` whose argument text contains `needle`.
std::vector<sim::Call> callsWith(const std::string& api, const std::string& needle = "");
// Index of the first call to `api` containing `needle` in the world's call log, or -1.
int firstCall(const std::string& api, const std::string& needle = "");

}  // namespace scenario
