// The one simulated desktop and its bookkeeping.
#include <sim/world.h>

#include <cstdio>

namespace sim {

namespace {
std::unique_ptr<World> g_world;
}

World& world() {
    if (!g_world) g_world = std::make_unique<World>();
    return *g_world;
}

void resetWorld() { g_world = std::make_unique<World>(); }

std::string handleText(const void* h) {
    if (!h) return "0";
    char buf[32];
    std::snprintf(buf, sizeof buf, "#%lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(h)));
    return buf;
}

void World::log(const std::string& api, const std::string& args) { calls.push_back({now, api, args}); }

std::vector<Call> World::callsTo(const std::string& api) const {
    std::vector<Call> out;
    for (const Call& c : calls)
        if (c.api == api) out.push_back(c);
    return out;
}

void World::endProcess() {
    std::vector<HWND> own;
    for (const auto& entry : windows)
        if (!entry.second->foreign && !entry.second->parent) own.push_back(entry.second->handle);
    for (HWND h : own) destroyWindow(h);
    queue.clear();
    quitPosted = false;
    quitCode = 0;
    timers.clear();
    modals.clear();
    classes.clear();
}

void World::at(uint32_t tick, const std::string& what, std::function<void()> action) {
    events.push_back({tick, ++serial, what, std::move(action)});
}

}  // namespace sim
