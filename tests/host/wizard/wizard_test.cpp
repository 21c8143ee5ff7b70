#include "wizard_test.h"

namespace wizard_test {

namespace {
constexpr uint32_t USER_RETRY_MS = 100;
constexpr const char* INTERNATIONAL = "HKCU\\Control Panel\\International";
}  // namespace

const char* const KEYS[KEY_COUNT] = {"UninstallWizardAppTitle", "UninstallWizardTPG1Tip1", "UninstallWizardTPG1Tip2",
                                     "UninstallWizardTPG1OPT1", "UninstallWizardTPG1OPT2", "UninstallWizardTPG2Tip1",
                                     "UninstallUtilityRegName", "DrvUninstRegKeyPath"};
char (CUninstallWizardApp::*const FIELDS[KEY_COUNT])[TEXT_CAPACITY] = {
    &CUninstallWizardApp::m_szTitle,       &CUninstallWizardApp::m_szPage1Tip1, &CUninstallWizardApp::m_szPage1Tip2,
    &CUninstallWizardApp::m_szOption1,     &CUninstallWizardApp::m_szOption2,   &CUninstallWizardApp::m_szPage2Tip1,
    &CUninstallWizardApp::m_szUtilityName, &CUninstallWizardApp::m_szDriverKeyName};

std::string text(const std::string& tag, int key) { return tag + ":" + KEYS[key]; }

std::string section(const std::string& name, const std::string& tag, const std::string& missing) {
    std::string out = "[" + name + "]\r\n";
    for (int k = 0; k < KEY_COUNT; ++k)
        if (missing != KEYS[k]) out += std::string(KEYS[k]) + "=" + text(tag, k) + "\r\n";
    return out;
}

void WizardTest::SetUp() {
    sim::resetWorld();
    restartWizardStatics();
    instance = w().loadModule("clearway", CLEARWAY_RC_PREPROCESSED);
    // Pages made outside a run load their caption from the program's module.
    theApp.m_hInstance = instance;
}

void WizardTest::TearDown() {
    EXPECT_EQ(w().registry.openHandles(), 0u);
    EXPECT_EQ(w().openProcessHandles(), 0);
    EXPECT_EQ(w().openThreadHandles(), 0);
    EXPECT_TRUE(w().messageBoxes.empty());
}

void WizardTest::ini(const std::string& content) { w().files[w().fileKey(WIZARD_INI_FILE)] = content; }

void WizardTest::country(const std::string& iCountry) { w().registry.setString(INTERNATIONAL, "iCountry", iCountry); }

void WizardTest::entry(const std::string& key, const std::string& displayName, const std::string& command) {
    const std::string path = std::string(UNINSTALL) + "\\" + key;
    w().registry.create(path);
    if (!displayName.empty()) w().registry.setString(path, "DisplayName", displayName);
    if (!command.empty()) w().registry.setString(path, "UninstallString", command);
}

void WizardTest::program(const std::string& path, uint32_t runsForMs) {
    sim::ProgramSetup setup;
    setup.runsForMs = runsForMs;
    w().installProgram(path, setup);
}

void WizardTest::install() {
    ini(section("1", "en"));
    country("1");
    entry("{TOLVAR-UTILITIES}", text("en", 6), UTIL_CMD);
    entry(text("en", 7), "Tolvar WDM drivers", DRV_CMD);
    program(UTIL_EXE, 5000);
    program(DRV_EXE, 3000);
}

void WizardTest::user(uint32_t tick, std::function<bool()> action) {
    w().at(tick, "the user acts", [this, action] {
        if (!action()) user(w().now + USER_RETRY_MS, action);
    });
}

bool WizardTest::run(uint32_t ms) {
    w().deadline = w().now + ms;
    w().hasDeadline = true;
    try {
        exitCode = WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    } catch (const sim::ScenarioEnd&) {
        return false;
    }
    w().endProcess();
    return true;
}

int WizardTest::call(const std::string& api, const std::string& needle, int from) {
    const auto& log = w().calls;
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < log.size(); ++i)
        if (log[i].api == api && log[i].args.find(needle) != std::string::npos) return static_cast<int>(i);
    return -1;
}

int WizardTest::calls(const std::string& api, const std::string& needle) {
    int n = 0;
    for (int i = call(api, needle); i >= 0; i = call(api, needle, i + 1)) ++n;
    return n;
}

}  // namespace wizard_test
