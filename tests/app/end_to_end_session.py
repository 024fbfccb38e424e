#!/usr/bin/env python3
"""A whole editing session in the real program under Xvfb, driven with X input as a person would.

Two WAV files made by sox are opened with Ctrl+O; the first clip is dragged right (Alt + drag);
"Телефон" is added from row 01 of its effect rack; Ctrl+Z and Ctrl+Shift+Z undo and redo it; the mix
is exported as FLAC through the export sheet; Ctrl+S saves the project through the save dialog;
Ctrl+Q quits; the program starts again with the project as its argument (no recovery question),
saves it under another name (Ctrl+Shift+S) and quits again.

Checked with independent readers: the status log, ffprobe on the FLAC (flac, 48000 Hz, 2 channels,
as long as the latest clip end ± 1 ms), Python's plistlib on both project files (2 clips, the dragged
one off its import place carrying the "telephone" slot, the same clips, starts and racks in both)
and the settings file (export.default.format=flac). A grab of the screen is kept after every step
(in $TESSORAL_E2E_GRABS, else e2e-grabs in the build folder). Every step runs: a view that is
missing fails the session.

Targets come from the window geometry and the views' sizes; no window manager runs, so focus is
given with `xdotool windowfocus --sync`. Run on its own or from end_to_end.py.
"""
import importlib.util
import json
import os
import plistlib
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
_spec = importlib.util.spec_from_file_location("end_to_end", os.path.join(HERE, "end_to_end.py"))
e2e = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(e2e)

# Rows of the window above the multitrack page: menu bar and header 73 + hairline, editor tools 72,
# the page's rulers 52; on the left the browser column (184 + hairline) and the row headers (194).
LANES_TOP = 74 + 72 + 52
LANES_LEFT = 185 + 194
# The right panel (248 wide): tab bar 42, rack header 42, the clip's name line 40, then the rack's
# rows of 39 + hairline; the add button is centred in the row beside the scroll bar.
RIGHT_PANEL = 248
RACK_ROW1_Y = 74 + 42 + 42 + 40 + 19
# The add menu: the two equalisers, a divider, then the presets in order; "Телефон" is the 9th entry.
TELEPHONE_DOWNS = 9
# The export sheet: 26 margins, the 20-point title, 20 apart, then the format row; FLAC is the
# fifth format.
SHEET_FORMAT_Y = 26 + 24 + 20 + 14
FLAC_DOWNS = 4



def make_wav(path, seconds, hertz):
    if shutil.which("sox"):
        subprocess.run(["sox", "-n", "-r", "48000", "-c", "2", "-b", "16", path, "synth", str(seconds), "sine",
                        str(hertz), "gain", "-12"], check=True, timeout=60)
    else:
        e2e.write_tone(path, seconds)


class Session:
    def __init__(self, program):
        self.run = e2e.Run(program)
        self.run.env["TESSORAL_QT_DIALOGS"] = "1"  # Qt's own file dialogs (no desktop portal here)
        # The build folder: the one that holds app/tessoral.
        build = os.path.dirname(os.path.dirname(os.path.abspath(program)))
        self.grabs = os.environ.get("TESSORAL_E2E_GRABS", os.path.join(build, "e2e-grabs"))
        self.step = 0
        self.named = {}  # what each dialog is, for messages

    def close(self):
        self.run.close()

    # ---- helpers ----
    def windows(self, process):
        return e2e.windows(self.run, process)

    def dialog(self, process, known, what):
        """Waits for a window of the program other than `known` (a window or a list) and gives it the
        keyboard."""
        known = known if isinstance(known, list) else [known]
        found = e2e.wait_for(lambda: [w for w in self.windows(process) if w not in known], what, timeout=20)
        e2e.focus(self.run, found[0], what)
        self.named[found[0]] = what
        return found[0]

    def geometry(self, window):
        out = self.run.xdotool("getwindowgeometry", "--shell", window)
        v = dict(line.split("=") for line in out.splitlines() if "=" in line)
        return int(v["X"]), int(v["Y"]), int(v["WIDTH"]), int(v["HEIGHT"])

    def focus(self, window):
        e2e.focus(self.run, window)

    def grab(self, name):
        self.step += 1
        if not shutil.which("ffmpeg"):
            return
        os.makedirs(self.grabs, exist_ok=True)
        path = os.path.join(self.grabs, "%02d-%s.png" % (self.step, name))
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "x11grab", "-i", self.run.env["DISPLAY"],
                        "-frames:v", "1", path], env=self.run.env, timeout=30, check=False)

    def type_path(self, dialog, path):
        """Replaces the name in the file dialog `dialog` with `path` and accepts."""
        e2e.type_name(self.run, dialog, path, self.named.get(dialog, "the file dialog"))

    # ---- the session ----
    def main(self):
        run = self.run
        run.start_display()
        a = os.path.join(run.scratch, "voice.wav")
        b = os.path.join(run.scratch, "music.wav")
        make_wav(a, 3.0, 330)
        make_wav(b, 2.0, 550)
        project = os.path.join(run.scratch, "session.tessoral")
        copy = os.path.join(run.scratch, "Session copy.tessoral")
        flac = os.path.join(run.scratch, "mix.flac")

        first, log = run.launch()
        window = e2e.wait_for(lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
                              "the window named Tessoral")[0]
        _, _, width, _ = self.geometry(window)
        time.sleep(0.5)
        self.grab("start")

        # Ctrl+O: both files in the open dialog.
        self.focus(window)
        run.xdotool("key", "ctrl+o")
        dialog = self.dialog(first, window, "the open dialog")
        self.type_path(dialog, '"%s" "%s"' % (a, b))
        e2e.wait_for(lambda: "Добавлено дорожек: 2" in e2e.text(log), "the import of both files")
        time.sleep(0.5)
        self.grab("opened")

        # The first clip dragged right.
        x, y = LANES_LEFT + 20, LANES_TOP + 70
        e2e.drag(run, window, x, y, x + 120, y, modifier="alt")
        e2e.wait_for(lambda: "Клип сдвинут на" in e2e.text(log), "the clip move")
        self.grab("dragged")

        # "Телефон" from the rack's row 01, then undo and redo.
        self.focus(window)
        run.xdotool("mousemove", "--window", window, str(width - (RIGHT_PANEL - 12) // 2 - 12), str(RACK_ROW1_Y),
                    "click", "1")
        time.sleep(0.6)
        run.xdotool("key", *(["Down"] * TELEPHONE_DOWNS), "Return")
        e2e.wait_for(lambda: "Эффект добавлен в цепочку" in e2e.text(log), "Телефон added to the rack")
        self.grab("telephone")
        self.focus(window)
        run.xdotool("key", "ctrl+z")
        e2e.wait_for(lambda: "Отменено: Эффект: Телефон" in e2e.text(log), "Ctrl+Z")
        self.grab("undone")
        run.xdotool("key", "ctrl+shift+z")
        e2e.wait_for(lambda: "Повторено: Эффект: Телефон" in e2e.text(log), "Ctrl+Shift+Z")
        self.grab("redone")
        after = e2e.text(log)
        assert after.index("Отменено: Эффект: Телефон") < after.index("Повторено: Эффект: Телефон")

        # The mix as FLAC through the export sheet and its save dialog.
        self.focus(window)
        run.xdotool("key", "ctrl+shift+e")
        sheet = self.dialog(first, window, "the export sheet")
        sx, sy, sw, sh = self.geometry(sheet)
        self.grab("export-sheet")
        run.xdotool("mousemove", "--window", sheet, str(sw * 2 // 3), str(SHEET_FORMAT_Y), "click", "1")
        time.sleep(0.5)
        run.xdotool("key", *(["Down"] * FLAC_DOWNS), "Return")
        time.sleep(0.3)
        self.grab("export-flac")
        # The focus back on the sheet itself (a click beside its controls; Return on the picker would
        # open it again), then Return: the sheet's default button, "Экспортировать".
        self.focus(sheet)
        run.xdotool("mousemove", "--window", sheet, str(sw // 2), "8", "click", "1")
        time.sleep(0.3)
        run.xdotool("key", "Return")
        dialog = self.dialog(first, [window, sheet], "the export save dialog")
        self.type_path(dialog, flac)
        e2e.wait_for(lambda: "Экспорт готов: mix.flac" in e2e.text(log), "the export", timeout=60)
        e2e.wait_for(lambda: self.windows(first) == [window], "the sheet to close")
        self.grab("exported")

        # Ctrl+S through the save dialog, then Ctrl+Q quits without a question.
        self.focus(window)
        run.xdotool("key", "ctrl+s")
        dialog = self.dialog(first, window, "the save dialog")
        self.type_path(dialog, project)
        e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log), "the save")
        self.grab("saved")
        self.focus(window)
        run.xdotool("key", "ctrl+q")
        assert first.wait(timeout=30) == 0, "quitting after the save did not exit 0"

        # A new start with the project: no recovery question; Save As; Ctrl+Q.
        second, log2 = run.launch(project)
        window = e2e.wait_for(lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
                              "the window after the restart")[0]
        e2e.wait_for(lambda: "Проект открыт" in e2e.text(log2), "the project to open")
        self.grab("reopened")
        self.focus(window)
        run.xdotool("key", "ctrl+shift+s")
        dialog = self.dialog(second, window, "the save-as dialog")
        # The keys reached the window: no question came up at the restart.
        assert sorted(self.windows(second)) == sorted([window, dialog]) and \
            run.xdotool("getwindowname", dialog) == "Сохранить проект", "a question appeared at the restart"
        self.type_path(dialog, copy)
        e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log2), "the save as")
        self.grab("saved-as")
        self.focus(window)
        run.xdotool("key", "ctrl+q")
        assert second.wait(timeout=30) == 0, "quitting after save as did not exit 0"

        # ---- independent readers ----
        with open(project, "rb") as f:
            saved = plistlib.load(f)
        with open(copy, "rb") as f:
            again = plistlib.load(f)
        tracks = saved["tracks"]
        assert len(tracks) == 2, "the project holds %d clips" % len(tracks)

        def frames(t):
            left = t["left"]
            return len(left) // 4 if isinstance(left, (bytes, bytearray)) else len(left)

        def presets(t):
            return [slot.get("preset") for slot in t.get("rack", [])]

        moved = [t for t in tracks if t["start"] > 0.01]
        assert len(moved) == 1, "starts %s" % [t["start"] for t in tracks]
        assert presets(moved[0]) == ["telephone"], presets(moved[0])
        key = lambda t: (t["id"], t["start"], json.dumps(t.get("rack", []), sort_keys=True, default=str))
        assert sorted(map(key, tracks)) == sorted(map(key, again["tracks"])), "Save As differs from the saved project"

        probe = json.loads(subprocess.run(
            ["ffprobe", "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels:format=duration",
             "-of", "json", flac], capture_output=True, text=True, check=True, timeout=60).stdout)
        stream = probe["streams"][0]
        assert stream["codec_name"] == "flac", stream
        assert int(stream["sample_rate"]) == 48000, stream
        assert int(stream["channels"]) == 2, stream
        end = max(t["start"] + frames(t) / 48000.0 for t in tracks)
        duration = float(probe["format"]["duration"])
        assert abs(duration - end) <= 0.001, "FLAC lasts %.4f s, the latest clip ends at %.4f s" % (duration, end)
        conf = os.path.join(run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf")
        with open(conf, encoding="utf-8") as f:
            assert re.search(r"^export\.default\.format=flac$", f.read(), re.M), "export defaults not written"
        print("session: ok")
        return 0


def session(program):
    return e2e.reporting("session", Session(program))


if __name__ == "__main__":
    program, code = e2e.script_arguments("end_to_end_session.py")
    sys.exit(session(program) if program else code)
