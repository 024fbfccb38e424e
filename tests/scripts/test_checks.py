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
