#!/usr/bin/env python3
"""Input on a real X desktop, driven with real X input in the real program:

- held keys: with the X server's auto-repeat on, Delete held for 1.5 s over a time selection
  deletes the fragment once: one undo step (a single Ctrl+Z brings the whole clip back) and the clip
  stays (checked in the saved project with Python's plistlib);
- a Russian-only layout (`setxkbmap ru`): Ctrl+Z and Ctrl+Shift+Z, typed on the Z key's place,
  undo and redo that edit;
- under Openbox with its stock configuration, which takes Alt+drag for moving windows, Shift
  works as Alt does: Shift+drag moves a clip to another row and Shift+brush erases part of a
  painted stroke (checked by attenuating the mask and measuring the saved audio); without a window
  manager Alt does both.
Exits 77 (skipped) when Xvfb, xdotool, xwininfo, xset, setxkbmap or openbox is missing.
"""
import importlib.util
import math
import os
import plistlib
import shutil
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def load(name):
    found = importlib.util.spec_from_file_location(name, os.path.join(HERE, name + ".py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


e2e = load("end_to_end")
sess = load("end_to_end_session")

TOOLS = ("Xvfb", "xdotool", "xwininfo", "xset", "setxkbmap", "openbox")


def clips(path):
    with open(path, "rb") as f:
        return plistlib.load(f)["tracks"]


def frames(track):
    left = track["left"]
    return len(left) // 4 if isinstance(left, (bytes, bytearray)) else len(left)


class Desk(sess.Session):
    """One program on its own display, with the session's helpers."""

    def __init__(self, program):
        super().__init__(program)
        self.run.start_display()
        self.process = None
        self.log = None
        self.window = None
        self.project = os.path.join(self.run.scratch, "input.tessoral")
        self.saves = 0

    def start(self, *files):
        run = self.run
        self.process, self.log = run.launch(*files)
        self.window = e2e.wait_for(
            lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
            "the window named Tessoral")[0]
        e2e.wait_for(lambda: "Добавлено дорожек: %d" % len(files) in self.text(), "the import")
        self.settle()
        self.focus(self.window)

    def settle(self):
        """Waits until the window keeps its place and size between two looks (mapped, laid out and, under
        a window manager, framed)."""
        last = [None]

        def steady():
            now = self.geometry(self.window)
            same = now == last[0]
            last[0] = now
            return same
        e2e.wait_for(steady, "the window to settle", timeout=10)

    def text(self):
        return e2e.text(self.log)

    def key(self, *keys):
        self.run.xdotool("key", "--clearmodifiers", *keys)

    def drag(self, x0, y0, x1, y1, modifier=None, steps=8):
        self.run.xdotool("mousemove", "--window", self.window, str(x0), str(y0))
        time.sleep(0.1)
        e2e.drag(self.run, self.window, x0, y0, x1, y1, modifier, steps, pause=0.04)
        time.sleep(0.3)

    def save(self, key="ctrl+s"):
        """Ctrl+S (through the save dialog the first time); the saved clips. Under a layout without
        Latin letters `key` names the S key's own letter: xdotool would otherwise remap a spare key
        for "s" and put the mapping back while the program may still be reading the press."""
        self.focus(self.window)
        self.key(key)
        if self.saves == 0:
            dialog = self.dialog(self.process, self.window, "the save dialog")
            self.type_path(dialog, self.project)
        self.saves += 1
        e2e.wait_for(lambda: self.text().count("Проект сохранён") >= self.saves, "the save")
        return clips(self.project)

    def quit(self):
        self.focus(self.window)
        self.key("ctrl+q")
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()


def held_delete_and_russian_undo(program):
    desk = Desk(program)
    run = desk.run
    try:
        tone = os.path.join(run.scratch, "tone.wav")
        sess.make_wav(tone, 3.0, 330)
        desk.start(tone)
        full = 3 * 48000
        # The select tool, then a time selection dragged inside the clip.
        desk.key("t")
        y = sess.LANES_TOP + 70
        desk.drag(sess.LANES_LEFT + 60, y, sess.LANES_LEFT + 180, y)
        assert "Клип удалён" not in desk.text()
        # Real auto-repeat: about 30 repeats a second after 250 ms.
        subprocess.run(["xset", "r", "on"], env=run.env, check=True, timeout=30)
        subprocess.run(["xset", "r", "rate", "250", "30"], env=run.env, check=True, timeout=30)
        desk.focus(desk.window)
        run.xdotool("keydown", "Delete")
        time.sleep(1.5)
        run.xdotool("keyup", "Delete")
        e2e.wait_for(lambda: "Удалить фрагмент" in desk.text(), "the deletion")
        tracks = desk.save()  # read after every repeat of the key
        assert "Клип удалён" not in desk.text(), "the held key also removed the clip"
        assert len(tracks) == 1, "%d clips after holding Delete" % len(tracks)
        shortened = frames(tracks[0])
        assert shortened < full - 48000 // 10, "the fragment was not deleted (%d frames)" % shortened
        print("held Delete: one deletion, %d of %d frames left" % (shortened, full))

        # A Russian-only layout: Ctrl+Z and Ctrl+Shift+Z on the Z key's place (Я).
        subprocess.run(["setxkbmap", "ru"], env=run.env, check=True, timeout=30)
        try:
            desk.focus(desk.window)
            desk.key("ctrl+Cyrillic_ya")
            e2e.wait_for(lambda: "Отменено: Удалить фрагмент" in desk.text(), "Ctrl+Z under the ru layout")
            tracks = desk.save("ctrl+Cyrillic_yeru")
            # One undo step brings the whole clip back: the held key made one edit.
            assert frames(tracks[0]) == full, "one undo left %d frames" % frames(tracks[0])
            desk.focus(desk.window)
            desk.key("ctrl+shift+Cyrillic_YA")
            e2e.wait_for(lambda: "Повторено: Удалить фрагмент" in desk.text(), "Ctrl+Shift+Z under the ru layout")
            assert frames(desk.save("ctrl+Cyrillic_yeru")[0]) == shortened
        finally:
            subprocess.run(["setxkbmap", "us"], env=run.env, timeout=30)
        print("ru layout: Ctrl+Z undid and Ctrl+Shift+Z redid the deletion")
        desk.quit()
        return 0
    except Exception as error:
        print("FAILED (held keys, ru layout):", error)
        print(desk.text()[-3000:] if desk.log else "")
        return 1
    finally:
        run.close()


# The editor tools' second row in the spectral view: rectangle, brush, lasso from x = 327, 34 apart.
BRUSH = (361, 128)
# The 1 kHz tone of the first clip in the spectrogram of its row, and the row's clips.
TONE_Y = sess.LANES_TOP + 68
FIRST_ROW_Y = sess.LANES_TOP + 70
SECOND_ROW_Y = sess.LANES_TOP + 200


def level(track, start, end):
    """RMS in dBFS of the left channel of a saved clip between two times (seconds of the clip)."""
    data = track["left"]
    a, b = int(start * 48000), int(end * 48000)
    samples = struct.unpack("<%df" % (b - a), data[a * 4:b * 4])
    power = sum(x * x for x in samples) / len(samples)
    return 10 * math.log10(power) if power > 0 else -200.0


def gestures(program, modifier, manager):
    """`modifier`+drag moves the second clip onto the first row; a brush stroke over the first clip's
    tone, `modifier`+brush over its middle, then Delete: the stroke is attenuated, its erased middle
    and the rest of the clip keep their level."""
    desk = Desk(program)
    run = desk.run
    wm = None
    what = "%s under %s" % (modifier, manager or "no window manager")
    try:
        if manager:
            # The stock configuration: no file of ours in the private config folder.
            wm = subprocess.Popen([manager], env=run.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # Managing the screen: the root window names the manager's check window.
            e2e.wait_for(lambda: wm.poll() is not None or "window id #" in subprocess.run(
                ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=run.env, capture_output=True,
                text=True, timeout=30).stdout, "%s to manage the screen" % manager, timeout=20)
            assert wm.poll() is None, "%s did not start" % manager
        a = os.path.join(run.scratch, "a.wav")
        b = os.path.join(run.scratch, "b.wav")
        sess.make_wav(a, 3.0, 1000)
        sess.make_wav(b, 2.0, 550)
        desk.start(a, b)
        desk.key("t")
        if manager:
            # The window manager keeps Alt+drag: the clip stays and the window moves (then back).
            x0, y0, _, _ = desk.geometry(desk.window)
            desk.drag(sess.LANES_LEFT + 40, SECOND_ROW_Y, sess.LANES_LEFT + 340, FIRST_ROW_Y, "alt")
            # The window manager took the gesture: the window moved with the pointer.
            e2e.wait_for(lambda: desk.geometry(desk.window)[:2] != (x0, y0), "%s to move the window" % manager,
                         timeout=10)
            assert "Клип сдвинут" not in desk.text(), "%s passed Alt+drag on" % manager
            run.xdotool("windowmove", "--sync", desk.window, str(x0), str(y0), check=False)
            desk.settle()
            desk.focus(desk.window)
        desk.drag(sess.LANES_LEFT + 40, SECOND_ROW_Y, sess.LANES_LEFT + 340, FIRST_ROW_Y, modifier)
        e2e.wait_for(lambda: "Клип сдвинут на" in desk.text(), "%s+drag to move the clip" % modifier, timeout=10)

        desk.key("ctrl+alt+s")  # the spectrogram
        time.sleep(0.8)
        run.xdotool("mousemove", "--window", desk.window, str(BRUSH[0]), str(BRUSH[1]), "click", "1")
        time.sleep(0.5)
        left = sess.LANES_LEFT
        desk.drag(left + 20, TONE_Y, left + 180, TONE_Y, steps=16)
        desk.drag(left + 75, TONE_Y, left + 125, TONE_Y, modifier, steps=8)
        desk.focus(desk.window)
        desk.key("Delete")
        e2e.wait_for(lambda: "Ослабление области на 60 дБ" in desk.text(), "the attenuation of the mask")
        tracks = desk.save()
        assert len(tracks) == 2, "%d clips" % len(tracks)
        first = min(tracks, key=lambda t: t["start"])
        second = max(tracks, key=lambda t: t["start"])
        assert first.get("laneID") == second.get("laneID"), "the clip did not change rows"
        assert second["start"] > 3.0, "the moved clip starts at %.3f s" % second["start"]
        # Pixels of the clip: 196 points for 3 s.
        seconds = lambda x: x * 3.0 / 196.0
        # The tone's level, as sox made it: a sine of peak -12 dBFS has an RMS of -15.05 dBFS.
        stroke = [level(first, seconds(30), seconds(55)), level(first, seconds(150), seconds(170))]
        erased = level(first, seconds(92), seconds(108))
        print("%s: stroke %.1f / %.1f dBFS, its erased middle %.1f dBFS" % (what, stroke[0], stroke[1], erased))
        assert max(stroke) < -40, "the brush stroke was not attenuated"
        assert abs(erased + 15.05) < 0.5, "the %s+brush erase did not keep the middle" % modifier
        desk.quit()
        return 0
    except Exception as error:
        print("FAILED (%s):" % what, error)
        desk.grab("failed-" + modifier)
        print(desk.text()[-3000:] if desk.log else "")
        return 1
    finally:
        if wm:
            wm.terminate()
            wm.wait()
        run.close()


def main():
    if len(sys.argv) < 2:
        print("usage: end_to_end_input.py PATH_TO_TESSORAL")
        return 2
    for tool in TOOLS:
        if not shutil.which(tool):
            print("skipped: %s is not installed (scripts/setup-deps.sh installs it)" % tool)
            return e2e.SKIP
    program = os.path.abspath(sys.argv[1])
    results = [held_delete_and_russian_undo(program), gestures(program, "shift", "openbox"),
               gestures(program, "alt", None)]
    return 1 if any(results) else 0


if __name__ == "__main__":
    sys.exit(main())
