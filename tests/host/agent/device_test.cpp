// The device channel: discovery of the capture box, the channel's life and
// COM balance, and the receiver protocol's property traffic.
#include "scenario.h"

#include "device/device.h"
#include "sim/bridge/bridge.h"

using namespace scenario;

namespace {

class DeviceTest : public AgentTest {
protected:
    void SetUp() override {
        AgentTest::SetUp();
        restartAgentStatics();
    }
    void TearDown() override { closeRemoteDevice(); }

    // The property calls as text: "S1005=00000801" for SetValue, "G1006" for GetValue.
    static std::vector<std::string> traffic(const bridge::CaptureBox& box) {
        std::vector<std::string> out;
        char buf[32];
        for (const bridge::PropertyCall& c : box.log()) {
            if (c.set)
                std::snprintf(buf, sizeof buf, "S%04X=%08X", c.id, c.value);
            else
                std::snprintf(buf, sizeof buf, "G%04X", c.id);
            out.push_back(buf);
        }
        return out;
    }

    void expectBalanced() {
        EXPECT_EQ(w().comInitDepth, 0);
        EXPECT_EQ(w().coInitializeCalls, w().coUninitializeCalls);
        EXPECT_EQ(w().liveComObjects(), 0u);
        EXPECT_EQ(w().allocatedBstrs, 0);
        EXPECT_EQ(w().comMisuses, 0);
    }
};

const std::vector<std::string> STATUS_READ = {"S1005=00000801", "G1006", "S1005=00000901", "G1006"};
const std::vector<std::string> CODE_READ = {"S1007=00600001", "G1008"};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST_F(DeviceTest, OpenFindsTheBoxWritesTheBusAddressAndCloses) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    ASSERT_TRUE(openRemoteDevice());
    EXPECT_EQ(deviceModel, MODEL_2800);
    ASSERT_NE(remoteDevice, nullptr);
    EXPECT_NE(remoteDevice->control, nullptr);
    EXPECT_EQ(entry.box->busAddress(), 0x60u);
    EXPECT_EQ(traffic(*entry.box), std::vector<std::string>{"S100B=00000060"});
    EXPECT_EQ(w().comInitDepth, 1);
    closeRemoteDevice();
    EXPECT_EQ(remoteDevice, nullptr);
    expectBalanced();
    closeRemoteDevice();  // a second close does nothing
    EXPECT_EQ(w().coUninitializeCalls, 1);
    expectBalanced();
}

TEST_F(DeviceTest, NoDeviceLeavesTheChannelClosedAndComBalanced) {
    EXPECT_FALSE(openRemoteDevice());
    EXPECT_EQ(remoteDevice, nullptr);
    EXPECT_EQ(deviceModel, MODEL_NONE);
    // Three probes, each the named search and the twelve fallback names.
    EXPECT_EQ(callsWith("CreateClassEnumerator").size(), 39u);
    expectBalanced();
    closeRemoteDevice();
    EXPECT_EQ(w().coUninitializeCalls, 1) << "the caller's close after a failed open is a no-op";

    // Without a channel the protocol answers "no control interface" and calls nothing.
    DWORD status = 0, code = 0xFF;
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_NO_CONTROL);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(code, 0xFFu);
    EXPECT_FALSE(checkSnapshotButton());
}

TEST_F(DeviceTest, FriendlyNamesMatchByExactCasePrefix) {
    w().addCaptureDevice("usb 2800 video");
    w().addCaptureDevice("USB 2800 Vid");
    w().addCaptureDevice("Integrated Camera");
    EXPECT_FALSE(openRemoteDevice()) << "lower case and a cut name are not the box";
    expectBalanced();

    sim::resetWorld();
    restartAgentStatics();
    w().addCaptureDevice("usb 2800 video");
    auto& longer = w().addCaptureDevice("USB 2800 Video #2");
    ASSERT_TRUE(openRemoteDevice());
    EXPECT_EQ(longer.box->busAddress(), 0x60u);
    closeRemoteDevice();
    expectBalanced();
}

TEST_F(DeviceTest, FirstDeviceThatBindsWinsAndBadEntriesAreSkipped) {
    auto& unreadable = w().addCaptureDevice("USB 2800 Video");
    unreadable.nameReadable = E_FAIL;
    auto& unbindable = w().addCaptureDevice("USB 2800 Video");
    unbindable.bindToObjectResult = E_FAIL;
    auto& tooLong = w().addCaptureDevice("USB 2800 Video" + std::string(250, 'x'));  // 264 characters
    auto& noStorage = w().addCaptureDevice("USB 2800 Video");
    noStorage.bindToStorageResult = E_FAIL;
    auto& good = w().addCaptureDevice("USB 2800 Video");
    auto& second = w().addCaptureDevice("USB 2800 Video");

    ASSERT_TRUE(openRemoteDevice());
    EXPECT_EQ(good.box->busAddress(), 0x60u);
    EXPECT_EQ(second.box->busAddress(), 0u);
    EXPECT_EQ(tooLong.box->busAddress(), 0u) << "a name that does not fit 260 bytes is unreadable";
    EXPECT_EQ(unbindable.box->busAddress(), 0u);
    closeRemoteDevice();
    expectBalanced();
}

TEST_F(DeviceTest, BoxUnderAnyModelNameWorksEndToEnd) {
    for (const char* name : MODEL_FALLBACK_NAMES) {
        SCOPED_TRACE(name);
        sim::resetWorld();
        restartAgentStatics();
        auto& entry = w().addCaptureDevice(std::string(name) + " 1");
        ASSERT_TRUE(openRemoteDevice());
        LONG expected = std::string(name) == "USB 2820 Video" ? MODEL_2820
                        : std::string(name) == "USB 2821 Video" ? MODEL_2821
                                                                 : MODEL_2800;
        EXPECT_EQ(deviceModel, expected);
        // Reopening (as the device retry does) finds it again under its own name.
        ASSERT_TRUE(openRemoteDevice());
        entry.box->press(7);
        DWORD status = 0, code = 0xFF;
        ASSERT_EQ(readRemoteKey(&status, &code), 0);
        EXPECT_EQ(code, 7u);
        closeRemoteDevice();
        expectBalanced();
    }
}

TEST_F(DeviceTest, UnpluggedBoxLeavesTheChannelUnattachedUntilClosed) {
    auto& entry = w().addCaptureDevice("USB 2820 Video");
    ASSERT_TRUE(openRemoteDevice());
    EXPECT_EQ(deviceModel, MODEL_2820);
    entry.box->unplug();
    DWORD status = 0, code = 0xFF;
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_DEVICE_GONE);

    // The box leaves the device list: the next open closes the stale object,
    // finds nothing, and stays Unattached with the model remembered.
    w().captureDevices.clear();
    EXPECT_FALSE(openRemoteDevice());
    ASSERT_NE(remoteDevice, nullptr);
    EXPECT_EQ(remoteDevice->control, nullptr);
    EXPECT_EQ(deviceModel, MODEL_2820);
    EXPECT_EQ(w().comInitDepth, 1);
    closeRemoteDevice();
    expectBalanced();

    // Plugged in again under the same name: found, model unchanged.
    auto& back = w().addCaptureDevice("USB 2820 Video");
    EXPECT_TRUE(openRemoteDevice());
    EXPECT_EQ(back.box->busAddress(), 0x60u);
    closeRemoteDevice();
    expectBalanced();

    // A listed box that no longer hands out its control interface: it is
    // present, but the open does not count it as found, since every access
    // through the Unattached channel answers 6 and no key could ever come.
    auto& stubborn = w().captureDevices.front();
    stubborn->answersBridgeControl = false;
    EXPECT_FALSE(openRemoteDevice());
    ASSERT_NE(remoteDevice, nullptr);
    EXPECT_EQ(remoteDevice->control, nullptr);
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_NO_CONTROL);
    closeRemoteDevice();
    expectBalanced();
}

TEST_F(DeviceTest, KeyReadTrafficAndResults) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    ASSERT_TRUE(openRemoteDevice());
    bridge::CaptureBox& box = *entry.box;

    // Idle: four calls, the status written, the code word untouched.
    box.clearLog();
    DWORD status = 0, code = 0xFF;
    ASSERT_EQ(readRemoteKey(&status, &code), 0);
    EXPECT_EQ(traffic(box), STATUS_READ);
    EXPECT_TRUE(status & RECEIVER_IDLE);
    EXPECT_EQ(code, 0xFFu);

    // A waiting code: six calls, the code handed over.
    box.clearLog();
    box.press(0x25);
    status = 0, code = 0xFF;
    ASSERT_EQ(readRemoteKey(&status, &code), 0);
    EXPECT_EQ(traffic(box), STATUS_READ + CODE_READ);
    EXPECT_FALSE(status & RECEIVER_IDLE);
    EXPECT_EQ(code, 0x25u);

    // Status read fails with a general failure: the receiver is read all the
    // same, and a box that answers "gone" there is reported gone.
    box.failNext(BRIDGE_REG_DATA, false, bridge::GEN_FAILURE, 2);
    box.failNext(BRIDGE_I2C_DATA, false, bridge::DEVICE_GONE);
    status = 0x1234, code = 0xFF;
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_DEVICE_GONE);
    EXPECT_EQ(status, 0x1234u) << "neither output is written on failure";
    box.failNext(BRIDGE_REG_DATA, false, bridge::GEN_FAILURE, 2);
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_GEN_FAILURE);
    EXPECT_EQ(code, 0xFFu);

    // A waiting code whose read fails is no key, not key 0.
    box.press(3);
    box.failNext(BRIDGE_I2C_DATA, false, bridge::GEN_FAILURE);
    status = 0, code = 0xFF;
    EXPECT_NE(readRemoteKey(&status, &code), 0);
    EXPECT_EQ(code, 0xFFu);

    // Unplugged: everything answers 0x80070001.
    box.unplug();
    EXPECT_EQ(readRemoteKey(&status, &code), RESULT_DEVICE_GONE);
}

TEST_F(DeviceTest, FailedAccessClearsTheSelection) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    ASSERT_TRUE(openRemoteDevice());
    bridge::CaptureBox& box = *entry.box;

    // A failed select: no data call, the select property gets 0.
    box.clearLog();
    box.failNext(BRIDGE_REG_SELECT, true, bridge::GEN_FAILURE);
    DWORD value = 0;
    EXPECT_EQ(remoteDevice->readRegister(BRIDGE_REG_SNAPSHOT, 1, &value), RESULT_GEN_FAILURE);
    EXPECT_EQ(traffic(box), (std::vector<std::string>{"S1005=00000C01", "S1005=00000000"}));
    EXPECT_EQ(remoteDevice->lastResult, RESULT_GEN_FAILURE) << "the clearing call does not replace the result";

    // A failed data call: cleared the same way, for the I2C side too.
    box.clearLog();
    box.failNext(BRIDGE_I2C_DATA, false, E_FAIL);
    EXPECT_EQ(remoteDevice->readI2C(0x60, 1, &value), E_FAIL);
    EXPECT_EQ(traffic(box), (std::vector<std::string>{"S1007=00600001", "G1008", "S1007=00000000"}));
}

TEST_F(DeviceTest, SnapshotButtonIsCheckedAndCleared) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    ASSERT_TRUE(openRemoteDevice());
    bridge::CaptureBox& box = *entry.box;

    box.clearLog();
    box.pressSnapshot();  // register 12 reads 0x25
    EXPECT_TRUE(checkSnapshotButton());
    EXPECT_EQ(traffic(box), (std::vector<std::string>{"S1005=00000C01", "G1006", "S1005=00000C01",
                                                      "S1006=00000005"}));
    EXPECT_FALSE(box.snapshotLatched());
    EXPECT_FALSE(checkSnapshotButton()) << "one press is reported once";

    box.clearLog();
    box.setSnapshotRegisterBase(0xDF);  // every bit but the latch
    EXPECT_FALSE(checkSnapshotButton());
    EXPECT_EQ(traffic(box).size(), 2u) << "no write-back";

    box.clearLog();
    box.pressSnapshot();
    box.failNext(BRIDGE_REG_DATA, false, E_FAIL);
    EXPECT_FALSE(checkSnapshotButton()) << "a failed read counts as no press";
    EXPECT_EQ(traffic(box).back(), "S1005=00000000") << "only the selection is cleared";
}

TEST_F(DeviceTest, PrimingPaths) {
    auto& entry = w().addCaptureDevice("USB 2800 Video");
    ASSERT_TRUE(openRemoteDevice());
    bridge::CaptureBox& box = *entry.box;

    box.clearLog();
    box.forceStatus(7);
    primeRemoteReceiver();
    EXPECT_EQ(traffic(box), STATUS_READ + STATUS_READ);

    box.clearLog();
    box.forceStatus(3);
    primeRemoteReceiver();
    EXPECT_EQ(traffic(box), STATUS_READ);

    box.clearLog();
    box.failNext(BRIDGE_REG_DATA, false, bridge::GEN_FAILURE, 2);
    primeRemoteReceiver();
    EXPECT_EQ(box.log().size(), 4u + 2u + 4u) << "failed status read (with its clearing call), then one more";
    EXPECT_TRUE(callsWith("Sleep").empty());

    box.clearLog();
    uint32_t before = w().now;
    box.unplug();
    primeRemoteReceiver();
    EXPECT_EQ(callsWith("Sleep", "100").size(), 1u);
    EXPECT_EQ(w().now, before + 100);
    EXPECT_EQ(traffic(box).size(), 4u + 2u) << "the failed status read, then one discarded code read";
    EXPECT_EQ(traffic(box)[4], "S1007=00600001");
}
