#!/usr/bin/env python3
"""Fails unless a program imports only DLLs that every Windows has.

usage: check_imports.py OBJDUMP PROGRAM.exe [--shipped LEVEL]

The programs are linked statically so they run on a clean system; a MinGW
runtime DLL (libstdc++, libgcc_s, libwinpthread) or the Universal CRT in the
import table means that went wrong.

--shipped marks a program we ship, which must also carry its application
manifest (resource type 24, id 1) with the common controls 6 dependency,
system DPI awareness and the supported Windows versions, and ask for the
execution level LEVEL (requireAdministrator), or for none at all (none). A
32-bit x86 one must also fit in 96 KiB; the 64-bit build is not shipped.
"""
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
               'comctl32.dll', 'ole32.dll', 'oleaut32.dll', 'msvcrt.dll'}

SHIPPED_SIZE_LIMIT = 96 * 1024
MACHINE_I386 = 0x014c
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1

COMMON_CONTROLS = {'type': 'win32', 'name': 'Microsoft.Windows.Common-Controls', 'version': '6.0.0.0',
                   'processorArchitecture': '*', 'publicKeyToken': '6595b64144ccf1df', 'language': '*'}
WINDOWS_SETTINGS_2005 = 'http://schemas.microsoft.com/SMI/2005/WindowsSettings'
SUPPORTED_OS = {
    'Windows Vista': '{e2011457-1546-43c5-a5fe-008deee3d3f0}',
    'Windows 7': '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
    'Windows 8': '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}',
    'Windows 8.1': '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
    'Windows 10 and 11': '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}',
}


def imported_dlls(objdump_text):
    """Names (lower case) of the DLLs in `objdump -p` output, delay-loaded ones too."""
    return sorted({m.group(1).strip().lower()
                   for m in re.finditer(r'^\s*DLL Name:\s*(\S.*)$', objdump_text, re.M)})


def foreign_dlls(dlls):
    return [d for d in dlls if d not in SYSTEM_DLLS]


def pe_machine_and_resource(image, type_id, name_id):
    """The PE image's machine, and the bytes of its resource `type_id`/`name_id`
    (the first language) or None. ValueError when `image` is no PE file."""
    def unpack(fmt, offset):
        if offset < 0 or offset + struct.calcsize(fmt) > len(image):
            raise ValueError('truncated PE image')
        return struct.unpack_from(fmt, image, offset)

    if image[:2] != b'MZ':
        raise ValueError('not a PE image')
    pe = unpack('<I', 0x3c)[0]
    if image[pe:pe + 4] != b'PE\0\0':
        raise ValueError('not a PE image')
    machine, section_count, _, _, _, optional_size, _ = unpack('<HHIIIHH', pe + 4)
    optional = pe + 24
    magic = unpack('<H', optional)[0]
    directories = optional + {0x10b: 96, 0x20b: 112}.get(magic, -1)
    if directories < optional:
        raise ValueError('unknown optional header 0x%x' % magic)
    if unpack('<I', directories - 4)[0] <= 2:
        return machine, None
    resource_rva = unpack('<I', directories + 2 * 8)[0]
    if resource_rva == 0:
        return machine, None
    sections = [unpack('<8sIIII', optional + optional_size + 40 * i)[1:] for i in range(section_count)]

    def file_offset(rva):
        for virtual_size, address, raw_size, raw_offset in sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError('RVA 0x%x is in no section' % rva)

    root = file_offset(resource_rva)

    def entries(directory):
        named, numbered = unpack('<HH', root + directory + 12)
        for i in range(named + numbered):
            yield unpack('<II', root + directory + 16 + 8 * i)

    def child(directory, wanted):
        for name, target in entries(directory):
            if wanted is None or name == wanted:
                return target
        return None

    # Three levels: type, name, language (the first one found).
    target = 0x80000000
    for wanted in (type_id, name_id, None):
        if not target & 0x80000000:
            raise ValueError('resource data where a directory was expected')
        target = child(target & 0x7fffffff, wanted)
        if target is None:
            return machine, None
    if target & 0x80000000:
        raise ValueError('resource directory nested deeper than type, name and language')
    data_rva, size = unpack('<II', root + target)
    start = file_offset(data_rva)
    return machine, bytes(image[start:start + size])


def manifest_faults(text, level):
    """What the manifest `text` lacks; `level` is the requestedExecutionLevel
    it must ask for, or 'none' when it must ask for none."""
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return ['the manifest is no well-formed XML (%s)' % e]

    def local(tag):
        return tag.rsplit('}', 1)[-1]

    def named(name):
        return [e for e in root.iter() if local(e.tag) == name]

    faults = []
    identities = [e.attrib for e in named('assemblyIdentity')
                  if e.get('name') == COMMON_CONTROLS['name']]
    if not any(all(a.get(k, '').lower() == v.lower() for k, v in COMMON_CONTROLS.items()) for a in identities):
        faults.append('no dependency on %s %s (%s)' % (
            COMMON_CONTROLS['name'], COMMON_CONTROLS['version'],
            ', '.join('%s="%s"' % kv for kv in sorted(COMMON_CONTROLS.items()))))
    if not any(e.tag == '{%s}dpiAware' % WINDOWS_SETTINGS_2005 and (e.text or '').strip().lower() == 'true'
               for e in root.iter()):
        faults.append('no <dpiAware>true</dpiAware> in %s' % WINDOWS_SETTINGS_2005)
    declared = {(e.get('Id') or '').lower() for e in named('supportedOS')}
    missing = [os_name for os_name, guid in SUPPORTED_OS.items() if guid not in declared]
    if missing:
        faults.append('no supportedOS for %s' % ', '.join(missing))
    levels = [e.get('level') for e in named('requestedExecutionLevel')]
    if level == 'none':
        if levels or named('trustInfo'):
            faults.append('a trustInfo section (requestedExecutionLevel %s), which switches off registry '
                          'virtualization' % (', '.join(map(str, levels)) or 'none'))
    elif levels != [level]:
        faults.append('requestedExecutionLevel %s instead of %s' % (', '.join(map(str, levels)) or 'missing', level))
    return faults


def shipped_faults(program, level):
    """Why the shipped `program` is not fit to ship, beyond its imports."""
    with open(program, 'rb') as f:
        image = f.read()
    machine, manifest = pe_machine_and_resource(image, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
    faults = []
    if machine == MACHINE_I386 and len(image) > SHIPPED_SIZE_LIMIT:
        faults.append('%d bytes, over the %d KiB a shipped program may take'
                      % (len(image), SHIPPED_SIZE_LIMIT // 1024))
    if manifest is None:
        faults.append('no application manifest (resource type %d, id %d)'
                      % (RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID))
    else:
        faults.extend('its manifest has ' + f for f in manifest_faults(manifest, level))
    return faults


def main(argv):
    if len(argv) == 5 and argv[3] == '--shipped':
        level = argv[4]
    elif len(argv) == 3:
        level = None
    else:
        sys.exit(__doc__)
    objdump, program = argv[1], argv[2]
    out = subprocess.run([objdump, '-p', program], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True, check=True).stdout
    dlls = imported_dlls(out)
    print('%s imports: %s' % (program, ' '.join(dlls)))
    # No import table read at all would make the check below pass by mistake.
    if 'kernel32.dll' not in dlls:
        sys.exit('%s: no kernel32.dll among its imports; is this a Windows program?' % program)
    foreign = foreign_dlls(dlls)
    if foreign:
        sys.exit('%s imports DLLs that are not part of Windows: %s' % (program, ' '.join(foreign)))
    if level is not None:
        faults = shipped_faults(program, level)
        if faults:
            sys.exit('%s is not fit to ship:\n  %s' % (program, '\n  '.join(faults)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
