// The receiver protocol and the key dispatcher fed arbitrary property answers.
//
// The agent runs its real window, timers and message loop on the simulated
// desktop; its device channel holds a control interface whose every SetValue
// and GetValue answer (result and word) comes from the fuzz input. The start
// of the input also chooses the machine: the installed TV applications, the
// running ones, the default for the Power key and the country.
//
// Checked on every property call: the key poll runs with the device retry
// disarmed, at most one Shut Down prompt is shown. Checked at the end: the
// receiver oracle's decision for every tick matches the key the agent took,
// nothing reached an application or the pointer on a tick without a key, the
// pointer stayed strictly inside its bounds, no registry key or token is left
// open, the control interface was released exactly as often as referenced.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "agent/agent.h"
#include "agent/dialogs.h"
#include "agent/poll.h"
#include "agent/settings.h"
#include "agent/timers.h"
#include "apps/adapters.h"
#include "apps/pointer.h"
#include "device/device.h"
#include "fuzz_world.h"
#include "resource.h"
#include "tests/host/agent/tvapps.h"
#include "tests/host/soak/receiver_oracle.h"

namespace {

constexpr uint32_t POLL_MS = 70;
constexpr uint32_t MAX_RUN_MS = 10 * 60 * 1000;

class FakeControl final : public IBridgeControl {
public:
    FakeControl(FuzzedDataProvider& input, oracle::ReceiverOracle& receiver) : in_(input), receiver_(receiver) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IBridgeControl) {
            *object = static_cast<IBridgeControl*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (refs_ == 0) fuzz::fatal("the control interface was released more often than referenced");
        return --refs_;
    }
    HRESULT STDMETHODCALLTYPE Reserved() override { fuzz::fatal("the driver's unused method was called"); }
    HRESULT STDMETHODCALLTYPE SetValue(ULONG id, ULONG* word) override {
        if (!word) fuzz::fatal("SetValue without a word");
        int32_t r = answer();
        if (r == 0 || r == oracle::RES_FALSE) {
            if (id == 0x1005) regSelect_ = *word;
            if (id == 0x1007) i2cSelect_ = *word;
        }
        observe(true, id, *word, r);
        return r;
    }
    HRESULT STDMETHODCALLTYPE GetValue(ULONG id, ULONG* word) override {
        if (!word) fuzz::fatal("GetValue without a word");
        bool calm = in_.remaining_bytes() == 0;
        int32_t r = answer();
        if (calm) {
            // Once the input is spent the box is idle: nothing waits, nothing latched.
            uint32_t reg = (regSelect_ >> 8) & 0xFF;
            *word = id == 0x1008 ? 0xFF : reg == 9 ? 0x04 : reg == 12 ? 0x05 : 0;
        } else {
            uint8_t how = in_.ConsumeIntegral<uint8_t>();
            if (how & 0x80) *word = in_.ConsumeIntegral<uint32_t>();
            else if (how & 0x40) *word = (*word & ~0xFFu) | in_.ConsumeIntegral<uint8_t>();
            // else: the word is left as the caller set it
        }
        observe(false, id, *word, r);
        return r;
    }

    ULONG refs() const { return refs_; }

private:
    int32_t answer() {
        if (in_.remaining_bytes() == 0) return 0;
        switch (in_.ConsumeIntegral<uint8_t>() % 10) {
        case 5: return oracle::RES_FALSE;
        case 6: return oracle::RES_GONE;
        case 7: return oracle::RES_GEN_FAILURE;
        case 8: return oracle::RES_FAIL;
        case 9: return in_.ConsumeIntegral<int32_t>();
        default: return 0;
        }
    }

    void observe(bool set, uint32_t id, uint32_t value, int32_t result) {
        // The bus address is written by the open, before polling starts; every
        // other call belongs to the poll or to the priming that follows its start.
        if (id != 0x100B && (!keyPollTimer.armed || deviceRetryTimer.armed))
            fuzz::fatal("a property call while the key poll is disarmed or the device retry armed");
        int prompts = 0;
        sim::World& w = sim::world();
        for (const auto& s : w.dialogStates)
            if (!s.second.ended && !s.second.destroyed && s.second.record < w.dialogsShown.size() &&
                w.dialogsShown[s.second.record].templateId == IDD_SHUTDOWN)
                ++prompts;
        if (prompts > 1) fuzz::fatal("two Shut Down prompts shown at once");
        receiver_.onCall({w.now, set, id, value, result});
    }

    FuzzedDataProvider& in_;
    oracle::ReceiverOracle& receiver_;
    ULONG refs_ = 0;
    uint32_t regSelect_ = 0;
    uint32_t i2cSelect_ = 0;
};

void setUpMachine(FuzzedDataProvider& in) {
    sim::World& w = sim::world();
    static const DWORD defaults[] = {1, 2, 3, 4, 0, 7, 0xFFFFFFFFu};
    w.registry.setDword("HKLM\\" SETTINGS_KEY_PATH, SETTING_DEFAULT_TV_APP, defaults[in.ConsumeIntegralInRange(0, 6)]);
    w.registry.setString("HKCU\\Control Panel\\International", "iCountry", in.ConsumeBool() ? "81" : "1");
    w.registry.create("HKLM\\SOFTWARE\\CyberLink");
    const AppId apps[] = {APP_POWERVCR, APP_WINDVR, APP_HONESTECH, APP_ROVIVER, APP_WINDVD, APP_WINRIP};
    uint8_t installed = in.ConsumeIntegral<uint8_t>();
    uint8_t running = in.ConsumeIntegral<uint8_t>();
    for (int i = 0; i < 6; ++i)
        if (installed & (1u << i)) tvapps::install(apps[i]);
    for (int i = 0; i < 6; ++i)
        if (running & (1u << i)) tvapps::run(apps[i]);
    if (in.ConsumeBool()) w.changeDisplay(640 + in.ConsumeIntegralInRange(0, 1000), 480 + in.ConsumeIntegralInRange(0, 700));
}

bool isEffect(const sim::Call& c) {
    if (c.api == "SetCursorPos" || c.api == "mouse_event" || c.api == "keybd_event" || c.api == "WinExec")
        return true;
    if (c.api != "PostMessageA" && c.api != "SendMessageA") return false;
    unsigned msg = 0;
    size_t at = c.args.find(" msg=");
    if (at == std::string::npos || std::sscanf(c.args.c_str() + at, " msg=%u", &msg) != 1) return false;
    return msg == WM_KEYDOWN || msg == WM_CHAR || msg == 911 || msg == ROVIVER_COMMAND_MESSAGE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    HINSTANCE instance = fuzz::freshWorld(true);
    sim::World& w = sim::world();
    setUpMachine(in);

    oracle::ReceiverOracle receiver([](const std::string& why) { fuzz::fatal(why); });
    FakeControl control(in, receiver);

    restartAgentStatics();
    LoadStringA(instance, IDS_WINDOW_TITLE, windowTitle, AGENT_NAME_CAPACITY);
    LoadStringA(instance, IDS_WINDOW_CLASS, windowClassName, AGENT_NAME_CAPACITY);
    registerMainClass(instance);
    uint32_t budget = static_cast<uint32_t>(POLL_MS * (in.remaining_bytes() / 2 + 40) + 4000);
    w.deadline = w.now + (budget < MAX_RUN_MS ? budget : MAX_RUN_MS);
    w.hasDeadline = true;
    try {
        // The simulated system lists no capture device, so the agent starts
        // with the device retry armed; the fake box is then opened as the
        // retry opens a box it has found.
        if (!createMainWindow(instance)) fuzz::fatal("the agent did not start");
        if (remoteDevice || deviceFound || !deviceRetryTimer.armed) fuzz::fatal("no device, yet the channel is open");
        CoInitialize(nullptr);
        remoteDevice = new CaptureDevice();
        remoteDevice->control = &control;
        control.AddRef();
        remoteDevice->setBusAddress(BUS_ADDRESS);
        deviceFound = true;
        stopDeviceRetry();
        startKeyPolling();
        primeRemoteReceiver();
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    } catch (const sim::ScenarioEnd&) {
    }
    receiver.settle();

    if (keyPollTimer.armed == deviceRetryTimer.armed) fuzz::fatal("key poll and device retry armed alike");
    std::set<uint32_t> modalLeaves;
    for (const sim::Call& c : w.calls)
        if (c.api == "ModalLeave" && c.args.rfind("MessageBox", 0) == 0) modalLeaves.insert(c.time);
    for (const sim::Call& c : w.calls) {
        if (!isEffect(c)) continue;
        if (!receiver.keyTicks().count(c.time) && !modalLeaves.count(c.time))
            fuzz::fatal("\"" + c.api + " " + c.args + "\" at tick " + std::to_string(c.time) +
                        " with no key handed over");
        int x = 0, y = 0;
        if (c.api == "SetCursorPos" && std::sscanf(c.args.c_str(), "x=%d y=%d", &x, &y) == 2) {
            const PointerBounds& b = pointerBounds;
            if (!(b.left < x && x < b.right && b.top < y && y < b.bottom))
                fuzz::fatal("the pointer was moved onto or outside its bounds: " + c.args);
        }
    }
    if (w.registry.openHandles() != 0) fuzz::fatal("registry keys left open");
    if (w.openTokens() != 0) fuzz::fatal("tokens left open");

    closeRemoteDevice();
    if (control.refs() != 0) fuzz::fatal("the control interface is still referenced after the close");
    endAgentStatics();
    w.endProcess();
    return 0;
}
