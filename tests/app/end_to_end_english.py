#!/usr/bin/env python3
"""The real program started in English under Xvfb, read through the accessibility bus (AT-SPI, as a
screen reader reads it) and driven with X input.

- Started in an English environment (LANGUAGE=en, LANG=en_US.UTF-8) with no settings, the window
  that first appears already shows the menu bar, the File menu, the header's title and the status
  line in English, and no Russian text anywhere: the language is chosen before any widget exists.
- A file handed over by a second start is imported with the English status.
- Ctrl+Q asks "Save changes to the project?" with Save, Cancel and Don't Save; Return (Save) brings
  the save dialog, the project is written (read back with plistlib: the one imported clip) and the
  program exits 0.
- With the interface language stored as Russian in the settings, the same environment starts in
  Russian.
- Without a pointer, under Openbox, with no test variable: see Keyboard.
The expected texts come from resources/Localization/en.json. A private session bus is started for
the accessibility bus. Fails when Xvfb, xdotool, openbox, dbus-daemon, the accessibility bus
launcher or Python's dbus module is missing.
"""
import importlib.util
import json
import os
import plistlib
import re
import shutil
import signal
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
READER = os.path.join(HERE, "accessible_tree.py")
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
CYRILLIC = re.compile("[\u0400-\u04ff]")


def load(name):
    found = importlib.util.spec_from_file_location(name, os.path.join(HERE, name + ".py"))
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


e2e = load("end_to_end")
session = load("end_to_end_session")

with open(os.path.join(SOURCE, "resources", "Localization", "en.json"), encoding="utf-8") as f:
    EN = json.load(f)


def reader_python():
    """An interpreter with Python's dbus module (Debian's python3-dbus serves /usr/bin/python3)."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.path.exists(candidate) and subprocess.run(
                [candidate, "-c", "import dbus"], capture_output=True, timeout=30).returncode == 0:
            return candidate
    return None


def nodes(tree):
    yield tree
    for child in tree["children"]:
        yield from nodes(child)


def find(tree, role):
    return next((n for n in nodes(tree) if n["role"] == role), None)


def names(tree, leave_out=None):
    """Every name in the tree, without the subtree `leave_out`."""
    if tree is leave_out:
        return []
    own = [tree["name"]] if tree["name"] else []
    return own + [name for child in tree["children"] for name in names(child, leave_out)]


class English(session.Session):
    def __init__(self, program, python):
        super().__init__(program)
        self.python = python
        self.bus = None
        self.run.env.update({"LANGUAGE": "en", "LANG": "en_US.UTF-8", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1"})

    def start_bus(self):
        """A private session bus; the accessibility bus is started through it before the program."""
        r, w = os.pipe()
        self.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=%d" % w],
                                    pass_fds=(w,), env=self.run.env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        os.close(w)
        self.run.env["DBUS_SESSION_BUS_ADDRESS"] = e2e.first_line(r, "dbus-daemon")
        subprocess.run([self.python, READER, "activate"], env=self.run.env, check=True, timeout=60)

    def close(self):
        if self.bus:
            self.bus.terminate()
            self.bus.wait()
        super().close()

    def tree(self):
        out = subprocess.run([self.python, READER, "tree", "Tessoral", "30"], env=self.run.env,
                             capture_output=True, text=True, timeout=120)
        if out.returncode != 0:
            raise AssertionError("the accessibility tree could not be read: " + out.stderr)
        return json.loads(out.stdout)

    def quit(self, process, window):
        self.focus(window)
        self.run.xdotool("key", "ctrl+q")
        assert process.wait(timeout=30) == 0, "quitting did not exit 0"

    def main(self):
        run = self.run
        run.start_display()
        self.start_bus()
        tone = os.path.join(run.scratch, "tone.wav")
        e2e.write_tone(tone, 1.0)
        project = os.path.join(run.scratch, "English.tessoral")

        # The first window, read as soon as it is there.
        program, log = run.launch()
        tree = self.tree()
        window = e2e.wait_for(lambda: self.windows(program), "the window")[0]
        menus = find(tree, "menu bar")
        assert menus, "no menu bar on the accessibility bus"
        titles = [n["name"] for n in menus["children"]]
        assert titles and titles[0] == EN["Файл"] and EN["Справка"] in titles, "menu titles %s" % titles
        english = set(EN.values())
        assert all(t in english for t in titles), "menu titles %s" % titles
        file_items = names(menus["children"][0])
        for key in ("Новый проект", "Открыть…", "Сохранить проект"):
            assert EN[key] in file_items, "%r missing from the File menu %s" % (EN[key], file_items)
        shown = names(tree)
        outside_menus = names(tree, leave_out=menus)
        assert EN["Новый проект"] in outside_menus, "the header's title is not %r" % EN["Новый проект"]
        assert EN["Готово#ready"] in outside_menus, "the status line is not %r" % EN["Готово#ready"]
        russian = sorted({n for n in shown if CYRILLIC.search(n)})
        assert not russian, "Russian texts in the English window: %s" % russian[:10]
        self.grab("english-start")

        # A handed-over file: the import's status in English.
        second, _ = run.launch(tone, display=False)
        assert second.wait(timeout=30) == 0, "the second start did not exit 0"
        added = EN["Добавлено дорожек: {0}"].replace("{0}", "1")
        e2e.wait_for(lambda: added in e2e.text(log), "the status %r" % added)
        assert "Добавлено" not in e2e.text(log)

        # Ctrl+Q: the question in English; Return is Save, then the save dialog.
        self.focus(window)
        run.xdotool("key", "ctrl+q")
        self.dialog(program, window, "the save question")
        # The application's windows other than the main one (the one with the menu bar).
        question = [n for top in self.tree()["children"] if not find(top, "menu bar") for n in names(top)]
        for key in ("Сохранить изменения в проекте?", "Сохранить", "Отмена", "Не сохранять"):
            assert EN[key] in question, "%r missing from the question %s" % (EN[key], question)
        assert not any(CYRILLIC.search(n) for n in question), question
        self.grab("english-question")
        run.xdotool("key", "Return")
        dialog = self.dialog(program, window, "the save dialog")
        self.type_path(dialog, project)
        assert program.wait(timeout=30) == 0, "quitting with Save did not exit 0"
        assert EN["Проект сохранён"] in e2e.text(log)
        with open(project, "rb") as f:
            saved = plistlib.load(f)
        assert [t["name"] for t in saved["tracks"]] == ["tone"], saved["tracks"]

        # The stored choice wins over the environment.
        conf = os.path.join(run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf")
        with open(conf, "w", encoding="utf-8") as f:
            f.write("[General]\ninterfaceLanguage=ru\n")
        third, _ = run.launch()
        tree = self.tree()
        window = e2e.wait_for(lambda: self.windows(third), "the Russian window")[0]
        menus = find(tree, "menu bar")
        assert menus["children"][0]["name"] == "Файл", [n["name"] for n in menus["children"]]
        assert "Готово" in names(tree)
        self.quit(third, window)
        print("english: ok")
        return 0


class Keyboard(English):
    """Without a pointer, under Openbox, as started for a person. The keyboard part: a bare Alt tap
    leaves Space to play; the arrows switch the browser's pages; Tab alone reaches the chain's power
    and the inspector's pages. The transport part: Tab alone reaches the transport's buttons; "Scan"
    keeps the focus. The sheet part: Return on the export sheet's focused Cancel cancels (Space then
    plays in the main window, no window opened); with the sheet open, a handed-over file leaves Escape
    to close it. The steps and undo parts: Space, Ctrl+Z (and redo), SIGTERM right after a step on the
    focused row volume act after it: one step each, all in the copy."""

    def __init__(self, program, python, part):
        super().__init__(program, python)
        self.part = part

    def step_then(self, *keys):
        """A step on the focused row volume (Tab to it unless it has the keyboard), then `keys`; what was
        shown before the step."""
        volume = {"role": "slider", "name": EN["{0}: громкость"].replace("{0}", "tone")}  # named by its row
        before = self.keys("look")[0]
        while before["focus"] != volume:  # a step of that name on the history page is passed by
            before = self.keys("Tab->" + volume["name"])[-1]
        self.run.xdotool(*(["key", "Right", "sleep", "0.1", "key", *keys] if keys else ["keydown", "Right"]))
        return before["shown"]

    def space_after_step(self, window, program):
        """Space right after a step plays, and the step is in: the row reads one step up (+0.1 dB from
        0), the history holds one step more. No window opened meanwhile."""
        counted = lambda shown: [int(n.split()[0]) for n in shown if re.fullmatch(r"\d+ steps?", n)]
        before = self.step_then("space")
        shown = e2e.wait_for(lambda: (lambda s: EN["Пауза#button"] in s and s)(self.keys("look")[0]["shown"]),
                             "the playback")
        assert "+0.1" in shown and counted(shown) == [c + 1 for c in counted(before)] != [], \
            "the step before Space: %s, then %s" % (counted(before), [n for n in shown if n.startswith("+")])
        assert self.windows(program) == [window], "a window opened after the export sheet"

    def keys(self, *presses):
        out = subprocess.run([self.python, READER, "keys", "Tessoral", *presses], env=self.run.env,
                             capture_output=True, text=True, timeout=600)
        steps = json.loads(out.stdout or "null") or []
        assert all(s["focus"] or "->" not in s["key"] for s in steps), "never focused: %s %s" % (steps, out.stderr)
        return steps

    def main(self):
        run = self.run
        run.env.pop("TESSORAL_QT_DIALOGS", None)
        run.start_display()
        self.start_bus()
        wm = subprocess.Popen(["openbox"], env=run.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            e2e.wait_for(lambda: "window id #" in subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                         env=run.env, capture_output=True, text=True, timeout=30).stdout, "openbox", timeout=20)
            return self.walk()
        finally:
            wm.terminate()
            wm.wait()

    def walk(self):
        run = self.run
        tone = os.path.join(run.scratch, "tone.wav")
        # Long enough that it still plays when the second Space comes, with the 30 s that each Space's
        # state may take to show on a loaded machine: an ended tone would read as paused.
        e2e.write_tone(tone, 120.0)
        program, log = run.launch(tone)
        window = e2e.wait_for(lambda: self.windows(program), "the window")[0]
        added = EN["Добавлено дорожек: {0}"].replace("{0}", "1")
        e2e.wait_for(lambda: added in e2e.text(log), "the import")
        self.focus(window)
        # The clip chosen with a click: the chain's header shows its power button.
        run.xdotool("mousemove", "--window", window, str(session.LANES_LEFT + 20), str(session.LANES_TOP + 70),
                    "click", "1")
        if self.part in ("keyboard", "transport"):
            self.tab_stops(program, log)
        else:
            self.sheet_and_steps(program, log, window, tone, added)
        return 0

    def tab_stops(self, program, log):
        t = EN.get
        if self.part == "keyboard":
            # Each Space waits until the play button shows the state it should bring.
            steps = self.keys("alt", "space=>" + t("Пауза#button"), "space=>" + t("Воспроизвести"),
                              "Tab->" + t("Навигатор"), "Right", "Right",
                              *["Tab->" + t(stop) for stop in ("Эффекты", "Основной звук", "Обход всей цепочки")])
            # Space after a bare Alt plays (the play button is named for pausing), and pauses again.
            assert t("Пауза#button") not in steps[0]["shown"] and t("Пауза#button") in steps[1]["shown"], \
                "Space after Alt"
            assert t("Воспроизвести") in steps[2]["shown"], "the second Space did not pause"
            # → on the browser's page picker: the markers, then the history.
            assert t("Нет маркеров") in steps[4]["shown"] and steps[4]["focus"]["name"] == t("Навигатор"), steps[4]
            assert t("Начальное состояние") in steps[5]["shown"], "→ did not reach the history page"
            program.send_signal(signal.SIGTERM)
            assert program.wait(timeout=60) == 0, "exit code %s after SIGTERM" % program.returncode
            print("keyboard: ok")
            return
        stops = ["В начало", "Остановить", "Воспроизвести", "Записать с микрофона", "Повтор", "Диагностика"]
        self.keys(*["Tab->" + t(stop) for stop in stops], "Return", "Tab->" + t("Сканировать"), "Return")
        e2e.wait_for(lambda: EN["{0}: проблем не найдено"].replace("{0}", t("Щелчки")) in e2e.text(log), "the scan",
                     timeout=120)
        # The scan locks the panels: Scan, disabled meanwhile, takes the focus back once it is enabled.
        e2e.wait_for(lambda: (self.keys("look")[0]["focus"] or {}).get("name") == t("Сканировать"),
                     "the focus back on Scan after the scan")
        program.send_signal(signal.SIGTERM)
        assert program.wait(timeout=60) == 0, "exit code %s after SIGTERM" % program.returncode
        print("transport: ok")

    def sheet_and_steps(self, program, log, window, tone, added):
        run, t = self.run, EN.get
        # The browser on its history page, as the Tab stops leave it: it counts the steps.
        if self.part != "undo":
            assert t("Начальное состояние") in self.keys("Tab->" + t("Навигатор"), "Right", "Right")[-1]["shown"]
        # The export sheet: Return on Cancel closes it, no save dialog follows.
        for handed_over in (False, True) if self.part == "sheet" else ():
            self.focus(window)
            run.xdotool("key", "ctrl+shift+e")
            self.dialog(program, window, "the export sheet")
            self.keys("Tab->" + t("Отмена"))
            if handed_over:
                # A file handed over meanwhile: the sheet keeps the keyboard, Escape closes it.
                assert run.launch(tone, display=False)[0].wait(timeout=30) == 0, "the second start"
                e2e.wait_for(lambda: e2e.text(log).count(added) >= 2, "the handed-over file")
                focus = self.keys("look")[0]["focus"]
                assert focus and focus["name"] == t("Отмена"), "the hand-over took the keyboard: %s" % focus
            run.xdotool("key", "Escape" if handed_over else "Return")
            e2e.wait_for(lambda: self.windows(program) == [window], "the sheet to close")
        if self.part == "sheet":
            program.send_signal(signal.SIGTERM)
            assert program.wait(timeout=60) == 0, "exit code %s after SIGTERM" % program.returncode
            print("sheet: ok")
            return
        if self.part == "steps":
            self.grab("keyboard")
            self.space_after_step(window, program)
            self.keys("space=>" + t("Воспроизвести"))
            places = 1  # the step's: a tenth of a dB
        else:
            self.step_then("ctrl+z")
            undone = t("Отменено: {0}").replace("{0}", t("Громкость дорожки"))
            e2e.wait_for(lambda: e2e.text(log).count(undone) == 1, "the undo")
            run.xdotool("key", "ctrl+shift+z")
            e2e.wait_for(lambda: t("Повторено: {0}").replace("{0}", t("Громкость дорожки")) in e2e.text(log),
                         "the redo")
            self.step_then()  # → held: the burst stays open until the program has read the key (a look later)
            self.keys("look")
            places = 2  # the redone step's and the held key's
        program.send_signal(signal.SIGTERM)
        assert program.wait(timeout=60) == 0, "exit code %s after SIGTERM" % program.returncode
        with open(os.path.join(run.env["XDG_DATA_HOME"], "Tessoral", "Recovery.tessoral"), "rb") as f:
            copy = plistlib.load(f)
        # Every step in it (a row with one clip is in it).
        gains = [r["gainDB"] for r in copy.get("lanes") or copy["tracks"]]
        assert sum(round(g * 10) for g in gains) >= places, "the copy holds %s dB" % gains
        print("%s: ok" % self.part)


PARTS = ("english", "keyboard", "transport", "sheet", "steps", "undo")


def english(program, part):
    # Without its tools the test proves nothing: it fails.
    for tool in ("Xvfb", "xdotool", "xwininfo", "dbus-daemon", "openbox", "xprop"):
        if not shutil.which(tool):
            print("FAILED: %s is not installed (scripts/setup-deps.sh installs it)" % tool)
            return 1
    python = reader_python()
    if not os.path.exists(BUS_LAUNCHER) or not python:
        print("FAILED: the accessibility bus or Python's dbus module is missing (scripts/setup-deps.sh installs them)")
        return 1
    return e2e.reporting(part, English(program, python) if part == "english" else Keyboard(program, python, part))


if __name__ == "__main__":
    # One part a run: the English window, or the keyboard alone (its Tab stops in the panels or on the
    # transport, the export sheet, or the steps on a row's volume with Space or with undo).
    if len(sys.argv) < 3 or sys.argv[2] not in PARTS:
        print("usage: end_to_end_english.py PATH_TO_TESSORAL " + "|".join(PARTS))
        sys.exit(2)
    sys.exit(english(os.path.abspath(sys.argv[1]), sys.argv[2]))
