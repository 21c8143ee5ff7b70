#!/usr/bin/env python3
"""Fails unless a program imports only DLLs that every Windows has.

usage: check_imports.py OBJDUMP PROGRAM.exe

The programs are linked statically so they run on a clean system; a MinGW
runtime DLL (libstdc++, libgcc_s, libwinpthread) or the Universal CRT in the
import table means that went wrong.
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'advapi32.dll', 'shell32.dll',
               'comctl32.dll', 'ole32.dll', 'oleaut32.dll', 'msvcrt.dll'}


def imported_dlls(objdump_text):
    """Names (lower case) of the DLLs in `objdump -p` output, delay-loaded ones too."""
    return sorted({m.group(1).strip().lower()
                   for m in re.finditer(r'^\s*DLL Name:\s*(\S.*)$', objdump_text, re.M)})


def foreign_dlls(dlls):
    return [d for d in dlls if d not in SYSTEM_DLLS]


def main(argv):
    if len(argv) != 3:
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
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
