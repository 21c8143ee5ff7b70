// What every fuzz target shares: a fresh simulated desktop per input, and a
// way to report a broken invariant as a finding.
#pragma once

#include <sim/world.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Reports a broken invariant and stops the run, so libFuzzer keeps the input.
[[noreturn]] void fatal(const std::string& why);

// A new simulated desktop. With `agentResources` the agent's resources are
// loaded (parsed once, then copied) and their instance handle is returned.
HINSTANCE freshWorld(bool agentResources);

// Bytes as printable text for messages.
std::string hex(const std::vector<uint8_t>& bytes, size_t max = 48);

}  // namespace fuzz
