"""The capture box's log read as it grows, and the agent's traffic with the
box parsed from it: each property access, and each tick of the agent (a key
poll, or an open of the box with the receiver's priming after it).

The parser follows the agent's receiver protocol call by call, so traffic
that strays from it (a poll after the box was reported gone, a failed
access without its clearing call, a status read without the read of
register 8 before it) stops the parse with a ProtocolError naming the call.
Long runs log tens of thousands of calls: `BoxTail.update()` reads only what
was added since its last call and parses only whole ticks.
"""
import collections

# Property identifiers and results, as the box logs them.
REG_SELECT, REG_DATA, I2C_SELECT, I2C_DATA, BUS_ADDRESS = 0x1005, 0x1006, 0x1007, 0x1008, 0x100B
DEVICE_GONE = 0x80070001
GEN_FAILURE = 0x8007001F
INVALID_ARG = 0x80070057
# Registers and the receiver.
REG_PRE_STATUS, REG_STATUS, REG_SNAPSHOT = 8, 9, 12
RECEIVER = 0x60
RECEIVER_IDLE = 0x04
SNAPSHOT_LATCH = 0x20
SNAPSHOT_KEY = 19
NO_CODE = 0xFF
KEY_MASK = 0x1F
ACCESS_LENGTH = 1
# The status word after which the receiver's priming reads the status again.
PRIME_STATUS = 7
# Codes the receiver holds; it drops what comes while it is full.
RECEIVER_CAPACITY = 32

Call = collections.namedtuple('Call', 'ms set id word result')
# kind: 'bus', 'reg' or 'i2c'; target: register index or I2C address; write:
# True or False, None when a failed select left it unknown; value: the word
# written or read (0 for a failed read); ms: the time of its first call.
Access = collections.namedtuple('Access', 'kind target write value result ms')


class ProtocolError(AssertionError):
    """The agent's calls stray from its receiver protocol."""


class Incomplete(Exception):
    """The log ends inside an access or a tick: wait for more."""


def parse_access(calls, i):
    """The access starting at calls[i] and the index after it."""
    def need(j):
        if j >= len(calls):
            raise Incomplete()
        return calls[j]

    def cleared(j, select):
        c = need(j)
        if not (c.set and c.id == select and c.word == 0):
            raise ProtocolError('call %r: a failed access is not followed by clearing its selection' % (c,))
        return j + 1

    c = need(i)
    if c.set and c.id == BUS_ADDRESS:
        return Access('bus', None, True, c.word, c.result, c.ms), i + 1
    if not c.set or c.id not in (REG_SELECT, I2C_SELECT) or c.word == 0 or c.word & 0xFF != ACCESS_LENGTH:
        raise ProtocolError('call %r: not the select of a one-byte access' % (c,))
    kind, data_id = ('reg', REG_DATA) if c.id == REG_SELECT else ('i2c', I2C_DATA)
    target = (c.word >> 8) & 0xFF if kind == 'reg' else (c.word >> 16) & 0xFF
    if c.result != 0:
        return Access(kind, target, None, 0, c.result, c.ms), cleared(i + 1, c.id)
    d = need(i + 1)
    if d.id != data_id or (kind == 'i2c' and d.set):
        raise ProtocolError('call %r: not the data call of the access selected by %r' % (d, c))
    j = i + 2
    if d.result != 0:
        j = cleared(j, c.id)
    return Access(kind, target, d.set, d.word, d.result, c.ms), j


class Cursor:
    def __init__(self, accesses, i):
        self.accesses = accesses
        self.i = i

    def peek(self):
        if self.i >= len(self.accesses):
            raise Incomplete()
        return self.accesses[self.i]

    def take(self, kind, target=None, write=False):
        a = self.peek()
        if a.kind != kind or a.target != target or (a.write is not None and a.write != write):
            raise ProtocolError('access %r where the protocol has a %s of %s %s'
                                % (a, 'write' if write else 'read', kind, target))
        self.i += 1
        return a


# One read of the receiver: its result as the agent sees it, the status word
# (None when its read failed), the code word (None when no code was read)
# and the codes it took out of the receiver.
KeyRead = collections.namedtuple('KeyRead', 'result status code consumed')


def consumed_code(access):
    """[code] when a receiver read took a code out of it, else []."""
    if access.result != 0 or access.value & 0xFF == NO_CODE:
        return []
    return [access.value & 0xFF]


def read_status(cur):
    cur.take('reg', REG_PRE_STATUS)  # its result is not looked at
    a = cur.take('reg', REG_STATUS)
    return a.result, a.value


def read_remote_key(cur):
    result, status = read_status(cur)
    if result != 0:
        # The receiver is read all the same: a box that has gone shows it there too.
        a = cur.take('i2c', RECEIVER)
        return KeyRead(DEVICE_GONE if a.result == DEVICE_GONE else result, None, None, consumed_code(a))
    if status & RECEIVER_IDLE:
        return KeyRead(0, status, None, [])
    a = cur.take('i2c', RECEIVER)
    if a.result != 0:
        return KeyRead(a.result, status, None, [])
    return KeyRead(0, status, a.value, consumed_code(a))


# A tick of the agent. kind 'poll': `gone` when its first read found the box
# gone; `key` the key (0..31) it took, or None; `lost` the codes it took out
# of the receiver without taking a key, each with why ('failure' or
# 'queued': a second code already waited). kind 'open': `lost` the code its
# priming read discarded, if any.
Tick = collections.namedtuple('Tick', 'kind ms end gone key lost failed')


def parse_poll(cur):
    start = cur.i
    first = read_remote_key(cur)
    if first.result == DEVICE_GONE:
        return Tick('poll', None, None, True, None, [(c, 'failure') for c in first.consumed], True), start
    second = None
    if first.result == 0 and not first.status & RECEIVER_IDLE:
        second = read_remote_key(cur)
    snap = cur.take('reg', REG_SNAPSHOT)
    latched = snap.result == 0 and snap.value & SNAPSHOT_LATCH
    if latched:
        cur.take('reg', REG_SNAPSHOT, write=True)
    taken = second is not None and second.result == 0 and second.status & RECEIVER_IDLE
    key, lost = None, []
    if taken:
        if first.code != NO_CODE:
            key = first.code & KEY_MASK
    else:
        codes = first.consumed + (second.consumed if second else [])
        failed = first.result != 0 or (second is not None and second.result != 0)
        lost = [(c, 'failure' if failed else 'queued') for c in codes]
        if latched:
            key = SNAPSHOT_KEY
    return Tick('poll', None, None, False, key, lost, None), start


def parse_open(cur):
    start = cur.i
    cur.take('bus', write=True)
    result, status = read_status(cur)
    lost = []
    if result == 0:
        if status == PRIME_STATUS:
            read_status(cur)
    elif result == GEN_FAILURE:
        read_status(cur)
    else:
        lost = [(c, 'prime') for c in consumed_code(cur.take('i2c', RECEIVER))]
    return Tick('open', None, None, False, None, lost, None), start


def code_times(notes, repeat_ms):
    """When the remote sent each code, by the box's notes of the press and
    hold commands it applied: a press's code then; a hold's first code then
    and one every `repeat_ms` while held, until its time is up or the next
    press or hold lets go of it."""
    keys = []
    for ms, text in notes:
        words = text.split()
        if words[:2] == ['command:', 'press']:
            keys.append((ms, None))
        elif words[:2] == ['command:', 'hold']:
            keys.append((ms, int(words[3])))
    times = []
    for n, (ms, held) in enumerate(keys):
        if held is None:
            times.append(ms)
            continue
        until = keys[n + 1][0] - ms if n + 1 < len(keys) else held
        times += [ms + k for k in range(0, held, repeat_ms) if k <= until]
    return times


def receiver_account(notes, accesses, repeat_ms, capacity):
    """(codes sent, codes the full receiver dropped, reads of a code the
    receiver could not have held): the codes sent in time order against the
    agent's successful reads of one, in a receiver of `capacity`. A code
    due at a call reaches the receiver before the call's read."""
    events = sorted([(ms, 0) for ms in code_times(notes, repeat_ms)] +
                    [(a.ms, 1) for a in accesses if a.kind == 'i2c' and consumed_code(a)])
    waiting = dropped = unexplained = sent = 0
    for _, is_read in events:
        if is_read:
            if waiting:
                waiting -= 1
            else:
                unexplained += 1
        else:
            sent += 1
            if waiting < capacity:
                waiting += 1
            else:
                dropped += 1
    return sent, dropped, unexplained


class BoxTail:
    """The box's log file, read incrementally: `calls`, `notes` [(ms,
    text)], `accesses` and `ticks`, each growing as the file does."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.partial = b''
        self.calls = []
        self.notes = []
        self.accesses = []
        self.ticks = []
        self._call_pos = 0
        self._access_pos = 0

    def update(self):
        """Reads and parses what was added; True when the log grew."""
        try:
            with open(self.path, 'rb') as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return False
        if not data:
            return False
        self.offset += len(data)
        lines = (self.partial + data).split(b'\n')
        # A line still being written is left for the next read.
        self.partial = lines.pop()
        for raw in lines:
            line = raw.decode('ascii', 'replace')
            if not line.strip():
                continue
            if line.startswith('# '):
                ms, _, text = line[2:].partition(' ')
                self.notes.append((int(ms), text))
                continue
            parts = line.split()
            if len(parts) != 5:
                raise ProtocolError('box log line %r is neither a call nor a note' % line)
            self.calls.append(Call(int(parts[0]), parts[1] == 'Set', int(parts[2], 16), int(parts[3], 16),
                                   int(parts[4], 16)))
        self._parse()
        return True

    def _parse(self):
        try:
            while self._call_pos < len(self.calls):
                access, self._call_pos = parse_access(self.calls, self._call_pos)
                self.accesses.append(access)
        except Incomplete:
            pass
        while self._access_pos < len(self.accesses):
            cur = Cursor(self.accesses, self._access_pos)
            try:
                first = cur.peek()
                if first.kind == 'bus':
                    tick, _ = parse_open(cur)
                elif first.kind == 'reg' and first.target == REG_PRE_STATUS:
                    tick, _ = parse_poll(cur)
                else:
                    raise ProtocolError('access %r starts neither a poll nor an open' % (first,))
            except Incomplete:
                return
            used = self.accesses[self._access_pos:cur.i]
            failed = any(a.result != 0 for a in used)
            self.ticks.append(tick._replace(ms=used[0].ms, end=used[-1].ms, failed=failed))
            self._access_pos = cur.i

    def filters_live(self):
        """Filter objects of the box alive by its last note of one (the
        FilterNotes setting), or None before any."""
        for _, text in reversed(self.notes):
            if text.startswith('filter ') and text.endswith(' live'):
                return int(text.split()[-2])
        return None
