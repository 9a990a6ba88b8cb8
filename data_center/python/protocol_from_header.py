#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes data_center/protocol.py from include/data_center/protocol.hpp.

The header is the one source of the service name, command numbers, result
codes and answer texts; Python gets the same constants under upper snake case
names (kCmdQueryLastMap -> CMD_QUERY_LAST_MAP), with the header's comments.
Any line of the namespace that is not a comment, a blank or a constant this
script understands is an error, so a constant can never be left out.

    protocol_from_header.py HEADER OUTPUT
"""

import re
import sys

CONSTANT = re.compile(
    r'^inline constexpr (?:int32_t (?P<int_name>k\w+) = (?P<int>-?\d+)'
    r'|char (?P<str_name>k\w+)\[\] = "(?P<str>[^"\\]*)");\s*(?://\s*(?P<comment>.*))?$')


def python_name(name):
    """kCmdQueryLastMap -> CMD_QUERY_LAST_MAP."""
    return re.sub(r'(?<!^)(?=[A-Z])', '_', name[1:]).upper()


def convert(header_text, header_name):
    out = [
        '# SPDX-License-Identifier: Apache-2.0',
        f'# Generated from {header_name} at build time; do not edit.',
        '"""What callers of robot_status_query see: service name, command numbers,'
        ' result codes, answer texts."""',
        '',
    ]
    inside = False
    names = []
    for number, raw in enumerate(header_text.splitlines(), 1):
        line = raw.strip()
        if line == 'namespace data_center {':
            inside = True
            continue
        if not inside:
            continue
        if line == '}  // namespace data_center':
            inside = False
            continue
        if not line:
            if out[-1] != '':
                out.append('')
        elif line.startswith('//'):
            out.append('#' + line[2:])
        else:
            match = CONSTANT.match(line)
            if match is None:
                raise ValueError(
                    f'{header_name}:{number}: not a constant this script reads: {line}')
            if match['int_name']:
                name, value = match['int_name'], match['int']
            else:
                name, value = match['str_name'], repr(match['str'])
            names.append(python_name(name))
            comment = f'  # {match["comment"]}' if match['comment'] else ''
            out.append(f'{names[-1]} = {value}{comment}')
    if inside or not names:
        raise ValueError(f'{header_name}: no complete namespace data_center with constants')
    while out[-1] == '':
        out.pop()
    return '\n'.join(out) + '\n'


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding='utf-8') as f:
        text = f.read()
    try:
        module = convert(text, 'include/data_center/protocol.hpp')
    except ValueError as e:
        sys.stderr.write(f'protocol_from_header.py: {e}\n')
        return 1
    with open(argv[2], 'w', encoding='utf-8') as f:
        f.write(module)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
