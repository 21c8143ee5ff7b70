// The real agent's idle polls on the simulated desktop, for counting the
// instructions of one poll under callgrind (scripts/bench.sh does):
//
//   idlepoll POLLS
//
// The desktop has the capture box and no TV application, as a machine whose
// user watches nothing; the agent runs through its WinMain for POLLS poll
// periods of virtual time. The simulation's own records are kept small, so
// that a longer run costs each poll the same.
#include <sim/world.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "agent/agent.h"
#include "agent/timers.h"
#include "sim/bridge/bridge.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

constexpr long MAX_POLLS = 1000000;  // about 19 hours of virtual time
constexpr size_t CALLS_KEPT = 64;    // of the simulation's call record, between polls

// Drops the simulation's record of calls at every poll: nothing reads it,
// and a growing record would make late polls dearer than early ones.
void keepRecordsSmall() {
    std::vector<sim::Call>& calls = sim::world().calls;
    if (calls.size() > CALLS_KEPT) calls.erase(calls.begin(), calls.end() - CALLS_KEPT);
}

}  // namespace

int main(int argc, char** argv) {
    char* end = nullptr;
    long polls = argc == 2 ? std::strtol(argv[1], &end, 10) : 0;
    if (argc != 2 || *end != '\0' || polls < 1 || polls > MAX_POLLS) {
        std::fprintf(stderr, "usage: idlepoll POLLS (1 to %ld)\n", MAX_POLLS);
        return 2;
    }
    sim::resetWorld();
    sim::World& w = sim::world();
    HINSTANCE instance = w.loadModule("tunerpad", TUNERPAD_RC_PREPROCESSED);
    w.metrics[SM_CXFULLSCREEN] = 1024;
    w.metrics[SM_CYFULLSCREEN] = 742;
    std::shared_ptr<bridge::CaptureBox> box = w.addCaptureDevice("USB 2800 Video").box;
    box->setLogLimit(0);
    for (long n = 1; n <= polls; ++n)
        w.at(static_cast<uint32_t>(n * KEY_POLL_PERIOD_MS) + KEY_POLL_PERIOD_MS / 2, "trim records",
             keepRecordsSmall);

    restartAgentStatics();
    w.deadline = w.now + static_cast<uint32_t>(polls * KEY_POLL_PERIOD_MS) + KEY_POLL_PERIOD_MS / 2;
    w.hasDeadline = true;
    try {
        int code = WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
        std::fprintf(stderr, "idlepoll: the agent ended with %d before its %ld polls\n", code, polls);
        return 1;
    } catch (const sim::ScenarioEnd&) {
    }
    std::printf("idlepoll: %ld polls in %u ms of virtual time\n", polls, static_cast<unsigned>(w.now));
    return 0;
}
