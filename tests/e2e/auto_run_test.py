#!/usr/bin/env python3
"""Starts the real qor binary under an X server with an automatic run.

A copy of the binary sits beside a hand-written qro.ini; it is started with
"/D15 /M6 /Y2021 auto" as separate arguments. The test answers the closing
message, closes the window as a user would (WM_DELETE_WINDOW) and checks the
moved files, the run log and the saved settings.

Usage: auto_run_test.py QOR_BINARY   (DISPLAY must name a running X server)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import calendar

from Xlib import X, display, protocol
from Xlib.ext import xtest
from Xlib import XK


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def utc(year, month, day):
    return calendar.timegm((year, month, day, 12, 0, 0))


def write(path, content, when):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(content)
    os.utime(path, (when, when))


def windows_named(d, name):
    found = []

    def walk(w):
        try:
            title = w.get_wm_name()
            children = w.query_tree().children
            shown = title == name and w.get_attributes().map_state == X.IsViewable
        except Exception:  # the window went away meanwhile
            return
        if shown:
            found.append(w)
        for child in children:
            walk(child)

    walk(d.screen().root)
    return found


def wait_for_window(d, name, process, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if process.poll() is not None:
            fail("qor ended early with code %s while waiting for %r" % (process.returncode, name))
        found = windows_named(d, name)
        if found:
            return found[0]
        time.sleep(0.1)
    fail("no window %r appeared" % name)


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
    binary = os.path.abspath(sys.argv[1])
    root = tempfile.mkdtemp(prefix="qor-e2e-")
    try:
        app = os.path.join(root, "app")
        work = os.path.join(root, "work")
        source = os.path.join(root, "in")
        target = os.path.join(root, "out")
        for folder in (app, work, target):
            os.makedirs(folder)
        shutil.copy2(binary, os.path.join(app, "qor"))
        with open(os.path.join(app, "qro.ini"), "wb") as f:
            f.write(("[Servers]\r\nSource=%s\r\nTarget=%s\r\nAddDate=0\r\nRekurse=1\r\n"
                     "DelMov=0\r\nDay=1\r\nMonth=1\r\nYear=2000\r\n" % (source, target)).encode())
        write(os.path.join(source, "top.txt"), b"top", utc(2021, 6, 15))
        write(os.path.join(source, "a", "b", "deep.txt"), b"deep", utc(2021, 6, 15))
        write(os.path.join(source, "a", "stay.txt"), b"stay", utc(2021, 6, 16))

        d = display.Display()
        process = subprocess.Popen([os.path.join(app, "qor"), "/D15", "/M6", "/Y2021", "auto"],
                                   cwd=work)
        try:
            done = wait_for_window(d, "DONE moving", process)
            press_return(d, done)
            main_window = wait_for_window(d, "Sorvane", process)
            time.sleep(0.3)
            close_window(d, main_window)
            code = process.wait(timeout=20)
        finally:
            if process.poll() is None:
                process.kill()
        if code != 0:
            fail("qor ended with code %d" % code)

        checks = [
            (open(os.path.join(target, "top.txt"), "rb").read() == b"top", "top.txt moved"),
            (open(os.path.join(target, "a", "b", "deep.txt"), "rb").read() == b"deep",
             "a/b/deep.txt moved into the same relative folder"),
            (os.path.exists(os.path.join(source, "a", "stay.txt")), "a/stay.txt stayed"),
            (not os.path.exists(os.path.join(source, "top.txt")), "top.txt left the source"),
        ]
        for ok, what in checks:
            if not ok:
                fail(what)

        log = open(os.path.join(work, "FileFind20210615.txt"), "rb").read()
        lines = sorted(log.split(b"\r\n"))
        expected = sorted([b"", ("top.txt      MOVED to   %s/" % target).encode(),
                           ("a/b/deep.txt      MOVED to   %s/" % target).encode()])
        if lines != expected:
            fail("run log holds %r" % log)

        ini = open(os.path.join(app, "qro.ini"), "rb").read().decode()
        keys = [line.split("=", 1) for line in ini.split("\r\n") if "=" in line]
        names = [k for k, _ in keys]
        if names != ["Source", "Target", "AddDate", "Rekurse", "DelMov", "Day", "Month", "Year"]:
            fail("settings keys %r" % names)
        values = dict(keys)
        wanted = {"Source": source + "/", "Target": target + "/", "Rekurse": "1",
                  "Day": "15", "Month": "6", "Year": "2021"}
        for key, value in wanted.items():
            if values[key] != value:
                fail("settings %s=%r, wanted %r" % (key, values[key], value))
        print("PASS: automatic run moved 2 files, wrote the log and saved the settings")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
