// The simulated desktop behind the host build's Win32 stand-in.
//
// One World holds everything a program can observe or change through the
// platform: the virtual clock, windows and the message queue, timers, the
// registry, files, the notification area, modal loops and their scripted
// answers. A scenario test resets it, sets it up, runs the real program entry
// and then inspects what the world saw. Everything is deterministic: when the
// program waits for messages and none is due, the clock jumps to the next
// timer or scheduled event.
#pragma once

#include <windows.h>
#include <shellapi.h>
#include <dshow.h>
#include "sim/bridge/bridge.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// Thrown out of a wait when the scenario's virtual deadline has passed or
// nothing could ever happen again; the scenario runner catches it.
struct ScenarioEnd : std::runtime_error {
    explicit ScenarioEnd(const std::string& why) : std::runtime_error(why) {}
};

// ---- call log -------------------------------------------------------------------
// Every platform call that matters to a test is recorded with its arguments.
struct Call {
    uint32_t time;
    std::string api;   // "SetTimer", "PostMessageA", ...
    std::string args;  // canonical text, e.g. "hwnd=#1 id=1 ms=70"
};

// ---- registry -------------------------------------------------------------------
struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::string name;  // as created (lookup is case-insensitive)
    std::map<std::string, RegValue> values;             // key: lower-case name
    std::map<std::string, std::unique_ptr<RegKey>> subkeys;  // key: lower-case name
    std::vector<std::string> valueOrder;  // names as written, in creation order
    std::vector<std::string> subkeyOrder; // lower-case names in creation order
    bool denyOpen = false;                // opening this key fails with access denied
    bool denyWrite = false;               // writes fail with access denied
    RegKey* parent = nullptr;             // null for the roots
};

class Registry {
public:
    Registry();
    // Path like "HKLM\\SOFTWARE\\Vendor"; roots HKLM, HKCU, HKCR, HKU.
    RegKey* find(const std::string& path);
    RegKey& create(const std::string& path);
    bool exists(const std::string& path) { return find(path) != nullptr; }
    void remove(const std::string& path);
    void setDword(const std::string& path, const std::string& name, DWORD value);
    void setString(const std::string& path, const std::string& name, const std::string& text,
                   DWORD type = REG_SZ);  // stored with its terminating zero
    void setRaw(const std::string& path, const std::string& name, DWORD type,
                const std::vector<BYTE>& bytes);
    const RegValue* value(const std::string& path, const std::string& name);
    bool dword(const std::string& path, const std::string& name, DWORD* out);
    std::string string(const std::string& path, const std::string& name);

    RegKey* root(HKEY predefined);
    // Open key handles the program holds; a test of a finished run expects none.
    size_t openHandles() const { return handles_.size(); }

    // Handle table used by the advapi32 stand-ins. A handle remembers the
    // access it was granted; a handle whose key was removed stays open (the
    // program still has to close it) but no longer resolves.
    HKEY open(RegKey* key, REGSAM access = KEY_ALL_ACCESS);
    RegKey* resolve(HKEY key);
    bool close(HKEY key);
    bool stale(HKEY key) const;       // open, but its key has been removed
    REGSAM access(HKEY key) const;    // granted rights; everything for the roots
    std::string pathOf(const RegKey* key) const;  // "HKLM\SOFTWARE\X", "" if unknown

private:
    struct Handle {
        RegKey* key;  // null once the key is removed
        REGSAM access;
    };
    std::unique_ptr<RegKey> hklm_, hkcu_, hkcr_, hku_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t nextHandle_ = 0x1000;
};

// ---- windows ----------------------------------------------------------------------
struct LoggedMessage {
    uint32_t time;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool sent;  // SendMessageA rather than PostMessageA
};

struct Window {
    HWND handle = nullptr;
    std::string className;
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = nullptr;  // child windows only
    HWND owner = nullptr;
    HINSTANCE instance = nullptr;
    WNDPROC proc = nullptr;     // windows of the program under test
    bool foreign = false;       // a window of another program: messages are logged
    bool visible = false;
    bool topmost = false;
    int x = 0, y = 0, cx = 0, cy = 0;
    int controlId = 0;          // child controls
    std::vector<LoggedMessage> log;  // what a foreign window received
    // Reaction of a foreign window to a message it receives (for instance, a
    // stand-in application that closes on its close key).
    std::function<void(Window&, const LoggedMessage&)> onMessage;
    std::vector<HWND> children;  // in Z order, first = top
    LONG_PTR userData = 0;
};

struct WindowClass {
    std::string name;
    WNDCLASSEXA wc{};
};

// ---- timers and the message queue ---------------------------------------------------------
struct Timer {
    HWND hwnd;
    UINT_PTR id;
    UINT period;
    TIMERPROC proc;
    uint32_t due;     // tick at which it next fires
    uint64_t serial;  // creation order, to break ties
};

struct ScheduledEvent {
    uint32_t at;       // absolute tick
    uint64_t serial;
    std::string what;  // for failure messages
    std::function<void()> action;
};

// ---- notification area ------------------------------------------------------------------
struct TrayIcon {
    HWND hwnd;
    UINT id;
    UINT flags;
    UINT callbackMessage;
    HICON icon;
    std::string tip;
};

// ---- modal loops and scripted user answers ---------------------------------------------------
struct MessageBoxRecord {
    uint32_t time;
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
    int answer;
};

// A modal loop the program runs (message box, dialog, menu, sheet). Scripted
// user actions end it by setting `result` and `ended`.
struct Modal {
    uint64_t id = 0;   // assigned by runModal; scripted actions find a loop by it
    std::string kind;  // "MessageBox", "Dialog", "Menu", "PropertySheet"
    HWND window = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};

// ---- resources ----------------------------------------------------------------------------
struct AccelEntry {
    BYTE flags;  // FVIRTKEY, FALT, FCONTROL, FSHIFT
    WORD key;
    WORD cmd;
};

struct DialogControl {
    std::string kind;       // "CONTROL", "LTEXT", "DEFPUSHBUTTON", "ICON", "COMBOBOX" ...
    std::string text;
    int id = -1;
    std::string windowClass;  // "STATIC", "BUTTON", "COMBOBOX" ...
    DWORD style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

struct DialogTemplate {
    int id = 0;
    bool extended = false;
    int x = 0, y = 0, cx = 0, cy = 0;
    DWORD style = 0;
    std::string caption;
    std::string font;
    int fontSize = 0;
    std::vector<DialogControl> controls;
};

struct VersionInfo {
    std::string fileVersion;     // FILEVERSION numbers as "1,2,0,0"
    std::string productVersion;
    std::map<std::string, std::string> strings;  // StringFileInfo values
    std::string block;           // StringFileInfo block name, e.g. "040904b0"
};

// The resources of one program, read from its resource script.
struct Module {
    std::string name;
    std::map<UINT, std::string> strings;
    std::map<std::string, std::vector<AccelEntry>> accelerators;  // by id text ("23")
    std::map<std::string, std::string> icons;                     // id -> file
    std::map<std::string, DialogTemplate> dialogs;                // by id text
    VersionInfo version;
    std::map<std::string, int> language;  // resource id text -> LANGUAGE primary id, when given
};

// Parse a preprocessed resource script (the output of the C preprocessor on a
// .rc file). Throws std::runtime_error with a line number on a syntax error.
Module parseResourceScript(const std::string& text, const std::string& name);

// ---- capture devices (COM and DirectShow) ----------------------------------------------------
// One capture device as the system device enumerator lists it. The moniker,
// property bag, filter and control interface handed out for it share the
// entry: a test may change an answer while the program holds them, and an
// entry removed from World::captureDevices stays valid for them.
struct CaptureDeviceEntry {
    std::string friendlyName;  // ANSI text; the property bag hands it out as a wide BSTR
    CLSID category = CLSID_VideoInputDeviceCategory;  // the category it is listed under
    // IPropertyBag::Read of "FriendlyName": its result, and the type of the
    // value stored: VT_BSTR the name, VT_I4 `nameNumber`, VT_EMPTY nothing.
    // The bag does not coerce: asked for another type than the stored one
    // (other than VT_EMPTY, "any") it answers E_INVALIDARG.
    HRESULT nameReadable = S_OK;
    VARTYPE nameType = VT_BSTR;
    LONG nameNumber = 0;
    HRESULT bindToStorageResult = S_OK;  // IMoniker::BindToStorage; a failure hands out no bag
    HRESULT bindToObjectResult = S_OK;   // IMoniker::BindToObject; a failure hands out no filter
    // The filter's QueryInterface for IID_IBridgeControl: S_OK, else E_NOINTERFACE.
    bool answersBridgeControl = true;
    // What IBridgeControl::SetValue and GetValue reach; without a box they
    // answer E_UNEXPECTED.
    std::shared_ptr<bridge::CaptureBox> box;
};

// The simulation's COM objects and BSTRs (sim/win32/src/com.cpp).
struct ComLedger;

// ---- input, menus and programs ----------------------------------------------------------------
// One synthesized mouse event (mouse_event), as the program made it.
struct MouseEventRecord {
    uint32_t time;
    DWORD flags;
    DWORD dx, dy;       // as passed: signed pixels, or 0..65535 with MOUSEEVENTF_ABSOLUTE
    DWORD data;
    ULONG_PTR extraInfo;
    POINT cursor;       // where the pointer was after the event
};

// One synthesized keystroke (keybd_event) and the message it became.
struct KeyEventRecord {
    uint32_t time;
    BYTE vk;
    BYTE scan;
    DWORD flags;
    ULONG_PTR extraInfo;
    HWND foreground;    // the window the keystroke went to, or null
    UINT message;       // WM_KEYDOWN, WM_SYSKEYUP ...; 0 when nothing received it
    LPARAM lParam;
};

struct MenuItem {
    UINT flags = 0;        // MF_* as appended, with check and enable changes since
    UINT_PTR id = 0;       // command id; for MF_POPUP the submenu handle
    std::string text;
    HMENU submenu = nullptr;
};

struct Menu {
    HMENU handle = nullptr;
    bool popup = false;    // CreatePopupMenu rather than CreateMenu
    std::vector<MenuItem> items;
};

// A menu as TrackPopupMenu showed it, and how it ended.
struct ShownMenu {
    uint32_t time;         // when it opened
    uint32_t closed = 0;   // when it closed
    HMENU menu;
    std::vector<MenuItem> items;  // the items at the moment it opened
    int x, y;
    HWND owner;
    UINT flags;
    UINT_PTR scripted = 0;  // the item the user clicked (0: clicked elsewhere)
    UINT_PTR chosen = 0;    // the command the menu ended with (0: none)
};

// A program another program can start with WinExec.
struct ProgramSetup {
    std::string windowClass;  // its main window; empty: it shows none
    std::string windowTitle;
    std::string childClass;   // a child window inside the main one; empty: none
    std::string childTitle;
    uint32_t windowDelay = 300;   // virtual ms from start to its window showing
    UINT execResult = 33;         // WinExec's answer; below 32 the start fails
    bool takesForeground = false; // its window becomes the foreground window when it shows
    // Installed as the main window's onMessage.
    std::function<void(Window&, const LoggedMessage&)> onMessage;
    // A program started with CreateProcessA runs this long (virtual ms; 0:
    // it ends at once) and then ends with `exitCode`, unless it runs until a
    // test ends it (World::endProgram).
    uint32_t runsForMs = 0;
    bool runsUntilEnded = false;
    DWORD exitCode = 0;
};

struct ProgramStart {
    uint32_t time;
    std::string commandLine;
    std::string path;      // the file that ran, as resolved from the command line
    UINT show;
    HWND window = nullptr; // its main window once shown
    HWND child = nullptr;
};

// ---- dialogs and shutdown ----------------------------------------------------------------
// A modal dialog as DialogBoxParamA showed it. While it is open `open` is
// true and the position is the one it was created with; when it closes (or
// the scenario's time runs out with it still open) the position, topmost
// state and result are those of that moment.
struct DialogRecord {
    std::string templateName;  // the template's id text: "107", or a name in capitals
    int templateId = 0;        // numeric id; 0 for a named template
    HWND handle = nullptr;
    HWND owner = nullptr;
    std::string title;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool topmost = false;
    bool open = true;
    INT_PTR result = 0;
    uint32_t opened = 0;
    uint32_t closed = 0;
};

// A modal dialog between its creation and the return of DialogBoxParamA.
struct DialogState {
    DLGPROC proc = nullptr;
    size_t record = 0;        // index in World::dialogsShown
    uint64_t modal = 0;       // id of its modal loop
    HWND owner = nullptr;
    bool disabledOwner = false;  // the dialog disabled its owner and must enable it again
    int defaultId = 0;        // DM_GETDEFID: the default push button, 0 for none
    bool ended = false;       // EndDialog was called
    bool destroyed = false;   // the window is gone
    INT_PTR result = 0;
};

// What a control keeps beyond its window: combo box entries and selection,
// button check state.
struct ControlState {
    std::vector<std::string> items;
    int selection = -1;  // CB_ERR: none
    UINT check = 0;      // BST_*
};

// One ExitWindowsEx call.
struct ShutdownRequest {
    uint32_t time;
    UINT flags;
    DWORD reason;
    bool privilegeEnabled;  // SeShutdownPrivilege was enabled in the process token
    BOOL answer;
    DWORD error;            // the last error it set when it failed, else 0
};

// A scripted answer for ExitWindowsEx, overriding the system's own rule.
struct ExitWindowsAnswer {
    BOOL answer;
    DWORD error;  // set as the last error when `answer` is FALSE
};

// ---- property sheets and processes ------------------------------------------------------------
// A button of a property sheet as the user sees it.
struct SheetButton {
    bool shown = false;
    bool enabled = false;
    std::string text;
};

// A control of a sheet's active page as the user sees it.
struct PageControlView {
    int id = 0;
    std::string className;
    std::string text;
    bool visible = false;
    bool enabled = false;
    UINT check = BST_UNCHECKED;  // check boxes and radio buttons
};

// What the user sees of an open property sheet (World::sheetView).
struct SheetView {
    HWND handle = nullptr;  // null: no sheet is open
    bool wizard = false;
    std::string title;      // the sheet window's text
    bool visible = false;
    bool enabled = false;   // false while a dialog it owns is open
    int activePage = -1;
    std::vector<std::string> pageTitles;
    std::vector<HWND> pages;  // a page's window, null until it is first activated
    DWORD wizardButtons = 0;  // the flags of the last PSM_SETWIZBUTTONS
    SheetButton back, next, finish, ok, cancel, apply, help;
    std::vector<PageControlView> controls;  // of the active page, in tab order
};

// A ShowWindow call on a sheet while it ran.
struct SheetShow {
    uint32_t time;
    int cmd;  // SW_*
};

// One run of PropertySheetA, from its start to its return (or to the end of
// the scenario with the sheet still open).
struct SheetRecord {
    HWND handle = nullptr;
    HWND owner = nullptr;
    DWORD flags = 0;  // PSH_*
    bool wizard = false;
    std::string caption;  // the header's caption
    std::vector<std::string> pageTitles;
    std::vector<int> pagesShown;  // page indices, each time a page became the active one
    std::vector<SheetShow> shows;
    bool open = true;
    INT_PTR result = 0;
    uint32_t opened = 0;
    uint32_t closed = 0;
};

// One program CreateProcessA started, and its end.
struct ProcessRecord {
    uint32_t time = 0;
    std::string applicationName;  // as passed; empty for none
    std::string commandLine;      // as passed; empty for none
    std::string path;             // the file that runs
    std::string currentDirectory; // as passed; empty for none
    DWORD startupInfoSize = 0;    // STARTUPINFOA::cb as the caller set it
    DWORD startupFlags = 0;
    WORD showWindow = 0;
    BOOL inheritHandles = FALSE;
    DWORD creationFlags = 0;
    DWORD processId = 0;
    DWORD threadId = 0;
    HWND window = nullptr;  // its main window once shown
    HWND child = nullptr;
    bool running = true;
    uint32_t ended = 0;
    DWORD exitCode = STILL_ACTIVE;
};

// What an open process or thread handle refers to.
struct ProcessHandle {
    size_t process;  // index in World::processes
    bool thread;     // the process's main thread rather than the process
};

// The data a dialog window keeps for its procedure (DWLP_MSGRESULT, DWLP_USER).
struct DialogWindowData {
    LONG_PTR msgResult = 0;
    bool msgResultSet = false;  // set through SetWindowLongPtr while the current message is handled
    LONG_PTR user = 0;
};

// The simulation's property sheets and pages (sim/win32/src/propsheet.cpp).
struct SheetLedger;

// ---- the world ------------------------------------------------------------------------------
struct World {
    // clock
    uint32_t now = 0;            // GetTickCount
    uint32_t deadline = 0;       // when `hasDeadline`, waits past it end the scenario
    bool hasDeadline = false;

    // system
    bool win95Family = false;    // GetVersion high bit, GetVersionExA platform 1
    DWORD majorVersion = 5, minorVersion = 1, buildNumber = 2600;
    std::string windowsDirectory = "C:\\WINDOWS";
    std::map<int, int> metrics;  // GetSystemMetrics answers
    DWORD lastError = 0;

    // files: full path (case-insensitive, stored lower-case) -> content
    std::map<std::string, std::string> files;

    Registry registry;

    // windows
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::vector<HWND> zorder;    // top-level windows, first = top
    std::map<std::string, WindowClass> classes;  // lower-case name
    HWND foreground = nullptr;
    HWND active = nullptr;
    // Virtual ms another program's window takes to become the foreground
    // window after SetForegroundWindow picked it: that program has to take
    // the activation first (as under Wine). Meanwhile there is none, and
    // keystrokes reach no window. 0: at once.
    uint32_t foregroundDelay = 0;
    uintptr_t nextWindow = 0x10010;
    std::map<std::string, UINT> registeredMessages;

    // queue
    std::vector<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Timer> timers;
    std::vector<ScheduledEvent> events;
    uint64_t serial = 0;
    std::vector<Modal*> modals;  // innermost last

    // notification area
    std::vector<TrayIcon> tray;

    // message boxes: what was shown, and how the user answers them
    std::vector<MessageBoxRecord> messageBoxes;
    uint32_t messageBoxDelay = 1000;  // virtual ms the user takes to answer
    std::vector<int> messageBoxAnswers;  // consumed in order; IDOK when empty

    // resources of the loaded programs, by instance handle
    std::map<uintptr_t, Module> modules;

    std::vector<Call> calls;

    // ---- helpers for tests and for the stand-ins ----
    Window* window(HWND h);
    // The child of `parent` with control identifier `id` (the first one), or null.
    HWND childById(HWND parent, int id);
    // The control of `dialog` that gets the focus first: the first visible,
    // enabled tab stop, or null.
    HWND firstTabStop(HWND dialog);
    HWND desktop() const { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10000)); }
    void log(const std::string& api, const std::string& args);
    std::vector<Call> callsTo(const std::string& api) const;
    // Schedule an action at an absolute tick (or `in` ms from now).
    void at(uint32_t tick, const std::string& what, std::function<void()> action);
    void after(uint32_t ms, const std::string& what, std::function<void()> action) {
        at(now + ms, what, std::move(action));
    }
    // A top-level window of another program, logging every message it gets.
    HWND addForeignWindow(const std::string& className, const std::string& title);
    void destroyWindow(HWND h);
    // The program's process ends: the system removes its windows, timers,
    // queue and classes without sending anything. Icons it left in the
    // notification area stay, as they do on the real desktop.
    void endProcess();
    // Run the message pump of a modal loop until it ends (timers keep firing).
    INT_PTR runModal(Modal& modal);
    Modal* innermostModal() { return modals.empty() ? nullptr : modals.back(); }
    Modal* findModal(uint64_t id);
    // The next message for the program's thread, advancing the clock when
    // nothing is due. False for WM_QUIT. When `stop` turns true after a
    // scheduled event ran, returns true with `stopped` set and no message.
    bool fetch(MSG& msg, const std::function<bool()>& stop, bool& stopped);
    // Run scheduled events up to `tick`, then set the clock to it.
    void advanceTo(uint32_t tick);
    // Load a program's resources from its preprocessed resource script.
    HINSTANCE loadModule(const std::string& name, const std::string& preprocessedRcPath);
    Module* module(HINSTANCE instance);
    std::string fileKey(const std::string& path) const;  // canonical file map key

    // ---- COM and DirectShow ----
    // Devices the system device enumerator lists, in this order, each under
    // its category. CreateClassEnumerator takes a snapshot of the list.
    std::vector<std::shared_ptr<CaptureDeviceEntry>> captureDevices;
    // Scripted answers. coInitializeResult: a failure of CoInitialize(Ex),
    // which then does not count as an initialisation. createDevEnumResult:
    // CoCreateInstance of CLSID_SystemDeviceEnum. createClassEnumResult:
    // CreateClassEnumerator; S_FALSE answers an empty category even with
    // devices present. IEnumMoniker::Next answers `nextFailure` and hands out
    // nothing once it reaches position `nextFailsAt` (0-based; -1: never).
    HRESULT coInitializeResult = S_OK;
    HRESULT createDevEnumResult = S_OK;
    HRESULT createClassEnumResult = S_OK;
    int nextFailsAt = -1;
    HRESULT nextFailure = E_FAIL;
    // Counters. comInitDepth: successful CoInitialize(Ex) calls (S_OK or
    // S_FALSE) minus CoUninitialize calls, never below zero. The call counts
    // include failed and unbalanced calls. allocatedBstrs: BSTRs allocated
    // and not yet freed. comMisuses: calls on released objects, frees or
    // lengths of strings that are not live BSTRs, CoUninitialize without a
    // matching initialisation.
    int comInitDepth = 0;
    int coInitializeCalls = 0;
    int coUninitializeCalls = 0;
    long allocatedBstrs = 0;
    int comMisuses = 0;
    std::shared_ptr<ComLedger> comLedger;  // created on first use
    // A video input device with a fresh capture box on the virtual clock.
    CaptureDeviceEntry& addCaptureDevice(const std::string& friendlyName);
    // Objects of the simulation with references outstanding, in all or of
    // one kind: "ICreateDevEnum", "IEnumMoniker", "IMoniker", "IPropertyBag",
    // "IBaseFilter", "IBridgeControl".
    int liveComObjects() const;
    int liveComObjects(const std::string& kind) const;

    // ---- input, menus and programs ----
    // Pointer and keyboard. Keys are tracked per virtual key (0x80 down,
    // 0x01 toggled); mouse buttons by physical button.
    static constexpr int kVirtualKeys = 256;
    POINT cursor{512, 384};
    BYTE keyStates[kVirtualKeys] = {};
    bool leftButtonDown = false, rightButtonDown = false, middleButtonDown = false;
    LPARAM messageExtraInfo = 0;  // GetMessageExtraInfo
    std::vector<MouseEventRecord> mouseEvents;
    std::vector<KeyEventRecord> keyEvents;
    bool keyDown(int vk) const;
    // GetSystemMetrics: `metrics`, else the answer of a 1024x768 desktop.
    int metric(int index) const;
    // The user changes the screen resolution: metrics change, the pointer
    // stays on screen, and every top-level window of the program is sent
    // WM_DISPLAYCHANGE.
    void changeDisplay(int width, int height);

    // Menus. TrackPopupMenu takes the next scripted choice (an item id, or 0
    // for a click elsewhere) `menuDelay` ms after it opens; with none left
    // the user dismisses the menu.
    std::map<uintptr_t, Menu> menus;
    uintptr_t nextMenu = 0x200010;
    std::vector<UINT_PTR> menuChoices;
    uint32_t menuDelay = 800;
    std::vector<ShownMenu> shownMenus;
    Menu* menu(HMENU h);
    int liveMenus() const { return static_cast<int>(menus.size()); }

    // Programs WinExec can start, by full path (case-insensitive, like files).
    std::map<std::string, ProgramSetup> programs;
    std::vector<ProgramStart> programStarts;
    void installProgram(const std::string& path, ProgramSetup setup);
    // A started program closes its window (and the child in it).
    void closeProgramWindow(HWND h);

    // ---- dialogs and shutdown ----
    // Every dialog DialogBoxParamA showed, in the order they opened.
    std::vector<DialogRecord> dialogsShown;
    // Live modal dialogs and the controls of dialogs, by window handle.
    std::map<uintptr_t, DialogState> dialogStates;
    std::map<uintptr_t, ControlState> controlStates;
    // The dialog the user sees on top: the innermost modal dialog that has
    // not ended, or null.
    HWND innermostDialog();
    // Scripted user actions on the innermost dialog. Each returns false and
    // does nothing when there is no dialog or the control is missing, hidden
    // or disabled. A click on an auto check box, 3-state box or radio button
    // changes its state before the dialog hears BN_CLICKED.
    bool clickDialogButton(int id);
    bool pickComboEntry(int comboId, int index);
    bool pickComboEntry(int comboId, const std::string& text);  // exact text, any case
    bool pressDialogEscape();  // WM_COMMAND IDCANCEL, as the dialog manager turns Esc into
    bool pressDialogEnter();   // WM_COMMAND of the default push button, else IDOK
    LRESULT sendToDialog(UINT msg, WPARAM wParam, LPARAM lParam);  // 0 when no dialog

    // The process token. `privileges`: the privileges the process holds, by
    // name, and whether each is enabled (an interactive user holds the
    // shutdown privilege, disabled). `denyProcessToken`: OpenProcessToken
    // fails with access denied.
    std::map<std::string, bool> privileges{{"SeShutdownPrivilege", false}};
    bool denyProcessToken = false;
    std::map<uintptr_t, DWORD> tokens;  // open token handles -> granted access
    uintptr_t nextToken = 0x7000;
    int openTokens() const { return static_cast<int>(tokens.size()); }
    bool privilegeEnabled(const std::string& name) const;
    // ExitWindowsEx: what was asked, and scripted answers consumed in order
    // (with none left: TRUE on the Windows 95 family; on NT, shutting down
    // or restarting needs the shutdown privilege enabled).
    std::vector<ShutdownRequest> shutdownRequests;
    std::vector<ExitWindowsAnswer> exitWindowsAnswers;

    // ---- property sheets and processes ----
    // Every PropertySheetA run, in the order they started.
    std::vector<SheetRecord> sheetsShown;
    std::shared_ptr<SheetLedger> sheetLedger;  // created on first use
    std::map<uintptr_t, DialogWindowData> dialogData;  // by dialog or page window
    // The sheet the user sees on top: the innermost PropertySheetA still
    // open, or null.
    HWND innermostSheet();
    SheetView sheetView();  // of the innermost sheet; `handle` is null when none is open
    // Scripted user actions on the innermost sheet. Each returns false and
    // does nothing when no sheet is open, the sheet is hidden or disabled,
    // the button is not shown or not enabled, or the program is blocked in
    // a wait and cannot take input.
    bool clickNext();
    bool clickBack();
    bool clickFinish();
    bool clickCancel();
    bool clickCheckBox(int id);  // on the active page: toggles it, then BN_CLICKED
    // Pages CreatePropertySheetPageA (or a sheet) made that are not destroyed yet.
    int livePropertySheetPages() const;

    // Every program CreateProcessA started, and the process and thread
    // handles the program holds. Kernel handles share the token handles' numbering.
    std::vector<ProcessRecord> processes;
    std::map<uintptr_t, ProcessHandle> processHandles;
    DWORD nextProcessId = 0x5A0;
    bool blockedInWait = false;  // the program's thread is inside WaitForSingleObject
    int openProcessHandles() const;
    int openThreadHandles() const;
    ProcessRecord* processById(DWORD processId);
    // A started program ends (the user closed it, or it finished) with this exit code.
    void endProgram(DWORD processId, DWORD exitCode);

    // Machinery shared between the stand-ins (not for tests).
    // programs.cpp: the program a command line starts, read as CreateProcess
    // reads it; false when nothing there runs.
    bool findProgram(const std::string& commandLine, std::string* path, ProgramSetup* scripted);
    // programs.cpp: shows a started program's main window (and its child).
    HWND showProgramWindow(const ProgramSetup& scripted, UINT show, HWND* child);
    // dialogs.cpp: a dialog window and its controls from a template, a child
    // of `parent` or a top-level window it owns. `attach` runs once the window
    // exists and before anything is sent to it; the controls hear WM_SETFONT,
    // the dialog itself does not (the caller sends it once its procedure is attached).
    HWND createDialogWindow(HINSTANCE instance, const DialogTemplate& t, HWND parent, bool child,
                            WNDPROC windowProc, const std::function<void(HWND)>& attach);
    HFONT dialogFont() const;
    // dialogs.cpp: what the dialog manager does with a message the dialog procedure left alone.
    LRESULT defaultDialogMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
    // dialogs.cpp: the system's destruction of a dialog (WM_DESTROY, WM_NCDESTROY, no call log).
    void destroyDialogWindow(HWND dialog);
};

World& world();
void resetWorld();

// Short text for a handle in call logs: "#<n>" or "0".
std::string handleText(const void* h);

}  // namespace sim
