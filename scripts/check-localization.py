#!/usr/bin/env python3
"""Checks the English translation table against the sources.

Every literal key passed to L(...) or LP(count, ...) in the C++ sources must be in
resources/Localization/en.json with a non-empty text whose placeholder set ({0}, {1}, ...)
equals the key's. Plural texts are checked form by form. Keys are compared byte for byte.
The English (the table and the English guide) is written in one spelling, the US one of the desktop's own Qt strings: a British form
("Favourites", "Analysing", "Normalise", "Colour", "Centre", "Cancelled"...) is an error.
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
# British spellings, each with its US form (for the message). Words are matched whole, any case;
# "analysis" and "dialogue" (speech) are the same in both.
BRITISH = [
    (r"(favo|colo|behavio|neighbo|hono|flavo|labo|armo|rumo|humo|harbo)ur(s|ed|ing|ite|ites|able|ful)?", "-or"),
    (r"analys(e|es|ed|ing|er|ers)", "analyze"),
    (r"(normal|real|organ|recogn|optim|minim|maxim|initial|synchron|visual|custom|equal|util|priorit|"
     r"summar|serial|harmon|stabil|random|author|final|categor|capital|apolog|emphas|memor|standard|"
     r"sanit|personal|local|special|character|quant|digit|tokeni|vectori|parameteri)"
     r"is(e|es|ed|ing|er|ers|ation|ations)", "-ize"),
    (r"(cent|met|lit|fib|theat|sab|calib)re(s|d)?", "-er"),
    (r"(catalog|analog|prolog|epilog)ue(s|d)?", "-og"),
    (r"(licen|defen|offen|preten)ce(s|d)?", "-se"),
    (r"(cancel|travel|label|model|signal|level|fuel|dial|total|channel|tunnel)l(ed|ing|er|ers)", "single l"),
    (r"grey(s|ed|ish)?", "gray"),
    (r"(fulfil|enrol|instal)(s|ment|ments)?", "-ll"),
    (r"programme(s)?", "program"),
    (r"artefact(s)?", "artifact"),
]
BRITISH_WORD = re.compile(r"(?<![A-Za-z])(?:" + "|".join(f"(?:{rx})" for rx, _ in BRITISH) + r")(?![A-Za-z])", re.I)


def british_words(text):
    """The British spellings in an English text, each with the US form to use."""
    found = []
    for m in BRITISH_WORD.finditer(text):
        word = m.group(0)
        hint = next(us for rx, us in BRITISH if re.fullmatch(rx, word, re.I))
        found.append((word, hint))
    return found


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
    for key, value in sorted(table.items()):
        if isinstance(value, str):
            for word, us in british_words(value):
                problems.append(f"en.json: British spelling {word!r} ({us}) in {key!r} -> {value!r}")
    guide = os.path.join(root, "resources/Guide.en.html")
    if os.path.exists(guide):
        with open(guide, encoding="utf-8") as f:
            text = re.sub(r"<[^>]*>", " ", f.read())
        for word, us in british_words(text):
            problems.append(f"Guide.en.html: British spelling {word!r} ({us})")
    for p in problems:
        print(p)
    if problems:
        print(f"{len(problems)} localisation problem(s)")
        return 1
    print(f"localisation: {len(table)} entries, all keys present")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.getcwd()))
