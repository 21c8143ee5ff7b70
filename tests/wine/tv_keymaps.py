"""What each TV application's main window receives for each remote key, as
the agent's key maps promise it: written out here on their own, so that the
end-to-end scenarios compare the agent against the promise and not against
its own tables.

A key's action is a list of events, each (kind, value, lparam, mods):
  ('key', vk, lparam, ())        WM_KEYDOWN posted to the window
  ('char', code, lparam, ())     WM_CHAR posted to the window
  ('msg', (msg, wparam), 0, ())  a private message posted with lParam 0
  ('down', vk, None, mods)       a key typed with keybd_event, down
  ('up', vk, None, mods)         the same key let go
`mods` are the modifier keys ('ctrl', 'shift', 'alt') down once the event is
read. Keys with no row give [].
"""

from agent_lib import MSG_ROVIVER, VK_CONTROL, VK_DOWN, VK_RETURN, VK_UP

VK_SHIFT, VK_MENU = 0x10, 0x12
VK_SPACE, VK_PRIOR, VK_NEXT = 0x20, 0x21, 0x22
VK_LEFT, VK_RIGHT = 0x25, 0x27
VK_MULTIPLY, VK_ADD, VK_SUBTRACT = 0x6A, 0x6B, 0x6D
VK_F10, VK_F11, VK_F12 = 0x79, 0x7A, 0x7B
MSG_WINDVR = 911

MODIFIER_NAMES = {VK_CONTROL: 'ctrl', VK_SHIFT: 'shift', VK_MENU: 'alt'}
# Keys the dispatcher keeps for itself while an application is driven.
KEY_SECOND_START, KEY_POWER, KEY_SHUTDOWN = 11, 18, 21
ALL_CODES = range(32)


def posted(vk, lparam=0):
    return [('key', vk, lparam, ())]


def posted_char(code, lparam):
    return [('char', code, lparam, ())]


def number(n):
    """A digit as a posted key: its scan code (0x0B for 0, n + 1 for 1 to 9)
    and a repeat count of 1 in the lParam."""
    scan = 0x0B if n == 0 else n + 1
    return posted(0x30 + n, scan << 16 | 1)


def chord(*keys):
    """Modifiers down in order, the last key down and up, the modifiers up
    in reverse order, all typed."""
    events, down = [], []
    for vk in keys:
        if vk in MODIFIER_NAMES:
            down.append(MODIFIER_NAMES[vk])
        events.append(('down', vk, None, tuple(down)))
    for vk in reversed(keys):
        if vk in MODIFIER_NAMES:
            down.remove(MODIFIER_NAMES[vk])
        events.append(('up', vk, None, tuple(down)))
    return events


def message(msg, wparam):
    return [('msg', (msg, wparam), 0, ())]


def table(rows):
    """{code: (action, action with country code 81)} from rows whose second
    action may be left out when it is the same."""
    out = {}
    for codes, *actions in rows:
        for code in codes if isinstance(codes, range) else (codes,):
            first = actions[0](code) if callable(actions[0]) else actions[0]
            out[code] = (first, actions[1] if len(actions) > 1 else first)
    return out


DIGITS = (range(1, 10), number)

POWERVCR = table([
    (0, chord(VK_CONTROL, ord('R')), chord(VK_MENU, VK_CONTROL, VK_F12)),
    DIGITS,
    (10, number(0), chord(VK_MENU, VK_CONTROL, VK_F10)),
    (12, chord(VK_CONTROL, ord('U'))),
    (13, posted(ord('S'))),
    (14, posted(VK_SPACE), chord(VK_CONTROL, ord('S'))),
    (15, posted(ord('T'), 0x00580001)),
    (16, posted(ord('Q'))),
    (19, posted(ord('C'))),
    (20, chord(VK_CONTROL, ord('M'))),
    (22, posted_char(0x0D, 0x001C0001)),
    (23, posted(VK_MULTIPLY), chord(VK_MENU, VK_CONTROL, VK_F11)),
    (24, posted(ord('Z'))),
    (26, posted(ord('N'))),
    (27, posted(VK_ADD)),
    (28, chord(VK_CONTROL, ord('S')), posted(VK_SPACE)),
    # After the capture-dialog switch in the registry.
    (29, posted(ord('R'))),
    (30, posted(ord('P'))),
    (31, posted(VK_SUBTRACT)),
])

HONESTECH = table([
    (0, posted(ord('L'))),
    DIGITS,
    (10, number(0)),
    (12, posted(ord('N'))),
    (13, posted(ord('S'))),
    (14, posted(VK_SPACE), posted(ord('F'))),
    (15, posted(ord('I'))),
    (16, posted(ord('U'))),
    (19, posted(ord('C'))),
    (20, posted(ord('M'))),
    (22, posted(VK_RETURN)),
    (23, posted(VK_MULTIPLY)),
    (24, posted(ord('W'))),
    (26, posted(VK_UP)),
    (27, posted(VK_RIGHT)),
    (28, posted(ord('F')), posted(VK_SPACE)),
    (29, posted(ord('R'))),
    (30, posted(VK_DOWN)),
    (31, posted(VK_LEFT)),
])

WINDVR = table([
    (0, posted(ord('L'), 0x00260001)),
    DIGITS,
    (10, number(0)),
    (12, posted(ord('A'), 0x001E0001)),
    (13, message(MSG_WINDVR, 2)),
    (14, posted(VK_F10, 0x00440001), posted(ord('K'), 0x00250001)),
    (15, chord(VK_CONTROL, ord('I'))),
    (16, posted(ord('M'), 0x00320001)),
    (19, posted(ord('P'), 0x00190001)),
    (20, posted(ord('U'), 0x00160001)),
    (22, message(MSG_WINDVR, 24)),
    (24, posted(ord('Z'), 0x002C0001)),
    (26, posted(VK_PRIOR, 0x01490001)),
    (27, posted(VK_SHIFT, 0x002A0001) + posted(VK_UP, 0x01480001)),
    (28, posted(ord('K'), 0x00250001), posted(VK_F10, 0x00440001)),
    (29, message(MSG_WINDVR, 23)),
    (30, posted(VK_NEXT, 0x01510001)),
    (31, posted(VK_SHIFT, 0x002A0001) + posted(VK_DOWN, 0x01500001)),
])


def _roviver(command):
    return message(MSG_ROVIVER, command)


ROVIVER = table([
    (0, _roviver(4003), _roviver(10012)),
    (range(1, 10), lambda n: _roviver(10000 + n)),
    (10, _roviver(10000), _roviver(10010)),
    # Sent by the dispatcher itself while RoviverUVA is driven.
    (KEY_SECOND_START, _roviver(6000)),
    (12, _roviver(4004)),
    (13, _roviver(1002)),
    (14, _roviver(1003), _roviver(8)),
    (15, _roviver(200)),
    (16, _roviver(403)),
    (17, _roviver(1005)),
    (19, _roviver(1000)),
    (20, _roviver(300)),
    (KEY_SHUTDOWN, _roviver(5001)),
    (22, _roviver(3001)),
    (23, _roviver(10020), _roviver(10011)),
    (24, _roviver(3)),
    (25, _roviver(1004)),
    (26, _roviver(4001)),
    (27, _roviver(401)),
    (28, _roviver(8), _roviver(1003)),
    (29, _roviver(1001)),
    (30, _roviver(4002)),
    (31, _roviver(402)),
])

TABLES = {'powervcr': POWERVCR, 'honestech': HONESTECH, 'windvr': WINDVR, 'roviver': ROVIVER}


def action(role, code, country81):
    """The events of one key for the application of `role`; [] when the key
    does nothing there (no row, or a key the dispatcher drops)."""
    row = TABLES[role].get(code)
    return [] if row is None else list(row[1 if country81 else 0])
