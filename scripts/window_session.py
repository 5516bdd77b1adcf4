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
import os
import subprocess
import sys
import time

from Xlib import display

# The end-to-end test's helpers find, answer and close windows as a user would.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from auto_run_test import close_window, press_return, wait_for_window  # noqa: E402


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
