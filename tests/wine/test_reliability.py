#!/usr/bin/env python3
"""tunerpad's reliability end to end under Wine: a box that fails a tenth of
its property calls for five minutes while the remote is pressed and held,
the notification area losing the agent's icon and its taskbar coming back,
and sleep and resume with the box in place or unplugged.

usage: test_reliability.py --cache DIR --work DIR --program tunerpad=EXE
                           --program wineprobe=EXE --program agent_ui=EXE
                           --program system_events=EXE --program boxsim=DLL
                           --program tvstub=EXE --program tvpost=EXE [SCENARIO...]
"""
import os
import random
import re
import runpy
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import agent_image  # noqa: E402
from agent_lib import (  # noqa: E402
    AGENT_ICON, AGENT_NAME, MENU_CLASS, MSG_ROVIVER, REMOTE, RETRY_MS, ROVIVER_CLASS, TICK_MS,
    TRAY_ICON_ID, run_tool, save_registry, setup, start_agent, start_other_icon, tool, wait_window)
from boxtraffic import (  # noqa: E402
    DEVICE_GONE, GEN_FAILURE, INVALID_ARG, RECEIVER_CAPACITY, BoxTail, receiver_account)
from delivery import ROVIVER_COMMANDS, check_deliveries  # noqa: E402
from winelib import DESKTOP_SIZE, check, log, main, scenario, wait_until  # noqa: E402

# How long tvpost waits for a window of a program just started.
WINDOW_WAIT_SECONDS = 30

# Keys the remote presses in the long run: RoviverUVA's keys without a
# meaning of their own to the agent (11 and 21) or the box (19, the snapshot
# button's).
PRESSED_KEYS = sorted(set(ROVIVER_COMMANDS) - {11, 19, 21})
HOLD_REPEAT_MS = 108  # the remote sends a held key's code this often

# The long run: failure codes the box gives, one a minute in turn.
FAILURE_PROBABILITY = 0.1
FAILURE_SECONDS = 300
FAILURE_CODES = (GEN_FAILURE, DEVICE_GONE, INVALID_ARG)
FAILURE_SEED = 20240611
CODE_PERIOD_SECONDS = 60
HEALTH_PERIOD_SECONDS = 2
# Silence from the box's log that means the agent stopped calling it.
STALL_SECONDS = 10
# Between two polls, unless a retry comes between them; and a retry's gap.
MAX_POLL_GAP_MS = 2000
RETRY_EARLY_MS, RETRY_LATE_MS = 150, 2000
# Polls after the failures end, with an idle receiver, before the last key.
SETTLE_POLLS = 10
# The remote's pace: a press, or a hold, then a pause.
HOLD_SHARE = 0.25
PRESS_PAUSE_SECONDS = (0.12, 0.6)
HOLD_MS = (400, 1800)
HOLD_PAUSE_SECONDS = (0.1, 0.4)

# Power events (wParam of WM_POWERBROADCAST).
PBT_APMSUSPEND = 0x4
PBT_APMRESUMESUSPEND = 0x7
PBT_APMRESUMEAUTOMATIC = 0x12
# How long the machine "sleeps": the process runs on under Wine, so a retry
# armed at the suspend comes within it, and is over before the resume.
ASLEEP_MS = RETRY_MS + 2000
SEND_TIMEOUT_MS = 10000
# The agent's open of the box is done when no bind was refused for this long.
OPEN_DONE_SECONDS = 1.0
REFUSED = 'bind refused: unplugged'
# What follows a resume: the open and then polls enough for their period.
REOPEN_TICKS = 12

VK_ESCAPE = 0x1B
FILTER_NOTES = 'FilterNotes'


def remote_sender():
    """The box's remote's send(commands file, words), called in this
    process: the long run sends hundreds of commands."""
    return runpy.run_path(REMOTE)['send']


def note_filters(t, box):
    """Has the box note its filter objects, so a closed channel shows.
    Before any Wine process starts."""
    server_key = box.registry[0][0]
    save_registry(t, [(server_key, FILTER_NOTES, '1')])


def updated(tail):
    """The box's log with what was added to it read."""
    tail.update()
    return tail


def roviver_messages(stub):
    """(wParam, lParam) of RoviverUVA's command messages in its first run."""
    runs = stub.runs()
    return [(m.wparam, m.lparam) for m in (runs[0].messages if runs else []) if m.msg == MSG_ROVIVER]


def start_roviver(t, box, stub, key=5):
    """Starts RoviverUVA and makes it the application the agent drives:
    the first key finds its window. Returns its program."""
    program = t.prefix.start(stub.program)
    run_tool(t, 'tvpost', '-w', int(t.seconds(WINDOW_WAIT_SECONDS) * 1000), 'find', ROVIVER_CLASS)
    press_and_deliver(t, box, stub, key)
    return program


def press_and_deliver(t, box, stub, key):
    """Presses a key and waits until RoviverUVA got its command."""
    mark = len(roviver_messages(stub))
    box.wait_fresh(key)
    box.remote('press', key)
    wait_until(lambda: (ROVIVER_COMMANDS[key], 0) in roviver_messages(stub)[mark:], t.seconds(20),
               'RoviverUVA getting the command of key %d' % key)


# --------------------------------------------------------------------------
# The box failing

def poll_gaps(ticks):
    """(gaps between polls with no retry between them, gaps from a poll
    that found the box gone to the open of the retry), in ms."""
    plain, retries = [], []
    for a, b in zip(ticks, ticks[1:]):
        if a.gone:
            check(b.kind == 'open', 'after the poll at %d ms found the box gone, the agent went on with a %s at %d ms'
                  % (a.ms, b.kind, b.ms))
            retries.append(b.ms - a.ms)
        else:
            check(b.kind == 'poll', 'the agent opened the box again at %d ms without having lost it' % b.ms)
            plain.append(b.ms - a.ms)
    return plain, retries


@scenario
def random_failures(t):
    """For five minutes the box answers a tenth of the property calls with
    a failure (GEN_FAILURE, then "device gone", then INVALID_ARG, a minute
    each in turn) while the remote presses and holds keys for RoviverUVA.
    The agent keeps running and polling every 70 ms, goes to the 3 s retry
    after each "device gone" and only then, and RoviverUVA gets exactly the
    commands of the keys whose read and handshake succeeded, with repeats
    thinned as while an application is driven."""
    box, stubs = setup(t, ['roviver'])
    roviver = stubs['roviver']
    send = remote_sender()
    agent = start_agent(t)
    box.wait_polling()
    program = start_roviver(t, box, roviver)
    tail = BoxTail(box.log)
    tail.update()
    rng = random.Random(FAILURE_SEED)
    log('failures: probability %s, codes %s a minute each, seed %d'
        % (FAILURE_PROBABILITY, ', '.join('%08X' % c for c in FAILURE_CODES), FAILURE_SEED))

    sent = {'presses': 0, 'holds': 0}
    started = time.monotonic()
    code_index = -1
    next_health = started
    grown_at = started
    busy_until = started
    while time.monotonic() - started < FAILURE_SECONDS:
        now = time.monotonic()
        period = int((now - started) // CODE_PERIOD_SECONDS)
        if period != code_index:
            code_index = period
            code = FAILURE_CODES[period % len(FAILURE_CODES)]
            send(box.commands, ['random-failures', str(FAILURE_PROBABILITY), '%08X' % code,
                                       str(FAILURE_SEED + period)])
        if now >= next_health:
            next_health = now + HEALTH_PERIOD_SECONDS
            if tail.update():
                grown_at = now
            check(agent.running, 'the agent ended (exit %s) %.0f s into the failures'
                  % (agent.proc.returncode, now - started))
            check(program.running, 'RoviverUVA ended %.0f s into the failures' % (now - started))
            check(now - grown_at < STALL_SECONDS, 'the agent has not called the box for %.0f s, %.0f s into the '
                  'failures; its last ticks: %r' % (now - grown_at, now - started, tail.ticks[-3:]))
        if now >= busy_until:
            key = rng.choice(PRESSED_KEYS)
            if rng.random() < HOLD_SHARE:
                ms = rng.randint(*HOLD_MS)
                send(box.commands, ['hold', str(key), str(ms)])
                sent['holds'] += 1
                busy_until = now + ms / 1000.0 + rng.uniform(*HOLD_PAUSE_SECONDS)
            else:
                send(box.commands, ['press', str(key)])
                sent['presses'] += 1
                busy_until = now + rng.uniform(*PRESS_PAUSE_SECONDS)
        time.sleep(min(0.05, max(0.0, min(busy_until, next_health) - time.monotonic())))
    send(box.commands, ['random-failures', '0', '%08X' % GEN_FAILURE, str(FAILURE_SEED)])
    log('failures over after %.0f s: %d presses and %d holds sent' % (time.monotonic() - started, sent['presses'],
                                                                      sent['holds']))

    # The box's notes say when each switch of the failures took effect.
    def switches():
        return [ms for ms, text in tail.notes if text.startswith('command: random-failures')]
    wait_until(lambda: updated(tail) and len(switches()) >= code_index + 2, t.seconds(20),
               'the box ending the failures')
    window = (switches()[0], switches()[-1])

    # The receiver empties: polls in a row find no code waiting.
    def settled():
        tail.update()
        after = [k for k in tail.ticks if k.ms > window[1]]
        return len(after) >= SETTLE_POLLS and not any(k.key is not None or k.lost for k in after[-SETTLE_POLLS:])
    wait_until(settled, t.seconds(30), '%d quiet polls after the failures' % SETTLE_POLLS)
    # A last key reaches RoviverUVA, and with it every command before it.
    last = PRESSED_KEYS[-1]
    press_and_deliver(t, box, roviver, last)
    wait_until(lambda: any(k.key == last for k in updated(tail).ticks if k.ms > window[1]), t.seconds(10),
               'the last key in the box\'s log')
    check(agent.running and program.running, 'the agent or RoviverUVA ended after the failures')

    ticks = tail.ticks
    during = [k for k in ticks if window[0] <= k.ms <= window[1]]
    calls = [c for c in tail.calls if window[0] <= c.ms <= window[1]]
    failures = [c for c in calls if c.result != 0]
    rate = len(failures) / float(len(calls))
    check(abs(rate - FAILURE_PROBABILITY) < 0.02, '%.3f of the calls failed, expected about %s'
          % (rate, FAILURE_PROBABILITY))
    plain, retries = poll_gaps([k for k in ticks if k.ms >= window[0]])
    period = statistics.median(plain)
    check(TICK_MS - 20 <= period <= TICK_MS + 30, 'median poll period %s ms during the failures' % period)
    check(max(plain) <= MAX_POLL_GAP_MS, 'a gap of %d ms between two polls with no retry between them'
          % max(plain))
    check(retries, 'no "device gone" sent the agent to its retry in five minutes')
    check(all(RETRY_MS - RETRY_EARLY_MS <= g <= RETRY_MS + RETRY_LATE_MS for g in retries),
          'gaps from a lost box to the retry\'s open: %r ms, expected about %d' % (sorted(retries), RETRY_MS))

    taken = [(k.ms, k.key) for k in ticks if k.kind == 'poll' and k.key is not None]
    lost = [why for k in ticks for _, why in k.lost]
    messages = roviver_messages(roviver)
    thinned = check_deliveries(taken, messages)
    read = len(taken) + len(lost)
    codes, dropped, unexplained = receiver_account(tail.notes, tail.accesses, HOLD_REPEAT_MS, RECEIVER_CAPACITY)
    by_code = {}
    for c in failures:
        by_code[c.result] = by_code.get(c.result, 0) + 1
    log('box: %d property calls in %.0f s, %d failed (%.1f%%: %s)'
        % (len(calls), (window[1] - window[0]) / 1000.0, len(failures), 100 * rate,
           ', '.join('%08X %d' % kv for kv in sorted(by_code.items()))))
    log('polls: %d during the failures, median period %s ms, longest gap %d ms; %d with a failed call'
        % (len([k for k in during if k.kind == 'poll']), period, max(plain),
           len([k for k in during if k.kind == 'poll' and k.failed])))
    log('retries: %d (box lost on the first read), gaps to the open %d..%d ms, median %d ms'
        % (len(retries), min(retries), max(retries), statistics.median(retries)))
    log('keys: %d codes sent (%d presses, %d holds, and the first and last presses), %d read by the agent, '
        '%d taken with a complete handshake, %d delivered to RoviverUVA, %d repeats thinned out'
        % (codes, sent['presses'], sent['holds'], read, len(taken), len(messages), thinned))
    log('keys lost: %d to failed calls, %d read with a second code waiting, %d discarded by the priming; '
        '%d dropped by the receiver, full while the agent was away'
        % (lost.count('failure'), lost.count('queued'), lost.count('prime'), dropped))
    # The receiver is empty again: every code it took in, the agent read.
    check(not unexplained and read == codes - dropped,
          'the agent read %d codes; of the %d the remote sent the receiver kept %d (%d reads of a code it could '
          'not have held)' % (read, codes, codes - dropped, unexplained))


# --------------------------------------------------------------------------
# The notification area

def tray_area():
    """The right end of the taskbar at the bottom of Wine's desktop."""
    width, height = DESKTOP_SIZE
    return (width - 200, height - 24, width, height)


def wait_tray_icon(t, name, present):
    """Until the agent's icon is (or is no longer) in the notification area;
    returns its place (x, y) or None. Each look is a screenshot."""
    images = agent_image.ico_images(AGENT_ICON)
    seen = {'looks': 0}

    def look():
        seen['looks'] += 1
        picture = agent_image.Picture.load(t.prefix.screenshot(t.path(name + '.png')))
        seen['found'] = agent_image.find_icon(picture, images, 16, tray_area())
        return seen['found'] if present else seen['found'] is None
    wait_until(look, t.seconds(20), 'the agent\'s icon %s the notification area' % ('in' if present else 'gone from'))
    log('%s: icon %s after %d look(s)' % (name, seen['found'], seen['looks']))
    return seen['found'] and seen['found'][:2]


def icon_adds(agent):
    """How many times the agent's +systray trace shows it adding an icon."""
    with open(agent.log_path, errors='replace') as f:
        return len(re.findall(r'trace:systray:Shell_NotifyIconW dwMessage = 0\b', f.read()))


def open_menu_from_icon(t, agent, place, button, name):
    """Clicks the icon on the screen and checks the agent's menu opens;
    closes it again with Escape."""
    x, y = place
    subprocess.run(['xdotool', 'mousemove', str(x + 8), str(y + 8), 'click', str(button)],
                   env=dict(os.environ, DISPLAY=t.prefix.display), check=True, timeout=30)
    menu = wait_window(t, cls=MENU_CLASS)
    check(menu.pid == agent.pid, '%s: the menu belongs to pid %d, not the agent (%d)' % (name, menu.pid, agent.pid))
    t.prefix.screenshot(t.path(name + '-menu.png'))

    def menus():
        out = run_tool(t, 'wineprobe', 'count-windows', MENU_CLASS).output.strip()
        return int(out.partition('=')[2])
    check(menus() == 1, '%s: %d menus open' % (name, menus()))
    run_tool(t, 'agent_ui', 'type', VK_ESCAPE)
    wait_until(lambda: menus() == 0, t.seconds(20), '%s: the menu closed by Escape' % name)


@scenario
def tray_restart(t):
    """The notification area loses the agent's icon, as when the shell's
    taskbar goes down and comes back, and the shell then sends
    "TaskbarCreated" to every top-level window: the agent adds its icon
    again, the icon shows, and a real click on it opens the agent's menu.
    Twice, left and right button. Wine's shell can be neither restarted
    under running programs (its desktop window outlives it, with a dead X
    window) nor sends TaskbarCreated, so system_events plays its part."""
    box, _ = setup(t)
    # Another program's icon keeps the taskbar up while the agent's is gone.
    other = start_other_icon(t)
    agent = start_agent(t, debug='+systray')
    box.wait_polling()
    place = wait_tray_icon(t, 'tray', present=True)
    check(icon_adds(agent) == 1, 'the agent added its icon %d times at its start' % icon_adds(agent))

    for cycle, button in ((1, 1), (2, 3)):
        name = 'restart%d' % cycle
        lost = run_tool(t, 'system_events', 'tray-lost', AGENT_NAME, TRAY_ICON_ID)
        log(lost.output.strip())
        wait_tray_icon(t, name + '-lost', present=False)
        run_tool(t, 'system_events', 'taskbar-created', SEND_TIMEOUT_MS)
        place = wait_tray_icon(t, name + '-back', present=True)
        check(icon_adds(agent) == 1 + cycle, 'after %d taskbar restart(s) the agent added its icon %d times'
              % (cycle, icon_adds(agent)))
        open_menu_from_icon(t, agent, place, button, name)
        polls = len(box.polls())
        wait_until(lambda: len(box.polls()) >= polls + 5, t.seconds(10), 'the agent polling after the restart')
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)
    check(other.running, 'the other program\'s icon went away')


# --------------------------------------------------------------------------
# Sleep and resume

def power(t, event):
    """Sends WM_POWERBROADCAST to every top-level window and returns when
    all have handled it: (monotonic time before, after)."""
    before = time.monotonic()
    run_tool(t, 'system_events', 'power', event, SEND_TIMEOUT_MS)
    return before, time.monotonic()


def suspend(t, tail, what, asleep=None):
    """Suspends: the agent stops calling the box at once and closes its
    channel, and calls it no more for a retry period. A real machine would
    be asleep by then; under Wine the agent runs on, and its retry may open
    the box again one period after the suspend, and nothing else may come.
    `asleep` runs right after the suspend. Returns the number of calls the
    box had seen at the suspend."""
    updated(tail)
    check(tail.ticks and tail.ticks[-1].kind == 'poll', '%s: the agent was not polling before the suspend' % what)
    power(t, PBT_APMSUSPEND)
    calls = len(updated(tail).calls)
    last = tail.calls[-1].ms
    check(tail.filters_live() == 0, '%s: after the suspend the box still has %s filter object(s): the channel is '
          'open' % (what, tail.filters_live()))
    if asleep:
        asleep()
    # Nothing to wait for: what is checked is what comes in this span.
    time.sleep(ASLEEP_MS / 1000.0)
    woke = updated(tail).calls[calls:]
    if not woke:
        log('%s: no call to the box while asleep' % what)
        return calls
    ticks = [k for k in tail.ticks if k.ms >= woke[0].ms]
    gap = woke[0].ms - last
    check(ticks and ticks[0].kind == 'open' and all(k.kind == 'poll' for k in ticks[1:]) and
          RETRY_MS - RETRY_EARLY_MS <= gap <= RETRY_MS + TICK_MS + RETRY_LATE_MS,
          '%s: while asleep, %d ms after its last call, the agent went on with %r, expected nothing or the '
          'retry\'s open after %d ms' % (what, gap, [k.kind for k in ticks][:6], RETRY_MS))
    log('%s: the retry opened the box while asleep, %d ms after the last poll' % (what, gap))
    return calls


def wait_reopened(t, tail, since, what):
    """Until the agent opened the box after call index `since` and polls it
    again; returns the monotonic time the first call was seen."""
    seen = wait_until(lambda: len(updated(tail).calls) > since and time.monotonic(),
                      RETRY_MS / 1000.0 + t.seconds(20), '%s: the agent calling the box again' % what)

    def after():
        return [k for k in updated(tail).ticks if k.ms >= tail.calls[since].ms][:REOPEN_TICKS]
    wait_until(lambda: len(after()) >= REOPEN_TICKS, t.seconds(10), '%s: polls after the open' % what)
    ticks = after()
    check(ticks[0].kind == 'open' and all(k.kind == 'poll' for k in ticks[1:]),
          '%s: after the resume the agent %r, expected an open and then polls' % (what, [k.kind for k in ticks]))
    check(tail.filters_live() == 1, '%s: %s filter objects live after the reopen, expected 1'
          % (what, tail.filters_live()))
    period = statistics.median(b.ms - a.ms for a, b in zip(ticks[1:], ticks[2:]))
    check(TICK_MS - 20 <= period <= TICK_MS + 30, '%s: median poll period %s ms after the reopen' % (what, period))
    return seen


def check_retry_delay(sent, seen, what):
    """The reopen came one retry period after the resume: the resume was
    sent between sent[0] and sent[1], the first call seen at `seen`
    (looked for every 100 ms)."""
    earliest, latest = seen - sent[1] - 0.2, seen - sent[0]
    log('%s: first call %.2f..%.2f s after the resume' % (what, earliest, latest))
    check(latest >= (RETRY_MS - RETRY_EARLY_MS) / 1000.0 and earliest <= (RETRY_MS + RETRY_LATE_MS) / 1000.0,
          '%s: the box was opened again %.2f..%.2f s after the resume, expected %.1f s (the retry period)'
          % (what, earliest, latest, RETRY_MS / 1000.0))


@scenario
def sleep_resume(t):
    """A suspend stops the poll at once and closes the channel; nothing
    comes for a retry period. A resume (PBT_APMRESUMEAUTOMATIC, then in a
    second round PBT_APMRESUMESUSPEND) reopens the box through the retry,
    one period later, and keys reach RoviverUVA again. After a resume while
    the box is unplugged the retry tries every period, without a call to the
    box, until it is plugged back; then keys work again."""
    box, stubs = setup(t, ['roviver'])
    note_filters(t, box)
    roviver = stubs['roviver']
    agent = start_agent(t)
    box.wait_polling()
    start_roviver(t, box, roviver)
    tail = updated(BoxTail(box.log))
    check(tail.filters_live() == 1, '%s filter objects live while polling, expected 1' % tail.filters_live())

    for what, event, key in (('resume (automatic)', PBT_APMRESUMEAUTOMATIC, 6),
                             ('resume (by the user)', PBT_APMRESUMESUSPEND, 7)):
        suspend(t, tail, what)
        sent = power(t, event)
        # The resume stopped any polling before the send returned.
        seen = wait_reopened(t, tail, len(updated(tail).calls), what)
        check_retry_delay(sent, seen, what)
        press_and_deliver(t, box, roviver, key)

    what = 'resume while unplugged'
    # The box reads its commands when called: at the retry's first bind.
    since = suspend(t, tail, what, asleep=lambda: box.remote('unplug'))

    def retries():
        """Box times of the retries' refused binds, one per retry (each
        open tries the box under several names)."""
        starts = []
        for ms, text in tail.notes:
            if text == REFUSED and (not starts or ms - starts[-1] > 1000):
                starts.append(ms)
        return starts
    before = len(updated(tail) and retries())
    sent = power(t, PBT_APMRESUMEAUTOMATIC)
    first = wait_until(lambda: len(updated(tail) and retries()) > before and time.monotonic(),
                       RETRY_MS / 1000.0 + t.seconds(20), '%s: a retry refused by the unplugged box' % what)
    log('%s: a retry refused %.2f s after the resume' % (what, first - sent[1]))
    check(first - sent[1] <= (RETRY_MS + RETRY_LATE_MS) / 1000.0,
          '%s: the first retry after the resume came %.1f s after it' % (what, first - sent[1]))
    wait_until(lambda: updated(tail) and len(retries()) >= max(2, before + 1), t.seconds(20),
               '%s: a second retry' % what)
    offsets = [b - a for a, b in zip(retries(), retries()[1:])]
    check(all(RETRY_MS - RETRY_EARLY_MS <= o <= RETRY_MS + RETRY_LATE_MS for o in offsets),
          '%s: retries %r ms apart, expected %d' % (what, offsets, RETRY_MS))
    check(len(tail.calls) == since, '%s: %d property calls while the box was away: %r'
          % (what, len(tail.calls) - since, tail.calls[since:since + 6]))
    # Plugged back between two retries, once the last one's open has finished.
    seen = {'count': -1, 'since': 0.0}

    def open_finished():
        count, now = len([n for n in updated(tail).notes if n[1] == REFUSED]), time.monotonic()
        if count != seen['count']:
            seen.update(count=count, since=now)
        return now - seen['since'] >= OPEN_DONE_SECONDS
    wait_until(open_finished, t.seconds(10), '%s: the retry\'s open finished' % what)
    plugged = time.monotonic()
    box.remote('plug')
    back = wait_reopened(t, tail, since, what)
    log('%s: polling again %.1f s after the plug' % (what, back - plugged))
    check(back - plugged <= (RETRY_MS + RETRY_LATE_MS) / 1000.0,
          '%s: the box was opened again %.1f s after it was plugged, expected within a retry period'
          % (what, back - plugged))
    press_and_deliver(t, box, roviver, 8)
    check(agent.running, 'the agent ended (exit %s)' % agent.proc.returncode)

if __name__ == '__main__':
    sys.exit(main())
