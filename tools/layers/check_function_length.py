#!/usr/bin/env python3
"""Fails when a function in the given folders is longer than the limit
(80 lines unless --limit says otherwise), from the line of its opening brace
to the line of its closing one. A lambda or a local class inside a function
counts with the function that holds it; a member function defined in a
class counts alone.

Usage: check_function_length.py [--limit N] FOLDER...
"""
import os
import re
import sys

NOT_A_FUNCTION = re.compile(r'^\s*(?:template\s*<[^>]*>\s*)?(?:class|struct|union|enum|namespace|extern)\b')


def blank_out(text):
    """Comments and literals as blanks, lines kept, so braces inside them do not count."""
    out = []
    i, n = 0, len(text)
    while i < n:
        if text.startswith('//', i):
            j = text.find('\n', i)
            i = n if j < 0 else j
            continue
        if text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append('\n' * text.count('\n', i, j))
            i = j
            continue
        raw = re.match(r'R"([^(\s]*)\(', text[i:i + 20])
        if raw:
            end = ')' + raw.group(1) + '"'
            j = text.find(end, i)
            j = n if j < 0 else j + len(end)
            out.append('""' + '\n' * text.count('\n', i, j))
            i = j
            continue
        c = text[i]
        if c in '"\'' and not (c == "'" and i > 0 and text[i - 1].isalnum()):  # 1'000 is a number
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(c + c)
            i = j + 1
            continue
        out.append(c)
        i += 1
    return ''.join(out)


def opens_function(head):
    """head: the text between the previous ';', '{' or '}' and this '{'."""
    head = head.strip()
    if not head or NOT_A_FUNCTION.match(head) or head.endswith('='):
        return False
    if re.search(r'\)\s*(?:const|override|final|noexcept|mutable|volatile|&|\s)*(?:->\s*[^{}()]+)?$', head):
        return True  # a plain function, a member or a lambda
    # A constructor with its initialisers: "X::X(...) : a(b), c{d}".
    return bool(re.search(r'\)\s*:\s*[^:]', head)) and head.endswith((')', '}'))


def long_functions(path, limit):
    with open(path, encoding='utf-8', errors='replace') as f:
        text = blank_out(f.read())
    found = []
    # Per open brace: its line, whether it opens a function (not inside
    # another), whether it opens a scope of declarations, where its head began.
    stack = []
    last_break = 0
    for i, c in enumerate(text):
        if c == '{':
            inside = any(entry[1] for entry in stack)
            head = text[last_break:i]
            is_function = not inside and opens_function(head)
            is_scope = bool(NOT_A_FUNCTION.match(head.strip()))
            stack.append((text.count('\n', 0, i) + 1, is_function, is_scope, last_break))
            last_break = i + 1
        elif c == '}':
            if not stack:
                continue
            start, is_function, is_scope, head_start = stack.pop()
            end = text.count('\n', 0, i) + 1
            if is_function and end - start + 1 > limit:
                found.append((start, end - start + 1))
            inside = any(entry[1] for entry in stack)
            # A brace initialiser ("b_{a}") is part of the head that goes on.
            last_break = head_start if not (is_function or is_scope or inside) else i + 1
        elif c == ';':
            last_break = i + 1
    return found


def main(argv):
    limit = 80
    if len(argv) > 1 and argv[0] == '--limit':
        limit = int(argv[1])
        argv = argv[2:]
    problems = []
    for folder in argv:
        for dirpath, _, files in os.walk(folder):
            for name in sorted(files):
                if name.endswith(('.cpp', '.h', '.hpp', '.c')):
                    path = os.path.join(dirpath, name)
                    for start, length in long_functions(path, limit):
                        problems.append(f'{path}:{start}: a function of {length} lines (at most {limit})')
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
