#!/usr/bin/env python3
"""tunerpad end to end under Wine: the real agent reads the capture-box
simulator's remote every 70 ms through COM and drives the stand-in TV
applications, the desktop pointer, its notification icon and its dialogs.

usage: test_agent.py --cache DIR --work DIR --program tunerpad=EXE
                     --program wineprobe=EXE --program agent_ui=EXE
                     --program boxsim=DLL --program tvstub=EXE
                     --program tvpost=EXE [SCENARIO...]
"""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import agent_image  # noqa: E402
from agent_lib import (  # noqa: E402
    ABOUT_TITLE, AGENT_ICON, AGENT_NAME, CMD_ABOUT, CMD_ROVIVER, CMD_SETTING, DEVICE_GONE, DIALOG_PLACES,
    HONESTECH_CLASS, IDCANCEL, IDOK, KEY_EXTENDED, KEY_POWER, KEY_SHUTDOWN, MENU_CLASS, MSG_ROVIVER, POWERVCR_CLASS,
    RETRY_MS, ROVIVER_CLASS, SETTINGS_KEY, SETTING_COMBO, SETTING_TITLE, SHUTDOWN_ICON, SHUTDOWN_TITLE, TICK_MS,
    VK_CONTROL, VK_DOWN, VK_RETURN, WINDVR_CLOSE_LPARAM, WINDVR_TITLE, WINRIP_TITLE, WM_ACTIVATE, WM_CHAR,
    WM_KEYDOWN, WM_KEYUP, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP, command, metrics,
    pointer_moves, run_tool, set_pointer, setup, start_agent, start_other_icon, tool, tray_click, wait_gone,
    wait_window, windows_pointer, x_click, x_pointer)
from winelib import DESKTOP_SIZE, check, log, main, scenario, wait_until  # noqa: E402

# How long tvpost and agent_ui wait for a window of a program just started.
WINDOW_WAIT_SECONDS = 30


# --------------------------------------------------------------------------
# Pictures

def screenshot(t, name, crop=None):
    """Takes `name`.png of the whole screen in the scenario's folder, and
    `name`-crop.png of the box `crop` (clipped to the screen) when given;
    returns the picture."""
    path = t.prefix.screenshot(t.path(name + '.png'))
    picture = agent_image.Picture.load(path)
    if crop:
        left, top, right, bottom = picture.clip(crop)
        subprocess.run([agent_image.convert_program(), path, '-crop',
                        '%dx%d+%d+%d' % (right - left, bottom - top, left, top), '+repage',
                        t.path(name + '-crop.png')], check=True, timeout=60)
    return picture


def tray_area():
    """The right end of the taskbar at the bottom of Wine's desktop, where
    the notification area is."""
    width, height = DESKTOP_SIZE
    return (width - 200, height - 24, width, height)


def below_right(rect, margin=40):
    """A box from a little above and left of `rect` to the screen's corner."""
    return (rect[0] - margin, rect[1] - margin, DESKTOP_SIZE[0], DESKTOP_SIZE[1])


def wait_tray_icon(t, name, present):
    """Until the agent's icon is (or is no longer) in the notification area;
    returns its place (x, y) or None, and the colour around it. Each look is
    a screenshot."""
    images = agent_image.ico_images(AGENT_ICON)
    seen = {'looks': 0}

    def look():
        seen['looks'] += 1
        picture = screenshot(t, name, crop=tray_area())
        seen['found'] = agent_image.find_icon(picture, images, 16, tray_area())
        seen['backdrop'] = picture.commonest_colour(tray_area())
        return seen['found'] if present else seen['found'] is None
    wait_until(look, t.seconds(20), 'the agent\'s icon %s the notification area' % ('in' if present else 'gone from'))
    log('%s: icon %s on %r after %d look(s)' % (name, seen['found'], seen['backdrop'], seen['looks']))
    return seen['found'] and seen['found'][:2], seen['backdrop']


def check_icon_on(picture, icon_path, control, what):
    """The icon of `icon_path` is drawn at its full 32 pixels in `control`."""
    left, top, right, bottom = control['rect']
    found = agent_image.find_icon(picture, agent_image.ico_images(icon_path), 32,
                                  (left - 2, top - 2, right + 2, bottom + 2))
    check(found is not None, '%s: the icon %s is not drawn in its control at %r'
          % (what, os.path.basename(icon_path), control['rect']))


# --------------------------------------------------------------------------
# Dialogs

def expected_place(t):
    width = metrics(t)['cxfullscreen']
    return width, DIALOG_PLACES.get(width)


def check_dialog(t, window, agent, place, texts, icon_path, buttons, name):
    """One of the agent's dialogs: its process, place, topmost style, texts,
    icon and buttons; takes `name`.png of it. Returns the texts that do not
    fit their controls, for the scenario to report at its end."""
    picture = screenshot(t, name, crop=window.rect)
    width, at = place
    check(window.pid == agent.pid, '%s belongs to pid %d, not the agent (%d)' % (name, window.pid, agent.pid))
    check(at is not None, 'the screen is %d pixels wide: the agent leaves its dialogs where they are' % width)
    check(window.rect[:2] == at, '%s at %r, expected %r on a %d-pixel-wide screen' % (name, window.rect[:2], at, width))
    check(window.topmost, '%s is not topmost' % name)
    for text in texts:
        check(window.control('Static', text) is not None, '%s has no text "%s": %r' % (name, text, window.controls))
    for ident, text, default in buttons:
        b = window.control('Button', text, ident)
        check(b is not None, '%s has no button "%s" (%d): %r' % (name, text, ident, window.controls))
        check(((b['style'] & 0xF) == 1) == default, '%s: button "%s" %s the default'
              % (name, text, 'is not' if default else 'is'))
    icons = [c for c in window.controls if c['icon']]
    check(len(icons) == 1, '%s: %d icon controls with an icon, expected 1' % (name, len(icons)))
    check_icon_on(picture, icon_path, icons[0], name)
    first_text = window.control('Static', texts[0])
    check(icons[0]['rect'][2] <= first_text['rect'][0], '%s: the icon is not left of the text' % name)
    return ['%s: "%s"' % (name, c['text']) for c in window.controls if not c['fits']]


# --------------------------------------------------------------------------
# Scenarios

def systray_messages(agent):
    """The Shell_NotifyIcon messages (0 add, 1 modify, 2 delete) in the
    agent's +systray trace, in order."""
    with open(agent.log_path, errors='replace') as f:
        return [int(m) for m in re.findall(r'trace:systray:Shell_NotifyIconW dwMessage = (\d+)', f.read())]


@scenario
def tray(t):
    """The agent's icon shows in the notification area; a right button
    press opens its menu (About and Exit, no RoviverUVA item: it is not
    installed), a left one the same menu; choosing Exit with a real click
    ends the agent with 0 and takes the icon away at once."""
    box, _ = setup(t)
    # The desktop starts first, so the +systray trace is the agent's alone;
    # an icon of another program keeps the taskbar up once the agent's goes.
    other = start_other_icon(t)
    agent = start_agent(t, debug='+systray')
    box.wait_polling()
    (x, y), taskbar = wait_tray_icon(t, 'tray', present=True)
    check(systray_messages(agent)[:1] == [0], 'the agent added no icon: %r' % systray_messages(agent))

    # The menu opens where the pointer is: on the icon, as after a click.
    pointer = (x + 8, y + 8)
    set_pointer(t, *pointer)
    tray_click(t, WM_RBUTTONDOWN)
    menu = wait_window(t, cls=MENU_CLASS)
    check(menu.pid == agent.pid, 'the menu belongs to pid %d, not the agent (%d)' % (menu.pid, agent.pid))
    screenshot(t, 'menu-right', crop=below_right(menu.rect))
    # A separator comes first: Down selects About, the first item.
    run_tool(t, 'agent_ui', 'type', VK_DOWN, VK_RETURN)
    about = wait_window(t, title=ABOUT_TITLE)
    check(about.pid == agent.pid, 'About from the menu belongs to pid %d' % about.pid)
    run_tool(t, 'agent_ui', 'click', ABOUT_TITLE, IDOK)
    wait_gone(t, ABOUT_TITLE)

    set_pointer(t, *pointer)
    tray_click(t, WM_LBUTTONDOWN)
    menu_left = wait_window(t, cls=MENU_CLASS)
    check(menu_left.rect == menu.rect, 'the left button\'s menu at %r, the right button\'s at %r: not the same menu'
          % (menu_left.rect, menu.rect))
    screenshot(t, 'menu-left', crop=below_right(menu.rect))
    # Exit is the last item: click inside its bottom part.
    left, top, right, bottom = menu_left.rect
    x_click(t, (left + right) // 2, bottom - 8)
    code = agent.wait(t.seconds(20))
    check(code == 0, 'the agent gave exit %s after Exit, expected 0' % code)
    # Moves of the pointer over the icon refresh it (1) in between.
    calls = systray_messages(agent)
    check(calls[:1] == [0] and calls[-1:] == [2] and set(calls[1:-1]) <= {1},
          'the agent\'s icon calls %r, expected an add, refreshes, and on Exit a delete' % calls)
    _, after = wait_tray_icon(t, 'tray-after-exit', present=False)
    check(after == taskbar, 'the taskbar is not showing (colour %r, was %r): nothing to see the icon gone from'
          % (after, taskbar))
    check(other.running, 'the other program\'s icon went away too')


@scenario
def power_roviver(t):
    """With RoviverUVA installed and the first start's default (3), Power
    starts it; digits 1 to 9 reach it as command 3024 with 10001 to 10009,
    in order; Power again closes it with command 1."""
    box, stubs = setup(t, ['roviver'])
    roviver = stubs['roviver']
    agent = start_agent(t)
    box.wait_polling()
    check(not roviver.runs(), 'RoviverUVA ran before the Power key')

    box.press(KEY_POWER)
    roviver.wait_run(1)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', ROVIVER_CLASS)
    for digit in range(1, 10):
        box.press(digit)
        roviver.wait_message(MSG_ROVIVER, 10000 + digit)

    box.press(KEY_POWER)
    run = roviver.wait_exit()
    runs = roviver.runs()
    check(len(runs) == 1, 'RoviverUVA started %d times, expected once: %r' % (len(runs), runs))
    sent = [(m.wparam, m.lparam) for m in run.messages if m.msg == MSG_ROVIVER]
    want = [(10000 + d, 0) for d in range(1, 10)] + [(1, 0)]
    check(sent == want, 'RoviverUVA got commands %r, expected %r' % (sent, want))
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)


def check_held_moves(t, box, code, ms, steps):
    """Holds a direction key and checks the pointer moved as the keys the
    agent took predict, fast steps included."""
    medium, fast = steps
    box.wait_quiet()
    before = x_pointer(t)
    previous = box.taken_keys()[-1] if box.taken_keys() else None
    keys = box.hold(code, ms)
    check(keys and all(k[1] == code for k in keys), 'keys taken during the hold of %d: %r' % (code, keys))
    outcomes = pointer_moves(keys, medium, fast, previous)
    wanted = {(dx, dy) for dx, dy, _, _ in outcomes}
    got = {}

    def moved():
        now = x_pointer(t)
        got['delta'] = (now[0] - before[0], now[1] - before[1])
        return got['delta'] in wanted
    try:
        wait_until(moved, t.seconds(10), 'the pointer moved by one of %r' % sorted(wanted))
    except AssertionError:
        raise AssertionError('key %d held %d ms: the pointer moved by %r; the %d keys taken at %r predict %r'
                             % (code, ms, got['delta'], len(keys), [k[0] for k in keys],
                                sorted((o[0], o[1], o[3]) for o in outcomes)))
    used = [o[3] for o in outcomes if (o[0], o[1]) == got['delta']]
    check(any(fast in s and medium in s and s[0] == 1 for s in used),
          'key %d held %d ms never reached the fast step: steps %r (keys at %r)' % (code, ms, used, keys))
    log('key %d held %d ms: %d keys, steps %s, moved %r' % (code, ms, len(keys), used[0], got['delta']))
    return got['delta']


@scenario
def desktop_pointer(t):
    """With no TV application, direction keys move the real pointer: one
    pixel for a single press, and while a key is held 4 moves of 1 pixel,
    then steps of width/160, then width/80; diagonals move both ways. Keys 0
    and 10 click and right-click where the pointer is (over a window of no
    TV application the agent knows)."""
    box, stubs = setup(t, ['winrip'])
    start_agent(t)
    box.wait_polling()
    width = metrics(t)['cxfullscreen']
    steps = (width // 160, width // 80)
    check(steps[0] > 1, 'a %d-pixel-wide screen gives no medium step' % width)

    x, y = 300, 300
    set_pointer(t, x, y)
    box.press(6)
    wait_until(lambda: x_pointer(t) == (x + 1, y), t.seconds(10), 'one pixel right for a press of 6')
    box.wait_quiet()
    box.press(2)
    wait_until(lambda: x_pointer(t) == (x + 1, y - 1), t.seconds(10), 'one pixel up for a press of 2')

    dx, dy = check_held_moves(t, box, 6, 1700, steps)
    check(dy == 0 and dx > 0, 'key 6 held moved the pointer by %r' % ((dx, dy),))
    dx, dy = check_held_moves(t, box, 7, 1300, steps)
    check(dx < 0 and dy == -dx, 'key 7 held (down and left) moved the pointer by %r' % ((dx, dy),))

    # The agent's pointer is the system's: Windows programs read the same place.
    now = x_pointer(t)
    check(windows_pointer(t) == now, 'GetCursorPos gives %r, the X pointer is at %r' % (windows_pointer(t), now))

    winrip = stubs['winrip']
    t.prefix.start(winrip.program)
    window = wait_window(t, title=WINRIP_TITLE)
    left, top, right, bottom = window.rect
    set_pointer(t, (left + right) // 2, (top + bottom) // 2)
    for code, down, up in ((0, WM_LBUTTONDOWN, WM_LBUTTONUP), (10, WM_RBUTTONDOWN, WM_RBUTTONUP)):
        mark = len(winrip.runs()[0].messages)
        box.press(code)
        run, i = winrip.wait_message(up, start=mark, run=0, what='the click of key %d' % code)
        buttons = [m for m in run.messages[mark:i + 1] if m.msg in (down, up)]
        check([m.msg for m in buttons] == [down, up] and buttons[0].lparam == buttons[1].lparam,
              'key %d gave the button messages %r, expected one press and release in one place' % (code, buttons))
    others = [m for m in winrip.runs()[0].messages if m.msg in (WM_LBUTTONDOWN, WM_RBUTTONDOWN)]
    check(len(others) == 2, 'button presses %r, expected one left and one right' % others)
    check(x_pointer(t) == ((left + right) // 2, (top + bottom) // 2), 'a click moved the pointer')


@scenario
def powervcr_keys(t):
    """PowerVCR II running and the default 2: keys reach it as its table
    says (posted keys, a posted character, the Ctrl+R chord typed while it
    is in front, the capture-dialog switch); Power closes it with Ctrl+X;
    Power again starts it, as the default, and once more closes it."""
    box, stubs = setup(t, ['powervcr'], settings={'DefaultTVAPP': 2})
    powervcr = stubs['powervcr']
    agent = start_agent(t)
    box.wait_polling()
    first = t.prefix.start(powervcr.program)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', POWERVCR_CLASS)
    powervcr.wait_run(1)

    posted = [(13, WM_KEYDOWN, ord('S'), 0), (1, WM_KEYDOWN, ord('1'), 0x00020001),
              (15, WM_KEYDOWN, ord('T'), 0x00580001), (22, WM_CHAR, 0x0D, 0x001C0001)]
    for code, msg, wparam, lparam in posted:
        mark = len(powervcr.runs()[0].messages)
        box.press(code)
        run, i = powervcr.wait_message(msg, wparam, lparam, start=mark, run=0)
        check(not run.messages[i].mods, 'key %d: modifiers %r down for a posted key' % (code, run.messages[i].mods))

    # Code 0: Ctrl+R typed with keybd_event (extended keys) into the window in front.
    mark = len(powervcr.runs()[0].messages)
    box.press(0)
    run, up = powervcr.wait_message(WM_KEYUP, VK_CONTROL, start=mark, run=0, what='the end of the Ctrl+R chord')
    chord = [(m.msg, m.wparam) for m in run.messages[mark:up + 1] if m.msg in (WM_KEYDOWN, WM_KEYUP)]
    check(chord == [(WM_KEYDOWN, VK_CONTROL), (WM_KEYDOWN, ord('R')), (WM_KEYUP, ord('R')), (WM_KEYUP, VK_CONTROL)],
          'the chord for key 0 arrived as %r' % chord)
    r_down = run.messages[run.find(WM_KEYDOWN, ord('R'), start=mark)]
    check('ctrl' in r_down.mods and r_down.lparam & KEY_EXTENDED,
          'R of the chord: modifiers %r, lParam 0x%x (typed, extended, with Ctrl expected)'
          % (r_down.mods, r_down.lparam))

    # Code 29: the capture-dialog switch, then a posted R.
    mark = len(powervcr.runs()[0].messages)
    box.press(29)
    powervcr.wait_message(WM_KEYDOWN, ord('R'), 0, start=mark, run=0)

    box.press(KEY_POWER)
    code = first.wait(t.seconds(30))
    check(code == 0, 'PowerVCR gave exit %s after Power, expected 0' % code)
    run = powervcr.runs()[0]
    downs = [(m.wparam, 'ctrl' in m.mods) for m in run.messages if m.msg == WM_KEYDOWN]
    want = [(ord('S'), False), (ord('1'), False), (ord('T'), False), (VK_CONTROL, True), (ord('R'), True),
            (ord('R'), False), (VK_CONTROL, True), (ord('X'), True)]
    check(downs == want, 'PowerVCR\'s key presses %r, expected %r' % (downs, want))

    # Nothing runs and PowerVCR is the default: Power starts it.
    box.press(KEY_POWER)
    powervcr.wait_run(2)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', POWERVCR_CLASS)
    box.press(KEY_POWER)
    second = powervcr.wait_exit(run=1)
    check(second.role == 'powervcr' and second.find(WM_KEYDOWN, ord('X')) is not None,
          'the second PowerVCR run was not closed with its X: %r' % second.messages[-5:])
    check(len(powervcr.runs()) == 2, 'PowerVCR ran %d times, expected 2' % len(powervcr.runs()))

    got = t.prefix.reg_query(r'HKLM\SOFTWARE\CyberLink', 'DisableCapDlg')
    check(got == ('REG_DWORD', 1), 'HKLM\\SOFTWARE\\CyberLink\\DisableCapDlg is %r after key 29' % (got,))
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)


def activations(stub, start=0):
    """Indexes of the WM_ACTIVATE messages that activated the stand-in's
    main window, at or after `start` of its first run."""
    run = stub.runs()[0]
    return [i for i, m in enumerate(run.messages) if i >= start and m.msg == WM_ACTIVATE and m.wparam & 0xFFFF]


def wait_deactivated(stub, t):
    """Until the stand-in's window has gone to the back after its last
    activation; returns the number of messages logged by then."""
    def behind():
        run = stub.runs()[0]
        last = activations(stub)[-1:] or [-1]
        i = run.find(WM_ACTIVATE, 0, start=last[0] + 1)
        return i is not None and len(run.messages)
    return wait_until(behind, t.seconds(20), '%s sent to the back' % stub.role)


def wait_brought_forward(stub, t, mark, what, stays=True):
    """Until RoviverUVA was activated after message `mark` and, with
    `stays`, is the foreground window."""
    wait_until(lambda: activations(stub, mark), t.seconds(20), what)
    if stays:
        wait_until(lambda: wait_window(t, cls=ROVIVER_CLASS).foreground, t.seconds(10), 'RoviverUVA in front')


@scenario
def command_1106(t):
    """Command 1106 starts RoviverUVA. Chosen again on the tray menu, where
    RoviverUVA is now checked, it starts nothing more and brings RoviverUVA
    back to the front. Sent once more while WinDVR, honestechTV and WinRip
    run, it closes WinDVR and honestechTV with their close keys, leaves
    WinRip alone and again only brings RoviverUVA to the front."""
    # honestechTV shares RoviverUVA's program and registry value: it runs
    # from a folder of its own, which the agent need not know to close it.
    box, stubs = setup(t, ['roviver', 'windvr', 'winrip'], unregistered=['honestech'])
    roviver, windvr, winrip, honestech = (stubs[r] for r in ('roviver', 'windvr', 'winrip', 'honestech'))
    agent = start_agent(t)
    box.wait_polling()
    wait_ms = int(t.seconds(WINDOW_WAIT_SECONDS) * 1000)

    command(t, CMD_ROVIVER)
    roviver.wait_run(1)
    run_tool(t, 'tvpost', '-w', wait_ms, 'find', ROVIVER_CLASS)
    wait_until(lambda: activations(roviver), t.seconds(20), 'RoviverUVA active after its start')

    # The menu takes the foreground; RoviverUVA, its first item, is checked.
    (x, y), _ = wait_tray_icon(t, 'tray', present=True)
    set_pointer(t, x + 8, y + 8)
    tray_click(t, WM_LBUTTONDOWN)
    menu = wait_window(t, cls=MENU_CLASS)
    check(menu.pid == agent.pid, 'the menu belongs to pid %d, not the agent (%d)' % (menu.pid, agent.pid))
    screenshot(t, 'menu-roviver-checked', crop=below_right(menu.rect))
    mark = wait_deactivated(roviver, t)
    run_tool(t, 'agent_ui', 'type', VK_DOWN, VK_RETURN)
    wait_brought_forward(roviver, t, mark, 'RoviverUVA brought forward by 1106 from the menu')

    others = {}
    for stub, window in ((winrip, WINRIP_TITLE), (windvr, WINDVR_TITLE), (honestech, HONESTECH_CLASS)):
        others[stub.role] = t.prefix.start(stub.program)
        run_tool(t, 'tvpost', '-w', wait_ms, 'find', window)
    mark = wait_deactivated(roviver, t)
    command(t, CMD_ROVIVER)

    for stub, key, lparam in ((windvr, ord('X'), WINDVR_CLOSE_LPARAM), (honestech, ord('O'), 0)):
        code = others[stub.role].wait(t.seconds(30))
        check(code == 0, '%s gave exit %s, expected 0 after being asked to close' % (stub.role, code))
        closed = stub.runs()[0]
        check(closed.find(WM_KEYDOWN, key, lparam) is not None,
              '%s was not closed with its key 0x%x lParam 0x%x: %r' % (stub.role, key, lparam, closed.messages[-8:]))
    # Wine hands the foreground on from a closing window that is still its
    # thread's active one, to the next in Z order: RoviverUVA, at the bottom,
    # is activated by the agent alone, but need not stay in front.
    wait_brought_forward(roviver, t, mark, 'RoviverUVA brought forward by 1106 while the others ran', stays=False)

    runs = roviver.runs()
    check(len(runs) == 1 and not runs[0].exited, 'RoviverUVA runs %r: expected one, still running' % runs)
    check(runs[0].find(MSG_ROVIVER) is None, 'RoviverUVA was sent a command: %r' % runs[0].messages)
    check(others['winrip'].running and not winrip.runs()[0].exited, 'WinRip was closed; 1106 leaves it alone')
    check(winrip.runs()[0].find(WM_KEYDOWN) is None, 'WinRip was sent keys: %r' % winrip.runs()[0].messages)
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)


@scenario
def dialogs(t):
    """About (command 30), Setting (32) and the Shut Down prompt (key 21):
    texts (each fitting its control), buttons, icons, place and topmost
    style. The Setting dialog lists the installed applications with the
    default preselected; OK stores the chosen one in the registry, closing
    it otherwise stores nothing. Another key cancels the prompt."""
    box, _ = setup(t, ['windvr', 'powervcr', 'roviver'])
    agent = start_agent(t)
    box.wait_polling()
    place = expected_place(t)

    command(t, CMD_ABOUT)
    about = wait_window(t, title=ABOUT_TITLE)
    clipped = check_dialog(t, about, agent, place, ['Tolvar Remote Control Utility V1.2.0.0'], AGENT_ICON,
                           [(IDOK, 'OK', True)], 'about')
    lines = [c for c in about.controls if c['cls'] == 'Static' and not c['icon'] and c['text']]
    check(len(lines) == 2, 'About shows %d lines of text, expected 2: %r' % (len(lines), lines))
    run_tool(t, 'agent_ui', 'click', ABOUT_TITLE, IDOK)
    wait_gone(t, ABOUT_TITLE)

    command(t, CMD_SETTING)
    setting = wait_window(t, title=SETTING_TITLE)
    clipped += check_dialog(t, setting, agent, place,
                            ['Select the application you want to launch when pressing power key on remote controller'],
                            AGENT_ICON, [(IDOK, 'OK', True)], 'setting')
    items = combo_items(t)
    # honestechTV shares RoviverUVA's registry value: both show.
    check(items == (['WinDVR', 'PowerVCR', 'HonesTVR', 'RoviverUVA'], 3),
          'Setting lists %r, expected the four installed with RoviverUVA (3) preselected' % (items,))
    run_tool(t, 'agent_ui', 'select', SETTING_TITLE, SETTING_COMBO, 0)
    run_tool(t, 'agent_ui', 'click', SETTING_TITLE, IDOK)
    wait_gone(t, SETTING_TITLE)
    got = t.prefix.reg_query(SETTINGS_KEY, 'DefaultTVAPP')
    check(got == ('REG_DWORD', 1), 'DefaultTVAPP is %r after choosing WinDVR, expected 1' % (got,))

    # Again: WinDVR is now preselected; closing the dialog keeps it.
    command(t, CMD_SETTING)
    wait_window(t, title=SETTING_TITLE)
    items = combo_items(t)
    check(items[1] == 0, 'Setting preselects entry %d after WinDVR was chosen, expected 0' % items[1])
    run_tool(t, 'agent_ui', 'select', SETTING_TITLE, SETTING_COMBO, 1)
    run_tool(t, 'agent_ui', 'close', SETTING_TITLE)
    wait_gone(t, SETTING_TITLE)
    got = t.prefix.reg_query(SETTINGS_KEY, 'DefaultTVAPP')
    check(got == ('REG_DWORD', 1), 'DefaultTVAPP is %r after the dialog was closed without OK, expected 1' % (got,))
    # Nor did it change the default in the agent: WinDVR is preselected again.
    command(t, CMD_SETTING)
    wait_window(t, title=SETTING_TITLE)
    items = combo_items(t)
    check(items[1] == 0, 'Setting preselects entry %d after a closed dialog, expected 0 (WinDVR)' % items[1])
    run_tool(t, 'agent_ui', 'close', SETTING_TITLE)
    wait_gone(t, SETTING_TITLE)

    box.press(KEY_SHUTDOWN)
    prompt = wait_window(t, title=SHUTDOWN_TITLE)
    clipped += check_dialog(t, prompt, agent, place,
                            ['Press "Power" to shut down your computer, or any other key to cancel.'], SHUTDOWN_ICON,
                            [(IDOK, 'OK', True), (IDCANCEL, 'Cancel', False)], 'shutdown-prompt')
    check(prompt.foreground, 'the Shut Down prompt is not in front')
    box.press(5)
    wait_gone(t, SHUTDOWN_TITLE)
    check(agent.running, 'the agent ended (exit %s) when the prompt was cancelled' % agent.proc.returncode)
    check(not clipped, 'text cut off by its control (drawn in the dialogs\' Arial 8): %s' % '; '.join(clipped))


def combo_items(t):
    """(entries, selected index) of the Setting dialog's list."""
    out = run_tool(t, 'agent_ui', 'combo', SETTING_TITLE, SETTING_COMBO).output
    m = re.search(r'count=(\d+) selected=(-?\d+)', out)
    check(m is not None, 'agent_ui combo: %s' % out)
    return re.findall(r'^item \d+ "(.*)"$', out, re.M), int(m.group(2))


@scenario
def unplug_replug(t):
    """Unplugging the box stops the 70 ms poll at the first failing call;
    only the retry's attempt to bind the box shows, every 3 s; plugging it
    back resumes polling at the next retry, and keys work again."""
    box, _ = setup(t)
    start_agent(t)
    box.wait_polling(10)
    x, y = 300, 300
    set_pointer(t, x, y)

    box.remote('unplug')
    gone = wait_until(lambda: [c for c in box.calls() if c[4] == DEVICE_GONE], t.seconds(10),
                      'a call answered "device gone"')[0]

    def refusals():
        return [ms for ms, text in box.notes() if text == 'bind refused: unplugged' and ms > gone[0]]

    def retries():
        """Start times of the retries: each one's open tries to bind the box
        more than once (the fallback names match it too)."""
        starts = []
        for ms in refusals():
            if not starts or ms - starts[-1] > 1000:
                starts.append(ms)
        return starts
    wait_until(lambda: len(retries()) >= 2, t.seconds(20), 'two retries while the box is unplugged')
    calls = box.calls()
    after = calls[calls.index(gone):]
    # The failing status read and the receiver read after it, each with its
    # clearing call: one poll's worth, then nothing.
    check(all(c[4] == DEVICE_GONE for c in after) and len(after) <= 6,
          'after the box went away the agent went on calling it: %r' % after[:12])
    # A periodic timer armed at the failing poll: the n-th retry n periods on.
    offsets = [ms - gone[0] for ms in retries()]
    check(all(n * RETRY_MS - 150 <= o <= n * RETRY_MS + 1000 for n, o in enumerate(offsets, 1)),
          'retries %r ms after the failing call, expected every %d ms' % (offsets, RETRY_MS))
    others = [n for n in box.notes() if n[0] > gone[0] and n[1] not in ('bind refused: unplugged', 'command: unplug')]
    check(not others, 'the box log grew with more than the retries: %r' % others)
    log('unplugged: polling stopped at %d ms, retries %r ms after' % (gone[0], offsets))

    # Back in between two retries: a retry whose open is under way when the
    # box comes back finds it after its probes have failed, and then polls a
    # channel without the box's interface.
    seen = {'count': -1, 'since': 0.0}

    def open_finished():
        count, now = len(refusals()), time.monotonic()
        if count != seen['count']:
            seen.update(count=count, since=now)
        return now - seen['since'] >= 1.0
    wait_until(open_finished, t.seconds(10), 'the retry\'s open finished')
    plugged_at = time.monotonic()
    box.remote('plug')
    back = wait_until(lambda: [c for c in box.calls() if c[4] == 0 and c[0] > gone[0]],
                      RETRY_MS / 1000.0 + t.seconds(3), 'polling resumed within a retry period of the box\'s return')[0]
    log('polling resumed %.1f s after plug' % (time.monotonic() - plugged_at))
    # The box sees the plug at the next retry's bind: one period after the last.
    last_try = [ms for ms in retries() if ms < back[0]][-1]
    check(RETRY_MS - 100 <= back[0] - last_try <= RETRY_MS + 1500,
          'polling resumed %d ms after the last failed retry, expected about %d' % (back[0] - last_try, RETRY_MS))
    resumed_from = len(box.polls())
    wait_until(lambda: len(box.polls()) - resumed_from >= 15, t.seconds(10), '15 polls after the box came back')
    period = box.tick_period(box.polls()[resumed_from:])
    check(TICK_MS - 20 <= period <= TICK_MS + 30, 'median poll period %s ms after the box came back' % period)

    box.press(6)
    wait_until(lambda: x_pointer(t) == (x + 1, y), t.seconds(10), 'a key moving the pointer after the box came back')


def relay_lines(path):
    """(thread, text) of the relay trace lines in a program's log."""
    out = []
    with open(path, errors='replace') as f:
        for line in f:
            m = re.match(r'^([0-9a-f]{4}):(Call|Ret) (.*)$', line.rstrip('\n'))
            if m:
                out.append((m.group(1), m.group(2) + ' ' + m.group(3)))
    return out


@scenario
def shutdown(t):
    """Key 21 opens the Shut Down prompt; Power then sends it VK_RETURN from
    the key poll and the agent enables SeShutdownPrivilege and calls
    ExitWindowsEx(EWX_POWEROFF | EWX_FORCE). Wine's relay trace of the
    agent's process shows the calls; Wine then ends the prefix's programs,
    and the run goes on."""
    relayed = 'ExitWindowsEx;OpenProcessToken;LookupPrivilegeValueA;AdjustTokenPrivileges;MessageBoxA'
    box, _ = setup(t, user_values=[(r'HKCU\Software\Wine\Debug', 'RelayInclude', relayed)])
    # The desktop and its programs start first, so the trace is the agent's own.
    metrics(t)
    agent = start_agent(t, debug='+relay')
    box.wait_polling()

    box.press(KEY_SHUTDOWN)
    prompt = wait_window(t, title=SHUTDOWN_TITLE)
    screenshot(t, 'shutdown-prompt', crop=prompt.rect)
    box.press(KEY_POWER)

    def requested():
        return [(tid, text) for tid, text in relay_lines(agent.log_path)
                if text.startswith('Ret  user32.ExitWindowsEx(') or text.startswith('Ret user32.ExitWindowsEx(')]
    wait_until(requested, t.seconds(20), 'ExitWindowsEx in the agent\'s relay trace')
    trace = relay_lines(agent.log_path)
    call = next(i for i, (_, text) in enumerate(trace) if text.startswith('Call user32.ExitWindowsEx('))
    thread = trace[call][0]
    mine = [text for tid, text in trace[:call + 1] if tid == thread]
    check(re.match(r'Call user32\.ExitWindowsEx\(0+c,0+\)', mine[-1]),
          'ExitWindowsEx called with %s, expected EWX_POWEROFF | EWX_FORCE (12) and reason 0' % mine[-1])
    returned = next(text for tid, text in trace[call + 1:] if tid == thread and 'ExitWindowsEx' in text)
    check('retval=00000001' in returned, 'ExitWindowsEx failed under Wine: %s' % returned)

    def last(pattern, before):
        for i in range(before - 1, -1, -1):
            if re.search(pattern, mine[i]):
                return i
        return None
    end = len(mine) - 1
    adjust = last(r'^Ret  ?advapi32\.AdjustTokenPrivileges\(\) retval=00000001', end)
    adjust_call = last(r'^Call advapi32\.AdjustTokenPrivileges\([0-9a-f]+,0+,', end)
    lookup = last(r'^Call advapi32\.LookupPrivilegeValueA\(0+,[0-9a-f]+ "SeShutdownPrivilege",', end)
    token = last(r'^Call advapi32\.OpenProcessToken\(f+,0+28,', end)
    key = last(r'^Call dialog proc [0-9A-Fa-f]+ \(hwnd=0*%X,msg=WM_KEYDOWN,wp=0+d,' % prompt.hwnd, end)
    order = [key, token, lookup, adjust_call, adjust]
    check(None not in order and order == sorted(order),
          'on the agent\'s thread before ExitWindowsEx: VK_RETURN to the prompt, OpenProcessToken (0x28), '
          'LookupPrivilegeValueA SeShutdownPrivilege, AdjustTokenPrivileges succeeding, in that order; found at %r:\n%s'
          % (order, '\n'.join(mine[-40:])))
    # The Return came from a key poll (timer 1): inside a WM_TIMER call not
    # yet returned. Polls nest: the one that opened the prompt runs on.
    timer, depth = None, 0
    for i in range(key - 1, -1, -1):
        if re.search(r'window proc [0-9A-Fa-f]+ \(hwnd=[0-9A-Fa-f]+,msg=WM_TIMER,', mine[i]):
            if mine[i].startswith('Ret'):
                depth += 1
            elif depth:
                depth -= 1
            else:
                timer = i
                break
    check(timer is not None and ',wp=00000001,' in mine[timer],
          'the VK_RETURN did not come from inside the key poll\'s WM_TIMER: %s' % (mine[timer] if timer else None))

    # Under Wine a forced power-off ends the prefix's programs; the run goes on.
    code = agent.wait(t.seconds(30))
    log('the agent ended with %s after ExitWindowsEx' % code)
    count = run_tool(t, 'wineprobe', 'count-windows', AGENT_NAME).output
    check(count.strip() == 'count=0', 'agent windows after the shutdown: %s' % count.strip())
    boxes = [text for tid, text in relay_lines(agent.log_path) if text.startswith('Call user32.MessageBoxA(')]
    check(not boxes, 'the agent showed a message box: %r' % boxes)


if __name__ == '__main__':
    # The remote's scenarios use this file's helpers and run alongside.
    import agent_remote  # noqa: E402,F401
    sys.exit(main())
