#!/usr/bin/env python3
"""Fails when a layer includes what it must not.

- No Qt header below store/ (model/, processing/, transport/).
- No Qt Widgets or Gui header in store/ (QtCore only).
- A layer includes only its own headers and those of the layers above it; timeline/ and panels/
  never include each other.
- Developer tools (tools/, e.g. the screenshot renderer) stay beside the program: no layer includes
  them, and no layer's CMakeLists.txt builds or links them, so the program never carries them.
"""
import os
import re
import sys

LAYERS = ["model", "processing", "transport", "store", "widgets", "timeline", "panels", "app"]
# The two view layers build only on widgets/ and store/ (and what lies beneath) and never include
# each other; app/ sits on top of everything and hosts them.
SIBLING_VIEWS = {"timeline", "panels"}
NO_QT = {"model", "processing", "transport"}
TOOLS = "tools"
INCLUDE = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', re.M)


def widget_headers(module="QtWidgets"):
    names = set()
    for base in (f"/usr/include/x86_64-linux-gnu/qt6/{module}", f"/usr/include/qt6/{module}"):
        if os.path.isdir(base):
            names.update(n for n in os.listdir(base) if not n.endswith(".h") or n.startswith("q"))
    return names


def main(root):
    widgets = widget_headers()
    gui = widget_headers("QtGui")
    problems = []
    for layer in LAYERS:
        folder = os.path.join(root, layer)
        if not os.path.isdir(folder):
            continue
        allowed = set(LAYERS[: LAYERS.index(layer) + 1])
        if layer in SIBLING_VIEWS:
            allowed -= SIBLING_VIEWS - {layer}
        for dirpath, _, files in os.walk(folder):
            for name in files:
                if not name.endswith((".h", ".hpp", ".cpp", ".cc")):
                    continue
                path = os.path.join(dirpath, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    text = f.read()
                for inc in INCLUDE.findall(text):
                    rel = os.path.relpath(path, root)
                    top = inc.split("/")[0]
                    if layer in NO_QT and (inc.startswith("Q") or top.startswith("Qt")):
                        problems.append(f"{rel}: Qt header <{inc}> below store/")
                    if layer == "store" and (top == "QtWidgets" or inc in widgets):
                        problems.append(f"{rel}: Qt Widgets header <{inc}> in store/")
                    elif layer == "store" and (top == "QtGui" or inc in gui):
                        problems.append(f"{rel}: Qt Gui header <{inc}> in store/")
                    if top in LAYERS and top not in allowed:
                        problems.append(f"{rel}: {layer}/ includes {inc} from a layer below it")
                    if top == TOOLS:
                        problems.append(f"{rel}: {layer}/ includes the developer tool header {inc}")
            if "CMakeLists.txt" in files:
                path = os.path.join(dirpath, "CMakeLists.txt")
                with open(path, encoding="utf-8", errors="replace") as f:
                    cmake = f.read()
                if re.search(r"\btools/|tessoral-shot|Shot", cmake):
                    problems.append(f"{os.path.relpath(path, root)}: a layer builds or links a developer tool")
    for p in problems:
        print(p)
    if problems:
        return 1
    print("layer includes: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.getcwd()))
