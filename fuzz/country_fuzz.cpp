// The country code text: readCountryCode and decideCountryMode with an
// "iCountry" value of any type, size and content (the Windows NT family), or
// a win.ini of any content (the Windows 95 family).
//
// On the NT family the code is the value of at most its first five
// characters up to the terminator, each taken as (character - '0') without a
// digit check; a value that does not fit the 30-byte buffer, or a missing
// key or value, gives 1. The mode is on exactly for 81. No key stays open.
#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

#include "agent/settings.h"
#include "fuzz_world.h"

namespace {

constexpr size_t COUNTRY_BUFFER = 30;
constexpr size_t DIGITS_TAKEN = 5;

int expectedFromRegistry(bool keyPresent, bool valuePresent, const std::vector<uint8_t>& bytes) {
    if (!keyPresent || !valuePresent || bytes.size() > COUNTRY_BUFFER) return 1;
    int value = 0;
    for (size_t i = 0; i < DIGITS_TAKEN && i < bytes.size() && bytes[i] != 0; ++i)
        value = value * 10 + (static_cast<signed char>(bytes[i]) - '0');
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    fuzz::freshWorld(false);
    sim::World& w = sim::world();
    static const DWORD types[] = {REG_SZ, REG_BINARY, REG_EXPAND_SZ, REG_DWORD, REG_MULTI_SZ, REG_NONE};
    bool win95 = in.ConsumeIntegralInRange(0, 7) == 0;
    bool keyPresent = in.ConsumeIntegralInRange(0, 15) != 0;
    bool valuePresent = keyPresent && in.ConsumeIntegralInRange(0, 15) != 0;
    DWORD type = in.ConsumeBool() ? types[in.ConsumeIntegralInRange(0, 5)] : in.ConsumeIntegral<DWORD>();
    std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));

    const std::string key = "HKCU\\Control Panel\\International";
    if (keyPresent) w.registry.create(key);
    if (valuePresent) w.registry.setRaw(key, "iCountry", type, std::vector<BYTE>(bytes.begin(), bytes.end()));
    if (win95) {
        w.win95Family = true;
        w.files[w.fileKey(w.windowsDirectory + "\\win.ini")] = in.ConsumeRemainingBytesAsString();
    }

    int code = readCountryCode();
    decideCountryMode();
    if (country81Mode != (code == 81)) fuzz::fatal("the country mode does not follow the code " + std::to_string(code));
    if (!win95) {
        int expected = expectedFromRegistry(keyPresent, valuePresent, bytes);
        if (code != expected)
            fuzz::fatal("iCountry " + fuzz::hex(bytes) + " read as " + std::to_string(code) + ", expected " +
                        std::to_string(expected));
    }
    if (w.registry.openHandles() != 0) fuzz::fatal("a registry key left open");
    return 0;
}
