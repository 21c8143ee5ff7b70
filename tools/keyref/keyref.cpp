// The remote's key reference, docs/keys.md, written from the product's own
// tables (the four key maps, the pointer's directions, the dispatcher's
// fixed keys), so that it says what the agent does:
//
//   keyref [OUT]     the markdown to OUT, else to stdout
//
// A key the tables use but this program cannot name stops it with an error
// rather than putting a raw number in front of users.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "apps/adapters.h"
#include "apps/keymap_tables.h"
#include "apps/keymaps.h"
#include "apps/pointer.h"

namespace {

// Column order follows TvApp.
const char* const TV_NAMES[TV_COUNT] = {"PowerVCR II", "WinDVR", "honestechTV", "RoviverUVA"};

const char* const NOTHING = "—";

[[noreturn]] void fail(const std::string& what) {
    std::cerr << "keyref: " << what << "\n";
    std::exit(1);
}

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string keyName(UINT vk) {
    if (('A' <= vk && vk <= 'Z') || ('0' <= vk && vk <= '9')) return std::string(1, static_cast<char>(vk));
    if (VK_F1 <= vk && vk < VK_F1 + 24) return "F" + std::to_string(vk - VK_F1 + 1);
    switch (vk) {
    case VK_RETURN: return "Enter";
    case VK_SHIFT: return "Shift";
    case VK_CONTROL: return "Ctrl";
    case VK_MENU: return "Alt";
    case VK_SPACE: return "Space";
    case VK_PRIOR: return "Page Up";
    case VK_NEXT: return "Page Down";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    case VK_MULTIPLY: return "Num *";
    case VK_ADD: return "Num +";
    case VK_SUBTRACT: return "Num -";
    default: fail("no name for virtual key " + hex(vk));
    }
}

std::string characterName(UINT c) {
    if (c == '\r') return "Enter character";
    if (0x21 <= c && c < 0x7F && c != '|' && c != '`') return std::string("\"") + static_cast<char>(c) + "\" character";
    fail("no name for character " + hex(c));
}

// A chord's modifiers in the order users write them, whatever order they go down in.
std::string chordName(const KeyAction& a) {
    static const BYTE ORDER[] = {VK_CONTROL, VK_MENU, VK_SHIFT};
    std::string name;
    int named = 0;
    for (BYTE m : ORDER) {
        for (int i = 0; i < a.modifierCount; ++i) {
            if (a.modifiers[i] == m) {
                name += keyName(m) + "+";
                ++named;
                break;
            }
        }
    }
    if (named != a.modifierCount) fail("a chord with another modifier than Ctrl, Alt or Shift");
    return name + keyName(a.value);
}

std::string describe(const KeyAction& a) {
    switch (a.kind) {
    case KeyKind::Nothing: return NOTHING;
    case KeyKind::PostKey: return keyName(a.value);
    case KeyKind::PostChar: return characterName(a.value);
    case KeyKind::Number: return std::to_string(a.value);
    case KeyKind::Chord: return chordName(a);
    case KeyKind::Message:
        if (a.value != ROVIVER_COMMAND_MESSAGE && a.value != WINDVR_COMMAND_MESSAGE)
            fail("no name for message " + std::to_string(a.value));
        return "command " + std::to_string(a.param);
    case KeyKind::ShiftThenKey: return "Shift, then " + keyName(a.value);
    case KeyKind::CaptureThenKey: return "capture dialog off, then " + keyName(a.value);
    }
    fail("an action of unknown kind");
}

std::string describe(const KeyRow& row) {
    std::string normal = describe(row.normal);
    std::string country81 = describe(row.country81);
    return normal == country81 ? normal : normal + " (81: " + country81 + ")";
}

// What the dispatcher does with `code` while it drives `tv`; the fixed keys
// never reach the key map.
std::string applicationAction(TvApp tv, int code) {
    if (code == KEY_POWER) return "close";
    if (tv == TV_ROVIVER) {
        if (code == KEY_SECOND_START) return "command " + std::to_string(ROVIVER_SECOND_START_COMMAND);
        if (code == KEY_SHUTDOWN) return "command " + std::to_string(ROVIVER_SHUTDOWN_COMMAND);
    } else {
        if (code == KEY_SECOND_START) return "close";
        if (code == KEY_SHUTDOWN) return NOTHING;
    }
    return describe(keyRow(tv, code));
}

const PointerDirection* directionOf(int code) {
    for (const PointerDirection& d : POINTER_DIRECTIONS)
        if (d.code == code) return &d;
    return nullptr;
}

// "up-left" for dx -1, dy -1 (y grows downwards).
std::string directionName(const PointerDirection& d) {
    std::string vertical = d.dy < 0 ? "up" : d.dy > 0 ? "down" : "";
    std::string horizontal = d.dx < 0 ? "left" : d.dx > 0 ? "right" : "";
    if (vertical.empty() || horizontal.empty()) return vertical + horizontal;
    return vertical + "-" + horizontal;
}

// What `code` does when no TV application runs.
std::string desktopAction(int code) {
    if (code == KEY_POWER) return "start the default TV application";
    if (code == KEY_SECOND_START) return "start the default TV application (no warning)";
    if (code == KEY_SHUTDOWN) return "Shut Down prompt";
    if (const PointerDirection* d = directionOf(code)) return "pointer " + directionName(*d);
    if (code == KEY_LEFT_CLICK) return "left click";
    if (code == KEY_RIGHT_CLICK) return "right click";
    if (code == KEY_DRAG) return "hold or let go of the button (drag)";
    return NOTHING;
}

// The names of a code, the first its own: the digit buttons by the digit
// they type (where the applications get a digit), the fixed keys and the
// desktop's keys by what they do, every other code by its number.
std::vector<std::string> namesOf(int code) {
    std::vector<std::string> names;
    const KeyAction& typed = keyRow(TV_POWERVCR, code).normal;
    if (typed.kind == KeyKind::Number) names.push_back(std::to_string(typed.value));
    if (code == KEY_POWER) names.push_back("power");
    if (code == KEY_SECOND_START) names.push_back("start");
    if (code == KEY_SHUTDOWN) names.push_back("shutdown");
    if (code == KEY_SNAPSHOT) names.push_back("snapshot");
    if (const PointerDirection* d = directionOf(code)) names.push_back(directionName(*d));
    if (code == KEY_LEFT_CLICK) names.push_back("click");
    if (code == KEY_DRAG) names.push_back("drag");
    if (code == KEY_RIGHT_CLICK) names.push_back("right-click");
    if (names.empty()) names.push_back("key" + std::to_string(code));
    return names;
}

std::string reference() {
    std::ostringstream out;
    out << "# Remote keys\n"
           "\n"
           "What each key of the remote does, by its code (0 to "
        << REMOTE_KEY_COUNT - 1
        << ") and name. Written by `tools/keyref` from\n"
           "tunerpad's own tables; do not edit it by hand, regenerate it with\n"
           "`cmake --build build/host --target keys-md`.\n"
           "\n"
           "| Code | Name | Desktop |";
    for (const char* tv : TV_NAMES) out << " " << tv << " |";
    out << "\n|---:|---|---|";
    for (int tv = 0; tv < TV_COUNT; ++tv) out << "---|";
    out << "\n";

    std::set<std::string> seen;
    for (int code = 0; code < REMOTE_KEY_COUNT; ++code) {
        out << "| " << code << " | ";
        const char* separator = "";
        for (const std::string& name : namesOf(code)) {
            if (!seen.insert(name).second) fail("the name " + name + " is given to two codes");
            out << separator << "`" << name << "`";
            separator = ", ";
        }
        out << " | " << desktopAction(code) << " |";
        for (int tv = 0; tv < TV_COUNT; ++tv) out << " " << applicationAction(static_cast<TvApp>(tv), code) << " |";
        out << "\n";
    }

    out << "\n"
           "- **Desktop**: no TV application runs. `power` and `start` close the other TV\n"
           "  applications, then start the default one (chosen in Setting); `power` first warns\n"
           "  when it is not installed.\n"
           "- A TV application's column applies while tunerpad drives it: once `power` or\n"
           "  `start` started it, or from the first other key pressed while its window is open.\n"
           "  There `power` closes it.\n"
           "- **81:** the keys used where Windows' country code is 81.\n"
           "- A held key acts once and then on every tenth repeat in an application; it speeds\n"
           "  the pointer up on the desktop.\n"
           "- While the Shut Down prompt is open, `power` confirms it and any other key cancels it.\n"
           "- The box's snapshot button sends `snapshot`.\n"
           "- The simulated box takes a code or a name: `tools/boxsim/remote press power`,\n"
           "  `tools/boxsim/remote hold right 2000`. A number is always the code itself, so the\n"
           "  0 button is `10` or `right-click` there.\n";
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: keyref [OUT]\n";
        return 2;
    }
    std::string text = reference();
    if (argc == 1) {
        std::cout << text;
        return std::cout.flush() ? 0 : 1;
    }
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
        std::cerr << "keyref: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
