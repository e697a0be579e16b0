#!/usr/bin/env python3
"""Fails when a source file includes one from a layer above or beside its own,
or names a header without its layer. With each folder allowed only the ones
strictly below it, no cycle between folders can form.

The layers, bottom up; a file may include its own folder and the ones below.
Development tools sit apart: they may use the core, nothing uses them.
"""
import os
import re
import sys

LAYERS = [
    ('core/astronomy', 0),
    ('core/station', 1),
    ('core/site', 2),
    ('plot', 3),
    ('gui', 4),
    ('programs/desktop', 5),
    ('programs/station', 5),
    ('programs/cli', 5),
]
TOOLS = 'tools'  # may include the core layers; nothing includes a tool
SOURCE = ('.cpp', '.h', '.hpp', '.c')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def folder_of(path):
    for name, rank in LAYERS:
        if path.startswith(name + '/'):
            return name, rank
    return None, None


def check(root):
    problems = []
    scanned = [name for name, _ in LAYERS] + [TOOLS]
    for top in scanned:
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for f in sorted(files):
                if not f.endswith(SOURCE):
                    continue
                full = os.path.join(dirpath, f)
                rel = os.path.relpath(full, root)
                mine, rank = folder_of(rel)
                with open(full, encoding='utf-8', errors='replace') as fh:
                    text = fh.read()
                for line_no, m in ((text.count('\n', 0, m.start()) + 1, m) for m in INCLUDE.finditer(text)):
                    name = m.group(1)
                    where = f'{rel}:{line_no}: "{name}"'
                    if os.path.exists(os.path.join(root, name)):
                        theirs, their_rank = folder_of(name)
                        if name.startswith(TOOLS + '/') and not rel.startswith(TOOLS + '/'):
                            problems.append(f'{where}: nothing outside tools/ may include a development tool')
                        elif theirs is None:
                            continue
                        elif mine is None:  # a tool
                            if their_rank > 2:
                                problems.append(f'{where}: a development tool may use only the core')
                        elif their_rank > rank or (their_rank == rank and theirs != mine):
                            problems.append(f'{where}: {mine} may not include {theirs} (a layer above or beside it)')
                    elif os.path.exists(os.path.join(dirpath, name)) and mine is not None:
                        problems.append(f'{where}: name the layer ("{os.path.relpath(os.path.join(dirpath, name), root)}")')
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} include(s) break the layers', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
