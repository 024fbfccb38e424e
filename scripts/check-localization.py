#!/usr/bin/env python3
"""Checks the English translation table against the sources.

Every literal key passed to L(...) or LP(count, ...) in the C++ sources must be in
resources/Localization/en.json with a non-empty text whose placeholder set ({0}, {1}, ...)
equals the key's. Plural texts are checked form by form. Keys are compared byte for byte.
"""
import json
import os
import re
import sys

SOURCE_DIRS = ["model", "processing", "transport", "store", "widgets", "timeline", "panels", "app"]
PLACEHOLDER = re.compile(r"\{(\d+)\}")
# A C++ string literal, possibly several adjacent ones.
LITERAL = r'"(?:[^"\\\n]|\\.)*"'
CALL_L = re.compile(r'(?<![A-Za-z0-9_])L\(\s*((?:' + LITERAL + r'\s*)+)')
CALL_LP = re.compile(r'(?<![A-Za-z0-9_])LP\(\s*[^,;"]+?,\s*((?:' + LITERAL + r'\s*)+)')
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "'": "'", "0": "\0"}


def unquote(chunk):
    out = []
    for lit in re.findall(LITERAL, chunk):
        body = lit[1:-1]
        i = 0
        while i < len(body):
            c = body[i]
            if c == "\\" and i + 1 < len(body):
                out.append(ESCAPES.get(body[i + 1], body[i + 1]))
                i += 2
            else:
                out.append(c)
                i += 1
    return "".join(out)


def strip_comments(text):
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    return re.sub(r'//[^\n"]*$', "", text, flags=re.M)


def keys_in(root):
    keys = {}
    for d in SOURCE_DIRS:
        base = os.path.join(root, d)
        for dirpath, _, files in os.walk(base):
            for name in files:
                if not name.endswith((".cpp", ".h")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8") as f:
                    text = strip_comments(f.read())
                for rx, plural in ((CALL_L, False), (CALL_LP, True)):
                    for m in rx.finditer(text):
                        key = unquote(m.group(1))
                        keys.setdefault(key, (os.path.relpath(path, root), plural))
    return keys


def placeholders(text):
    return set(PLACEHOLDER.findall(text))


def main(root):
    with open(os.path.join(root, "resources/Localization/en.json"), encoding="utf-8") as f:
        table = json.load(f)
    problems = []
    for key, (where, plural) in sorted(keys_in(root).items()):
        if key not in table:
            problems.append(f"{where}: key missing from en.json: {key!r}")
            continue
        value = table[key]
        if not isinstance(value, str) or not value.strip():
            problems.append(f"{where}: empty English text for {key!r}")
            continue
        if plural:
            want = set().union(*(placeholders(form) for form in key.split("|")))
            got = set().union(*(placeholders(form) for form in value.split("|")))
            if got != want:
                problems.append(f"{where}: placeholders differ in plural {key!r} -> {value!r}")
        elif placeholders(key) != placeholders(value):
            problems.append(f"{where}: placeholders differ: {key!r} -> {value!r}")
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} localisation problem(s)")
        return 1
    print(f"localisation: {len(table)} entries, all keys present")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.getcwd()))
