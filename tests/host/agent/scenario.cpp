#include "scenario.h"

namespace scenario {

void AgentTest::SetUp() {
    sim::resetWorld();
    instance = w().loadModule("tunerpad", TUNERPAD_RC_PREPROCESSED);
    w().metrics[SM_CXFULLSCREEN] = 1024;
    w().metrics[SM_CYFULLSCREEN] = 742;
}

Outcome AgentTest::runAgent(uint32_t ms) {
    Outcome run;
    restartAgentStatics();
    w().deadline = w().now + ms;
    w().hasDeadline = true;
    try {
        run.exitCode = WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWDEFAULT);
        run.finished = true;
    } catch (const sim::ScenarioEnd&) {
        return run;
    }
    endAgentStatics();
    w().endProcess();
    return run;
}

std::vector<sim::Call> callsWith(const std::string& api, const std::string& needle) {
    std::vector<sim::Call> out;
    for (const sim::Call& c : sim::world().calls)
        if (c.api == api && c.args.find(needle) != std::string::npos) out.push_back(c);
    return out;
}

int firstCall(const std::string& api, const std::string& needle) {
    const auto& calls = sim::world().calls;
    for (size_t i = 0; i < calls.size(); ++i)
        if (calls[i].api == api && calls[i].args.find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

}  // namespace scenario
