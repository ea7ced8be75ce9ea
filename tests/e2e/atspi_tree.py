"""The real window as a screen reader finds it on the accessibility bus: every control that
shows and takes the focus has a name and a role, and the main panes are there by name.
Usage: atspi_tree.py APPLICATION NAME... (the names that must be found)."""
import sys
import time

import pyatspi


def walk(node, found, depth=0):
    try:
        states = node.getState()
        found.append((node.getRoleName(), node.name or "", states.contains(pyatspi.STATE_FOCUSABLE),
                      states.contains(pyatspi.STATE_SHOWING)))
        children = [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:  # a node that went while it was read
        return
    if depth < 30:
        for child in children:
            if child is not None:
                walk(child, found, depth + 1)


def main():
    application, wanted = sys.argv[1], sys.argv[2:]
    desktop = pyatspi.Registry.getDesktop(0)
    app = None
    for _ in range(100):
        apps = [desktop.getChildAtIndex(i) for i in range(desktop.childCount)]
        app = next((a for a in apps if a is not None and a.name == application), None)
        if app is not None:
            break
        time.sleep(0.1)
    if app is None:
        print(f"FAIL: {application} is not on the accessibility bus")
        return 1
    found = []
    walk(app, found)
    nameless = [role for role, name, focusable, showing in found if focusable and showing and not name.strip()]
    roleless = [name for role, name, focusable, showing in found if focusable and showing and role in ("", "unknown")]
    names = {name for _, name, _, showing in found if showing}
    missing = [name for name in wanted if name not in names]
    for what, items in (("controls without a name", nameless), ("controls without a role", roleless),
                        ("names not found", missing)):
        if items:
            print(f"FAIL: {what}: {items}")
            return 1
    print(f"ok: {sum(1 for f in found if f[2] and f[3])} controls, each with a name and a role")
    return 0


sys.exit(main())
