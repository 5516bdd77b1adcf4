#!/usr/bin/env python3
"""Without a display, qor answers --help and --version and refuses the rest.

The real binary runs with no display in its environment, in a folder of its
own: --help and --version print to stdout and end with 0 before the toolkit
starts; every other command line (also --help among other words, which the
window would read) ends with 1 and one line on stderr that points to qor-cli.
A display that is named but cannot be reached ends the same way. Nothing is
written beside the program or in the current folder.

Usage: no_display_test.py QOR_BINARY VERSION
"""

import os
import shutil
import subprocess
import sys
import tempfile

CASES = [
    # arguments, extra environment, exit status, what stdout holds
    (["--help"], {}, 0, "qor-cli"),
    (["--version"], {}, 0, "Copyright (c) 2026 the qor authors"),
    ([], {}, 1, None),
    (["/D15", "/M6", "/Y2021", "auto"], {}, 1, None),
    (["--help", "auto"], {}, 1, None),
    (["--version"], {"DISPLAY": ":97"}, 0, "MIT"),
    ([], {"DISPLAY": ":97", "QT_QPA_PLATFORM": "xcb"}, 1, None),
]


def main():
    binary, version = sys.argv[1], sys.argv[2]
    root = tempfile.mkdtemp(prefix="qor-e2e-")
    failures = []
    try:
        app = os.path.join(root, "app")
        work = os.path.join(root, "work")
        os.makedirs(app)
        os.makedirs(work)
        shutil.copy2(binary, os.path.join(app, "qor"))
        base = {k: v for k, v in os.environ.items()
                if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        base["XDG_CONFIG_HOME"] = os.path.join(root, "config")
        for arguments, extra, status, shown in CASES:
            run = subprocess.run([os.path.join(app, "qor")] + arguments, cwd=work,
                                 env=dict(base, **extra), capture_output=True, text=True,
                                 timeout=60)
            name = " ".join(arguments) or "(no arguments)"
            if extra:
                name += " with " + " ".join(f"{k}={v}" for k, v in extra.items())
            if run.returncode != status:
                failures.append(f"{name}: exit {run.returncode}, not {status}; {run.stderr!r}")
            elif status == 0:
                if shown not in run.stdout or (arguments == ["--version"] and
                                               f"qor {version}\n" not in run.stdout):
                    failures.append(f"{name}: stdout {run.stdout!r}")
                if run.stderr:
                    failures.append(f"{name}: stderr {run.stderr!r}")
            else:
                own = [line for line in run.stderr.splitlines() if line.startswith("qor:")]
                if run.stdout or len(own) != 1 or "qor-cli" not in own[0]:
                    failures.append(f"{name}: stdout {run.stdout!r}, stderr {run.stderr!r}")
        left = sorted(os.listdir(app)) + sorted(os.listdir(work))
        if left != ["qor"]:
            failures.append(f"files written: {left}")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for failure in failures:
        print("FAILED:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
