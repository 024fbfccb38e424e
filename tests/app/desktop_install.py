#!/usr/bin/env python3
"""Installs the build to a temporary prefix and checks the desktop integration:
desktop-file-validate accepts tessoral.desktop, update-mime-database maps *.tessoral to
application/x-tessoral-project, and the program, icon and translation table are in place.
Exits 77 (skipped) when the desktop tools are missing."""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    build = sys.argv[1]
    for tool in ("desktop-file-validate", "update-mime-database"):
        if not shutil.which(tool):
            print("skipped: %s is not installed (scripts/setup-deps.sh installs it)" % tool)
            return 77
    prefix = tempfile.mkdtemp(prefix="tessoral-install-")
    try:
        subprocess.run(["cmake", "--install", build, "--prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        share = os.path.join(prefix, "share")
        for rel in ("bin/tessoral", "share/applications/tessoral.desktop", "share/mime/packages/tessoral.xml",
                    "share/icons/hicolor/scalable/apps/tessoral.svg", "share/tessoral/Localization/en.json"):
            assert os.path.exists(os.path.join(prefix, rel)), rel + " not installed"
        desktop = os.path.join(share, "applications", "tessoral.desktop")
        check = subprocess.run(["desktop-file-validate", desktop], capture_output=True, text=True)
        assert check.returncode == 0 and not check.stdout.strip(), "desktop-file-validate: " + check.stdout
        with open(desktop, encoding="utf-8") as f:
            entry = f.read()
        assert "Exec=tessoral %F" in entry and "application/x-tessoral-project" in entry
        subprocess.run(["update-mime-database", os.path.join(share, "mime")], check=True)
        with open(os.path.join(share, "mime", "globs2"), encoding="utf-8") as f:
            globs = [line.strip().split(":") for line in f if not line.startswith("#")]
        assert any(g[1:] == ["application/x-tessoral-project", "*.tessoral"] for g in globs), globs
        print("desktop install: ok")
        return 0
    finally:
        shutil.rmtree(prefix, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
