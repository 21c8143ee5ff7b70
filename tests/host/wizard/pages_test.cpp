// The wizard as the user meets it: page 1's texts and choices, page 2's work
// in its fixed order, Cancel and Finish.
#include "wizard_test.h"

namespace wizard_test {
namespace {

constexpr uint32_t START_MS = 1000;  // when the user first acts

const sim::PageControlView& control(const sim::SheetView& v, int id) {
    static const sim::PageControlView none{};
    for (const sim::PageControlView& c : v.controls)
        if (c.id == id) return c;
    ADD_FAILURE() << "no control " << id << " on the active page";
    return none;
}

std::string buttonsPosted(const sim::SheetView& v, UINT flags) {
    return sim::handleText(v.handle) + " msg=" + std::to_string(PSM_SETWIZBUTTONS) + " w=0 l=" + std::to_string(flags);
}

class PagesTest : public WizardTest {
protected:
    // Next at the start, after clicking `boxes`; Finish as soon as page 2 takes it.
    void nextThenFinish(std::vector<int> boxes = {}) {
        user(START_MS, [this, boxes] {
            page1 = w().sheetView();
            for (int id : boxes) w().clickCheckBox(id);
            return w().clickNext();
        });
        user(START_MS + 1, [this] {
            page2 = w().sheetView();
            return w().clickFinish();
        });
    }
    // An agent window that ends on WM_CLOSE; what it heard goes to `agentHeard`.
    HWND closingAgent() {
        HWND agent = w().addForeignWindow(AGENT, AGENT);
        w().window(agent)->onMessage = [this](sim::Window& me, const sim::LoggedMessage& m) {
            agentHeard.push_back(m);
            if (m.message == WM_CLOSE) w().destroyWindow(me.handle);
        };
        return agent;
    }
    sim::SheetView page1, page2;
    std::vector<sim::LoggedMessage> agentHeard;
};

TEST_F(PagesTest, Page1ComposesItsTextAndChecksBothBoxesOnEveryActivation) {
    install();
    sim::SheetView unchecked, again;
    user(START_MS, [&] {
        page1 = w().sheetView();
        w().clickCheckBox(IDC_REMOVE_UTILITIES);
        w().clickCheckBox(IDC_REMOVE_DRIVERS);
        unchecked = w().sheetView();
        // The sheet activates page 1 again, as it does on every visit.
        PSHNOTIFY n{};
        n.hdr.hwndFrom = page1.handle;
        n.hdr.code = PSN_SETACTIVE;
        SendMessageA(page1.pages[0], WM_NOTIFY, 0, reinterpret_cast<LPARAM>(&n));
        again = w().sheetView();
        return w().clickCancel();
    });
    ASSERT_TRUE(run());
    EXPECT_EQ(control(page1, IDC_PAGE1_TEXT).text, text("en", 1) + "\n\n" + text("en", 2));
    EXPECT_EQ(control(page1, IDC_REMOVE_UTILITIES).text, text("en", 3));
    EXPECT_EQ(control(page1, IDC_REMOVE_DRIVERS).text, text("en", 4));
    EXPECT_GE(call("PostMessageA", buttonsPosted(page1, PSWIZB_NEXT)), 0);
    EXPECT_TRUE(page1.next.enabled && !page1.back.enabled && !page1.help.shown);
    for (int id : {IDC_REMOVE_UTILITIES, IDC_REMOVE_DRIVERS}) {
        EXPECT_EQ(control(page1, id).check, UINT(BST_CHECKED)) << id;
        EXPECT_EQ(control(unchecked, id).check, UINT(BST_UNCHECKED)) << id;
        EXPECT_EQ(control(again, id).check, UINT(BST_CHECKED)) << id;
    }
}

// The INI's title and closing text show; without them, the caption string
// and the layout's text. Page 1's texts are replaced even by empty ones.
TEST_F(PagesTest, TitleAndClosingTextComeFromTheIniWhenItHasThem) {
    for (bool withIni : {true, false}) {
        SetUp();
        const sim::Module& m = *w().module(instance);
        if (withIni) install();
        nextThenFinish();
        ASSERT_TRUE(run());
        const std::string title = withIni ? text("en", 0) : m.strings.at(IDS_WIZARD_CAPTION);
        EXPECT_EQ(page1.title, title);
        EXPECT_EQ(page2.title, title);
        EXPECT_EQ(control(page2, IDC_PAGE2_TEXT).text,
                  withIni ? text("en", 5) : m.dialogs.at(std::to_string(IDD_PAGE2)).controls.at(0).text);
        if (!withIni) {
            EXPECT_EQ(control(page1, IDC_PAGE1_TEXT).text + control(page1, IDC_REMOVE_UTILITIES).text, "\n\n");
        }
    }
    // A wizard of two pages, with no icon, help or parent of its own.
    const sim::SheetRecord& sheet = w().sheetsShown.at(0);
    EXPECT_EQ(sheet.flags, DWORD(PSH_WIZARD | PSH_PROPSHEETPAGE));
    EXPECT_EQ(sheet.caption, "MyWizard1");
    EXPECT_EQ(sheet.owner, nullptr);
    const int init = call("InitCommonControls");
    EXPECT_GE(init, 0);
    EXPECT_LT(init, call("PropertySheetA"));
}

TEST_F(PagesTest, Page2WorksInItsFixedOrder) {
    install();
    HWND agent = closingAgent();
    // Found by its title alone: a window of the agent's class with another title is left alone.
    HWND sameClass = w().addForeignWindow(AGENT, "Another window");
    nextThenFinish();
    ASSERT_TRUE(run());
    const std::string sheet = sim::handleText(page2.handle);
    int at = 0;
    auto then = [&](const std::string& api, const std::string& needle) {
        const int i = call(api, needle, at);
        EXPECT_GE(i, 0) << api << " " << needle << " after call #" << at;
        at = i < 0 ? at : i + 1;
        return std::max(i, 0);
    };
    then("PostMessageA", buttonsPosted(page2, PSWIZB_FINISH));
    then("FindWindowA", std::string("class=(none) title=") + AGENT);
    then("SendMessageA", sim::handleText(agent) + " msg=16 w=0 l=0");
    then("ShowWindow", sheet + " cmd=0");
    then("CreateProcessA", UTIL_CMD);
    const int drivers = then("RegOpenKeyA", std::string(UNINSTALL) + "\\" + text("en", 7));
    then("CreateProcessA", DRV_CMD);
    const int show = then("ShowWindow", sheet + " cmd=5");
    // Each uninstaller ran to its end before the wizard went on.
    ASSERT_EQ(w().processes.size(), 2u);
    EXPECT_LE(w().processes[0].ended, w().calls[drivers].time);
    EXPECT_LE(w().processes[1].ended, w().calls[show].time);
    ASSERT_EQ(agentHeard.size(), 1u);
    EXPECT_TRUE(agentHeard[0].message == WM_CLOSE && agentHeard[0].sent);
    EXPECT_TRUE(w().window(sameClass)->log.empty());
    EXPECT_EQ(w().sheetsShown.at(0).shows.size(), 2u);
    EXPECT_TRUE(page2.visible && page2.finish.shown && page2.finish.enabled);
    EXPECT_FALSE(page2.back.enabled || page2.next.shown);
    EXPECT_EQ(exitCode, 0);
}

// Unchecked boxes: the agent still closes and the wizard hides and shows, but
// only the chosen uninstaller runs.
TEST_F(PagesTest, EachBoxChoosesItsUninstaller) {
    for (int unchecked : {IDC_REMOVE_UTILITIES, 0}) {
        SetUp();
        install();
        closingAgent();
        std::vector<int> boxes = {IDC_REMOVE_UTILITIES};
        if (!unchecked) boxes.push_back(IDC_REMOVE_DRIVERS);
        nextThenFinish(boxes);
        ASSERT_TRUE(run());
        EXPECT_FALSE(theApp.m_bRemoveUtilities);
        EXPECT_EQ(theApp.m_bRemoveDrivers, unchecked ? TRUE : FALSE);
        EXPECT_EQ(agentHeard.size(), 1u);
        EXPECT_EQ(w().processes.size(), unchecked ? 1u : 0u);
        if (unchecked) {
            EXPECT_EQ(w().processes.at(0).commandLine, DRV_CMD);
        }
        EXPECT_EQ(calls("RegOpenKeyExA"), 0);
        EXPECT_EQ(w().sheetsShown.at(0).shows.size(), 2u);
        EXPECT_TRUE(page2.finish.enabled);
        agentHeard.clear();
    }
}

TEST_F(PagesTest, CancelOnPage1ClosesRunsAndChangesNothing) {
    install();
    HWND agent = w().addForeignWindow(AGENT, AGENT);
    user(START_MS, [this] { return w().clickCancel(); });
    ASSERT_TRUE(run());
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(w().window(agent)->log.empty());
    EXPECT_TRUE(w().processes.empty());
    EXPECT_EQ(calls("RegOpenKeyExA") + calls("RegOpenKeyA", UNINSTALL), 0);
    EXPECT_EQ(calls("RegSetValueExA") + calls("RegCreateKeyExA") + calls("RegDeleteValueA") + calls("DeleteFileA"), 0);
    EXPECT_EQ(w().sheetsShown.at(0).pagesShown, std::vector<int>{0});
}

TEST_F(PagesTest, UninstallerThatCannotStartLetsTheNextRun) {
    install();
    w().programs.erase(w().fileKey(UTIL_EXE));
    nextThenFinish();
    ASSERT_TRUE(run());
    EXPECT_GE(call("CreateProcessA", UTIL_CMD), 0);
    ASSERT_EQ(w().processes.size(), 1u);
    EXPECT_EQ(w().processes[0].commandLine, DRV_CMD);
    EXPECT_EQ(calls("WaitForSingleObject"), 1);
}

// Two paragraphs that together pass the text's 255 characters are cut there.
TEST_F(PagesTest, LongParagraphsAreCutToTheText) {
    for (auto lengths : {std::make_pair(126, 127), std::make_pair(200, 200), std::make_pair(255, 255)}) {
        SetUp();
        const std::string tip1(lengths.first, 'a'), tip2(lengths.second, 'b');
        ini(std::string("[1]\r\n") + KEYS[0] + "=t\r\n" + KEYS[1] + "=" + tip1 + "\r\n" + KEYS[2] + "=" + tip2 + "\r\n");
        user(START_MS, [this] {
            page1 = w().sheetView();
            return w().clickCancel();
        });
        ASSERT_TRUE(run());
        EXPECT_EQ(control(page1, IDC_PAGE1_TEXT).text, (tip1 + "\n\n" + tip2).substr(0, TEXT_CAPACITY - 1));
    }
}

}  // namespace
}  // namespace wizard_test
