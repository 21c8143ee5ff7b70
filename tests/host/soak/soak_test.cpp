// A day of the agent's life on the simulated desktop, compressed into seconds.
//
// The real WinMain runs while a random user presses and holds remote keys,
// presses the snapshot button, pulls the capture box out and plugs it back,
// while the box answers property calls with every result the receiver
// protocol tells apart, while TV applications are started and closed, the
// display changes, the About and Setting dialogs are opened and cancelled,
// the tray menu is opened and the Shut Down prompt is opened and cancelled,
// and while the machine sleeps and wakes (now and then with a resume notice
// and no suspend, or a suspend that fails and sends no resume). A box plugged
// in again sometimes lists before its driver hands out its control interface.
//
// Checked every virtual second and at the end: COM initialisation follows the
// channel, no COM object, registry key, token or menu is left behind, the
// timers are armed exactly as the agent's flags say (never the key poll
// without a control interface, and once the box has answered undisturbed for
// a while, the key poll running on it), the pointer never lands
// on or outside its bounds, the prompt is never shown twice, nothing shuts the
// computer down. An oracle reads the box's property traffic and decides, tick
// by tick, which key the box handed over completely; the agent must decide
// exactly those keys, and nothing reaches an application or the pointer on a
// tick without one.
//
// SOAK_SEED=<n> replays a run (a failing run prints its seed), SOAK_HOURS=<h>
// runs longer (fractions allowed).
#include "scenario.h"
#include "tvapps.h"

#include "agent/dialogs.h"
#include "agent/poll.h"
#include "apps/keymaps.h"
#include "apps/pointer.h"
#include "device/device.h"
#include "resource.h"
#include "receiver_oracle.h"
#include "sim/bridge/bridge.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

extern HMENU trayMenu;

using namespace scenario;

namespace {

constexpr uint32_t DEFAULT_SEED = 20240611;
constexpr double DEFAULT_HOURS = 24.0;
constexpr uint32_t MS_PER_HOUR = 3600u * 1000u;
constexpr uint32_t CHECK_PERIOD_MS = 1000;
// Failures reported before the run is cut short.
constexpr int MAX_REPORTED_FAILURES = 25;
// Once the box has been plugged in, answering and left alone this long (no
// unplug, fault, sleep or driver start since), the agent must be polling it:
// a few retry periods and every queued fault consumed, with room to spare.
constexpr uint32_t QUIET_MS = 60000;

// Every result the receiver protocol tells apart: the box gone, the general
// failure the priming answers, another failure, and a success code other than 0.
const int32_t INJECTED_RESULTS[] = {oracle::RES_GONE, oracle::RES_GEN_FAILURE, oracle::RES_FAIL, oracle::RES_FALSE};

uint32_t envSeed() {
    const char* s = std::getenv("SOAK_SEED");
    return s && *s ? static_cast<uint32_t>(std::strtoul(s, nullptr, 0)) : DEFAULT_SEED;
}

double envHours() {
    const char* s = std::getenv("SOAK_HOURS");
    double h = s && *s ? std::strtod(s, nullptr) : DEFAULT_HOURS;
    // The virtual clock is a 32-bit millisecond tick; stay clear of its wrap.
    if (!(h > 0)) h = DEFAULT_HOURS;
    if (h > 1000) h = 1000;
    return h;
}

// ---- the soak ---------------------------------------------------------------------------------

const TvApp ALL_TV[TV_COUNT] = {TV_POWERVCR, TV_WINDVR, TV_HONESTECH, TV_ROVIVER};

struct Counts {
    uint64_t checks = 0, presses = 0, holds = 0, snapshots = 0, unplugs = 0, replugs = 0, failNexts = 0,
             randomFailureWindows = 0, forcedStatus = 0, appsRun = 0, appsClosed = 0, displayChanges = 0,
             dialogsOpened = 0, dialogsCancelled = 0, menusOpened = 0, promptsCancelled = 0, effects = 0,
             agentMoves = 0, mouseMoves = 0, suspends = 0, resumes = 0, loneResumes = 0, failedSuspends = 0,
             driverResets = 0, slowDrivers = 0, livenessChecks = 0;
};

class Soak : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        seed = envSeed();
        hours = envHours();
        rng.seed(seed);
        receiver = std::make_unique<oracle::ReceiverOracle>([this](const std::string& why) { report(why); });
    }

    // ---- failures ----
    void report(const std::string& why) {
        ++failures;
        if (failures <= MAX_REPORTED_FAILURES)
            ADD_FAILURE() << "[t=" << w().now << " ms, seed " << seed << "] " << why;
        if (failures == MAX_REPORTED_FAILURES) throw sim::ScenarioEnd("too many failures");
    }
    void require(bool condition, const std::string& why) {
        if (!condition) report(why);
    }

    // ---- randomness ----
    uint32_t uniform(uint32_t lo, uint32_t hi) {  // inclusive
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }

    // ---- the world's picture ----
    sim::CaptureDeviceEntry& device() { return *entry; }
    bool listed() const {
        for (const auto& e : sim::world().captureDevices)
            if (e == entry) return true;
        return false;
    }
    int visiblePrompts() {
        int n = 0;
        for (const auto& s : w().dialogStates) {
            const sim::DialogState& st = s.second;
            if (st.ended || st.destroyed || st.record >= w().dialogsShown.size()) continue;
            if (w().dialogsShown[st.record].templateId == IDD_SHUTDOWN) ++n;
        }
        return n;
    }
    int innermostDialogTemplate() {
        HWND d = w().innermostDialog();
        if (!d) return 0;
        auto it = w().dialogStates.find(reinterpret_cast<uintptr_t>(d));
        if (it == w().dialogStates.end() || it->second.record >= w().dialogsShown.size()) return -1;
        return w().dialogsShown[it->second.record].templateId;
    }

    // A remote key for the user to press: any key, sometimes a raw byte the
    // receiver folds; never the Power key while the prompt is open (that
    // would switch the computer off).
    uint8_t randomCode() {
        for (;;) {
            uint8_t code;
            uint32_t r = uniform(0, 99);
            if (r < 6) code = static_cast<uint8_t>(uniform(32, 255));
            else if (r < 12) code = 21;
            else if (r < 20) code = chance(0.5) ? 18 : 11;
            else code = static_cast<uint8_t>(uniform(0, 31));
            if (shutdownPromptOpen && (code & 0x1F) == KEY_POWER && code != 0xFF) continue;
            return code;
        }
    }

    // Schedules something for the agent process now running; it is dropped
    // once that process has ended.
    void later(uint32_t ms, const std::string& what, std::function<void()> action) {
        w().after(ms, what, [this, run = runNumber, action = std::move(action)] {
            if (run == runNumber && !finished) action();
        });
    }

    // ---- the user ----
    void scheduleUser() {
        uint32_t gap = chance(0.7) ? uniform(60, 1500) : uniform(1500, 20000);
        later(gap, "the user", [this] { userAction(); });
    }

    void userAction() {
        if (finishing) return;
        uint32_t r = uniform(0, 999);
        auto box = device().box;
        if (r < 380) {
            box->press(randomCode());
            ++counts.presses;
        } else if (r < 500) {
            uint8_t code = randomCode();
            if ((code & 0x1F) == KEY_SHUTDOWN && chance(0.5)) code = static_cast<uint8_t>(uniform(0, 10));
            box->hold(code, uniform(80, 4000));
            ++counts.holds;
        } else if (r < 540) {
            box->pressSnapshot();
            ++counts.snapshots;
        } else if (r < 565) {
            unplug();
        } else if (r < 640) {
            injectFailures();
        } else if (r < 700) {
            startOrCloseApp();
        } else if (r < 730) {
            changeDisplay();
        } else if (r < 800) {
            openDialog(chance(0.5) ? IDM_ABOUT : IDM_SETTING);
        } else if (r < 840) {
            openTrayMenu();
        } else if (r < 880) {
            moveMouse();
        } else if (r < 900) {
            // A direction key held long: the pointer runs into an edge.
            static const uint8_t directions[] = {1, 2, 3, 4, 6, 7, 8, 9};
            box->hold(directions[uniform(0, 7)], uniform(3000, 12000));
            ++counts.holds;
        } else if (r < 925) {
            powerEvent();
        } else {
            box->press(randomCode());
            ++counts.presses;
        }
        scheduleUser();
    }

    void unplug() {
        if (!listed()) return;
        auto box = device().box;
        box->unplug();
        auto& devs = w().captureDevices;
        devs.erase(std::remove(devs.begin(), devs.end(), entry), devs.end());
        ++counts.unplugs;
        disturbed();
        uint32_t away = chance(0.8) ? uniform(200, 12000) : uniform(12000, 90000);
        w().after(away, "the box is plugged in again", [this] {
            device().box->plug();
            if (!listed()) w().captureDevices.push_back(entry);
            ++counts.replugs;
            disturbed();
            // Now and then the box is listed before its driver has started and
            // hands out its control interface only a moment later, maybe just
            // after a device retry looked at it.
            if (chance(0.4)) {
                device().answersBridgeControl = false;
                ++counts.slowDrivers;
                w().after(uniform(1, 5000), "the box's driver has started", [this] {
                    device().answersBridgeControl = true;
                    disturbed();
                });
            }
        });
    }

    // The box answers, its driver is up, and the test has left it alone for a while.
    bool boxUndisturbed() {
        return listed() && device().box->plugged() && device().answersBridgeControl &&
               w().now - lastDisturbance >= QUIET_MS;
    }
    void disturbed() { lastDisturbance = w().now; }

    // The machine sleeps and wakes. The system's notices come from another
    // thread and reach the window at the agent's next message fetch, in its
    // own loop or in any modal loop. While it sleeps the box loses power:
    // after the wake its driver has been reloaded, so interfaces obtained
    // before the sleep answer "gone".
    void powerEvent() {
        auto notify = [this](WPARAM event) { PostMessageA(mainWindow, WM_POWERBROADCAST, event, 0); };
        disturbed();
        uint32_t r = uniform(0, 9);
        if (r < 7) {
            notify(PBT_APMSUSPEND);
            ++counts.suspends;
            later(uniform(300, 30000), "the machine wakes", [this, notify] {
                if (device().box->plugged() && chance(0.5)) {
                    device().box->unplug();
                    device().box->plug();
                    ++counts.driverResets;
                }
                notify(PBT_APMRESUMEAUTOMATIC);
                // A wake by the user sends both notices.
                if (chance(0.6)) notify(PBT_APMRESUMESUSPEND);
                ++counts.resumes;
                disturbed();
            });
        } else if (r < 9) {
            notify(chance(0.5) ? PBT_APMRESUMEAUTOMATIC : PBT_APMRESUMESUSPEND);
            ++counts.loneResumes;
        } else {
            // The suspend fails after it was announced: no resume notice follows.
            notify(PBT_APMSUSPEND);
            ++counts.failedSuspends;
        }
    }

    void injectFailures() {
        struct Target {
            uint32_t id;
            bool set;
        };
        static const Target targets[] = {{bridge::PROP_REG_SELECT, true}, {bridge::PROP_REG_DATA, false},
                                         {bridge::PROP_REG_DATA, true},   {bridge::PROP_I2C_SELECT, true},
                                         {bridge::PROP_I2C_DATA, false},  {bridge::PROP_BUS_ADDRESS, true}};
        auto box = device().box;
        disturbed();
        int32_t result = INJECTED_RESULTS[uniform(0, 3)];
        uint32_t r = uniform(0, 9);
        if (r < 6) {
            const Target& t = targets[uniform(0, 5)];
            box->failNext(t.id, t.set, result, static_cast<int>(uniform(1, 4)));
            ++counts.failNexts;
        } else if (r < 8) {
            double p = uniform(1, 30) / 100.0;
            box->failRandomly(p, result, uniform(1, 0xFFFFFF));
            ++counts.randomFailureWindows;
            w().after(uniform(100, 5000), "random failures stop", [this] {
                device().box->failRandomly(0, 0, 1);
                disturbed();
            });
        } else {
            static const uint32_t words[] = {7, 0, 4, 3, 0xFF, 0xFB, 0x10};
            box->forceStatus(words[uniform(0, 6)], static_cast<int>(uniform(1, 3)));
            ++counts.forcedStatus;
        }
    }

    void startOrCloseApp() {
        TvApp tv = ALL_TV[uniform(0, TV_COUNT - 1)];
        AppId app = appOf(tv);
        if (HWND top = tvapps::topWindow(app)) {
            w().closeProgramWindow(top);
            ++counts.appsClosed;
        } else if (chance(0.6)) {
            tvapps::run(app);
            ++counts.appsRun;
        }
    }

    void changeDisplay() {
        static const int modes[][2] = {{640, 480},   {800, 600},   {1024, 768}, {1152, 864},
                                       {1280, 1024}, {1600, 1200}, {1366, 768}, {1920, 1080}};
        const int* m = modes[uniform(0, 7)];
        // Moves made under the old bounds are judged by them.
        check();
        w().changeDisplay(m[0], m[1]);
        ++counts.displayChanges;
        require(pointerBounds.right == m[0] - 1 && pointerBounds.bottom == m[1] - 1,
                "the pointer bounds did not follow the display change to " + std::to_string(m[0]) + "x" +
                    std::to_string(m[1]));
    }

    // The user moves the mouse, often right to an edge or a corner of the
    // screen, where the remote's next move must stop short of the bounds.
    void moveMouse() {
        int width = w().metric(SM_CXSCREEN), height = w().metric(SM_CYSCREEN);
        auto pick = [this](int size) {
            switch (uniform(0, 5)) {
            case 0: return 0;
            case 1: return 1;
            case 2: return size - 1;
            case 3: return size - 2;
            default: return static_cast<int>(uniform(0, static_cast<uint32_t>(size - 1)));
            }
        };
        w().cursor = POINT{pick(width), pick(height)};
        ++counts.mouseMoves;
    }

    void openDialog(WORD command) {
        PostMessageA(mainWindow, WM_COMMAND, command, 0);
        ++counts.dialogsOpened;
        scheduleDialogCancel(uniform(100, 8000), 0);
    }

    // Escape on the About or Setting dialog when it is the one on top; the
    // prompt and message boxes are left to their own answers.
    void scheduleDialogCancel(uint32_t in, int tries) {
        later(in, "the user cancels a dialog", [this, tries] {
            int t = innermostDialogTemplate();
            if (t == IDD_SETTING && chance(0.25)) {
                // Now and then the user picks an entry and confirms it instead.
                HWND d = w().innermostDialog();
                LRESULT n = SendDlgItemMessageA(d, IDC_APP_COMBO, CB_GETCOUNT, 0, 0);
                if (n > 0) w().pickComboEntry(IDC_APP_COMBO, static_cast<int>(uniform(0, static_cast<uint32_t>(n - 1))));
                require(w().clickDialogButton(IDOK), "OK did not reach the Setting dialog");
            } else if (t == IDD_ABOUT || t == IDD_SETTING) {
                require(w().pressDialogEscape(), "Escape did not reach the dialog");
                ++counts.dialogsCancelled;
            } else if (t != 0 && tries < 200) {
                scheduleDialogCancel(500, tries + 1);
            }
        });
    }

    void openTrayMenu() {
        // A click without a device ends the agent by design; the soak keeps it running.
        if (!deviceFound || !keyPollTimer.armed) return;
        if (chance(0.2)) {
            PostMessageA(mainWindow, TRAY_NOTIFY_MESSAGE, TRAY_ICON_ID, WM_MOUSEMOVE);
            return;
        }
        if (chance(0.3)) {
            w().menuChoices.push_back(IDM_ABOUT);
            scheduleDialogCancel(uniform(1000, 6000), 0);
        }
        PostMessageA(mainWindow, TRAY_NOTIFY_MESSAGE, TRAY_ICON_ID, chance(0.5) ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
        ++counts.menusOpened;
    }

    // While the prompt is open the user answers it with a key other than Power.
    void answerPrompt() {
        if (!shutdownPromptOpen || promptAnswerPending) return;
        promptAnswerPending = true;
        later(uniform(100, 3000), "the user cancels the prompt", [this] {
            promptAnswerPending = false;
            if (!shutdownPromptOpen) return;
            uint8_t code;
            do code = static_cast<uint8_t>(uniform(0, 31));
            while (code == KEY_POWER);
            device().box->press(code);
            ++counts.promptsCancelled;
        });
    }

    // ---- the checks ----
    void scheduleCheck() {
        later(CHECK_PERIOD_MS, "invariants", [this] {
            check();
            scheduleCheck();
        });
    }

    void checkTimers() {
        bool poll = keyPollTimer.armed, retry = deviceRetryTimer.armed, watch = appWatchTimer.armed;
        require(poll != retry, std::string("key poll ") + (poll ? "armed" : "disarmed") + " and device retry " +
                                   (retry ? "armed" : "disarmed"));
        int seen[4] = {0, 0, 0, 0};
        for (const sim::Timer& t : w().timers) {
            bool ours = t.hwnd == mainWindow && t.id >= 1 && t.id <= 3;
            require(ours, "a timer the agent's records do not know: id " + std::to_string(t.id));
            if (!ours) continue;
            ++seen[t.id];
            static const UINT periods[] = {0, KEY_POLL_PERIOD_MS, APP_WATCH_PERIOD_MS, DEVICE_RETRY_PERIOD_MS};
            require(t.period == periods[t.id], "timer " + std::to_string(t.id) + " runs with period " +
                                                   std::to_string(t.period));
        }
        require(seen[KEY_POLL_TIMER_ID] == (poll ? 1 : 0), "the system's key poll timer does not match its flag");
        require(seen[APP_WATCH_TIMER_ID] == (watch ? 1 : 0), "the system's watcher timer does not match its flag");
        require(seen[DEVICE_RETRY_TIMER_ID] == (retry ? 1 : 0),
                "the system's device retry timer does not match its flag");
        // An Unattached channel answers every read with "no control interface",
        // never "gone": polling it would never end and never get a key.
        if (poll) require(remoteDevice && remoteDevice->control, "the key poll runs without a control interface");
        if (boxUndisturbed()) {
            ++counts.livenessChecks;
            require(poll && remoteDevice && remoteDevice->control,
                    "the box has answered undisturbed for " + std::to_string((w().now - lastDisturbance) / 1000) +
                        " s, yet the key poll is not running on it");
        }
    }

    void checkResources() {
        int depth = w().comInitDepth;
        require(depth == (remoteDevice ? 1 : 0),
                "COM initialised " + std::to_string(depth) + " times with " +
                    (remoteDevice ? "a device object held" : "no device object"));
        require(w().comMisuses == 0, "COM misused " + std::to_string(w().comMisuses) + " times");
        require(w().allocatedBstrs == 0, std::to_string(w().allocatedBstrs) + " BSTRs held between messages");
        int control = remoteDevice && remoteDevice->control ? 1 : 0;
        require(w().liveComObjects("IBridgeControl") == control,
                std::to_string(w().liveComObjects("IBridgeControl")) + " control interfaces alive, " +
                    std::to_string(control) + " held");
        // The control interface keeps its filter alive; nothing else outlives a call.
        require(w().liveComObjects("IBaseFilter") == control,
                std::to_string(w().liveComObjects("IBaseFilter")) + " filters alive, " + std::to_string(control) +
                    " control interface held");
        require(w().liveComObjects() == 2 * control,
                std::to_string(w().liveComObjects()) + " COM objects alive between messages");
        require(w().registry.openHandles() == 0,
                std::to_string(w().registry.openHandles()) + " registry keys left open");
        require(w().openTokens() == 0, std::to_string(w().openTokens()) + " tokens left open");
        require(w().liveMenus() == (trayMenu ? 1 : 0),
                std::to_string(w().liveMenus()) + " menus alive, the agent keeps " + (trayMenu ? "one" : "none"));
        require(w().tray.size() == 1, std::to_string(w().tray.size()) + " icons in the notification area");
    }

    void checkPrompt() {
        int shown = visiblePrompts();
        require(shown <= 1, std::to_string(shown) + " Shut Down prompts shown at once");
        if (shutdownPromptOpen) require(shown == 1, "the prompt's flag is set with no prompt shown");
        require(w().shutdownRequests.empty(), "the computer was asked to shut down");
    }

    // The effects of keys (posted keys and commands, chords, program starts,
    // pointer moves and clicks) in the call log since the last look; the log
    // is emptied afterwards so a day of polling stays small.
    void collectEffects() {
        for (const sim::Call& c : w().calls) {
            bool effect = false;
            if (c.api == "SetCursorPos") {
                effect = true;
                ++counts.agentMoves;
                int x = 0, y = 0;
                if (std::sscanf(c.args.c_str(), "x=%d y=%d", &x, &y) == 2) {
                    const PointerBounds& b = pointerBounds;
                    require(b.left < x && x < b.right && b.top < y && y < b.bottom,
                            "the pointer was moved to (" + std::to_string(x) + ", " + std::to_string(y) +
                                "), on or outside its bounds (" + std::to_string(b.right) + ", " +
                                std::to_string(b.bottom) + ")");
                }
            } else if (c.api == "mouse_event" || c.api == "keybd_event" || c.api == "WinExec") {
                effect = true;
            } else if (c.api == "PostMessageA" || c.api == "SendMessageA") {
                unsigned msg = 0;
                size_t at = c.args.find(" msg=");
                if (at != std::string::npos && std::sscanf(c.args.c_str() + at, " msg=%u", &msg) == 1)
                    effect = msg == WM_KEYDOWN || msg == WM_CHAR || msg == WINDVR_COMMAND_MESSAGE ||
                             msg == ROVIVER_COMMAND_MESSAGE;
            } else if (c.api == "ModalLeave" && c.args.rfind("MessageBox", 0) == 0) {
                // A launch sequence goes on when its message box is answered.
                modalLeaves.insert(c.time);
            }
            if (effect) {
                pendingEffects.push_back({c.time, c.api + " " + c.args});
                ++counts.effects;
            }
        }
        w().calls.clear();
    }

    void reconcileEffects() {
        uint32_t now = w().now;
        std::vector<std::pair<uint32_t, std::string>> keep;
        for (auto& e : pendingEffects) {
            if (e.first == now) {
                keep.push_back(e);
                continue;
            }
            bool allowed = receiver->keyTicks().count(e.first) || modalLeaves.count(e.first);
            require(allowed, "\"" + e.second + "\" at tick " + std::to_string(e.first) +
                                 " with no key handed over by the box");
        }
        pendingEffects.swap(keep);
    }

    void check() {
        ++counts.checks;
        receiver->settleBefore(w().now);
        collectEffects();
        reconcileEffects();
        checkTimers();
        checkResources();
        checkPrompt();
        answerPrompt();
    }

    void finish() {
        finishing = true;
        auto box = device().box;
        box->release();
        box->failRandomly(0, 0, 1);
        if (!w().modals.empty()) {
            // Dialogs are cancelled; menus and message boxes end by themselves.
            int t = innermostDialogTemplate();
            if (t == IDD_ABOUT || t == IDD_SETTING || t == IDD_SHUTDOWN) w().pressDialogEscape();
            later(250, "finish", [this] { finish(); });
            return;
        }
        check();
        PostMessageA(mainWindow, WM_COMMAND, IDM_EXIT, 0);
    }

    // A new machine state for the next agent process: which TV applications
    // are installed, the default for the Power key, the country, the
    // Windows family, the screen.
    void setupMachine() {
        static const char* const keys[] = {"HKLM\\Software\\Cyberlink\\PowerVCR II",
                                           "HKLM\\Software\\Honestech\\TV Plus\\TVR",
                                           "HKLM\\Software\\InterVideo\\WinDVR"};
        for (const char* k : keys) w().registry.remove(k);
        installed.clear();
        for (AppId app : {APP_POWERVCR, APP_WINDVR, APP_HONESTECH, APP_ROVIVER}) {
            if (chance(0.6)) {
                tvapps::install(app);
                installed.push_back(app);
            }
        }
        static const DWORD defaults[] = {1, 2, 3, 4, 7};
        if (chance(0.1))
            w().registry.remove(SETTINGS);  // a first start
        else
            w().registry.setDword(SETTINGS, SETTING_DEFAULT_TV_APP, defaults[uniform(0, 4)]);
        static const char* const countries[] = {"81", "1", "7a", "081", "886"};
        w().registry.setString("HKCU\\Control Panel\\International", "iCountry", countries[uniform(0, 4)]);
        w().win95Family = chance(0.15);
        static const int modes[][2] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 1024}, {1366, 768}};
        const int* m = modes[uniform(0, 4)];
        w().changeDisplay(m[0], m[1]);
        w().messageBoxAnswers.clear();
        w().menuChoices.clear();
    }

    void endOfRunChecks(const Outcome& run) {
        receiver->settle();
        collectEffects();
        reconcileEffects();
        for (auto& e : pendingEffects)
            if (!receiver->keyTicks().count(e.first) && !modalLeaves.count(e.first))
                report("\"" + e.second + "\" at tick " + std::to_string(e.first) + " with no key handed over");
        pendingEffects.clear();
        require(run.finished, "the agent did not end on Exit");
        require(run.exitCode == 0, "the agent ended with exit code " + std::to_string(run.exitCode));
        // After Exit: nothing of the channel is left, no handle, no icon.
        require(w().comInitDepth == 0, "COM still initialised after Exit");
        require(w().liveComObjects() == 0, std::to_string(w().liveComObjects()) + " COM objects alive after Exit");
        require(w().allocatedBstrs == 0, "BSTRs left after Exit");
        require(w().comMisuses == 0, "COM misused");
        require(w().registry.openHandles() == 0, "registry keys left open after Exit");
        require(w().openTokens() == 0, "tokens left open after Exit");
        // The menu of the last click lives until the process ends, which the
        // simulated system does not reclaim.
        require(w().liveMenus() == (trayMenu ? 1 : 0), "menus left behind after Exit");
        require(w().tray.empty(), "Exit left an icon in the notification area");
        require(w().shutdownRequests.empty(), "the computer was asked to shut down");
        require(!shutdownPromptOpen, "the prompt's flag outlived the agent");
        // The next process starts with none of this one's menus.
        for (auto it = w().menus.begin(); it != w().menus.end();) it = w().menus.erase(it);
    }

    uint32_t seed = DEFAULT_SEED;
    double hours = DEFAULT_HOURS;
    std::mt19937 rng;
    std::unique_ptr<oracle::ReceiverOracle> receiver;
    std::shared_ptr<sim::CaptureDeviceEntry> entry;
    int failures = 0;
    bool finishing = false;
    bool finished = false;
    bool promptAnswerPending = false;
    uint32_t lastDisturbance = 0;
    int runNumber = 0;
    std::vector<AppId> installed;
    std::vector<std::pair<uint32_t, std::string>> pendingEffects;
    std::set<uint32_t> modalLeaves;
    Counts counts;
};

TEST_F(Soak, ADayOfRandomUseKeepsEveryInvariant) {
    SCOPED_TRACE(testing::Message() << "replay with SOAK_SEED=" << seed << " SOAK_HOURS=" << hours);
    const auto wallStart = std::chrono::steady_clock::now();

    sim::CaptureDeviceEntry& added = w().addCaptureDevice("USB 2800 Video");
    for (const auto& e : w().captureDevices)
        if (e.get() == &added) entry = e;
    ASSERT_TRUE(entry);
    entry->box->setLogLimit(0);  // the oracle watches the traffic as it happens
    entry->box->setCallObserver([this](const bridge::PropertyCall& c) {
        receiver->onCall(c);
        // The prompt is checked on every tick, not only every second.
        if (visiblePrompts() > 1) report("two Shut Down prompts shown at once");
    });
    w().registry.create("HKLM\\SOFTWARE\\CyberLink");

    // The day is lived by a few agent processes in a row, each on a machine
    // set up afresh: every start and every Exit is checked too.
    const uint64_t totalMs = static_cast<uint64_t>(hours * MS_PER_HOUR);
    uint64_t lived = 0;
    int runs = 0;
    while (lived < totalMs && failures < MAX_REPORTED_FAILURES) {
        uint64_t left = totalMs - lived;
        uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(left, uniform(2 * MS_PER_HOUR, 9 * MS_PER_HOUR)));
        if (left - length < MS_PER_HOUR / 2) length = static_cast<uint32_t>(left);
        setupMachine();
        ++runNumber;
        ++runs;
        finishing = finished = promptAnswerPending = false;
        const uint32_t start = w().now;
        disturbed();
        scheduleUser();
        scheduleCheck();
        later(length, "finish", [this] { finish(); });
        Outcome run = runAgent(length + 10 * 60 * 1000);
        finished = true;
        endOfRunChecks(run);
        lived += w().now - start;
        if (!run.finished) break;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_GE(lived, totalMs);

    const auto& s = receiver->stats();
    // A soak that exercised nothing proves nothing: per virtual hour at
    // least this much happened.
    const double h = hours;
    EXPECT_GE(s.keysDecided, static_cast<uint64_t>(500 * h));
    EXPECT_GE(s.snapshotKeys, static_cast<uint64_t>(10 * h));
    EXPECT_GE(s.goneTicks, static_cast<uint64_t>(5 * h));
    EXPECT_GE(s.failedReads, static_cast<uint64_t>(50 * h));
    EXPECT_GE(counts.promptsCancelled, static_cast<uint64_t>(1 * h));
    EXPECT_GE(counts.dialogsCancelled, static_cast<uint64_t>(20 * h));
    EXPECT_GE(counts.agentMoves, static_cast<uint64_t>(10 * h));
    EXPECT_GE(counts.suspends + counts.failedSuspends, static_cast<uint64_t>(2 * h));
    EXPECT_GE(counts.slowDrivers, static_cast<uint64_t>(1 * h));
    EXPECT_GE(counts.livenessChecks, static_cast<uint64_t>(60 * h));

    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("soak: seed %u, %.2f virtual hours in %d agent runs, %.1f s wall time\n", seed, lived / 3600000.0,
                runs, wall);
    std::printf("soak: %" PRIu64 " poll ticks, %" PRIu64 " keys handed over + %" PRIu64
                " snapshot keys, %" PRIu64 " decided as handed over, %" PRIu64 " polls with failed reads, %" PRIu64
                " box-gone ticks, %" PRIu64 " codes lost to failed handshakes\n",
                s.pollTicks, s.keysHandedOver, s.snapshotKeys, s.keysDecided, s.failedReads, s.goneTicks,
                s.codesLostToFailures);
    std::printf("soak: user: %" PRIu64 " presses, %" PRIu64 " holds, %" PRIu64 " snapshots, %" PRIu64
                " unplugs, %" PRIu64 " replugs, %" PRIu64 " failure bursts, %" PRIu64 " random-failure windows, %" PRIu64
                " forced status words, %" PRIu64 " apps run, %" PRIu64 " apps closed, %" PRIu64
                " display changes, %" PRIu64 " dialogs opened, %" PRIu64 " cancelled, %" PRIu64
                " menus, %" PRIu64 " prompt answers, %" PRIu64 " mouse moves\n",
                counts.presses, counts.holds, counts.snapshots, counts.unplugs, counts.replugs, counts.failNexts,
                counts.randomFailureWindows, counts.forcedStatus, counts.appsRun, counts.appsClosed,
                counts.displayChanges, counts.dialogsOpened, counts.dialogsCancelled, counts.menusOpened,
                counts.promptsCancelled, counts.mouseMoves);
    std::printf("soak: power: %" PRIu64 " suspends, %" PRIu64 " resumes (%" PRIu64 " with the driver reloaded), %" PRIu64
                " lone resume notices, %" PRIu64 " failed suspends; %" PRIu64 " replugs with a slow driver; %" PRIu64
                " checks that an undisturbed box is polled\n",
                counts.suspends, counts.resumes, counts.driverResets, counts.loneResumes, counts.failedSuspends,
                counts.slowDrivers, counts.livenessChecks);
    std::printf("soak: %" PRIu64 " invariant checks, %" PRIu64 " key effects, %" PRIu64
                " pointer moves, %zu dialogs shown, %zu message boxes, %zu program starts, %d failures\n",
                counts.checks, counts.effects, counts.agentMoves, w().dialogsShown.size(), w().messageBoxes.size(),
                w().programStarts.size(), failures);
    if (HasFailure()) std::printf("soak: FAILED; replay with SOAK_SEED=%u SOAK_HOURS=%g\n", seed, hours);
}

}  // namespace
