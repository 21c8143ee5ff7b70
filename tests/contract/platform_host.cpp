// The platform tests on the simulated desktop: a fresh desktop for every
// test, with the tests' resources loaded and the capture box and the child
// program installed as a real machine would have them.
#include "contract.h"

#include <sim/world.h>

namespace contract {

namespace {

HINSTANCE g_module = nullptr;
const char kFolder[] = "C:\\ContractTests";
const char kChild[] = "C:\\ContractTests\\child program.exe";

}  // namespace

void resetPlatform() {
    sim::resetWorld();
    g_module = sim::world().loadModule("contract", CONTRACT_RC_PREPROCESSED);
    sim::world().addCaptureDevice(captureBoxName());
}

HINSTANCE testModule() { return g_module; }

std::string filePath(const std::string& name) { return std::string(kFolder) + "\\" + name; }

void writeFile(const std::string& path, const std::string& bytes) {
    sim::World& w = sim::world();
    w.files[w.fileKey(path)] = bytes;
}

std::string childCommand(DWORD exitCode, DWORD ms) {
    sim::ProgramSetup child;
    child.runsForMs = ms;
    child.exitCode = exitCode;
    sim::world().installProgram(kChild, child);
    return std::string("\"") + kChild + "\" --child";
}

}  // namespace contract
