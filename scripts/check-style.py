#!/usr/bin/env python3
"""Checks the project's one C++ style: the layout clang-format gives
(.clang-format) and braces around the body of every if, else, for and while.

Usage: scripts/check-style.py [FILE...]   (default: every tracked .cpp and .h)
Exit status 1, with one line per fault, when a file breaks either rule.
"""
import re
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CONTROL = re.compile(r'\b(if|for|while|else)\b')


def tracked_files():
    listed = subprocess.run(['git', 'ls-files', '*.cpp', '*.h'], cwd=ROOT, check=True,
                            capture_output=True, text=True).stdout.split()
    return [ROOT / name for name in listed]


def blank_out_literals(text):
    """The text with comments, strings, characters and preprocessor lines
    replaced by spaces, so that keywords and brackets inside them are not
    taken for code. Line breaks stay where they are."""
    out = []
    i = 0
    while i < len(text):
        line_start = text.rfind('\n', 0, i) + 1
        if text[i] == '#' and text[line_start:i].strip() == '':
            end = i
            while True:
                end = text.find('\n', end)
                if end < 0 or text[end - 1] != '\\':
                    break
                end += 1
            end = len(text) if end < 0 else end
        elif text.startswith('//', i):
            end = text.find('\n', i)
            end = len(text) if end < 0 else end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = len(text) if end < 0 else end + 2
        elif text.startswith('R"', i):
            delimiter = text[i + 2:text.index('(', i)]
            end = text.index(')' + delimiter + '"', i) + len(delimiter) + 2
        elif text[i] in '"\'' and not (text[i] == '\'' and i > 0 and text[i - 1].isalnum()):
            quote = text[i]
            end = i + 1
            while end < len(text) and text[end] != quote:
                end += 2 if text[end] == '\\' else 1
            end += 1
        else:
            out.append(text[i])
            i += 1
            continue
        out.append(re.sub(r'[^\n]', ' ', text[i:end]))
        i = end
    return ''.join(out)


def skip_space(code, i):
    while i < len(code) and code[i].isspace():
        i += 1
    return i


def matching_paren(code, i):
    depth = 0
    for j in range(i, len(code)):
        if code[j] == '(':
            depth += 1
        elif code[j] == ')':
            depth -= 1
            if depth == 0:
                return j
    return len(code)


def unbraced_bodies(code):
    """Offsets of the control statements whose body is not a block."""
    for match in CONTROL.finditer(code):
        keyword = match.group(1)
        i = skip_space(code, match.end())
        if keyword == 'else':
            if code.startswith('if', i) and not code[i + 2:i + 3].isalnum():
                continue  # checked as the if it is
        else:
            if i >= len(code) or code[i] != '(':
                continue
            i = skip_space(code, matching_paren(code, i) + 1)
            if keyword == 'while' and i < len(code) and code[i] == ';':
                continue  # the end of a do-while
        if i < len(code) and code[i] != '{':
            yield match.start()


def brace_faults(path):
    code = blank_out_literals(path.read_text(encoding='utf-8'))
    for offset in unbraced_bodies(code):
        line = code.count('\n', 0, offset) + 1
        yield f'{path.relative_to(ROOT)}:{line}: the body of this statement needs braces'


def layout_faults(paths):
    run = subprocess.run(['clang-format', '--dry-run', *map(str, paths)], cwd=ROOT, capture_output=True, text=True)
    files = sorted({line.split(':')[0] for line in run.stderr.splitlines() if ': warning:' in line})
    return [f'{Path(name).resolve().relative_to(ROOT)}: not as clang-format lays it out '
            '(clang-format -i fixes it)' for name in files]


def main():
    paths = [Path(p).resolve() for p in sys.argv[1:]] or tracked_files()
    faults = layout_faults(paths)
    for path in paths:
        faults.extend(brace_faults(path))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
