// Identifiers of the sheets platform tests' resources.
#pragma once

#define IDD_SHEET_CHOICES 300
#define IDD_SHEET_WORK 301
#define IDD_SHEET_DONE 302
