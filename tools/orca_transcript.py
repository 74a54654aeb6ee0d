#!/usr/bin/env python3
"""What Orca says while the program is used by keyboard.

Run by orca_transcript.sh on a private X display and session bus. Stages
the accessibility walk's home (tests/a11y: feeds from 127.0.0.1, one that
answers nothing), starts Orca with its debug log and the staged program,
presses the keys of a short session with xdotool and prints, for each
step, the lines Orca spoke (its log's "SPEECH OUTPUT" entries). Orca needs
no sound card for this: what it would say is in the log.

Usage: orca_transcript.py STAGE_DIR FIXTURE_DIR
"""

import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "a11y"))
import screen_reader_walk as walk  # noqa: E402

# (what the step is, the keys pressed, seconds to let Orca speak)
SESSION = [
    ("the window comes up", [], 8),
    ("Tab: the feed list", ["Tab"], 3),
    ("Down in the feed list", ["Down"], 2),
    ("Down in the feed list", ["Down"], 2),
    ("Next Unread (N)", ["n"], 4),
    ("next item (J)", ["j"], 2),
    ("next item (J)", ["j"], 2),
    ("previous item (K)", ["k"], 2),
    ("mark it unread (M)", ["m"], 2),
    ("F6: into the page", ["F6"], 2),
    ("next item (J) in the page", ["j"], 2),
    ("Escape back to the feed list", ["Escape"], 2),
    ("Add Feed (Ctrl+N)", ["ctrl+n"], 3),
    ("Tab in Add Feed", ["Tab"], 2),
    ("Tab in Add Feed", ["Tab"], 2),
    ("Tab in Add Feed", ["Tab"], 2),
    ("Escape", ["Escape", "@main"], 2),
    ("Find in Feeds (Ctrl+Shift+F)", ["ctrl+shift+f"], 3),
    ("type otter", ["o", "t", "t", "e", "r"], 3),
    ("Down into the results", ["Down"], 2),
    ("Escape", ["Escape", "@main"], 2),
    ("the File menu (Alt+F)", ["alt+f"], 2),
    ("Down", ["Down"], 2),
    ("Down", ["Down"], 2),
    ("Enter: Options", ["Return"], 4),
    ("Tab in Options", ["Tab"], 2),
    ("Tab in Options", ["Tab"], 2),
    ("Escape", ["Escape", "@main"], 2),
    ("the Help menu (Alt+H)", ["alt+h"], 2),
    ("Down", ["Down"], 2),
    ("Enter", ["Return"], 3),
    ("Tab", ["Tab"], 2),
    ("Escape", ["Escape", "@main"], 2),
]


def session():
    """The steps; ORCA_KEYS="n:4 F6 F6" replaces them for an experiment."""
    keys = os.environ.get("ORCA_KEYS")
    if not keys:
        return SESSION
    steps = []
    for word in keys.split():
        key, _, pause = word.partition(":")
        steps.append((key, [key], float(pause or 2)))
    return [("the window comes up", [], 8)] + steps


def spoken_since(log, offset):
    try:
        with open(log, encoding="utf-8", errors="replace") as text:
            text.seek(offset)
            chunk = text.read()
            end = text.tell()
    except FileNotFoundError:
        return [], offset
    lines = []
    for match in re.finditer(r"SPEECH OUTPUT: '(.*)'", chunk):
        said = match.group(1).strip()
        if said and (not lines or lines[-1] != said):
            lines.append(said)
    return lines, end


def main():
    stage, data = sys.argv[1], sys.argv[2]
    bus = walk.start_accessibility_bus()
    server, home = walk.serve_and_stage(stage, data, "quillet-orca-")
    log = os.path.join(home, "orca.log")

    env = dict(os.environ)
    env.update({"QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1", "QT_QPA_PLATFORM": "xcb",
                "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu", "GTK_MODULES": "gail:atk-bridge"})
    if os.geteuid() == 0:
        env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    subprocess.run(["gsettings", "set", "org.gnome.desktop.a11y.applications", "screen-reader-enabled", "true"],
                   env=env, capture_output=True)
    orca = subprocess.Popen(["orca", "--replace", "--debug-file", log], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(4)
    program = subprocess.Popen(["./quillet", "--home", home], cwd=home, env=env)
    offset = 0
    try:
        walk.wait_for(lambda: subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Quillet"],
                                             capture_output=True).returncode == 0, 60, 0.5)
        window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Quillet"],
                                capture_output=True, text=True).stdout.split()
        if window:
            subprocess.run(["xdotool", "windowactivate", "--sync", window[0]], capture_output=True)
            subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], capture_output=True)
        for what, keys, pause in session():
            for key in keys:
                if key == "@main":
                    # No window manager here gives the main window back its
                    # focus when a dialog closes, as a desktop's does.
                    subprocess.run(["xdotool", "windowactivate", "--sync", window[0]], capture_output=True)
                    subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], capture_output=True)
                else:
                    subprocess.run(["xdotool", "key", "--clearmodifiers", key], capture_output=True)
                time.sleep(0.15)
            time.sleep(pause)
            said, offset = spoken_since(log, offset)
            print("## " + what)
            for line in said:
                print("   " + line)
    finally:
        walk.stop(program)
        orca.terminate()
        try:
            orca.wait(10)
        except subprocess.TimeoutExpired:
            orca.kill()
        server.shutdown()
        bus.terminate()
        if os.environ.get("KEEP_ORCA_LOG"):
            print("Orca's log: " + log)
        else:
            shutil.rmtree(home, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
