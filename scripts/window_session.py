#!/usr/bin/env python3
"""Runs qor through one session in an X server, as a user would.

Starts the program, answers the closing message of an automatic run with
Return when asked to, waits for the main window "Sorvane", saves a picture of
it when asked to, and closes it with the close box (WM_DELETE_WINDOW).
Exits with the program's exit status.

Usage: window_session.py [--answer-done] [--screenshot PNG] -- PROGRAM [ARG...]
(DISPLAY must name a running X server; ImageMagick's import takes the picture)
"""

import argparse
import subprocess
import sys
import time

from Xlib import X, XK, display, protocol
from Xlib.ext import xtest


def windows_named(d, name):
    found = []

    def walk(w):
        try:
            title = w.get_wm_name()
            children = w.query_tree().children
        except Exception:  # the window went away meanwhile
            return
        if title == name and w.get_attributes().map_state == X.IsViewable:
            found.append(w)
        for child in children:
            walk(child)

    walk(d.screen().root)
    return found


def wait_for_window(d, name, process, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if process.poll() is not None:
            sys.exit("qor ended with %s while waiting for %r" % (process.returncode, name))
        found = windows_named(d, name)
        if found:
            return found[0]
        time.sleep(0.1)
    sys.exit("no window %r appeared" % name)


def press_return(d, window):
    window.set_input_focus(X.RevertToParent, X.CurrentTime)
    d.sync()
    time.sleep(0.2)
    keycode = d.keysym_to_keycode(XK.string_to_keysym("Return"))
    xtest.fake_input(d, X.KeyPress, keycode)
    xtest.fake_input(d, X.KeyRelease, keycode)
    d.sync()


def close_window(d, window):
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event)
    d.sync()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--answer-done", action="store_true",
                        help="press Return on the closing message of an automatic run")
    parser.add_argument("--screenshot", help="save the main window as this PNG file")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()

    d = display.Display()
    process = subprocess.Popen(args.command)
    try:
        if args.answer_done:
            press_return(d, wait_for_window(d, "DONE moving", process))
        window = wait_for_window(d, "Sorvane", process)
        time.sleep(0.5)  # the first paint
        if args.screenshot:
            subprocess.run(["import", "-window", str(window.id), args.screenshot], check=True)
        close_window(d, window)
        return process.wait(timeout=20)
    finally:
        if process.poll() is None:
            process.kill()


if __name__ == "__main__":
    sys.exit(main())
