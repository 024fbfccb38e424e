#!/usr/bin/env python3
"""Space -> first sound of the real program, as a person hears it, on a PulseAudio null sink.

Starts a private Xvfb and then, N times, a private PulseAudio daemon with one 48 kHz null sink
(whose monitor is recorded from before the program starts, so the sink is never idle: an idle
null sink starts a new stream with 1-2 s of its own latency) and the real program
(build/app/tessoral, no test variable set) on the play-start benchmark's project: one 8-minute clip
with a vocal rack (graphic EQ, compressor, de-esser, limiter, large hall). In each fresh start it
times, by real X key presses, from the key to the first non-silent sample at the sink:

  first     the first Space after the project has opened
  later     Space after a pause (Space) at the same place
  seek      Right while playing (the cursor moves on and the mix is rendered again from there)
  seekplay  Space after that seek and a pause

The onset is the recorded block's arrival time less the samples after the first loud one; the
key press is timed before xdotool starts, so the figures lean long by its start-up (a few ms).
This depends on timing: it is a measurement, not a CI test.

    scripts/play-latency.py [--starts 10] [--display :91] [--build build] [--program FILE]... [--log DIR] [--nice N]
"""
import argparse, os, shutil, signal, statistics, struct, subprocess, sys, tempfile, threading, time

RATE = 48000
LOUD = 1e-4


class Monitor:
    """Reads the sink's monitor as float32 stereo and keeps (arrival time, loud frame offsets)."""

    def __init__(self, env, source):
        self.proc = subprocess.Popen(
            ["parec", "-d", source, "--format=float32le", "--rate=%d" % RATE, "--channels=2",
             "--latency-msec=5", "--raw"], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.blocks = []  # (arrival, frames, first loud frame or None, last loud frame or None)
        self.lock = threading.Lock()
        threading.Thread(target=self.read, daemon=True).start()

    def read(self):
        rest = b""
        fd = self.proc.stdout.fileno()
        while True:
            data = os.read(fd, 4096)
            now = time.monotonic()
            if not data:
                return
            data = rest + data
            usable = len(data) // 8 * 8
            rest = data[usable:]
            values = struct.unpack("<%df" % (usable // 4), data[:usable])
            loud = [i // 2 for i, v in enumerate(values) if abs(v) > LOUD]
            with self.lock:
                self.blocks.append((now, usable // 8, loud[0] if loud else None, loud[-1] if loud else None))

    def frames(self, since):
        """The blocks that arrived after `since`: (start time, frames, first and last loud frame)."""
        with self.lock:
            blocks = list(self.blocks)
        out = []
        for arrival, n, first, last in blocks:
            start = arrival - n / RATE
            if arrival < since:
                continue
            out.append((start, n, first, last))
        return out

    def onset(self, since, timeout, gap=0.0):
        """Time of the first loud sample after `since` (after `gap` seconds of silence, when given)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            silent_from = None if gap > 0 else since
            for start, n, first, last in self.frames(since):
                if silent_from is None:
                    if first is None:
                        silent_from = start
                    elif last is not None and last < n - 1:
                        silent_from = start + (last + 1) / RATE
                    continue
                if first is not None:
                    if start + first / RATE - silent_from >= gap and start + first / RATE >= since:
                        return start + first / RATE
                    silent_from = start + (last + 1) / RATE if last < n - 1 else None
            time.sleep(0.01)
        return None

    def wait_silence(self, since, length, timeout=10.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            quiet = 0.0
            for start, n, first, last in self.frames(since):
                quiet = quiet + n / RATE if first is None else 0.0
            if quiet >= length:
                return True
            time.sleep(0.02)
        return False

    def close(self):
        self.proc.terminate()
        self.proc.wait()


def wait_for(predicate, timeout, step=0.05):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return False


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def resident(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def wait_idle(pid, timeout=120.0):
    """Until the program has used under 5 % of a core for a whole second."""
    hz = os.sysconf("SC_CLK_TCK")
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        before = cpu_ticks(pid)
        time.sleep(1.0)
        if (cpu_ticks(pid) - before) / hz < 0.05:
            return True
    return False


def xdotool(env, *args):
    return subprocess.run(["xdotool", *args], env=env, capture_output=True, text=True).stdout.strip()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--starts", type=int, default=10)
    ap.add_argument("--display", default=":91")
    ap.add_argument("--build", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
    ap.add_argument("--program", action="append",
                    help="the program to time (default: BUILD/app/tessoral); given twice or more, the "
                         "programs take turns, start by start, so that they meet the same load")
    ap.add_argument("--log", help="a folder for each start's standard error")
    ap.add_argument("--nice", type=int, default=0,
                    help="the program's niceness (below 0 as root: a larger share of a busy machine's cores)")
    a = ap.parse_args()
    for tool in ("Xvfb", "pulseaudio", "parec", "xdotool"):
        if not shutil.which(tool):
            sys.exit("play-latency: %s is not installed (scripts/setup-deps.sh)" % tool)
    programs = a.program or [os.path.join(a.build, "app", "tessoral")]
    bench = os.path.join(a.build, "bench", "tessoral_bench")

    root = tempfile.mkdtemp(prefix="tessoral-play-latency-")
    runtime = os.path.join(root, "run")
    os.mkdir(runtime, 0o700)
    env = dict(os.environ, XDG_RUNTIME_DIR=runtime, XDG_CONFIG_HOME=os.path.join(root, "config"),
               XDG_DATA_HOME=os.path.join(root, "data"), XDG_CACHE_HOME=os.path.join(root, "cache"),
               HOME=root, DISPLAY=a.display)
    for var in [v for v in env if v.startswith("TESSORAL_") or v == "QT_QPA_PLATFORM"]:
        del env[var]
    started = []
    try:
        project = os.path.join(root, "vocal.tessoral")
        subprocess.run([bench, "--write-vocal-project=" + project], env=env, check=True)

        xvfb = subprocess.Popen(["Xvfb", a.display, "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        started.append(xvfb)
        socket = "/tmp/.X11-unix/X" + a.display.lstrip(":")
        if not wait_for(lambda: os.path.exists(socket), 10):
            sys.exit("play-latency: Xvfb did not start on " + a.display)
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as f:
            thp = f.read().strip()
        with open("/sys/kernel/mm/transparent_hugepage/defrag") as f:
            defrag = f.read().strip()
        print("transparent huge pages: enabled %s; defrag %s; load %s" % (thp, defrag, os.getloadavg()))
        results = {p: {"first": [], "later": [], "seek": [], "seekplay": []} for p in programs}

        def start_pulse():
            shutil.rmtree(os.path.join(runtime, "pulse"), ignore_errors=True)
            pulse = subprocess.Popen(
                ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                 "--load=module-null-sink sink_name=measure rate=%d format=float32le channels=2" % RATE,
                 "--load=module-native-protocol-unix"], env=env, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            if not wait_for(lambda: os.path.exists(os.path.join(runtime, "pulse", "native")), 10):
                sys.exit("play-latency: pulseaudio did not start")
            monitor = Monitor(env, "measure.monitor")
            time.sleep(1.0)
            return pulse, monitor

        def one_start(program, monitor, times):
            def press(key, kind, gap=0.0):
                t0 = time.monotonic()
                xdotool(env, "key", key)
                heard = monitor.onset(t0, 10.0, gap)
                times[kind] = float("inf") if heard is None else heard - t0
                print("  %-8s %s" % (kind, "no sound within 10 s" if heard is None else "%.3f s" % times[kind]))

            def pause():
                t0 = time.monotonic()
                xdotool(env, "key", "space")
                monitor.wait_silence(t0, 0.3)
                time.sleep(0.5)

            app = subprocess.Popen([program, project], env=env, stdout=subprocess.DEVNULL,
                                   preexec_fn=(lambda: os.nice(a.nice)) if a.nice else None,
                                   stderr=open(log, "w") if a.log else subprocess.DEVNULL)
            try:
                if not wait_for(lambda: xdotool(env, "search", "--onlyvisible", "--pid", str(app.pid)) != "", 60):
                    sys.exit("play-latency: the program showed no window")
                window = xdotool(env, "search", "--onlyvisible", "--pid", str(app.pid)).split()[0]
                # The window's title stays the program's name: the project has opened once its
                # samples are resident.
                if not wait_for(lambda: resident(app.pid) > os.path.getsize(project) * 0.9, 60):
                    sys.exit("play-latency: the project did not open")
                wait_idle(app.pid)
                xdotool(env, "windowfocus", "--sync", window)
                print("start %d of %s (load %.2f)" % (i // len(programs) + 1, program, os.getloadavg()[0]))
                press("space", "first")
                time.sleep(1.5)
                pause()
                press("space", "later")
                time.sleep(1.5)
                press("Right", "seek", gap=0.005)
                time.sleep(1.5)
                pause()
                press("space", "seekplay")
                time.sleep(0.5)
            finally:
                app.send_signal(signal.SIGTERM)
                try:
                    app.wait(10)
                except subprocess.TimeoutExpired:
                    app.kill()
                    app.wait()

        # A fresh sound server for each start; a start during which it went away is run again.
        i = 0
        while i < a.starts * len(programs):
            program = programs[i % len(programs)]
            log = os.path.join(a.log, "start%d.err" % (i + 1)) if a.log else None
            pulse, monitor = start_pulse()
            times = {}
            try:
                one_start(program, monitor, times)
            finally:
                lost = pulse.poll() is not None
                monitor.close()
                pulse.terminate()
                pulse.wait()
            if lost:
                print("  the sound server ended during this start: run again")
                continue
            for kind, value in times.items():
                results[program][kind].append(value)
            i += 1

        for program, kinds in results.items():
            print("\nSpace -> first sound, %s, %d fresh starts (seconds):" % (program, a.starts))
            for kind, values in kinds.items():
                ok = [v for v in values if v != float("inf")]
                over = sum(1 for v in values if v > 1.0)
                if ok:
                    print("  %-8s median %.3f  min %.3f  max %.3f  over 1.0 s: %d of %d"
                          % (kind, statistics.median(ok), min(ok), max(ok), over, len(values)))
            worst = max(max(v) for v in kinds.values() if v)
            print("  every press within 1.0 s" if worst <= 1.0 else "  slowest press %.3f s" % worst)
        print("load at the end: %.2f %.2f %.2f" % os.getloadavg())
    finally:
        for p in reversed(started):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
