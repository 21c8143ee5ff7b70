"""Reads boxsim's call log: one line per property call,
"<ms> <Set|Get> <id> <word> <result>" (numbers in hex but the time), and
'#' lines for what the device did."""


def parse_call(line):
    """(ms, 'Set'|'Get', id, word, result) of a property-call line, or None
    for a note or any other line."""
    parts = line.split()
    if len(parts) != 5 or line.startswith('#'):
        return None
    return int(parts[0]), parts[1], int(parts[2], 16), int(parts[3], 16), int(parts[4], 16)


def parse_calls(lines):
    """The property calls among `lines`, in order."""
    return [call for call in map(parse_call, lines) if call is not None]
