#!/usr/bin/env python3
"""Registers the capture-box simulator as a video capture device in a Wine prefix.

    register.py --prefix DIR --dll PATH --name "USB 2800 Video"
                [--clsid {...}] [--script PATH] [--commands PATH] [--log PATH]
                [--view32] [--remove]

Writes what the system device enumerator and COM read:
  HKCR\\CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\{clsid}
      FriendlyName, CLSID
  HKCR\\CLSID\\{clsid}\\InprocServer32   (default) = the DLL, ThreadingModel = Both
  HKCR\\CLSID\\{clsid}                   Script, Commands, Log (each when given)
through one `regedit /S` of a generated .reg file. Run it once per device;
each device needs its own clsid (by default one derived from the name).
Paths may be Unix paths (reached through drive Z:) or Windows paths.
--view32 registers a 32-bit DLL in a 64-bit prefix (its Wow6432Node view).

Tests that edit the saved registry themselves use registry_entries().
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import uuid

VIDEO_INPUT_CATEGORY = '{860BB310-5D01-11D0-BD3B-00A0C911CE86}'
# Stable clsids for names: the same name registers the same device each time.
CLSID_NAMESPACE = uuid.UUID('6f0f6b1e-2c1b-4f53-9a57-0b5c0c7d5e21')
DEFAULT_LOADER = '/usr/lib/wine/wine64'
REGEDIT_TIMEOUT = 120


def clsid_for(name):
    return '{%s}' % str(uuid.uuid5(CLSID_NAMESPACE, name)).upper()


def normal_clsid(text):
    value = uuid.UUID(text.strip('{}'))
    return '{%s}' % str(value).upper()


def windows_path(path):
    """A Unix path as Wine sees it on drive Z:; Windows paths stay as they are."""
    if path is None or re.match(r'^[A-Za-z]:[\\/]', path):
        return path
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def classes_root(view32=False):
    return r'HKLM\Software\Classes' + (r'\Wow6432Node' if view32 else '')


def registry_entries(dll, name, clsid=None, script=None, commands=None, log=None, view32=False, quiet=False):
    """[(key, value name, string value)] that register one device; '@' names
    a key's default value. Keys start with HKLM. `quiet`: no log line per
    property call (see device.h)."""
    clsid = normal_clsid(clsid) if clsid else clsid_for(name)
    root = classes_root(view32)
    server = r'%s\CLSID\%s' % (root, clsid)
    instance = r'%s\CLSID\%s\Instance\%s' % (root, VIDEO_INPUT_CATEGORY, clsid)
    entries = [(server, '@', 'boxsim capture box: ' + name)]
    for setting, path in (('Script', script), ('Commands', commands), ('Log', log)):
        if path:
            entries.append((server, setting, windows_path(path)))
    if quiet:
        entries.append((server, 'Quiet', '1'))
    return entries + [
        (server + r'\InprocServer32', '@', windows_path(dll)),
        (server + r'\InprocServer32', 'ThreadingModel', 'Both'),
        (instance, 'FriendlyName', name),
        (instance, 'CLSID', clsid),
    ]


def device_keys(clsid, view32=False):
    root = classes_root(view32)
    return [r'%s\CLSID\%s' % (root, clsid), r'%s\CLSID\%s\Instance\%s' % (root, VIDEO_INPUT_CATEGORY, clsid)]


def _reg_key(key):
    return 'HKEY_LOCAL_MACHINE' + key[len('HKLM'):]


def _reg_string(text):
    return '"%s"' % text.replace('\\', '\\\\').replace('"', '\\"')


def reg_file_text(entries=(), removed_keys=()):
    """A .reg file that deletes `removed_keys` and then writes `entries`."""
    lines = ['REGEDIT4', '']
    for key in removed_keys:
        lines += ['[-%s]' % _reg_key(key), '']
    current = None
    for key, name, value in entries:
        if key != current:
            if current is not None:
                lines.append('')
            lines.append('[%s]' % _reg_key(key))
            current = key
        lines.append('%s=%s' % ('@' if name == '@' else _reg_string(name), _reg_string(value)))
    lines.append('')
    return '\r\n'.join(lines)


def import_reg(prefix, text, loader=DEFAULT_LOADER, env=None):
    run_env = dict(env or os.environ)
    run_env['WINEPREFIX'] = os.path.abspath(prefix)
    run_env.setdefault('WINEDEBUG', '-all')
    with tempfile.NamedTemporaryFile('w', suffix='.reg', delete=False, encoding='ascii') as f:
        f.write(text)
        path = f.name
    try:
        r = subprocess.run([loader, 'regedit', '/S', windows_path(path)], env=run_env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=REGEDIT_TIMEOUT)
        if r.returncode != 0:
            raise RuntimeError('regedit /S failed (%d): %s' % (r.returncode, r.stdout.decode(errors='replace')))
    finally:
        os.unlink(path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--prefix', required=True, help='the Wine prefix')
    parser.add_argument('--name', required=True, help='friendly name, e.g. "USB 2800 Video"')
    parser.add_argument('--dll', help='boxsim.dll (not needed with --remove)')
    parser.add_argument('--clsid', help='class identifier (default: derived from the name)')
    parser.add_argument('--script', help='timed script: "<ms> <command>" lines')
    parser.add_argument('--commands', help='file that `remote` appends command lines to')
    parser.add_argument('--log', help='file that gets one line per property call')
    parser.add_argument('--view32', action='store_true', help='a 32-bit DLL in a 64-bit prefix')
    parser.add_argument('--remove', action='store_true', help='unregister the device instead')
    parser.add_argument('--loader', default=os.environ.get('WINELOADER', DEFAULT_LOADER),
                        help='the Wine loader (default %(default)s)')
    args = parser.parse_args(argv)

    clsid = normal_clsid(args.clsid) if args.clsid else clsid_for(args.name)
    if args.remove:
        text = reg_file_text(removed_keys=device_keys(clsid, args.view32))
    else:
        if not args.dll:
            parser.error('--dll is needed to register')
        text = reg_file_text(registry_entries(args.dll, args.name, clsid, args.script, args.commands, args.log,
                                              args.view32))
    import_reg(args.prefix, text, args.loader)
    print('%s %s %s' % ('removed' if args.remove else 'registered', clsid, args.name))
    return 0


if __name__ == '__main__':
    sys.exit(main())
