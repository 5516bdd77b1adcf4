#!/usr/bin/env bash
# Mounts the latency layer over a fresh folder and checks that it passes every
# kind of call through as it should, and that each lookup waits at least the
# delay: latency_fs_test.sh PATH/TO/qor_latency_fs. Exit status 77 (a skip)
# where no FUSE file system can be mounted. Each step has a time limit, and the
# layer is unmounted and its folder removed whatever happens.
set -euo pipefail
layer=$1
delay_ms=2

if [ "$(id -u)" -ne 0 ] || [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "SKIP: mounting the latency layer needs root and a usable /dev/fuse"
  exit 77
fi

# On disk rather than tmpfs, so that the folder beneath keeps user.* attributes.
work=$(mktemp -d "${TMPDIR:-/var/tmp}/qor-latency-fs-test.XXXXXX")
mkdir "$work/beneath" "$work/mnt"
pid=
cleanup() {
  if mountpoint -q "$work/mnt"; then
    timeout 10 umount "$work/mnt" || umount -l "$work/mnt" || true
  fi
  # timeout(1) hands the TERM on to the layer and kills it 5 s later at most.
  if [ -n "$pid" ]; then
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The layer ends itself should a step hang past the test's time.
timeout -k 5 150 "$layer" -f -o delay_ms=$delay_ms "$work/beneath" "$work/mnt" &
pid=$!
for _ in $(seq 100); do
  mountpoint -q "$work/mnt" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if ! mountpoint -q "$work/mnt"; then
  echo "SKIP: the latency layer could not be mounted here"
  exit 77
fi

timeout 120 python3 - "$work/mnt" "$work/beneath" "$delay_ms" <<'EOF'
import ctypes, errno, os, sys, time
mnt, beneath, delay_ms = sys.argv[1], sys.argv[2], int(sys.argv[3])
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_NOREPLACE, RENAME_EXCHANGE = -100, 1, 2
failures = []

def check(ok, what):
    if not ok:
        failures.append(what)

def m(name): return os.path.join(mnt, name)
def b(name): return os.path.join(beneath, name)
def read(path):
    with open(path, "rb") as f: return f.read()
def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
        os.fsync(f.fileno())

def renameat2(old, new, flags):
    result = libc.renameat2(AT_FDCWD, old.encode(), AT_FDCWD, new.encode(), flags)
    return 0 if result == 0 else ctypes.get_errno()

# Writes reach the folder beneath; folders take fsync and syncfs.
os.mkdir(m("d"))
write(m("d/a"), b"a" * 70000)
check(read(b("d/a")) == b"a" * 70000, "a written file is whole beneath")
dfd = os.open(m("d"), os.O_RDONLY | os.O_DIRECTORY)
try:
    os.fsync(dfd)
    check(libc.syncfs(dfd) == 0, "syncfs")
finally:
    os.close(dfd)

# Plain renames replace; RENAME_NOREPLACE never does, even onto an open file.
write(m("d/b"), b"b")
os.rename(m("d/a"), m("d/moved"))
check(not os.path.exists(b("d/a")) and read(b("d/moved")) == b"a" * 70000, "plain rename")
with open(m("d/b"), "rb"):
    for target in ("d/b", "d/moved"):
        result = renameat2(m("d/moved" if target == "d/b" else "d/b"), m(target), RENAME_NOREPLACE)
        check(result == errno.EEXIST, f"NOREPLACE onto {target} gives EEXIST, not {result}")
check(read(m("d/b")) == b"b" and read(m("d/moved")) == b"a" * 70000, "NOREPLACE keeps both")
check(renameat2(m("d/b"), m("d/c"), RENAME_NOREPLACE) == 0, "NOREPLACE onto a free name")
check(read(b("d/c")) == b"b" and not os.path.exists(b("d/b")), "NOREPLACE moved the file")
check(renameat2(m("d/c"), m("d/moved"), RENAME_EXCHANGE) == errno.EINVAL, "EXCHANGE refused")
os.rename(m("d/c"), m("d/moved"))
check(read(m("d/moved")) == b"b" and os.listdir(m("d")) == ["moved"], "rename onto a name")

# Times to the nanosecond, modes, links, truncation, attributes.
ns = (1_600_000_000_123_456_789, 1_577_880_000_987_654_321)
os.utime(m("d/moved"), ns=ns)
check(os.stat(m("d/moved")).st_mtime_ns == ns[1], "mtime through the layer")
check(os.stat(b("d/moved")).st_atime_ns == ns[0], "atime beneath")
os.chmod(m("d/moved"), 0o640)
check(os.stat(b("d/moved")).st_mode & 0o777 == 0o640, "chmod")
os.link(m("d/moved"), m("d/hard"))
check(os.stat(m("d/hard")).st_nlink == 2, "hard link")
os.symlink("moved", m("d/soft"))
check(os.readlink(m("d/soft")) == "moved" and os.path.islink(b("d/soft")), "symbolic link")
os.truncate(m("d/hard"), 0)
check(os.stat(b("d/moved")).st_size == 0, "truncate")
try:
    os.setxattr(b("d"), "user.probe", b"1")
    has_xattrs = True
except OSError:
    has_xattrs = False
if has_xattrs:
    os.setxattr(m("d/moved"), "user.qor", b"value")
    check(os.getxattr(m("d/moved"), "user.qor") == b"value", "getxattr")
    check("user.qor" in os.listxattr(m("d/moved")), "listxattr")
    os.removexattr(m("d/moved"), "user.qor")
    check("user.qor" not in os.listxattr(b("d/moved")), "removexattr")
check(os.statvfs(mnt).f_blocks == os.statvfs(beneath).f_blocks, "statfs")
with open(m("d/moved"), "r+b") as still_open:
    os.unlink(m("d/moved"))
    still_open.write(b"gone")
    still_open.seek(0)
    check(still_open.read() == b"gone", "an open file removed stays readable")
    check(sorted(os.listdir(b("d"))) == ["hard", "soft"], "a removed open file leaves no name")
for name in ("hard", "soft"):
    os.unlink(m("d/" + name))
os.rmdir(m("d"))
check(os.listdir(beneath) == [], "unlink and rmdir")

# A folder longer than one buffer of entries lists whole; each lookup waits.
lookups = 300
for i in range(lookups):
    open(b(f"f{i:03}"), "wb").close()
check(sorted(os.listdir(mnt)) == sorted(os.listdir(beneath)), "a long folder lists whole")
start = time.monotonic()
for i in range(lookups):
    os.stat(m(f"f{i:03}"))
took = time.monotonic() - start
check(took >= lookups * delay_ms / 1000, f"{lookups} lookups took {took:.3f} s, below the delay")
print(f"{lookups} lookups through the layer: {took:.3f} s ({delay_ms} ms delay)")

for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
EOF
