#!/usr/bin/env python3
"""Runs the platform tests' program under Wine, one test per process.

    contract_run.py --state DIR setup --cache DIR --program contract_tests=EXE --program boxsim=DLL
    contract_run.py --state DIR run -- EXE [ARGS...]
    contract_run.py --state DIR cleanup

`setup` prepares one machine for all the tests: a copy of the template
prefix with the capture-box simulator registered as a video input device, an
X server and a wineserver that stays up between the tests (so each test pays
for its own process alone). `run` starts one test in it and answers with the
test's exit code; `cleanup` ends the server and the X server.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, '..', '..', 'tools', 'boxsim'))

import register  # noqa: E402
import winelib  # noqa: E402

BOX_NAME = 'USB 2800 Video'
BOX_DIR = 'C:\\ContractTests\\box'


def state_file(state):
    return os.path.join(state, 'machine.json')


def load(state):
    with open(state_file(state)) as f:
        machine = json.load(f)
    arch = {a.name: a for a in (winelib.WIN32, winelib.WIN64, winelib.WOW64)}[machine['arch']]
    return machine, winelib.wine_env(machine['prefix'], arch, machine['display']), arch


def cleanup(state):
    try:
        machine, env, _ = load(state)
    except (OSError, ValueError, KeyError):
        return 0
    subprocess.run([winelib.WINESERVER, '-k'], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run([winelib.WINESERVER, '-w'], env=env, timeout=60)
    try:
        os.kill(machine['xvfb'], signal.SIGTERM)
    except ProcessLookupError:
        pass
    os.unlink(state_file(state))
    return 0


def setup(state, args):
    programs = winelib._parse_programs(args.program)
    arch = winelib.arch_of(programs['contract_tests'])
    cleanup(state)
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    started = time.monotonic()
    xvfb = winelib.Xvfb(os.path.join(state, 'xvfb.log'), detached=True)
    display = xvfb.display
    prefix_path = os.path.join(state, 'prefix')
    machine = {'arch': arch.name, 'prefix': prefix_path, 'display': display, 'xvfb': xvfb.proc.pid}
    with open(state_file(state), 'w') as f:
        json.dump(machine, f)

    template = winelib.Template(arch, args.cache)
    template.ensure(display, winelib.boot_timeout(arch))
    template.copy_to(prefix_path)
    prefix = winelib.Prefix(prefix_path, arch, display, state)
    dll = prefix.install(programs['boxsim'], BOX_DIR)
    # The box's registration goes into the registry files before any Wine
    # process starts (and so before the server reads them).
    winelib.save_registry(prefix_path, register.registry_entries(dll, BOX_NAME, quiet=True))
    # The server stays up until cleanup: each test then pays for its own
    # process alone.
    env = winelib.wine_env(prefix_path, arch, display)
    subprocess.Popen([winelib.WINESERVER, '-f', '-p'], env=env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    # The first process brings up the session's services; no test should pay for that.
    subprocess.run([arch.loader, 'cmd', '/c', 'exit'], env=env, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=winelib.boot_timeout(arch))
    winelib.log('platform test machine ready on %s in %.1f s' % (display, time.monotonic() - started))
    return 0


def run(state, command):
    machine, env, arch = load(state)
    command = [os.path.abspath(command[0])] + command[1:] if command and os.path.exists(command[0]) else command
    return subprocess.run([arch.loader] + command, env=env, cwd=machine['prefix'],
                          stdin=subprocess.DEVNULL).returncode


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--state', required=True, help='folder of the prepared machine')
    sub = parser.add_subparsers(dest='action', required=True)
    p = sub.add_parser('setup')
    p.add_argument('--cache', required=True, help='folder of the template prefixes')
    p.add_argument('--program', action='append', default=[], help='NAME=PATH')
    p = sub.add_parser('run')
    p.add_argument('command', nargs=argparse.REMAINDER)
    sub.add_parser('cleanup')
    args = parser.parse_args(argv)
    if args.action == 'setup':
        return setup(args.state, args)
    if args.action == 'run':
        command = args.command[1:] if args.command[:1] == ['--'] else args.command
        return run(args.state, command)
    return cleanup(args.state)


if __name__ == '__main__':
    sys.exit(main())
