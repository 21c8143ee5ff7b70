"""What the benchmark reads and works out: the presses in the capture-box
simulator's log, their arrival in the stand-in application's log, both on
the performance counter; percentiles; a process's CPU time and resident
memory from /proc; the DLLs an executable imports; the results as markdown.
No Wine here, so it can be tested on its own (test_bench.py).
"""
import collections
import math
import re

# The box log's notes: its clock origin, and a delayed press as it was applied.
BOX_CLOCK_RE = re.compile(r'^# \d+ clock (\d+)$', re.M)
BOX_DUE_RE = re.compile(r'^# \d+ due (\d+): press (\d+) \(applied at (\d+)\)$', re.M)
US_PER_MS = 1000
# Both logs give whole milliseconds, cut down: the middle of the millisecond
# is the best estimate of when something happened, within half of one. A
# press is due at the start of its millisecond, so an answer in the same
# millisecond may seem to come up to half a millisecond early.
HALF_MS_US = US_PER_MS // 2
EARLY_US = US_PER_MS

Press = collections.namedtuple('Press', 'code due_us applied_us')
Latency = collections.namedtuple('Latency', 'code due_us applied_us delivered_us')


def box_clock_us(text):
    """The performance counter (µs) at the box's time 0, from its log."""
    m = BOX_CLOCK_RE.search(text)
    if not m:
        raise ValueError('the box log gives no clock origin')
    return int(m.group(1))


def box_presses(text):
    """[Press] of the delayed presses the box applied, in order, with their
    due and applied times on the performance counter (µs)."""
    origin = box_clock_us(text)
    return [Press(int(m.group(2)), origin + int(m.group(1)) * US_PER_MS,
                  origin + int(m.group(3)) * US_PER_MS + HALF_MS_US) for m in BOX_DUE_RE.finditer(text)]


def deliveries(run, msg, window='main'):
    """[(µs, wParam)] of the messages `msg` a stand-in's run received."""
    if run.origin_us is None:
        raise ValueError('the stand-in\'s log gives no clock origin')
    return [(run.origin_us + m.ms * US_PER_MS + HALF_MS_US, m.wparam) for m in run.messages
            if m.msg == msg and m.window == window]


def match(presses, delivered, wparam_of):
    """Pairs each press, in order, with the first later delivery of its
    message (wParam `wparam_of(code)`) not yet taken. Returns ([Latency],
    [Press] never delivered). A delivery from before the press was due (by
    more than the logs' resolution) is no answer to it."""
    found, lost, at = [], [], 0
    for press in presses:
        want = wparam_of(press.code)
        i = at
        while i < len(delivered) and not (delivered[i][1] == want and delivered[i][0] >= press.due_us - EARLY_US):
            i += 1
        if i == len(delivered):
            lost.append(press)
            continue
        found.append(Latency(press.code, press.due_us, press.applied_us, delivered[i][0]))
        at = i + 1
    return found, lost


def percentile(values, p):
    """The p-th percentile (0..100), interpolated between the two nearest
    ranks, as spreadsheets and numpy do."""
    if not values:
        raise ValueError('no values')
    if not 0 <= p <= 100:
        raise ValueError('percentile %r is not within 0..100' % p)
    ordered = sorted(values)
    rank = (len(ordered) - 1) * p / 100.0
    low = int(math.floor(rank))
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (rank - low)


def summary(values):
    """median, p90, p99 and max of a list."""
    return {'median': percentile(values, 50), 'p90': percentile(values, 90), 'p99': percentile(values, 99),
            'max': max(values)}


def uniform_floor(period_ms):
    """The same figures for a latency spread evenly over one poll period:
    what polling alone costs, with no processing at all."""
    return {'median': period_ms * 0.5, 'p90': period_ms * 0.9, 'p99': period_ms * 0.99, 'max': float(period_ms)}


# --------------------------------------------------------------------------
# /proc

def stat_ticks(text):
    """utime + stime (clock ticks) from /proc/<pid>/stat. The command name
    may hold spaces and parentheses: the fields start after the last ')'."""
    fields = text[text.rindex(')') + 2:].split()
    # Fields 14 and 15 of the file; the first field after the name is the 3rd.
    return int(fields[11]) + int(fields[12])


def schedstat_ms(text):
    """Time on the CPU (ms) from a task's /proc/<pid>/task/<tid>/schedstat,
    whose first field counts nanoseconds: fine enough that a minute of a
    process that runs a few hundred microseconds a second is not decided by
    the 10 ms ticks of /proc/<pid>/stat."""
    return int(text.split()[0]) / 1e6


def callgrind_costs(annotated, own_prefixes):
    """(all instructions, those of functions in files under one of
    `own_prefixes`) from callgrind_annotate's self-cost listing."""
    total, own = None, 0
    for line in annotated.splitlines():
        m = re.match(r'^\s*([\d,]+) +(?:\([\d. ]+%\) +)?(\S.*)$', line)
        if not m:
            continue
        count, where = int(m.group(1).replace(',', '')), m.group(2)
        if where.startswith('PROGRAM TOTALS'):
            total = count
        elif where.startswith(tuple(own_prefixes)):
            own += count
    if total is None:
        raise ValueError('no PROGRAM TOTALS in the callgrind listing')
    return total, own


def status_kb(text, name='VmRSS'):
    """A 'kB' value of /proc/<pid>/status, or None when absent (a process
    that is ending has no memory figures)."""
    m = re.search(r'^%s:\s+(\d+) kB$' % re.escape(name), text, re.M)
    return int(m.group(1)) if m else None


# --------------------------------------------------------------------------
# Executables

def imported_dlls(objdump_text):
    """The DLL names in `objdump -p` output, in the order listed."""
    return re.findall(r'^\s*DLL Name: (\S+)\s*$', objdump_text, re.M)


def dll_names(dlls):
    """The names without their extension, as a table shows them."""
    return [re.sub(r'\.dll$', '', d, flags=re.I) for d in dlls]


# --------------------------------------------------------------------------
# Markdown

def ms(value):
    return '%.1f' % value


def table(header, rows):
    lines = ['| ' + ' | '.join(header) + ' |', '|' + '---|' * len(header)]
    lines += ['| ' + ' | '.join(str(c) for c in row) + ' |' for row in rows]
    return '\n'.join(lines)


def percent(cpu_ms, seconds):
    """CPU milliseconds over a window of `seconds` as a share of one core."""
    return '%.2f %%' % (cpu_ms / (seconds * 10.0))


def ratio(a, b):
    return '%.1f×' % (a / b) if b else 'n/a'
