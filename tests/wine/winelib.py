"""Runs the real Windows programs under Wine for the end-to-end tests.

One run of the tests shares one X server per test process and one template
Wine prefix per architecture (kept in the build tree, made under a file lock).
Every scenario gets its own copy of the template, so scenarios never see each
other's registry or files and can run in parallel.

Waiting is always for an event with a deadline: `wait_until` polls a
predicate every 100 ms and fails with a message when the time is up.

A scenario script defines functions decorated with @scenario and calls
`main()`; see tunerpad_startup.py.
"""

import argparse
import atexit
import contextlib
import ctypes
import fcntl
import hashlib
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import time
import traceback

POLL_SECONDS = 0.1

# Bump when the way a template is made changes, so cached ones are remade.
TEMPLATE_RECIPE = 3

# A virtual desktop: no window manager is needed to close windows at once, and
# its taskbar holds the notification area that screenshots show.
DESKTOP_SIZE = (1024, 768)
TEMPLATE_USER_SETTINGS = [
    (r'Software\Wine\Explorer', 'Desktop', 'Default'),
    (r'Software\Wine\Explorer\Desktops', 'Default', '%dx%d' % DESKTOP_SIZE),
]

# No Mono or Gecko installer prompts while a prefix boots.
WINEDLLOVERRIDES = 'mscoree,mshtml='


class Timeout(AssertionError):
    """Something awaited did not happen before its deadline."""


def wait_until(predicate, timeout, what):
    """Polls `predicate` until it returns a true value and returns that value;
    raises Timeout naming `what` when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Timeout('%s: not within %.0f s' % (what, timeout))
        time.sleep(POLL_SECONDS)


def _die_with_parent():
    """Runs in a child before exec: the kernel ends it when the test process
    dies, even by SIGKILL from a ctest timeout, so nothing is left running.
    It gets a process group of its own: a Ctrl+C at the terminal reaches the
    Python process alone, which then closes the programs in order."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)
    os.setpgrp()


def log(message):
    print('[%s] %s' % (time.strftime('%H:%M:%S'), message), flush=True)


# --------------------------------------------------------------------------
# Architectures

IMAGE_FILE_MACHINE_I386 = 0x014c
IMAGE_FILE_MACHINE_AMD64 = 0x8664


def pe_machine(path):
    """The Machine field of a PE file's COFF header."""
    with open(path, 'rb') as f:
        head = f.read(4096)
    if head[:2] != b'MZ' or len(head) < 0x40:
        raise ValueError('%s: not an MZ executable' % path)
    pe = struct.unpack_from('<I', head, 0x3c)[0]
    if pe + 6 > len(head) or head[pe:pe + 4] != b'PE\0\0':
        raise ValueError('%s: no PE header' % path)
    return struct.unpack_from('<H', head, pe + 4)[0]


class Arch:
    """How a program of one word size runs: the prefix kind and the loader.
    `wow64`: a 32-bit program in a 64-bit prefix, as on 64-bit Windows; its
    HKLM\\SOFTWARE is HKLM\\SOFTWARE\\Wow6432Node."""

    def __init__(self, name, winearch, loader, bits, wow64=False):
        self.name = name
        self.winearch = winearch
        self.loader = loader
        self.bits = bits
        self.wow64 = wow64

    def __repr__(self):
        return self.name


# /usr/bin/wine prefers the 32-bit loader, so 64-bit prefixes name theirs.
WIN32 = Arch('win32', 'win32', '/usr/bin/wine', 32)
WIN64 = Arch('win64', 'win64', '/usr/lib/wine/wine64', 64)
# wine64 hands a 32-bit program on to the 32-bit loader; Wine's own tools
# (reg) and the session's services stay 64-bit.
WOW64 = Arch('wow64', 'win64', '/usr/lib/wine/wine64', 32, wow64=True)
WINESERVER = '/usr/lib/wine/wineserver'

# Where a 32-bit program runs: "win32" (a 32-bit prefix) or "wow64". By
# default a 32-bit prefix where the kernel runs 32-bit code; where it only runs
# emulated, WoW64, so that only the program itself is emulated and not every
# service of the Wine session too (a 32-bit prefix then takes over 20 minutes
# to boot, and its emulated explorer.exe can crash).
PREFIX32_VARIABLE = 'WINE_TEST_PREFIX32'


def arch_of(path):
    machine = pe_machine(path)
    if machine == IMAGE_FILE_MACHINE_I386:
        kind = os.environ.get(PREFIX32_VARIABLE) or ('wow64' if i386_emulated() else 'win32')
        if kind not in ('win32', 'wow64'):
            raise ValueError('%s must be win32 or wow64, not %r' % (PREFIX32_VARIABLE, kind))
        return WOW64 if kind == 'wow64' else WIN32
    if machine == IMAGE_FILE_MACHINE_AMD64:
        return WIN64
    raise ValueError('%s: machine 0x%04x is neither x86 nor x86-64' % (path, machine))


def i386_emulated():
    """True when 32-bit x86 programs go to qemu-i386 (scripts/enable-i386.sh
    registers it only where the kernel cannot run them)."""
    try:
        with open('/proc/sys/fs/binfmt_misc/qemu-i386') as f:
            return f.readline().strip() == 'enabled'
    except OSError:
        return False


def can_run_i386():
    """True when 32-bit x86 Linux programs run here (natively or emulated)."""
    try:
        return subprocess.run(['/lib/ld-linux.so.2', '--version'], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    except OSError:
        return False


def without_i386_command():
    """A command prefix that runs its command where 32-bit x86 programs cannot
    start (a user namespace with its own, empty binfmt_misc), or None.

    A 64-bit prefix's first boot also sets up its 32-bit half with 32-bit
    processes; where those run only through an emulator that takes minutes and
    nothing 64-bit needs it."""
    script = ('mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && '
              'if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then exit 3; fi; exec "$@"')
    command = ['unshare', '--user', '--map-root-user', '--mount', 'sh', '-c', script, 'sh']
    try:
        probe = subprocess.run(command + ['true'], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    return command if probe.returncode == 0 else None


def wine_version():
    # Both loaders come from one Wine build; ask the one that starts quickly.
    loader = WIN64.loader if os.path.exists(WIN64.loader) else WIN32.loader
    out = subprocess.run([loader, '--version'], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         text=True, timeout=600)
    return out.stdout.strip()


# --------------------------------------------------------------------------
# X server

class Xvfb:
    """An X server on a display number it picks itself (-displayfd)."""

    def __init__(self, log_path, size=DESKTOP_SIZE, timeout=30, detached=False):
        """`detached`: the server outlives this process (ended by its pid)."""
        read_fd, write_fd = os.pipe()
        self._log = open(log_path, 'ab')
        self.proc = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_fd), '-screen', '0', '%dx%dx24' % size, '-nolisten', 'tcp'],
            pass_fds=[write_fd], stdout=self._log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
            **({'start_new_session': True} if detached else {'preexec_fn': _die_with_parent}))
        os.close(write_fd)
        if not detached:
            atexit.register(self.stop)
        number = b''
        deadline = time.monotonic() + timeout
        try:
            # Xvfb writes the number once it accepts connections.
            while not number.endswith(b'\n'):
                left = deadline - time.monotonic()
                if left <= 0 or self.proc.poll() is not None:
                    raise Timeout('Xvfb did not start (see %s)' % log_path)
                ready, _, _ = select.select([read_fd], [], [], left)
                if ready:
                    chunk = os.read(read_fd, 16)
                    if not chunk:
                        raise Timeout('Xvfb closed its display pipe (see %s)' % log_path)
                    number += chunk
        finally:
            os.close(read_fd)
        self.display = ':' + number.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._log.close()


# --------------------------------------------------------------------------
# Registry files (system.reg, user.reg)

def _unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == '\\' and i + 1 < len(text):
            n = text[i + 1]
            if n == 'x':
                m = re.match(r'[0-9a-fA-F]{1,4}', text[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append({'n': '\n', 'r': '\r', 't': '\t', '0': '\0'}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def _escape(text):
    out = []
    for c in text:
        if c in '\\"':
            out.append('\\' + c)
        elif c == '\n':
            out.append('\\n')
        elif ord(c) < 32 or ord(c) > 126:
            out.append('\\x%04x' % ord(c))
        else:
            out.append(c)
    return ''.join(out)


def _split_quoted(text):
    """'"name"=rest' -> (name, rest); handles escaped quotes."""
    m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', text, re.S)
    if not m:
        return None
    return _unescape(m.group(1)), m.group(2)


REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11
REG_TYPE_NAMES = {REG_SZ: 'REG_SZ', REG_EXPAND_SZ: 'REG_EXPAND_SZ', REG_BINARY: 'REG_BINARY',
                  REG_DWORD: 'REG_DWORD', REG_MULTI_SZ: 'REG_MULTI_SZ', REG_QWORD: 'REG_QWORD'}


def parse_reg_data(data):
    """A value's text in a Wine registry file -> (type, Python value).
    REG_DWORD and REG_QWORD give int, strings give str, the rest bytes."""
    if data.startswith('"'):
        return REG_SZ, _unescape(data[1:data.rindex('"')])
    if data.startswith('str(2):"'):
        return REG_EXPAND_SZ, _unescape(data[8:data.rindex('"')])
    if data.startswith('dword:'):
        return REG_DWORD, int(data[6:], 16)
    m = re.match(r'hex(?:\(([0-9a-fA-F]+)\))?:(.*)$', data, re.S)
    if m:
        kind = int(m.group(1), 16) if m.group(1) else REG_BINARY
        raw = bytes(int(b, 16) for b in re.split(r'[,\s\\]+', m.group(2)) if b)
        if kind == REG_QWORD and len(raw) == 8:
            return kind, struct.unpack('<Q', raw)[0]
        if kind == REG_MULTI_SZ:
            return kind, [s for s in raw.decode('utf-16-le').split('\0') if s]
        return kind, raw
    raise ValueError('unknown registry data: %r' % data[:40])


def format_reg_data(value):
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise TypeError('registry values here are int (REG_DWORD) or str (REG_SZ)')
    if isinstance(value, int):
        if not 0 <= value <= 0xffffffff:
            raise ValueError('REG_DWORD out of range: %d' % value)
        return 'dword:%08x' % value
    return '"%s"' % _escape(value)


class RegFile:
    """A Wine registry file, read and edited while no wineserver uses it.

    Key paths are given relative to the file's root, with single backslashes,
    and compared without regard to case, as Windows does."""

    HEADER_RE = re.compile(r'^\[((?:[^\]\\]|\\.)*)\](.*)$')

    def __init__(self, path):
        self.path = path
        with open(path, encoding='utf-8', errors='surrogateescape') as f:
            self._lines = f.read().split('\n')

    @staticmethod
    def _norm(key):
        return key.strip('\\').lower()

    def _sections(self):
        """Yields (key, header line index, end index) for every key."""
        starts = []
        for i, line in enumerate(self._lines):
            m = self.HEADER_RE.match(line)
            if m:
                starts.append((i, _unescape(m.group(1))))
        for n, (i, key) in enumerate(starts):
            end = starts[n + 1][0] if n + 1 < len(starts) else len(self._lines)
            yield key, i, end

    def _find(self, key):
        want = self._norm(key)
        for k, start, end in self._sections():
            if self._norm(k) == want:
                return start, end
        return None

    def _values(self, start, end):
        """Yields (name, data text, first line, last line) in a section;
        '@' names the default value; continued lines are joined."""
        i = start + 1
        while i < end:
            line, first = self._lines[i], i
            while line.endswith('\\') and i + 1 < end:
                i += 1
                line = line[:-1] + self._lines[i].lstrip()
            if line.startswith('@='):
                yield '@', line[2:], first, i
            elif line.startswith('"'):
                split = _split_quoted(line)
                if split:
                    yield split[0], split[1], first, i
            i += 1

    def values(self, key):
        """{name: value} of a key, or None when the key is absent."""
        found = self._find(key)
        if not found:
            return None
        return {name: parse_reg_data(data)[1] for name, data, _, _ in self._values(*found)}

    def get(self, key, name):
        """(type name, value) of a value, e.g. ('REG_DWORD', 3); None when absent."""
        found = self._find(key)
        if found:
            for n, data, _, _ in self._values(*found):
                if n.lower() == name.lower():
                    kind, value = parse_reg_data(data)
                    return REG_TYPE_NAMES.get(kind, 'REG_0x%x' % kind), value
        return None

    def set(self, key, name, value):
        """Sets a REG_DWORD (int) or REG_SZ (str) value, making the key if needed."""
        line = '%s=%s' % ('@' if name == '@' else '"%s"' % _escape(name), format_reg_data(value))
        found = self._find(key)
        if not found:
            escaped = key.strip('\\').replace('\\', '\\\\')
            self._lines[len(self._lines):] = ['[%s] %d' % (escaped, int(time.time())), line, '']
            return
        for n, _, first, last in self._values(*found):
            if n.lower() == name.lower():
                self._lines[first:last + 1] = [line]
                return
        # After the header and its #time line.
        at = found[0] + 1
        while at < found[1] and self._lines[at].startswith('#'):
            at += 1
        self._lines.insert(at, line)

    def save(self):
        tmp = self.path + '.new'
        with open(tmp, 'w', encoding='utf-8', errors='surrogateescape') as f:
            f.write('\n'.join(self._lines))
        os.replace(tmp, self.path)


HIVE_FILES = {'HKLM': 'system.reg', 'HKEY_LOCAL_MACHINE': 'system.reg',
              'HKCU': 'user.reg', 'HKEY_CURRENT_USER': 'user.reg'}


def save_registry(prefix_path, values):
    """Writes [(key, name, value)] straight into a prefix's registry files,
    each file read and written once. No Wine process may run yet."""
    files = {}
    for key, name, value in values:
        filename, rest = split_hive(key)
        if filename not in files:
            files[filename] = RegFile(os.path.join(prefix_path, filename))
        files[filename].set(rest, name, value)
    for reg in files.values():
        reg.save()


def split_hive(key):
    """'HKLM\\SOFTWARE\\X' -> ('system.reg', 'SOFTWARE\\X')."""
    root, _, rest = key.partition('\\')
    if root.upper() not in HIVE_FILES:
        raise ValueError('registry key must start with HKLM or HKCU: %s' % key)
    return HIVE_FILES[root.upper()], rest


def parse_reg_query(text, name):
    """(type name, value) of `name` in `reg query KEY /v NAME` output, or None."""
    for line in text.splitlines():
        if not line.startswith('    '):
            continue
        parts = line.strip().split('    ')
        if len(parts) < 2 or parts[0].lower() != name.lower():
            continue
        kind = parts[1]
        data = parts[2] if len(parts) > 2 else ''
        if kind in ('REG_DWORD', 'REG_QWORD'):
            return kind, int(data, 16)
        if kind == 'REG_BINARY':
            return kind, bytes.fromhex(data)
        if kind == 'REG_MULTI_SZ':
            return kind, [s for s in data.split('\\0') if s]
        return kind, data
    return None


# --------------------------------------------------------------------------
# Prefixes

@contextlib.contextmanager
def file_lock(path, exclusive):
    with open(path, 'a') as f:
        fcntl.flock(f, fcntl.LOCK_EX if exclusive else fcntl.LOCK_SH)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


# Wine's own DLLs and programs: many, large, and never written by the
# programs under test, so copies of a prefix share them (hard links).
SHARED_DIRS = ('drive_c/windows/system32', 'drive_c/windows/syswow64', 'drive_c/windows/winsxs')


def copy_prefix(src, dst):
    def copy(s, d):
        rel = os.path.relpath(s, src)
        if any(rel.startswith(p + os.sep) for p in SHARED_DIRS) and not rel.endswith('.ini'):
            os.link(s, d)
        else:
            shutil.copy2(s, d)
    shutil.copytree(src, dst, symlinks=True, copy_function=copy)


class Template:
    """The booted, never-run template prefix of one architecture."""

    def __init__(self, arch, cache_dir):
        self.arch = arch
        self.path = os.path.join(cache_dir, 'template-' + arch.name)
        self._lock = self.path + '.lock'
        self._stamp = os.path.join(self.path, 'template.stamp')
        os.makedirs(cache_dir, exist_ok=True)

    def _key(self):
        text = '%s\n%s\n%d\n%r\n' % (self.arch.name, wine_version(), TEMPLATE_RECIPE,
                                    TEMPLATE_USER_SETTINGS)
        return hashlib.sha256(text.encode()).hexdigest()

    def _current(self, key):
        try:
            with open(self._stamp) as f:
                return f.read().strip() == key
        except OSError:
            return False

    def ensure(self, display, timeout):
        """Makes the template unless a current one is there. Returns the
        seconds spent making it (0 when reused)."""
        key = self._key()
        with file_lock(self._lock, exclusive=True):
            if self._current(key):
                return 0.0
            log('making the %s template prefix in %s' % (self.arch, self.path))
            started = time.monotonic()
            shutil.rmtree(self.path, ignore_errors=True)
            self._boot(display, timeout)
            user = RegFile(os.path.join(self.path, 'user.reg'))
            for key_path, name, value in TEMPLATE_USER_SETTINGS:
                user.set(key_path, name, value)
            user.save()
            with open(self._stamp, 'w') as f:
                f.write(key + '\n')
            seconds = time.monotonic() - started
            log('made the %s template prefix in %.1f s' % (self.arch, seconds))
            return seconds

    def _boot(self, display, timeout):
        if self.arch.bits == 32 and not can_run_i386():
            raise RuntimeError('32-bit x86 programs do not run here: run scripts/enable-i386.sh as root')
        env = wine_env(self.path, self.arch, display)
        command = [self.arch.loader, 'wineboot', '-i']
        if self.arch is WIN64:
            sandbox = without_i386_command()
            if sandbox:
                command = sandbox + command
            else:
                log('no user namespace for the boot: the 32-bit half is set up too (slow where emulated)')
        boot_log = self.path + '.boot.log'
        deadline = time.monotonic() + timeout
        with open(boot_log, 'wb') as out:
            proc = subprocess.Popen(command, env=env, stdout=out, stderr=subprocess.STDOUT,
                                    start_new_session=True)
            try:
                proc.wait(timeout)
                # The prefix update runs in a process of its own; the server
                # ends, saving the registry, when that and the services are done.
                subprocess.run([WINESERVER, '-w'], env=env, timeout=max(1, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                _kill_group(proc)
                subprocess.run([WINESERVER, '-k'], env=env, timeout=60)
                raise Timeout('wineboot of the %s template: not within %d s (see %s)' %
                              (self.arch, timeout, boot_log))
        with open(boot_log, 'rb') as f:
            updated = b'has been updated' in f.read()
        complete = updated and all(os.path.exists(os.path.join(self.path, p)) for p in
                                   ('system.reg', 'user.reg', 'drive_c/windows/system32/kernel32.dll'))
        if not complete:
            raise RuntimeError('wineboot of the %s template failed (exit %d), see %s' %
                               (self.arch, proc.returncode, boot_log))
        if proc.returncode != 0:
            # Wine's first process waits 5 minutes for the update, then gives
            # up; emulated, the update can take longer yet still finish.
            log('wineboot gave exit %d, but the prefix update finished' % proc.returncode)

    def copy_to(self, dst):
        with file_lock(self._lock, exclusive=False):
            if not os.path.exists(self._stamp):
                raise RuntimeError('no template prefix at %s' % self.path)
            copy_prefix(self.path, dst)
        os.unlink(os.path.join(dst, 'template.stamp'))


def wine_env(prefix, arch, display):
    env = dict(os.environ)
    env.update({
        'WINEPREFIX': prefix,
        'WINEARCH': arch.winearch,
        'WINEDEBUG': os.environ.get('WINE_TEST_DEBUG', '-all'),
        'WINEDLLOVERRIDES': WINEDLLOVERRIDES,
        'DISPLAY': display,
    })
    env.pop('WINELOADER', None)
    env.pop('WINESERVER', None)
    return env


def _kill_group(proc):
    with contextlib.suppress(ProcessLookupError):
        os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()


class Program:
    """A Windows program started in the background."""

    def __init__(self, prefix, name, proc, log_path):
        self.prefix = prefix
        self.name = name
        self.proc = proc
        self.log_path = log_path
        self.started = time.monotonic()

    @property
    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout):
        """Its exit code; Timeout when it is still running after `timeout` s."""
        wait_until(lambda: not self.running, timeout, '%s to exit' % self.name)
        return self.proc.returncode

    def output(self):
        with open(self.log_path, errors='replace') as f:
            return f.read()


class Result:
    def __init__(self, code, output, seconds):
        self.code = code
        self.output = output
        self.seconds = seconds

    def __repr__(self):
        return 'exit %s after %.1f s' % (self.code, self.seconds)


class Prefix:
    """A scenario's own copy of the template, with its own wineserver."""

    def __init__(self, path, arch, display, log_dir):
        self.path = path
        self.arch = arch
        self.display = display
        self.log_dir = log_dir
        self.env = wine_env(path, arch, display)
        self._programs = []
        self._count = 0
        # A server starts with the first program and ends with stop().
        self._server_may_run = False

    # -- files --------------------------------------------------------------

    def unix_path(self, windows_path):
        """'C:\\Program Files\\x' -> the file inside the prefix."""
        drive, _, rest = windows_path.partition(':')
        if drive.upper() != 'C':
            raise ValueError('only drive C: is in the prefix: %s' % windows_path)
        return os.path.join(self.path, 'drive_c', *[p for p in re.split(r'[\\/]', rest) if p])

    def install(self, src, windows_dir):
        """Copies a program into the prefix; returns its Windows path."""
        dst_dir = self.unix_path(windows_dir)
        os.makedirs(dst_dir, exist_ok=True)
        shutil.copy2(src, dst_dir)
        return windows_dir.rstrip('\\') + '\\' + os.path.basename(src)

    # -- programs -----------------------------------------------------------

    def _command(self, program, args):
        return [self.arch.loader, program] + [str(a) for a in args]

    def _cwd(self, program):
        if re.match(r'^[A-Za-z]:', program):
            return os.path.dirname(self.unix_path(program))
        return os.path.dirname(os.path.abspath(program)) if os.sep in program else self.path

    def _log_path(self, program):
        self._count += 1
        base = re.split(r'[\\/]', program)[-1]
        return os.path.join(self.log_dir, '%02d-%s.log' % (self._count, base))

    def start(self, program, *args):
        """Starts a program (Windows path, Unix path or a Wine program name)."""
        log_path = self._log_path(program)
        self._server_may_run = True
        with open(log_path, 'wb') as out:
            proc = subprocess.Popen(self._command(program, args), env=self.env, cwd=self._cwd(program),
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                    preexec_fn=_die_with_parent)
        p = Program(self, program, proc, log_path)
        self._programs.append(p)
        log('started %s' % ' '.join([program] + [str(a) for a in args]))
        return p

    def run(self, program, *args, timeout):
        """Runs a program to its end; Timeout if it is not done in `timeout` s."""
        started = time.monotonic()
        p = self.start(program, *args)
        try:
            code = p.wait(timeout)
        except Timeout:
            p.proc.kill()
            p.proc.wait()
            raise
        result = Result(code, p.output(), time.monotonic() - started)
        log('%s: %r' % (program, result))
        return result

    # -- registry -----------------------------------------------------------

    def _view(self, view):
        if view is None and self.arch.wow64:
            view = 32  # the program's own view
        return ['/reg:%d' % view] if view else []

    def reg_query(self, key, name, view=None, timeout=120):
        """(type name, value) through `reg query`, the registry as the running
        server has it, e.g. ('REG_DWORD', 3); None when absent."""
        r = self.run('reg', 'query', key, '/v', name, *self._view(view), timeout=timeout)
        if r.code != 0:
            return None
        return parse_reg_query(r.output, name)

    def reg_add(self, key, name, value, view=None, timeout=120):
        """Sets a REG_DWORD (int) or REG_SZ (str) value through `reg add`."""
        kind = 'REG_DWORD' if isinstance(value, int) else 'REG_SZ'
        r = self.run('reg', 'add', key, '/v', name, '/t', kind, '/d', str(value), '/f',
                     *self._view(view), timeout=timeout)
        if r.code != 0:
            raise RuntimeError('reg add %s /v %s failed: %s' % (key, name, r.output))

    def saved_registry(self, key):
        """(RegFile, key relative to it) of the registry file holding `key`.
        The file is what the wineserver last saved: at its exit, and every
        30 s or so while it runs. Edit it only while no server runs."""
        filename, rest = split_hive(key)
        head, sep, tail = rest.partition('\\')
        if self.arch.wow64 and filename == 'system.reg' and head.lower() == 'software':
            rest = head + '\\Wow6432Node' + sep + tail
        return RegFile(os.path.join(self.path, filename)), rest

    def saved_value(self, key, name):
        """(type name, value) in the saved registry file; None when absent."""
        reg, rest = self.saved_registry(key)
        return reg.get(rest, name)

    def set_saved_value(self, key, name, value):
        """Writes a value straight into the registry file; no Wine process
        starts, so the server must not be running."""
        if self._server_may_run:
            raise RuntimeError('the wineserver of %s may run; stop() first or use reg_add' % self.path)
        reg, rest = self.saved_registry(key)
        reg.set(rest, name, value)
        reg.save()

    # -- server and screen --------------------------------------------------

    def stop(self, timeout=60):
        """Ends every process of the prefix and its wineserver, which saves
        the registry files as it goes."""
        subprocess.run([WINESERVER, '-k'], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout)
        subprocess.run([WINESERVER, '-w'], env=self.env, timeout=timeout)
        # An emulated process still starting has not met the server yet, so
        # the server could not end it.
        for pid in self.leftover_pids():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
        for p in self._programs:
            try:
                p.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                p.proc.kill()
                p.proc.wait()
        self._server_may_run = False

    def leftover_pids(self):
        """Processes started for this prefix (by its WINEPREFIX)."""
        mark = b'WINEPREFIX=' + os.fsencode(self.path)
        pids = []
        for entry in os.listdir('/proc'):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open('/proc/%s/environ' % entry, 'rb') as f:
                    if mark in f.read().split(b'\0'):
                        pids.append(int(entry))
            except OSError:
                continue
        return pids

    def screenshot(self, path):
        subprocess.run(['import', '-window', 'root', '-display', self.display, path], check=True,
                       timeout=60)
        return path


# --------------------------------------------------------------------------
# Scenarios

SCENARIOS = {}


def scenario(func):
    """Registers a scenario: a function taking a Context."""
    SCENARIOS[func.__name__] = func
    return func


class Context:
    """What a scenario works with: its prefix, the programs under test (by
    name, as given with --program) and a folder for its logs and pictures."""

    def __init__(self, prefix, programs, work_dir):
        self.prefix = prefix
        self.programs = programs
        self.work_dir = work_dir
        self.emulated = emulated(prefix.arch)

    def seconds(self, native):
        """A deadline: `native` seconds, stretched where Wine runs emulated."""
        return native * 20 if self.emulated else native

    def path(self, name):
        """A file in the scenario's folder (logs, screenshots)."""
        return os.path.join(self.work_dir, name)

    @property
    def arch(self):
        return self.prefix.arch

    def program(self, name):
        if name not in self.programs:
            raise KeyError('program %s was not given (--program %s=PATH)' % (name, name))
        return self.programs[name]


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def _parse_programs(items):
    programs = {}
    for item in items:
        name, sep, path = item.partition('=')
        if not sep or not name or not path:
            raise SystemExit('--program wants NAME=PATH, got %r' % item)
        if not os.path.isfile(path):
            raise SystemExit('%s: no such file (build it first)' % path)
        programs[name] = os.path.abspath(path)
    return programs


def _arch_of_programs(programs):
    arches = {p: arch_of(p) for p in programs.values()}
    kinds = set(a.name for a in arches.values())
    if len(kinds) != 1:
        raise SystemExit('programs of different architectures: %s' % arches)
    return next(iter(arches.values()))


def emulated(arch):
    """True when the architecture's programs run through an emulator, where
    each process start takes a minute or more."""
    return arch.bits == 32 and i386_emulated()


def boot_timeout(arch):
    return 1500 if emulated(arch) else 600


_xvfb = None


def display(work_dir):
    global _xvfb
    if _xvfb is None:
        _xvfb = Xvfb(os.path.join(work_dir, 'xvfb.log'))
    return _xvfb.display


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--cache', required=True, help='folder of the template prefixes')
    parser.add_argument('--work', required=True, help='folder for the scenarios\' prefixes and logs')
    parser.add_argument('--program', action='append', default=[], help='NAME=PATH of a program under test')
    parser.add_argument('--template-only', action='store_true', help='only make the template prefix')
    parser.add_argument('--keep', action='store_true', help='keep the prefixes of passed scenarios')
    parser.add_argument('scenarios', nargs='*', help='scenarios to run (default: all)')
    args = parser.parse_args(argv)

    programs = _parse_programs(args.program)
    if not programs:
        raise SystemExit('give at least one --program NAME=PATH')
    arch = _arch_of_programs(programs)
    os.makedirs(args.work, exist_ok=True)

    template = Template(arch, args.cache)
    started = time.monotonic()
    made = template.ensure(display(args.work), boot_timeout(arch))
    log('%s template %s (%.1f s)' % (arch, 'made' if made else 'reused', time.monotonic() - started))
    if args.template_only:
        return 0

    names = args.scenarios or sorted(SCENARIOS)
    unknown = [n for n in names if n not in SCENARIOS]
    if unknown:
        raise SystemExit('unknown scenarios: %s (known: %s)' % (unknown, sorted(SCENARIOS)))

    # A timeout's SIGTERM still ends the scenario's Wine processes (finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(128 + signal.SIGTERM))

    failed = []
    for name in names:
        work_dir = os.path.join(args.work, '%s-%s' % (name, arch))
        stale = os.path.join(work_dir, 'prefix')
        if os.path.isdir(stale):
            # Left by an interrupted run: end its server before the files go.
            Prefix(stale, arch, display(args.work), work_dir).stop()
        shutil.rmtree(work_dir, ignore_errors=True)
        os.makedirs(work_dir)
        prefix = Prefix(os.path.join(work_dir, 'prefix'), arch, display(args.work), work_dir)
        started = time.monotonic()
        template.copy_to(prefix.path)
        log('%s (%s): start' % (name, arch))
        ok = False
        try:
            SCENARIOS[name](Context(prefix, programs, work_dir))
            ok = True
        except Exception:
            traceback.print_exc()
            for log_file in sorted(os.listdir(work_dir)):
                if log_file.endswith('.log'):
                    with open(os.path.join(work_dir, log_file), errors='replace') as f:
                        text = f.read().strip()
                    if text:
                        print('--- %s ---\n%s' % (log_file, text[-3000:]))
        finally:
            prefix.stop()
        seconds = time.monotonic() - started
        log('%s (%s): %s in %.1f s' % (name, arch, 'passed' if ok else 'FAILED', seconds))
        if ok and not args.keep:
            shutil.rmtree(prefix.path, ignore_errors=True)
        if not ok:
            failed.append(name)
            log('kept %s for a look' % work_dir)
    log('%d passed, %d failed' % (len(names) - len(failed), len(failed)))
    return 1 if failed else 0
