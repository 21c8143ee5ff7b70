"""tunerpad end to end under Wine, the remote in full: every key against the
key maps of PowerVCR II, WinDVR, honestechTV and RoviverUVA, with the
country code 81 and without; the idle poll's property calls; a held key;
the box's snapshot button; ten unplug and replug cycles; boxes of the other
models; and the Setting dialog's choice for the Power key.

What the applications should receive comes from tv_keymaps, written apart
from the agent. test_agent.py runs these scenarios with its own.
"""
import statistics
import time

import tv_keymaps as keymaps
from agent_lib import (
    CMD_SETTING, DEVICE_GONE, HONESTECH_CLASS, IDOK, KEY_EXTENDED, KEY_POWER, POWERVCR_CLASS, REPEAT_WINDOW_MS,
    RETRY_MS, SETTING_COMBO, SETTING_TITLE, SETTINGS_KEY, TICK_MS, WINDVR_CLOSE_LPARAM, WINDVR_TITLE, WINRIP_TITLE,
    WM_ACTIVATE, WM_CHAR, WM_KEYDOWN, WM_KEYUP, command, metrics, run_tool, set_pointer, setup, start_agent,
    wait_gone, wait_window, x_pointer)
from test_agent import check_held_moves, combo_items
from tv_keymaps import KEY_SECOND_START, MSG_ROVIVER, MSG_WINDVR, VK_CONTROL
from winelib import check, log, scenario, wait_until

COUNTRY_KEY = r'HKCU\Control Panel\International'
COUNTRY_VALUE = 'iCountry'
COUNTRY_JAPAN, COUNTRY_USA = '81', '1'
WINDOW_WAIT_SECONDS = 30

# Messages of keys and characters, and the applications' private ones.
WM_DEADCHAR, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSCHAR, WM_SYSDEADCHAR = 0x0103, 0x0104, 0x0105, 0x0106, 0x0107
DOWN_MESSAGES = (WM_KEYDOWN, WM_SYSKEYDOWN)
UP_MESSAGES = (WM_KEYUP, WM_SYSKEYUP)
CHAR_MESSAGES = (WM_CHAR, WM_DEADCHAR, WM_SYSCHAR, WM_SYSDEADCHAR)
PRIVATE_MESSAGES = (MSG_WINDVR, MSG_ROVIVER)
KEY_RELEASED = 1 << 31   # lParam: a key-up
ROVIVER_CLOSE = 1

# The box's property calls: the idle poll is one status read (registers 8
# and 9) and one look at the snapshot register (12).
REG_SELECT, REG_DATA, BUS_ADDRESS = 0x1005, 0x1006, 0x100B
STATUS_READ = [('Set', REG_SELECT, 0x0801), ('Get', REG_DATA, None), ('Set', REG_SELECT, 0x0901),
               ('Get', REG_DATA, 0x04)]
IDLE_TICK = STATUS_READ + [('Set', REG_SELECT, 0x0C01), ('Get', REG_DATA, 0x05)]
SNAPSHOT_LATCHED = 0x25  # register 12 with the button's latch bit (0x20) set
SNAPSHOT_CLEARED = 0x05
TICK_SPREAD_MS = TICK_MS - 10  # a tick's calls are made together, well before the next tick
# Gaps between two takes of a held key this close to the repeat window may
# fall either side of it on the agent's coarser clock.
REPEAT_SLACK_MS = 30
HOLD_THINNING = 10
SHOWN_AFTER_DIFFERENCE = 10  # events shown past the first one that differs

# How each application is started (its command), found and closed. PowerVCR
# goes on the X of its Ctrl+X: the releases never reach its window.
APPS = {
    'powervcr': (1104, POWERVCR_CLASS, keymaps.chord(VK_CONTROL, ord('X'))[:2]),
    'windvr': (1102, WINDVR_TITLE, keymaps.posted(ord('X'), WINDVR_CLOSE_LPARAM)),
    'honestech': (1105, HONESTECH_CLASS, keymaps.posted(ord('O'))),
}


# --------------------------------------------------------------------------
# What an application received

def received(run, start=0):
    """[(index, message)] of what the agent sent the stand-in's main window
    from message `start` on: keys, characters and private messages. A
    character right after a key-down with the same lParam is the stand-in's
    own TranslateMessage at work and is left out."""
    out = []
    for i in range(start, len(run.messages)):
        m = run.messages[i]
        if m.window != 'main' or m.msg not in DOWN_MESSAGES + UP_MESSAGES + CHAR_MESSAGES + PRIVATE_MESSAGES:
            continue
        if m.msg in CHAR_MESSAGES and out and out[-1][1].msg in DOWN_MESSAGES and out[-1][1].lparam == m.lparam:
            continue
        out.append((i, m))
    return out


def matches(event, m):
    kind, value, lparam, mods = event
    if set(m.mods) != set(mods):
        return False
    if kind == 'key':
        return m.msg == WM_KEYDOWN and m.wparam == value and m.lparam == lparam
    if kind == 'char':
        return m.msg == WM_CHAR and m.wparam == value and m.lparam == lparam
    if kind == 'msg':
        return (m.msg, m.wparam) == value and m.lparam == lparam
    # Typed keys: Wine picks WM_KEY* or WM_SYSKEY* by the Alt and Ctrl state.
    messages = DOWN_MESSAGES if kind == 'down' else UP_MESSAGES
    released = KEY_RELEASED if kind == 'up' else 0
    return (m.msg in messages and m.wparam == value and m.lparam & KEY_EXTENDED
            and m.lparam & KEY_RELEASED == released)


def describe(m):
    return '%s 0x%x lParam 0x%x%s' % (m.name, m.wparam, m.lparam, ' +' + '+'.join(m.mods) if m.mods else '')


def describe_event(event):
    kind, value, lparam, mods = event
    shown = value if isinstance(value, tuple) else '0x%x' % value
    return '%s %s lParam %s%s' % (kind, shown, 'typed' if lparam is None else '0x%x' % lparam,
                                  ' +' + '+'.join(mods) if mods else '')


def check_received(what, got, want, bounds=()):
    """`got` [(index, message)] is `want`, event by event. `bounds` [(code,
    events up to and with it)] name the key of the first difference."""
    wrong = next((i for i, (e, (_, m)) in enumerate(zip(want, got)) if not matches(e, m)), None)
    if wrong is None and len(got) == len(want):
        return
    at = min(len(got), len(want)) if wrong is None else wrong
    code = next((c for c, n in bounds if n > at), None)
    lines = ['%s: event %d%s differs' % (what, at, '' if code is None else ' (key %d)' % code)]
    for i in range(max(0, at - 3), min(max(len(got), len(want)), at + SHOWN_AFTER_DIFFERENCE)):
        lines.append('  %3d want %-40s got %s' % (i, describe_event(want[i]) if i < len(want) else '-',
                                                  describe(got[i][1]) if i < len(got) else '-'))
    raise AssertionError('\n'.join(lines))


def sweep(t, box, stub, run_index, role, codes, country81):
    """Presses each code in turn, the next once the stand-in has all that
    the keys so far sent it. Returns (first message index, expected events,
    [(code, events up to and with it)])."""
    start = len(stub.runs()[run_index].messages)
    want, bounds = [], []
    for code in codes:
        want += keymaps.action(role, code, country81)
        box.press(code)
        count = len(want)
        if count:
            wait_until(lambda: len(received(stub.runs()[run_index], start)) >= count, t.seconds(20),
                       '%s: what key %d sends' % (role, code))
        bounds.append((code, count))
    return start, want, bounds


def activated(run, first, last):
    """Indexes of the messages in [first, last) that activated the main window."""
    return [i for i in range(first, last) if run.messages[i].window == 'main'
            and run.messages[i].msg == WM_ACTIVATE and run.messages[i].wparam & 0xFFFF]


def check_brought_forward(what, run, start, got, want, covered_at):
    """The first chord's typed keys follow an activation of the application,
    which was behind another program from message `covered_at` on and which
    the posted keys before the chord left there."""
    k = next(i for i, e in enumerate(want) if e[0] == 'down')
    after_previous = got[k - 1][0] + 1 if k else start
    early = activated(run, covered_at, after_previous)
    check(not early, '%s: brought to the front before its first chord, at messages %r' % (what, early))
    check(activated(run, after_previous, got[k][0]),
          '%s: not brought to the front before the chord\'s keys were typed' % what)


# --------------------------------------------------------------------------
# The box's poll and its retries

def check_idle_ticks(calls, what):
    """`calls` are whole idle ticks: the six calls of IDLE_TICK each, all
    answered, made together; returns the ticks' start times."""
    check(len(calls) % len(IDLE_TICK) == 0, '%s: %d calls, not whole ticks of %d' % (what, len(calls), len(IDLE_TICK)))
    starts = []
    for i in range(0, len(calls), len(IDLE_TICK)):
        tick = calls[i:i + len(IDLE_TICK)]
        shape = [(kind, ident, word if want is not None else None) for (_, kind, ident, word, _), (_, _, want)
                 in zip(tick, IDLE_TICK)]
        check(shape == IDLE_TICK and all(c[4] == 0 for c in tick),
              '%s: tick %d made the calls %r, expected %r' % (what, i // len(IDLE_TICK), tick, IDLE_TICK))
        check(tick[-1][0] - tick[0][0] <= TICK_SPREAD_MS, '%s: a tick\'s calls spread over %r' % (what, tick))
        starts.append(tick[0][0])
    return starts


def check_tick_period(starts, what):
    period = statistics.median(b - a for a, b in zip(starts, starts[1:]))
    check(TICK_MS - 20 <= period <= TICK_MS + 30, '%s: median poll period %s ms, expected %d' % (what, period, TICK_MS))
    return period


def wait_idle_ticks(t, box, after, count, what):
    """Until `count` whole ticks follow call index `after`; checks them."""
    wanted = count * len(IDLE_TICK)
    calls = wait_until(lambda: len(box.calls()) - after >= wanted and box.calls(), t.seconds(20), what)
    return check_idle_ticks(calls[after:after + wanted], what)


def replug(t, box, failed_retries=0):
    """Unplugs the box, and plugs it back in after `failed_retries` retries
    found it missing; checks that polling stopped at the failing call, that
    a retry came every RETRY_MS from it and that the next one found the box.
    Returns (ms the box went, [ms of failed retries], ms it was back)."""
    first = len(box.calls())
    box.remote('unplug')
    # The box takes the command at its next call, which may be within a tick.
    since, gone = wait_until(lambda: next(((i, c) for i, c in enumerate(box.calls())
                                           if i >= first and c[4] == DEVICE_GONE), None),
                             t.seconds(10), 'a call answered "device gone"')

    def refusals():
        return [ms for ms, text in box.notes() if text == 'bind refused: unplugged' and ms > gone[0]]

    def retries():
        """Start times of the failed retries: each one's open tries to bind
        the box more than once (the fallback names match it too)."""
        starts = []
        for ms in refusals():
            if not starts or ms - starts[-1] > RETRY_MS // 3:
                starts.append(ms)
        return starts

    if failed_retries:
        wait_until(lambda: len(retries()) >= failed_retries, RETRY_MS / 1000.0 * failed_retries + t.seconds(10),
                   '%d retries while the box is out' % failed_retries)
        # Plugged back only once that retry's open is over: one that meets the
        # box halfway is a case of its own.
        seen = {'count': -1, 'since': 0.0}

        def open_over():
            count, now = len(refusals()), time.monotonic()
            if count != seen['count']:
                seen.update(count=count, since=now)
            return now - seen['since'] >= 0.5
        wait_until(open_over, t.seconds(10), 'the retry\'s open over')
    box.remote('plug')
    calls = wait_until(lambda: any(c[4] == 0 for c in box.calls()[since:]) and box.calls(),
                       RETRY_MS / 1000.0 + t.seconds(10), 'polling back after the box returned')
    back_at = next(i for i in range(since, len(calls)) if calls[i][4] == 0)
    back, lost = calls[back_at], calls[since:back_at]
    # The failing status read and the receiver read after it, each with its
    # clearing call: one poll's worth, then nothing until the box is back.
    check(all(c[4] == DEVICE_GONE for c in lost) and len(lost) <= len(IDLE_TICK),
          'after the box went the agent went on calling it: %r' % lost[:12])
    check(back[1:4] == ('Set', BUS_ADDRESS, 0x60), 'the first call after the return is %r, not the open\'s bus address'
          % (back,))
    failed = retries()
    offsets = [ms - gone[0] for ms in failed] + [back[0] - gone[0]]
    check(len(failed) == failed_retries, 'retries that found no box %r ms after the box went, expected %d'
          % (offsets[:-1], failed_retries))
    # A periodic timer armed at the failing poll: the n-th retry n periods on.
    check(all(n * RETRY_MS - 150 <= o <= n * RETRY_MS + 1500 for n, o in enumerate(offsets, 1)),
          'retries %r ms after the box went, expected every %d ms' % (offsets, RETRY_MS))
    return gone[0], failed, back[0]


def set_country(t, box, code):
    """Sets the user's country code, and pulls the box out and back so that
    key polling starts again and the agent takes the code anew."""
    t.prefix.reg_add(COUNTRY_KEY, COUNTRY_VALUE, code)
    replug(t, box)


def loaded_names(box):
    return sorted({text[len('load '):].strip('"') for _, text in box.notes() if text.startswith('load ')})


# --------------------------------------------------------------------------
# Held keys

def acting_counts(takes, previous=None):
    """The numbers of times the agent may have acted on the keys `takes`
    [(ms, code)] of one held key while an application is driven: the fresh
    press and every tenth repeat. `previous` is the key taken before, a
    fresh press itself."""
    # (repeat count, actions so far); `previous` counts as a fresh press.
    states = {(0, 0)}
    last = previous
    for ms, code in takes:
        gap = None if last is None or last[1] != code else ms - last[0]
        if gap is None or gap >= REPEAT_WINDOW_MS + REPEAT_SLACK_MS:
            options = (True,)
        elif gap < REPEAT_WINDOW_MS - REPEAT_SLACK_MS:
            options = (False,)
        else:
            options = (True, False)
        new = set()
        for count, acted in states:
            for fresh in options:
                n = 0 if fresh else count + 1
                new.add((n, acted + (n % HOLD_THINNING == 0)))
        states = new
        last = (ms, code)
    return sorted({acted for _, acted in states})


def roviver_command(code, country81=False):
    """RoviverUVA's command number for a key."""
    (_, (_, number), _, _), = keymaps.action('roviver', code, country81)
    return number


# --------------------------------------------------------------------------
# Scenarios

def drive(t, box, stubs, role, country81, close_key, cover=None):
    """Starts the application of `role` with its command, puts the program
    `cover` (a Stub) in front of it when given, presses every key but 11 and
    18 and closes the application with `close_key`; checks all it received
    against its key map."""
    stub = stubs[role]
    ident, window, closing = APPS[role]
    run_index = len(stub.runs())
    command(t, ident)
    stub.wait_run(run_index + 1)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', window)
    covered_at = None
    if cover:
        t.prefix.start(cover.program)
        wait_until(lambda: wait_window(t, title=WINRIP_TITLE).foreground, t.seconds(20), 'WinRip in front')
        covered_at = len(stub.runs()[run_index].messages)
    codes = [c for c in keymaps.ALL_CODES if c not in (KEY_SECOND_START, KEY_POWER)]
    started = time.monotonic()
    start, want, bounds = sweep(t, box, stub, run_index, role, codes, country81)
    box.press(close_key)
    run = stub.wait_exit(run_index)
    what = '%s with country %s' % (role, COUNTRY_JAPAN if country81 else COUNTRY_USA)
    got = received(run, start)
    check_received(what, got, want + closing, bounds)
    if cover:
        check_brought_forward(what, run, start, got, want, covered_at)
    log('%s: %d keys, %d events as its key map says, closed by key %d (%.1f s)'
        % (what, len(codes), len(want), close_key, time.monotonic() - started))


@scenario
def tv_keymaps(t):
    """PowerVCR II, WinDVR and honestechTV, each started by its command
    (1104, 1102, 1105) and driven from the remote: every key reaches it as
    its key map says (message, wParam, lParam, modifiers and order; chords
    typed after the application was brought to the front), with the country
    code 1 and, after polling started again, 81. Keys 17, 21, 25 (and 23 for
    WinDVR) do nothing; key 11 and then Power close each with its own close
    key; key 29 sets PowerVCR's DisableCapDlg."""
    box, stubs = setup(t, ['powervcr', 'windvr', 'honestech'], unregistered=['winrip'],
                       user_values=[(COUNTRY_KEY, COUNTRY_VALUE, COUNTRY_USA)])
    check(t.prefix.saved_value(r'HKLM\SOFTWARE\CyberLink', 'DisableCapDlg') is None,
          'DisableCapDlg is set before any key')
    agent = start_agent(t)
    box.wait_polling()
    for country81, close_key in ((False, KEY_SECOND_START), (True, KEY_POWER)):
        if country81:
            set_country(t, box, COUNTRY_JAPAN)
        for role in ('powervcr', 'windvr', 'honestech'):
            # Chords bring the application forward: once, from behind WinRip.
            cover = stubs['winrip'] if not country81 and role != 'honestech' else None
            drive(t, box, stubs, role, country81, close_key, cover)
    got = t.prefix.reg_query(r'HKLM\SOFTWARE\CyberLink', 'DisableCapDlg')
    check(got == ('REG_DWORD', 1), 'HKLM\\SOFTWARE\\CyberLink\\DisableCapDlg is %r after key 29' % (got,))
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)


@scenario
def roviver_remote(t):
    """A first start: the agent polls the box every 70 ms with six property
    calls a tick, in order. Power starts RoviverUVA, the first start's
    default; every other key reaches it as command 3024 with the number of
    its table, with the country code 1 and then 81 (keys 11 and 21 too).
    A held key acts on the press and every tenth repeat; the box's snapshot
    button is key 19. Power closes RoviverUVA with command 1, and the next
    keys move the real pointer, with acceleration."""
    box, stubs = setup(t, ['roviver'], user_values=[(COUNTRY_KEY, COUNTRY_VALUE, COUNTRY_USA)])
    roviver = stubs['roviver']
    agent = start_agent(t)

    # The first ticks, from the open's bus address on: one status read to
    # prime the receiver, then the idle poll.
    calls = wait_until(lambda: len(box.calls()) >= 100 and box.calls(), t.seconds(30), 'the agent polling the box')
    opened = next(i for i, c in enumerate(calls) if c[1:4] == ('Set', BUS_ADDRESS, 0x60))
    primed = [(c[1], c[2], c[3] if want is not None else None) for c, (_, _, want)
              in zip(calls[opened + 1:], STATUS_READ)]
    check(primed == STATUS_READ, 'the receiver was primed with %r' % calls[opened + 1:opened + 5])
    starts = wait_idle_ticks(t, box, opened + 1 + len(STATUS_READ), 15, 'the first idle ticks')
    period = check_tick_period(starts, 'the first idle ticks')
    log('first start: %d idle ticks of six calls, median period %s ms' % (len(starts), period))

    box.press(KEY_POWER)
    roviver.wait_run(1)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', 'HALCYON_TVR')
    # Keys 11 and 21 too: RoviverUVA has commands for them.
    codes = [c for c in keymaps.ALL_CODES if c != KEY_POWER]
    start, want, bounds = sweep(t, box, roviver, 0, 'roviver', codes, False)
    set_country(t, box, COUNTRY_JAPAN)
    mark = len(roviver.runs()[0].messages)
    got = [(i, m) for i, m in received(roviver.runs()[0], start) if i < mark]
    check_received('RoviverUVA with country 1', got, want, bounds)
    start, want, bounds = sweep(t, box, roviver, 0, 'roviver', codes, True)
    check_received('RoviverUVA with country 81', received(roviver.runs()[0], start), want, bounds)

    # Held for 24 codes: the press and repeats 10 and 20 act, give or take
    # codes a late poll missed.
    held, marker = 2, 13
    box.wait_quiet()
    mark = len(roviver.runs()[0].messages)
    previous = box.taken_keys()[-1]
    takes = box.hold(held, 2500)
    box.press(marker)
    roviver.wait_message(MSG_ROVIVER, roviver_command(marker), start=mark)
    commands = [m.wparam for _, m in received(roviver.runs()[0], mark)]
    acted = commands.count(roviver_command(held))
    possible = acting_counts(takes, previous)
    check(commands == [roviver_command(held)] * acted + [roviver_command(marker)],
          'RoviverUVA got %r for key %d held and key %d' % (commands, held, marker))
    check(acted in possible and acted >= 2,
          'key %d held: %d of %d keys taken acted on RoviverUVA, expected one of %r (at %r)'
          % (held, acted, len(takes), possible, [k[0] for k in takes]))
    log('key %d held: %d keys taken, %d acted' % (held, len(takes), acted))

    # The snapshot button: read latched once, written back cleared, key 19.
    box.wait_quiet()
    first = len(box.calls())
    mark = len(roviver.runs()[0].messages)
    box.remote('snapshot')
    roviver.wait_message(MSG_ROVIVER, 1000, start=mark)
    calls = box.calls()[first:]
    latched = [i for i, c in enumerate(calls) if c[1:4] == ('Get', REG_DATA, SNAPSHOT_LATCHED)]
    check(len(latched) == 1 and calls[latched[0] - 1][1:4] == ('Set', REG_SELECT, 0x0C01)
          and [c[1:4] for c in calls[latched[0] + 1:latched[0] + 3]]
          == [('Set', REG_SELECT, 0x0C01), ('Set', REG_DATA, SNAPSHOT_CLEARED)],
          'the snapshot register was not read latched once and cleared: %r' % calls[:40])

    box.press(KEY_POWER)
    run = roviver.wait_exit(0)
    check_received('RoviverUVA after the snapshot button', received(run, mark),
                   keymaps.action('roviver', 19, True) + [('msg', (MSG_ROVIVER, ROVIVER_CLOSE), 0, ())])
    check(len(roviver.runs()) == 1, 'RoviverUVA started %d times' % len(roviver.runs()))

    # Nothing is driven now: the keys move the pointer.
    width = metrics(t)['cxfullscreen']
    x, y = 300, 300
    set_pointer(t, x, y)
    box.wait_quiet()
    box.press(6)
    wait_until(lambda: x_pointer(t) == (x + 1, y), t.seconds(10), 'one pixel right for a press of 6')
    dx, dy = check_held_moves(t, box, 3, 1300, (width // 160, width // 80))
    check(dx > 0 and dy == -dx, 'key 3 held (up and right) moved the pointer by %r' % ((dx, dy),))
    check(len(roviver.runs()) == 1 and agent.running, 'RoviverUVA started again, or the agent ended')


@scenario
def replug_cycles(t):
    """A box registered as "USB 2841 Video", found under that fallback name,
    pulled out and put back ten times: each time polling stops at the
    failing call, a retry comes every 3000 ms from it (every third time one
    finds the box missing), the next finds it under its name and the 70 ms
    idle poll resumes. The remote works afterwards."""
    box, _ = setup(t, model='USB 2841 Video')
    agent = start_agent(t)
    box.wait_polling()
    check(loaded_names(box) == ['USB 2841 Video'], 'the agent loaded the boxes %r' % loaded_names(box))
    started = time.monotonic()
    resumed = []
    for cycle in range(10):
        gone, failed, back = replug(t, box, failed_retries=1 if cycle % 3 == 2 else 0)
        after = next(i for i, c in enumerate(box.calls()) if c[0] >= back and c[1:4] == ('Set', BUS_ADDRESS, 0x60))
        # The open's bus address, the receiver primed, then idle ticks.
        starts = wait_idle_ticks(t, box, after + 1 + len(STATUS_READ), 3, 'polling after return %d' % (cycle + 1))
        resumed.append((back - gone, len(failed), starts[0] - back))
    log('ten cycles in %.1f s: (ms to return, failed retries, ms to the first tick) %r'
        % (time.monotonic() - started, resumed))
    calls = box.calls()
    first = next(i for i in range(len(calls) - 1, -1, -1) if calls[i][1:4] == ('Set', BUS_ADDRESS, 0x60))
    starts = wait_idle_ticks(t, box, first + 1 + len(STATUS_READ), 15, 'polling after the tenth return')
    check_tick_period(starts, 'polling after the tenth return')
    x, y = 300, 300
    set_pointer(t, x, y)
    box.press(6)
    wait_until(lambda: x_pointer(t) == (x + 1, y), t.seconds(10), 'a key moving the pointer after ten returns')
    check(loaded_names(box) == ['USB 2841 Video'], 'the agent loaded the boxes %r' % loaded_names(box))
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)


@scenario
def setting_default(t):
    """A box registered as "USB 2820 Video" works. With PowerVCR the
    default, choosing WinDVR in the Setting dialog makes the next Power
    start WinDVR, and the one after close it; the choice is stored."""
    box, stubs = setup(t, ['windvr', 'powervcr'], settings={'DefaultTVAPP': 2}, model='USB 2820 Video')
    windvr, powervcr = stubs['windvr'], stubs['powervcr']
    agent = start_agent(t)
    box.wait_polling()
    check(loaded_names(box) == ['USB 2820 Video'], 'the agent loaded the boxes %r' % loaded_names(box))

    command(t, CMD_SETTING)
    wait_window(t, title=SETTING_TITLE)
    items = combo_items(t)
    check(items == (['WinDVR', 'PowerVCR'], 1), 'Setting lists %r, expected PowerVCR (2) preselected' % (items,))
    run_tool(t, 'agent_ui', 'select', SETTING_TITLE, SETTING_COMBO, 0)
    run_tool(t, 'agent_ui', 'click', SETTING_TITLE, IDOK)
    wait_gone(t, SETTING_TITLE)

    box.press(KEY_POWER)
    windvr.wait_run(1)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', WINDVR_TITLE)
    box.press(13)
    windvr.wait_message(MSG_WINDVR, 2, 0, run=0)
    box.press(KEY_POWER)
    run = windvr.wait_exit(0)
    check_received('WinDVR', received(run), keymaps.action('windvr', 13, False) + APPS['windvr'][2])
    check(not powervcr.runs(), 'PowerVCR ran: %r' % powervcr.runs())
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)
    # The wineserver writes the registry out as it ends.
    t.prefix.stop()
    got = t.prefix.saved_value(SETTINGS_KEY, 'DefaultTVAPP')
    check(got == ('REG_DWORD', 1), 'DefaultTVAPP is %r after choosing WinDVR, expected 1' % (got,))
