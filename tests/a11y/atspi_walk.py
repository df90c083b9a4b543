#!/usr/bin/python3
"""What a screen reader sees of one application, read over AT-SPI; used by tst_atspi.

atspi_walk.py PID tree [--window NAME] [--root ROLE NAME] [--timeout SECONDS]
              [--set-text ROLE NAME TEXT]... [--press ROLE NAME]... [--until-closed]
    Waits until the application with that process id shows a window (the one named NAME,
    or any), prints the window's accessible tree (or that of the object of the role and
    name given with --root) as JSON on one line, then types each TEXT
    into the editable text of that role and name and performs the first action of each
    object of that role and name, in the order given; with --until-closed it then waits
    until the window is gone (a button's action takes effect a moment later).

atspi_walk.py PID listen
    Prints the application's accessibility events as JSON lines, after a line "ready",
    until its standard input is closed.

Exits with 2 and a reason on standard error when the window or an object is not found.
"""

import argparse
import json
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import GLib  # noqa: E402

import pyatspi  # noqa: E402

WINDOW_ROLES = {"frame", "dialog", "alert", "window", "file chooser"}


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def states(node):
    return sorted(pyatspi.stateToString(state) for state in node.getState().getStates())


def node_json(node):
    entry = {
        "role": node.getRoleName(),
        "name": node.name or "",
        "description": node.description or "",
        "states": states(node),
        "actions": [],
        "labelledBy": [],
        "childCount": node.childCount,
    }
    try:
        action = node.queryAction()
        entry["actions"] = [{"name": action.getName(i), "keys": action.getKeyBinding(i)}
                            for i in range(action.nActions)]
    except NotImplementedError:
        pass
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            entry["labelledBy"] += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    entry["children"] = []
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        if child is not None:
            entry["children"].append(node_json(child))
    return entry


def find(node, role, name):
    if node.getRoleName() == role and (node.name or "") == name:
        return node
    for index in range(node.childCount):
        child = node.getChildAtIndex(index)
        found = find(child, role, name) if child is not None else None
        if found is not None:
            return found
    return None


def shown_window(pid, name):
    app = application(pid)
    if app is None:
        return None
    app.clear_cache()
    for index in range(app.childCount):
        try:
            window = app.getChildAtIndex(index)
            if (window is not None and window.getRoleName() in WINDOW_ROLES
                    and pyatspi.STATE_SHOWING in window.getState().getStates()
                    and (name is None or window.name == name)):
                return window
        except GLib.GError:
            # A window that closes while it is asked about is gone from the bus: not shown.
            continue
    return None


def wait_for_window(pid, name, timeout, shown=True):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        window = shown_window(pid, name)
        if (window is not None) == shown:
            return True, window
        time.sleep(0.1)
    return False, None


def fail(reason):
    print(reason, file=sys.stderr)
    sys.exit(2)


def tree(args):
    _, window = wait_for_window(args.pid, args.window, args.timeout)
    if window is None:
        fail("no window %r of process %d" % (args.window, args.pid))
    root = window
    if args.root:
        root = find(window, *args.root)
        if root is None:
            fail("no %s %r in the window" % tuple(args.root))
    print(json.dumps(node_json(root)), flush=True)
    for role, name, text in args.set_text or []:
        node = find(window, role, name)
        if node is None:
            fail("no %s %r to type into" % (role, name))
        editable = node.queryEditableText()
        editable.setTextContents(text)
    for role, name in args.press or []:
        node = find(window, role, name)
        if node is None:
            fail("no %s %r to press" % (role, name))
        node.queryAction().doAction(0)
    if args.until_closed and not wait_for_window(args.pid, window.name, args.timeout, shown=False)[0]:
        fail("the window %r stayed open" % window.name)


def listen(args):
    def event_json(event):
        source = event.source
        entry = {"type": event.type, "role": source.getRoleName(), "name": source.name or "",
                 "detail1": event.detail1}
        if event.type.startswith("object:children-changed") and event.any_data is not None:
            entry["child"] = event.any_data.name or ""
        return entry

    def on_event(event):
        try:
            if event.source.get_process_id() != args.pid:
                return
            print(json.dumps(event_json(event)), flush=True)
        except Exception as error:  # an object that went away while it was read
            print(json.dumps({"type": "unreadable", "error": str(error)}), flush=True)

    def on_input(source, condition):
        if not sys.stdin.readline():
            pyatspi.Registry.stop()
            return False
        return True

    for kind in ("object:property-change:accessible-name", "object:state-changed:showing",
                 "object:children-changed", "window:activate"):
        pyatspi.Registry.registerEventListener(on_event, kind)
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("pid", type=int)
    commands = parser.add_subparsers(dest="command", required=True)
    tree_command = commands.add_parser("tree")
    tree_command.add_argument("--window")
    tree_command.add_argument("--root", nargs=2, metavar=("ROLE", "NAME"))
    tree_command.add_argument("--timeout", type=float, default=20)
    tree_command.add_argument("--set-text", nargs=3, action="append", metavar=("ROLE", "NAME", "TEXT"))
    tree_command.add_argument("--press", nargs=2, action="append", metavar=("ROLE", "NAME"))
    tree_command.add_argument("--until-closed", action="store_true")
    commands.add_parser("listen")
    args = parser.parse_args()
    if args.command == "tree":
        tree(args)
    else:
        listen(args)


if __name__ == "__main__":
    main()
