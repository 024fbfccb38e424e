#!/usr/bin/env python3
"""Fails when CTest skipped a test that tests/skips-allowed.txt does not name.

    check-skips.py JUNIT_XML ALLOWED_LIST [--sanitize]

JUNIT_XML is what `ctest --output-junit` wrote. A test counts as skipped when CTest did not run it
(a script's exit code 77, a missing executable) or when it reported a skip (GoogleTest's GTEST_SKIP).
Exit status 1 lists every skipped test that is not allowed in this build; 2 when the input is unusable.
"""
import re
import sys
import xml.etree.ElementTree as ET


def allowed(path, sanitize):
    patterns = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            fields = line.split(None, 2)
            if len(fields) < 3 or fields[1] not in ("all", "sanitize"):
                sys.exit("check-skips: bad line in %s: %s" % (path, line))
            if fields[1] == "all" or sanitize:
                patterns.append(re.compile(fields[0]))
    return patterns


def skipped(path):
    try:
        tree = ET.parse(path)
    except (OSError, ET.ParseError) as error:
        print("check-skips: cannot read %s: %s" % (path, error))
        sys.exit(2)
    cases = list(tree.iter("testcase"))
    if not cases:
        print("check-skips: %s lists no tests" % path)
        sys.exit(2)
    found = []
    for case in cases:
        status = case.get("status", "")
        if status in ("notrun", "disabled") or case.find("skipped") is not None:
            found.append(case.get("name", "?"))
    return found


def main():
    args = [a for a in sys.argv[1:] if a != "--sanitize"]
    if len(args) != 2:
        print(__doc__)
        return 2
    patterns = allowed(args[1], "--sanitize" in sys.argv[1:])
    names = skipped(args[0])
    bad = [n for n in names if not any(p.fullmatch(n) for p in patterns)]
    for name in bad:
        print("check-skips: %s was skipped; install what it needs (scripts/setup-deps.sh) "
              "or name it in tests/skips-allowed.txt with the reason" % name)
    print("check-skips: %d skipped as intended, %d not allowed" % (len(names) - len(bad), len(bad)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
