#!/usr/bin/python3
"""Converts a folder of real cards through the real window, as a user would.

Usage: qt_window_e2e.py PELLAMAR CARDS_DIR

It checks what a screen reader meets (a dialog, named buttons, the credit
link with its action, no decorative picture), types the folder's path into
the source field and presses Enter with xdotool, hears the count announced
and reads the progress caption and the message box through the accessibility
bus, dismisses the box, and checks every .mem file byte for byte. Run it
under tests/e2e/with-xvfb.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

CAPTION = "Pellamar [Batch Conversion]"
DESCRIPTION = "This tool converts memory cards from Bleem! to VGS format in batch mode."
HEADER = b"VgsM" + bytes([1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 2]) + bytes(46)


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def wait_for(what, probe, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        found = probe()
        if found:
            return found
        time.sleep(0.1)
        while GLib.MainContext.default().iteration(False):  # events a screen reader hears
            pass
    fail("timed out waiting for " + what)


def walk(node, depth=0):
    if node is None or depth > 12:
        return
    yield node
    for i in range(node.childCount):
        yield from walk(node.getChildAtIndex(i), depth + 1)


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def find(app, role, name=None):
    """The first node below app of that role (any role if None) and name."""
    for node in walk(app):
        if role in (None, node.getRole()) and name in (None, node.name):
            return node
    return None


def texts(node):
    """The names of the labels below node: the captions a screen reader reads."""
    return [n.name for n in walk(node) if n.getRole() == pyatspi.ROLE_LABEL and n.name]


def xdotool(*args):
    return subprocess.run(["xdotool", *args], check=True, capture_output=True,
                          text=True).stdout.strip()


def main(pellamar, cards_dir):
    folder = tempfile.mkdtemp(prefix="pellamar-e2e-")
    cards = sorted(n for n in os.listdir(cards_dir) if n.endswith(".mcd"))
    for name in cards:
        shutil.copy(os.path.join(cards_dir, name), folder)

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    program = subprocess.Popen([pellamar], env=env)
    try:
        window = wait_for("the window", lambda: xdotool(
            "search", "--sync", "--onlyvisible", "--name", r"^Pellamar \[Batch Conversion\]$"))
        window = window.splitlines()[0]
        app = wait_for("the application on the accessibility bus",
                       lambda: application(program.pid))
        frame = wait_for("the window", lambda: find(app, None, CAPTION))
        if frame.getRole() != pyatspi.ROLE_DIALOG:
            fail(f"the window is announced as {frame.getRoleName()!r}, not as a dialog")
        captions = texts(frame)
        for caption in ("Bleem Memory Cards Directory:", DESCRIPTION):
            if caption not in captions:
                fail(f"label {caption!r} not exposed; labels: {captions}")
        for button in ("Convert", "Select a memory card"):
            if not find(frame, pyatspi.ROLE_PUSH_BUTTON, button):
                fail(f"button {button!r} not exposed")
        link = find(frame, pyatspi.ROLE_LINK, "Created By Orrinwald")
        if link is None:
            fail("the credit line is not exposed as a link")
        actions = link.queryAction()
        if "press" not in [actions.getName(i).lower() for i in range(actions.nActions)]:
            fail("the credit link has no press action")
        pictures = [n for n in walk(frame) if n.getRole() == pyatspi.ROLE_IMAGE
                    and n.getState().contains(pyatspi.STATE_SHOWING)]
        if pictures:
            fail("the decorative picture is shown to screen readers")

        announced = []
        pyatspi.Registry.registerEventListener(
            lambda event: announced.append(event.source.name),
            "object:property-change:accessible-name")

        # Focus starts on "Convert"; Tab goes to "..." and then the field.
        xdotool("windowfocus", "--sync", window)
        xdotool("key", "--clearmodifiers", "Tab", "Tab")
        xdotool("type", "--delay", "5", folder + "/")
        xdotool("key", "--clearmodifiers", "Return")

        box = wait_for("the message box", lambda: find(app, pyatspi.ROLE_ALERT)
                       or find(app, pyatspi.ROLE_DIALOG, CAPTION))
        expected = f"{len(cards)} Files Processed"
        if box.name != CAPTION:
            fail(f"message box title {box.name!r}")
        if expected not in texts(box):
            fail(f"message box says {texts(box)}, not {expected!r}")
        progress = f"{len(cards)} Processed."
        if progress not in texts(frame):
            fail(f"progress caption {progress!r} not shown; labels: {texts(frame)}")
        wait_for(f"{progress!r} announced", lambda: progress in announced, 5)

        ok = find(box, pyatspi.ROLE_PUSH_BUTTON, "OK")
        if ok is None:
            fail("no OK button in the message box")
        ok.queryAction().doAction(0)
        wait_for("the description to return", lambda: DESCRIPTION in texts(frame))

        for name in cards:
            with open(os.path.join(folder, name), "rb") as f:
                card = f.read()
            target = os.path.join(folder, name[:-3] + "mem")
            with open(target, "rb") as f:
                if f.read() != HEADER + card:
                    fail(f"{target} is not the header followed by {name}")

        print(f"converted {len(cards)} cards through the window; "
              f"box said {expected!r}; progress showed {progress!r}")
    finally:
        program.kill()
        program.wait()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
