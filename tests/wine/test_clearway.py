#!/usr/bin/env python3
"""clearway under Wine: its two pages, the agent it closes, and the
uninstallers it runs one after the other.

usage: test_clearway.py --cache DIR --work DIR --program clearway=EXE
                        --program tunerpad=EXE --program uninstaller=EXE
                        --program tvpost=EXE --program wineprobe=EXE [SCENARIO...]

The wizard reads the REDerUro.ini the installation ships (resources/), in
section "1"; the Uninstall entries are registered under the names that file
gives, with uninstaller_stub standing in for both uninstallers.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from shipped_ini import INI_PATH, shipped_section  # noqa: E402
from winelib import check, main, scenario, wait_until  # noqa: E402

AGENT_CLASS = 'Ruvuzovi Razuzu Davidod'
AGENT_TITLE = 'Ruvuzovi Razuzu Davidod'
UNINSTALL_KEY = r'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
COUNTRY_KEY = r'HKCU\Control Panel\International'
WIZARD_DIR = r'C:\Program Files\Tolvar'
AGENT_DIR = r'C:\Program Files\Velotune Utilities'
TOOLS_DIR = r'C:\tests'
UNINSTALL_LOG = TOOLS_DIR + r'\uninstall.log'
# The utilities' entry is found by its display name, whatever its key is called.
UTILITY_KEY_NAME = '{5C1E0F2A-TOLVAR-UTILITIES}'
UTILITY_RUN_MS = 1500
DRIVER_RUN_MS = 500

PSM_PRESSBUTTON = 0x0400 + 113
PSBTN_NEXT = 1
PSBTN_FINISH = 2
PSBTN_CANCEL = 5


TEXTS = shipped_section('1')
WIZARD_TITLE = TEXTS['UninstallWizardAppTitle']


def stub_command(t, name, run_ms):
    exe = t.prefix.install(t.program('uninstaller'), TOOLS_DIR)
    return '"%s" run %s %s %d "%s" "%s"' % (exe, UNINSTALL_LOG, name, run_ms, WIZARD_TITLE, AGENT_TITLE)


def prepare(t, uninstallers):
    """The shipped INI in the Windows directory, country code 1, and (when
    asked) the two Uninstall entries; written before any Wine process runs."""
    with open(INI_PATH, 'rb') as src, open(t.prefix.unix_path(r'C:\windows\REDerUro.ini'), 'wb') as dst:
        dst.write(src.read())
    t.prefix.set_saved_value(COUNTRY_KEY, 'iCountry', '1')
    if uninstallers:
        utility = UNINSTALL_KEY + '\\' + UTILITY_KEY_NAME
        t.prefix.set_saved_value(utility, 'DisplayName', TEXTS['UninstallUtilityRegName'])
        t.prefix.set_saved_value(utility, 'UninstallString', stub_command(t, 'utilities', UTILITY_RUN_MS))
        driver = UNINSTALL_KEY + '\\' + TEXTS['DrvUninstRegKeyPath']
        t.prefix.set_saved_value(driver, 'DisplayName', 'Tolvar WDM Drivers')
        t.prefix.set_saved_value(driver, 'UninstallString', stub_command(t, 'drivers', DRIVER_RUN_MS))


def start_agent(t):
    agent = t.prefix.start(t.prefix.install(t.program('tunerpad'), AGENT_DIR))
    probe = t.prefix.install(t.program('wineprobe'), TOOLS_DIR)
    limit = t.seconds(30)
    r = t.prefix.run(probe, 'wait-window', AGENT_CLASS, int(limit * 1000), timeout=limit + t.seconds(10))
    check(r.code == 0 and agent.running, 'no idle agent window: %s' % r.output.strip())
    return agent


def start_wizard(t):
    """Starts the wizard and waits for page 1 with the INI's label on its first box."""
    wizard = t.prefix.start(t.prefix.install(t.program('clearway'), WIZARD_DIR))
    wait_shown(t, wizard, TEXTS['UninstallWizardTPG1OPT1'])
    return wizard


def wait_shown(t, wizard, text):
    """Until the wizard's window is visible with a visible control showing `text`."""
    stub = t.prefix.install(t.program('uninstaller'), TOOLS_DIR)
    limit = t.seconds(30)
    r = t.prefix.run(stub, 'wait-shown', WIZARD_TITLE, int(limit * 1000), text, timeout=limit + t.seconds(10))
    check(wizard.running, 'the wizard ended (exit %s)' % wizard.proc.returncode)
    check(r.code == 0, 'no visible window "%s" showing "%s" within %d s' % (WIZARD_TITLE, text, limit))


def press(t, button, title=WIZARD_TITLE):
    tvpost = t.prefix.install(t.program('tvpost'), TOOLS_DIR)
    r = t.prefix.run(tvpost, 'post', title, PSM_PRESSBUTTON, button, 0, timeout=t.seconds(30))
    check(r.code == 0, 'pressing button %d of the wizard: %s' % (button, r.output.strip()))


def uninstall_log(t):
    path = t.prefix.unix_path(UNINSTALL_LOG)
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line.strip() for line in f if line.strip()]


def parse_log(lines):
    """[(name, 'start'|'end', tick, {title: state})] in the order written."""
    out = []
    for line in lines:
        m = re.match(r'(\w+) (start|end) (\d+)(.*)$', line)
        check(m is not None, 'unreadable uninstaller log line %r' % line)
        states = dict(re.findall(r'"([^"]*)"=(\w+)', m.group(4)))
        out.append((m.group(1), m.group(2), int(m.group(3)), states))
    return out


@scenario
def uninstall(t):
    """Next on page 1 with both boxes checked: the agent ends, the wizard
    hides, the utilities' uninstaller runs to its end, then the drivers'
    one, and page 2 shows with Finish, which ends the wizard."""
    prepare(t, uninstallers=True)
    agent = start_agent(t)
    wizard = start_wizard(t)
    t.prefix.screenshot(t.path('page1.png'))
    check(not uninstall_log(t), 'an uninstaller ran before Next: %r' % uninstall_log(t))
    check(agent.running, 'the agent ended before Next')

    press(t, PSBTN_NEXT)
    code = agent.wait(t.seconds(20))
    check(code == 0, 'the agent ended with %s, expected 0' % code)
    wait_until(lambda: len(uninstall_log(t)) >= 4, t.seconds(30), 'both uninstallers to end')
    wait_shown(t, wizard, TEXTS['UninstallWizardTPG2Tip1'])
    t.prefix.screenshot(t.path('page2.png'))

    steps = parse_log(uninstall_log(t))
    order = [(name, what) for name, what, _, _ in steps]
    check(order == [('utilities', 'start'), ('utilities', 'end'), ('drivers', 'start'), ('drivers', 'end')],
          'uninstallers ran in the order %r' % order)
    ticks = [tick for _, _, tick, _ in steps]
    check(ticks[2] >= ticks[1], 'the drivers\' uninstaller started before the utilities\' one ended: %r' % ticks)
    for name, what, _, states in steps:
        if what == 'start':
            check(states.get(WIZARD_TITLE) == 'hidden', 'the wizard was %s while %s ran' %
                  (states.get(WIZARD_TITLE), name))
            check(states.get(AGENT_TITLE) == 'none', 'the agent window was %s when %s started' %
                  (states.get(AGENT_TITLE), name))
    check(wizard.running, 'the wizard ended before Finish (exit %s)' % wizard.proc.returncode)

    press(t, PSBTN_FINISH)
    code = wizard.wait(t.seconds(20))
    check(code == 0, 'the wizard ended with %s, expected 0' % code)
    check(len(uninstall_log(t)) == 4, 'more uninstaller runs after Finish: %r' % uninstall_log(t))


@scenario
def cancel(t):
    """Cancel on page 1 ends the wizard: the agent keeps running and no
    uninstaller starts."""
    prepare(t, uninstallers=True)
    agent = start_agent(t)
    wizard = start_wizard(t)
    press(t, PSBTN_CANCEL)
    code = wizard.wait(t.seconds(20))
    check(code == 0, 'the wizard ended with %s, expected 0' % code)
    check(agent.running, 'the agent ended (exit %s) although the wizard was cancelled' % agent.proc.returncode)
    check(not uninstall_log(t), 'uninstallers ran: %r' % uninstall_log(t))


@scenario
def nothing_installed(t):
    """No agent and no Uninstall entries: both pages still show, and Finish
    ends the wizard."""
    prepare(t, uninstallers=False)
    wizard = start_wizard(t)
    t.prefix.screenshot(t.path('page1.png'))
    press(t, PSBTN_NEXT)
    wait_shown(t, wizard, TEXTS['UninstallWizardTPG2Tip1'])
    t.prefix.screenshot(t.path('page2.png'))
    press(t, PSBTN_FINISH)
    code = wizard.wait(t.seconds(20))
    check(code == 0, 'the wizard ended with %s, expected 0' % code)
    check(not uninstall_log(t), 'uninstallers ran: %r' % uninstall_log(t))


if __name__ == '__main__':
    sys.exit(main())
