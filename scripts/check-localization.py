#!/usr/bin/env python3
"""Checks the English translation table against the sources.

Every literal key passed to L(...) or LP(count, ...) in the C++ sources must be in
resources/Localization/en.json with a non-empty text whose placeholder set ({0}, {1}, ...)
equals the key's. Plural texts are checked form by form. Keys are compared byte for byte.
The English (the table and the English guide) is written in one spelling, the US one of the desktop's own Qt strings: a British form
("Favourites", "Analysing", "Normalise", "Colour", "Centre", "Cancelled"...) is an error.

The English of menus, pickers and titles is in Title Case. The check finds those keys where they are
declared: menu entries (the menu binder's add(menu, L(...)), addAction and addMenu), the items of
segmented pickers and combo boxes (added one by one, or from a local list: a loop over a braced list,
or a list handed to addItems or indexed in addItem), every function named title() (the vocabularies' display titles),
window titles and undo step names (checkpoint, shown in the Edit menu), the device pickers' system
entry (fillDevicePicker), the settings window's section headings and the texts push buttons are built with. A word of their English that
begins in lower case must be a short article, conjunction or preposition, or a unit ("dB", "kHz").

A number before a Russian noun takes the noun's plural form for that number: such a text goes through
LP with three forms (one, few, many: "{0} клип|{0} клипа|{0} клипов"). A plain L text whose English puts
a placeholder before a plural noun ("{0} semitones") while the Russian puts it before a word is an
error, as is an LP key without three forms or with two forms alike (unless the counted word is an
abbreviation, "отсч.", or the count follows its noun, "файлов: {0}"), and a counted word whose form differs from the one another LP key gives it.
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


def keys_in(root, titles=None):
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
                if titles is not None:
                    titles.update(title_keys_in(text))
                for rx, plural in ((CALL_L, False), (CALL_LP, True)):
                    for m in rx.finditer(text):
                        key = unquote(m.group(1))
                        keys.setdefault(key, (os.path.relpath(path, root), plural))
    return keys


# Keys whose English is in Title Case, found where they are declared.
def _calls(name_rx):
    return re.compile(name_rx + r'\(\s*(?:[\w:>.*&-]+\s*,\s*)?(?:[\w:]+\(\s*)*L\(\s*((?:' + LITERAL + r'\s*)+)')


TITLE_CALLS = [
    _calls(r'(?<![A-Za-z0-9_])(?:[A-Za-z_]\w*(?:\.|->))add'),  # the menu binder: b.add(menu, L("…"), …)
    _calls(r'(?<![A-Za-z0-9_])(?:addAction|addMenu|addItem|insertItem|setWindowTitle|checkpoint|refreshClip|top)'),
    re.compile(r'(?<![A-Za-z0-9_])title\s*=\s*L\(\s*((?:' + LITERAL + r'\s*)+)'),  # a dialog's title
    # A device picker's first item (the system's device) and a settings section's heading.
    re.compile(r'(?<![A-Za-z0-9_])(?:fillDevicePicker|section)\([^;"]*?L\(\s*((?:' + LITERAL + r'\s*)+)'),
    # A push button's text, after its icon when it has one.
    re.compile(r'(?<![A-Za-z0-9_])QPushButton\([^;]*?(?<![A-Za-z0-9_])L\(\s*((?:' + LITERAL + r'\s*)+)'),
]
PICKER_LIST = re.compile(r'SegmentedControl\(\s*\{([^{}]*)\}')
# Picker items built from a local list: a loop over a braced list that adds each entry, or a named
# list (filled with <<, braces or =) that is handed to addItems or indexed inside addItem/insertItem.
LOOP_ITEMS = re.compile(r'for\s*\([^;{}]*?:\s*\{([^{}]*)\}\s*\)[^;]*?(?<![A-Za-z0-9_])(?:addItem|insertItem)\s*\(')
LIST_ITEMS = re.compile(r'(?<![A-Za-z0-9_])(?:addItems|insertItems)\(\s*(?:\w+\s*,\s*)?(\w+)\s*\)'
                        r'|(?<![A-Za-z0-9_])(?:addItem|insertItem)\(\s*(?:\w+\s*,\s*)?(\w+)\s*\[')
TITLE_FUNCTION = re.compile(r'(?<![A-Za-z0-9_])title\([^()]*\)\s*(?:const\s*)?\{')
ANY_L = re.compile(r'(?<![A-Za-z0-9_])L\(\s*((?:' + LITERAL + r'\s*)+)')
# Lower-case words a title keeps: articles, conjunctions, prepositions of up to four letters, units.
TITLE_MINOR = {"a", "an", "the", "and", "but", "or", "nor", "as", "at", "by", "for", "from", "in", "into", "of",
               "off", "on", "onto", "over", "per", "to", "up", "via", "vs", "with"}
UNITS = {"s", "ms", "st", "px", "db", "dbfs", "dbtp", "hz", "khz", "lufs", "kbps", "bpm", "x"}


def body_at(text, open_brace):
    """The text between the brace at open_brace and its partner."""
    depth = 0
    for i in range(open_brace, len(text)):
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return text[open_brace + 1:i]
    return text[open_brace + 1:]


def title_keys_in(text):
    keys = set()
    for rx in TITLE_CALLS:
        keys.update(unquote(m.group(1)) for m in rx.finditer(text))
    for m in PICKER_LIST.finditer(text):
        keys.update(unquote(k.group(1)) for k in ANY_L.finditer(m.group(1)))
    for m in LOOP_ITEMS.finditer(text):
        keys.update(unquote(k.group(1)) for k in ANY_L.finditer(m.group(1)))
    for name in {m.group(1) or m.group(2) for m in LIST_ITEMS.finditer(text)}:
        filled = re.compile(r'(?<![A-Za-z0-9_.>])' + name + r'\s*(?:<<|\{|=(?!=))([^;]*);')
        for m in filled.finditer(text):
            keys.update(unquote(k.group(1)) for k in ANY_L.finditer(m.group(1)))
    for m in TITLE_FUNCTION.finditer(text):
        keys.update(unquote(k.group(1)) for k in ANY_L.finditer(body_at(text, m.end() - 1)))
    return keys


def lower_words(title):
    """The words of an English title that should begin in upper case but do not."""
    found = []
    words = re.findall(r"[^\s·—–/]+", re.sub(r"\{\d+\}|\([^()]*(?:Ctrl|Alt|Shift)\+[^()]*\)", " ", title))
    for i, word in enumerate(words):
        bare = word.strip("()[]“”\"'«»,:;.!?…")
        if not re.fullmatch(r"[a-z][a-z'-]*", bare):
            continue
        if bare.lower() in UNITS or (i > 0 and bare in TITLE_MINOR):
            continue
        found.append(bare)
    return found


# "{0} клип|{0} клипа|{0} клипов": the word after the count (the first placeholder) in each form.
COUNTED_WORD = re.compile(r"\{\d+\}\s+([А-Яа-яЁё]+\.?)")
RUSSIAN_WORD_AFTER = re.compile(r"\{(\d+)\}\s+(?:[A-Za-z]+\s+)?([А-Яа-яЁё]{3,}\.?)")


def plural_problems(key):
    """What is wrong with the Russian forms of an LP key."""
    forms = key.split("|")
    if len(forms) != 3:
        return [f"{len(forms)} Russian forms, not three (one, few, many)"]
    words = [COUNTED_WORD.search(f) for f in forms]
    if any(w is None for w in words):
        return []
    words = [w.group(1) for w in words]
    if words[0].endswith(".") or re.search(r"[А-Яа-яЁё]+:\s*\{0\}", forms[0]):
        return []  # an abbreviation, or a count after its noun ("файлов: {0}"), reads for every count
    if len(set(forms)) != 3:
        return [f"forms alike ({' | '.join(words)}): the noun takes three forms"]
    return []


def count_before_noun(key, english):
    """A placeholder the English counts ("{0} semitones") standing before a Russian word."""
    counted = {m.group(1) for m in re.finditer(r"\{(\d+)\}\s+(?:[a-z]+\s+)?[a-z]+s\b", english)}
    for m in RUSSIAN_WORD_AFTER.finditer(key):
        word = m.group(2)
        preceding = key[:m.start()].rstrip().split(" ")[-1].lower()
        if m.group(1) in counted and not word.endswith(".") and word.lower() not in RUSSIAN_UNITS \
                and preceding != "до":  # "до 32 клипов": the preposition asks for the genitive plural
            return word
    return None


RUSSIAN_UNITS = {"с", "мс", "дб", "гц", "кгц", "мб", "пт"}

# Texts kept word for word as the program has always shown them, although a count stands before a noun:
# the count is fixed (the project's limits) and the wording is the one users and stored logs know.
FIXED_COUNT_TEXTS = {"Достигнут предел проекта: {0} дорожек и {1} клипов."}


def placeholders(text):
    return set(PLACEHOLDER.findall(text))


def main(root):
    with open(os.path.join(root, "resources/Localization/en.json"), encoding="utf-8") as f:
        table = json.load(f)
    problems = []
    titles = set()
    keys = keys_in(root, titles)
    # The counted words of the LP keys, each with its three forms.
    declensions = {}
    for key, (where, plural) in keys.items():
        forms = key.split("|")
        words = [COUNTED_WORD.search(f) for f in forms]
        if plural and len(forms) == 3 and all(words) and len({w.group(1) for w in words}) == 3:
            for i, w in enumerate(words):
                declensions.setdefault(w.group(1), set()).add(i)
    for word, places in sorted(declensions.items()):
        if len(places) > 1:
            problems.append(f"Russian plural: {word!r} stands as two different forms in the LP keys")
    for key, (where, plural) in sorted(keys.items()):
        if plural:
            for p in plural_problems(key):
                problems.append(f"{where}: Russian plural {key!r}: {p}")
        elif key in table and isinstance(table[key], str) and key not in FIXED_COUNT_TEXTS \
                and (word := count_before_noun(key, table[key])):
            problems.append(f"{where}: a count before {word!r} in {key!r}: use LP with the noun's three forms")
        if key in titles and key in table and isinstance(table[key], str) and not plural:
            lower = lower_words(table[key])
            if lower:
                problems.append(f"{where}: not in Title Case ({', '.join(lower)}): {key!r} -> {table[key]!r}")
    for key, (where, plural) in sorted(keys.items()):
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
