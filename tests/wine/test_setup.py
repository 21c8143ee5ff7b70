#!/usr/bin/env python3
"""setup.exe under Wine: what a silent install leaves on the machine, the
removal through the uninstall wizard, and an upgrade over an earlier install.

usage: test_setup.py --cache DIR --work DIR --program setup=EXE
                     --program tunerpad=EXE --program clearway=EXE
                     [--program wineprobe=EXE --program setup_wizard=EXE] [SCENARIO...]

tunerpad and clearway are the programs the setup packs: what it installs must
be them, byte for byte. The files are compared on the prefix's disk and the
registry in its saved files, so that few Wine processes start.
"""
import os
import pwd
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from shipped_ini import INI_PATH, shipped_section  # noqa: E402
from winelib import check, log, main, scenario, wait_until  # noqa: E402

VENDOR = 'Vuzided Ivavevariv'
PRODUCT = 'Velotune Utilities'
SETTINGS_KEY = r'HKLM\SOFTWARE' + '\\' + VENDOR + '\\' + PRODUCT
VENDOR_KEY = r'HKLM\SOFTWARE' + '\\' + VENDOR
UNINSTALL_ROOT = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
PENDING_KEY = r'HKLM\System\CurrentControlSet\Control\Session Manager'
COUNTRY_KEY = r'HKCU\Control Panel\International'
AGENT_CLASS = 'Ruvuzovi Razuzu Davidod'
# The Start menu of the user who installs: Wine names the user after the
# account that runs it.
PROGRAMS_MENU = (r'C:\users\%s\AppData\Roaming\Microsoft\Windows\Start Menu\Programs'
                 % (os.environ.get('USER') or pwd.getpwuid(os.getuid()).pw_name))
AGENT_SHORTCUT = PROGRAMS_MENU + r'\StartUp\Tolvar Remote Control.lnk'
INI_INSTALLED = r'C:\windows\REDerUro.ini'
TOOLS_DIR = r'C:\tests'
VERSION = '1.2.0.0'
REMOVE_UTILITIES = 1006
REMOVE_DRIVERS = 1007


TEXTS = shipped_section('1')
DISPLAY_NAME = TEXTS['UninstallUtilityRegName']
WIZARD_TITLE = TEXTS['UninstallWizardAppTitle']
# The Start-menu shortcut is named as the wizard's title.
WIZARD_SHORTCUT = PROGRAMS_MENU + '\\' + WIZARD_TITLE + '.lnk'


# --------------------------------------------------------------------------
# Where things go

def install_dir(t):
    # A 32-bit setup on 64-bit Windows installs where 32-bit programs go.
    program_files = r'C:\Program Files (x86)' if t.arch.wow64 else r'C:\Program Files'
    return program_files + '\\' + VENDOR + '\\' + PRODUCT


def installed_program(t, name):
    return install_dir(t) + '\\' + name


def uninstall_commands(t):
    uninstaller = installed_program(t, 'uninstall.exe')
    return ('"%s" _?=%s' % (uninstaller, install_dir(t)), '"%s" /S _?=%s' % (uninstaller, install_dir(t)))


def expected_entry(t):
    interactive, quiet = uninstall_commands(t)
    return {
        'DisplayName': DISPLAY_NAME,
        'UninstallString': interactive,
        'QuietUninstallString': quiet,
        'DisplayIcon': installed_program(t, 'tunerpad.exe') + ',0',
        'Publisher': VENDOR,
        'DisplayVersion': VERSION,
        'InstallLocation': install_dir(t),
        'NoModify': 1,
        'NoRepair': 1,
    }


def expected_new_paths(t):
    """Every file and folder a fresh install adds under C:\\."""
    parts = install_dir(t).split('\\')
    folders = ['\\'.join(parts[:n]) for n in range(len(parts) - 1, len(parts) + 1)]
    files = [installed_program(t, n) for n in ('tunerpad.exe', 'clearway.exe', 'uninstall.exe')]
    return set(folders + files + [INI_INSTALLED, AGENT_SHORTCUT, WIZARD_SHORTCUT])


# --------------------------------------------------------------------------
# The prefix's disk and saved registry

# Wine's own writes while a session starts: the device setup's INF caches.
WINE_CHURN = re.compile(r'^c:\\windows\\inf\\[^\\]+\.pnf$', re.I)


def drive_paths(t):
    """Every file and folder under C:\\, as Windows paths, but Wine's own."""
    root = t.prefix.unix_path('C:\\')
    paths = set()
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            rel = os.path.relpath(os.path.join(folder, name), root)
            path = 'C:\\' + rel.replace(os.sep, '\\')
            if not WINE_CHURN.match(path):
                paths.add(path)
    return paths


def lower_set(paths):
    return {p.lower() for p in paths}


def read_file(t, windows_path):
    with open(t.prefix.unix_path(windows_path), 'rb') as f:
        return f.read()


def check_same_file(t, windows_path, source):
    with open(source, 'rb') as f:
        want = f.read()
    check(read_file(t, windows_path) == want, '%s is not %s byte for byte' % (windows_path, source))


def check_shortcut(t, link, target):
    """The link names its target (as the shell stores paths: ANSI or UTF-16)."""
    data = read_file(t, link).lower()
    names = target.lower().encode('latin-1') in data or target.lower().encode('utf-16-le') in data
    check(names, '%s does not point at %s' % (link, target))


def uninstall_entries(t):
    """{subkey: values} of every Uninstall entry in the saved registry."""
    reg, rest = t.prefix.saved_registry(UNINSTALL_ROOT)
    header = re.compile(r'^\[%s\\\\([^\\\]]+)\]' % re.escape(rest.replace('\\', '\\\\')), re.I)
    with open(reg.path, encoding='utf-8', errors='surrogateescape') as f:
        names = [m.group(1) for m in map(header.match, f) if m]
    return {name: reg.values(rest + '\\' + name) for name in names}


def utility_entries(t):
    """The entries clearway would take for the utilities' (by display name)."""
    return {name: values for name, values in uninstall_entries(t).items()
            if str(values.get('DisplayName', '')).lower() == DISPLAY_NAME.lower()}


def saved_key(t, key):
    reg, rest = t.prefix.saved_registry(key)
    return reg.values(rest)


def pending_removals(t):
    """The paths Windows deletes at the next restart (lower case)."""
    reg, _ = t.prefix.saved_registry(PENDING_KEY)
    with open(reg.path, encoding='utf-8', errors='surrogateescape') as f:
        m = re.search(r'^"PendingFileRenameOperations"=(.*)$', f.read(), re.M)
    if not m:
        return set()
    text = m.group(1).replace('\\\\', '\\').lower()
    return set(re.findall(r'\\\?\?\\(c:\\[^"]*?)\\?\\0', text))


# --------------------------------------------------------------------------
# Programs

def programs_running(t):
    """Command lines of the prefix's processes other than Wine's own."""
    out = []
    for pid in t.prefix.leftover_pids():
        try:
            with open('/proc/%d/cmdline' % pid, 'rb') as f:
                # Wine puts the whole Windows command line in front.
                line = f.read().split(b'\0')[0].decode(errors='replace').strip()
        except OSError:
            continue
        if line and not re.match(r'^"?[a-z]:\\windows\\', line, re.I) and not line.startswith('/'):
            out.append(line)
    return out


def program_of(command_line):
    """The program a command line starts: the quoted path, or up to .exe."""
    m = re.match(r'^"([^"]+)"', command_line) or re.match(r'^(.*?\.exe)\b', command_line, re.I)
    return m.group(1) if m else command_line


def running(t, windows_path):
    return any(program_of(c).lower() == windows_path.lower() for c in programs_running(t))


def wait_agent(t):
    """Until the agent's window is there and its process idle; its pid."""
    probe = t.prefix.install(t.program('wineprobe'), TOOLS_DIR)
    limit = t.seconds(30)
    r = t.prefix.run(probe, 'wait-window', AGENT_CLASS, int(limit * 1000), timeout=limit + t.seconds(10))
    check(r.code == 0, 'no idle agent window: %s' % r.output.strip())
    return int(r.output.split('=')[1])


def run_setup(t):
    setup = t.prefix.install(t.program('setup'), TOOLS_DIR)
    r = t.prefix.run(setup, '/S', timeout=t.seconds(120))
    log('setup.exe /S: %r' % r)
    check(r.code == 0, 'setup.exe /S gave exit %s' % r.code)
    return r


def run_command_line(t, command_line, timeout):
    """Runs a stored command line as it is. Wine joins the arguments it is
    given with single spaces and quotes those holding one, so the arguments
    go split at their spaces; the program is the quoted path in front."""
    m = re.match(r'^"([^"]+)" (.*)$', command_line)
    check(m is not None, 'not a quoted program and its arguments: %r' % command_line)
    return t.prefix.run(m.group(1), *m.group(2).split(' '), timeout=timeout)


def prepare(t):
    """A fresh machine as the wizard expects it: country code 1 (the INI's
    section [1]) and nothing of the utilities yet."""
    t.prefix.set_saved_value(COUNTRY_KEY, 'iCountry', '1')
    check(not utility_entries(t), 'the fresh prefix already has an entry "%s"' % DISPLAY_NAME)
    check(saved_key(t, SETTINGS_KEY) is None, 'the fresh prefix already has %s' % SETTINGS_KEY)
    t.prefix.install(t.program('wineprobe'), TOOLS_DIR)
    if 'setup_wizard' in t.programs:
        t.prefix.install(t.program('setup_wizard'), TOOLS_DIR)
    t.prefix.install(t.program('setup'), TOOLS_DIR)
    return lower_set(drive_paths(t))


def check_installed_files(t, before):
    added = lower_set(drive_paths(t)) - before
    want = lower_set(expected_new_paths(t))
    check(added == want, 'the install added %s, expected %s' % (sorted(added - want) or 'nothing else',
                                                               sorted(want - added) or 'nothing missing'))
    check_same_file(t, installed_program(t, 'tunerpad.exe'), t.program('tunerpad'))
    check_same_file(t, installed_program(t, 'clearway.exe'), t.program('clearway'))
    check_same_file(t, INI_INSTALLED, INI_PATH)
    check(read_file(t, installed_program(t, 'uninstall.exe'))[:2] == b'MZ', 'uninstall.exe is no program')
    check_shortcut(t, AGENT_SHORTCUT, installed_program(t, 'tunerpad.exe'))
    check_shortcut(t, WIZARD_SHORTCUT, installed_program(t, 'clearway.exe'))


def check_installed_registry(t):
    entries = utility_entries(t)
    check(len(entries) == 1, 'entries named "%s": %s' % (DISPLAY_NAME, sorted(entries)))
    (name, values), = entries.items()
    want = expected_entry(t)
    check(values == want, 'Uninstall entry %s is %r, expected %r' % (name, values, want))


def check_removed(t, before):
    """Nothing installed is left; what could not go while it ran (the wizard,
    the uninstaller's copy) went to the temporary folder, to go at restart."""
    added = lower_set(drive_paths(t)) - before
    temp = re.compile(r'^c:\\users\\[^\\]+\\temp\\')
    stray = sorted(p for p in added if not temp.match(p))
    check(not stray, 'left after the removal: %s' % stray)
    pending = pending_removals(t)
    kept = sorted(p for p in added if p not in pending)
    check(not kept, 'temporary files not deleted at restart: %s (pending: %s)' % (kept, sorted(pending)))
    check(not utility_entries(t), 'the entry "%s" is still there' % DISPLAY_NAME)
    check(saved_key(t, SETTINGS_KEY) is None, '%s is still there' % SETTINGS_KEY)
    check(saved_key(t, VENDOR_KEY) is None, '%s is still there' % VENDOR_KEY)


# --------------------------------------------------------------------------
# Scenarios

@scenario
def install_and_remove(t):
    """A silent install puts exactly the programs, the wizard's texts, the two
    shortcuts and the Uninstall entry in place and starts the agent. The
    wizard, started from its Start-menu shortcut with both boxes checked,
    closes the agent (started from its Startup shortcut), runs the
    uninstaller and waits for it; no drivers' entry exists, so nothing else
    runs. Afterwards nothing installed is left."""
    before = prepare(t)
    run_setup(t)
    wait_agent(t)
    agent = installed_program(t, 'tunerpad.exe')
    check(running(t, agent), 'the agent that runs is not %s: %s' % (agent, programs_running(t)))
    check_installed_files(t, before)
    t.prefix.stop()
    check_installed_registry(t)
    check(saved_key(t, UNINSTALL_ROOT + '\\' + TEXTS['DrvUninstRegKeyPath']) is None,
          'a drivers\' entry exists')

    # As at logon: the Startup shortcut starts the agent.
    t.prefix.start('start', AGENT_SHORTCUT)
    wait_agent(t)
    check(running(t, agent), 'the Startup shortcut did not start %s: %s' % (agent, programs_running(t)))

    t.prefix.start('start', WIZARD_SHORTCUT)
    wizard = installed_program(t, 'clearway.exe')
    tool = t.prefix.install(t.program('setup_wizard'), TOOLS_DIR)
    limit = t.seconds(30)
    r = t.prefix.run(tool, 'next', WIZARD_TITLE, int(limit * 1000), REMOVE_UTILITIES, REMOVE_DRIVERS,
                     timeout=limit + t.seconds(10))
    log('wizard page 1: %s' % r.output.strip().replace('\n', ', '))
    check(r.code == 0, 'Next on page 1: %s' % r.output.strip())

    r = t.prefix.run(tool, 'wait-text', WIZARD_TITLE, int(limit * 1000), TEXTS['UninstallWizardTPG2Tip1'],
                     timeout=limit + t.seconds(10))
    check(r.code == 0, 'page 2: %s' % r.output.strip())
    t.prefix.screenshot(t.path('page2.png'))
    # Page 2 shows once the uninstaller has ended: all of the removal is done
    # by then, but for the uninstaller's own file and the folder, which its
    # copy removes right after.
    check(not running(t, agent), 'the agent still runs')
    others = [c for c in programs_running(t) if program_of(c).lower() != wizard.lower()]
    check(all(re.search(r'\\temp\\[^\\]+\\uninstall\.exe$', program_of(c), re.I) for c in others),
          'programs running besides the wizard at page 2: %s' % others)
    for gone in ('tunerpad.exe', 'clearway.exe'):
        path = t.prefix.unix_path(installed_program(t, gone))
        check(not os.path.exists(path), '%s is still there at page 2' % gone)
    for gone in (AGENT_SHORTCUT, WIZARD_SHORTCUT, INI_INSTALLED):
        check(not os.path.exists(t.prefix.unix_path(gone)), '%s is still there at page 2' % gone)
    wait_until(lambda: not os.path.exists(t.prefix.unix_path(install_dir(t))), t.seconds(15),
               'the installation folder to go')
    wait_until(lambda: all(program_of(c).lower() == wizard.lower() for c in programs_running(t)),
               t.seconds(15), 'the uninstaller\'s copy to end')

    r = t.prefix.run(tool, 'finish', WIZARD_TITLE, timeout=t.seconds(30))
    check(r.code == 0, 'Finish on page 2: %s' % r.output.strip())
    wait_until(lambda: not programs_running(t), t.seconds(20), 'the wizard to end')
    t.prefix.stop()
    check_removed(t, before)


@scenario
def upgrade(t):
    """A second install over the first, while its agent runs, closes that
    agent, replaces the programs, starts the new agent, and keeps the
    settings the user chose."""
    prepare(t)
    run_setup(t)
    first = wait_agent(t)
    t.prefix.reg_add(SETTINGS_KEY, 'DefaultTVAPP', 2)
    run_setup(t)
    second = wait_agent(t)
    check(second != first, 'the first agent (pid %d) still has the window' % first)
    agents = [p for p in programs_running(t) if p.lower().endswith('\\tunerpad.exe')]
    check(len(agents) == 1, 'agents running after the upgrade: %s' % agents)
    t.prefix.stop()
    settings = saved_key(t, SETTINGS_KEY)
    check(settings == {'DefaultTVAPP': 2, 'AlwaysRemoteOff': 0},
          'settings after the upgrade: %r, expected DefaultTVAPP 2 and AlwaysRemoteOff 0' % settings)
    check_installed_registry(t)
    check_same_file(t, installed_program(t, 'tunerpad.exe'), t.program('tunerpad'))


def silent_removal(t, before, agent=None):
    """Runs the entry's QuietUninstallString as stored, and waits for the
    uninstaller and the copy of it that removes the folder."""
    t.prefix.stop()
    check_installed_registry(t)
    (values,) = utility_entries(t).values()
    if agent:
        agent = t.prefix.start(installed_program(t, 'tunerpad.exe'))
        wait_agent(t)
    r = run_command_line(t, values['QuietUninstallString'], timeout=t.seconds(120))
    log('silent uninstall: %r' % r)
    check(r.code == 0, 'the silent uninstall gave exit %s' % r.code)
    if agent:
        check(not agent.running, 'the agent still runs after the uninstaller ended')
        check(agent.proc.returncode == 0, 'the agent ended with %s, expected 0' % agent.proc.returncode)
    wait_until(lambda: not os.path.exists(t.prefix.unix_path(install_dir(t))), t.seconds(30),
               'the installation folder to go')
    t.prefix.stop()
    check_removed(t, before)


# clearway reads the stored Uninstall command into 256 bytes.
UNINSTALL_COMMAND_MAX = 255
EXIT_FOLDER_TOO_LONG = 3


def refuse_long_folder(t, before):
    """A folder whose Uninstall command would be one byte too long for
    clearway is refused before anything is installed."""
    folder = 'C:\\' + 'L' * 115
    command = '"%s\\uninstall.exe" _?=%s' % (folder, folder)
    check(len(command) == UNINSTALL_COMMAND_MAX + 1, 'the folder makes a command of %d bytes' % len(command))
    r = t.prefix.run(t.prefix.install(t.program('setup'), TOOLS_DIR), '/S', '/D=' + folder,
                     timeout=t.seconds(120))
    check(r.code == EXIT_FOLDER_TOO_LONG, 'setup.exe /S into a folder of %d characters gave exit %s, expected %d'
          % (len(folder), r.code, EXIT_FOLDER_TOO_LONG))
    t.prefix.stop()
    check(lower_set(drive_paths(t)) == before and not utility_entries(t),
          'the refused install left %s' % sorted(lower_set(drive_paths(t)) - before))


@scenario
def silent_uninstall(t):
    """The stored silent command alone, as an administrator's tools run it,
    closes the running agent itself and removes everything. Before that, a
    folder too long for the stored command is refused."""
    before = prepare(t)
    refuse_long_folder(t, before)
    run_setup(t)
    silent_removal(t, before, agent=True)


@scenario
def smoke(t):
    """The shipped 32-bit setup, where each Wine process may take a minute:
    a silent install, then the stored silent uninstall command. The agent
    setup starts is not waited for."""
    before = prepare(t)
    run_setup(t)
    check_installed_files(t, before)
    silent_removal(t, before)


if __name__ == '__main__':
    sys.exit(main())
