#!/usr/bin/env python3
# Checks that the floors of src/ hold: a file includes headers of its own floor and those below
# it only. Upward includes not yet mended stand in scripts/layers-allowed.txt; the check fails on
# a new one, and on an allowed one that is gone, so the list only ever shrinks.
import os
import re
import sys

# Lowest first; the reader (text and binary to values) and I/O share one floor.
FLOORS = [['runtime'], ['memory'], ['datatypes'], ['evaluator'], ['reader', 'io'], ['library'], ['ridi'],
          ['console']]
RANK = {folder: i for i, floor in enumerate(FLOORS) for folder in floor}
# The programs' entries sit above every floor: they link the whole system together.
PROGRAMS = {'src/runtime/main.cpp'}
INCLUDE = re.compile(r'\s*#\s*include\s+"([a-z]+)/([^"]+)"')


def upward_includes(root):
    found = []
    src = os.path.join(root, 'src')
    for folder, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith(('.cpp', '.h')):
                continue
            path = os.path.relpath(os.path.join(folder, name), root)
            floor = path.split('/')[1]
            if floor not in RANK or path in PROGRAMS:
                continue
            with open(os.path.join(root, path), encoding='utf-8') as f:
                for line in f:
                    m = INCLUDE.match(line)
                    if m and m.group(1) in RANK and RANK[m.group(1)] > RANK[floor]:
                        found.append(f'{path} {m.group(1)}/{m.group(2)}')
    return found


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    allowed_path = os.path.join(root, 'scripts', 'layers-allowed.txt')
    allowed = []
    with open(allowed_path, encoding='utf-8') as f:
        for line in f:
            line = line.split('#', 1)[0].strip()
            if line:
                allowed.append(' '.join(line.split()))
    found = upward_includes(root)
    if '--count' in sys.argv:
        print(len(found))
        return 0
    if '--update' in sys.argv:
        # Rewrites the list from the tree: for after a move, never to let a new one through.
        with open(allowed_path, encoding='utf-8') as f:
            head = [line for line in f if line.startswith('#')]
        with open(allowed_path, 'w', encoding='utf-8') as f:
            f.writelines(head)
            f.writelines(entry + '\n' for entry in found)
        return 0
    new = sorted(set(found) - set(allowed))
    gone = sorted(set(allowed) - set(found))
    for entry in new:
        print(f'upward include: {entry}')
    for entry in gone:
        print(f'no longer upward, remove from scripts/layers-allowed.txt: {entry}')
    print(f'{len(found)} upward includes, {len(allowed)} allowed')
    return 1 if new or gone else 0


if __name__ == '__main__':
    sys.exit(main())
