// Identifiers of the modal platform tests' resources.
#pragma once

#define IDD_MODAL_TICKS 200
