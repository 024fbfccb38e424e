#!/usr/bin/env python3
"""Crash recovery and file names in the real program under Xvfb, driven with X input.

Autosave: a first program opens a WAV, saves the project (Ctrl+S), takes a second WAV handed over
by a later start, autosaves it after its period (15 s here, a minute otherwise) and is killed with
SIGKILL. A program beside it opens a long recording, and a SIGTERM reaches it while its autosave is
being written: it exits 0 with a whole recovery copy and no temporary file. `tessoral
project.tessoral` then shows the recovery question first; the copy stays byte-identical while it
waits; "Восстановить" gives the autosaved clips (saved with Ctrl+S, read by plistlib) and the
project file is not opened over them.

Copies: the same first steps end with a SIGTERM, which writes the copy at once. A SIGTERM while its
question waits ends the program with the copy untouched. Then, each time from that copy:

- `tessoral third<FF FE>.wav`: the question first; then the file is imported into the restored
  project;
- `tessoral` alone, and while its question waits a later start hands over `fourth<FF FE>.wav`:
  the file waits for the answer and is imported into the restored project.

Then, with no recovery copy, a project named with the bytes FF FE opens from the command line
and a WAV named so is handed over and imported. Last, the quit signals: a marker added two seconds
before a SIGTERM (then a SIGHUP) is in the recovery copy, offered first at the next start and
brought back by "Восстановить"; a SIGINT with nothing unsaved writes no copy; a SIGTERM while the
unsaved-changes question waits writes the edit too, and the window's place is kept.

Writes: two signals back to back on a dirty session of two eight-minute clips and a marker: SIGTERM,
then SIGHUP at once (a logout), SIGTERM 0.1 s later and SIGINT 0.3 s later (earlier at a quarter and
three quarters of the copy written: always during its write). Each time the program ends by the
later signal with the copy whole and no temporary, and the next start offers it and "Восстановить"
brings the clips and every marker back (saved with Ctrl+S, read by plistlib). Then a marker and
Ctrl+S of that 368 MB project, with SIGTERMs 0.2 and 0.5 s after its write began (earlier at a third
and two thirds of it; the second once the first has reached the program), both asserted to meet the
write: the save finishes, the program ends by the signal, and the saved file holds the marker.

Export (two parts): a quit signal meets a long export: an eight-minute WAV imported and a marker
added (both unsaved), an AAC export (44.1 kHz) with the Podcast target started and a SIGTERM as soon
as it runs. The recovery copy holds both before the export ends. Alone, the signal lets the export
finish (the whole file, exit 0); with a second SIGTERM as soon as the copy is on disk and the export
writes its file, the program ends by that signal with no export file (so the export was still
running) and no temporary, the copy on disk; the next start offers it first and "Восстановить"
brings both back.

Takes: a take being recorded meets the quit signals: the program records from a private PulseAudio
server (a null sink, whose monitor records the project that plays over it) and gets SIGTERM, SIGINT
twice, or SIGTERM then SIGHUP 0.1 s later (with the sound server stopped: the device never stops).
Each time the take is ended and placed first: the recovery copy holds it, as long as the status line
said, and "Восстановить" at the next start brings it back (saved with Ctrl+S, read by plistlib).

Playback: the sound server stops during playback and a SIGTERM comes, alone or followed by a SIGHUP
(a logout). With the server stopped, every copy is on disk within 10 s of the first signal and the
program ends by itself. Started with the server stopped, the window shows about as soon as with the
server running, and a SIGTERM a second after Space ends it within 3 s; a server killed and not
restarted is named by Space.

Fails when Xvfb, xdotool or PulseAudio (with ALSA's pulse plugin) is missing.
"""
import array
import ctypes
import ctypes.util
import glob
import importlib.util
import math
import random
import os
import plistlib
import re
import shutil
import signal
import struct
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("end_to_end", os.path.join(HERE, "end_to_end.py"))
e2e = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(e2e)
e2e.LIMIT = 180  # every wait: a machine three times oversubscribed

ODD = b"\xff\xfe"


def write_wav(path, seconds, hertz, hits=False):
    """16-bit stereo at 48 kHz; long files repeat one second of tone (quick to make). With `hits`,
    four loud noise bursts a second over the tone: what a lossy encoder overshoots, so that an
    export under a ceiling encodes more than once."""
    rng = random.Random(7)
    second = bytearray()
    for i in range(48000):
        s = int(8000 * math.sin(2 * math.pi * hertz * i / 48000))
        burst = [0, 0]
        if hits and i % 12000 < 720:
            burst = [int(24000 * rng.uniform(-1, 1)) for _ in range(2)]
        second += struct.pack("<hh", max(-32768, min(32767, s + burst[0])), max(-32768, min(32767, s + burst[1])))
    data_size = len(second) * int(seconds)
    header = b"RIFF" + struct.pack("<I", 36 + data_size) + b"WAVEfmt " + struct.pack(
        "<IHHIIHH", 16, 1, 2, 48000, 48000 * 4, 4, 16) + b"data" + struct.pack("<I", data_size)
    with open(path, "wb") as f:
        f.write(header)
        for _ in range(int(seconds)):
            f.write(second)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def temporaries(folder):
    return [n for n in os.listdir(folder) if n.startswith(".") and n.endswith(".tmp")] if os.path.isdir(folder) else []


class Program:
    """One program's private folders on a shared display."""

    def __init__(self, binary, server=None):
        self.run = e2e.Run(binary)
        self.run.env["TESSORAL_QT_DIALOGS"] = "1"
        if server:  # its display, watched by every start
            self.run.env["DISPLAY"] = server.env["DISPLAY"]
            self.run.xvfb, self.run.xvfb_log = server.xvfb, server.xvfb_log
        self.data = os.path.join(self.run.env["XDG_DATA_HOME"], "Tessoral")

    def windows(self, process):
        return e2e.windows(self.run, process)

    def area(self, window):
        out = self.run.xdotool("getwindowgeometry", "--shell", window, check=False)
        v = dict(line.split("=") for line in out.splitlines() if "=" in line)
        return int(v.get("WIDTH", 0)) * int(v.get("HEIGHT", 0))

    def main_and_dialog(self, process, what):
        """Waits for the main window and one dialog over it; returns (main, dialog)."""
        found = e2e.wait_for(lambda: (lambda w: w if len(w) >= 2 else None)(self.windows(process)), what)
        ordered = sorted(found, key=self.area)
        return ordered[-1], ordered[0]

    def main_window(self, process):
        # The first window shown is the main one (nothing can pop up before it): seen without a look
        # at each window's kind, at once.
        def shown():
            assert process.poll() is None, "the program ended with %s before its window" % process.returncode
            return self.run.xdotool("search", "--onlyvisible", "--pid", str(process.pid), check=False).split()
        try:
            return e2e.wait_for(shown, "the main window")[0]
        except AssertionError:
            print("its windows, shown or not:", self.run.xdotool("search", "--pid", str(process.pid), check=False))
            print("the display's log:", e2e.text(self.run.xvfb_log)[-2000:] if getattr(self.run, "xvfb_log", None) else "(none)")
            print(e2e.stacks(process.pid))
            raise

    def restore_and_save(self, later, what, project=None):
        """Starts the program, answers its recovery question with "Восстановить" and saves with
        Ctrl+S (into `project` when the restored project has no file); returns (process, log, window)."""
        process, log = self.run.launch()
        later.append(process)
        window, question = self.main_and_dialog(process, "the recovery question (%s)" % what)
        self.key(question, "Return")  # "Восстановить"
        e2e.wait_for(lambda: "Проект восстановлен из автосохранения" in e2e.text(log), "the restore (%s)" % what)
        # The question gone first: while it shows, the main window hands its activation on to it.
        e2e.wait_for(lambda: question not in self.windows(process), "the question to close")
        self.key(window, "ctrl+s")
        if project:
            self.save_as(process, [window], project)
        e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log), "the save (%s)" % what)
        assert not project or os.path.exists(project), "%s: saved elsewhere: %s" % (what, os.listdir(os.path.dirname(project)))
        return process, log, window

    def key(self, window, *keys):
        e2e.focus(self.run, window)
        self.run.xdotool("key", *keys)

    def save_as(self, process, known, path):
        """Types `path` into the save dialog that opens over the windows `known`, and accepts."""
        dialog = e2e.wait_for(lambda: [w for w in self.windows(process) if w not in known], "the save dialog")[0]
        e2e.type_name(self.run, dialog, path, "the save dialog")
        e2e.wait_for(lambda: dialog not in self.windows(process), "the save dialog to close")

    def recovery(self):
        return (read(os.path.join(self.data, "Recovery.tessoral")), read(os.path.join(self.data, "Recovery.plist")))

    def put_recovery(self, files):
        os.makedirs(self.data, mode=0o700, exist_ok=True)
        for name, content in zip(("Recovery.tessoral", "Recovery.plist"), files):
            with open(os.path.join(self.data, name), "wb") as f:
                f.write(content)


def clip_names(project):
    with open(project, "rb") as f:
        return sorted(t["name"] for t in plistlib.load(f)["tracks"])


def marker_count(project):
    with open(project, "rb") as f:
        return len(plistlib.load(f).get("markers", []))


def plist_or_none(path):
    try:
        with open(path, "rb") as f:
            return plistlib.load(f)
    except (OSError, plistlib.InvalidFileException):
        return None


def poll(predicate, what):
    """Like e2e.wait_for, but looks every millisecond (for a write that lasts a fraction of a second)."""
    deadline = time.time() + e2e.LIMIT
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.001)
    raise AssertionError("timed out waiting for " + what)


def delivered(process, sig):
    """Whether no `sig` sent to `process` still waits for delivery. Two of one kind sent while the
    first waits (the program in a long write or fsync) are one signal to the kernel: a second one is
    sent once the first has reached the program."""
    with open("/proc/%d/status" % process.pid) as f:
        return not int(re.search(r"ShdPnd:\s*(\w+)", f.read())[1], 16) & 1 << sig - 1


def writing(folder, target):
    """The size of the temporary being written for `target` in `folder`, or None."""
    for name in temporaries(folder):
        if name.startswith("." + target + "."):
            try:
                return os.path.getsize(os.path.join(folder, name))
            except OSError:
                pass
    return None


def signals_meet_unsaved_writes(p, later):
    """Two quit signals back to back on a dirty session of two eight-minute clips (368 MB of samples;
    see the module's text), then two SIGTERMs during a Ctrl+S of that project."""
    clips = [os.path.join(p.run.scratch, "clip%d.wav" % i) for i in (1, 2)]
    for clip, hertz in zip(clips, (220, 330)):
        write_wav(clip, 480, hertz)
    whole = 2 * 480 * 48000 * 8  # the samples of the copy or the project, in bytes
    copy_file, meta_file = (os.path.join(p.data, n) for n in ("Recovery.tessoral", "Recovery.plist"))
    project = os.path.join(p.run.scratch, "large.tessoral")
    copied = lambda: writing(p.data, "Recovery.tessoral") or 0
    saved = lambda: writing(p.run.scratch, "large.tessoral")
    process, log = p.run.launch(*clips)
    later.append(process)
    window = p.main_window(process)
    e2e.wait_for(lambda: "Добавлено дорожек: 2" in e2e.text(log), "the two eight-minute clips")
    for markers, (delay, part, later_signal) in enumerate(
            ((0, 0, signal.SIGHUP), (0.1, 0.25, signal.SIGTERM), (0.3, 0.75, signal.SIGINT)), 1):
        p.key(window, "m")
        e2e.wait_for(lambda: "Маркер: " in e2e.text(log), "the marker (%s s)" % delay)
        assert not os.path.exists(copy_file), "autosaved before the signals (%s s)" % delay
        process.send_signal(signal.SIGTERM)
        sent = time.time()
        if delay:
            # `delay` after the first, or earlier once `part` of the copy is written: during its write.
            poll(lambda: copied() > (whole * part if time.time() < sent + delay else 1), "the copy's write")
        process.send_signal(later_signal)
        print("%s %.3f s after SIGTERM, %d%% of the copy written" % (later_signal.name, time.time() - sent,
                                                                  100 * copied() // whole))
        assert not os.path.exists(meta_file), "the copy was whole before the second signal (%s s)" % delay
        # Sent together, the two are delivered lowest number first: either may be the later one.
        ended = (-signal.SIGHUP, -signal.SIGTERM) if delay == 0 else (-later_signal,)
        assert process.wait(timeout=60) in ended, "%s s: exit code %s" % (delay, process.returncode)
        assert marker_count(copy_file) == markers and temporaries(p.data) == [], "%s s: the copy" % delay

        process, log, window = p.restore_and_save(later, "%s s" % delay, project if markers == 1 else None)
        assert marker_count(project) == markers and len(clip_names(project)) == 2, "%s s: edits lost" % delay
    print("a second signal after 0, 0.1 and 0.3 s: the copy whole, the edits back")

    # Ctrl+S of the large project: SIGTERMs 0.2 and 0.5 s after its write began (or earlier at a
    # third and two thirds of it), both while it is written, the second once the first is delivered.
    p.key(window, "m")
    e2e.wait_for(lambda: e2e.text(log).count("Маркер: ") == 1, "the marker before the save")
    p.key(window, "ctrl+s")
    began = poll(lambda: saved() is not None and time.time(), "the save's write")
    for delay, part in ((0.2, 3), (0.5, 1.5)):
        poll(lambda: delivered(process, signal.SIGTERM) and
             (saved() or 0) > (whole / part if time.time() < began + delay else 0), "the save at %s s" % delay)
        process.send_signal(signal.SIGTERM)
        print("SIGTERM %.3f s into the save, %d%% written" % (time.time() - began, 100 * (saved() or 0) // whole))
        assert saved() is not None, "the save ended before the SIGTERM at %s s" % delay
    assert process.wait(timeout=60) == -signal.SIGTERM, "a save and two signals: exit code %s" % process.returncode
    assert marker_count(project) == 4 and not os.path.exists(copy_file), "the save lost the marker"
    print("two SIGTERMs during a large save: the saved file holds the marker")


def long_export_and_signals(p, scratch, later, second_signal):
    """The quit signals meeting a long AAC export (see the module's text): one, which lets it
    finish, or with `second_signal` a second one while it writes its file."""
    wav = os.path.join(scratch, "eight minutes.wav")  # the longest clip, and encoded more than once
    write_wav(wav, 480, 220, hits=True)
    p.run.env.pop("TESSORAL_QT_DIALOGS")  # the dialogs as a person gets them
    os.makedirs(os.path.join(p.run.env["XDG_CONFIG_HOME"], "Tessoral"))
    with open(os.path.join(p.run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf"), "w") as f:
        f.write("[General]\nexport.default.format=aac128\nexport.default.loudness=podcast\nexport.default.samplerate=44100\n")
    m4a, copy_file = os.path.join(p.run.scratch, "mix.m4a"), os.path.join(p.data, "Recovery.tessoral")
    process, log = p.run.launch(wav)
    later.append(process)
    window = p.main_window(process)
    e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the eight-minute import")
    p.key(window, "m")
    e2e.wait_for(lambda: "Маркер: " in e2e.text(log), "the marker")
    p.key(window, "ctrl+shift+e")
    sheet = e2e.wait_for(lambda: [w for w in p.windows(process) if w != window], "the export sheet")[0]
    p.key(sheet, "Return")  # "Экспортировать", with the AAC 128 and Podcast of the settings
    p.save_as(process, [window, sheet], m4a)
    e2e.wait_for(lambda: "Экспорт…" in e2e.text(log), "the export's start")
    process.send_signal(signal.SIGTERM)
    signalled = time.time()
    poll(lambda: os.path.exists(copy_file) and marker_count(copy_file) == 1, "the copy")
    print("the copy %.2f s after the signal" % (time.time() - signalled))
    assert not os.path.exists(m4a), "the copy waited for the export"
    if not second_signal:
        assert process.wait(timeout=180) == 0, "one signal: exit code %s" % process.returncode
        print("the export finished %.2f s after the signal" % (time.time() - signalled))
        assert os.path.getsize(m4a) > 480 * 128000 // 16 and temporaries(p.run.scratch) == [], "export unfinished"
        print("a quit signal during a long export: the copy at once, the export finished")
        return
    # And as soon as the export writes its file, which then goes at once.
    poll(lambda: writing(p.run.scratch, "mix.m4a") is not None, "the export's write")
    print("the export's write %.2f s after the signal" % (time.time() - signalled))
    process.send_signal(signal.SIGTERM)
    code = process.wait(timeout=30)
    assert not os.path.exists(m4a), "the export ended before the second signal"
    assert code == -signal.SIGTERM, "two signals: exit code %s" % code
    assert marker_count(copy_file) == 1 and temporaries(p.data) == [] and temporaries(p.run.scratch) == []

    project = os.path.join(p.run.scratch, "restored.tessoral")
    r, log_r, window = p.restore_and_save(later, "after two signals", project)
    assert marker_count(project) == 1 and len(clip_names(project)) == 1, "the edits did not come back"
    p.key(window, "ctrl+q")
    assert r.wait(timeout=30) == 0
    print("two quit signals during a long export: the copy at once, the export ended by the second")


def pulse_source(folder, env):
    """A private PulseAudio server with a 48 kHz null sink (as root, as the transport's tests start
    it), warmed with one short stream; `env` gets the ALSA configuration that names its PCMs."""
    socket = os.path.join(folder, "native")
    if os.path.exists(socket):  # left by a server before
        os.remove(socket)
    server = subprocess.Popen(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                               "--load=module-null-sink sink_name=tessoral_null rate=48000 format=float32le channels=2",
                               "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % socket],
                              env=dict(os.environ, PULSE_RUNTIME_PATH=folder, HOME=folder),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    e2e.wait_for(lambda: os.path.exists(socket) or server.poll() is not None, "the sound server")
    assert server.poll() is None, "pulseaudio did not start"
    plugin = glob.glob("/usr/lib*/*/alsa-lib/libasound_module_pcm_pulse.so")
    assert plugin, "ALSA's pulse plugin (libasound2-plugins) is not installed"
    with open(os.path.join(folder, "asound.conf"), "w") as f:
        f.write('pcm_type.pulse { lib "%s" }\n' % plugin[0])
        for pcm, device in (("out", "tessoral_null"), ("monitor", "tessoral_null.monitor")):
            f.write('pcm.tessoral_%s { type pulse server "unix:%s" device "%s" }\n' % (pcm, socket, device))
        # PortAudio 19.6 asserts when every PCM it lists opens: one that cannot keeps it going.
        f.write('pcm.tessoral_unreachable { type pulse server "unix:%s/absent" }\n' % folder)
    subprocess.run(["pacat", "--server=unix:" + socket, "--device=tessoral_null", "--raw", "--format=float32le",
                    "--rate=48000", "--channels=2"], input=bytes(48000 * 8 // 4), check=True, timeout=e2e.LIMIT)
    env.pop("TESSORAL_AUDIO", None)
    env.update(ALSA_CONFIG_PATH=os.path.join(folder, "asound.conf"), JACK_NO_START_SERVER="1")
    return server, socket


class XClientMessage(ctypes.Structure):  # an XEvent (24 longs) holding a ClientMessage
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


def ping(display, window, limit=5.0):
    """Seconds until `window` answers the window manager's liveness check (_NET_WM_PING), or None.
    The answer goes where a window manager takes it, the root's substructure redirect (free on this
    display without one), held only while waiting: a window mapped meanwhile is mapped."""
    x, w = ctypes.CDLL(ctypes.util.find_library("X11")), ctypes.c_ulong(int(window))
    x.XOpenDisplay.restype, x.XDefaultRootWindow.restype = ctypes.c_void_p, ctypes.c_ulong
    x.XInternAtom.restype = ctypes.c_ulong
    d = ctypes.c_void_p(x.XOpenDisplay(display.encode()))
    event, reply = XClientMessage(33, 0, 0, None, w.value, x.XInternAtom(d, b"WM_PROTOCOLS", 0), 32), XClientMessage()
    event.data[0], event.data[2] = x.XInternAtom(d, b"_NET_WM_PING", 0), w.value
    x.XSelectInput(d, ctypes.c_ulong(x.XDefaultRootWindow(d)), ctypes.c_long(1 << 19 | 1 << 20))
    sent = time.time()
    x.XSendEvent(d, w, 0, ctypes.c_long(0), ctypes.byref(event))
    x.XFlush(d)
    try:
        while time.time() - sent < limit:
            while x.XPending(d):
                x.XNextEvent(d, ctypes.byref(reply))
                if reply.type == 20:  # MapRequest: its window is where a ClientMessage has its type
                    x.XMapWindow(d, ctypes.c_ulong(reply.message_type))
                elif reply.type == 33 and reply.data[0] == event.data[0]:
                    return time.time() - sent
            time.sleep(0.002)
    finally:
        x.XCloseDisplay(d)


def take(project):
    """The recorded clip of `project`: its length in seconds and its peak."""
    with open(project, "rb") as f:
        clip = [t for t in plistlib.load(f)["tracks"] if t["name"].startswith("Запись")]
    assert len(clip) == 1, "no take in %s" % project
    left = array.array("f", clip[0]["left"])
    return len(left) / 48000, max(map(abs, left))


def devices_and_bed(p):
    """The private sound server's monitor and sink as the program's devices; a bed of 60 s to play
    or to record over. Returns the bed's path."""
    os.makedirs(os.path.join(p.run.env["XDG_CONFIG_HOME"], "Tessoral"))
    with open(os.path.join(p.run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf"), "w") as f:
        f.write("[General]\ninput.device.uid=ALSA/tessoral_monitor\noutput.device.uid=ALSA/tessoral_out\n")
    bed = os.path.join(p.run.scratch, "bed.wav")
    write_wav(bed, 60, 440)
    return bed


def takes_and_signals(p, later, playing):
    """A take recorded over the project from a PulseAudio source (or with `playing`, playback)
    meets the quit signals (see the module's text)."""
    server, socket = pulse_source(p.run.scratch, p.run.env)
    bed = devices_and_bed(p)
    copy_file = os.path.join(p.data, "Recovery.tessoral")
    try:
        rounds = (((signal.SIGTERM, None), (signal.SIGTERM, signal.SIGHUP)) if playing else
                  ((signal.SIGTERM, None), (signal.SIGINT, signal.SIGINT), (signal.SIGTERM, signal.SIGHUP)))
        for first, second in rounds:
            what = "+".join(s.name for s in (first, second) if s) + (" during playback" if playing else "")
            frozen = playing or second == signal.SIGHUP  # the sound server stopped: its streams never stop
            process, log = p.run.launch(bed)
            later.append(process)
            window = p.main_window(process)
            e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the bed (%s)" % what)
            height = int(dict(l.split("=") for l in p.run.xdotool("getwindowgeometry", "--shell", window).split())["HEIGHT"])
            if playing:
                p.key(window, "space")
            else:
                p.run.xdotool("mousemove", "--window", window, "152", str(height - 58), "click", "1")  # the record button
                e2e.wait_for(lambda: "Запись поверх проекта" in e2e.text(log), "the recording (%s)" % what)
            e2e.wait_for(lambda: subprocess.run(["pactl", "--server=unix:" + socket, "list", "short",
                                                 "sink-inputs" if playing else "source-outputs"],
                                                capture_output=True, text=True).stdout.strip(), "the stream (%s)" % what)
            time.sleep(5)  # a take of seconds (a sound server may deliver its first buffers late)
            if frozen:
                server.send_signal(signal.SIGSTOP)
            process.send_signal(first)
            signalled = time.time()
            if second == signal.SIGHUP:
                time.sleep(0.1)  # a logout
            elif second:  # Ctrl+C again once the first has reached the program
                e2e.wait_for(lambda: delivered(process, first), "the first %s's delivery" % first.name)
            if second:
                process.send_signal(second)
            if frozen:  # within seconds, well before the sound library gives up waiting (minutes)
                e2e.wait_for(lambda: os.path.exists(os.path.join(p.data, "Recovery.plist")), "the copy (%s)" % what,
                             max(signalled + 10 - time.time(), 0.01))
                print("%s: the copy %.2f s after the first signal" % (what, time.time() - signalled))
            # Then the program ends by itself, the sound server still stopped.
            assert process.wait(timeout=30 if frozen else e2e.LIMIT) in (0, -(second or 0)), \
                "%s: exit code %s" % (what, process.returncode)
            server.send_signal(signal.SIGCONT)
            if frozen:  # a server stopped under open streams may abort once it goes on: a new one
                server.terminate()
                server.wait()
                server, socket = pulse_source(p.run.scratch, p.run.env)
            if playing:
                assert clip_names(copy_file) == ["bed"], "%s: the copy holds %s" % (what, clip_names(copy_file))
                os.remove(copy_file)
                os.remove(os.path.join(p.data, "Recovery.plist"))
                continue
            said = re.search(r"Запись добавлена: (\d+):([\d.]+)", e2e.text(log))
            assert said, "%s: the take was not placed" % what
            length, peak = take(copy_file)
            assert abs(length - 60 * int(said[1]) - float(said[2])) < 0.001 and length > 0.5 and peak > 0.1, \
                "%s: the copy's take: %.3f s, peak %.2f (%s)" % (what, length, peak, said[0])

            project = os.path.join(p.run.scratch, "%s.tessoral" % what)
            r, log_r, window = p.restore_and_save(later, what, project)
            assert take(project)[0] == length and len(clip_names(project)) == 2, "%s: the take did not come back" % what
            p.key(window, "ctrl+q")
            assert r.wait(timeout=e2e.LIMIT) == 0
            print("%s during a take: the take of %.3f s in the copy and back" % (what, length))
    finally:
        server.send_signal(signal.SIGCONT)
        server.terminate()
        server.wait()


def stopped_and_killed_server(p, later):
    """The sound server stopped: Space, the settings and their Refresh leave the window answering
    the ping within a second, Space says the server does not answer, a SIGTERM while the device scan
    waits writes the copy within 5 s and ends the program. A server killed during a take is told."""
    server, socket = pulse_source(p.run.scratch, p.run.env)
    copy_files = [os.path.join(p.data, n) for n in ("Recovery.tessoral", "Recovery.plist")]

    def answers(window, what):
        took = ping(p.run.env["DISPLAY"], window)
        assert took is not None and took < 1.0, "%s: the window answered after %s s" % (what, took)

    def launch(what):
        process, log = p.run.launch(os.path.join(p.run.scratch, "bed.wav"))
        later.append(process)
        e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the bed (%s)" % what)
        return process, log, p.main_window(process)

    def other_window(process, window, what):
        return e2e.wait_for(lambda: [w for w in p.windows(process) if w != window], what, 5)[0]

    try:
        # Started while the server is stopped: the window as soon as with the server running (a start
        # in the same minute: a loaded machine slows both), and a quit signal a second after Space
        # (its device opening waits on the server) ends the program within 3 s with the copy.
        def start():
            started = time.time()
            process, log = p.run.launch(os.path.join(p.run.scratch, "bed.wav"))
            later.append(process)
            return process, log, p.main_window(process), time.time() - started
        process, _, _, running = start()
        process.kill()
        process.wait()
        server.send_signal(signal.SIGSTOP)
        process, log, window, shown = start()
        assert shown < 2.0 + 2 * running, "the window %.2f s after the start, the server stopped (%.2f s running)" % (
            shown, running)
        e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the bed (started stopped)")
        p.key(window, "space")
        e2e.wait_for(lambda: "Подготовка воспроизведения…" in e2e.text(log), "the preparation")
        time.sleep(1)
        process.send_signal(signal.SIGTERM)
        signalled = time.time()
        assert process.wait(timeout=15) == 0 and all(map(os.path.exists, copy_files))
        ended = time.time() - signalled
        assert ended < 3.0, "the program ended %.2f s after the signal" % ended
        print("started with the server stopped: the window after %.2f s (%.2f s running); SIGTERM 1 s after "
              "Space: ended after %.2f s with the copy" % (shown, running, ended))
        list(map(os.remove, copy_files))
        server.send_signal(signal.SIGCONT)

        process, log, window = launch("server stopped")
        server.send_signal(signal.SIGSTOP)
        p.key(window, "space")
        answers(window, "Space from stop, the server stopped")
        e2e.wait_for(lambda: "Звуковой сервер не отвечает." in e2e.text(log).split("Подготовка воспроизведения…")[-1],
                     "the note that the server does not answer")
        # Said in the status line, not in an alert: the next Space tries again at once.
        assert p.windows(process) == [window], "Space's note opened a window"
        p.key(window, "space")
        e2e.wait_for(lambda: "Подготовка воспроизведения…" in e2e.text(log).split("Звуковой сервер не отвечает.")[-1],
                     "the next Space", 5)
        # The scan that opening the settings starts waits on the server (and the log, stderr, with it).
        p.key(window, "ctrl+comma")
        shown = other_window(process, window, "the settings")
        answers(shown, "the settings opened, the server stopped")
        p.run.xdotool("mousemove", "--window", shown, "120", "865", "click", "1")  # "Обновить список устройств"
        answers(shown, "Refresh, the server stopped")
        process.send_signal(signal.SIGTERM)
        e2e.wait_for(lambda: all(map(os.path.exists, copy_files)), "the copy, the server stopped", 5)
        assert process.wait(timeout=15) == 0 and clip_names(copy_files[0]) == ["bed"]
        list(map(os.remove, copy_files))
        server.send_signal(signal.SIGCONT)
        server.terminate()
        server.wait()

        server, socket = pulse_source(p.run.scratch, p.run.env)
        process, log, window = launch("server killed")
        height = int(dict(l.split("=") for l in p.run.xdotool("getwindowgeometry", "--shell", window).split())["HEIGHT"])
        p.run.xdotool("mousemove", "--window", window, "152", str(height - 58), "click", "1")  # the record button
        e2e.wait_for(lambda: "Запись поверх проекта" in e2e.text(log), "the recording (server killed)")
        time.sleep(2)
        server.kill()
        e2e.wait_for(lambda: re.search(r"Запись добавлена: [\d:.]+ · звуковой сервер перестал отвечать: "
                                       r"запись остановлена, в дубле первые [\d:.]+", e2e.text(log)), "the take's note", 15)
        # Not restarted: Space says so in the program's words.
        e2e.wait_for(lambda: len(p.windows(process)) == 1, "the take's note to be alone")
        p.key(window, "space")
        e2e.wait_for(lambda: "Подготовка воспроизведения…" in e2e.text(log), "the preparation (server killed)")
        said = e2e.wait_for(lambda: re.findall(r"tessoral\.status: (.*)", e2e.text(log).split("Подготовка воспроизведения…")[-1]),
                            "Space's note", 15)
        assert said[0] == "Звуковой сервер не запущен. Запустите его и попробуйте ещё раз.", said
        process.send_signal(signal.SIGTERM)
        assert process.wait(timeout=30) == 0
    finally:
        server.send_signal(signal.SIGCONT)
        server.terminate()
        server.wait()


def restore_and_check(p, process, log, copy, project, expected, what, hand_over=None):
    """The recovery question is shown first and the copy waits untouched; "Восстановить" restores
    it, the files of the start follow; Ctrl+S saves to the copy's project and plistlib reads it."""
    window, question = p.main_and_dialog(process, "the recovery question (%s)" % what)
    assert "Проект открыт" not in e2e.text(log) and "Добавлено дорожек" not in e2e.text(log), \
        "a file was opened before the answer (%s)" % what
    if hand_over:
        # The later start waits for the answer: it exits 0 once the program takes the file.
        later, _ = p.run.launch(hand_over, display=False)
    time.sleep(1.5)
    assert not hand_over or later.poll() is None, "the handing-over start left before the answer"
    assert p.recovery() == copy, "the recovery copy changed before it was answered (%s)" % what
    assert "Добавлено дорожек" not in e2e.text(log), "a handed-over file was opened before the answer"
    p.key(question, "Return")  # "Восстановить", the default button
    e2e.wait_for(lambda: "Проект восстановлен из автосохранения" in e2e.text(log), "the restore (%s)" % what)
    if hand_over:
        assert later.wait(timeout=30) == 0, "the handing-over start did not exit 0"
    if len(expected) > 2:
        e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the import after the restore (%s)" % what)
    time.sleep(0.5)
    assert p.windows(process) == [window], "a further question appeared (%s)" % what
    p.key(window, "ctrl+s")
    e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log), "the save (%s)" % what)
    assert clip_names(project) == sorted(expected), "%s: %s" % (what, clip_names(project))
    p.key(window, "ctrl+q")
    assert process.wait(timeout=30) == 0, "quitting did not exit 0 (%s)" % what


def saved_and_handed_over(first, tone, other, project):
    """Starts the program with `tone`, saves it as `project` (Ctrl+S) and has a later start hand
    `other` over, which makes the project unsaved again; returns (process, log)."""
    a, log_a = first.run.launch(tone)
    window = first.main_window(a)
    e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log_a), "the import of tone.wav")
    first.key(window, "ctrl+s")
    first.save_as(a, [window], project)
    e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log_a), "the save")
    second, _ = first.run.launch(other, display=False)
    assert second.wait(timeout=30) == 0
    e2e.wait_for(lambda: e2e.text(log_a).count("Добавлено дорожек: 1") >= 2, "the handed-over import")
    return a, log_a


AUTOSAVE_SECONDS = 15  # the period the autosave part's programs are given (a minute otherwise)


def autosave(first, long_run, later):
    """Autosave within its period of the start (and a SIGTERM during one); the copy a killed
    program left is offered first when the project is named on the command line."""
    for p in (first, long_run):
        p.run.env["TESSORAL_AUTOSAVE_SECONDS"] = str(AUTOSAVE_SECONDS)
    scratch = first.run.scratch
    tone, other = os.path.join(scratch, "tone.wav"), os.path.join(scratch, "other.wav")
    long_wav = os.path.join(long_run.run.scratch, "long.wav")
    project = os.path.join(scratch, "session.tessoral")
    write_wav(tone, 2, 330)
    write_wav(other, 1, 440)
    write_wav(long_wav, 300, 220)  # about 115 MB as a project

    # The long recording: its autosave is interrupted by SIGTERM, caught while it writes (watched
    # from its start on).
    busy, busy_log = long_run.run.launch(long_wav)
    later.append(busy)
    caught = None

    def catch():
        nonlocal caught
        deadline = time.time() + AUTOSAVE_SECONDS + e2e.LIMIT
        while time.time() < deadline and busy.poll() is None:
            found = temporaries(long_run.data)
            if any(n.startswith(".Recovery.tessoral.") for n in found):
                busy.send_signal(signal.SIGTERM)
                caught = found
                return
            if os.path.exists(os.path.join(long_run.data, "Recovery.plist")):
                caught = "the long autosave ended before it was seen"
                return
            time.sleep(0.001)

    watcher = threading.Thread(target=catch)
    watcher.start()
    # Its window first: appearing later, it would take the focus from the first program's keys.
    long_run.main_window(busy)
    # The first program: open, save, take a handed-over file, autosave.
    a, log_a = saved_and_handed_over(first, tone, other, project)
    later.append(a)
    e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(busy_log), "the import of the long recording")
    # Both autosave within their period.
    copy_a = os.path.join(first.data, "Recovery.plist")
    e2e.wait_for(lambda: os.path.exists(copy_a), "the first program's autosave", AUTOSAVE_SECONDS + e2e.LIMIT)
    watcher.join()
    assert not isinstance(caught, str), caught
    assert caught is not None, "the long program did not autosave"
    assert os.path.exists(copy_a), "the first program did not autosave"
    # Its metadata follows the copy: both whole, naming the saved project, before the kill.
    e2e.wait_for(lambda: (plist_or_none(copy_a) or {}).get("path") == project and
                 len((plist_or_none(os.path.join(first.data, "Recovery.tessoral")) or {}).get("tracks", [])) == 2,
                 "the first program's whole recovery copy")
    a.send_signal(signal.SIGKILL)
    a.wait()
    copy = first.recovery()

    assert busy.wait(timeout=60) == 0, "SIGTERM during an autosave: exit code %s" % busy.returncode
    assert temporaries(long_run.data) == [], "left behind: %s" % temporaries(long_run.data)
    with open(os.path.join(long_run.data, "Recovery.tessoral"), "rb") as f:
        restored = plistlib.load(f)
    assert len(restored["tracks"]) == 1 and len(restored["tracks"][0]["left"]) == 300 * 48000 * 4
    print("SIGTERM during an autosave: exit 0, a whole copy, no temporary")

    # The project on the command line.
    b, log_b = first.run.launch(project)
    later.append(b)
    restore_and_check(first, b, log_b, copy, project, ["tone", "other"], "project argument")
    print("recovery offered first: project argument")


def copies(first, later):
    """The question offered first whatever starts the program, names that are no UTF-8, and an edit
    kept by a quit signal. The copy offered is the one a SIGTERM writes at once (the autosave part
    restores one that a killed program left)."""
    scratch = os.fsencode(first.run.scratch)
    tone = os.path.join(scratch, b"tone.wav")
    other = os.path.join(scratch, b"other.wav")
    third = os.path.join(scratch, b"third" + ODD + b".wav")
    fourth = os.path.join(scratch, b"fourth" + ODD + b".wav")
    project = os.path.join(first.run.scratch, "session.tessoral")
    for path, seconds, hertz in ((tone, 2, 330), (other, 1, 440), (third, 1, 550), (fourth, 1, 660)):
        write_wav(path, seconds, hertz)
    a, _ = saved_and_handed_over(first, tone, other, project)
    later.append(a)
    a.send_signal(signal.SIGTERM)
    assert a.wait(timeout=60) == 0, "SIGTERM after the hand-over: exit code %s" % a.returncode
    assert len(clip_names(os.path.join(first.data, "Recovery.tessoral"))) == 2, "the copy lacks the handed-over clip"
    copy = first.recovery()

    # Logout while the question waits: the program ends and the copy stays as it was.
    q, log_q = first.run.launch(project)
    later.append(q)
    first.main_and_dialog(q, "the recovery question before a SIGTERM")
    q.send_signal(signal.SIGTERM)
    assert q.wait(timeout=30) == 0, "SIGTERM during the question: exit code %s" % q.returncode
    assert first.recovery() == copy, "the copy changed when the program was ended during its question"
    assert "Проект открыт" not in e2e.text(log_q)

    # An audio file named with bytes that are no UTF-8.
    c, log_c = first.run.launch(third)
    later.append(c)
    restore_and_check(first, c, log_c, copy, project, ["tone", "other", "third\ufffd\ufffd"], "audio argument")
    # The save discarded the copy; put it back for the next start.
    first.put_recovery(copy)
    # No argument; the file is handed over while the question waits.
    d, log_d = first.run.launch()
    later.append(d)
    restore_and_check(first, d, log_d, copy, project, ["tone", "other", "fourth\ufffd\ufffd"], "hand-over",
                      hand_over=fourth)
    print("recovery offered first: audio file and hand-over")

    # A project and a WAV whose names hold FF FE, with no recovery copy.
    odd_project = os.path.join(scratch, b"Project" + ODD + b".tessoral")
    shutil.copyfile(os.fsencode(project), odd_project)
    e, log_e = first.run.launch(odd_project)
    later.append(e)
    window = first.main_window(e)
    e2e.wait_for(lambda: "Проект открыт" in e2e.text(log_e), "the project named with FF FE")
    h, _ = first.run.launch(third, display=False)
    assert h.wait(timeout=30) == 0
    e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log_e), "the WAV named with FF FE, handed over")
    first.key(window, "ctrl+s")
    e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log_e), "the save under the FF FE name")
    assert len(clip_names(odd_project)) == 4, clip_names(odd_project)
    first.key(window, "ctrl+q")
    assert e.wait(timeout=30) == 0
    print("names with FF FE: ok")

    # Logout, shutdown, a closed terminal: an edit two seconds old, long before any autosave,
    # is written to the recovery copy before the program quits; the next start asks first and
    # "Восстановить" brings it back. With nothing unsaved a signal (Ctrl+C) writes nothing.
    copy_file = os.path.join(first.data, "Recovery.tessoral")
    meta_file = os.path.join(first.data, "Recovery.plist")
    for markers, sig in enumerate((signal.SIGTERM, signal.SIGHUP), 1):
        s, log_s = first.run.launch(project)
        later.append(s)
        window = first.main_window(s)
        e2e.wait_for(lambda: "Проект открыт" in e2e.text(log_s), "the project (%s)" % sig.name)
        first.key(window, "m")
        e2e.wait_for(lambda: "Маркер: " in e2e.text(log_s), "the marker (%s)" % sig.name)
        time.sleep(2)
        assert not os.path.exists(copy_file), "autosaved before the %s" % sig.name
        s.send_signal(sig)
        assert s.wait(timeout=30) == 0, "%s: exit code %s" % (sig.name, s.returncode)
        assert marker_count(copy_file) == markers, "%s: the copy lacks the edit" % sig.name
        assert (plist_or_none(meta_file) or {}).get("path") == project, "%s: metadata" % sig.name

        r, log_r = first.run.launch()
        later.append(r)
        window, question = first.main_and_dialog(r, "the recovery question after a %s" % sig.name)
        first.key(question, "Return")  # "Восстановить"
        e2e.wait_for(lambda: "Проект восстановлен из автосохранения" in e2e.text(log_r), "the restore (%s)" % sig.name)
        # The question gone first: while it shows, the main window hands its activation on to it.
        e2e.wait_for(lambda: question not in first.windows(r), "the question to close")
        first.key(window, "ctrl+s")
        e2e.wait_for(lambda: "Проект сохранён" in e2e.text(log_r), "the save after the %s" % sig.name)
        assert marker_count(project) == markers, "%s: the edit did not come back" % sig.name
        r.send_signal(signal.SIGINT)
        assert r.wait(timeout=30) == 0, "SIGINT: exit code %s" % r.returncode
        assert not os.path.exists(copy_file) and not os.path.exists(meta_file), "written without a change"
    # A signal while a question waits: the edit is written all the same, and the work of every
    # quit is done before the program ends (the window's place kept among it).
    conf = os.path.join(first.run.env["XDG_CONFIG_HOME"], "Tessoral", "Tessoral.conf")
    with open(conf, encoding="utf-8") as f:
        settings = re.sub(r"(?ms)^\[Tessoral\.Main\]\n.*?(?=^\[|\Z)", "", f.read())
    with open(conf, "w", encoding="utf-8") as f:
        f.write(settings)
    s, log_s = first.run.launch(project)
    later.append(s)
    window = first.main_window(s)
    e2e.wait_for(lambda: "Проект открыт" in e2e.text(log_s), "the project before the question")
    first.key(window, "m")
    e2e.wait_for(lambda: "Маркер: " in e2e.text(log_s), "the marker before the question")
    first.key(window, "ctrl+q")
    first.main_and_dialog(s, "the unsaved-changes question")
    s.send_signal(signal.SIGTERM)
    assert s.wait(timeout=30) == 0, "SIGTERM during the question: exit code %s" % s.returncode
    assert marker_count(copy_file) == 3, "the copy lacks the edit made before the question"
    with open(conf, encoding="utf-8") as f:
        assert re.search(r"(?m)^\[Tessoral\.Main\]\ngeometry=", f.read()), "the window's place was not kept"
    print("quit signals: SIGTERM and SIGHUP keep the edit, SIGINT without a change writes nothing")


PARTS = ("autosave", "copies", "writes", "export", "export_cut", "takes", "playback", "stopped")


def main(binary, part):
    first = Program(binary)
    first.run.start_display()
    long_run = Program(binary, first.run)
    exporting = Program(binary, first.run)
    large = Program(binary, first.run)
    recording = Program(binary, first.run)
    later = []
    try:
        if part == "autosave":
            autosave(first, long_run, later)
        elif part == "copies":
            copies(first, later)
        elif part == "writes":
            signals_meet_unsaved_writes(large, later)
        elif part in ("export", "export_cut"):
            long_export_and_signals(exporting, first.run.scratch, later, second_signal=part == "export_cut")
        elif part == "stopped":
            devices_and_bed(recording)
            stopped_and_killed_server(recording, later)
        else:
            takes_and_signals(recording, later, playing=part == "playback")
        return 0
    except Exception as error:  # report with the programs' output
        print("FAILED:", error)
        for run in (first.run, long_run.run, large.run, recording.run, exporting.run):
            for i, log in enumerate(run.logs):
                print("---- log %d ----" % i)
                print(e2e.text(log)[-3000:])
        return 1
    finally:
        for process in later:
            if process.poll() is None:
                process.kill()
        for p in (long_run, large, recording, exporting):
            p.run.xvfb = None
            p.run.close()
        first.run.close()


if __name__ == "__main__":
    # One part a run, so each stays short enough to read and to rerun.
    part = sys.argv.pop(2) if len(sys.argv) > 2 else ""
    if part not in PARTS:
        sys.exit("usage: recovery_end_to_end.py TESSORAL " + "|".join(PARTS))
    program, code = e2e.required_tools("recovery_end_to_end.py", ("Xvfb", "xdotool", "xwininfo", "pulseaudio", "pacat", "pactl"))
    sys.exit(main(program, part) if program else code)
