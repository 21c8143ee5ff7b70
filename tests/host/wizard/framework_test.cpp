// The program's resources as the resource compiler reads them, and the class
// layer's run-time class names.
#include "wizard_test.h"

#include <winresrc.h>

#include <fstream>

namespace wizard_test {
namespace {

constexpr int LANGUAGE_CHINESE = 0x04;  // 1028: Chinese, Traditional

class ResourcesTest : public WizardTest {
protected:
    const sim::Module& m() { return *w().module(instance); }
    const sim::DialogControl& control(const sim::DialogTemplate& d, int id) {
        for (const sim::DialogControl& c : d.controls)
            if (c.id == id) return c;
        throw std::runtime_error("no control " + std::to_string(id));
    }
    void expectControl(const sim::DialogTemplate& d, int id, const char* cls, DWORD type, int x, int y, int cx, int cy) {
        const sim::DialogControl& c = control(d, id);
        EXPECT_EQ(c.windowClass, cls) << id;
        EXPECT_EQ(c.style & (BS_TYPEMASK | WS_TABSTOP), type) << id;
        EXPECT_EQ(std::vector<int>({c.x, c.y, c.cx, c.cy}), std::vector<int>({x, y, cx, cy})) << id;
    }
};

TEST_F(ResourcesTest, PagesAreLaidOutInDialogUnits) {
    for (int id : {IDD_PAGE1, IDD_PAGE2}) {
        const sim::DialogTemplate& d = m().dialogs.at(std::to_string(id));
        EXPECT_EQ(std::vector<int>({d.cx, d.cy}), std::vector<int>({250, 90})) << id;
        EXPECT_EQ(d.font, "Arial");
        EXPECT_EQ(d.fontSize, 9);
        EXPECT_EQ(d.caption, "Uninstallation Wizard");
        EXPECT_TRUE(d.style & WS_CHILD);
    }
    const sim::DialogTemplate& page1 = m().dialogs.at(std::to_string(IDD_PAGE1));
    expectControl(page1, IDC_PAGE1_TEXT, "STATIC", SS_LEFT, 15, 10, 220, 35);
    expectControl(page1, IDC_REMOVE_UTILITIES, "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 15, 50, 80, 12);
    expectControl(page1, IDC_REMOVE_DRIVERS, "BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, 15, 65, 85, 12);
    EXPECT_EQ(control(page1, IDC_PAGE1_TEXT).text,
              "Now we will remove Marlin Utilities and WDM Drivers.\n\nPlease select which components will be removed.");
    EXPECT_EQ(control(page1, IDC_REMOVE_UTILITIES).text, "Remove All Utilities.");
    EXPECT_EQ(control(page1, IDC_REMOVE_DRIVERS).text, "Remove WDM Drivers.");
    const sim::DialogTemplate& page2 = m().dialogs.at(std::to_string(IDD_PAGE2));
    expectControl(page2, IDC_PAGE2_TEXT, "STATIC", SS_LEFT, 15, 40, 178, 14);
    EXPECT_EQ(control(page2, IDC_PAGE2_TEXT).text, "Now we have uninstalled completely !");
}

TEST_F(ResourcesTest, CaptionIconAndVersionAllInLanguage1028) {
    EXPECT_EQ(m().strings.at(IDS_WIZARD_CAPTION), "Tolvar Uninstallation Wizard");
    EXPECT_EQ(m().version.fileVersion, "1,1,0,0");
    EXPECT_EQ(m().version.productVersion, "1,1,0,0");
    const std::map<std::string, std::string> strings = {
        {"FileVersion", "1, 1, 0, 0"}, {"ProductVersion", "1, 1, 0, 0"}, {"FileDescription", "Tolvar Uninstallation Wizard"},
        {"InternalName", "clearway"},  {"OriginalFilename", "clearway.exe"}, {"ProductName", "Uninstallation Wizard Program"}};
    EXPECT_EQ(m().version.strings, strings);
    for (const char* id : {"1", "128", "129", "130"}) EXPECT_EQ(m().language.at(id), LANGUAGE_CHINESE) << id;
    // One image of 32 by 32 pixels in 16 colours (ICONDIR, then its one entry).
    std::ifstream icon(std::string(CLEARWAY_RESOURCES) + "/" + m().icons.at(std::to_string(IDI_CLEARWAY)), std::ios::binary);
    unsigned char head[10] = {};
    ASSERT_TRUE(icon.read(reinterpret_cast<char*>(head), sizeof head));
    EXPECT_EQ(std::vector<int>({head[4], head[6], head[7], head[8]}), std::vector<int>({1, 32, 32, 16}));
}

TEST_F(ResourcesTest, ClassesAreKnownByName) {
    CWizardSheet sheet("caption");
    EXPECT_STREQ(sheet.GetRuntimeClass()->m_lpszClassName, "CWizardSheet");
    EXPECT_TRUE(sheet.IsKindOf(RUNTIME_CLASS(CPropertySheet)));
    EXPECT_FALSE(sheet.IsKindOf(RUNTIME_CLASS(CPropertyPage)));
    EXPECT_EQ(RUNTIME_CLASS(CWizardSheet)->CreateObject(), nullptr);
    const std::pair<const CRuntimeClass*, int> pages[] = {{RUNTIME_CLASS(CPage1), IDD_PAGE1}, {RUNTIME_CLASS(CPage2), IDD_PAGE2}};
    for (const auto& p : pages) {
        std::unique_ptr<CObject> made(p.first->CreateObject());
        ASSERT_TRUE(made && made->IsKindOf(RUNTIME_CLASS(CPropertyPage)));
        EXPECT_EQ(made->GetRuntimeClass(), p.first);
        const PROPSHEETPAGEA& psp = static_cast<CPropertyPage*>(made.get())->m_psp;
        EXPECT_EQ(psp.pszTemplate, MAKEINTRESOURCEA(p.second));
        EXPECT_EQ(std::string(psp.pszTitle), m().strings.at(IDS_WIZARD_CAPTION));
    }
    EXPECT_STREQ(RUNTIME_CLASS(CPage1)->m_lpszClassName, "CPage1");
    EXPECT_STREQ(RUNTIME_CLASS(CPage2)->m_lpszClassName, "CPage2");
}

}  // namespace
}  // namespace wizard_test
