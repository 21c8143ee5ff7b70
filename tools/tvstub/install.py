#!/usr/bin/env python3
"""Installs tvstub into a Wine prefix as one or more of the TV applications.

    install.py [--wine LOADER] [--log WINPATH] [--title TEXT]
               PREFIX TVSTUB_EXE ROLE DIR [ROLE DIR ...]

For each ROLE (powervcr, honestech, windvr, roviver, windvd, winrip) and
Windows directory DIR (such as "C:\\Program Files\\CyberLink\\PowerVCR II"):
copies TVSTUB_EXE into DIR under the application's program name, writes
DIR\\tvstub.ini (the role and its log, by default DIR\\tvstub.log) and sets
the application's install path in HKLM to DIR. All registry values go through
one `regedit /S` run, then each is read back with `reg query`. In a 64-bit prefix they are written to both registry
views, so 32-bit and 64-bit builds of the agent find them.

honestechTV and RoviverUVA share one program file and one registry value:
installing one replaces the other, and tvstub.ini tells the stand-in which it
is. --log and --title apply when one role is installed.

Tests call install() with their own way of running a Wine program.
"""
import argparse
import collections
import os
import re
import shutil
import subprocess
import sys

Role = collections.namedtuple('Role', 'key value exe')

# What the agent reads: the install-path value under HKLM and the program name.
ROLES = {
    'powervcr': Role(r'Software\Cyberlink\PowerVCR II', 'InstallPath', 'PVCR.EXE'),
    'honestech': Role(r'Software\Honestech\TV Plus\TVR', 'AppPath', 'honestechTV.EXE'),
    'windvr': Role(r'Software\InterVideo\WinDVR', 'PATH', 'WINDVR.EXE'),
    'roviver': Role(r'Software\Honestech\TV Plus\TVR', 'AppPath', 'honestechTV.EXE'),
    'windvd': Role(r'Software\InterVideo\WinDVD4', 'PATH', 'WINDVD.EXE'),
    'winrip': Role(r'Software\InterVideo\WinRip', 'PATH', 'WINRIP.EXE'),
}

INI_NAME = 'tvstub.ini'
INI_SECTION = 'tvstub'
DEFAULT_LOG_NAME = 'tvstub.log'
# Where the generated .reg file goes, inside the prefix, for regedit to read.
REG_FILE_DIR = r'C:\windows\temp'
WOW64_NODE = 'Wow6432Node'
LOADERS = {64: '/usr/lib/wine/wine64', 32: '/usr/bin/wine'}
WINE_PROGRAM_TIMEOUT = 120
# No Mono or Gecko installer prompts when the prefix starts.
WINEDLLOVERRIDES = 'mscoree,mshtml='

Installed = collections.namedtuple('Installed', 'role program ini log')


def is_windows_path(path):
    return re.match(r'^[A-Za-z]:\\', path) is not None


def windows_dir(path):
    """A Windows directory as the registry holds it: no trailing backslash,
    except for a drive's root."""
    if not is_windows_path(path):
        raise ValueError('not an absolute Windows path: %r' % path)
    path = path.rstrip('\\')
    return path + '\\' if len(path) == 2 else path


def unix_path(prefix, path):
    """The file behind a Windows path, through the prefix's drive links."""
    if not is_windows_path(path):
        raise ValueError('not an absolute Windows path: %r' % path)
    drive = os.path.join(prefix, 'dosdevices', path[0].lower() + ':')
    return os.path.join(drive, *[p for p in path[3:].split('\\') if p])


def prefix_bits(prefix):
    """64 or 32: what the prefix's system.reg says it was made for."""
    with open(os.path.join(prefix, 'system.reg'), errors='replace') as f:
        for line in f:
            if line.startswith('#arch='):
                return 64 if line.strip() == '#arch=win64' else 32
    return 32


def registry_entries(role, directory, bits):
    """[(key under HKLM, value name, string)] that point the agent at `directory`."""
    r = ROLES[role]
    keys = [r.key]
    if bits == 64:
        root, _, rest = r.key.partition('\\')
        keys.append('%s\\%s\\%s' % (root, WOW64_NODE, rest))
    return [(k, r.value, windows_dir(directory)) for k in keys]


def _reg_string(text):
    return '"%s"' % text.replace('\\', '\\\\').replace('"', '\\"')


def reg_file_text(entries):
    """A regedit file that sets the entries (keys under HKLM)."""
    lines = ['Windows Registry Editor Version 5.00', '']
    for key in dict.fromkeys(k for k, _, _ in entries):
        lines.append('[HKEY_LOCAL_MACHINE\\%s]' % key)
        lines += ['%s=%s' % (_reg_string(name), _reg_string(value)) for k, name, value in entries if k == key]
        lines.append('')
    return '\r\n'.join(lines) + '\r\n'


def stage(prefix, exe, role, directory, log=None, title=None):
    """Copies the stand-in into `directory` under the role's program name and
    writes its tvstub.ini. Returns Installed with Windows paths."""
    if role not in ROLES:
        raise ValueError('unknown role %r (known: %s)' % (role, ', '.join(sorted(ROLES))))
    directory = windows_dir(directory)
    log = log or directory.rstrip('\\') + '\\' + DEFAULT_LOG_NAME
    if not is_windows_path(log):
        raise ValueError('the log must be an absolute Windows path: %r' % log)
    target = unix_path(prefix, directory)
    os.makedirs(target, exist_ok=True)
    shutil.copyfile(exe, os.path.join(target, ROLES[role].exe))
    ini = ['[%s]' % INI_SECTION, 'Role=%s' % role, 'Log=%s' % log]
    if title:
        ini.append('Title=%s' % title)
    # The stand-in reads it with GetPrivateProfileStringA: ANSI text.
    with open(os.path.join(target, INI_NAME), 'w', encoding='cp1252', newline='\r\n') as f:
        f.write('\n'.join(ini) + '\n')
    base = directory.rstrip('\\') + '\\'
    return Installed(role, base + ROLES[role].exe, base + INI_NAME, log)


def write_reg_file(prefix, entries):
    """Writes the entries as a .reg file inside the prefix; returns its
    Windows path and its Unix path."""
    name = 'tvstub-install-%d.reg' % os.getpid()
    win = REG_FILE_DIR + '\\' + name
    path = unix_path(prefix, win)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    # Version 5 files are UTF-16 with a byte-order mark.
    with open(path, 'w', encoding='utf-16', newline='') as f:
        f.write(reg_file_text(entries))
    return win, path


def _queried(output, name):
    """The string `reg query KEY /v NAME` printed for the value, or None."""
    for line in output.splitlines():
        parts = line.strip().split('    ')
        if len(parts) == 3 and parts[0].lower() == name.lower() and parts[1] == 'REG_SZ':
            return parts[2]
    return None


def install(prefix, exe, installs, run, log=None, title=None, verify=True):
    """Installs [(role, directory)] and sets their registry values with one
    regedit run. `run(args)` runs a Wine program and returns (exit code,
    output). regedit exits 0 even when it cannot read its file, so with
    `verify` each value is read back with `reg query`. Returns [Installed];
    RuntimeError when a value did not arrive."""
    if not installs:
        raise ValueError('nothing to install')
    if (log or title) and len(installs) > 1:
        raise ValueError('--log and --title apply to a single role')
    values = {}
    for role, directory in installs:
        r = ROLES.get(role)
        if r and values.setdefault((r.key.lower(), r.value.lower()), role) != role:
            raise ValueError('%s and %s share one registry value; install one of them'
                             % (values[(r.key.lower(), r.value.lower())], role))
    bits = prefix_bits(prefix)
    done = [stage(prefix, exe, role, directory, log, title) for role, directory in installs]
    entries = [e for role, directory in installs for e in registry_entries(role, directory, bits)]
    win, path = write_reg_file(prefix, entries)
    try:
        code, output = run(['regedit', '/S', win])
    finally:
        os.unlink(path)
    if code != 0:
        raise RuntimeError('regedit /S gave exit %d: %s' % (code, output.strip()))
    for key, name, value in entries if verify else []:
        code, output = run(['reg', 'query', 'HKLM\\' + key, '/v', name])
        got = _queried(output, name) if code == 0 else None
        if got != value:
            raise RuntimeError('HKLM\\%s\\%s is %r after regedit, expected %r' % (key, name, got, value))
    return done


def wine_runner(prefix, loader):
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG=os.environ.get('WINEDEBUG', '-all'),
               WINEDLLOVERRIDES=WINEDLLOVERRIDES)

    def run(args):
        r = subprocess.run([loader] + args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, timeout=WINE_PROGRAM_TIMEOUT)
        return r.returncode, r.stdout
    return run


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--wine', help='the Wine loader (default: the one of the prefix\'s architecture)')
    parser.add_argument('--log', help='the Windows path of the message log')
    parser.add_argument('--title', help='another main-window title')
    parser.add_argument('prefix')
    parser.add_argument('exe', help='tvstub.exe')
    parser.add_argument('pairs', nargs='+', metavar='ROLE DIR')
    args = parser.parse_args(argv)
    if len(args.pairs) % 2:
        parser.error('give ROLE DIR pairs')
    if not os.path.isfile(os.path.join(args.prefix, 'system.reg')):
        parser.error('%s is not a Wine prefix (no system.reg)' % args.prefix)
    installs = list(zip(args.pairs[0::2], args.pairs[1::2]))
    loader = args.wine or LOADERS[prefix_bits(args.prefix)]
    try:
        done = install(args.prefix, args.exe, installs, wine_runner(args.prefix, loader), args.log, args.title)
    except (ValueError, RuntimeError, OSError) as e:
        sys.exit('install.py: %s' % e)
    for d in done:
        print('%s: %s (log %s)' % (d.role, d.program, d.log))
    return 0


if __name__ == '__main__':
    sys.exit(main())
