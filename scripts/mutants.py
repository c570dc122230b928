#!/usr/bin/env python3
"""Mechanical faults for the sampled mutation run (scripts/mutation-test.sh --sample).

Reads every source file of core/, chips/, files/, hex/, engine/,
production/, sim/, portio/, cli/ and app/ that this build compiles or includes, on the lines it compiles (from the preprocessor
run with the build's own commands, so the files only built on Windows and
the #if branches for other systems are left out), finds every place where one of
the operators below changes the code, draws a sample with a seed, and
writes one NUL-separated record per fault to standard output:

    number, file, line number, line before, line after, equivalence reason ('' when none)

Operators: a comparison flipped or its boundary moved, && and || swapped,
an integer constant off by one, a negation dropped, true and false swapped,
a call statement dropped, a return (void or inside an if block), break or
continue dropped. Comments, string and character literals, preprocessor
lines and static_assert are masked out before the search, so they are never
changed.

    mutants.py SOURCE BUILD SEED COUNT EQUIVALENTS [FILES]

FILES, a regular expression, keeps the files whose path (relative to SOURCE)
it matches, before the draw: a part's own tests measured on that part.
"""
import json
import os
import random
import re
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

FOLDERS = ('core', 'chips', 'files', 'hex', 'engine', 'production', 'sim', 'portio', 'options', 'cli', 'app')
SUFFIXES = ('.cpp', '.h')


def preprocessed(entry):
    """The translation unit of a compile_commands.json entry, as the preprocessor leaves it."""
    arguments = shlex.split(entry['command']) if 'command' in entry else list(entry['arguments'])
    kept = []
    skip = False
    for argument in arguments:
        if skip:
            skip = False
        elif argument in ('-o', '-MF', '-MT', '-MQ'):
            skip = True
        elif argument not in ('-c', '-MD', '-MMD'):
            kept.append(argument)
    return subprocess.run(kept + ['-E'], cwd=entry['directory'], check=True, capture_output=True,
                          text=True, errors='replace').stdout


def compiled_lines(source, build):
    """{file relative to SOURCE: the line numbers this build compiles}, for the files of FOLDERS.

    Read from the preprocessor's line markers over every translation unit of
    the build, so a file only built on Windows, and the lines of an #if
    branch this build leaves out, are not there.
    """
    entries = json.loads((build / 'compile_commands.json').read_text())
    marker = re.compile(r'^# (\d+) "(.*)"')
    lines = {}
    with ThreadPoolExecutor(os.cpu_count() or 1) as pool:
        for unit in pool.map(preprocessed, entries):
            current, number = None, 0
            for text in unit.split('\n'):
                match = marker.match(text)
                if match:
                    number, current = int(match.group(1)), lines.setdefault(match.group(2), set())
                    continue
                if text.strip():  # an #if branch left out stays as blank lines
                    current.add(number)
                number += 1
    compiled = {}
    for name, numbers in lines.items():
        path = (build / name).resolve()
        try:
            relative = path.relative_to(source)
        except ValueError:
            continue
        if relative.parts[0] in FOLDERS and path.suffix in SUFFIXES:
            compiled.setdefault(relative, set()).update(numbers)
    return compiled


def masked(text):
    """TEXT with comments and the contents of literals blanked (newlines kept)."""
    out = list(text)
    i, n = 0, len(text)

    def blank(start, end):
        for k in range(start, end):
            if out[k] != '\n':
                out[k] = ' '

    while i < n:
        c = text[i]
        if text.startswith('//', i):
            end = text.find('\n', i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif c == 'R' and text.startswith('"', i + 1) and not (i and (text[i - 1].isalnum() or text[i - 1] == '_')):
            open_paren = text.find('(', i + 2)
            closing = ')' + text[i + 2:open_paren] + '"'
            end = text.find(closing, open_paren)
            end = n if end < 0 else end + len(closing)
            blank(i + 1, end)
            i = end
        elif c == '"' or (c == "'" and not (i and text[i - 1].isalnum())):
            # A quote after a digit or letter is a digit separator (1'000), not a literal.
            k = i + 1
            while k < n and text[k] != c and text[k] != '\n':
                k += 2 if text[k] == '\\' else 1
            blank(i + 1, k)
            i = k + 1
        else:
            i += 1
    return ''.join(out)


def without_unmutable(code):
    """Blanks the preprocessor lines and static_assert declarations of masked CODE."""
    code = re.sub(r'(?m)^[ \t]*#.*$', lambda m: ' ' * len(m.group()), code)
    for match in reversed(list(re.finditer(r'\bstatic_assert\s*\(', code))):
        depth, k = 0, match.end() - 1
        while k < len(code):
            depth += {'(': 1, ')': -1}.get(code[k], 0)
            if depth == 0:
                break
            k += 1
        code = code[:match.start()] + re.sub(r'[^\n]', ' ', code[match.start():k + 1]) + code[k + 1:]
    return code


COMPARISON = {'<': ['<='], '<=': ['<'], '>': ['>='], '>=': ['>'], '==': ['!='], '!=': ['==']}
LOGICAL = {'&&': '||', '||': '&&'}
# Whole operator tokens, longest first, so that << or -> is never read as < or >.
OPERATOR = re.compile(r'<<=|>>=|<=>|<<|>>|->|<=|>=|==|!=|&&|\|\||<|>')
INTEGER = re.compile(r"(?<![\w.'])(0[xX][0-9A-Fa-f']+|\d[\d']*)([uUlL]*)(?![\w.'])")
# The 0 of '= 0;' after a declaration's parameters makes it pure virtual: no value.
PURE_SPECIFIER = re.compile(r'\)[\w\s]*=\s*(0)\s*;')
NEGATION = re.compile(r'!(?=[\w(])')
BOOLEAN = re.compile(r'\b(true|false)\b')
CALL_STATEMENT = re.compile(r'^\s*(::)?[A-Za-z_]\w*(\s*(::|\.|->)\s*~?[A-Za-z_]\w*)*\s*(<[\w:, ]*>)?\s*\(.*\)\s*;\s*$')
KEYWORDS = {'return', 'if', 'while', 'for', 'switch', 'sizeof', 'static_assert', 'delete', 'throw',
            'co_return', 'case', 'do', 'else', 'new', 'decltype', 'alignof'}
JUMP = re.compile(r'^\s*(return|break|continue)\s*;\s*$')
RETURN_VALUE = re.compile(r'^\s*return\b.*;\s*$')
EARLY_RETURN_BLOCK = re.compile(r'^\s*(\}\s*else\s+)?if\s*\(.*\{\s*$')


def spaced(line, start, end):
    """Whether the token at [start, end) stands between spaces, as binary operators do here."""
    return start > 0 and line[start - 1] == ' ' and end < len(line) and line[end] == ' '


def off_by_one(literal):
    digits = literal.replace("'", '')
    value = int(digits, 16) if digits[:2] in ('0x', '0X') else int(digits)
    if digits[:2] in ('0x', '0X'):
        form = lambda v: '0x' + format(v, 'X' if any(c.isupper() for c in digits[2:]) else 'x').zfill(len(digits) - 2)
        return [form(v) for v in (value + 1, value - 1) if v >= 0]
    return [str(v) for v in (value + 1, value - 1) if v >= 0]


def expression_changes(code_line):
    """(start, end, replacement) for each operator site of a masked line."""
    for match in OPERATOR.finditer(code_line):
        token, start, end = match.group(), match.start(), match.end()
        if not spaced(code_line, start, end):
            continue
        for replacement in COMPARISON.get(token, []) + ([LOGICAL[token]] if token in LOGICAL else []):
            yield start, end, replacement
    pure = {match.start(1) for match in PURE_SPECIFIER.finditer(code_line)}
    for match in INTEGER.finditer(code_line):
        if match.start(1) in pure:
            continue
        for replacement in off_by_one(match.group(1)):
            yield match.start(1), match.end(1), replacement
    for match in NEGATION.finditer(code_line):
        yield match.start(), match.end(), ''
    for match in BOOLEAN.finditer(code_line):
        yield match.start(), match.end(), 'false' if match.group() == 'true' else 'true'


def previous_code(lines, index):
    for k in range(index - 1, -1, -1):
        if lines[k].strip():
            return lines[k].rstrip()
    return ''


def dropped_statement(code_lines, index):
    """Whether the masked line at INDEX is a whole statement whose removal is a fault worth trying."""
    line = code_lines[index]
    before = previous_code(code_lines, index)
    # Only a statement that starts after another one ends (not a braceless body,
    # not the continuation of a longer expression).
    if not before or before[-1] not in ';{}:':
        return False
    if JUMP.match(line):
        return True
    if RETURN_VALUE.match(line):
        return bool(EARLY_RETURN_BLOCK.match(before))
    match = CALL_STATEMENT.match(line)
    if not match or line.count('(') != line.count(')'):
        return False
    first = re.match(r'\s*:*(\w+)', line).group(1)
    return first not in KEYWORDS


def faults_of(relative, text, compiled):
    """Every fault of a file, on the line numbers COMPILED."""
    lines = text.split('\n')
    code_lines = without_unmutable(masked(text)).split('\n')
    for index, (line, code_line) in enumerate(zip(lines, code_lines)):
        if index + 1 not in compiled or not code_line.strip():
            continue
        for start, end, replacement in expression_changes(code_line):
            yield str(relative), index + 1, line, line[:start] + replacement + line[end:]
        if dropped_statement(code_lines, index):
            yield str(relative), index + 1, line, ''


def read_equivalents(path):
    """(file, line before, line after) -> reason, from the reviewed list."""
    form = re.compile(r'^(\S+): (.+?) => (.*?)\s+# (.+)$')
    entries = {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        if not line.strip() or line.lstrip().startswith('#'):
            continue
        match = form.match(line)
        if not match:
            sys.exit(f'{path}:{number}: not "FILE: BEFORE => AFTER  # WHY": {line}')
        entries[match.group(1), match.group(2).strip(), match.group(3).strip()] = match.group(4)
    return entries


def main():
    source, build = Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()
    seed, count, equivalents = sys.argv[3], int(sys.argv[4]), read_equivalents(Path(sys.argv[5]))
    files = re.compile(sys.argv[6] if len(sys.argv) > 6 else '')
    faults = []
    for relative, compiled in sorted(compiled_lines(source, build).items()):
        if not files.search(relative.as_posix()):
            continue
        faults.extend(faults_of(relative, (source / relative).read_text(), compiled))
    print(f'{len(faults)} faults in the code; drawing {min(count, len(faults))} with seed {seed}',
          file=sys.stderr)
    drawn = sorted(random.Random(seed).sample(range(len(faults)), min(count, len(faults))))
    for number, index in enumerate(drawn, 1):
        file, line_number, before, after = faults[index]
        reason = equivalents.get((file, before.strip(), after.strip()), '')
        # An entry names its line by text: where other lines read the same,
        # it cannot tell which one was reviewed, and excuses none.
        lines = (source / file).read_text().split('\n')
        if sum(line.strip() == before.strip() for line in lines) > 1:
            reason = ''
        sys.stdout.write('\0'.join([str(number), file, str(line_number), before, after, reason]) + '\0')


if __name__ == '__main__':
    main()
