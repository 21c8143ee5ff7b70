"""What RoviverUVA should have got from the agent for the keys the agent
took: the command of each key, in order, except the repeats thinned out
while an application is driven. Used by the reliability scenarios, whose
keys are read off the box's log (boxtraffic)."""
from agent_lib import REPEAT_WINDOW_MS
from tv_keymaps import ROVIVER
from winelib import check

# RoviverUVA's command for each key whose command does not depend on the
# country mode (Power, which would close it, has none): as its key map
# promises them, one message each.
ROVIVER_COMMANDS = {code: plain[0][1][1] for code, (plain, country81) in ROVIVER.items()
                    if plain == country81 and len(plain) == 1 and plain[0][0] == 'msg'}
# While an application is driven, a held key acts on its fresh press and on
# every tenth repeat.
REPEAT_THINNING = 10
# Gaps between keys this close to the repeat window may fall either side of
# it on the agent's own clock (GetTickCount moves in steps of about 16 ms).
CLOCK_SLACK_MS = 30


def check_deliveries(taken, messages):
    """The commands RoviverUVA got are those of the keys the agent took, in
    order, each key once except repeats thinned out: while RoviverUVA is
    driven a repeat (the same key within the repeat window of the one
    before) acts only on repeat counts 10, 20, 30 ... `taken` is [(ms,
    key)] by the box's clock, `messages` [(wParam, lParam)]. Gaps near the
    window's edge allow either reading. Returns the number thinned out."""
    states = {(0, 0)}  # (messages matched, repeat count)
    previous = None
    for n, (ms, key) in enumerate(taken):
        check(key in ROVIVER_COMMANDS, 'the agent took key %d at %d ms, which the remote never sent' % (key, ms))
        command = (ROVIVER_COMMANDS[key], 0)
        fresh_options = (True,)
        if previous is not None and previous[1] == key:
            gap = ms - previous[0]
            if gap < REPEAT_WINDOW_MS - CLOCK_SLACK_MS:
                fresh_options = (False,)
            elif gap < REPEAT_WINDOW_MS + CLOCK_SLACK_MS:
                fresh_options = (True, False)
        new = set()
        for matched, count in states:
            for fresh in fresh_options:
                repeat = 0 if fresh else count + 1
                if repeat % REPEAT_THINNING != 0:
                    new.add((matched, repeat))
                elif matched < len(messages) and messages[matched] == command:
                    new.add((matched + 1, repeat))
        if not new:
            at = min(m for m, _ in states)
            raise AssertionError(
                'key %d taken at %d ms (taken key %d of %d) should have reached RoviverUVA as %r, but it got %r '
                'next (message %d of %d); keys taken around it: %r'
                % (key, ms, n + 1, len(taken), command, messages[at:at + 3], at + 1, len(messages),
                   taken[max(0, n - 4):n + 3]))
        states = new
        previous = (ms, key)
    check(any(matched == len(messages) for matched, _ in states),
          'RoviverUVA got %d commands more than the keys the agent took account for: %r'
          % (len(messages) - max(m for m, _ in states), messages[max(m for m, _ in states):][:8]))
    return len(taken) - len(messages)
