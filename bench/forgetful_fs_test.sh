#!/usr/bin/env bash
# Mounts the forgetful layer over a fresh folder, does what a program does to
# files (with and without fsync of the file and of its folders), cuts the
# power and checks that exactly what was made durable came back; then the
# options that make it behave as network file systems do:
# forgetful_fs_test.sh PATH/TO/qor_forgetful_fs. Exit status 77 (a skip)
# where no FUSE file system can be mounted. The layer is unmounted and its
# folders removed whatever happens.
set -euo pipefail
layer=$1

if [ "$(id -u)" -ne 0 ] || [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "SKIP: mounting the forgetful layer needs root and a usable /dev/fuse"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/var/tmp}/qor-forgetful-fs-test.XXXXXX")
pid=
# A layer that died leaves a mount that mountpoint(1) cannot stat: the list
# of mounts tells.
mounted() { grep -qs " $work/mnt " /proc/mounts; }
unmount() {
  # A layer left frozen by a check that failed mid-freeze answers nothing:
  # a cut thaws it, so that the umount does not wait for good.
  if [ -n "$pid" ] && [ -S "$work/control" ]; then
    timeout 20 "$layer" --cut "$work/control" >/dev/null 2>&1 || true
  fi
  if mounted; then
    timeout 10 umount "$work/mnt" || umount -l "$work/mnt" || true
  fi
  # timeout(1) hands the TERM on to the layer and kills it 5 s later at most.
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  pid=
  if mounted; then umount -l "$work/mnt" || true; fi
}
cleanup() {
  unmount
  rm -rf "$work"
}
trap cleanup EXIT

# mount_layer [-o OPTIONS]: over an empty folder each time.
mount_layer() {
  rm -rf "$work/beneath" "$work/shadow" "$work/mnt"
  mkdir "$work/beneath" "$work/shadow" "$work/mnt"
  timeout -k 5 150 "$layer" -f -o "control=$work/control,shadow=$work/shadow" "$@" \
    "$work/beneath" "$work/mnt" &
  pid=$!
  for _ in $(seq 100); do
    mountpoint -q "$work/mnt" && [ -S "$work/control" ] && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "SKIP: the forgetful layer could not be mounted here"
  exit 77
}

check() {
  timeout 120 python3 - "$layer" "$work/mnt" "$work/control" "$1" <<'EOF'
import ctypes, errno, os, subprocess, sys, time
layer, mnt, control, part = sys.argv[1:5]
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_NOREPLACE, RENAME_EXCHANGE = -100, 1, 2
failures = []

def check(ok, what):
    if not ok:
        failures.append(what)

def m(*names): return os.path.join(mnt, *names)
def put(path, data, sync=False):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    try:
        os.write(fd, data)
        if sync:
            os.fsync(fd)
    finally:
        os.close(fd)
def sync(path):  # a file's or a folder's fsync
    fd = os.open(path, os.O_RDONLY | (os.O_DIRECTORY if os.path.isdir(path) else 0))
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
def durable(path, data):
    put(path, data, sync=True)
    sync(os.path.dirname(path))
def renameat2(old, new, flags):
    result = libc.renameat2(AT_FDCWD, old.encode(), AT_FDCWD, new.encode(), flags)
    return 0 if result == 0 else ctypes.get_errno()
def cut():
    done = subprocess.run([layer, "--cut", control], capture_output=True, text=True, timeout=60)
    check(done.returncode == 0 and done.stdout == "ok\n", f"the cut: {done.stdout}{done.stderr}")

if part == "options":
    # -o no_rename_noreplace,no_links,keep_ctime_on_rename
    put(m("f"), b"f")
    check(renameat2(m("f"), m("g"), RENAME_NOREPLACE) == errno.EINVAL, "NOREPLACE gives EINVAL")
    check(os.path.exists(m("f")) and not os.path.exists(m("g")), "NOREPLACE refused moves nothing")
    try:
        os.link(m("f"), m("h"))
        check(False, "link refused")
    except OSError as e:
        check(e.errno == errno.EPERM, f"link gives EPERM, not {e.errno}")
    before = os.stat(m("f")).st_ctime_ns
    time.sleep(0.05)
    os.rename(m("f"), m("g"))
    check(os.stat(m("g")).st_ctime_ns == before, "a rename keeps the change time")
    time.sleep(0.05)
    os.chmod(m("g"), 0o600)
    check(os.stat(m("g")).st_ctime_ns != before, "a chmod after it changes the change time")
    for failure in failures:
        print("FAILED:", failure)
    sys.exit(1 if failures else 0)

# Each case works in a folder of its own, c<N>, whose subfolders d and e are
# durable and empty at its start; it expects, after the cut, each path to hold
# these bytes (or bytes, mode and mtime), to be a folder (DIR) or to be gone.
DIR = "dir"
T1, T2 = 1_500_000_000_000_000_000, 1_600_000_000_000_000_000
def attrs(c, mode, ns, sync_after):
    durable(c + "/d/f", b"a")
    os.chmod(c + "/d/f", 0o640)
    os.utime(c + "/d/f", ns=(T1, T1))
    sync(c + "/d/f")
    os.chmod(c + "/d/f", mode)
    os.utime(c + "/d/f", ns=(ns, ns))
    if sync_after:
        sync(c + "/d/f")
def link(c):
    durable(c + "/d/f", b"a")
    os.link(c + "/d/f", c + "/d/h")
    sync(c + "/d")
    put(c + "/d/f", b"b", sync=True)
cases = [
    ("a write without fsync is lost",
     lambda c: (durable(c + "/d/f", b"old"), put(c + "/d/f", b"new")), {"d/f": b"old"}),
    ("fsync keeps the data, the folder's fsync the name",
     lambda c: (put(c + "/d/f", b"data", sync=True), sync(c + "/d")), {"d/f": b"data"}),
    ("fsync without the folder's fsync: the name is lost",
     lambda c: put(c + "/d/f", b"data", sync=True), {"d/f": None}),
    ("a create without the folder's fsync is lost",
     lambda c: put(c + "/d/f", b"x"), {"d/f": None}),
    ("a durable name whose data was never synced comes back empty",
     lambda c: (put(c + "/d/f", b"x"), sync(c + "/d")), {"d/f": b""}),
    ("a rename without folder fsync is undone",
     lambda c: (durable(c + "/d/f", b"a"), os.rename(c + "/d/f", c + "/e/g")),
     {"d/f": b"a", "e/g": None}),
    ("a rename with both folders synced stays",
     lambda c: (durable(c + "/d/f", b"a"), os.rename(c + "/d/f", c + "/e/g"), sync(c + "/d"),
                sync(c + "/e")), {"d/f": None, "e/g": b"a"}),
    ("a rename with the target folder synced only leaves the file under both names",
     lambda c: (durable(c + "/d/f", b"a"), os.rename(c + "/d/f", c + "/e/g"), sync(c + "/e")),
     {"d/f": b"a", "e/g": b"a"}),
    ("the durable data follows the file, not the name",
     lambda c: (durable(c + "/d/f", b"a"), os.rename(c + "/d/f", c + "/d/g"), sync(c + "/d"),
                put(c + "/d/g", b"b", sync=True)), {"d/f": None, "d/g": b"b"}),
    ("a rename over a durable name without folder fsync brings both back",
     lambda c: (durable(c + "/d/f", b"a"), durable(c + "/d/g", b"b"),
                os.rename(c + "/d/f", c + "/d/g")), {"d/f": b"a", "d/g": b"b"}),
    ("an exchange with the folder synced swaps the durable files",
     lambda c: (durable(c + "/d/f", b"a"), durable(c + "/d/g", b"b"),
                renameat2(c + "/d/f", c + "/d/g", RENAME_EXCHANGE), sync(c + "/d")),
     {"d/f": b"b", "d/g": b"a"}),
    ("an unlink without folder fsync comes back",
     lambda c: (durable(c + "/d/f", b"a"), os.unlink(c + "/d/f")), {"d/f": b"a"}),
    ("an unlink with folder fsync is gone",
     lambda c: (durable(c + "/d/f", b"a"), os.unlink(c + "/d/f"), sync(c + "/d")),
     {"d/f": None}),
    ("hard links stay one file", link, {"d/f": b"b", "d/h": b"b"}),
    ("a folder made without the parent's fsync is lost",
     lambda c: (os.mkdir(c + "/d/s"), durable(c + "/d/s/f", b"a")), {"d/s": None}),
    ("a folder made with the parent's fsync stays, with its synced names",
     lambda c: (os.mkdir(c + "/d/s"), sync(c + "/d"), durable(c + "/d/s/f", b"a"),
                put(c + "/d/s/g", b"b", sync=True)), {"d/s": DIR, "d/s/f": b"a", "d/s/g": None}),
    ("a symbolic link with the folder synced stays, one without is lost",
     lambda c: (os.symlink("f", c + "/d/l"), sync(c + "/d"), os.symlink("f", c + "/e/l")),
     {"d/l": ("->", "f"), "e/l": None}),
    ("mode and times without fsync are lost",
     lambda c: attrs(c, 0o600, T2, False), {"d/f": (b"a", 0o640, T1)}),
    ("mode and times with fsync stay",
     lambda c: attrs(c, 0o600, T2, True), {"d/f": (b"a", 0o600, T2)}),
]

def state(path):
    if not os.path.lexists(path):
        return None
    if os.path.islink(path):
        return ("->", os.readlink(path))
    if os.path.isdir(path):
        return DIR
    with open(path, "rb") as f:
        return f.read()

def verify(when):
    for n, (what, _, expected) in enumerate(cases):
        for name, want in expected.items():
            path = m(f"c{n}", name)
            got = state(path)
            if isinstance(want, tuple) and want[0] != "->":
                st = os.stat(path) if got is not None else None
                got = st and (got, st.st_mode & 0o777, st.st_mtime_ns)
            check(got == want, f"{when}: {what}: {name} is {got!r}, not {want!r}")
        if "d/h" in expected:
            f, h = (os.lstat(m(f"c{n}/d", name)) if state(m(f"c{n}/d", name)) else None
                    for name in ("f", "h"))
            check(f and h and f.st_ino == h.st_ino, f"{when}: {what}: not one file")

for n in range(len(cases)):
    for sub in ("", "/d", "/e"):
        os.mkdir(m(f"c{n}{sub}"))
    sync(m(f"c{n}"))
sync(mnt)
for n, (_, setup, _) in enumerate(cases):
    setup(m(f"c{n}"))

# Without the layer's own NOREPLACE refusal: a taken name is kept.
put(m("taken"), b"t")
put(m("free"), b"f")
check(renameat2(m("free"), m("taken"), RENAME_NOREPLACE) == errno.EEXIST, "NOREPLACE: EEXIST")
before = os.stat(m("taken")).st_ctime_ns
time.sleep(0.05)
os.rename(m("taken"), m("moved"))
check(os.stat(m("moved")).st_ctime_ns != before, "a rename changes the change time by default")

# A file open across the cut belongs to a process that died in it.
open_before = os.open(m("c0/d/f"), os.O_RDONLY)
number_before = os.stat(m("c1/d/f")).st_ino
cut()
check(os.stat(m("c1/d/f")).st_ino == number_before, "a durable file keeps its number, as on a disk")
try:
    os.read(open_before, 1)
    check(False, "a file open across the cut fails")
except OSError as e:
    check(e.errno == errno.EIO, f"a file open across the cut gives EIO, not {e.errno}")
os.close(open_before)
verify("after the cut")
check(sorted(os.listdir(mnt)) == sorted(f"c{n}" for n in range(len(cases))),
      f"only durable names at the top: {sorted(os.listdir(mnt))}")

# The layer serves on as after a reboot, and a second cut forgets as well.
durable(m("after"), b"z")
put(m("lost"), b"l", sync=True)
cut()
check(state(m("after")) == b"z" and state(m("lost")) is None, "the second cut")
verify("after the second cut")

# A freeze before the third step from now: a durable file written anew (the
# open with O_TRUNC is a look, the write one step, its fsync the second), a
# create waits at the third, and fails once the cut ends the freeze.
import socket, threading
def ask(command):
    with socket.socket(socket.AF_UNIX) as s:
        s.connect(control)
        s.sendall(command.encode() + b"\n")
        return b"".join(iter(lambda: s.recv(256), b"")).decode()
durable(m("frozen-f"), b"old")
check(ask("freeze-after 3") == "armed\n", "freeze-after arms")
put(m("frozen-f"), b"new", sync=True)
check(ask("frozen") == "no\n", "not frozen before the third step")
outcome = []
def late_create():
    try:
        put(m("frozen-g"), b"g", sync=True)
        outcome.append("made")
    except OSError as e:
        outcome.append(e.errno)
waiter = threading.Thread(target=late_create)
waiter.start()
for _ in range(100):
    if ask("frozen").startswith("yes"):
        break
    time.sleep(0.05)
said = ask("frozen")
check(said == "yes create /frozen-g\n", f"frozen before the create, said {said!r}")
check(not outcome, "the create waits while the layer is frozen")
cut()
waiter.join(30)
check(outcome == [errno.EIO], f"the create waiting across the cut fails with EIO: {outcome}")
check(state(m("frozen-f")) == b"new" and state(m("frozen-g")) is None,
      "the steps before the freeze happened, the one it froze before did not")
check(ask("frozen") == "no\n" and ask("steps").strip().isdigit(), "the cut ends the freeze")

# A step let through just before a cut whose thread runs on only after it
# (a loaded machine): it came from the machine that lost its power, and
# fails rather than happen on the one that came back.
check(ask("hold-next") == "armed\n", "hold-next arms")
outcome = []
def held_mkdir():
    try:
        os.mkdir(m("held-dir"))
        outcome.append("made")
    except OSError as e:
        outcome.append(e.errno)
waiter = threading.Thread(target=held_mkdir)
waiter.start()
for _ in range(100):
    if ask("held") == "yes\n":
        break
    time.sleep(0.05)
check(ask("held") == "yes\n", "the mkdir is held before the gate")
late_before = int(ask("late"))
cut()
check(ask("let-go") == "ok\n", "let go")
waiter.join(30)
check(outcome == [errno.EIO], f"a step let through before the cut fails after it: {outcome}")
check(state(m("held-dir")) is None and int(ask("late")) == late_before + 1,
      "nothing of it happened, and it was counted late")

for failure in failures:
    print("FAILED:", failure)
print(f"{len(cases)} cases, {len(failures)} failures")
sys.exit(1 if failures else 0)
EOF
}

mount_layer
check cut
unmount
mount_layer -o no_rename_noreplace,no_links,keep_ctime_on_rename
check options
