#!/usr/bin/env python3
"""The benchmark of tunerpad under Wine, measured side by side in one run:

- key-to-action latency: from the moment the simulated box makes a remote
  key waiting (at a random moment between two of the agent's polls) to the
  moment the stand-in RoviverUVA's window receives the agent's command for
  it, over many presses, against the floor of one 70 ms poll period;
- idle cost over the same window of time: CPU and resident memory of
  tunerpad.exe polling the box, of tunerpad.exe without a box (the device
  retry every 3000 ms) and of idletimer.exe, a bare 70 ms timer, each in a
  prefix of its own, beside a prefix whose program only waits for messages
  (what the session's own processes and wineserver cost anyway);
- size and imported DLLs of the shipped 32-bit programs.

usage: bench.py --run-build DIR --build32 DIR --idlepoll PATH --out DIR [--png PATH]
                [--presses N] [--seconds S] [--seed N]

Writes OUT/results.md (the tables for the README), OUT/latencies.csv and
OUT/latency.png (also to --png). Exit 1 when a press was lost or a program
under measurement ended.
"""
import argparse
import importlib.machinery
import importlib.util
import os
import random
import shutil
import statistics
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # the box's remote is loaded from the source tree
TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, 'tests', 'wine'))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import bench_png  # noqa: E402
import bench_stats as stats  # noqa: E402
import winelib  # noqa: E402
from agent_lib import (  # noqa: E402
    MSG_ROVIVER, REMOTE, RETRY_MS, ROVIVER_CLASS, TICK_MS, run_tool, setup, start_agent, tool)

# The programs of the tree that runs under Wine (the shipped win32 one wherever
# the kernel runs 32-bit code, else win64), by the names the Wine scripts know
# them by.
PROGRAMS = {
    'tunerpad': 'tunerpad.exe',
    'boxsim': 'tools/boxsim.dll',
    'tvstub': 'tools/tvstub/tvstub.exe',
    'tvpost': 'tools/tvstub/tvpost.exe',
    'wineprobe': 'tests/wine/wineprobe.exe',
    'idletimer': 'tools/idletimer/idletimer.exe',
}
# The shipped programs of the win32 tree (setup.exe only where makensis ran),
# and the yardstick for comparison.
SHIPPED = ['tunerpad.exe', 'clearway.exe', 'setup.exe']
YARDSTICK32 = 'tools/idletimer/idletimer.exe'
OBJDUMP32 = 'i686-w64-mingw32-objdump'

# Digits reach RoviverUVA as command 10000 + digit. Each press is another
# digit than the one before, so the agent takes it as a fresh key, never as
# a repeat of the last one, whatever the time between them.
DIGITS = range(1, 10)
ROVIVER_DIGIT_BASE = 10000
# The first presses make RoviverUVA the active application; not counted.
WARMUP_PRESSES = 3
# A press is due this long, plus a part of one poll period, after the box
# reads it (at a poll): its phase against the poll. The phases cover the
# period evenly, in random order, so that the figures compare with the floor
# without the sampling noise of drawing each phase on its own.
DELAY_MS = TICK_MS
PRESS_TIMEOUT_SECONDS = 10.0
WATCH_SECONDS = 0.02
HISTOGRAM_BIN_MS = 5

IDLE_TIMER_CLASS = 'IdleTimer'
WINESERVER_NAMES = ('wineserver', 'wineserver64')
WAIT_WINDOW_MS = 30000
# An idle poll: registers 8 and 9, the receiver, and the snapshot register.
CALLS_PER_POLL = 6
# Start-up work (the icon, the first enumeration) is over by then.
SETTLE_SECONDS = 5.0


def load_remote():
    """tools/boxsim/remote as a module: its send() appends a command line."""
    loader = importlib.machinery.SourceFileLoader('boxsim_remote', REMOTE)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


def read_text(path):
    with open(path, errors='replace') as f:
        return f.read()


class Bench:
    def __init__(self, args):
        self.args = args
        self.out = os.path.abspath(args.out)
        self.programs = {}
        for name, rel in PROGRAMS.items():
            path = os.path.join(args.run_build, rel)
            if not os.path.isfile(path):
                raise SystemExit('%s is missing: build the tree first (scripts/bench.sh does)' % path)
            self.programs[name] = os.path.abspath(path)
        self.arch = winelib.arch_of(self.programs['tunerpad'])
        winelib.log('running the %d-bit build (%s prefix)' % (self.arch.bits, self.arch.name))
        self.display = winelib.display(self.out)
        self.template = winelib.Template(self.arch, os.path.join(args.run_build, 'tests', 'wine', 'prefixes'))
        self.template.ensure(self.display, winelib.boot_timeout(self.arch))
        self.contexts = []
        self.remote = load_remote()
        self.problems = []

    def context(self, name):
        """A fresh copy of the template prefix in OUT/name."""
        work = os.path.join(self.out, name)
        stale = os.path.join(work, 'prefix')
        if os.path.isdir(stale):
            winelib.Prefix(stale, self.arch, self.display, work).stop()
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        prefix = winelib.Prefix(stale, self.arch, self.display, work)
        self.template.copy_to(prefix.path)
        t = winelib.Context(prefix, self.programs, work)
        self.contexts.append(t)
        return t

    def stop(self):
        for t in self.contexts:
            t.prefix.stop()
        self.contexts = []

    # ----------------------------------------------------------------------
    # Key-to-action latency

    def latency(self, presses, rng):
        t = self.context('latency')
        box, stubs = setup(t, ['roviver'])
        roviver = stubs['roviver']
        start_agent(t)
        box.wait_polling()
        t.prefix.start(roviver.program)
        run_tool(t, 'tvpost', '-w', WAIT_WINDOW_MS, 'find', ROVIVER_CLASS)
        roviver.wait_run(1)
        winelib.log('pressing %d keys (%d more to make RoviverUVA active first)' % (presses, WARMUP_PRESSES))

        def commands_received():
            runs = roviver.runs()
            return [m.wparam for m in runs[0].messages if m.msg == MSG_ROVIVER] if runs else []
        phases = [rng.randrange(TICK_MS) for _ in range(WARMUP_PRESSES)]
        counted = [n * TICK_MS // presses for n in range(presses)]
        rng.shuffle(counted)
        previous, lost, started = None, 0, time.monotonic()
        for n, phase in enumerate(phases + counted):
            code = rng.choice([c for c in DIGITS if c != previous])
            previous = code
            seen = len(commands_received())
            self.remote.send(box.commands, ['after', str(DELAY_MS + phase), 'press', str(code)])
            deadline = time.monotonic() + PRESS_TIMEOUT_SECONDS
            while ROVIVER_DIGIT_BASE + code not in commands_received()[seen:]:
                if time.monotonic() > deadline:
                    lost += 1
                    winelib.log('press %d (key %d) did not reach RoviverUVA within %.0f s'
                                % (n + 1, code, PRESS_TIMEOUT_SECONDS))
                    break
                time.sleep(WATCH_SECONDS)
        winelib.log('%d presses in %.0f s' % (WARMUP_PRESSES + presses, time.monotonic() - started))

        box_text = read_text(box.log)
        pressed = stats.box_presses(box_text)
        if len(pressed) != WARMUP_PRESSES + presses:
            self.problems.append('the box applied %d of %d presses' % (len(pressed), WARMUP_PRESSES + presses))
        delivered = stats.deliveries(roviver.runs()[0], MSG_ROVIVER)
        found, missing = stats.match(pressed[WARMUP_PRESSES:], delivered, lambda c: ROVIVER_DIGIT_BASE + c)
        if lost or missing:
            self.problems.append('%d presses never reached RoviverUVA' % max(lost, len(missing)))
        starts = [p[0][0] for p in box.polls()]
        periods = [b - a for a, b in zip(starts, starts[1:])]
        self.stop()
        return found, periods

    # ----------------------------------------------------------------------
    # Idle cost

    def start_timer(self, t, period):
        program = t.prefix.start(tool(t, 'idletimer'), period)
        run_tool(t, 'wineprobe', 'wait-window', IDLE_TIMER_CLASS, WAIT_WINDOW_MS)
        return program

    def idle(self, seconds):
        """{subject: (program CPU ms, wineserver CPU ms, prefix CPU ms, VmRSS kB)}
        over `seconds`, all four prefixes measured over the same window, and
        the agent's polls meanwhile."""
        polling = self.context('idle-tunerpad')
        # The box logs no call: its log's file writes would run in the agent's
        # process and count as the agent's cost.
        box, _ = setup(polling, quiet=True)
        subjects = {'tunerpad': (polling, start_agent(polling), 'tunerpad.exe')}
        winelib.wait_until(lambda: box.call_count() >= 3 * CALLS_PER_POLL, WAIT_WINDOW_MS / 1000.0,
                   'the agent polling the box')
        absent = self.context('idle-no-box')
        subjects['no-box'] = (absent, start_agent(absent), 'tunerpad.exe')
        timer = self.context('idle-timer')
        subjects['timer'] = (timer, self.start_timer(timer, TICK_MS), 'idletimer.exe')
        waiting = self.context('idle-baseline')
        subjects['baseline'] = (waiting, self.start_timer(waiting, 0), 'idletimer.exe')
        time.sleep(SETTLE_SECONDS)

        calls_before = box.call_count()
        before = {name: self.sample(t) for name, (t, _, _) in subjects.items()}
        winelib.log('measuring %d s of idle' % seconds)
        time.sleep(seconds)
        after = {name: self.sample(t) for name, (t, _, _) in subjects.items()}
        polls = (box.call_count() - calls_before) // CALLS_PER_POLL

        results = {}
        for name, (t, program, exe) in subjects.items():
            if not program.running:
                self.problems.append('%s ended during the measurement (exit %s)' % (exe, program.proc.returncode))
            results[name] = self.cost(before[name], after[name], exe)
        self.stop()
        return results, polls

    @staticmethod
    def sample(t):
        """{pid: (argv[0], CPU ms, VmRSS kB)} of the prefix's processes; the
        CPU time of the threads alive now, in nanoseconds where the kernel
        keeps scheduler statistics, else in clock ticks."""
        out = {}
        for pid in t.prefix.leftover_pids():
            try:
                status = read_text('/proc/%d/status' % pid)
                with open('/proc/%d/cmdline' % pid, 'rb') as f:
                    argv0 = f.read().split(b'\0')[0].decode(errors='replace')
                try:
                    tasks = os.listdir('/proc/%d/task' % pid)
                    spent = sum(stats.schedstat_ms(read_text('/proc/%d/task/%s/schedstat' % (pid, tid)))
                                for tid in tasks)
                except OSError:
                    spent = stats.stat_ticks(read_text('/proc/%d/stat' % pid)) * 1000.0 / os.sysconf('SC_CLK_TCK')
            except OSError:
                continue  # ended meanwhile
            out[pid] = (argv0, spent, stats.status_kb(status))
        return out

    @staticmethod
    def cost(before, after, exe):
        program = server = total = 0.0
        rss, found_program, found_server = None, False, False
        for pid, (argv0, ms, kb) in after.items():
            spent = ms - before[pid][1] if pid in before else ms
            total += spent
            name = argv0.replace('\\', '/').rsplit('/', 1)[-1].lower()
            if name == exe:
                program += spent
                rss = kb
                found_program = True
            elif name in WINESERVER_NAMES:
                server += spent
                found_server = True
        if not (found_program and found_server):
            raise RuntimeError('no %s among the prefix\'s processes: %r'
                               % (exe if not found_program else 'wineserver', sorted(after.values())))
        return program, server, total, rss

    # ----------------------------------------------------------------------
    # The shipped programs

    def executables(self):
        rows = []
        for rel in SHIPPED + [YARDSTICK32]:
            path = os.path.join(self.args.build32, rel)
            if not os.path.isfile(path):
                winelib.log('%s is not built: left out' % path)
                continue
            dump = subprocess.run([OBJDUMP32, '-p', path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                  text=True, check=True, timeout=60).stdout
            rows.append((os.path.basename(path), os.path.getsize(path), stats.imported_dlls(dump)))
        return rows


# ----------------------------------------------------------------------
# Instructions of one idle poll, in the host build

IDLE_POLLS = 1000
# The agent's own code; the rest of a poll is the simulated desktop's.
PRODUCT_DIRS = ('agent', 'device', 'apps')


def poll_instructions(idlepoll, out):
    """(instructions per idle poll, of which in the agent's own code), as
    callgrind counts them inside the key poll of the real agent on the
    simulated desktop: repeatable for one binary, whatever the machine does."""
    data = os.path.join(out, 'idlepoll.callgrind')
    run = subprocess.run(['valgrind', '--tool=callgrind', '--callgrind-out-file=' + data,
                          '--toggle-collect=pollRemoteKeys*', idlepoll, str(IDLE_POLLS)],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)
    if run.returncode != 0:
        raise RuntimeError('idlepoll under callgrind gave exit %d: %s' % (run.returncode, run.stdout[-2000:]))
    annotated = subprocess.run(['callgrind_annotate', '--inclusive=no', '--threshold=100', '--auto=no', data],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=True,
                               timeout=120).stdout
    # The listing names files by absolute path or relative to the sources.
    prefixes = [os.path.join(TOP, d) + os.sep for d in PRODUCT_DIRS] + [d + os.sep for d in PRODUCT_DIRS]
    total, own = stats.callgrind_costs(annotated, prefixes)
    return total / IDLE_POLLS, own / IDLE_POLLS


def machine():
    model = 'unknown CPU'
    for line in read_text('/proc/cpuinfo').splitlines():
        if line.startswith('model name'):
            model = line.split(':', 1)[1].strip()
            break
    version = winelib.wine_version()
    if version.startswith('wine-'):
        version = 'Wine ' + version[len('wine-'):]
    return '%d cores (`nproc`), %s, %s' % (os.cpu_count(), model, version)


def load_average():
    return read_text('/proc/loadavg').split()[0]


def report(found, periods, idle, polls, seconds, executables, where, loads, arch, instructions):
    """The markdown for the README's Performance section, and the details
    behind it."""
    latencies = [(l.delivered_us - l.due_us) / 1000.0 for l in found]
    waits = [(l.applied_us - l.due_us) / 1000.0 for l in found]
    work = [(l.delivered_us - l.applied_us) / 1000.0 for l in found]
    got, floor = stats.summary(latencies), stats.uniform_floor(TICK_MS)
    keys = ('median', 'p90', 'p99', 'max')
    lines = [stats.table(['Key-to-action latency, %d presses (ms)' % len(latencies)] + list(keys), [
                 ['tunerpad, %d-bit build under Wine' % arch.bits] + [stats.ms(got[k]) for k in keys],
                 ['floor: one %d ms poll' % TICK_MS] + [stats.ms(floor[k]) for k in keys]]), '',
             'The floor is the poll alone: a key waits for the next poll, so the latency is spread',
             'evenly over 0\u2013%d ms plus the processing (here from the poll to the application\'s' % TICK_MS,
             'window: median %s ms, p99 %s ms).' % (stats.ms(statistics.median(work)),
                                                  stats.ms(stats.percentile(work, 99))), '']

    base = idle['baseline']

    def row(label, name):
        program, server, total, rss = idle[name]
        return [label, '%s (%.1f ms)' % (stats.percent(program, seconds), program),
                '%+d ms' % (server - base[1]), '%+d ms' % (total - base[2]), '%.1f MB' % (rss / 1024.0)]
    agent, timer = idle['tunerpad'], idle['timer']
    lines += [stats.table(['Idle, %d s' % seconds, 'CPU of the program', 'wineserver', 'whole prefix', 'VmRSS'], [
                  row('tunerpad.exe polling every %d ms (%d polls)' % (TICK_MS, polls), 'tunerpad'),
                  row('idletimer.exe, a bare %d ms timer' % TICK_MS, 'timer'),
                  ['ratio tunerpad / idletimer', stats.ratio(agent[0], timer[0]),
                   stats.ratio(agent[1] - base[1], timer[1] - base[1]),
                   stats.ratio(agent[2] - base[2], timer[2] - base[2]), stats.ratio(agent[3], timer[3])],
                  row('tunerpad.exe without a box (retry every %d ms)' % RETRY_MS, 'no-box')]), '',
              'CPU is the time on the processor of every thread, in nanoseconds',
              '(`/proc/<pid>/task/<tid>/schedstat`); each program runs in a prefix of its own, and its',
              'wineserver and whole prefix count as the excess over a prefix whose program only waits',
              'for messages. The simulated box logs no call meanwhile: its logging would run in the',
              'agent\'s process.', '',
              'One idle poll of the agent in the host build, counted by callgrind inside the key poll',
              '(`tools/idlepoll`, %d polls): %s instructions, of which %s in the agent\'s own code'
              % (IDLE_POLLS, '{:,.0f}'.format(instructions[0]), '{:,.0f}'.format(instructions[1])),
              '(`agent/`, `device/`, `apps/`); the rest is the simulated desktop recording each call.', '']
    lines += [stats.table(['Shipped program (win32)', 'size', 'imports'],
                          [[name, '%d KiB' % round(size / 1024.0), ', '.join(stats.dll_names(dlls))]
                           for name, size, dlls in executables]), '',
              'Machine: %s, load average %s at the start and %s at the end.' % (where, loads[0], loads[1]), '']
    details = ('Poll period during the presses: median %s ms, p99 %s ms; waiting for the poll: median %s ms. '
               'The prefix whose program only waits, over the %d s: the program %d ms, wineserver %d ms, '
               'the whole prefix %d ms.'
               % (stats.ms(statistics.median(periods)), stats.ms(stats.percentile(periods, 99)),
                  stats.ms(statistics.median(waits)), seconds, base[0], base[1], base[2]))
    return '\n'.join(lines), details, latencies, got


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--run-build', required=True,
                        help='the build tree whose programs run under Wine (win32, or win64 where 32-bit Wine is emulated)')
    parser.add_argument('--build32', required=True, help='the win32 build tree (the shipped programs)')
    parser.add_argument('--out', required=True, help='folder for the prefixes, logs and results')
    parser.add_argument('--png', help='a second place for the histogram')
    parser.add_argument('--idlepoll', required=True, help='tools/idlepoll of a host build with debug information')
    parser.add_argument('--presses', type=int, default=200)
    parser.add_argument('--seconds', type=int, default=60, help='the idle measurement\'s length')
    parser.add_argument('--seed', type=int, default=2800, help='the presses\' keys and phases')
    args = parser.parse_args()
    if args.presses < 1 or args.seconds < 1:
        parser.error('--presses and --seconds must be at least 1')
    os.makedirs(args.out, exist_ok=True)
    loads = [load_average()]
    instructions = poll_instructions(os.path.abspath(args.idlepoll), os.path.abspath(args.out))
    bench = Bench(args)
    try:
        found, periods = bench.latency(args.presses, random.Random(args.seed))
        idle, polls = bench.idle(args.seconds)
        executables = bench.executables()
    finally:
        bench.stop()
    loads.append(load_average())
    if not found:
        raise SystemExit('no press reached the stand-in: nothing to report')

    text, details, latencies, got = report(found, periods, idle, polls, args.seconds, executables, machine(), loads,
                                                    bench.arch, instructions)
    out = os.path.abspath(args.out)
    with open(os.path.join(out, 'results.md'), 'w') as f:
        f.write(text)
    with open(os.path.join(out, 'latencies.csv'), 'w') as f:
        f.write('key,due_us,applied_us,delivered_us,latency_ms\n')
        f.writelines('%d,%d,%d,%d,%.3f\n' % (l.code, l.due_us, l.applied_us, l.delivered_us, ms)
                     for l, ms in zip(found, latencies))
    png = bench_png.histogram(latencies, TICK_MS, [('median %.0f' % got['median'], got['median']),
                                                   ('p99 %.0f' % got['p99'], got['p99'])],
                              'key-to-action latency, %d presses (ms)' % len(latencies), HISTOGRAM_BIN_MS,
                              shift_ms=statistics.median((l.delivered_us - l.applied_us) / 1000.0 for l in found))
    for path in [os.path.join(out, 'latency.png')] + ([args.png] if args.png else []):
        with open(path, 'wb') as f:
            f.write(png)
    print(text)
    print(details)
    print('written: %s, %s, %s' % (os.path.join(out, 'results.md'), os.path.join(out, 'latencies.csv'),
                                   ', '.join([os.path.join(out, 'latency.png')] + ([args.png] if args.png else []))))
    for problem in bench.problems:
        print('PROBLEM: %s' % problem)
    return 1 if bench.problems else 0


if __name__ == '__main__':
    sys.exit(main())
