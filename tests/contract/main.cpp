// The platform tests' program. Started with --child=<code>,<ms> it is the
// child program of the process tests instead: it waits and exits.
#include "contract.h"

#include <commctrl.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--child=", 8) == 0) {
            char* rest = nullptr;
            unsigned long code = std::strtoul(argv[i] + 8, &rest, 10);
            unsigned long ms = (rest && *rest == ',') ? std::strtoul(rest + 1, nullptr, 10) : 0;
            Sleep(static_cast<DWORD>(ms));
            return static_cast<int>(code);
        }
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
