"""The REDerUro.ini the installation ships (resources/): its path and its
sections, as the wizard reads them."""
import os

INI_PATH = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, os.pardir, 'resources',
                        'REDerUro.ini')


def shipped_section(name):
    """{key: value} of one section of the shipped REDerUro.ini."""
    with open(INI_PATH, 'rb') as f:
        text = f.read().decode('latin-1')
    values, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith(';'):
            continue
        if line.startswith('['):
            current = line[1:line.index(']')]
        elif current == name and '=' in line:
            key, _, value = line.partition('=')
            values[key.strip()] = value.strip()
    return values
