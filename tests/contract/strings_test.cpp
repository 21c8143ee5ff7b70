// LoadStringA as the programs call it: into a buffer of known size.
#include "contract.h"
#include "contract_resource.h"

#include <cstring>
#include <string>

namespace {

using Strings = Contract;

// What fits is copied and terminated, and the characters copied are
// returned; a string cut short keeps size-1 of them. A missing string
// empties the buffer and returns 0, so the programs' "> 0" tells a caption
// from none. Size 0 (LoadStringW's request for a pointer to the resource)
// returns -1 and writes nothing; the programs never pass it.
TEST_F(Strings, LoadStringCopiesWhatFitsAndTerminates) {
    struct Row {
        UINT id;
        int size, length;
        std::string bytes;  // the buffer's first eight bytes afterwards
    };
    const Row rows[] = {
        {IDS_CONTRACT_SHORT, 100, 5, std::string("Tuner\0ZZ", 8)},
        {IDS_CONTRACT_SHORT, 6, 5, std::string("Tuner\0ZZ", 8)},
        {IDS_CONTRACT_SHORT, 5, 4, std::string("Tune\0ZZZ", 8)},
        {IDS_CONTRACT_SHORT, 1, 0, std::string("\0ZZZZZZZ", 8)},
        {IDS_CONTRACT_SHORT, 0, -1, "ZZZZZZZZ"},
        {IDS_CONTRACT_UNSET, 100, 0, std::string("\0ZZZZZZZ", 8)},
        {IDS_CONTRACT_NO_BLOCK, 100, 0, std::string("\0ZZZZZZZ", 8)},
    };
    for (const Row& row : rows) {
        char buf[100];
        std::memset(buf, 'Z', sizeof buf);
        EXPECT_EQ(row.length, LoadStringA(contract::testModule(), row.id, buf, row.size)) << row.id << "/" << row.size;
        EXPECT_EQ(row.bytes, std::string(buf, 8)) << row.id << "/" << row.size;
    }
    char buf[40];
    EXPECT_EQ(31, LoadStringA(contract::testModule(), IDS_CONTRACT_LONG, buf, sizeof buf));
    EXPECT_STREQ("Channel list of the capture box", buf);
}

}  // namespace
