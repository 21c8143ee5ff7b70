#!/usr/bin/env python3
"""tunerpad's start-up under Wine: settings on first start, one agent per
desktop, and the "remote always off" setting.

usage: tunerpad_startup.py --cache DIR --work DIR --program tunerpad=EXE
                           --program wineprobe=EXE [SCENARIO...]
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from winelib import check, main, scenario, wait_until  # noqa: E402

SETTINGS_KEY = r'HKLM\SOFTWARE\Vuzided Ivavevariv\Velotune Utilities'
FIRST_START_SETTINGS = {'DefaultTVAPP': ('REG_DWORD', 3), 'AlwaysRemoteOff': ('REG_DWORD', 0)}
# The agent's window class (its string table): other instances look for it.
AGENT_CLASS = 'Ruvuzovi Razuzu Davidod'
INSTALL_DIR = r'C:\Program Files\Velotune Utilities'
TOOLS_DIR = r'C:\tests'


def install_agent(t):
    return t.prefix.install(t.program('tunerpad'), INSTALL_DIR)


def settings_absent(t):
    for name in FIRST_START_SETTINGS:
        check(t.prefix.saved_value(SETTINGS_KEY, name) is None,
              'the fresh prefix already holds %s\\%s' % (SETTINGS_KEY, name))


def wait_agent_ready(t, agent):
    """Until the agent's window exists and its process waits for input."""
    exe = t.prefix.install(t.program('wineprobe'), TOOLS_DIR)
    limit = t.seconds(30)
    probe = t.prefix.start(exe, 'wait-window', AGENT_CLASS, int(limit * 1000))
    # An agent that ends while the probe waits fails the scenario at once.
    wait_until(lambda: not probe.running or not agent.running, limit + t.seconds(10),
               'wineprobe wait-window')
    check(agent.running, 'the agent ended during its start (exit %s)' % agent.proc.returncode)
    code = probe.wait(t.seconds(10))
    check(code == 0, 'no idle agent window "%s": %s' % (AGENT_CLASS, probe.output().strip()))


def agent_windows(t):
    probe = t.prefix.install(t.program('wineprobe'), TOOLS_DIR)
    r = t.prefix.run(probe, 'count-windows', AGENT_CLASS, timeout=t.seconds(30))
    check(r.code == 0 and r.output.startswith('count='), 'wineprobe count-windows: %s' % r.output)
    return int(r.output.split('=')[1])


def start_agent(t):
    exe = install_agent(t)
    agent = t.prefix.start(exe)
    wait_agent_ready(t, agent)
    return exe, agent


@scenario
def first_start(t):
    """A fresh prefix: the agent writes its default settings and keeps running."""
    settings_absent(t)
    _, agent = start_agent(t)
    for name, want in FIRST_START_SETTINGS.items():
        got = t.prefix.reg_query(SETTINGS_KEY, name)
        check(got == want, '%s\\%s is %r, expected %r' % (SETTINGS_KEY, name, got, want))
    check(agent.running, 'the agent ended (exit %s); it should run until stopped' % agent.proc.returncode)
    t.prefix.screenshot(t.path('desktop.png'))


@scenario
def second_start(t):
    """A second start while the agent runs ends at once with 0; the first
    agent keeps running, alone."""
    exe, agent = start_agent(t)
    second = t.prefix.run(exe, timeout=t.seconds(15))
    check(second.code == 0, 'the second start gave exit %s, expected 0' % second.code)
    check(agent.running, 'the first agent ended when the second started')
    wait_agent_ready(t, agent)
    count = agent_windows(t)
    check(count == 1, '%d agent windows, expected 1' % count)


@scenario
def remote_off(t):
    """With AlwaysRemoteOff=1 the agent ends by itself with 0."""
    exe = install_agent(t)
    t.prefix.reg_add(SETTINGS_KEY, 'AlwaysRemoteOff', 1)
    r = t.prefix.run(exe, timeout=t.seconds(30))
    check(r.code == 0, 'the agent gave exit %s, expected 0' % r.code)
    count = agent_windows(t)
    check(count == 0, '%d agent windows left behind' % count)


@scenario
def smoke(t):
    """All three start-ups in as few Wine process starts as possible, for a
    build whose Wine may run emulated: the registry is read from and written
    to the prefix's files instead of through Wine's reg."""
    exe = install_agent(t)
    settings_absent(t)
    agent = t.prefix.start(exe)

    def saved_settings():
        check(agent.running, 'the agent ended during its start (exit %s)' % agent.proc.returncode)
        got = {name: t.prefix.saved_value(SETTINGS_KEY, name) for name in FIRST_START_SETTINGS}
        return got if all(got.values()) else None

    # The server saves a changed registry about every 30 s while it runs.
    got = wait_until(saved_settings, t.seconds(60), 'the agent\'s settings saved while it runs')
    check(got == FIRST_START_SETTINGS, 'settings %r, expected %r' % (got, FIRST_START_SETTINGS))

    second = t.prefix.run(exe, timeout=t.seconds(15))
    check(second.code == 0, 'the second start gave exit %s, expected 0' % second.code)
    check(agent.running, 'the first agent ended when the second started')

    t.prefix.stop()
    t.prefix.set_saved_value(SETTINGS_KEY, 'AlwaysRemoteOff', 1)
    r = t.prefix.run(exe, timeout=t.seconds(30))
    check(r.code == 0, 'with AlwaysRemoteOff=1 the agent gave exit %s, expected 0' % r.code)


if __name__ == '__main__':
    sys.exit(main())
