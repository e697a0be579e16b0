#!/usr/bin/env python3
"""Fails when a source file includes one from a layer above or beside its own,
names a header without its layer or through "..", when a CMake target links
one of a layer above or beside its own, or when the tree holds a folder this
table does not know. With each folder allowed only the ones strictly below
it, no cycle between folders can form; within a folder, no two files may
include each other through any path (a header and its source, and a
private header "x_p.h", count as one file "x").

The layers, bottom up; a file may include its own folder and the ones below.
Development tools sit apart: they may use the core, nothing uses them.
The astro library stands alone: it includes only its own files. Tests and
benchmarks may use anything; nothing uses them.
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
ALONE = 'astro'  # the C library: its own files only
OUTER = ('tests', 'bench')  # may use every layer; nothing uses them
# Folders without product sources: read by the build, never included.
DATA = ('cmake', 'db', 'docs', 'Locale', 'packaging')
# Folders that only hold layers.
PARENTS = ('core', 'programs')
SOURCE = ('.cpp', '.h', '.hpp', '.c')
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
LINK = re.compile(r'\btarget_link_libraries\s*\(([^)]*)\)', re.S)
DEFINE = re.compile(r'\badd_(?:library|executable)\s*\(\s*([A-Za-z0-9_.+-]+)')
CORE_RANK = 2


def folder_of(path):
    for name, rank in LAYERS:
        if path.startswith(name + '/'):
            return name, rank
    return None, None


def may_use(mine, rank, theirs, their_rank, verb='include'):
    """None when allowed, else why not; mine is None for a tool."""
    if mine is None:
        return 'a development tool may use only the core' if their_rank > CORE_RANK else None
    if their_rank > rank or (their_rank == rank and theirs != mine):
        return f'{mine} may not {verb} {theirs} (a layer above or beside it)'
    return None


def unknown_folders(root):
    """Top folders (and folders under core/, programs/) the table does not know."""
    known = {name.split('/')[0] for name, _ in LAYERS} | {TOOLS, ALONE} | set(OUTER) | set(DATA)
    problems = []
    for entry in sorted(os.listdir(root)):
        full = os.path.join(root, entry)
        if not os.path.isdir(full) or entry.startswith('.') or entry.startswith('build'):
            continue
        if entry not in known:
            problems.append(f'{entry}/: a folder the layer table does not know (add it to tools/layers/check_layers.py)')
    layers = {name for name, _ in LAYERS}
    for parent in PARENTS:
        base = os.path.join(root, parent)
        if not os.path.isdir(base):
            continue
        for entry in sorted(os.listdir(base)):
            if os.path.isdir(os.path.join(base, entry)) and f'{parent}/{entry}' not in layers:
                problems.append(f'{parent}/{entry}/: a folder the layer table does not know '
                                '(add it to tools/layers/check_layers.py)')
    return problems


def check_includes(root):
    problems = []
    scanned = [name for name, _ in LAYERS] + [TOOLS, ALONE]
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
                    problems += check_one(root, dirpath, rel, mine, rank, line_no, m.group(1))
    return problems


def check_one(root, dirpath, rel, mine, rank, line_no, name):
    where = f'{rel}:{line_no}: "{name}"'
    parts = name.replace('\\', '/').split('/')
    if rel.startswith(ALONE + '/'):
        target = os.path.normpath(os.path.join(dirpath, name))
        if '..' in parts or not target.startswith(os.path.join(root, ALONE) + os.sep):
            return [f'{where}: the astro library includes only its own files']
        return []
    if '..' in parts or '.' in parts:
        # Resolved the way the compiler may: beside the file first, then from the top.
        beside = os.path.normpath(os.path.join(dirpath, name))
        top = os.path.normpath(os.path.join(root, name))
        resolved = beside if os.path.exists(beside) else top
        named = os.path.relpath(resolved, root).replace(os.sep, '/')
        found = [f'{where}: name the layer ("{named}"), not a path with "." or ".."']
        return found + check_named(root, rel, mine, rank, where, named)
    if os.path.exists(os.path.join(root, name)):
        return check_named(root, rel, mine, rank, where, name)
    if os.path.exists(os.path.join(dirpath, name)) and mine is not None:
        return [f'{where}: name the layer ("{os.path.relpath(os.path.join(dirpath, name), root)}")']
    return []


def check_named(root, rel, mine, rank, where, name):
    top = name.split('/')[0]
    if top == TOOLS and not rel.startswith(TOOLS + '/'):
        return [f'{where}: nothing outside tools/ may include a development tool']
    if top in OUTER:
        return [f'{where}: nothing outside {top}/ may include it']
    if top == ALONE:
        return [f'{where}: the astro library is used through its installed header, by tests only']
    theirs, their_rank = folder_of(name)
    if theirs is None:
        return []
    why = may_use(mine, rank, theirs, their_rank)
    return [f'{where}: {why}'] if why else []


def cmake_files(root):
    for top in [name for name, _ in LAYERS] + [TOOLS, ALONE]:
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            if 'CMakeLists.txt' in files:
                yield os.path.join(dirpath, 'CMakeLists.txt')


def strip_comments(text):
    return re.sub(r'#[^\n]*', '', text)


def check_links(root):
    """Each of our targets links only targets of the layers it may include."""
    owner = {}  # target -> folder (relative)
    texts = {}
    for path in cmake_files(root):
        rel = os.path.relpath(os.path.dirname(path), root).replace(os.sep, '/')
        with open(path, encoding='utf-8', errors='replace') as fh:
            texts[path] = strip_comments(fh.read())
        for m in DEFINE.finditer(texts[path]):
            owner[m.group(1)] = rel
    problems = []
    for path, text in texts.items():
        rel_file = os.path.relpath(path, root).replace(os.sep, '/')
        for m in LINK.finditer(text):
            words = m.group(1).split()
            if not words or words[0] not in owner:
                continue
            user = owner[words[0]]
            line_no = text.count('\n', 0, m.start()) + 1
            for item in words[1:]:
                if item not in owner or item == words[0]:
                    continue
                used = owner[item]
                where = f'{rel_file}:{line_no}: {words[0]} links {item}'
                if used.startswith(TOOLS) and not user.startswith(TOOLS):
                    problems.append(f'{where}: nothing outside tools/ may link a development tool')
                    continue
                if used.startswith(ALONE) or user.startswith(ALONE):
                    if used.split('/')[0] != user.split('/')[0]:
                        problems.append(f'{where}: the astro library links nothing of ours and nothing links it')
                    continue
                mine, rank = folder_of(user + '/')
                theirs, their_rank = folder_of(used + '/')
                if theirs is None:
                    continue
                why = may_use(mine, rank, theirs, their_rank, 'link')
                if why:
                    problems.append(f'{where}: {why}')
    return problems


def unit_of(rel):
    """A header, its source and its private header are one unit."""
    stem = os.path.splitext(rel)[0]
    return stem[:-2] if stem.endswith('_p') else stem


def check_circles(root):
    """Units of one folder that reach each other through their includes."""
    edges = {}
    for top in [name for name, _ in LAYERS] + [TOOLS]:
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for f in files:
                if not f.endswith(SOURCE):
                    continue
                rel = os.path.relpath(os.path.join(dirpath, f), root).replace(os.sep, '/')
                with open(os.path.join(dirpath, f), encoding='utf-8', errors='replace') as fh:
                    names = INCLUDE.findall(fh.read())
                mine = unit_of(rel)
                folder = os.path.dirname(rel)
                for name in names:
                    name = os.path.normpath(name).replace(os.sep, '/')
                    if os.path.dirname(name) == folder and unit_of(name) != mine:
                        edges.setdefault(mine, set()).add(unit_of(name))
    problems = []
    reported = set()
    for start in sorted(edges):
        path = circle_from(start, edges)
        if path and frozenset(path) not in reported:
            reported.add(frozenset(path))
            problems.append(f'{start}: a circle of includes: ' + ' -> '.join(path + [start]))
    return problems


def circle_from(start, edges):
    """The shortest path of units from start back to itself, or None."""
    seen = {start: None}
    queue = [start]
    while queue:
        unit = queue.pop(0)
        for nxt in sorted(edges.get(unit, ())):
            if nxt == start:
                path = [unit]
                while seen[path[-1]] is not None:
                    path.append(seen[path[-1]])
                return path[::-1]
            if nxt not in seen:
                seen[nxt] = unit
                queue.append(nxt)
    return None


def check(root):
    return unknown_folders(root) + check_includes(root) + check_links(root) + check_circles(root)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', '..')
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f'{len(problems)} place(s) break the layers', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
