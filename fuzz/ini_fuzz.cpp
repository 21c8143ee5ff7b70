// REDerUro.ini texts of any length and shape, and the user's country code,
// through the wizard's LoadWizardTexts and page 1's set-up on the simulated
// desktop (the real WinMain; the user cancels on page 1).
//
// Rules checked: every text the application object holds is terminated
// within its buffer; the section is the country code in decimal, or "1" when
// that section gives no title; the two names looked up in the registry are
// the file's whole text, or empty when it does not fit; page 1's explanation
// is the two paragraphs with an empty line between them, cut to what its
// 256-byte buffer holds; the check boxes carry the option texts; nothing is
// left open.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "clearway_resource.h"
#include "fuzz_world.h"
#include "wizard/app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

namespace {

void terminated(const char* field, size_t capacity, const char* what) {
    if (std::memchr(field, 0, capacity) == nullptr) fuzz::fatal(std::string(what) + " is not terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::freshWorld(false);
    sim::World& w = sim::world();
    restartWizardStatics();

    static const char* const countries[] = {"1", "886", "81", "49", "0", "-1", "99999"};
    int choice = in.ConsumeIntegralInRange(0, 7);
    std::string country = choice < 7 ? countries[choice] : in.ConsumeRandomLengthString(8);
    w.registry.setString("HKCU\\Control Panel\\International", "iCountry", country);
    w.files[w.fileKey(w.windowsDirectory + "\\" WIZARD_INI_FILE)] = in.ConsumeRemainingBytesAsString();

    static HINSTANCE instance = nullptr;
    static sim::Module module;
    if (!instance) {
        instance = w.loadModule("clearway", CLEARWAY_RC_PREPROCESSED);
        module = *w.module(instance);
    } else {
        w.modules.emplace(reinterpret_cast<uintptr_t>(instance), module);
    }

    // The user cancels as soon as page 1 shows; its controls are read first.
    std::string explanation, option1, option2;
    bool seen = false;
    std::function<void()> look = [&] {
        sim::SheetView v = w.sheetView();
        if (!v.handle || v.activePage != 0 || v.controls.empty()) {
            w.after(50, "look again", look);
            return;
        }
        for (const sim::PageControlView& c : v.controls) {
            if (c.id == IDC_PAGE1_TEXT) explanation = c.text;
            if (c.id == IDC_REMOVE_UTILITIES) option1 = c.text;
            if (c.id == IDC_REMOVE_DRIVERS) option2 = c.text;
        }
        seen = true;
        w.clickCancel();
    };
    w.after(10, "look at page 1", look);
    w.deadline = w.now + 60000;
    w.hasDeadline = true;
    try {
        WinMain(instance, nullptr, const_cast<LPSTR>(""), SW_SHOWNORMAL);
    } catch (const sim::ScenarioEnd&) {
        fuzz::fatal("the wizard did not end on Cancel");
    }

    CUninstallWizardApp& app = theApp;
    terminated(app.m_szSection, sizeof app.m_szSection, "the section");
    char (CUninstallWizardApp::*const fields[])[TEXT_CAPACITY] = {
        &CUninstallWizardApp::m_szTitle,     &CUninstallWizardApp::m_szPage1Tip1, &CUninstallWizardApp::m_szPage1Tip2,
        &CUninstallWizardApp::m_szOption1,   &CUninstallWizardApp::m_szOption2,   &CUninstallWizardApp::m_szPage2Tip1,
        &CUninstallWizardApp::m_szUtilityName, &CUninstallWizardApp::m_szDriverKeyName};
    for (auto f : fields) terminated(app.*f, TEXT_CAPACITY, "an INI text");
    std::string section = app.m_szSection;
    char code[16];
    std::snprintf(code, sizeof code, "%d", ReadCountryCode());
    if (section != code && section != "1") fuzz::fatal("section \"" + section + "\" for country " + code);
    if (app.m_szTitle[0] == '\0' && section != "1") fuzz::fatal("no title, yet section " + section + " kept");
    static const char* const NAME_KEYS[] = {"UninstallUtilityRegName", "DrvUninstRegKeyPath"};
    const char* const names[] = {app.m_szUtilityName, app.m_szDriverKeyName};
    static char iniText[1 << 16];
    for (int i = 0; i < 2; ++i) {
        DWORD n = GetPrivateProfileStringA(app.m_szSection, NAME_KEYS[i], "", iniText, sizeof iniText, WIZARD_INI_FILE);
        std::string expected = n < TEXT_CAPACITY ? std::string(iniText) : std::string();
        if (names[i] != expected)
            fuzz::fatal(std::string(NAME_KEYS[i]) + " held as \"" + std::string(names[i]).substr(0, 40) + "...\" for a text of " +
                        std::to_string(n) + " characters");
    }

    if (!seen) fuzz::fatal("page 1 was never shown");
    std::string whole = std::string(app.m_szPage1Tip1) + "\n\n" + app.m_szPage1Tip2;
    if (explanation != whole.substr(0, 255))
        fuzz::fatal("page 1 explains \"" + explanation.substr(0, 80) + "...\" (" + std::to_string(explanation.size()) +
                    " characters) for paragraphs of " + std::to_string(whole.size()) + " characters");
    if (option1 != app.m_szOption1 || option2 != app.m_szOption2) fuzz::fatal("the check boxes lost their texts");
    if (w.registry.openHandles() != 0) fuzz::fatal("a registry key left open");
    return 0;
}
