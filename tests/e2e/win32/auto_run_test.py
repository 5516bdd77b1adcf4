#!/usr/bin/env python3
"""Starts qor.exe under wine and an X server with an automatic run.

A copy of qor.exe sits beside a hand-written qro.ini in a folder on drive C:;
it is started with "/D15 /M6 /Y2021 auto" on a source tree on C: and a target
folder on Q:, a drive on another file system. The test answers the closing
message by key, closes the window as a window manager would (WM_DELETE_WINDOW)
and checks the moved files, the run log's bytes and the saved settings.

Usage: auto_run_test.py QOR_EXE   (DISPLAY names a running X server, WINEPREFIX
a prepared prefix whose drive Q: is mapped)
"""

import calendar
import os
import shutil
import subprocess
import sys
import time

from Xlib import X, display, protocol


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


def read(path):
    with open(path, "rb") as f:
        return f.read()


def windows_named(d, name):
    found = []

    def walk(w):
        try:
            title = w.get_wm_name()
            children = w.query_tree().children
            viewable = w.get_attributes().map_state == X.IsViewable
        except Exception:  # the window went away meanwhile
            return
        if title == name and viewable:
            found.append(w)
        for child in children:
            walk(child)

    walk(d.screen().root)
    return found


def wait_for_window(d, name, process, timeout=30):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if process.poll() is not None:
            fail("qor.exe ended early with code %s while waiting for %r" % (process.returncode, name))
        found = windows_named(d, name)
        if found:
            return found[0]
        time.sleep(0.1)
    fail("no window %r appeared" % name)


def close_window(d, window):
    protocols = d.intern_atom("WM_PROTOCOLS")
    delete = d.intern_atom("WM_DELETE_WINDOW")
    event = protocol.event.ClientMessage(
        window=window, client_type=protocols, data=(32, [delete, X.CurrentTime, 0, 0, 0]))
    window.send_event(event)
    d.sync()


def settings_text(raw):
    # Written in UTF-16 with a byte-order mark when a value needs more than
    # the ANSI code page, else as plain text.
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le")
    return raw.decode("latin-1")


def main():
    exe = os.path.abspath(sys.argv[1])
    prefix = os.environ["WINEPREFIX"]
    c_root = os.path.join(prefix, "drive_c", "qor-e2e")
    q_drive = os.path.realpath(os.path.join(prefix, "dosdevices", "q:"))
    q_target = os.path.join(q_drive, "qor-e2e-out")
    for folder in (c_root, q_target):
        shutil.rmtree(folder, ignore_errors=True)
    try:
        app = os.path.join(c_root, "app")
        work = os.path.join(c_root, "work")
        source = os.path.join(c_root, "in")
        for folder in (app, work, q_target):
            os.makedirs(folder)
        shutil.copy2(exe, os.path.join(app, "qor.exe"))
        with open(os.path.join(app, "qro.ini"), "wb") as f:
            f.write(b"[Servers]\r\nSource=C:\\qor-e2e\\in\r\nTarget=Q:\\qor-e2e-out\r\n"
                    b"AddDate=0\r\nRekurse=1\r\nDelMov=0\r\nDay=1\r\nMonth=1\r\nYear=2000\r\n")
        write(os.path.join(source, "top.txt"), b"top", utc(2021, 6, 15))
        write(os.path.join(source, "a", "b", "deep.txt"), b"deep" * 1000, utc(2021, 6, 15))
        write(os.path.join(source, "a", "stay.txt"), b"stay", utc(2021, 6, 16))

        d = display.Display()
        process = subprocess.Popen(
            ["wine", "C:\\qor-e2e\\app\\qor.exe", "/D15", "/M6", "/Y2021", "auto"], cwd=work,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_for_window(d, "DONE moving", process)
            # The box has the focus of its own; Return presses its OK.
            subprocess.run(["xdotool", "search", "--name", "^DONE moving$", "windowfocus", "--sync",
                            "key", "Return"], check=False, timeout=10)
            main_window = wait_for_window(d, "Sorvane", process)
            time.sleep(0.3)
            close_window(d, main_window)
            code = process.wait(timeout=20)
        finally:
            if process.poll() is None:
                process.kill()
        if code != 0:
            fail("qor.exe ended with code %d" % code)

        checks = [
            (read(os.path.join(q_target, "top.txt")) == b"top", "top.txt moved to Q:"),
            (read(os.path.join(q_target, "a", "b", "deep.txt")) == b"deep" * 1000,
             "a\\b\\deep.txt moved into the same relative folder on Q:"),
            (os.path.exists(os.path.join(source, "a", "stay.txt")), "a\\stay.txt stayed"),
            (not os.path.exists(os.path.join(source, "top.txt")), "top.txt left the source"),
            (not os.path.exists(os.path.join(source, "a", "b", "deep.txt")),
             "deep.txt left the source"),
        ]
        for ok, what in checks:
            if not ok:
                fail(what)

        log = read(os.path.join(work, "FileFind20210615.txt"))
        lines = [b"top.txt      MOVED to   Q:\\qor-e2e-out\\\r\n",
                 b"a\\b\\deep.txt      MOVED to   Q:\\qor-e2e-out\\\r\n"]
        # The walk's order among the entries of a folder is the file system's.
        if log not in (lines[0] + lines[1], lines[1] + lines[0]):
            fail("run log holds %r" % log)

        ini = settings_text(read(os.path.join(app, "qro.ini")))
        keys = [line.split("=", 1) for line in ini.split("\r\n") if "=" in line]
        names = [k for k, _ in keys]
        if names != ["Source", "Target", "AddDate", "Rekurse", "DelMov", "Day", "Month", "Year"]:
            fail("settings keys %r" % names)
        values = dict(keys)
        wanted = {"Source": "C:\\qor-e2e\\in\\", "Target": "Q:\\qor-e2e-out\\", "AddDate": "0",
                  "Rekurse": "1", "DelMov": "0", "Day": "15", "Month": "6", "Year": "2021"}
        for key, value in wanted.items():
            if values.get(key) != value:
                fail("settings %s=%r, wanted %r" % (key, values.get(key), value))
        print("PASS: qor.exe moved 2 files from C: to Q:, wrote the log and saved the settings")
    finally:
        for folder in (c_root, q_target):
            shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
