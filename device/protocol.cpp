// The receiver protocol: register and I2C accesses through the control
// interface, the key read with its status handshake, the snapshot latch.
#include "device/device.h"

namespace {

ULONG registerSelectWord(BYTE index, BYTE length) {
    return (static_cast<ULONG>(index & 0xFF) << 8) | (length & 0xFF);
}

ULONG i2cSelectWord(BYTE address, BYTE length) {
    return (static_cast<ULONG>(address & 0xFF) << 16) | (length & 0xFF);
}

// With the channel closed the operations answer as without a control interface.
CaptureDevice* device() { return remoteDevice; }

constexpr DWORD PRIME_STATUS = 7;
constexpr DWORD PRIME_WAIT_MS = 100;

}  // namespace

HRESULT CaptureDevice::selectThenData(ULONG selectId, ULONG selectWord, ULONG dataId, DWORD* word, bool write) {
    if (!control) return RESULT_NO_CONTROL;
    ULONG select = selectWord;
    lastResult = control->SetValue(selectId, &select);
    if (!FAILED(lastResult)) {
        ULONG data = write ? static_cast<ULONG>(*word) : 0;
        lastResult = write ? control->SetValue(dataId, &data) : control->GetValue(dataId, &data);
        if (!write && !FAILED(lastResult)) *word = static_cast<DWORD>(data);
    }
    if (FAILED(lastResult)) {
        // Clear the selection so the next access starts clean; this call's own
        // result does not replace the failure being reported.
        ULONG clear = 0;
        control->SetValue(selectId, &clear);
    }
    return lastResult;
}

HRESULT CaptureDevice::readRegister(BYTE index, BYTE length, DWORD* buffer) {
    return selectThenData(BRIDGE_REG_SELECT, registerSelectWord(index, length), BRIDGE_REG_DATA, buffer, false);
}

HRESULT CaptureDevice::writeRegister(BYTE index, BYTE length, const DWORD* word) {
    DWORD value = *word;
    return selectThenData(BRIDGE_REG_SELECT, registerSelectWord(index, length), BRIDGE_REG_DATA, &value, true);
}

HRESULT CaptureDevice::readI2C(BYTE address, BYTE length, DWORD* buffer) {
    return selectThenData(BRIDGE_I2C_SELECT, i2cSelectWord(address, length), BRIDGE_I2C_DATA, buffer, false);
}

HRESULT CaptureDevice::readStatus(DWORD* status) {
    DWORD scratch = 0;
    readRegister(BRIDGE_REG_PRE_STATUS, ACCESS_LENGTH, &scratch);
    return readRegister(BRIDGE_REG_RECEIVER_STATUS, ACCESS_LENGTH, status);
}

HRESULT CaptureDevice::setBusAddress(DWORD value) {
    if (!control) return RESULT_NO_CONTROL;
    ULONG word = value;
    lastResult = control->SetValue(BRIDGE_BUS_ADDRESS, &word);
    return lastResult;
}

HRESULT readRemoteKey(DWORD* status, DWORD* code) {
    CaptureDevice* dev = device();
    DWORD localStatus = 0;
    DWORD localCode = 0;
    if (!dev) return RESULT_NO_CONTROL;
    HRESULT r = dev->readStatus(&localStatus);
    if (r != 0) {
        // The receiver is read all the same; a box that has gone shows it here too.
        HRESULT codeRead = dev->readI2C(RECEIVER_I2C_ADDRESS, ACCESS_LENGTH, &localCode);
        return codeRead == RESULT_DEVICE_GONE ? RESULT_DEVICE_GONE : r;
    }
    *status = localStatus;
    if (localStatus & RECEIVER_IDLE) return 0;
    HRESULT codeRead = dev->readI2C(RECEIVER_I2C_ADDRESS, ACCESS_LENGTH, &localCode);
    // A code that could not be read is no key: the cleared word must not be
    // taken for key 0.
    if (codeRead != 0) return codeRead;
    *code = localCode;
    return 0;
}

bool checkSnapshotButton() {
    CaptureDevice* dev = device();
    if (!dev) return false;
    DWORD value = 0;
    dev->readRegister(BRIDGE_REG_SNAPSHOT, ACCESS_LENGTH, &value);
    if (!(value & SNAPSHOT_LATCH)) return false;
    DWORD cleared = value & 0xDF;
    dev->writeRegister(BRIDGE_REG_SNAPSHOT, ACCESS_LENGTH, &cleared);
    return true;
}

void primeRemoteReceiver() {
    CaptureDevice* dev = device();
    DWORD status = 0;
    HRESULT r = dev ? dev->readStatus(&status) : RESULT_NO_CONTROL;
    if (r == 0) {
        if (status == PRIME_STATUS) dev->readStatus(&status);
        return;
    }
    if (r == RESULT_GEN_FAILURE) {
        dev->readStatus(&status);
        return;
    }
    Sleep(PRIME_WAIT_MS);
    DWORD scratch = 0;
    if (dev) dev->readI2C(RECEIVER_I2C_ADDRESS, ACCESS_LENGTH, &scratch);
}
