// The registry as the programs use it: value types, sizes and terminators,
// access rights, the order of subkeys and handles to deleted keys.
#include "contract.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

// A key handle closed on every path.
struct Key {
    HKEY h = nullptr;
    ~Key() {
        if (h) RegCloseKey(h);
    }
};

LSTATUS create(HKEY parent, const std::string& name, Key* key, DWORD* disposition = nullptr) {
    return RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key->h, disposition);
}

LSTATUS setDword(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LSTATUS readDword(HKEY key, const char* name, DWORD* value) {
    DWORD size = sizeof *value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
}

class Registry : public Contract {
protected:
    void SetUp() override {
        Contract::SetUp();
        ASSERT_EQ(ERROR_SUCCESS, create(HKEY_CURRENT_USER, contract::kRegistryRoot, &key_));
    }
    LSTATUS set(const char* name, DWORD type, const void* data, DWORD size) {
        return RegSetValueExA(key_.h, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    Key key_;
};

// What a read answers for each kind of value and buffer: the size always
// counts the stored bytes; a buffer one byte short gets ERROR_MORE_DATA with
// the size needed (and a content Windows leaves undefined). The setter
// stores the terminator that follows a string's counted bytes in memory, so
// only a string whose next byte is not NUL is stored bare, as another
// program's wide setter may store one; reading it adds a terminator where
// the buffer has room, without counting it.
TEST_F(Registry, ReadsReportSizesAndTerminateStrings) {
    const DWORD port = 0x12345678;
    const BYTE blob[] = {0, 1, 0, 2, 0};
    ASSERT_EQ(ERROR_SUCCESS, set("Text", REG_SZ, "abc", 4));
    ASSERT_EQ(ERROR_SUCCESS, set("Two", REG_SZ, "2", 2));
    ASSERT_EQ(ERROR_SUCCESS, set("Counted", REG_SZ, "ab", 2));
    ASSERT_EQ(ERROR_SUCCESS, set("Bare", REG_SZ, "abc", 2));
    ASSERT_EQ(ERROR_SUCCESS, set("Port", REG_DWORD, &port, sizeof port));
    ASSERT_EQ(ERROR_SUCCESS, set("Blob", REG_BINARY, blob, sizeof blob));
    struct Row {
        const char* name;
        DWORD buffer;  // 0: no buffer, a size query
        LSTATUS status;
        DWORD type, size;
        std::string bytes;  // the buffer's first six bytes after a success
    };
    const Row rows[] = {
        {"Text", 0, ERROR_SUCCESS, REG_SZ, 4, "ZZZZZZ"},
        {"Text", 4, ERROR_SUCCESS, REG_SZ, 4, std::string("abc\0ZZ", 6)},
        {"Text", 3, ERROR_MORE_DATA, REG_SZ, 4, ""},
        {"tEXT", 8, ERROR_SUCCESS, REG_SZ, 4, std::string("abc\0ZZ", 6)},
        {"Two", 4, ERROR_SUCCESS, REG_SZ, 2, std::string("2\0ZZZZ", 6)},
        {"Counted", 8, ERROR_SUCCESS, REG_SZ, 3, std::string("ab\0ZZZ", 6)},
        {"Bare", 0, ERROR_SUCCESS, REG_SZ, 2, "ZZZZZZ"},
        {"Bare", 2, ERROR_SUCCESS, REG_SZ, 2, "abZZZZ"},
        {"Bare", 1, ERROR_MORE_DATA, REG_SZ, 2, ""},
        {"Bare", 8, ERROR_SUCCESS, REG_SZ, 2, std::string("ab\0ZZZ", 6)},
        {"Port", 4, ERROR_SUCCESS, REG_DWORD, 4, "\x78\x56\x34\x12ZZ"},
        {"Port", 2, ERROR_MORE_DATA, REG_DWORD, 4, ""},
        {"Blob", 8, ERROR_SUCCESS, REG_BINARY, 5, std::string("\0\1\0\2\0Z", 6)},
    };
    for (const Row& row : rows) {
        char buf[8];
        std::memset(buf, 'Z', sizeof buf);
        DWORD type = REG_NONE, size = row.buffer;
        EXPECT_EQ(row.status, RegQueryValueExA(key_.h, row.name, nullptr, &type,
                                               row.buffer ? reinterpret_cast<BYTE*>(buf) : nullptr, &size))
            << row.name << " into " << row.buffer;
        EXPECT_EQ(row.type, type) << row.name;
        EXPECT_EQ(row.size, size) << row.name << " into " << row.buffer;
        if (row.status == ERROR_SUCCESS) {
            EXPECT_EQ(row.bytes, std::string(buf, 6)) << row.name << " into " << row.buffer;
        }
    }
    char buf[8];
    DWORD size = sizeof buf;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_.h, "Missing", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key_.h, nullptr, nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key_.h, "Port", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), nullptr));
    // The longest value name there is; one more is refused.
    EXPECT_EQ(ERROR_SUCCESS, set(std::string(16383, 'n').c_str(), REG_SZ, "v", 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, set(std::string(16384, 'n').c_str(), REG_SZ, "v", 2));
}

// A handle does what its rights allow and nothing more; RegOpenKeyA asks for
// all the key allows, which for the user's own keys includes writing.
TEST_F(Registry, HandlesDoWhatTheirRightsAllow) {
    ASSERT_EQ(ERROR_SUCCESS, setDword(key_.h, "Mode", 1));
    Key reader, writer, any, sub, again;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, contract::kRegistryRoot, 0, KEY_READ, &reader.h));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, contract::kRegistryRoot, 0, KEY_WRITE, &writer.h));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyA(HKEY_CURRENT_USER, contract::kRegistryRoot, &any.h));
    DWORD value = 0;
    char name[16];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(ERROR_ACCESS_DENIED, setDword(reader.h, "Mode", 2));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader.h, "Mode"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, readDword(writer.h, "Mode", &value));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegEnumKeyExA(writer.h, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, readDword(reader.h, "Mode", &value));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(ERROR_SUCCESS, setDword(any.h, "Mode", 2));
    EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(any.h));

    DWORD disposition = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key_.h, "Sub", 0, KEY_READ, &sub.h));
    ASSERT_EQ(ERROR_SUCCESS, create(key_.h, "Sub", &sub, &disposition));
    EXPECT_EQ(DWORD{REG_CREATED_NEW_KEY}, disposition);
    ASSERT_EQ(ERROR_SUCCESS, create(key_.h, "SUB", &again, &disposition));
    EXPECT_EQ(DWORD{REG_OPENED_EXISTING_KEY}, disposition);
    EXPECT_NE(sub.h, again.h);
    HKEY same = nullptr;  // without a subkey RegOpenKeyA hands back the handle given
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyA(sub.h, "", &same));
    EXPECT_EQ(sub.h, same);
}

// Windows promises no order, but its hives and Wine both enumerate subkeys
// sorted without regard to case, whatever order they were made in; which
// uninstall entry comes last rests on it. (The names avoid the characters
// between 'Z' and 'a': Wine sorts them as lower case, Windows's hives as
// upper case.) A name at the 255-character limit fits a 256-byte buffer; a
// buffer too small for a name is refused with the size left as it was.
TEST_F(Registry, SubkeysEnumerateSortedWithoutRegardToCase) {
    const std::string longest(255, 'k');
    for (const std::string& name : {std::string("zeta"), std::string("Alpha"), std::string("mid"),
                                    std::string("B2"), std::string("b1"), std::string("{GUID}"), std::string("9"),
                                    std::string("10"), longest}) {
        Key sub;
        ASSERT_EQ(ERROR_SUCCESS, create(key_.h, name, &sub));
    }
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0; i < 20; ++i) {
        DWORD size = sizeof name;
        LSTATUS status = RegEnumKeyExA(key_.h, i, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(ERROR_SUCCESS, status);
        EXPECT_EQ(std::strlen(name), size);  // the length, without the terminator
        names.push_back(name);
    }
    EXPECT_EQ((std::vector<std::string>{"10", "9", "Alpha", "b1", "B2", longest, "mid", "zeta", "{GUID}"}), names);

    std::memset(name, 'Z', sizeof name);
    DWORD size = 5;  // "Alpha" needs six with its terminator
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key_.h, 2, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(5u, size);
    EXPECT_EQ('Z', name[0]);
    size = 6;
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key_.h, 2, name, &size, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("Alpha", name);
}

// A key with subkeys cannot be deleted. Handles still open to a deleted key
// (an uninstaller may remove an entry the wizard holds) answer
// ERROR_KEY_DELETED, even once a new key has the same path, and still close;
// a closed handle is invalid.
TEST_F(Registry, HandlesToADeletedKeyAnswerKeyDeleted) {
    Key gone, inner, fresh, child;
    ASSERT_EQ(ERROR_SUCCESS, create(key_.h, "Gone", &gone));
    ASSERT_EQ(ERROR_SUCCESS, create(gone.h, "Inner", &inner));
    ASSERT_EQ(ERROR_SUCCESS, setDword(gone.h, "V", 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key_.h, "Gone"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(gone.h, "Inner"));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key_.h, "Gone"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(key_.h, "Gone"));
    ASSERT_EQ(ERROR_SUCCESS, create(key_.h, "Gone", &fresh));
    ASSERT_EQ(ERROR_SUCCESS, setDword(fresh.h, "V", 1));

    DWORD value = 0;
    char name[16];
    DWORD nameSize = sizeof name;
    EXPECT_EQ(ERROR_KEY_DELETED, readDword(inner.h, "V", &value));
    EXPECT_EQ(ERROR_KEY_DELETED, readDword(gone.h, "V", &value));
    EXPECT_EQ(ERROR_KEY_DELETED, setDword(gone.h, "V", 2));
    EXPECT_EQ(ERROR_KEY_DELETED, RegDeleteValueA(gone.h, "V"));
    EXPECT_EQ(ERROR_KEY_DELETED, RegEnumKeyExA(gone.h, 0, name, &nameSize, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_KEY_DELETED, RegOpenKeyExA(gone.h, "Inner", 0, KEY_READ, &child.h));
    EXPECT_EQ(ERROR_KEY_DELETED, RegFlushKey(gone.h));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(gone.h));
    EXPECT_EQ(ERROR_INVALID_HANDLE, readDword(gone.h, "V", &value));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(gone.h));
    gone.h = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_CURRENT_USER));  // the predefined keys never close
}

}  // namespace
