#!/usr/bin/env python3
"""A demo of tunerpad under Wine: the agent runs against the simulated
capture box with stand-ins of the TV applications installed, a remote-control
session visits what the agent does, and a timeline shows each remote key,
what the agent did with it and which window received what. Screenshots of
the tray menu, the dialogs and the uninstall wizard's pages go to the output
folder. The terminal shows the story alone and a closing verdict that counts
the effects seen against those expected (exit 1 when one was missed); what
the programs and the test library say goes to demo.log in the output folder
(--verbose shows it too).

usage: demo.py --build DIR [--out DIR] [--interactive] [--verbose] [--docs] [--dpi N]

With --interactive the agent runs until Ctrl+C and you press the remote's
keys yourself with tools/boxsim/remote (the command is printed). With --docs
the pictures the README shows are cropped into docs/.
"""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time
import traceback

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, 'tests', 'wine'))

import winelib  # noqa: E402
from winelib import DESKTOP_SIZE  # noqa: E402
from agent_lib import (  # noqa: E402
    ABOUT_TITLE, CMD_ABOUT, CMD_SETTING, DEVICE_GONE, IDOK, KEY_POWER, KEY_SHUTDOWN, MENU_CLASS, POWERVCR_CLASS, REMOTE,
    RETRY_MS, ROVIVER_CLASS, SETTING_COMBO, SETTING_TITLE, SHUTDOWN_TITLE, VK_DOWN, WINDVR_TITLE, VK_RETURN, command, run_tool,
    REPEAT_WINDOW_MS, post_to_agent, remote_command, set_pointer, setup, start_agent, tray_click, wait_gone, wait_window, x_pointer)
from test_agent import below_right, screenshot, wait_tray_icon  # noqa: E402
import test_clearway as wizard_lib  # noqa: E402
import agent_image  # noqa: E402
from shipped_ini import shipped_section  # noqa: E402
from tvlog import WM_CLOSE  # noqa: E402

# The programs of the build tree that the demo runs (the shipped win32 one
# wherever the kernel runs 32-bit code, else win64), by the names the test
# scripts know them by.
PROGRAMS = {
    'tunerpad': 'tunerpad.exe',
    'clearway': 'clearway.exe',
    'boxsim': 'tools/boxsim.dll',
    'tvstub': 'tools/tvstub/tvstub.exe',
    'tvpost': 'tools/tvstub/tvpost.exe',
    'wineprobe': 'tests/wine/wineprobe.exe',
    'agent_ui': 'tests/wine/agent_ui.exe',
    'uninstaller': 'tests/wine/uninstaller_stub.exe',
}
STUB_NAMES = {'roviver': 'RoviverUVA', 'powervcr': 'PowerVCR II', 'windvr': 'WinDVR'}
DESKTOP_KEY = r'HKCU\Control Panel\Desktop'
# The wizard's languages beyond English: the locale whose ANSI code page the
# texts are in, the country code that picks the section, a tag for the files.
WIZARD_LANGUAGES = (('ja_JP.UTF-8', '81', 'cp932', 'ja', 'Japanese'),
                    ('zh_TW.UTF-8', '886', 'cp950', 'zh-tw', 'Traditional Chinese'))
DIALOG_CLASS = '#32770'
# Time for a property sheet shown again to draw its page.
PAGE_SHOWN_SECONDS = 0.5
# Where what the programs and the test library say goes, unless --verbose.
DEMO_LOG = 'demo.log'
# A tooltip closes this long after the pointer left its icon (Wine: at once).
TOOLTIP_GONE_SECONDS = 0.5
# How long a key may take to show its effect before the timeline says "nothing".
EFFECT_SECONDS = 3.0


class Timeline:
    """The story: to the terminal, and to the log among the rest."""

    def __init__(self, terminal):
        self.started = time.monotonic()
        self.lines = []
        self.terminal = terminal

    def say(self, what):
        line = '%7.2f s  %s' % (time.monotonic() - self.started, what)
        print(line, file=self.terminal, flush=True)
        if sys.stdout is not self.terminal:
            print(line, flush=True)
        self.lines.append(line)

    def save(self, path):
        with open(path, 'w') as f:
            f.write('\n'.join(self.lines) + '\n')


# What the agent sends: keys, characters, command messages, clicks and
# close requests; the window manager's own traffic is left out.
AGENT_MESSAGES = ('WM_KEY', 'WM_SYSKEY', 'WM_CHAR', 'WM_SYSCHAR', 'WM_USER', 'WM_COMMAND', 'WM_SYSCOMMAND',
                  'WM_CLOSE', 'WM_LBUTTON', 'WM_RBUTTON', 'WM_QUIT', 'MSG_911')


def sent_by_agent(m):
    return m.name.startswith(AGENT_MESSAGES)


def message_text(m):
    mods = '+'.join(m.mods)
    return '%s(0x%x) wParam %d lParam 0x%x%s' % (m.name, m.msg, m.wparam, m.lparam, ' with ' + mods if mods else '')


def around(rect, margin=6):
    """A window's rectangle with a little of the desktop around it."""
    left, top, right, bottom = rect
    return (max(0, left - margin), max(0, top - margin), right + margin, bottom + margin)


class PointerTrail:
    """The pointer's places, sampled from the X server while a key is held,
    and a picture of them: a dot per place the pointer stopped at."""

    SAMPLE_SECONDS = 0.01

    def __init__(self, t):
        self.t = t
        self.points = [x_pointer(t)]
        self.running = True
        self.thread = threading.Thread(target=self.sample, daemon=True)
        self.thread.start()

    def sample(self):
        while self.running:
            point = x_pointer(self.t)
            if point != self.points[-1]:
                self.points.append(point)
            time.sleep(self.SAMPLE_SECONDS)

    def stop(self):
        self.running = False
        self.thread.join()
        return self.points

    def box(self, margin):
        xs, ys = [p[0] for p in self.points], [p[1] for p in self.points]
        return (max(0, min(xs) - margin), max(0, min(ys) - margin), max(xs) + margin, max(ys) + margin)

    def draw(self, screenshot_path, target):
        marks = ['-fill', '#ffd000', '-stroke', '#202020']
        for x, y in self.points:
            marks += ['-draw', 'circle %d,%d %d,%d' % (x, y, x + 3, y)]
        subprocess.run([agent_image.convert_program(), screenshot_path] + marks + [target], check=True, timeout=60)


class Demo:
    def __init__(self, build, out, terminal, dpi=None, docs=None):
        self.build = build
        self.out = out
        self.dpi = dpi
        self.docs = docs
        self.timeline = Timeline(terminal)
        self.say = self.timeline.say
        self.shots = []
        self.expected = 0
        self.missed = []

    def expect(self, what, seen):
        """Counts one effect the session expects; a missed one is said."""
        self.expected += 1
        if not seen:
            self.missed.append(what)
            self.say('    !! expected %s: not seen' % what)
        return seen

    def verdict(self, stopped=None):
        seen = self.expected - len(self.missed)
        line = '%d of %d expected effects seen' % (seen, self.expected)
        if stopped:
            line += '; the session stopped early: %s' % stopped
        elif self.missed:
            line += '; missed: %s' % '; '.join(self.missed)
        return line, not stopped and not self.missed and self.expected > 0

    def doc_picture(self, name, source, crop):
        """Crops a screenshot into the docs folder as NAME.png, with no
        metadata that would change the file from run to run."""
        if not self.docs:
            return
        left, top, right, bottom = crop
        target = os.path.join(self.docs, name + '.png')
        subprocess.run([agent_image.convert_program(), source, '-crop',
                        '%dx%d+%d+%d' % (right - left, bottom - top, left, top), '+repage', '-strip',
                        '-define', 'png:exclude-chunks=date,time', target], check=True, timeout=60)
        self.say('  picture %s' % os.path.relpath(target, TOP))

    def program(self, name):
        path = os.path.join(self.build, PROGRAMS[name])
        if not os.path.isfile(path):
            raise SystemExit('%s is missing: build the preset first (scripts/demo.sh does)' % path)
        return path

    # ----------------------------------------------------------------------
    # The prefix, the box, the stand-ins and the agent

    def setup(self):
        arch = winelib.arch_of(self.program('tunerpad'))
        self.say('running the %d-bit build (%s prefix)' % (arch.bits, arch.name))
        self.display = os.environ.get('DISPLAY') or winelib.display(self.out)
        path = self.fresh_prefix(os.path.join(self.out, 'prefix'), arch)
        # The logs of an earlier demo in the same folder would read as this
        # one's; this run's own log is kept.
        for name in os.listdir(self.out):
            if name == DEMO_LOG:
                continue
            if name.endswith(('.log', '.commands', '.png')) or name == 'timeline.txt':
                os.remove(os.path.join(self.out, name))
        prefix = winelib.Prefix(path, arch, self.display, self.out)
        self.t = winelib.Context(prefix, {n: self.program(n) for n in PROGRAMS}, self.out)
        # The wizard's texts, country 1 and the two Uninstall entries first:
        # setup() below writes the registry files once more, still offline.
        wizard_lib.prepare(self.t, uninstallers=True)
        # The screen's logical resolution, as a user sets it in the display
        # settings: 96 is 100 %, 144 is 150 %.
        screen = [(DESKTOP_KEY, 'LogPixels', self.dpi)] if self.dpi else []
        self.box, self.stubs = setup(self.t, ['roviver', 'powervcr', 'windvr'], user_values=screen)
        if self.dpi:
            self.say('the screen at %d dpi' % self.dpi)
        self.say('capture box registered as "%s"; stand-ins of %s installed'
                 % (self.box.name, ', '.join(STUB_NAMES[r] for r in self.stubs)))

    def fresh_prefix(self, path, arch):
        """A copy of the template prefix at `path`, made first when needed."""
        template = winelib.Template(arch, os.path.join(self.build, 'tests', 'wine', 'prefixes'))
        template.ensure(self.display, winelib.boot_timeout(arch))
        if os.path.isdir(path):
            winelib.Prefix(path, arch, self.display, os.path.dirname(path)).stop()
            shutil.rmtree(path)
        template.copy_to(path)
        return path

    def wizard_languages(self):
        """The wizard as Japanese and Taiwanese users see it: the ANSI code
        page of their locale, their country's section of REDerUro.ini. Each
        page is pictured, and every text and check box label must fit."""
        arch = self.t.arch
        for locale, country, codepage, tag, language in WIZARD_LANGUAGES:
            # The section's title as text: the INI holds it in the code page's bytes.
            title = shipped_section(country)['UninstallWizardAppTitle'].encode('latin-1').decode(codepage)
            folder = os.path.join(self.out, 'wizard-' + tag)
            os.makedirs(folder, exist_ok=True)
            prefix = winelib.Prefix(self.fresh_prefix(os.path.join(folder, 'prefix'), arch), arch, self.display,
                                    folder)
            prefix.env.update(LC_ALL=locale, LANG=locale)
            t = winelib.Context(prefix, {n: self.program(n) for n in PROGRAMS}, folder)
            wizard_lib.prepare(t, uninstallers=True)
            prefix.set_saved_value(wizard_lib.COUNTRY_KEY, 'iCountry', country)
            try:
                wizard = prefix.start(prefix.install(t.program('clearway'), wizard_lib.WIZARD_DIR))
                page = wait_window(t, cls=DIALOG_CLASS)
                self.say('the wizard in %s (%s, country %s): page 1' % (language, locale, country))
                self.expect_fits('%s page 1' % language, page)
                screenshot(t, 'page1')
                self.doc_picture('wizard-page1-' + tag, t.path('page1.png'), around(page.rect))
                wizard_lib.press(t, wizard_lib.PSBTN_NEXT, title)
                winelib.wait_until(lambda: len(wizard_lib.uninstall_log(t)) >= 4, t.seconds(30),
                                   'both uninstallers to end')
                # The removals ran with the sheet hidden; it shows again with page 2.
                page = wait_window(t, cls=DIALOG_CLASS)
                time.sleep(PAGE_SHOWN_SECONDS)
                self.say('the wizard in %s: page 2' % language)
                self.expect_fits('%s page 2' % language, page)
                screenshot(t, 'page2')
                self.doc_picture('wizard-page2-' + tag, t.path('page2.png'), around(page.rect))
                wizard_lib.press(t, wizard_lib.PSBTN_FINISH, title)
                self.expect('the %s wizard ending on Finish' % language, wizard.wait(t.seconds(20)) == 0)
            finally:
                prefix.stop()

    def expect_fits(self, what, window):
        clipped = [c['text'] for c in window.controls if not c['fits']]
        for text in clipped:
            self.say('    !! cut off: "%s"' % text)
        self.expect('every text of the %s whole in its control' % what, not clipped)

    def start_agent(self):
        self.agent = start_agent(self.t)
        self.box.wait_polling(15)
        polls = self.box.polls()
        idle = next(p for p in reversed(polls) if len(p) == 6)
        self.say('tunerpad is running (pid %d), polling the box every %d ms; one idle poll:'
                 % (self.agent.pid, self.box.tick_period(polls[-12:])))
        for ms, kind, ident, word, result in idle:
            self.say('    %s property 0x%04x word 0x%x -> 0x%x' % (kind, ident, word, result))

    def shot(self, name, crop=None):
        screenshot(self.t, name, crop=crop)
        self.shots.append(name + ('-crop' if crop else '') + '.png')
        self.say('  screenshot %s.png' % name)

    # ----------------------------------------------------------------------
    # Keys and what became of them

    def marks(self):
        return {role: [len(r.messages) for r in stub.runs()] for role, stub in self.stubs.items()}

    def lives(self):
        """{application: (runs started, runs ended)} of the stand-ins."""
        return {STUB_NAMES[role]: (len(stub.runs()), sum(1 for r in stub.runs() if r.exited))
                for role, stub in self.stubs.items()}

    def received_since(self, marks):
        """[(application, message)] the stand-ins logged since `marks`."""
        out = []
        for role, stub in self.stubs.items():
            before = marks.get(role, [])
            for i, run in enumerate(stub.runs()):
                start = before[i] if i < len(before) else 0
                out += [(STUB_NAMES[role], m) for m in run.messages[start:] if m.window == 'main']
        return out

    def key(self, code, what, wait_for=None, effect=None):
        """Presses remote key `code` and reports what became of it: the
        messages the stand-ins received, or `effect()`'s words."""
        marks = self.marks()
        before = x_pointer(self.t)
        self.say('remote key %-2d (%s)' % (code, what))
        self.box.press(code)
        waited = True
        if wait_for:
            try:
                winelib.wait_until(wait_for, self.t.seconds(30), what)
            except winelib.Timeout:
                waited = False
        else:
            deadline = time.monotonic() + EFFECT_SECONDS
            while (time.monotonic() < deadline and not self.received_since(marks)
                   and x_pointer(self.t) == before):
                time.sleep(0.1)
            time.sleep(0.3)  # the rest of a chord
        sent = [(app, m) for app, m in self.received_since(marks) if sent_by_agent(m)]
        for app, m in sent:
            self.say('    -> %s window received %s' % (app, message_text(m)))
        after = x_pointer(self.t)
        if after != before:
            self.say('    -> pointer moved %r -> %r' % (before, after))
        if effect and waited:
            self.say('    -> %s' % effect())
        self.expect('an effect of remote key %d (%s)' % (code, what),
                    waited if wait_for else bool(sent) or after != before)
        self.box.wait_quiet()

    def window_count(self, cls):
        r = run_tool(self.t, 'wineprobe', 'count-windows', cls, expect=None)
        return r.output.strip() == 'count=1'

    # ----------------------------------------------------------------------
    # The session

    def tray_and_dialogs(self):
        if self.dpi in (None, 96):
            self.tray_menu_about()
        else:
            # The icon is found on the screen by its 16-pixel image: at another
            # resolution About comes by its command instead.
            self.say('the About command (the agent\'s accelerator Alt+/): the About dialog')
            command(self.t, CMD_ABOUT)
            wait_window(self.t, title=ABOUT_TITLE)
            self.shot('03-about')
        run_tool(self.t, 'agent_ui', 'click', ABOUT_TITLE, IDOK)
        wait_gone(self.t, ABOUT_TITLE)
        self.setting()

    def tray_menu_about(self):
        (x, y), _ = wait_tray_icon(self.t, '01-tray-icon', present=True)
        self.shots.append('01-tray-icon-crop.png')
        self.say('the icon shows in the notification area at (%d, %d)' % (x, y))
        # The menu covers the icon at the screen's edge: a picture of each.
        self.doc_picture('tray-icon', self.t.path('01-tray-icon.png'),
                         (x - 64, y - 8, DESKTOP_SIZE[0], DESKTOP_SIZE[1]))
        set_pointer(self.t, x + 8, y + 8)
        tray_click(self.t)
        menu = wait_window(self.t, cls=MENU_CLASS)
        self.say('right button on the icon: the menu opens (RoviverUVA, About, Exit)')
        self.expect('the menu on a right click', True)
        # Off the icon, whose tooltip would cover the menu's last item, and
        # off the menu, whose items would light up.
        set_pointer(self.t, menu.rect[0] - 80, menu.rect[1])
        time.sleep(TOOLTIP_GONE_SECONDS)
        self.shot('02-tray-menu', crop=below_right(menu.rect))
        self.doc_picture('tray-menu', self.t.path('02-tray-menu.png'), below_right(menu.rect, margin=12))
        # RoviverUVA is the first item when it is installed, About the next.
        run_tool(self.t, 'agent_ui', 'type', VK_DOWN, VK_DOWN, VK_RETURN)
        wait_window(self.t, title=ABOUT_TITLE)
        self.say('About chosen from the menu')
        self.expect('the About dialog from the menu', True)
        self.shot('03-about')

    def setting(self):
        self.say('the Setting command (the agent\'s accelerator Alt+?): the Setting dialog')
        command(self.t, CMD_SETTING)
        setting = wait_window(self.t, title=SETTING_TITLE)
        self.expect('the Setting dialog', True)
        self.shot('04-setting')
        self.doc_picture('setting', self.t.path('04-setting.png'), around(setting.rect))
        out = run_tool(self.t, 'agent_ui', 'combo', SETTING_TITLE, SETTING_COMBO).output
        self.say('  it lists: %s' % ', '.join(line.split('"')[1] for line in out.splitlines()
                                              if line.startswith('item ')))
        run_tool(self.t, 'agent_ui', 'click', SETTING_TITLE, IDOK)
        wait_gone(self.t, SETTING_TITLE)
        got = self.t.prefix.reg_query(r'HKLM\SOFTWARE\Vuzided Ivavevariv\Velotune Utilities', 'DefaultTVAPP')
        self.say('  OK: DefaultTVAPP = %s (RoviverUVA)' % (got[1],))
        self.expect('DefaultTVAPP 3 stored by OK', got is not None and got[1] == 3)

    def roviver(self):
        roviver = self.stubs['roviver']
        self.key(KEY_POWER, 'Power, no application running', lambda: self.window_count(ROVIVER_CLASS),
                 effect=lambda: 'the default application, RoviverUVA, started (its window "%s")' % ROVIVER_CLASS)
        self.shot('05-roviver-started')
        for code, what in ((1, 'digit 1'), (2, 'digit 2'), (3, 'digit 3'), (12, 'a key of the map'),
                           (14, 'a key of the map'), (11, 'second start key')):
            self.key(code, what)
        self.key(KEY_POWER, 'Power, RoviverUVA running', lambda: roviver.runs() and roviver.runs()[-1].exited,
                 effect=lambda: 'RoviverUVA closed')

    def desktop(self):
        self.say('no application: direction keys drive the desktop pointer')
        set_pointer(self.t, 300, 300)
        self.key(6, 'right, pressed once')
        before = x_pointer(self.t)
        self.say('remote key 9  (down-right, held for 2 s)')
        path = PointerTrail(self.t)
        keys = self.box.hold(9, 2000)
        points = path.stop()
        after = x_pointer(self.t)
        steps = [b[0] - a[0] for a, b in zip(points, points[1:]) if b != a]
        self.say('    -> %d key reads taken, pointer %r -> %r in steps of %s pixels (slow at first, then faster)'
                 % (len(keys), before, after, ', '.join(str(d) for d in steps)))
        self.expect('the pointer accelerating while key 9 is held', len(set(steps)) >= 2 and after[0] > before[0])
        if self.docs:
            shot = self.t.path('pointer-path.png')
            screenshot(self.t, 'pointer-path')
            trail = os.path.join(self.out, 'pointer-trail.png')
            path.draw(shot, trail)
            self.doc_picture('pointer-path', trail, path.box(margin=24))
        self.box.wait_quiet()

    def powervcr(self):
        powervcr = self.stubs['powervcr']
        self.say('the user starts PowerVCR II')
        self.t.prefix.start(powervcr.program)
        run_tool(self.t, 'tvpost', '-w', 30000, 'find', POWERVCR_CLASS)
        powervcr.wait_run(1)
        self.shot('06-powervcr')
        for code, what in ((13, 'a posted key'), (1, 'digit 1'), (0, 'a key chord')):
            self.key(code, what)
        self.say('the box\'s snapshot button')
        marks = self.marks()
        self.box.remote('snapshot')
        winelib.wait_until(lambda: any(k for k in self.box.taken_keys() if k[1] == 19) or self.received_since(marks),
                           self.t.seconds(10), 'the snapshot button read')
        time.sleep(0.5)
        sent = [(app, m) for app, m in self.received_since(marks) if sent_by_agent(m)]
        for app, m in sent:
            self.say('    -> taken as key 19: %s window received %s' % (app, message_text(m)))
        self.expect('the snapshot button reaching PowerVCR II as key 19', bool(sent))
        self.box.wait_quiet()
        marks = self.marks()
        self.say('remote key 1  (held for 2.5 s: the application gets the press and every tenth repeat)')
        keys = self.box.hold(1, 2500)
        time.sleep(0.3)
        got = [m for _, m in self.received_since(marks) if m.name == 'WM_KEYDOWN']
        self.say('    -> %d codes read while held, PowerVCR II received %d WM_KEYDOWN' % (len(keys), len(got)))
        # The press and every tenth repeat: 2.5 s of codes every 108 ms.
        self.expect('a held key thinned to the press and every tenth repeat', 1 < len(got) <= 1 + len(keys) // 10)
        self.box.wait_quiet()
        self.key(KEY_POWER, 'Power, PowerVCR II running', lambda: powervcr.runs()[-1].exited,
                 effect=lambda: 'PowerVCR II closed with its Ctrl+X')

    def windvr(self):
        windvr = self.stubs['windvr']
        self.say('the user starts WinDVR')
        self.t.prefix.start(windvr.program)
        wait_window(self.t, title=WINDVR_TITLE)
        windvr.wait_run(1)
        for code, what in ((1, 'digit 1'), (16, 'a key of the map'), (24, 'a key of the map')):
            self.key(code, what)
        self.key(KEY_POWER, 'Power, WinDVR running', lambda: windvr.runs()[-1].exited,
                 effect=lambda: 'WinDVR closed')

    def unplug(self):
        self.say('the capture box is unplugged')
        self.box.remote('unplug')
        gone = winelib.wait_until(lambda: [c for c in self.box.calls() if c[4] == DEVICE_GONE], self.t.seconds(10),
                                  'the agent seeing the box gone')[0]
        self.say('    -> a poll was answered 0x%08X (device gone): polling stops, a retry every %d ms'
                 % (DEVICE_GONE, RETRY_MS))

        def retries():
            starts = []
            for ms, text in self.box.notes():
                if text == 'bind refused: unplugged' and ms > gone[0] and (not starts or ms - starts[-1] > 1000):
                    starts.append(ms)
            return starts
        winelib.wait_until(lambda: len(retries()) >= 2, self.t.seconds(20), 'two retries')
        self.say('    -> retries at %s ms after the loss' % ', '.join('+%d' % (ms - gone[0]) for ms in retries()))
        self.expect('a retry every %d ms while unplugged' % RETRY_MS,
                    all(abs(b - a - RETRY_MS) < 500 for a, b in zip([gone[0]] + retries(), retries())))
        self.say('the capture box is plugged back in')
        self.box.remote('plug')
        back = winelib.wait_until(lambda: [c for c in self.box.calls() if c[4] == 0 and c[0] > gone[0]],
                                  self.t.seconds(10), 'polling to resume')[0]
        self.say('    -> the next retry found it: polling resumed %.1f s after the loss' % ((back[0] - gone[0]) / 1000.0))
        self.expect('polling again after the plug', True)
        set_pointer(self.t, 400, 300)
        self.key(4, 'left: the remote works again')

    def shutdown_prompt(self):
        self.say('remote key %-2d (Shut Down)' % KEY_SHUTDOWN)
        self.box.press(KEY_SHUTDOWN)
        prompt = wait_window(self.t, title=SHUTDOWN_TITLE)
        self.say('    -> the Shut Down prompt opened, in front of everything')
        self.expect('the Shut Down prompt, topmost', prompt.topmost)
        self.shot('07-shutdown-prompt')
        self.doc_picture('shutdown-prompt', self.t.path('07-shutdown-prompt.png'), around(prompt.rect))
        self.say('remote key 5  (any key but Power cancels)')
        self.box.press(5)
        wait_gone(self.t, SHUTDOWN_TITLE)
        self.say('    -> the prompt closed; nothing was shut down')
        self.expect('the prompt cancelled by another key', self.agent.running)
        self.box.wait_quiet()

    def uninstall_wizard(self):
        self.say('clearway, the uninstall wizard, is started')
        wizard = wizard_lib.start_wizard(self.t)
        page = wait_window(self.t, title=wizard_lib.WIZARD_TITLE)
        self.shot('08-wizard-page1')
        self.doc_picture('wizard-page1', self.t.path('08-wizard-page1.png'), around(page.rect))
        self.say('Next with both boxes checked')
        wizard_lib.press(self.t, wizard_lib.PSBTN_NEXT)
        code = self.agent.wait(self.t.seconds(20))
        self.say('    -> the agent closed (exit %s)' % code)
        self.expect('the agent closed by the wizard', code == 0)
        winelib.wait_until(lambda: len(wizard_lib.uninstall_log(self.t)) >= 4, self.t.seconds(30),
                           'both uninstallers to end')
        steps = wizard_lib.parse_log(wizard_lib.uninstall_log(self.t))
        for name, what, tick, states in steps:
            self.say('    -> at +%d ms the %s uninstaller %s%s' % (
                tick - steps[0][2], name, 'started' if what == 'start' else 'ended',
                ' (the wizard hidden, no agent window)' if what == 'start' else ''))
        self.expect('both uninstallers run one after the other',
                    [(name, what) for name, what, _, _ in steps] ==
                    [(steps[0][0], 'start'), (steps[0][0], 'end'), (steps[2][0], 'start'), (steps[2][0], 'end')])
        wizard_lib.wait_shown(self.t, wizard, wizard_lib.TEXTS['UninstallWizardTPG2Tip1'])
        self.shot('09-wizard-page2')
        self.doc_picture('wizard-page2', self.t.path('09-wizard-page2.png'), around(page.rect))
        wizard_lib.press(self.t, wizard_lib.PSBTN_FINISH)
        code = wizard.wait(self.t.seconds(20))
        self.say('    -> Finish: the wizard ended (exit %s)' % code)
        self.expect('the wizard ending on Finish', code == 0)

    def session(self):
        self.tray_and_dialogs()
        self.roviver()
        self.desktop()
        self.powervcr()
        self.windvr()
        self.unplug()
        self.shutdown_prompt()
        self.uninstall_wizard()

    def interactive(self):
        """Answers every key the agent takes with what became of it, until
        the agent ends or Ctrl+C ends it."""
        print('\nThe agent runs. In another terminal, press the remote\'s keys by name or code\n'
              '(docs/keys.md lists them):\n'
              '  export BOXSIM_COMMANDS=%s\n'
              '  %s press power      %s hold right 2000      %s press 21\n'
              '(also: snapshot, unplug, plug). Each key is answered here. Ctrl+C ends the demo.\n'
              % (self.box.commands, REMOTE, REMOTE, REMOTE), file=self.timeline.terminal, flush=True)
        names = {}
        for name, code in remote_command.key_names().items():
            names.setdefault(code, name)
        taken = len(self.box.taken_keys())
        marks, pointer = self.marks(), x_pointer(self.t)
        held = None  # [code, ms of the last read, reads] of the key being held
        seen_lives = self.lives()
        try:
            while self.agent.running:
                # What the windows got first: a key's read is logged before
                # what the agent sends for it, so every effect read here
                # belongs to a key read below.
                got = [(app, m) for app, m in self.received_since(marks) if sent_by_agent(m)]
                lives = self.lives()
                marks = self.marks()
                keys = self.box.taken_keys()
                for ms, code in keys[taken:]:
                    if held and held[0] == code and ms - held[1] < REPEAT_WINDOW_MS:
                        held[1:] = [ms, held[2] + 1]
                        continue
                    if held and held[2] > 1:
                        self.say('    (held: %d reads)' % held[2])
                    held = [code, ms, 1]
                    self.say('remote key %-2d (%s)' % (code, names.get(code, 'no name')))
                taken = len(keys)
                for app, m in got:
                    self.say('    -> %s window received %s' % (app, message_text(m)))
                for app, (runs, ended) in lives.items():
                    before = seen_lives.get(app, (0, 0))
                    if runs > before[0]:
                        self.say('    -> %s started' % app)
                    if ended > before[1]:
                        self.say('    -> %s closed' % app)
                seen_lives = lives
                now = x_pointer(self.t)
                if now != pointer:
                    self.say('    -> pointer moved %r -> %r' % (pointer, now))
                    pointer = now
                time.sleep(0.2)
            self.say('the agent ended (exit %s)' % self.agent.proc.returncode)
        except KeyboardInterrupt:
            self.say('Ctrl+C: closing the agent')
            try:
                post_to_agent(self.t, WM_CLOSE, 0)
                self.say('    -> the agent ended (exit %s)' % self.agent.wait(self.t.seconds(20)))
            except (AssertionError, subprocess.SubprocessError) as e:
                self.say('    -> the agent did not close (%s); the prefix is stopped' % str(e).splitlines()[0])

    def finish(self):
        t = getattr(self, 't', None)
        if t:
            t.prefix.stop()
        path = os.path.join(self.out, 'timeline.txt')
        self.timeline.save(path)
        terminal = self.timeline.terminal
        print('\ntimeline: %s' % path, file=terminal)
        if self.shots:
            rows = [self.shots[i:i + 4] for i in range(0, len(self.shots), 4)]
            print('screenshots in %s:' % self.out, file=terminal)
            for row in rows:
                print('  ' + '  '.join(row), file=terminal)
        if t:
            print('box property calls: %s (%d calls)' % (self.box.log, len(self.box.calls())), file=terminal)
        if sys.stdout is not terminal:
            print('everything else the programs and the test library said: %s' % sys.stdout.name, file=terminal)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--build', required=True, help='the build tree (win32, or win64 where 32-bit Wine is emulated)')
    parser.add_argument('--out', default=None, help='folder for the screenshots and logs')
    parser.add_argument('--interactive', action='store_true', help='press the remote keys yourself')
    parser.add_argument('--dpi', type=int, choices=(96, 120, 144, 192), help='the screen\'s logical resolution')
    parser.add_argument('--verbose', action='store_true', help='show what the programs and the test library say')
    parser.add_argument('--docs', action='store_true', help='crop the README\'s pictures into docs/')
    args = parser.parse_args()
    out = os.path.abspath(args.out or os.path.join(args.build, 'demo'))
    os.makedirs(out, exist_ok=True)
    docs = os.path.join(TOP, 'docs') if args.docs else None
    if docs:
        os.makedirs(docs, exist_ok=True)
    terminal = sys.stdout
    if not args.verbose:
        sys.stdout = open(os.path.join(out, DEMO_LOG), 'w', buffering=1)
    demo = Demo(os.path.abspath(args.build), out, terminal, args.dpi, docs)
    stopped = None
    try:
        demo.setup()
        demo.start_agent()
        if args.interactive:
            demo.interactive()
            return 0
        demo.session()
        if docs:
            demo.wizard_languages()
    except (AssertionError, winelib.Timeout) as e:
        stopped = str(e).splitlines()[0]
        traceback.print_exc()
    finally:
        demo.finish()
    line, ok = demo.verdict(stopped)
    print('\n' + line, file=terminal, flush=True)
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
