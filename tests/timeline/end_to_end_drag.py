#!/usr/bin/env python3
"""The real program under Xvfb (no window manager): an Alt + drag with X input moves a clip.

`tessoral tone.wav` imports one clip onto the first row of the multitrack page; Alt is held
down, the clip is pressed 20 points in from its start and dragged 120 points right, and the
status log reports "Клип сдвинут на …". Exits 77 (skipped) when Xvfb or xdotool is missing.
"""
import importlib.util
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
shared = importlib.util.spec_from_file_location("end_to_end", os.path.join(HERE, "..", "app", "end_to_end.py"))
e2e = importlib.util.module_from_spec(shared)
shared.loader.exec_module(e2e)

# The window's rows above the multitrack page (header 73 + hairline, editor tools 72) and the
# page's own rulers (52); the browser column (184 + hairline) and the header column (194) on the left.
LANES_TOP = 74 + 72 + 52
LANES_LEFT = 185 + 194


def main():
    program, code = e2e.script_arguments("end_to_end_drag.py")
    if not program:
        return code
    run = e2e.Run(program)
    try:
        run.start_display()
        tone = os.path.join(run.scratch, "tone.wav")
        e2e.write_tone(tone)
        program, log = run.launch(tone)
        window = e2e.wait_for(lambda: run.xdotool("search", "--onlyvisible", "--name", "^Tessoral$", check=False).split(),
                              "the window named Tessoral")[0]
        e2e.wait_for(lambda: "Добавлено дорожек: 1" in e2e.text(log), "the import of tone.wav")
        time.sleep(0.5)
        x, y = LANES_LEFT + 20, LANES_TOP + 70
        e2e.drag(run, window, x, y, x + 120, y, modifier="alt")
        e2e.wait_for(lambda: "Клип сдвинут на" in e2e.text(log), "the clip move")
        program.terminate()
        program.wait(timeout=30)
        print("alt drag: ok")
        return 0
    except Exception as e:
        print("FAILED:", e)
        for i, log in enumerate(run.logs):
            print("---- log %d ----" % i)
            print(e2e.text(log)[-3000:])
        return 1
    finally:
        run.close()


if __name__ == "__main__":
    sys.exit(main())
