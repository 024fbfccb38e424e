#!/usr/bin/env python3
"""Merges English texts into resources/Localization/en.json.

Usage: scripts/add-translations.py < entries.json   (a JSON object: Russian key -> English text)
Existing keys are updated in place, new keys appended; the file stays UTF-8 with one entry a line.
Safe to run from several shells at once (the file is locked while it is rewritten).
"""
import fcntl
import json
import os
import sys

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
path = os.path.join(root, "resources/Localization/en.json")
entries = json.load(sys.stdin)
with open(path + ".lock", "w") as lock:
    fcntl.flock(lock, fcntl.LOCK_EX)
    with open(path, encoding="utf-8") as f:
        table = json.load(f)
    for k, v in entries.items():
        if not isinstance(v, str) or not v:
            sys.exit(f"empty or non-string text for {k!r}")
        table[k] = v
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        json.dump(table, f, ensure_ascii=False, indent=1)
        f.write("\n")
    os.replace(tmp, path)
print(f"en.json: {len(table)} entries")
