"""Tests of the Wine test harness's own parts that need no Wine.

With WINE_TEST_PROGRAM and WINE_TEST_BITS set (as ctest does) it also checks
that the built program is of the build's architecture and gets its Wine.
"""
import os
import struct
import subprocess
import tempfile
import time
import unittest

import check_imports
import winelib

SAMPLE_REG = r'''WINE REGISTRY Version 2
;; All keys relative to \\Machine

#arch=win32

[Software\\Vuzided Ivavevariv\\Velotune Utilities] 1700000000
#time=1d9a1b2c3d4e5f6
"AlwaysRemoteOff"=dword:00000000
"DefaultTVAPP"=dword:00000003
"Folder"="C:\\Program Files\\Velotune \"Utilities\""

[Software\\Other] 1700000000
@="default"
"Multi"=hex(7):61,00,00,00,62,00,00,00,\
  00,00
"Blob"=hex:01,02,ff
"Wide"="caf\x00e9"
'''


class RegFileTest(unittest.TestCase):
    def setUp(self):
        fd, self.path = tempfile.mkstemp(suffix='.reg')
        with os.fdopen(fd, 'w') as f:
            f.write(SAMPLE_REG)
        self.addCleanup(os.unlink, self.path)

    def test_reads_typed_values_case_insensitively(self):
        reg = winelib.RegFile(self.path)
        key = r'SOFTWARE\vuzided ivavevariv\Velotune Utilities'
        self.assertEqual(reg.get(key, 'defaulttvapp'), ('REG_DWORD', 3))
        self.assertEqual(reg.get(key, 'AlwaysRemoteOff'), ('REG_DWORD', 0))
        self.assertEqual(reg.get(key, 'Folder'), ('REG_SZ', 'C:\\Program Files\\Velotune "Utilities"'))
        self.assertIsNone(reg.get(key, 'Missing'))
        self.assertIsNone(reg.get(r'Software\Vuzided Ivavevariv', 'DefaultTVAPP'))

    def test_reads_continued_binary_and_escaped_values(self):
        reg = winelib.RegFile(self.path)
        self.assertEqual(reg.get(r'Software\Other', 'Multi'), ('REG_MULTI_SZ', ['a', 'b']))
        self.assertEqual(reg.get(r'Software\Other', 'Blob'), ('REG_BINARY', b'\x01\x02\xff'))
        self.assertEqual(reg.get(r'Software\Other', '@'), ('REG_SZ', 'default'))
        self.assertEqual(reg.get(r'Software\Other', 'Wide'), ('REG_SZ', 'caf\u00e9'))

    def test_set_replaces_adds_and_creates_keys(self):
        reg = winelib.RegFile(self.path)
        key = r'Software\Vuzided Ivavevariv\Velotune Utilities'
        reg.set(key, 'AlwaysRemoteOff', 1)
        reg.set(key, 'New', 'a "quoted" \\ path')
        reg.set(r'Software\Wine\Explorer\Desktops', 'Default', '1024x768')
        reg.save()
        again = winelib.RegFile(self.path)
        self.assertEqual(again.get(key, 'AlwaysRemoteOff'), ('REG_DWORD', 1))
        self.assertEqual(again.get(key, 'DefaultTVAPP'), ('REG_DWORD', 3))
        self.assertEqual(again.get(key, 'New'), ('REG_SZ', 'a "quoted" \\ path'))
        self.assertEqual(again.get(r'software\wine\explorer\desktops', 'Default'), ('REG_SZ', '1024x768'))
        self.assertEqual(again.values(r'Software\Other')['Blob'], b'\x01\x02\xff')
        with open(self.path) as f:
            text = f.read()
        self.assertEqual(text.count('"AlwaysRemoteOff"='), 1)
        self.assertIn('[Software\\\\Wine\\\\Explorer\\\\Desktops] ', text)

    def test_set_refuses_what_it_cannot_write(self):
        reg = winelib.RegFile(self.path)
        with self.assertRaises(ValueError):
            reg.set(r'Software\Other', 'Big', 1 << 32)
        with self.assertRaises(TypeError):
            reg.set(r'Software\Other', 'Flag', True)

    def test_hive_of_a_key(self):
        self.assertEqual(winelib.split_hive(r'HKLM\SOFTWARE\X'), ('system.reg', r'SOFTWARE\X'))
        self.assertEqual(winelib.split_hive(r'HKEY_CURRENT_USER\Software'), ('user.reg', 'Software'))
        with self.assertRaises(ValueError):
            winelib.split_hive(r'HKCR\.txt')


class SavedRegistryTest(unittest.TestCase):
    def test_a_32_bit_program_on_64_bit_windows_sees_wow6432node(self):
        key = r'HKLM\SOFTWARE\Vuzided Ivavevariv\Velotune Utilities'
        for arch, want in ((winelib.WIN64, r'SOFTWARE\Vuzided Ivavevariv\Velotune Utilities'),
                           (winelib.WIN32, r'SOFTWARE\Vuzided Ivavevariv\Velotune Utilities'),
                           (winelib.WOW64, r'SOFTWARE\Wow6432Node\Vuzided Ivavevariv\Velotune Utilities')):
            with tempfile.TemporaryDirectory() as prefix:
                with open(os.path.join(prefix, 'system.reg'), 'w') as f:
                    f.write('WINE REGISTRY Version 2\n')
                reg, rest = winelib.Prefix(prefix, arch, ':0', prefix).saved_registry(key)
                self.assertEqual(rest, want, arch)
                self.assertEqual(reg.path, os.path.join(prefix, 'system.reg'))


class LeftoverTest(unittest.TestCase):
    def test_finds_the_processes_of_its_prefix_only(self):
        with tempfile.TemporaryDirectory() as root:
            mine = winelib.Prefix(os.path.join(root, 'p'), winelib.WIN64, ':0', root)
            procs = [subprocess.Popen(['sleep', '60'], env=dict(os.environ, WINEPREFIX=path))
                     for path in (mine.path, mine.path + '2')]
            try:
                self.assertEqual(mine.leftover_pids(), [procs[0].pid])
            finally:
                for p in procs:
                    p.kill()
                    p.wait()


class RegQueryTest(unittest.TestCase):
    OUTPUT = ('\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Vuzided Ivavevariv\\Velotune Utilities\r\n'
              '    AlwaysRemoteOff    REG_DWORD    0x0\r\n'
              '    DefaultTVAPP    REG_DWORD    0x3\r\n'
              '    Install Dir    REG_SZ    C:\\Program Files\\Velotune\r\n'
              '    Empty    REG_SZ    \r\n\r\n')

    def test_parses_types_and_names_with_spaces(self):
        self.assertEqual(winelib.parse_reg_query(self.OUTPUT, 'DefaultTVAPP'), ('REG_DWORD', 3))
        self.assertEqual(winelib.parse_reg_query(self.OUTPUT, 'alwaysremoteoff'), ('REG_DWORD', 0))
        self.assertEqual(winelib.parse_reg_query(self.OUTPUT, 'Install Dir'),
                         ('REG_SZ', 'C:\\Program Files\\Velotune'))
        self.assertEqual(winelib.parse_reg_query(self.OUTPUT, 'Empty'), ('REG_SZ', ''))
        self.assertIsNone(winelib.parse_reg_query(self.OUTPUT, 'Missing'))


class ImportsTest(unittest.TestCase):
    OBJDUMP = '''
The Import Tables (interpreted .idata section contents)
\tDLL Name: KERNEL32.dll
\tvma:  Hint/Ord Member-Name Bound-To
\tDLL Name: libstdc++-6.dll
\tDLL Name: USER32.dll
\tDLL Name: msvcrt.dll
'''

    def test_finds_every_dll_and_the_foreign_ones(self):
        dlls = check_imports.imported_dlls(self.OBJDUMP)
        self.assertEqual(dlls, ['kernel32.dll', 'libstdc++-6.dll', 'msvcrt.dll', 'user32.dll'])
        self.assertEqual(check_imports.foreign_dlls(dlls), ['libstdc++-6.dll'])
        self.assertEqual(check_imports.foreign_dlls(['kernel32.dll', 'comctl32.dll']), [])

    MANIFEST = '''<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  %s
  <dependency><dependentAssembly>
    <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                      processorArchitecture="*" publicKeyToken="6595B64144CCF1DF" language="*"/>
  </dependentAssembly></dependency>
  <application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>
    <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings"> true </dpiAware>
  </windowsSettings></application>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>%s</application></compatibility>
</assembly>'''
    ADMIN = '''<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>'''
    ALL_OS = ''.join('<supportedOS Id="%s"/>' % g for g in check_imports.SUPPORTED_OS.values())

    def test_manifest_needs_every_part_and_the_right_execution_level(self):
        faults = check_imports.manifest_faults
        self.assertEqual(faults(self.MANIFEST % ('', self.ALL_OS), 'none'), [])
        self.assertEqual(faults(self.MANIFEST % (self.ADMIN, self.ALL_OS), 'requireAdministrator'), [])
        # An elevation the agent must not ask for, and one the wizard lacks.
        self.assertIn('trustInfo', ' '.join(faults(self.MANIFEST % (self.ADMIN, self.ALL_OS), 'none')))
        self.assertIn('missing', ' '.join(faults(self.MANIFEST % ('', self.ALL_OS), 'requireAdministrator')))
        without_vista = self.ALL_OS.replace(check_imports.SUPPORTED_OS['Windows Vista'], '{00000000-0000-0000-0000-000000000000}')
        self.assertEqual(faults(self.MANIFEST % ('', without_vista), 'none'), ['no supportedOS for Windows Vista'])
        for part, broken in (('version="6.0.0.0"', 'version="5.82.0.0"'), ('language="*"', 'language="en-us"'),
                             ('SMI/2005/', 'SMI/2016/'), ('> true <', '>false<')):
            text = (self.MANIFEST % ('', self.ALL_OS)).replace(part, broken)
            self.assertEqual(len(faults(text, 'none')), 1, broken)
        self.assertIn('well-formed', faults('<assembly>', 'none')[0])

    def test_finds_the_manifest_resource_of_a_pe_image(self):
        # One section at RVA 0x1000 holds the resource tree: type 24 -> id 1 -> language 1028 -> data.
        tree = bytearray(0x100)

        def directory(at, entries):
            struct.pack_into('<HH', tree, at + 12, 0, len(entries))
            for i, (name, target) in enumerate(entries):
                struct.pack_into('<II', tree, at + 16 + 8 * i, name, target)
        directory(0x00, [(3, 0x80000000 | 0x60), (24, 0x80000000 | 0x18)])
        directory(0x18, [(1, 0x80000000 | 0x30)])
        directory(0x30, [(1028, 0x48)])
        directory(0x60, [])
        struct.pack_into('<II', tree, 0x48, 0x1000 + 0x80, 5)
        tree[0x80:0x85] = b'<x/>\n'
        image = bytearray(0x200)
        image[:2] = b'MZ'
        struct.pack_into('<I', image, 0x3c, 0x40)
        image[0x40:0x44] = b'PE\0\0'
        struct.pack_into('<HHIIIHH', image, 0x44, 0x014c, 1, 0, 0, 0, 0xe0, 0)
        struct.pack_into('<H', image, 0x58, 0x10b)
        struct.pack_into('<I', image, 0x58 + 92, 16)
        struct.pack_into('<II', image, 0x58 + 96 + 2 * 8, 0x1000, len(tree))
        struct.pack_into('<8sIIII', image, 0x58 + 0xe0, b'.rsrc', len(tree), 0x1000, len(tree), 0x200)
        image += tree
        find = check_imports.pe_machine_and_resource
        self.assertEqual(find(bytes(image), 24, 1), (0x014c, b'<x/>\n'))
        self.assertEqual(find(bytes(image), 24, 2), (0x014c, None))
        self.assertEqual(find(bytes(image), 3, 1), (0x014c, None))
        with self.assertRaises(ValueError):
            find(b'#!/bin/sh\n', 24, 1)


class PeTest(unittest.TestCase):
    def write_pe(self, machine):
        head = bytearray(0x100)
        head[:2] = b'MZ'
        struct.pack_into('<I', head, 0x3c, 0x80)
        head[0x80:0x84] = b'PE\0\0'
        struct.pack_into('<H', head, 0x84, machine)
        fd, path = tempfile.mkstemp(suffix='.exe')
        with os.fdopen(fd, 'wb') as f:
            f.write(head)
        self.addCleanup(os.unlink, path)
        return path

    def test_architecture_picks_the_loader(self):
        default32 = winelib.WOW64 if winelib.i386_emulated() else winelib.WIN32
        self.assertIs(winelib.arch_of(self.write_pe(0x014c)), default32)
        self.assertIs(winelib.arch_of(self.write_pe(0x8664)), winelib.WIN64)
        self.assertEqual(winelib.WIN64.loader, '/usr/lib/wine/wine64')
        with self.assertRaises(ValueError):
            winelib.arch_of(self.write_pe(0xaa64))

    def test_a_32_bit_program_runs_in_the_chosen_prefix(self):
        exe = self.write_pe(0x014c)
        for kind, arch in (('win32', winelib.WIN32), ('wow64', winelib.WOW64)):
            os.environ[winelib.PREFIX32_VARIABLE] = kind
            try:
                self.assertIs(winelib.arch_of(exe), arch)
            finally:
                del os.environ[winelib.PREFIX32_VARIABLE]
        self.assertEqual(winelib.WIN32.winearch, 'win32')
        self.assertEqual(winelib.WOW64.winearch, 'win64')

    def test_not_a_program(self):
        fd, path = tempfile.mkstemp()
        os.write(fd, b'#!/bin/sh\n')
        os.close(fd)
        self.addCleanup(os.unlink, path)
        with self.assertRaises(ValueError):
            winelib.pe_machine(path)



if os.environ.get('WINE_TEST_PROGRAM'):
    class BuiltProgramTest(unittest.TestCase):
        """ctest names the built program and the build's word size."""

        def test_gets_the_wine_of_its_build(self):
            arch = winelib.arch_of(os.environ['WINE_TEST_PROGRAM'])
            self.assertEqual(arch.bits, int(os.environ['WINE_TEST_BITS']))
            self.assertTrue(os.access(arch.loader, os.X_OK), '%s is missing' % arch.loader)


class WaitTest(unittest.TestCase):
    def test_returns_the_value_once_true(self):
        calls = []

        def third_time():
            calls.append(1)
            return len(calls) == 3 and 'done'
        self.assertEqual(winelib.wait_until(third_time, 5, 'three calls'), 'done')
        self.assertEqual(len(calls), 3)

    def test_times_out_with_what_was_awaited(self):
        started = time.monotonic()
        with self.assertRaisesRegex(winelib.Timeout, 'never'):
            winelib.wait_until(lambda: False, 0.3, 'never')
        self.assertGreaterEqual(time.monotonic() - started, 0.3)


class CopyPrefixTest(unittest.TestCase):
    def test_wine_files_are_shared_and_the_rest_copied(self):
        with tempfile.TemporaryDirectory() as root:
            src = os.path.join(root, 'src')
            for rel in ('drive_c/windows/system32/user32.dll', 'drive_c/windows/win.ini', 'system.reg'):
                os.makedirs(os.path.dirname(os.path.join(src, rel)), exist_ok=True)
                with open(os.path.join(src, rel), 'w') as f:
                    f.write(rel)
            os.makedirs(os.path.join(src, 'dosdevices'))
            os.symlink('../drive_c', os.path.join(src, 'dosdevices', 'c:'))
            dst = os.path.join(root, 'dst')
            winelib.copy_prefix(src, dst)

            def same_inode(rel):
                return os.stat(os.path.join(src, rel)).st_ino == os.stat(os.path.join(dst, rel)).st_ino
            self.assertTrue(same_inode('drive_c/windows/system32/user32.dll'))
            self.assertFalse(same_inode('drive_c/windows/win.ini'))
            self.assertFalse(same_inode('system.reg'))
            self.assertEqual(os.readlink(os.path.join(dst, 'dosdevices', 'c:')), '../drive_c')


if __name__ == '__main__':
    unittest.main()
