#!/usr/bin/env python3
"""Reads what a program shows through the desktop's accessibility bus (AT-SPI over D-Bus), as a
screen reader would: every window of the application named NAME, as a JSON tree of
{"role", "name", "children"} on standard output.

    accessible_tree.py activate          starts the accessibility bus of this session and exits
    accessible_tree.py tree NAME [SECONDS]   waits up to SECONDS (default 20) for NAME, then prints
                                             its tree; exits 1 when it never appears
    accessible_tree.py keys NAME KEY...      presses each KEY with xdotool ("look": none, a second's
                                             wait) and prints a JSON list of {"key", "focus": {"role",
                                             "name"}, "shown": [names on screen]} after each; KEY->TEXT
                                             presses KEY until TEXT has the focus (at most 300 times,
                                             each once the focus has moved, else its focus is null);
                                             KEY=>TEXT presses KEY once and waits until TEXT is
                                             shown (at most 30 s)

Needs the session bus in DBUS_SESSION_BUS_ADDRESS and Python's dbus module (python3-dbus).
"""
import json
import sys
import time

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
PROPERTIES = "org.freedesktop.DBus.Properties"
ROOT = ("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")


def accessibility_bus():
    session = dbus.SessionBus()
    launcher = session.get_object("org.a11y.Bus", "/org/a11y/bus")
    return dbus.bus.BusConnection(str(launcher.GetAddress(dbus_interface="org.a11y.Bus")))


class Reader:
    def __init__(self, bus):
        self.bus = bus

    def _object(self, ref):
        return self.bus.get_object(ref[0], ref[1], introspect=False)

    def name(self, ref):
        return str(self._object(ref).Get(ACCESSIBLE, "Name", dbus_interface=PROPERTIES))

    def role(self, ref):
        return str(self._object(ref).GetRoleName(dbus_interface=ACCESSIBLE))

    def children(self, ref):
        return [(str(bus), str(path)) for bus, path in self._object(ref).GetChildren(dbus_interface=ACCESSIBLE)]

    def tree(self, ref, depth=0):
        node = {"role": self.role(ref), "name": self.name(ref), "children": []}
        if depth < 40:
            node["children"] = [self.tree(child, depth + 1) for child in self.children(ref)]
        return node


FOCUSED, SHOWING = 12, 25  # bits of the AT-SPI state set


def look(reader, ref, depth=0, names=True):
    """The focused object among the shown ones under `ref` (hidden pages left out), and their names
    (without `names`, only the focused one's: a quicker look while tabbing)."""
    try:
        bits = sum(int(w) << (32 * i) for i, w in enumerate(reader._object(ref).GetState(dbus_interface=ACCESSIBLE)))
        if depth > 0 and not bits >> SHOWING & 1:
            return None, []
        focused = bits >> FOCUSED & 1
        name = reader.name(ref) if names or focused else ""
        focus, shown = ({"role": reader.role(ref), "name": name, "at": ref} if focused else None), [name] if name else []
        for child in reader.children(ref) if depth < 40 else []:
            f, names_below = look(reader, child, depth + 1, names)
            focus, shown = focus or f, shown + names_below
        return focus, shown
    except dbus.exceptions.DBusException:
        return None, []  # an object that went while it was read


def keys(reader, wanted, presses):
    import subprocess
    app = next(a for a in reader.children(ROOT) if reader.name(a) == wanted)
    out = []
    for press in presses:
        key, _, target = press.partition("->")
        key, _, awaited = key.partition("=>")
        deadline = time.time() + 30
        if target:
            # Tab until `target` has the focus, each press once the focus has left where it was (or
            # after a second, for a press that moves it nowhere).
            focus = look(reader, app, names=False)[0]
            for _ in range(300):
                subprocess.run(["xdotool", "key", "--clearmodifiers", key], check=True, timeout=30)
                moved = time.time() + 1.0
                before, focus = focus, look(reader, app, names=False)[0]
                while focus and before and focus["at"] == before["at"] and time.time() < moved:
                    time.sleep(0.02)
                    focus = look(reader, app, names=False)[0]
                if focus and focus["name"] == target:
                    break
            else:
                focus = None
            shown = look(reader, app)[1]
        else:
            if key != "look":
                subprocess.run(["xdotool", "key", "--clearmodifiers", key], check=True, timeout=30)
            time.sleep(0.15 if key != "look" else 1.0)
            focus, shown = look(reader, app)
            while awaited and awaited not in shown and time.time() < deadline:
                time.sleep(0.15)
                focus, shown = look(reader, app)
        if focus:
            focus = {"role": focus["role"], "name": focus["name"]}
        out.append({"key": press, "focus": focus, "shown": shown})
    json.dump(out, sys.stdout, ensure_ascii=False)
    return 0


def main():
    if len(sys.argv) >= 2 and sys.argv[1] == "activate":
        accessibility_bus()
        return 0
    if len(sys.argv) >= 4 and sys.argv[1] == "keys":
        return keys(Reader(accessibility_bus()), sys.argv[2], sys.argv[3:])
    if len(sys.argv) < 3 or sys.argv[1] != "tree":
        print(__doc__, file=sys.stderr)
        return 2
    wanted = sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 20.0
    reader = Reader(accessibility_bus())
    deadline = time.time() + seconds
    while True:
        # An application registers before its first window is shown: wait for a window too.
        for app in reader.children(ROOT):
            try:
                if reader.name(app) == wanted and reader.children(app):
                    json.dump(reader.tree(app), sys.stdout, ensure_ascii=False)
                    return 0
            except dbus.exceptions.DBusException:
                pass  # an application that is leaving the bus
        if time.time() > deadline:
            print("no application named %s on the accessibility bus" % wanted, file=sys.stderr)
            return 1
        time.sleep(0.1)


if __name__ == "__main__":
    sys.exit(main())
