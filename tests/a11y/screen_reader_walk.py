#!/usr/bin/env python3
"""What a screen reader finds in the real program.

Run by screen_reader_walk.sh on a private X display and session bus: starts
the accessibility bus, stages a home (as tests/support/StagedHome.cpp does)
with feeds served from 127.0.0.1 and one that answers nothing, starts the
staged quillet there and walks its accessible tree over AT-SPI, as Orca
does. Prints the main window's tree (role: name) and fails on:
  - a focusable object without a name;
  - feed rows that do not say their state in words (unread, failing,
    folder, Starred);
  - a feed page whose items' headings are not in the pane's text, with
    their state;
  - a dialog field without its label's name (Add Feed, opened by a second
    start with an address, as the desktop opens it);
  - a failure that was not announced.
Exits 77 (skipped) where the accessibility bus cannot be had.
"""

import functools
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77


def skip(why):
    print("SKIP: " + why)
    sys.exit(SKIP)


def wait_for(probe, seconds, step=0.25):
    deadline = time.monotonic() + seconds
    while True:
        found = probe()
        if found or time.monotonic() > deadline:
            return found
        time.sleep(step)


def start_accessibility_bus():
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def bus_up():
        answer = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                                 "org.a11y.Bus.GetAddress"], capture_output=True, text=True)
        return answer.returncode == 0 and "unix:" in answer.stdout

    if not wait_for(bus_up, 15):
        launcher.kill()
        skip("the accessibility bus (at-spi-bus-launcher) did not start")
    return launcher


def stage_home(stage, home, config):
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(os.path.join(home, "feeds"))
    os.chmod(home, 0o755)
    shutil.copytree(os.path.join(stage, "languages"), os.path.join(home, "languages"))
    for name in ("rss.xsl", "config.default.xml", "quillet", "quillet-pane"):
        if os.path.exists(os.path.join(stage, name)):
            shutil.copy2(os.path.join(stage, name), os.path.join(home, name))
    if os.path.isdir(os.path.join(stage, "help")):
        shutil.copytree(os.path.join(stage, "help"), os.path.join(home, "help"))
    with open(os.path.join(home, "config.xml"), "w", encoding="utf-8") as out:
        out.write(config)


def serve_and_stage(stage, data, prefix):
    """The fixture's feeds served, and a home staged with its config.xml
    naming that server (and a port where nothing answers)."""
    server = serve(data)
    with open(os.path.join(data, "config.xml"), encoding="utf-8") as template:
        config = template.read().replace("@PORT@", str(server.server_address[1]))
    config = config.replace("@DEAD_PORT@", str(closed_port()))
    home = tempfile.mkdtemp(prefix=prefix)
    stage_home(stage, home, config)
    return server, home


def stop(program):
    program.send_signal(signal.SIGTERM)
    try:
        program.wait(20)
    except subprocess.TimeoutExpired:
        program.kill()
        program.wait()


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(directory):
    handler = functools.partial(QuietHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def closed_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


# ---------------------------------------------------------------------------
# The accessible tree

def children(node):
    try:
        count = node.childCount
    except Exception:
        return []
    found = []
    for index in range(min(count, 500)):
        try:
            child = node.getChildAtIndex(index)
        except Exception:
            child = None
        if child is not None:
            found.append(child)
    return found


def walk(node, depth=0):
    """(depth, node, role, name, states) for `node` and everything under it."""
    try:
        role, name, states = node.getRoleName(), node.name or "", node.getState()
    except Exception:
        return
    yield depth, node, role, name, states
    if depth < 40:
        for child in children(node):
            yield from walk(child, depth + 1)


def find_app(pyatspi, pid):
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def windows(app, role):
    return [child for child in children(app) if child.getRoleName() == role]


def names(root, role=None):
    return [name for _, _, r, name, _ in walk(root) if role is None or r == role]


def unnamed_focusable(pyatspi, root):
    offenders = []
    for _, node, role, name, states in walk(root):
        if states.contains(pyatspi.STATE_FOCUSABLE) and states.contains(pyatspi.STATE_SHOWING) and not name.strip():
            offenders.append(role)
    return offenders


def print_tree(root, pyatspi, title):
    print("---- " + title + " (role: name), as a screen reader finds it ----")
    for depth, _, role, name, states in walk(root):
        if not states.contains(pyatspi.STATE_SHOWING) and depth > 1:
            continue
        marks = [mark for mark, state in (("focusable", pyatspi.STATE_FOCUSABLE), ("focused", pyatspi.STATE_FOCUSED))
                 if states.contains(state)]
        print("  " * depth + role + ": " + name + (" [" + ", ".join(marks) + "]" if marks else ""))
    print("---- end of " + title + " ----")


def main():
    stage, data = sys.argv[1], sys.argv[2]
    bus = start_accessibility_bus()
    try:
        import pyatspi
    except ImportError:
        bus.kill()
        skip("python3-pyatspi is not installed")

    server, home = serve_and_stage(stage, data, "quillet-a11y-")

    env = dict(os.environ)
    env.update({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1", "QT_QPA_PLATFORM": "xcb",
                "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu"})
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    program = subprocess.Popen(["./quillet", "--home", home], cwd=home, env=env)
    failures = []

    def check(ok, what):
        print(("ok   " if ok else "FAIL ") + what)
        if not ok:
            failures.append(what)

    try:
        app = wait_for(lambda: find_app(pyatspi, program.pid) or program.poll() is not None, 60, 0.5)
        if app is None or app is True:
            check(False, "the program shows up on the accessibility bus (exit status %s)" % program.poll())
            return 1
        frame = wait_for(lambda: (windows(app, "frame") or [None])[0], 30)
        check(frame is not None, "the main window is on the bus")
        if frame is None:
            return 1

        # The first pass fetches every feed; the dead one fails.
        rows = {}

        def rows_settled():
            rows.clear()
            for _, _, role, name, _ in walk(frame):
                if role in ("table cell", "tree item", "list item"):
                    rows[name.split(",")[0]] = name
            return ("unread" in rows.get("Field Notes", "") and "failing" in rows.get("Dead Letters", "") and
                    "3 unread" in rows.get("News", ""))

        wait_for(rows_settled, 60, 0.5)
        check(re.fullmatch(r"Field Notes, 4 unread", rows.get("Field Notes", "")) is not None,
              "a feed row says its unread count in words: " + rows.get("Field Notes", "(none)"))
        check(re.fullmatch(r"Dead Letters, failing: .+", rows.get("Dead Letters", "")) is not None,
              "the failing feed's row says so and why: " + rows.get("Dead Letters", "(none)"))
        check(re.fullmatch(r"News, folder, 2 feeds, 3 unread", rows.get("News", "")) is not None,
              "a folder's row says what it is and holds: " + rows.get("News", "(none)"))
        check(re.fullmatch(r"Starred, 0 items", rows.get("Starred", "")) is not None,
              "the Starred row says its count: " + rows.get("Starred", "(none)"))

        spoken = [name for _, _, role, name, _ in walk(frame) if role == "notification"]
        check(any("Dead Letters" in name for name in spoken),
              "the failure was announced (notification: " + " | ".join(spoken) + ")")

        # Next Unread, pressed through the bus, shows Field Notes in the pane.
        button = next((node for _, node, role, name, _ in walk(frame)
                       if role in ("push button", "toggle button") and name.startswith("Next Unread")), None)
        check(button is not None, "the toolbar's Next Unread button is named")
        pane_text = ""
        if button is not None:
            actions = button.queryAction()
            for index in range(actions.nActions):
                if actions.getName(index) in ("Press", "press", "click"):
                    actions.doAction(index)
                    break

            def page_shown():
                for _, node, role, name, _ in walk(frame):
                    if name == "Feed page":
                        try:
                            text = node.queryText()
                            shown = text.getText(0, text.characterCount)
                        except NotImplementedError:
                            return None
                        return shown if "Otter tracks" in shown else None
                return None

            pane_text = wait_for(page_shown, 30, 0.5) or ""
        check(bool(pane_text), "the reading pane is named and its text is readable")
        print("---- the reading pane's text, as read ----")
        print("\n".join(line for line in pane_text.splitlines()[:24] if line.strip()))
        print("---- end of the reading pane's text ----")
        for title, state in (("Swifts are back", "new"), ("Frost on the reeds", "new"), ("Otter tracks", "new, alert"),
                             ("Heron at dusk", "new")):
            check(re.search(re.escape(title) + r"\s+" + state + r"(?!,)", pane_text) is not None,
                  "the item heading '" + title + "' says: " + state)

        print_tree(frame, pyatspi, "main window")
        offenders = unnamed_focusable(pyatspi, frame)
        check(not offenders, "every focusable object of the main window has a name" +
              ("" if not offenders else " (unnamed: " + ", ".join(offenders) + ")"))

        # A second start with an address: the running program opens Add Feed.
        subprocess.run(["./quillet", "--home", home, "http://127.0.0.1:%d/weekly.xml" % server.server_address[1]],
                       cwd=home, env=env, timeout=60)
        dialog = wait_for(lambda: next((w for w in windows(app, "dialog") if w.name == "Add Feed"), None), 30, 0.5)
        check(dialog is not None, "Add Feed opens for an address handed over")
        if dialog is not None:
            print_tree(dialog, pyatspi, "Add Feed")
            fields = names(dialog, "text")
            check("Feed URL:" in fields, "the address field is named by its label (" + ", ".join(fields) + ")")
            offenders = unnamed_focusable(pyatspi, dialog)
            check(not offenders, "every focusable object of Add Feed has a name" +
                  ("" if not offenders else " (unnamed: " + ", ".join(offenders) + ")"))
    finally:
        stop(program)
        server.shutdown()
        bus.terminate()
        shutil.rmtree(home, ignore_errors=True)
    print("%d check(s) failed" % len(failures) if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
