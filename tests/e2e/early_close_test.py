#!/usr/bin/env python3
"""A close request that comes the moment the window appears ends the program.

The real qor binary is started without a run, once for each moment: as soon
as its window exists but before it is mapped, and as soon as it is mapped.
Exactly one WM_DELETE_WINDOW is sent; the program must end, having written
its settings, without a second request.

Usage: early_close_test.py QOR_BINARY   (DISPLAY must name a running X server)
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

from Xlib import X, display, protocol


def close_at(binary, moment):
    root = tempfile.mkdtemp(prefix="qor-e2e-")
    try:
        app = os.path.join(root, "app")
        os.makedirs(app)
        shutil.copy2(binary, os.path.join(app, "qor"))
        ini = os.path.join(app, "qro.ini")
        with open(ini, "wb") as f:
            f.write(b"[Servers]\r\nDay=3\r\n")
        d = display.Display()
        d.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        d.sync()
        process = subprocess.Popen([os.path.join(app, "qor")], cwd=root)
        wanted = X.CreateNotify if moment == "created" else X.MapNotify
        deadline = time.time() + 30
        window = None
        while window is None:
            if time.time() > deadline or process.poll() is not None:
                process.kill()
                return "no window appeared"
            if d.pending_events() == 0:
                time.sleep(0.001)
                continue
            event = d.next_event()
            if event.type != wanted:
                continue
            # The caption is set just after the window is made.
            for _ in range(500):
                try:
                    if event.window.get_wm_name() == "Sorvane":
                        window = event.window
                        break
                except Exception:  # not ours, or gone
                    break
                time.sleep(0.001)
        window.send_event(protocol.event.ClientMessage(
            window=window, client_type=d.intern_atom("WM_PROTOCOLS"),
            data=(32, [d.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
        d.sync()
        try:
            code = process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            return "the window stayed open"
        if code != 0:
            return "ended with code %d" % code
        if b"Source=" not in open(ini, "rb").read():
            return "the settings were not written"
        return None
    finally:
        shutil.rmtree(root, ignore_errors=True)


def main():
    binary = os.path.abspath(sys.argv[1])
    for moment in ("created", "mapped"):
        problem = close_at(binary, moment)
        if problem:
            print("FAIL: close request when the window was %s: %s" % (moment, problem))
            sys.exit(1)
    print("PASS: a close request at the window's first appearance ends the program")


if __name__ == "__main__":
    main()
