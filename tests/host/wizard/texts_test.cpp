// The language of the texts: the country code by the system's own rule, the
// section it chooses in REDerUro.ini, and the eight texts read from it.
#include "wizard_test.h"

#include <fstream>
#include <sstream>

namespace wizard_test {
namespace {

constexpr const char* WIN_INI = "C:\\WINDOWS\\win.ini";

class TextsTest : public WizardTest {
protected:
    void load(const std::string& content, const std::string& code) {
        restartWizardStatics();
        ini(content);
        country(code);
        EXPECT_TRUE(theApp.LoadWizardTexts());
    }
    void expectTexts(const std::string& sectionName, const std::string& tag) {
        EXPECT_STREQ(theApp.m_szSection, sectionName.c_str());
        for (int k = 0; k < KEY_COUNT; ++k) EXPECT_EQ(theApp.*FIELDS[k], text(tag, k)) << KEYS[k];
    }
};

TEST_F(TextsTest, SectionOfTheCountryGivesEveryText) {
    load(section("1", "en") + section("886", "zh"), "886");
    expectTexts("886", "zh");
}

// A section counts only with a title, missing or empty; then all eight come from "1".
TEST_F(TextsTest, SectionWithoutTitleGivesWayToSection1) {
    for (const std::string& title : {std::string(), std::string(KEYS[0]) + "=\r\n"}) {
        load(section("1", "en") + section("886", "zh", KEYS[0]) + title, "886");
        expectTexts("1", "en");
    }
}

TEST_F(TextsTest, NoFallbackPerKey) {
    load(section("1", "en") + section("886", "zh", KEYS[4]), "886");
    EXPECT_STREQ(theApp.m_szSection, "886");
    EXPECT_STREQ(theApp.m_szOption2, "");
}

TEST_F(TextsTest, WithoutTheFileSection1AndEmptyTexts) {
    country("886");
    theApp.LoadWizardTexts();
    EXPECT_STREQ(theApp.m_szSection, "1");
    for (int k = 0; k < KEY_COUNT; ++k) EXPECT_STREQ(theApp.*FIELDS[k], "") << KEYS[k];
}

// Windows NT 4.0, 98 and Me: the code is in win.ini, 1 when it is not there;
// NT 4.0 reads win.ini's [intl] from the registry where it has the value.
TEST_F(TextsTest, BeforeWindows2000TheCountryComesFromWinIni) {
    w().files[w().fileKey(WIN_INI)] = "[intl]\r\niCountry=886\r\n";
    country("81");
    const std::tuple<bool, DWORD, DWORD, int> systems[] = {
        {false, 4, 0, 81}, {true, 4, 10, 886}, {true, 4, 90, 886}};
    for (const auto& s : systems) {
        std::tie(w().win95Family, w().majorVersion, w().minorVersion, std::ignore) = s;
        EXPECT_FALSE(IsWindows2000OrLater());
        EXPECT_EQ(ReadCountryCode(), std::get<3>(s));
    }
    EXPECT_EQ(calls("RegOpenKeyA"), 0);
    w().files[w().fileKey(WIN_INI)] = "[intl]\r\nsCountry=Taiwan\r\n";
    EXPECT_EQ(ReadCountryCode(), 1);
}

// Windows 2000 on: the registry's text, of which at most five characters count.
TEST_F(TextsTest, FromWindows2000TheCountryComesFromTheRegistry) {
    w().files[w().fileKey(WIN_INI)] = "[intl]\r\niCountry=886\r\n";
    w().majorVersion = 5;
    w().minorVersion = 0;
    EXPECT_TRUE(IsWindows2000OrLater());
    EXPECT_EQ(ReadCountryCode(), 1) << "no iCountry in the registry";
    const std::pair<const char*, int> texts[] = {{"81", 81}, {"8860123", 88601}, {"1a", 10 + 'a' - '0'}};
    for (const auto& t : texts) {
        country(t.first);
        EXPECT_EQ(ReadCountryCode(), t.second) << t.first;
    }
}

// The file the installation ships: each section is complete and names our own entries.
TEST_F(TextsTest, ShippedFileHasEverySectionComplete) {
    std::ifstream in(CLEARWAY_SHIPPED_INI, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    for (const char* code : {"1", "81", "886"}) {
        load(content.str(), code);
        EXPECT_STREQ(theApp.m_szSection, code);
        for (int k = 0; k < KEY_COUNT; ++k) EXPECT_STRNE(theApp.*FIELDS[k], "") << code << " " << KEYS[k];
        EXPECT_STREQ(theApp.m_szUtilityName, "Tolvar Remote Control Utilities");
        EXPECT_STREQ(theApp.m_szDriverKeyName, "TolvarCaptureDrivers");
        // Page 1's two paragraphs fit its text whole.
        EXPECT_LE(std::strlen(theApp.m_szPage1Tip1) + std::strlen(theApp.m_szPage1Tip2) + 2, TEXT_CAPACITY - 1u);
    }
}

}  // namespace
}  // namespace wizard_test
