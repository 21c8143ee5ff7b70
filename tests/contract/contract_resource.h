// Identifiers of the platform tests' resources.
#pragma once

#define IDS_CONTRACT_SHORT 101
#define IDS_CONTRACT_LONG 102
