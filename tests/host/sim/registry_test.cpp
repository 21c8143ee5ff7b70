// The simulated registry: its call log, handle counts, scripted removals and
// denied keys.
#include <sim/world.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kVendor[] = "HKLM\\SOFTWARE\\Vendor";

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { sim::resetWorld(); }
    sim::Registry& reg() { return sim::world().registry; }

    HKEY openVendor(REGSAM sam = KEY_READ) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, sam, &key));
        return key;
    }
};

TEST_F(RegistryTest, CreateSetDeleteAndCallLog) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Vendor\\Pad", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, &disposition));
    EXPECT_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition);
    EXPECT_TRUE(reg().exists("HKCU\\Software\\Vendor"));

    const char text[] = "Remote";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Mode", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text));
    EXPECT_EQ("Remote", reg().string("HKEY_CURRENT_USER\\software\\vendor\\pad", "mode"));
    EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(key));

    HKEY again = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\VENDOR\\PAD", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &again, &disposition));
    EXPECT_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition);
    EXPECT_NE(key, again);
    EXPECT_EQ(2u, reg().openHandles());

    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(again, "MODE"));
    EXPECT_EQ(nullptr, reg().value("HKCU\\Software\\Vendor\\Pad", "Mode"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(again, "Mode"));

    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
    EXPECT_EQ(0u, reg().openHandles());

    auto flushes = sim::world().callsTo("RegFlushKey");
    ASSERT_EQ(1u, flushes.size());
    EXPECT_EQ("key=HKCU\\Software\\Vendor\\Pad", flushes[0].args);
    auto sets = sim::world().callsTo("RegSetValueExA");
    ASSERT_EQ(1u, sets.size());
    EXPECT_EQ("key=HKCU\\Software\\Vendor\\Pad name=Mode type=1 size=7", sets[0].args);
    std::vector<std::string> order;
    for (const sim::Call& c : sim::world().calls) order.push_back(c.api);
    EXPECT_EQ((std::vector<std::string>{"RegCreateKeyExA", "RegSetValueExA", "RegFlushKey",
                                        "RegCreateKeyExA", "RegDeleteValueA", "RegDeleteValueA", "RegCloseKey",
                                        "RegCloseKey"}),
              order);
}

TEST_F(RegistryTest, NamesAreCaseInsensitiveAndKeepFirstSpelling) {
    reg().setDword("HKEY_LOCAL_MACHINE\\Software\\Vendor", "Volume", 3);
    reg().setDword("hklm\\SOFTWARE\\VENDOR", "VOLUME", 7);
    sim::RegKey* key = reg().find("HKLM\\software\\vendor");
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(1u, key->values.size());
    EXPECT_EQ(std::vector<std::string>{"Volume"}, key->valueOrder);
    EXPECT_EQ("HKLM\\Software\\Vendor", reg().pathOf(key));
    DWORD v = 0;
    EXPECT_TRUE(reg().dword(kVendor, "volume", &v));
    EXPECT_EQ(7u, v);
    EXPECT_FALSE(reg().dword(kVendor, "Missing", &v));
    EXPECT_EQ(nullptr, reg().find("HKXX\\Software"));
    EXPECT_THROW(reg().create("Nowhere\\Key"), std::invalid_argument);

    HKEY h = openVendor(KEY_READ);
    DWORD size = sizeof v;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(h, "vOlUmE", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(h));
}

TEST_F(RegistryTest, HandlesAreCountedAndSurviveKeyRemoval) {
    reg().setDword(std::string(kVendor) + "\\Pad", "Port", 1);
    HKEY vendor = openVendor();
    HKEY pad = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(vendor, "Pad", 0, KEY_READ, &pad));
    EXPECT_EQ(2u, reg().openHandles());

    HKEY same = nullptr;  // RegOpenKeyA without a subkey hands back the same handle
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(vendor, "", &same));
    EXPECT_EQ(vendor, same);
    EXPECT_EQ(2u, reg().openHandles());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));  // predefined: a no-op
    EXPECT_EQ(2u, reg().openHandles());

    HKEY missing = reinterpret_cast<HKEY>(1);  // Windows clears it; Wine 8 leaves it
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(vendor, "Nope", 0, KEY_READ, &missing));
    EXPECT_EQ(nullptr, missing);
    EXPECT_EQ(2u, reg().openHandles());

    reg().remove(kVendor);
    reg().setDword(std::string(kVendor) + "\\Pad", "Port", 2);  // a new key at the same path
    DWORD v = 0, size = sizeof v;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(pad, "Port", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size));
    EXPECT_EQ(ERROR_KEY_DELETED, RegFlushKey(vendor));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(pad));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(vendor));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(vendor));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey(vendor));
    EXPECT_EQ(0u, reg().openHandles());
}

TEST_F(RegistryTest, DeniedKeysRefuseOpenAndWrite) {
    reg().create("HKLM\\SOFTWARE\\Locked").denyOpen = true;
    reg().setString(kVendor, "Mode", "old");
    reg().find(kVendor)->denyWrite = true;

    HKEY key = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Locked", 0, nullptr, 0, KEY_READ,
                                                   nullptr, &key, nullptr));
    // Asking for write access to a read-only key fails at the open, as on Windows.
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor\\New", 0, nullptr, 0,
                                                   KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_FALSE(reg().exists("HKLM\\SOFTWARE\\Vendor\\New"));
    EXPECT_EQ(0u, reg().openHandles());

    // RegOpenKeyA grants what the key allows: reading works, writing does not.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vendor", &key));
    const BYTE text[] = "new";
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(key, "Mode", 0, REG_SZ, text, sizeof text));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(key, "Mode"));
    EXPECT_EQ("old", reg().string(kVendor, "Mode"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(0u, reg().openHandles());
}

// The documented limit of a key name (one part of a path) is 255 characters,
// so a program's 256-byte name buffer holds every key name the system lets
// a program make; a longer one is refused and nothing is created. (Wine 8
// accepts 256 characters.)
TEST_F(RegistryTest, KeyNamesBeyondTheLimitAreRefused) {
    const std::string longest(255, 'k'), tooLong(256, 'k');
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Vendor\\" + tooLong).c_str(), 0,
                                                       nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    EXPECT_EQ(nullptr, key);
    EXPECT_FALSE(reg().exists("HKLM\\SOFTWARE\\Vendor")) << "nothing of the path is created";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, ("SOFTWARE\\Vendor\\" + longest).c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    // A path may be long; only each of its names is limited.
    HKEY deep = nullptr;
    std::string path;
    for (int i = 0; i < 8; ++i) path += (i ? "\\" : "") + std::string(200, static_cast<char>('a' + i));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(key, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &deep, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(deep));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(0u, reg().openHandles());
}

}  // namespace
