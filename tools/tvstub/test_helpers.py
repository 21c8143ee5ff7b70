"""install.py and tvlog.py without Wine: paths, registry text, log parsing."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import install  # noqa: E402
import tvlog  # noqa: E402


class InstallTest(unittest.TestCase):
    def test_directory_loses_its_trailing_backslash_but_a_root_keeps_it(self):
        self.assertEqual(install.windows_dir('C:\\Program Files\\WinDVR\\'), 'C:\\Program Files\\WinDVR')
        self.assertEqual(install.windows_dir('D:\\'), 'D:\\')
        with self.assertRaises(ValueError):
            install.windows_dir('Program Files\\WinDVR')

    def test_unix_path_goes_through_the_drive_link(self):
        self.assertEqual(install.unix_path('/p', 'C:\\Program Files\\X\\a.ini'),
                         os.path.join('/p', 'dosdevices', 'c:', 'Program Files', 'X', 'a.ini'))

    def test_64_bit_prefixes_get_both_registry_views(self):
        d = 'C:\\TV Plus'
        self.assertEqual(install.registry_entries('roviver', d, 32),
                         [('Software\\Honestech\\TV Plus\\TVR', 'AppPath', d)])
        self.assertEqual(install.registry_entries('powervcr', d + '\\', 64),
                         [('Software\\Cyberlink\\PowerVCR II', 'InstallPath', d),
                          ('Software\\Wow6432Node\\Cyberlink\\PowerVCR II', 'InstallPath', d)])

    def test_reg_file_escapes_and_groups_values_by_key(self):
        text = install.reg_file_text([('Software\\A', 'PATH', 'C:\\x "y"'), ('Software\\A', 'N', 'v')])
        self.assertEqual(text.split('\r\n'), [
            'Windows Registry Editor Version 5.00', '', '[HKEY_LOCAL_MACHINE\\Software\\A]',
            '"PATH"="C:\\\\x \\"y\\""', '"N"="v"', '', ''])

    def test_prefix_bits_come_from_system_reg(self):
        with tempfile.TemporaryDirectory() as prefix:
            for arch, bits in (('win64', 64), ('win32', 32)):
                with open(os.path.join(prefix, 'system.reg'), 'w') as f:
                    f.write('WINE REGISTRY Version 2\n\n#arch=%s\n' % arch)
                self.assertEqual(install.prefix_bits(prefix), bits)

    def test_stage_names_the_program_and_writes_the_ini(self):
        with tempfile.TemporaryDirectory() as prefix:
            os.makedirs(os.path.join(prefix, 'dosdevices'))
            os.makedirs(os.path.join(prefix, 'drive_c'))
            os.symlink(os.path.join(prefix, 'drive_c'), os.path.join(prefix, 'dosdevices', 'c:'))
            exe = os.path.join(prefix, 'tvstub.exe')
            with open(exe, 'wb') as f:
                f.write(b'MZ')
            done = install.stage(prefix, exe, 'roviver', 'C:\\TV Plus\\', title='T')
            self.assertEqual(done, install.Installed('roviver', 'C:\\TV Plus\\honestechTV.EXE',
                                                     'C:\\TV Plus\\tvstub.ini', 'C:\\TV Plus\\tvstub.log'))
            with open(os.path.join(prefix, 'drive_c', 'TV Plus', 'tvstub.ini'), 'rb') as f:
                self.assertEqual(f.read(), b'[tvstub]\r\nRole=roviver\r\nLog=C:\\TV Plus\\tvstub.log\r\nTitle=T\r\n')

    def test_roles_sharing_a_registry_value_are_not_installed_together(self):
        def run(args):
            self.fail('nothing should run: %s' % args)
        with self.assertRaises(ValueError):
            install.install('/nonexistent', 'tvstub.exe', [('honestech', 'C:\\a'), ('roviver', 'C:\\b')], run)


class LogTest(unittest.TestCase):
    LOG = ('start roviver 40\r\n'
           '12 main 0x1 0x0 0x21e8d0 WM_CREATE\r\n'
           '30 main 0xbd0 0x2715 0x0 WM_USER+2000\r\n'
           '31 child 0x100 0x58 0x2d0001 WM_KEYDOWN ctrl shift\r\n'
           'exit\r\n'
           'start winrip 52\r\n'
           '5 main 0x10 0x0 0x0 WM_CLOSE\r\n'
           '6 main 0x2 0x0 0x0 WM_DES')

    def test_runs_messages_and_a_line_still_being_written(self):
        first, second = tvlog.parse(self.LOG)
        self.assertEqual((first.role, first.pid, first.exited), ('roviver', 40, True))
        self.assertEqual(first.messages[2], tvlog.Message(31, 'child', 0x100, 0x58, 0x2d0001, 'WM_KEYDOWN',
                                                          ('ctrl', 'shift')))
        self.assertEqual((second.role, second.exited, len(second.messages)), ('winrip', False, 1))

    def test_a_start_line_may_give_the_clock_origin(self):
        runs = tvlog.parse('start winrip 7 123456789012\r\n40 main 0x10 0x0 0x0 WM_CLOSE\r\nstart roviver 8\r\n')
        self.assertEqual([(r.role, r.pid, r.origin_us) for r in runs],
                         [('winrip', 7, 123456789012), ('roviver', 8, None)])
        self.assertEqual(runs[0].messages[0].ms, 40)
        with self.assertRaises(ValueError):
            tvlog.parse('start winrip 7 1 2\r\n')

    def test_find_matches_every_given_field_from_start(self):
        run = tvlog.parse(self.LOG)[0]
        self.assertEqual(run.find(0xbd0, 0x2715), 1)
        self.assertIsNone(run.find(0xbd0, 1))
        self.assertIsNone(run.find(0x100, 0x58, window='main'))
        self.assertEqual(run.find(0x100, 0x58, 0x2d0001, 'child'), 2)
        self.assertIsNone(run.find(0x1, start=1))

    def test_lines_outside_a_run_are_errors(self):
        for text in ('12 main 0x1 0x0 0x0 WM_CREATE\n', 'start a 1\nexit\n5 main 0x2 0x0 0x0 WM_DESTROY\n',
                     'start a 1\nbroken line\n'):
            with self.assertRaises(ValueError, msg=text):
                tvlog.parse(text)


if __name__ == '__main__':
    unittest.main()
