#include "fuzz_world.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzz {

void fatal(const std::string& why) {
    std::fprintf(stderr, "\n*** invariant broken: %s\n", why.c_str());
    std::fflush(stderr);
    std::abort();
}

HINSTANCE freshWorld(bool agentResources) {
    sim::resetWorld();
    sim::World& w = sim::world();
    w.metrics[SM_CXFULLSCREEN] = 1024;
    w.metrics[SM_CYFULLSCREEN] = 742;
    if (!agentResources) return nullptr;
#ifdef AGENT_RC_PREPROCESSED
    // Parsing the resource script for every input would dominate the run.
    static std::unique_ptr<sim::Module> cached;
    static uintptr_t base = 0;
    if (!cached) {
        HINSTANCE h = w.loadModule("tunerpad", AGENT_RC_PREPROCESSED);
        base = reinterpret_cast<uintptr_t>(h);
        cached = std::make_unique<sim::Module>(*w.module(h));
        return h;
    }
    w.modules.emplace(base, *cached);
    return reinterpret_cast<HINSTANCE>(base);
#else
    fatal("the agent's resources are not built into this target");
#endif
}

std::string hex(const std::vector<uint8_t>& bytes, size_t max) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        out += buf;
        if (i + 1 < bytes.size()) out += ' ';
    }
    if (bytes.size() > max) out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

}  // namespace fuzz
