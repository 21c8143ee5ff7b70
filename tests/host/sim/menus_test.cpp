// Menus and the shortcut-menu loop of the simulated desktop.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

constexpr UINT kOpen = 101;
constexpr UINT kSettings = 102;
constexpr UINT kExit = 103;
constexpr UINT kSeparatorId = 150;
constexpr UINT kInSubmenu = 201;

std::vector<UINT> g_ownerMessages;

LRESULT CALLBACK ownerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    g_ownerMessages.push_back(msg);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class MenusTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::resetWorld();
        g_ownerMessages.clear();
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = ownerProc;
        wc.lpszClassName = "MenuOwner";
        ASSERT_NE(0, RegisterClassExA(&wc));
        owner = CreateWindowExA(0, "MenuOwner", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, owner);
    }

    // Open / Settings (checked) / separator / Exit.
    HMENU trayMenu() {
        HMENU m = CreatePopupMenu();
        EXPECT_TRUE(AppendMenuA(m, MF_STRING, kOpen, "&Open"));
        EXPECT_TRUE(AppendMenuA(m, MF_STRING | MF_CHECKED, kSettings, "&Settings"));
        EXPECT_TRUE(AppendMenuA(m, MF_SEPARATOR, kSeparatorId, nullptr));
        EXPECT_TRUE(AppendMenuA(m, MF_STRING, kExit, "E&xit"));
        return m;
    }

    int queuedCommands(WPARAM id) {
        return std::count_if(sim::world().queue.begin(), sim::world().queue.end(), [&](const MSG& m) {
            return m.hwnd == owner && m.message == WM_COMMAND && m.wParam == id && m.lParam == 0;
        });
    }
    int countOwner(UINT msg) { return std::count(g_ownerMessages.begin(), g_ownerMessages.end(), msg); }

    HWND owner = nullptr;
};

TEST_F(MenusTest, ChosenItemIsPostedToTheOwnerAfterTheMenuCloses) {
    sim::World& w = sim::world();
    HMENU menu = trayMenu();
    w.menuChoices.push_back(kSettings);
    w.advanceTo(500);
    BOOL ok = TrackPopupMenu(menu, TPM_RIGHTBUTTON, 900, 700, 0, owner, nullptr);
    EXPECT_NE(FALSE, ok);
    EXPECT_EQ(500u + w.menuDelay, w.now);

    // Posted, not sent: the owner's procedure has not seen it yet.
    EXPECT_EQ(1, queuedCommands(kSettings));
    EXPECT_EQ(0, countOwner(WM_COMMAND));
    EXPECT_EQ(1, countOwner(WM_ENTERMENULOOP));
    EXPECT_EQ(1, countOwner(WM_INITMENUPOPUP));
    EXPECT_EQ(1, countOwner(WM_EXITMENULOOP));
    EXPECT_TRUE(w.menuChoices.empty());

    ASSERT_EQ(1u, w.shownMenus.size());
    const sim::ShownMenu& shown = w.shownMenus[0];
    EXPECT_EQ(menu, shown.menu);
    EXPECT_EQ(500u, shown.time);
    EXPECT_EQ(w.now, shown.closed);
    EXPECT_EQ(900, shown.x);
    EXPECT_EQ(700, shown.y);
    EXPECT_EQ(owner, shown.owner);
    EXPECT_EQ(UINT{TPM_RIGHTBUTTON}, shown.flags);
    EXPECT_EQ(UINT_PTR{kSettings}, shown.chosen);
    ASSERT_EQ(4u, shown.items.size());
    EXPECT_EQ("&Settings", shown.items[1].text);
    EXPECT_NE(0u, shown.items[1].flags & MF_CHECKED);
    EXPECT_NE(0u, shown.items[2].flags & MF_SEPARATOR);
    EXPECT_TRUE(shown.items[2].text.empty());
    EXPECT_EQ(1u, w.callsTo("ModalEnter").size());

    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    DispatchMessageA(&msg);
    EXPECT_EQ(1, countOwner(WM_COMMAND));
    DestroyMenu(menu);
}

TEST_F(MenusTest, ClickingElsewhereDismissesTheMenu) {
    sim::World& w = sim::world();
    HMENU menu = trayMenu();
    // An empty script: the user clicks away.
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(w.menuDelay, w.now);
    w.menuChoices.push_back(0);
    EXPECT_NE(FALSE, TrackPopupMenu(menu, 0, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(0, queuedCommands(0));
    EXPECT_TRUE(w.queue.empty());
    EXPECT_EQ(2, countOwner(WM_INITMENUPOPUP));
    EXPECT_EQ(UINT_PTR{0}, w.shownMenus.back().chosen);
    EXPECT_EQ(nullptr, FindWindowA("#32768", nullptr));
    DestroyMenu(menu);
}

TEST_F(MenusTest, SeparatorsAndDisabledItemsCannotBeChosen) {
    sim::World& w = sim::world();
    HMENU menu = trayMenu();
    EXPECT_TRUE(AppendMenuA(menu, MF_STRING | MF_GRAYED, 160, "Grayed"));
    EXPECT_EQ(BOOL{MF_ENABLED}, EnableMenuItem(menu, kOpen, MF_BYCOMMAND | MF_DISABLED));
    w.menuChoices = {kSeparatorId, 160, kOpen, kExit};
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(static_cast<BOOL>(kExit), TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(UINT_PTR{kSeparatorId}, w.shownMenus[0].scripted);
    EXPECT_EQ(UINT_PTR{0}, w.shownMenus[0].chosen);
    DestroyMenu(menu);
}

TEST_F(MenusTest, ItemsOfSubmenusCanBeChosen) {
    sim::World& w = sim::world();
    HMENU menu = trayMenu();
    HMENU sub = CreatePopupMenu();
    AppendMenuA(sub, MF_STRING, kInSubmenu, "Channel 3");
    ASSERT_TRUE(AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "Channels"));
    w.menuChoices = {kInSubmenu, reinterpret_cast<UINT_PTR>(sub)};
    EXPECT_NE(FALSE, TrackPopupMenu(menu, 0, 0, 0, 0, owner, nullptr));
    EXPECT_EQ(1, queuedCommands(kInSubmenu));
    // The item that opens the submenu is no command.
    EXPECT_EQ(0, TrackPopupMenu(menu, TPM_RETURNCMD, 0, 0, 0, owner, nullptr));
    DestroyMenu(menu);
}

TEST_F(MenusTest, NoNotifyKeepsTheOwnerOutOfIt) {
    sim::World& w = sim::world();
    HMENU menu = trayMenu();
    w.menuChoices.push_back(kOpen);
    g_ownerMessages.clear();
    EXPECT_NE(FALSE, TrackPopupMenu(menu, TPM_NONOTIFY, 0, 0, 0, owner, nullptr));
    EXPECT_TRUE(g_ownerMessages.empty());
    EXPECT_TRUE(w.queue.empty());
    DestroyMenu(menu);
}

TEST_F(MenusTest, LiveMenusCountWhatIsNotDestroyed) {
    sim::World& w = sim::world();
    EXPECT_EQ(0, w.liveMenus());
    HMENU bar = CreateMenu();
    HMENU sub = CreatePopupMenu();
    HMENU loose = CreatePopupMenu();
    EXPECT_EQ(3, w.liveMenus());
    EXPECT_FALSE(w.menu(bar)->popup);
    EXPECT_TRUE(w.menu(sub)->popup);
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(sub), "File");
    // A menu takes its submenus with it.
    EXPECT_TRUE(DestroyMenu(bar));
    EXPECT_EQ(1, w.liveMenus());
    EXPECT_EQ(nullptr, w.menu(sub));
    DestroyMenu(loose);
    EXPECT_EQ(0, w.liveMenus());
}

}  // namespace
