// The registry as the programs use it: value types, sizes and terminators.
#include "contract.h"

#include <cstring>
#include <string>

namespace {

class Registry : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, contract::kRegistryRoot, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key_, nullptr));
    }
    void TearDown() override {
        if (key_) RegCloseKey(key_);
    }
    HKEY key_ = nullptr;
};

// A string stored without its terminator comes back with one: the system
// adds it on the way in, and reads report it in the size.
TEST_F(Registry, StringStoredWithoutTerminatorReadsBackTerminated) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key_, "Bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("ab"), 2));
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    DWORD type = 0, size = sizeof buf;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key_, "Bare", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size));
    EXPECT_EQ(DWORD{REG_SZ}, type);
    EXPECT_EQ(3u, size);
    EXPECT_EQ(std::string("ab\0Z", 4), std::string(buf, 4));
}

}  // namespace
