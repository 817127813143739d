#!/usr/bin/env python3
# Writes src/memory/unicode-tables.cpp: the display-width ranges, the case-mapping pairs and
# the Windows-1251 table, from the Unicode Character Database and Python's own code-page codec.
#
# The build does not run this tool: its output is committed. Only someone regenerating needs
# the database, which Debian ships in the `unicode-data` package (files under
# /usr/share/unicode/; the committed tables came from version 15.0). Another directory may be
# given as the first argument. The tool writes nothing when the tables it would make lose
# any of the sizes or members listed in EXPECTED below.
#
# Usage: tools/gen-unicode-tables.py [ucd-dir] [output-file]
#
# Each table is frozen at the Unicode version it was first fixed at, so that text already laid
# out by terminals (widths) or already compared (case) keeps its result whatever database
# regenerates it. A code point assigned after a table's version is treated as unassigned then:
# its category is Cn and its East Asian width the default for where it lies.
#   zero width  Unicode 13.0  general categories Mn, Me and Cf, less U+00AD and U+200B (which
#                             terminals show one column wide), plus the Hangul medial and final
#                             jamo U+1160-U+11FF that join a leading jamo in one syllable cell
#   wide        Unicode 14.0  East Asian Width W and F, less the marks of the zero-width set
#   ambiguous   Unicode 3.2   East Asian Width A, less Mn, Me and Cf (the CJK-terminal variant
#                             of the width counts these two columns wide)
#   case        Unicode 11.0  first code point of the full mapping: the simple mapping of
#                             UnicodeData.txt, replaced by the unconditional entry of
#                             SpecialCasing.txt where there is one; a pair whose code point or
#                             mapping came after the version is left out

import os
import sys

WIDTH_VERSIONS = {'zero_width': (13, 0), 'wide': (14, 0), 'ambiguous': (3, 2)}
CASE_VERSION = (11, 0)

# What the tables must hold whatever the database; the tool refuses to write anything else.
EXPECTED = {
    'zero_width': dict(count=339, first=(0x0300, 0x036F), last=(0xE0100, 0xE01EF),
                       ranges=[(0x0600, 0x0605)], members=[0x1160, 0x0301], absent=[0x00AD, 0x200B]),
    'wide': dict(count=122, first=(0x1100, 0x115F), last=(0x30000, 0x3FFFD),
                 ranges=[(0x231A, 0x231B), (0x1FAF0, 0x1FAF6), (0x20000, 0x2FFFD)],
                 members=[0x3000, 0x4E00, 0xFF01, 0x1F600], absent=[]),
    'ambiguous': dict(count=156, first=(0x00A1, 0x00A1), last=(0x100000, 0x10FFFD),
                      ranges=[(0xE000, 0xF8FF), (0xF0000, 0xFFFFD)], members=[], absent=[]),
}
EXPECTED_CASE = {
    'upper_bmp': (1250, (0x61, 0x41), (0xFF5A, 0xFF3A)),
    'lower_bmp': (1158, (0x41, 0x61), (0xFF3A, 0xFF5A)),
    'upper_astral': (225, (0x10428, 0x10400), (0x1E943, 0x1E921)),
    'lower_astral': (225, (0x10400, 0x10428), (0x1E921, 0x1E943)),
}


def fields(path):
    """Yields (first, last, [fields...]) for each data line of a UCD property file."""
    with open(path, encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            parts = [p.strip() for p in line.split(';')]
            first, _, last = parts[0].partition('..')
            yield int(first, 16), int(last or first, 16), parts[1:]


class Database:
    def __init__(self, root):
        self.age = {}
        for first, last, f in fields(os.path.join(root, 'DerivedAge.txt')):
            version = tuple(int(x) for x in f[0].split('.'))
            for cp in range(first, last + 1):
                self.age[cp] = version

        self.category, self.upper, self.lower = {}, {}, {}
        previous = None
        with open(os.path.join(root, 'UnicodeData.txt'), encoding='utf-8') as f:
            for line in f:
                f = line.rstrip('\n').split(';')
                cp = int(f[0], 16)
                if f[1].endswith(', Last>'):
                    for inner in range(previous + 1, cp):
                        self.category[inner] = f[2]
                self.category[cp] = f[2]
                if f[12]:
                    self.upper[cp] = int(f[12], 16)
                if f[13]:
                    self.lower[cp] = int(f[13], 16)
                previous = cp

        for first, _, f in fields(os.path.join(root, 'SpecialCasing.txt')):
            if len(f) > 3 and f[3]:
                continue  # conditional (language or context): not part of the fixed mapping
            self.lower[first] = int(f[0].split()[0], 16)
            self.upper[first] = int(f[2].split()[0], 16)

        self.east_asian_width = {}
        for first, last, f in fields(os.path.join(root, 'EastAsianWidth.txt')):
            for cp in range(first, last + 1):
                self.east_asian_width[cp] = f[0]

    def assigned(self, cp, version):
        return cp in self.age and self.age[cp] <= version

    def general_category(self, cp, version):
        return self.category.get(cp, 'Cn') if self.assigned(cp, version) else 'Cn'

    def width_class(self, cp, version):
        if self.assigned(cp, version):
            return self.east_asian_width.get(cp, default_width_class(cp))
        return default_width_class(cp)


def default_width_class(cp):
    # Unassigned code points in the ideograph blocks and planes 2 and 3 are wide by default.
    for first, last in ((0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
                        (0x20000, 0x2FFFD), (0x30000, 0x3FFFD)):
        if first <= cp <= last:
            return 'W'
    return 'N'


def to_ranges(code_points):
    ranges = []
    for cp in sorted(code_points):
        if ranges and ranges[-1][1] == cp - 1:
            ranges[-1][1] = cp
        else:
            ranges.append([cp, cp])
    return [tuple(r) for r in ranges]


MARKS = ('Mn', 'Me', 'Cf')


def width_tables(db):
    every = range(0x110000)
    v = WIDTH_VERSIONS['zero_width']
    zero = {cp for cp in every if db.general_category(cp, v) in MARKS} - {0x00AD, 0x200B}
    zero |= set(range(0x1160, 0x1200))
    v = WIDTH_VERSIONS['wide']
    wide = {cp for cp in every
            if db.width_class(cp, v) in ('W', 'F') and db.general_category(cp, v) not in MARKS}
    v = WIDTH_VERSIONS['ambiguous']
    ambiguous = {cp for cp in every
                 if db.width_class(cp, v) == 'A' and db.general_category(cp, v) not in MARKS}
    return {'zero_width': to_ranges(zero), 'wide': to_ranges(wide),
            'ambiguous': to_ranges(ambiguous)}


def case_pairs(db, mapping):
    v = CASE_VERSION
    pairs = sorted((cp, to) for cp, to in mapping.items()
                   if cp != to and db.assigned(cp, v) and db.assigned(to, v))
    # Both sides stay on their side of U+FFFF, so the 16-bit tables and the lists never mix.
    assert all((cp < 0x10000) == (to < 0x10000) for cp, to in pairs)
    return [p for p in pairs if p[0] < 0x10000], [p for p in pairs if p[0] >= 0x10000]


def cp1251():
    table = []
    for byte in range(0x80, 0x100):
        try:
            table.append(ord(bytes([byte]).decode('cp1251')))
        except UnicodeDecodeError:
            table.append(byte)  # 0x98 is undefined in the code page: it stands for itself
    return table


def check(tables, cases):
    problems = []
    for name, want in EXPECTED.items():
        ranges = tables[name]
        covered = lambda cp: any(a <= cp <= b for a, b in ranges)
        if len(ranges) != want['count']:
            problems.append(f'{name}: {len(ranges)} ranges, expected {want["count"]}')
        if ranges[0] != want['first'] or ranges[-1] != want['last']:
            problems.append(f'{name}: ends {ranges[0]} {ranges[-1]}')
        problems += [f'{name}: no range {r}' for r in want['ranges'] if r not in ranges]
        problems += [f'{name}: {cp:04X} missing' for cp in want['members'] if not covered(cp)]
        problems += [f'{name}: {cp:04X} present' for cp in want['absent'] if covered(cp)]
    for name, (count, first, last) in EXPECTED_CASE.items():
        pairs = cases[name]
        if len(pairs) != count or pairs[0] != first or pairs[-1] != last:
            problems.append(f'{name}: {len(pairs)} pairs from {pairs[0]} to {pairs[-1]}')
    return problems


def emit_rows(out, items, per_row):
    for row in range(0, len(items), per_row):
        out.append('    ' + ' '.join(items[row:row + per_row]))


def emit_ranges(out, name, ranges):
    out.append(f'constinit const Range {name}_data[] = {{')
    emit_rows(out, [f'{{0x{first:04X}, 0x{last:04X}}},' for first, last in ranges], 4)
    out.append('};')
    out.append(f'constinit const std::span<const Range> {name}{{{name}_data}};')
    out.append('')


def emit_pairs(out, name, pairs):
    out.append(f'constinit const CasePair {name}_data[] = {{')
    emit_rows(out, [f'{{0x{cp:04X}, 0x{to:04X}}},' for cp, to in pairs], 4)
    out.append('};')
    out.append(f'constinit const std::span<const CasePair> {name}{{{name}_data}};')
    out.append('')


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = sys.argv[1] if len(sys.argv) > 1 else '/usr/share/unicode'
    target = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        here, '..', 'src', 'memory', 'unicode-tables.cpp')
    db = Database(root)
    tables = width_tables(db)
    cases = {}
    cases['upper_bmp'], cases['upper_astral'] = case_pairs(db, db.upper)
    cases['lower_bmp'], cases['lower_astral'] = case_pairs(db, db.lower)
    problems = check(tables, cases)
    if problems:
        sys.exit('gen-unicode-tables: not written:\n  ' + '\n  '.join(problems))

    out = ['// Generated by tools/gen-unicode-tables.py; do not edit: regenerate and diff.',
           '// Display-width ranges, case-mapping pairs and the Windows-1251 upper half.',
           '#include "memory/unicode-tables.h"',
           '',
           'namespace zuv::unicode_tables {',
           '']
    for name in ('zero_width', 'wide', 'ambiguous'):
        emit_ranges(out, name, tables[name])
    for name in ('upper_bmp', 'lower_bmp', 'upper_astral', 'lower_astral'):
        emit_pairs(out, name, cases[name])
    out.append('constinit const std::array<uint32_t, 128> cp1251_high{')
    emit_rows(out, [f'0x{cp:04X},' for cp in cp1251()], 8)
    out.append('};')
    out.append('')
    out.append('}  // namespace zuv::unicode_tables')
    with open(target, 'w', encoding='utf-8') as f:
        f.write('\n'.join(out) + '\n')
    counts = ', '.join(f'{k} {len(v)}' for k, v in list(tables.items()) + list(cases.items()))
    print(f'wrote {os.path.normpath(target)}: {counts}')


if __name__ == '__main__':
    main()
