#!/usr/bin/env python3
"""A demo of tunerpad under Wine: the agent runs against the simulated
capture box, a remote-control session is played, and a timeline shows what
the agent did with each key. Screenshots go to the output folder.

usage: demo.py --build DIR [--out DIR] [--interactive]
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, 'tests', 'wine'))
sys.path.insert(0, os.path.join(TOP, 'tools', 'boxsim'))
sys.path.insert(0, os.path.join(TOP, 'tools', 'tvstub'))

import register  # noqa: E402
import install as tvinstall  # noqa: E402
import winelib  # noqa: E402

BOX_NAME = 'USB 2800 Video'
AGENT_DIR = r'C:\Program Files\Vuzided Ivavevariv\Velotune Utilities'
ROVIVER_DIR = r'C:\Program Files\Honestech\TVR'
AGENT_CLASS = 'Ruvuzovi Razuzu Davidod'
ROVIVER_CLASS = 'HALCYON_TVR'


class Demo:
    def __init__(self, build, out):
        self.build = build
        self.out = out
        self.started = time.monotonic()
        self.events = []

    def program(self, relative):
        path = os.path.join(self.build, relative)
        if not os.path.isfile(path):
            raise SystemExit('%s is missing: build the win64 preset first' % path)
        return path

    def stamp(self):
        return time.monotonic() - self.started

    def say(self, what):
        line = '%7.2f s  %s' % (self.stamp(), what)
        print(line, flush=True)
        self.events.append(line)

    def setup(self):
        arch = winelib.WIN64
        cache = os.path.join(self.build, 'tests', 'wine', 'prefixes')
        self.display = os.environ.get('DISPLAY') or winelib.display(self.out)
        template = winelib.Template(arch, cache)
        template.ensure(self.display, winelib.boot_timeout(arch))
        path = os.path.join(self.out, 'prefix')
        if os.path.isdir(path):
            winelib.Prefix(path, arch, self.display, self.out).stop()
            shutil.rmtree(path)
        template.copy_to(path)
        self.prefix = winelib.Prefix(path, arch, self.display, self.out)

        self.commands = os.path.join(self.out, 'box-commands.txt')
        self.box_log = os.path.join(self.out, 'box-calls.log')
        for f in (self.commands, self.box_log):
            open(f, 'w').close()
        dll = self.prefix.install(self.program('tools/boxsim.dll'), r'C:\boxsim')
        text = register.reg_file_text(register.registry_entries(
            dll, BOX_NAME, commands=register.windows_path(self.commands),
            log=register.windows_path(self.box_log)))
        register.import_reg(self.prefix.path, text, loader=arch.loader, env=self.prefix.env)
        self.say('capture box registered as "%s"' % BOX_NAME)

        self.roviver_log = ROVIVER_DIR + r'\roviver.log'
        run = tvinstall.wine_runner(self.prefix.path, arch.loader)
        tvinstall.install(self.prefix.path, self.program('tools/tvstub/tvstub.exe'), [('roviver', ROVIVER_DIR)], run,
                          log=self.roviver_log, verify=False)
        self.say('RoviverUVA stand-in installed in %s' % ROVIVER_DIR)
        self.probe = self.prefix.install(self.program('tests/wine/wineprobe.exe'), r'C:\tools')

    def start_agent(self):
        exe = self.prefix.install(self.program('tunerpad.exe'), AGENT_DIR)
        self.agent = self.prefix.start(exe)
        r = self.prefix.run(self.probe, 'wait-window', AGENT_CLASS, 30000, timeout=60)
        winelib.check(r.code == 0, 'the agent did not come up: %s' % r.output)
        self.say('tunerpad is running: hidden window "%s", icon in the notification area' % AGENT_CLASS)

    def box_calls(self):
        with open(self.box_log, errors='replace') as f:
            return [l for l in f.read().splitlines() if l and not l.startswith('#')]

    def remote(self, *command):
        with open(self.commands, 'a') as f:
            f.write(' '.join(str(c) for c in command) + '\n')

    def screenshot(self, name):
        path = os.path.join(self.out, name)
        self.prefix.screenshot(path)
        self.say('screenshot %s' % path)

    def press(self, code, name, expect, what, timeout=30):
        """Presses a key and waits until `expect()` holds."""
        self.say('remote: %-10s (key %d)' % (name, code))
        self.remote('press', code)
        winelib.wait_until(expect, timeout, what)
        self.say('  -> %s' % what)

    def session(self):
        calls = len(self.box_calls())
        winelib.wait_until(lambda: len(self.box_calls()) > calls + 12, 20, 'the agent polling the box')
        self.say('the agent polls the box every 70 ms (six property calls per idle tick)')
        self.screenshot('1-desktop-with-icon.png')

        def roviver_up():
            r = self.prefix.run(self.probe, 'count-windows', ROVIVER_CLASS, timeout=60)
            return r.output.strip() == 'count=1'

        def roviver_lines():
            path = self.prefix.unix_path(self.roviver_log)
            return open(path, errors='replace').read().splitlines() if os.path.exists(path) else []

        self.press(18, 'Power', roviver_up, 'RoviverUVA (the default application) started', 60)
        self.screenshot('2-roviver-started.png')
        for digit in (1, 2, 3):
            wanted = '%#x' % (10000 + digit)
            self.press(digit, 'digit %d' % digit, lambda w=wanted: any(w in l for l in roviver_lines()),
                       'RoviverUVA received message 3024 with command %d' % (10000 + digit))
        self.press(18, 'Power', lambda: any(l.startswith('exit') for l in roviver_lines()),
                   'RoviverUVA closed by command 1', 60)
        for line in roviver_lines():
            if line.startswith(('start', 'exit')) or '0xbd0' in line:
                self.say('  RoviverUVA log: %s' % line)
        self.say('with no application, direction keys drive the desktop pointer:')
        for _ in range(6):
            self.remote('press', 6)
            time.sleep(0.3)
        self.say('  six "right" presses sent')
        self.screenshot('3-after-the-session.png')

    def interactive(self):
        print('\nThe agent runs. Press remote keys with:\n  %s --commands %s press CODE\n'
              '(Power is 18, digits 1..9, 21 opens the Shut Down prompt). Ctrl+C ends the demo.'
              % (os.path.join(TOP, 'tools', 'boxsim', 'remote'), self.commands))
        try:
            while self.agent.running:
                time.sleep(0.5)
        except KeyboardInterrupt:
            pass

    def finish(self):
        self.prefix.stop()
        timeline = os.path.join(self.out, 'timeline.txt')
        with open(timeline, 'w') as f:
            f.write('\n'.join(self.events) + '\n')
        print('\ntimeline: %s\nbox property calls: %s (%d calls)' % (timeline, self.box_log, len(self.box_calls())))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', required=True, help='the win64 build tree')
    parser.add_argument('--out', default=None, help='folder for the screenshots and logs')
    parser.add_argument('--interactive', action='store_true', help='press the remote keys yourself')
    args = parser.parse_args()
    out = os.path.abspath(args.out or os.path.join(args.build, 'demo'))
    os.makedirs(out, exist_ok=True)
    demo = Demo(os.path.abspath(args.build), out)
    try:
        demo.setup()
        demo.start_agent()
        if args.interactive:
            demo.interactive()
        else:
            demo.session()
    finally:
        demo.finish()
    return 0


if __name__ == '__main__':
    sys.exit(main())
