"""What a screen reader sees of a running program, as "role:name" lines.
  atspi_names.py PROGRAM           every node of the program's windows; a node
                                   with a description adds "description:TEXT",
                                   a table "rows:N" and "selected:ROW,..."
  atspi_names.py PROGRAM SECONDS   each node that takes the focus meanwhile
  atspi_names.py PROGRAM --centre ROLE:NAME
                                   "X Y", the screen point at the middle of
                                   the first such node, to click it
(popup menus are not children of any window: they are seen through focus)"""
import sys
import time

import pyatspi
from gi.repository import GLib


def describe(node):
    return f"{node.getRoleName()}:{node.name}"


def walk(node, depth, out):
    try:
        out.append(describe(node))
        if node.description:
            out.append(f"description:{node.description}")
        if node.getRoleName() == "table":
            table = node.queryTable()
            out.append(f"rows:{table.nRows}")
            out.append("selected:" + ",".join(map(str, table.getSelectedRows())))
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:  # a node that went away while being read
        return
    for child in children:
        if child is not None and depth < 20:
            walk(child, depth + 1, out)


def find(program):
    # The registry starts lazily and the program registers a moment after its
    # window shows: retry for a while.
    for _ in range(50):
        try:
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                app = desktop.getChildAtIndex(i)
                if app is not None and app.name == program:
                    return app
        except Exception:
            pass
        time.sleep(0.2)
    sys.exit(f"no application named {program} on the accessibility bus")


def centre(node, wanted, depth=0):
    try:
        if describe(node) == wanted:
            box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            return f"{box.x + box.width // 2} {box.y + box.height // 2}"
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:
        return None
    for child in children:
        if child is not None and depth < 20:
            found = centre(child, wanted, depth + 1)
            if found:
                return found
    return None


def main():
    app = find(sys.argv[1])
    if len(sys.argv) == 4 and sys.argv[2] == "--centre":
        point = centre(app, sys.argv[3])
        if not point:
            sys.exit(f"no {sys.argv[3]}")
        print(point)
        return
    if len(sys.argv) < 3:
        lines = []
        walk(app, 0, lines)
        print("\n".join(lines), flush=True)
        return

    def focused(event):
        try:
            if event.detail1 and event.host_application.name == sys.argv[1]:
                print(describe(event.source), flush=True)
        except Exception:  # gone before it could be read
            pass

    pyatspi.Registry.registerEventListener(focused, "object:state-changed:focused")
    GLib.timeout_add(int(float(sys.argv[2]) * 1000), pyatspi.Registry.stop)
    print("listening", flush=True)
    pyatspi.Registry.start()


main()
