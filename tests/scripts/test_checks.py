#!/usr/bin/env python3
"""The build's own checks catch what they are meant to catch."""
import json
import os
import subprocess
import sys
import tempfile

root = sys.argv[1]
scripts = os.path.join(root, "scripts")
failures = []


def run(script, tree):
    return subprocess.run([sys.executable, os.path.join(scripts, script), tree],
                          capture_output=True, text=True).returncode


def write(tree, rel, text):
    path = os.path.join(tree, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


checked = []


def unquote(call):
    return call[call.index('"') + 1:call.rindex('"')]


def expect(name, got, want):
    checked.append(name)
    if got != want:
        failures.append(f"{name}: exit {got}, expected {want}")


with tempfile.TemporaryDirectory() as t:
    write(t, "model/A.h", '#include <vector>\n#include "model/B.h"\n')
    expect("clean tree", run("check-layers.py", t), 0)
    write(t, "processing/C.cpp", '#include <QString>\n')
    expect("Qt below store", run("check-layers.py", t), 1)
with tempfile.TemporaryDirectory() as t:
    write(t, "store/S.cpp", '#include <QtCore/QObject>\n#include <QWidget>\n')
    expect("Widgets in store", run("check-layers.py", t), 1)
with tempfile.TemporaryDirectory() as t:
    write(t, "model/M.cpp", '#include "processing/FFT.h"\n')
    expect("upward include", run("check-layers.py", t), 1)

with tempfile.TemporaryDirectory() as t:
    write(t, "model/M.cpp", 'auto a = L("Готово#ready");\nauto b = LP(n, "{0} клип|{0} клипа|{0} клипов", x);\n'
                            'auto c = L("Файл {0}", name);\n')
    table = {"Готово#ready": "Ready", "{0} клип|{0} клипа|{0} клипов": "{0} clip|{0} clips", "Файл {0}": "File {0}"}
    write(t, "resources/Localization/en.json", json.dumps(table, ensure_ascii=False))
    expect("complete table", run("check-localization.py", t), 0)
    for key, bad in (("Файл {0}", "File"), ("Готово#ready", ""), ("Файл {0}", None)):
        broken = dict(table)
        if bad is None:
            del broken[key]
        else:
            broken[key] = bad
        write(t, "resources/Localization/en.json", json.dumps(broken, ensure_ascii=False))
        expect(f"broken table {key!r}->{bad!r}", run("check-localization.py", t), 1)
    # One spelling: US forms pass, a British one in the table or in the English guide fails.
    us = dict(table, **{"Готово#ready": "Favorites, Analyzing, Normalize, Color, Center, Canceled, Dialogue, Analysis"})
    write(t, "resources/Localization/en.json", json.dumps(us, ensure_ascii=False))
    expect("US spelling", run("check-localization.py", t), 0)
    for british in ("Save Chain to Favourites…", "Analysing noise…", "normalised", "Colour", "centre",
                    "Recording cancelled", "neighbouring audio", "equaliser bands"):
        write(t, "resources/Localization/en.json",
              json.dumps(dict(table, **{"Готово#ready": british}), ensure_ascii=False))
        expect(f"British spelling {british!r}", run("check-localization.py", t), 1)
    write(t, "resources/Localization/en.json", json.dumps(table, ensure_ascii=False))
    write(t, "resources/Guide.en.html", "<p>Your <b>favourite</b> chains</p>")
    expect("British spelling in the guide", run("check-localization.py", t), 1)

# Menus, pickers and titles in Title Case; a count before a Russian noun in its plural form.
with tempfile.TemporaryDirectory() as t:
    good = {"app/Menus.cpp": 'b.add(menu, L("Такты и доли"), {});\nstd::string title(Hall h) { return L("Большой зал"); }\n'
                             'auto s = LP(n, "{0} клип|{0} клипа|{0} клипов");\nauto u = L("Сдвиг на {0} с", x);\n'
                             'auto v = L("До {0} клипов", x);\nauto w = L("Нажмите кнопку «{0}»", x);\n',
            # Picker items: one by one, and from local lists.
            "panels/Pickers.cpp": 'p->addItem(qs(L("Тёплый голос")), 1);\np->insertItem(0, qs(L("Все клипы")));\n'
                                  'for (const std::string& n : {L("Радио"), L("Тихий зал")}) p->addItem(qs(n));\n'
                                  'QStringList items;\nitems << qs(L("Другие дорожки"));\np->addItems(items);\n'
                                  'QStringList labels{qs(L("Цепочка клипа"))};\np->addItem(labels[i], values[i]);\n'
                                  'fillDevicePicker(in_, ins_, qs(L("Системный по умолчанию")));\nf = section(qs(L("Экспорт")));\n'
                                  'r = new QPushButton(Icons::icon(QStringLiteral("r"), c, 14),\n qs(L("Обновить")), row);\n'}
    table = {"Такты и доли": "Bars and Beats", "Большой зал": "Large Hall", "{0} клип|{0} клипа|{0} клипов": "{0} clip|{0} clips",
             "Сдвиг на {0} с": "Moved by {0} s", "До {0} клипов": "Up to {0} clips", "Нажмите кнопку «{0}»": "Press the {0} button",
             "Тёплый голос": "Warm Voice", "Все клипы": "All Clips", "Радио": "Radio", "Тихий зал": "Quiet Room",
             "Другие дорожки": "Other Tracks", "Цепочка клипа": "Clip Chain",
             "Системный по умолчанию": "System Default", "Экспорт": "Export Defaults", "Обновить": "Refresh List"}
    for rel, text in good.items():
        write(t, rel, text)
    write(t, "resources/Localization/en.json", json.dumps(table, ensure_ascii=False))
    expect("title case and plurals", run("check-localization.py", t), 0)
    for key, english in (("Такты и доли", "Bars and beats"), ("Большой зал", "Large hall"), ("Тёплый голос", "Warm voice"),
                         ("Все клипы", "All clips"), ("Тихий зал", "Quiet room"), ("Другие дорожки", "Other tracks"),
                         ("Цепочка клипа", "Clip chain"),
                         ("Системный по умолчанию", "System default"), ("Экспорт", "Export defaults"), ("Обновить", "Refresh list")):
        write(t, "resources/Localization/en.json", json.dumps(dict(table, **{key: english}), ensure_ascii=False))
        expect(f"mixed capitalisation {english!r}", run("check-localization.py", t), 1)
    write(t, "resources/Localization/en.json", json.dumps(table, ensure_ascii=False))
    for name, line, english in (
            ("one form for every count", 'L("{0} полутонов", x)', "{0} semitones"),
            ("forms alike", 'LP(n, "{0} точек|{0} точек|{0} точек")', "{0} point|{0} points"),
            ("two forms", 'LP(n, "Длина: {0} отсч.|Длина: {0} отсч.")', "Length: {0} samples"),
            ("a form out of place", 'LP(n, "Ещё {0} клипа|Ещё {0} клип|Ещё {0} клипов")', "{0} more clip|{0} more clips")):
        key = unquote(line)
        write(t, "app/Counts.cpp", f"auto c = {line};\n")
        write(t, "resources/Localization/en.json", json.dumps(dict(table, **{key: english}), ensure_ascii=False))
        expect(f"wrong Russian plural: {name}", run("check-localization.py", t), 1)

# A skipped test fails CI unless the list names it, in the build the list names it for.
with tempfile.TemporaryDirectory() as t:
    allowed = os.path.join(t, "skips.txt")
    write(t, "skips.txt", "# reasons\nChild\\..*   all   run by its parent\nAlloc\\.Counts  sanitize  hidden counter\n")
    def junit(*cases):
        body = "".join('<testcase name="%s" status="%s">%s</testcase>' % c for c in cases)
        write(t, "r.xml", '<testsuite tests="%d">%s</testsuite>' % (len(cases), body))
        return os.path.join(t, "r.xml")
    def skips(path, *flags):
        return subprocess.run([sys.executable, os.path.join(scripts, "check-skips.py"), path, allowed, *flags],
                              capture_output=True, text=True).returncode
    ran = ("Plain.Test", "run", "")
    expect("nothing skipped", skips(junit(ran)), 0)
    expect("allowed child", skips(junit(ran, ("Child.Part", "run", "<skipped/>"))), 0)
    expect("script exit 77", skips(junit(ran, ("app_end_to_end_input", "notrun", "<skipped/>"))), 1)
    expect("gtest skip", skips(junit(ran, ("AudioIOTest.Reads", "run", '<skipped message="no ffmpeg"/>'))), 1)
    expect("pattern matches whole names", skips(junit(ran, ("MyChild.Part", "run", "<skipped/>"))), 1)
    expect("sanitize-only skip in the normal build", skips(junit(ran, ("Alloc.Counts", "run", "<skipped/>"))), 1)
    expect("sanitize-only skip in the sanitizer build",
           skips(junit(ran, ("Alloc.Counts", "run", "<skipped/>")), "--sanitize"), 0)
    expect("no results", skips(os.path.join(t, "missing.xml")), 2)

for f in failures:
    print(f)
print(f"{len(checked) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
