#!/usr/bin/env python3
"""The real program's Save As and Open dialogs under Xvfb and Openbox, driven with X input: names the
system cannot examine end in a message, never in the end of the program. In two parts, each with
its own display: under Openbox, and under xfwm4 once it has replaced Openbox (the export sheet and
Save As over a project).

In Save As a person types a 256-byte file name, a name behind a loop of symbolic links, and a name in
a folder they may not enter (another user's private folder: when this test runs as root, the program
runs as the user "nobody"); in Open, a name behind the loop. Each ends in the dialog's message with
the system's reason (read from the status log), the program keeps running, and the project saved
afterwards reads back whole with Python's plistlib.

The program runs as on a plain desktop (no platform theme, no variable of the tests), where Qt shows
its own dialog: Open is at least 900 × 540, the right part of its detailed view (size, type, date)
shortens no text ("…") and is pixel for pixel what it is with 400 pixels more room, and the size given
it comes back next time.

Over an existing project, Save As asks whether to replace it: "No" by Return keeps the dialog, and
"Yes" clicked on the second question writes the file; then Space alone plays, under Openbox and
under xfwm4 (the main window has the keyboard again).

Then xfwm4 replaces Openbox (it gives the focus to the main window when a dialog over a sheet
closes): Escape in the save dialog opened from the export sheet leaves the keyboard on the sheet,
and a second Escape, sent to whatever window holds the focus, closes the sheet.

Fails when Xvfb, xdotool, xprop, openbox, xfwm4, dbus-run-session or ffmpeg is missing.
"""
import importlib.util
import itertools
import os
import plistlib
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("end_to_end_session", os.path.join(HERE, "end_to_end_session.py"))
sess = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(sess)
e2e = sess.e2e

TOOLS = ("Xvfb", "xdotool", "xprop", "xwininfo", "openbox", "xfwm4", "dbus-run-session", "ffmpeg")
NOBODY = 65534
PARTS = ("openbox", "xfwm4")


def elided(pixels, width):
    """Whether the RGB image `pixels` (light text on a dark ground) shows a text shortened with "…":
    two dots side by side on one baseline with nothing between them (a lone one parts a date)."""
    ink = [max(pixels[i:i + 3]) > 120 for i in range(0, len(pixels), 3)]
    for inked, band in itertools.groupby((ink[y:y + width] for y in range(0, len(ink), width)), key=any):
        band = list(band) if inked else []
        runs = []  # first and last column, top and bottom row of each stretch of ink on the line
        for lit, xs in itertools.groupby(range(width), key=lambda x: any(row[x] for row in band)):
            if lit:
                xs = list(xs)
                rows = [i for i, row in enumerate(band) if any(row[xs[0]:xs[-1] + 1])]
                runs.append((xs[0], xs[-1], rows[0], rows[-1]))
        dot = lambda r: r[1] - r[0] < 4 and r[3] - r[2] < 4
        if any(dot(a) and dot(b) and a[3] == b[3] and b[0] - a[1] < 6 for a, b in zip(runs, runs[1:])):
            return True
    return False


class Dialogs(sess.Session):
    def __init__(self, program, part):
        super().__init__(program)
        self.part = part
        self.wm = None
        self.process = None
        self.log = None
        self.window = None
        for name in ("TESSORAL_QT_DIALOGS", "QT_QPA_PLATFORMTHEME"):
            self.run.env.pop(name, None)

    def close(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.stop_wm()
        super().close()

    def stop_wm(self):
        if self.wm and self.wm.poll() is None:
            os.killpg(self.wm.pid, signal.SIGTERM)  # the window manager with its session bus
            self.wm.wait()
        self.wm = None

    def wm_name(self):
        """The name the running window manager gives itself (on its check window), or ""."""
        xprop = lambda *a: subprocess.run(["xprop", *a], env=self.run.env, capture_output=True, text=True).stdout
        check = xprop("-root", "_NET_SUPPORTING_WM_CHECK").split()
        return xprop("-id", check[-1], "_NET_WM_NAME") if check and check[-1].startswith("0x") else ""

    def start_wm(self, command, name):
        self.stop_wm()
        self.wm = subprocess.Popen(command, env=self.run.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        e2e.wait_for(lambda: self.wm.poll() is not None or name in self.wm_name(), name)
        assert self.wm.poll() is None, "%s did not start" % name

    def text(self):
        return e2e.text(self.log)

    def alive(self, what):
        time.sleep(0.5)
        assert self.process.poll() is None, "the program ended (code %s) after %s" % (self.process.returncode, what)

    def right_part(self, window, columns, rows):
        """The window's last `columns` pixel columns in its first `rows` rows, as RGB bytes."""
        x, y, w, _ = self.geometry(window)
        return subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size",
                               "%dx%d" % (columns, rows), "-i", "%s+%d,%d" % (self.run.env["DISPLAY"], x + w - columns, y),
                               "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                              env=self.run.env, capture_output=True, check=True, timeout=30).stdout

    def refused(self, dialog, typed, message, what):
        """Types `typed` into the open file dialog and accepts; the refusal `message` followed by the
        system's reason (in the system's language) must follow in a message over the dialog, which
        closes with Return and leaves the dialog open."""
        count = self.text().count(message)
        self.type_path(dialog, typed)
        box = self.dialog(self.process, [self.window, dialog], "the message for " + what)
        e2e.wait_for(lambda: self.text().count(message) > count, "the message for " + what, timeout=10)
        line = [l for l in self.text().splitlines() if message in l][-1]
        assert line.split(message, 1)[1].strip(), "no reason in %r" % line
        self.alive(what)
        self.grab(what.replace(" ", "-"))
        self.run.xdotool("key", "Return")
        e2e.wait_for(lambda: box not in self.windows(self.process), "the message to close")
        assert dialog in self.windows(self.process), "the dialog closed after " + what
        print("refused: %s" % what)

    def yes_button(self, box):
        """Where the question `box` shows "Yes" on the screen: left of the default "No", which is
        filled with the accent colour."""
        info = subprocess.run(["xwininfo", "-id", box], env=self.run.env, capture_output=True, text=True).stdout
        x, y, w, h = (int(re.search(k + r":\s*(-?\d+)", info).group(1)) for k in ("Absolute upper-left X",
                                                                                 "Absolute upper-left Y", "Width", "Height"))
        rgb = subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0", "-video_size",
                              "%dx%d" % (w, h), "-i", "%s+%d,%d" % (self.run.env["DISPLAY"], x, y), "-frames:v", "1",
                              "-f", "rawvideo", "-pix_fmt", "rgb24", "-"], env=self.run.env, capture_output=True,
                             check=True, timeout=30).stdout
        accent = [(i // 3 % w, i // 3 // w) for i in range(0, len(rgb), 3) if rgb[i + 1] > max(150, rgb[i] + 60)]
        assert accent, "no default button in the question"
        return x + min(px for px, _ in accent) - 30, y + sorted(py for _, py in accent)[len(accent) // 2]

    def replace_by_mouse(self, project, what):
        """Save As over `project`: No (Return) to the first question, Yes by a click to the second;
        the file is written and Space, with no window focused by the test, plays."""
        run = self.run
        saved, played = self.text().count("Проект сохранён"), self.text().count("Подготовка воспроизведения…")
        playing = self.text().count("Воспроизведение")
        self.focus(self.window)
        run.xdotool("key", "ctrl+shift+s")
        dialog = self.dialog(self.process, self.window, "the save-as dialog (%s)" % what)
        self.type_path(dialog, project)
        self.dialog(self.process, [self.window, dialog], "the replace question (%s)" % what)
        run.xdotool("key", "Return")
        e2e.wait_for(lambda: set(self.windows(self.process)) == {self.window, dialog}, "No to keep the dialog (%s)" % what)
        self.focus(dialog)
        run.xdotool("key", "Return")  # the name is still there
        question = self.dialog(self.process, [self.window, dialog], "the second replace question (%s)" % what)
        run.xdotool("mousemove", *map(str, self.yes_button(question)), "click", "1")
        e2e.wait_for(lambda: self.text().count("Проект сохранён") > saved, "Yes to replace (%s)" % what)
        e2e.wait_for(lambda: self.windows(self.process) == [self.window], "the dialog to close (%s)" % what)
        e2e.wait_for(lambda: run.xdotool("getwindowfocus", check=False) == self.window,
                     "the keyboard back on the window (%s)" % what, timeout=10)
        run.xdotool("key", "space")
        e2e.wait_for(lambda: self.text().count("Подготовка воспроизведения…") > played,
                     "Space to play after the dialog (%s)" % what, timeout=10)
        # Once it plays (the program is no longer busy starting it, when the next round's keys would
        # find Save As disabled), K stops it: the next Space plays again however long the tone would
        # still play.
        e2e.wait_for(lambda: self.text().count("Воспроизведение") > playing, "the playback (%s)" % what)
        run.xdotool("key", "k")

    def main(self):
        run = self.run
        run.start_display()
        self.start_wm(["openbox"], "Openbox")

        scratch = run.scratch
        work = os.path.join(scratch, "work")
        os.makedirs(work)
        tone = os.path.join(work, "tone.wav")
        sess.make_wav(tone, 2.0, 440)
        os.symlink("loop", os.path.join(work, "loop"))
        open(os.path.join(work, "take.aiff"), "wb").close()  # a type name wider than Qt's first guess
        replaced = os.path.join(work, "replaced.tessoral")
        open(replaced, "wb").close()
        private = os.path.join(scratch, "private")
        os.makedirs(private)
        prefix = []
        if os.geteuid() == 0:
            # Root may enter every folder: the program runs as another user, for whom root's private
            # folder is closed, as another user's home folder is.
            os.chmod(scratch, 0o755)
            os.chmod(private, 0o700)
            for name in ("config", "data", "runtime", "work"):
                for top, dirs, files in os.walk(os.path.join(scratch, name)):
                    for n in [top] + [os.path.join(top, f) for f in dirs + files]:
                        os.lchown(n, NOBODY, NOBODY)
            home = os.path.join(work, "home")
            os.makedirs(home)
            os.chown(home, NOBODY, NOBODY)
            run.env["HOME"] = home
            prefix = ["--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
            program = run.program
            if subprocess.run([shutil.which("setpriv"), *prefix, "test", "-x", program]).returncode != 0:
                # A build inside a folder closed to other users: that user runs a copy of the program.
                program = os.path.join(scratch, "bin", "tessoral")
                os.makedirs(os.path.dirname(program), mode=0o755)
                shutil.copy2(run.program, program)
            prefix.append(program)
            run.program = shutil.which("setpriv")
        else:
            os.chmod(private, 0)

        os.chdir(work)  # where the dialogs open: a folder whose listing stays as it is
        self.process, self.log = run.launch(*prefix, tone)
        self.window = e2e.wait_for(
            lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
            "the window named Tessoral")[0]
        e2e.wait_for(lambda: "Добавлено дорожек: 1" in self.text(), "the import")
        time.sleep(0.8)
        if self.part == "openbox":
            self.names_and_sizes(work, private, replaced)
        else:
            self.sheet_kept(replaced)

        self.focus(self.window)
        run.xdotool("key", "ctrl+q")
        assert self.process.wait(timeout=30) == 0, "quitting did not exit 0"
        print("file dialogs (%s): ok" % self.part)
        return 0

    def names_and_sizes(self, work, private, replaced):
        run = self.run
        for round in range(3):  # Openbox does not lose the keyboard every time
            self.replace_by_mouse(replaced, "Openbox, round %d" % round)

        # Save As: a 256-byte name, a name behind a loop of links, a folder that may not be entered.
        self.focus(self.window)
        run.xdotool("key", "ctrl+shift+s")
        dialog = self.dialog(self.process, self.window, "the save-as dialog")
        long_name = "n" * 256 + ".tessoral"
        self.refused(dialog, os.path.join(work, long_name),
                     "Не удалось записать файл «%s…%s»: " % (long_name[:48], long_name[-24:]), "a 256-byte name")
        self.refused(dialog, os.path.join(work, "loop", "project.tessoral"),
                     "Не удалось записать файл «project.tessoral»: ", "a loop of links")
        self.refused(dialog, os.path.join(private, "project.tessoral"),
                     "Не удалось записать файл «project.tessoral»: ", "a closed folder")
        self.focus(dialog)
        run.xdotool("key", "Escape")
        e2e.wait_for(lambda: self.windows(self.process) == [self.window], "the save-as dialog to close")
        self.alive("cancelling Save As")

        # Open, wide enough for its columns; the right part of the view (above the name and type
        # rows) the same 400 pixels wider; that size again the next time.
        self.focus(self.window)
        run.xdotool("mousemove", "0", "0", "key", "ctrl+o")
        dialog = self.dialog(self.process, self.window, "the open dialog")
        _, _, width, height = self.geometry(dialog)
        assert width >= 900 and height >= 540, "the open dialog is %d x %d" % (width, height)
        seen = [None]

        def drawn():  # the same twice running
            seen.append(self.right_part(dialog, 420, height - 100))
            return seen[-1] == seen[-2] and seen[-1]

        before = e2e.wait_for(drawn, "the listing of the folder drawn")
        assert not elided(before, 420), "a size, type or date is shortened"
        self.grab("open-dialog")
        run.xdotool("windowmove", "--sync", dialog, "10", "40")
        run.xdotool("windowsize", "--sync", dialog, str(width + 400), str(height))
        assert self.geometry(dialog)[2:] == (width + 400, height), "the dialog was not made wider"
        e2e.wait_for(lambda: self.right_part(dialog, 420, height - 100) == before,
                     "the size, type and date columns as they are with more room", timeout=10)
        self.focus(dialog)
        run.xdotool("key", "Escape")
        e2e.wait_for(lambda: self.windows(self.process) == [self.window], "the open dialog to close")
        self.focus(self.window)
        run.xdotool("key", "ctrl+o")
        dialog = self.dialog(self.process, self.window, "the open dialog again")
        assert self.geometry(dialog)[2:] == (width + 400, height), "the size given to the dialog was not kept"

        # Open: a name behind the loop.
        self.refused(dialog, os.path.join(work, "loop", "tone.wav"),
                     "Не удалось прочитать файл «tone.wav»: ", "opening through a loop")
        self.focus(dialog)
        run.xdotool("key", "Escape")
        e2e.wait_for(lambda: self.windows(self.process) == [self.window], "the open dialog to close")
        self.alive("cancelling Open")

        # The project is saved whole afterwards.
        project = os.path.join(work, "kept.tessoral")
        self.focus(self.window)
        run.xdotool("key", "ctrl+shift+s")
        dialog = self.dialog(self.process, self.window, "the save-as dialog again")
        saves = self.text().count("Проект сохранён")
        self.type_path(dialog, project)
        e2e.wait_for(lambda: self.text().count("Проект сохранён") > saves, "the save")
        with open(project, "rb") as f:
            saved = plistlib.load(f)
        tracks = saved["tracks"]
        assert len(tracks) == 1, "the project holds %d clips" % len(tracks)
        left = tracks[0]["left"]
        frames = len(left) // 4 if isinstance(left, (bytes, bytearray)) else len(left)
        assert frames == 2 * 48000, "the clip holds %d frames" % frames
        assert "Действие прервано" not in self.text(), "an exception escaped an event handler"

    def sheet_kept(self, replaced):
        run = self.run
        # xfwm4 replaces Openbox (its settings come over a session bus): the export sheet keeps the
        # keyboard after its save dialog is cancelled.
        self.start_wm(["dbus-run-session", "--", "xfwm4", "--compositor=off"], "Xfwm4")
        self.focus(self.window)
        run.xdotool("key", "ctrl+shift+e")
        sheet = self.dialog(self.process, self.window, "the export sheet")
        run.xdotool("key", "Return")
        dialog = self.dialog(self.process, [self.window, sheet], "the export's save dialog")
        run.xdotool("key", "Escape")
        # The window manager has let the dialog go (it is off its client list), and the window it
        # made active after that is the sheet, which holds the keyboard.
        def root(name):  # the windows a property of the root window names
            value = subprocess.run(["xprop", "-root", name], env=run.env, capture_output=True, text=True).stdout
            return [int(w, 16) for w in value.split("#")[-1].split(",") if w.strip().startswith("0x")]
        e2e.wait_for(lambda: root("_NET_CLIENT_LIST") and int(dialog) not in root("_NET_CLIENT_LIST"),
                     "the save dialog unmanaged")
        e2e.wait_for(lambda: root("_NET_ACTIVE_WINDOW")[:1] == [int(sheet)] and
                     run.xdotool("getwindowfocus", check=False) == sheet, "the focus back on the sheet")
        self.grab("sheet-after-dialog")
        run.xdotool("key", "Escape")
        e2e.wait_for(lambda: self.windows(self.process) == [self.window], "a second Escape to close the sheet")
        self.replace_by_mouse(replaced, "xfwm4")


def main():
    # One part a run: the dialogs under Openbox, or the export sheet's keyboard under xfwm4.
    if len(sys.argv) < 3 or sys.argv[2] not in PARTS:
        print("usage: file_dialogs_end_to_end.py PATH_TO_TESSORAL " + "|".join(PARTS))
        return 2
    program, code = e2e.required_tools("file_dialogs_end_to_end.py", TOOLS)
    if not program:
        return code
    return e2e.reporting("file dialogs", Dialogs(program, sys.argv[2]))


if __name__ == "__main__":
    sys.exit(main())
