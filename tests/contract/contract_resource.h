// Identifiers of the platform tests' resources.
#pragma once

#define IDS_CONTRACT_SHORT 101
#define IDS_CONTRACT_LONG 102
// No strings: the first shares the block of sixteen of the two above, the
// second's block holds none.
#define IDS_CONTRACT_UNSET 103
#define IDS_CONTRACT_NO_BLOCK 150
