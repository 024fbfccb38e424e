#!/usr/bin/env python3
"""Starts the real program under Xvfb and drives it with X input, as a person would.

- `tessoral tone.wav` maps a window named "Tessoral" and imports the file;
- a click on play, then on stop, logs "Подготовка воспроизведения…" and "Остановлено";
- Space plays, then logs "Пауза"; under a Russian layout Ь adds a marker, Д plays and Л stops;
- two later starts 0.1 s apart (even without a display) hand their files to the first and exit 0;
- Ctrl+Q during their imports asks to save, Escape keeps the program and both become clips;
  Ctrl+Q, "Не сохранять" ends it with 0 and the window geometry is saved;
- after a SIGKILL the socket left behind is taken over by the next start.
end_to_end_session.py, a test of its own, runs a whole editing session (open, drag, effect, undo
and redo, FLAC export, save, restart, save as) in a fresh program.
Exits 77 (skipped) when Xvfb, xdotool or xwininfo is missing.
"""
import ctypes
import ctypes.util
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77


def write_tone(path, seconds=2.0):
    import math
    frames = int(48000 * seconds)
    # 0.1 s holds 33 whole periods: one such block, repeated, makes long tones quickly.
    block = bytearray()
    for i in range(4800):
        s = int(9000 * math.sin(2 * math.pi * 330 * i / 48000))
        block += struct.pack("<hh", s, s)
    data = (block * (frames // 4800 + 1))[:4 * frames]
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 2, 48000, 48000 * 4, 4, 16) + b"data" + struct.pack("<I", len(data))
    with open(path, "wb") as f:
        f.write(header + bytes(data))


class Run:
    def __init__(self, program):
        self.program = program
        self.scratch = tempfile.mkdtemp(prefix="tessoral-e2e-")
        self.env = dict(os.environ)
        for name in ("config", "data", "runtime"):
            os.makedirs(os.path.join(self.scratch, name), mode=0o700)
        self.env.update({
            "XDG_CONFIG_HOME": os.path.join(self.scratch, "config"),
            "XDG_DATA_HOME": os.path.join(self.scratch, "data"),
            "XDG_RUNTIME_DIR": os.path.join(self.scratch, "runtime"),
            "QT_QPA_PLATFORM": "xcb",
            "QT_LOGGING_RULES": "tessoral.status.info=true",
            "TESSORAL_AUDIO": "null",
            "LANGUAGE": "ru", "LANG": "ru_RU.UTF-8", "LC_ALL": "",
        })
        self.env.pop("WAYLAND_DISPLAY", None)
        # No session bus unless a test starts one of its own. Without an address, Qt's accessibility
        # bridge has D-Bus autolaunch one, which forks the program while its other threads run: under
        # the sanitizers that child may wait forever on the allocator, and the start for it.
        self.env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.scratch, "runtime", "no-bus")
        self.xvfb = None
        self.logs = []

    def start_display(self):
        # -noreset: the server never starts over when its last client leaves (between two starts of
        # the program). A client connecting while it starts over is refused, which on a loaded machine
        # happens to a few connections in a hundred.
        r, w = os.pipe()
        self.xvfb_log = open(os.path.join(self.scratch, "xvfb.txt"), "w+b")
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1600x1000x24", "-nolisten", "tcp",
                                      "-noreset"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=self.xvfb_log)
        os.close(w)
        self.env["DISPLAY"] = ":" + first_line(r, "Xvfb")

    def launch(self, *args, display=True):
        if self.xvfb and self.xvfb.poll() is not None:
            raise RuntimeError("Xvfb ended with %s: %s" % (self.xvfb.returncode, text(self.xvfb_log)[-1000:]))
        log = open(os.path.join(self.scratch, "log%d.txt" % len(self.logs)), "w+b")
        self.logs.append(log)
        env = dict(self.env)
        if not display:
            env.pop("DISPLAY", None)
        return subprocess.Popen([self.program, *args], env=env, stdout=log, stderr=subprocess.STDOUT), log

    def xdotool(self, *args, check=True):
        out = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True, timeout=30)
        if check and out.returncode != 0:
            raise RuntimeError("xdotool %s: %s" % (" ".join(args), out.stderr))
        return out.stdout.strip()

    def close(self):
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait()
        for log in self.logs:
            log.close()
        shutil.rmtree(self.scratch, ignore_errors=True)


def drag(run, window, x0, y0, x1, y1, modifier=None, steps=6, pause=0.05):
    """A pointer drag inside `window` from (x0, y0) to (x1, y1), with `modifier` held throughout."""
    run.xdotool("mousemove", "--window", window, str(x0), str(y0))
    if modifier:
        run.xdotool("keydown", modifier)
    run.xdotool("mousedown", "1")
    for i in range(1, steps + 1):
        run.xdotool("mousemove", "--window", window, str(x0 + (x1 - x0) * i // steps), str(y0 + (y1 - y0) * i // steps))
        time.sleep(pause)
    run.xdotool("mouseup", "1")
    if modifier:
        run.xdotool("keyup", modifier)


class _SelectionEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("requestor", ctypes.c_ulong), ("selection", ctypes.c_ulong),
                ("target", ctypes.c_ulong), ("property", ctypes.c_ulong), ("time", ctypes.c_ulong)]


class _Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("selection", _SelectionEvent), ("pad", ctypes.c_long * 24)]


def _xlib():
    x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11") or "libX11.so.6")
    d, w, a, p = ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.POINTER
    for name, res, args in (
            ("XOpenDisplay", d, [ctypes.c_char_p]), ("XDefaultRootWindow", w, [d]),
            ("XCreateSimpleWindow", w, [d, w, ctypes.c_int, ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]),
            ("XInternAtom", a, [d, ctypes.c_char_p, ctypes.c_int]), ("XSetSelectionOwner", ctypes.c_int, [d, a, w, w]),
            ("XConvertSelection", ctypes.c_int, [d, a, a, a, w, w]),
            ("XCheckTypedWindowEvent", ctypes.c_int, [d, w, ctypes.c_int, p(_Event)]),
            ("XGetWindowProperty", ctypes.c_int, [d, w, a, ctypes.c_long, ctypes.c_long, ctypes.c_int, a, p(a),
                                                  p(ctypes.c_int), p(ctypes.c_ulong), p(ctypes.c_ulong), p(d)]),
            ("XFree", ctypes.c_int, [d]), ("XFlush", ctypes.c_int, [d]), ("XCloseDisplay", ctypes.c_int, [d])):
        getattr(x, name).restype, getattr(x, name).argtypes = res, args
    return x


def primary(run, clear=False, timeout=5.0):
    """The text of the X server's primary selection as its owner gives it (a line edit owns it once
    its text is selected), None while it has no owner or no answer came in `timeout` seconds. With
    `clear`, the selection is left with no owner instead."""
    x = _xlib()
    display = x.XOpenDisplay(run.env["DISPLAY"].encode())
    if not display:
        raise RuntimeError("no connection to the display " + run.env["DISPLAY"])
    try:
        window = x.XCreateSimpleWindow(display, x.XDefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)
        atom = lambda name: x.XInternAtom(display, name, 0)
        if clear:  # owned by this connection, which closes: no owner
            x.XSetSelectionOwner(display, atom(b"PRIMARY"), window, 0)
            x.XFlush(display)
            return None
        x.XConvertSelection(display, atom(b"PRIMARY"), atom(b"UTF8_STRING"), atom(b"TESSORAL_E2E"), window, 0)
        x.XFlush(display)
        event, deadline = _Event(), time.time() + timeout
        while not x.XCheckTypedWindowEvent(display, window, 31, ctypes.byref(event)):  # SelectionNotify
            if time.time() > deadline:
                return None
            time.sleep(0.02)
        if not event.selection.property:
            return None
        kind, size, count, left, data = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
        x.XGetWindowProperty(display, window, event.selection.property, 0, 1 << 20, 1, 0, ctypes.byref(kind),
                             ctypes.byref(size), ctypes.byref(count), ctypes.byref(left), ctypes.byref(data))
        if not data.value:
            return None
        text = ctypes.string_at(data.value, count.value).decode("utf-8", "replace")
        x.XFree(data)
        return text
    finally:
        x.XCloseDisplay(display)


def script_arguments(name, tools=("Xvfb", "xdotool", "xwininfo")):
    """The program path from the command line, or the exit code when there is none (2) or a tool is
    missing (SKIP)."""
    if len(sys.argv) < 2:
        print("usage: %s PATH_TO_TESSORAL" % name)
        return None, 2
    for tool in tools:
        if not shutil.which(tool):
            print("skipped: %s is not installed (scripts/setup-deps.sh installs it)" % tool)
            return None, SKIP
    return os.path.abspath(sys.argv[1]), 0


def required_tools(name, tools):
    """The program path from the command line, or the exit code when there is none (2) or a tool is
    missing (1: a test that needs the tools proves nothing without them)."""
    if len(sys.argv) < 2:
        print("usage: %s PATH_TO_TESSORAL" % name)
        return None, 2
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        print("FAILED: %s not installed (scripts/setup-deps.sh installs them)" % ", ".join(missing))
        return None, 1
    return os.path.abspath(sys.argv[1]), 0


def first_line(fd, what, timeout=20.0):
    """The first line a starting server writes to the pipe `fd` (a display number, a bus address)."""
    line = b""
    deadline = time.time() + timeout
    while not line.endswith(b"\n") and time.time() < deadline:
        chunk = os.read(fd, 256)
        if not chunk:
            break
        line += chunk
    os.close(fd)
    if not line.strip():
        raise RuntimeError(what + " did not start")
    return line.decode().strip()


def reporting(name, test):
    """Runs test.main(); on a failure prints it with the end of every log of the program. Closes the test."""
    try:
        return test.main()
    except Exception as error:  # report with the program's output
        print("FAILED (%s):" % name, error)
        for i, log in enumerate(test.run.logs):
            print("---- %s log %d ----" % (name, i))
            print(text(log)[-3000:])
        return 1
    finally:
        test.close()


def stacks(pid):
    """Every thread's stack of the process `pid`, for a failure that finds a program stuck."""
    if not shutil.which("gdb"):
        return "(no gdb for the stacks)"
    out = subprocess.run(["gdb", "-p", str(pid), "-batch", "-ex", "thread apply all bt"],
                         capture_output=True, text=True, timeout=120)
    return "---- stacks of %d ----\n%s" % (pid, out.stdout[-20000:])


def text(log):
    log.flush()
    log.seek(0)
    return log.read().decode("utf-8", "replace")


LIMIT = 30.0  # how long wait_for waits by default (a test may raise it)


def wait_for(predicate, what, timeout=None):
    deadline = time.time() + (timeout or LIMIT)
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def windows(run, process):
    """The program's windows that are shown and that a window manager would frame: its main window
    and dialogs, no tooltip, menu or other popup (one shows as a dialog opens when the pointer rests on
    a view)."""
    found = run.xdotool("search", "--onlyvisible", "--pid", str(process.pid), check=False).split()
    return [w for w in found if "Override Redirect State: no" in subprocess.run(
        ["xwininfo", "-id", w], env=run.env, capture_output=True, text=True, timeout=30).stdout]


def focus(run, window, what="the window"):
    """Gives `window` the keyboard and waits until the X server has it there: keys sent after that
    reach it."""
    def focused():
        run.xdotool("windowfocus", "--sync", window, check=False)
        return run.xdotool("getwindowfocus", check=False) == window
    wait_for(focused, "the keyboard on " + what)


def type_name(run, dialog, text, what):
    """Types `text` into the field of `dialog` that has the keyboard (a file dialog's name), in place
    of what it holds, and presses Return once the field holds it: read back through the primary
    selection that selecting the field's text makes. Typed again while it holds anything else."""
    held = None
    for _ in range(3):
        focus(run, dialog, what)
        primary(run, clear=True)
        run.xdotool("key", "ctrl+a")
        run.xdotool("type", "--delay", "5", text)
        run.xdotool("key", "ctrl+a")
        deadline = time.time() + LIMIT / 2
        while held != text and time.time() < deadline:
            time.sleep(0.05)
            held = primary(run)
        if held == text:
            run.xdotool("key", "Return")
            return
    raise AssertionError("the name field of %s holds %r, not %r" % (what, held, text))


def others(run, process, window):
    """The program's dialogs: its windows other than the main one."""
    return [w for w in windows(run, process) if w != window]


def main():
    if len(sys.argv) < 2:
        print("usage: end_to_end.py PATH_TO_TESSORAL")
        return 2
    for tool in ("Xvfb", "xdotool", "xwininfo"):
        if not shutil.which(tool):
            print("skipped: %s is not installed (scripts/setup-deps.sh installs it)" % tool)
            return SKIP
    run = Run(os.path.abspath(sys.argv[1]))
    try:
        run.start_display()
        tone = os.path.join(run.scratch, "tone.wav")
        other = os.path.join(run.scratch, "other.wav")
        write_tone(tone)
        write_tone(other, 1.0)

        first, log = run.launch(tone)
        window = wait_for(lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
                          "the window named Tessoral")[0]
        wait_for(lambda: "Добавлено дорожек: 1" in text(log), "the import of tone.wav")
        geometry = run.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=") for line in geometry.splitlines() if "=" in line)
        height = int(values["HEIGHT"])
        print("window", window, values["WIDTH"], "x", height)

        # The transport bar: 60 high above a hairline and the 27-high footer; buttons 32 wide, 8 apart.
        y = height - 27 - 1 - 30
        run.xdotool("mousemove", "--window", window, "112", str(y), "click", "1")
        wait_for(lambda: "Подготовка воспроизведения…" in text(log), "the play click")
        time.sleep(0.5)
        run.xdotool("mousemove", "--window", window, "72", str(y), "click", "1")
        wait_for(lambda: "Остановлено" in text(log), "the stop click")

        # Single keys: Space plays, Space again pauses.
        focus(run, window)
        run.xdotool("key", "space")
        wait_for(lambda: text(log).count("Подготовка воспроизведения…") >= 2, "Space to play")
        time.sleep(0.5)
        run.xdotool("key", "space")
        wait_for(lambda: "Пауза" in text(log), "Space to pause")
        # On a Russian layout the keys keep their places: Ь (M) adds a marker, Д (L) plays, Л (K) stops.
        if shutil.which("setxkbmap"):
            subprocess.run(["setxkbmap", "ru"], env=run.env, check=True, timeout=30)
            try:
                run.xdotool("key", "Cyrillic_softsign")
                wait_for(lambda: "Маркер: " in text(log), "Ь to add a marker")
                # From the start, and stopped once it plays: a loaded machine may reach the tone's end
                # from where it was paused before the key arrives.
                run.xdotool("key", "Home")
                run.xdotool("key", "Cyrillic_de")
                wait_for(lambda: text(log).count("tessoral.status: Воспроизведение\n") >= 3, "Д to play")
                run.xdotool("key", "Cyrillic_el")
                wait_for(lambda: text(log).count("Остановлено") >= 2, "Л to stop")
            finally:
                subprocess.run(["setxkbmap", "us"], env=run.env, timeout=30)
        else:
            print("setxkbmap is not installed: the Russian layout keys were not tried")

        # Two later starts 0.1 s apart hand their files over (no display needed) and leave. Ctrl+Q
        # while they import asks about the project; Escape keeps everything, the imports included.
        write_tone(tone, 400.0)
        second, _ = run.launch(tone, display=False)
        time.sleep(0.1)
        third, _ = run.launch(other, display=False)
        assert second.wait(timeout=30) == 0 and third.wait(timeout=30) == 0, "a later start did not exit 0"
        wait_for(lambda: text(log).count("Импорт аудио…") >= 2, "the handed-over import")
        focus(run, window)
        run.xdotool("key", "ctrl+q")
        question = wait_for(lambda: others(run, first, window), "the save question")[0]
        focus(run, question, "the save question")
        run.xdotool("key", "Escape")
        wait_for(lambda: text(log).count("Добавлено дорожек: 1") >= 3, "both handed-over files as clips")
        assert "Импорт прерван" not in text(log) and first.poll() is None
        # The program goes on: M, pressed after Escape, adds a marker.
        markers = text(log).count("Маркер: ")
        focus(run, window)
        run.xdotool("key", "m")
        wait_for(lambda: text(log).count("Маркер: ") > markers, "M to add a marker after Escape")
        assert first.poll() is None, "Escape ended the program"

        # Ctrl+Q, then "Не сохранять" (the button after the default "Сохранить").
        focus(run, window)
        run.xdotool("key", "ctrl+q")
        question = wait_for(lambda: others(run, first, window), "the save question again")[0]
        focus(run, question, "the save question")
        run.xdotool("key", "Tab", "space")
        assert first.wait(timeout=30) == 0, "quitting did not exit 0"
        conf = os.path.join(run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf")
        with open(conf, encoding="utf-8") as f:
            settings = f.read()
        assert "[Tessoral.Main]" in settings and "geometry=" in settings, "window geometry not saved"

        # A killed program leaves its socket; the next start takes it over.
        third, log3 = run.launch()
        wait_for(lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False), "third window")
        third.send_signal(signal.SIGKILL)
        third.wait()
        assert os.path.exists(os.path.join(run.env["XDG_RUNTIME_DIR"], "tessoral.socket"))
        fourth, log4 = run.launch(tone)
        wait_for(lambda: "Добавлено дорожек: 1" in text(log4), "the start after a killed one")
        fourth.send_signal(signal.SIGTERM)
        fourth.wait(timeout=30)
        print("end to end: ok")
        return 0
    except Exception as e:  # report with the program's output
        print("FAILED:", e)
        for i, log in enumerate(run.logs):
            print("---- log %d ----" % i)
            print(text(log)[-3000:])
        return 1
    finally:
        run.close()


if __name__ == "__main__":
    sys.exit(main())
