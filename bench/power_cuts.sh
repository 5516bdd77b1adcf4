#!/usr/bin/env bash
# Power cuts during qor-cli runs on the forgetful layer (qor_forgetful_fs),
# again and again, each followed by a rerun that must finish the killed run's
# work, for four kinds of run:
#   tmpfs->layer   from tmpfs onto the layer (a removal at the source is
#                  durable at once there);
#   layer          within the layer (both folders forget);
#   tmpfs->nolinks onto the layer mounted with no_rename_noreplace,no_links,
#                  keep_ctime_on_rename (as rclone mounts are: copies are
#                  written straight into their final names);
#   nolinks        within that one.
# One cut: a fresh tree (QOR_POWER_CUTS_FILES old files of a few KiB in
# several folders, last written in 2020, made durable; a few of their names
# already taken at the target by other files; a few newer files that must
# stay), `qor-cli move -r SRC TGT --before 2021-01-01` started, frozen
# (SIGSTOP) at a random moment of its run, the layer cut, the program killed
# (SIGKILL: the process is gone, the disk keeps what was durable), then the
# same move run again to its end. The run logs are written to a folder on the
# disk beneath /var/tmp, outside the layer: they are not cut, so what the
# killed run logged is what it did.
# Checked after the rerun: every old file exactly once, at the target, with
# its bytes and last-write time (the ones whose name is taken stay at the
# source, the file at the target untouched); the newer ones untouched at the
# source; nothing named .qor-* left. Counted: files at both places right
# after the cut, how many the rerun finished (recovered), moves logged other
# than once (log≠1: told, no failure, since the logs are not cut and a move
# the cut undid stays in the killed run's log while the rerun logs it again)
# and how far the killed run had got (moved per its log: early < 1/3,
# middle, late >= 2/3 of the files; "done" when it ended before the cut).
#
#   bash bench/power_cuts.sh [BUILD_DIR [CUTS]]   (default: build, 20 cuts per kind)
#
# QOR_POWER_CUTS: cuts per kind where CUTS is not given.
# QOR_POWER_CUTS_FILES: old files per tree (default 3000 from tmpfs, where
#   copies go in batches of about a thousand, 400 within the layer).
# QOR_POWER_CUTS_KINDS: a subset of the four. QOR_POWER_CUTS_SEED: to repeat.
# QOR_POWER_CUTS_KEEP=1: keeps the folder of each cut told in full.
# QOR_FORGETFUL_FS: the layer, for a qor-cli built without it.
# QOR_POWER_CUTS_SYNC_TARGET=1: a look into a failure: the target folder is
#   synced from here after the freeze, just before the cut, so that the names
#   in it (the journal's) are durable.
# Exit status 1 when a file was lost, altered, left at the source or at both
# places, a .qor-* name was left, or a rerun ended other than with 0 or 1;
# 77 (skipped) without root, /dev/fuse or the layer. The layers are unmounted
# and every process started here is stopped by its id at the end, also after
# a failure.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
cuts=${2:-${QOR_POWER_CUTS:-20}}
cli=$build/src/qor-cli
layer=${QOR_FORGETFUL_FS:-$build/bench/qor_forgetful_fs}
[ -x "$cli" ] || { echo "not built: $cli" >&2; exit 2; }
if [ ! -x "$layer" ]; then
  echo "SKIP: the forgetful layer is not built: $layer (needs libfuse3-dev)"
  exit 77
fi
if [ "$(id -u)" -ne 0 ] || [ ! -r /dev/fuse ] || [ ! -w /dev/fuse ]; then
  echo "SKIP: mounting the forgetful layer needs root and a usable /dev/fuse"
  exit 77
fi
[ -d /dev/shm ] || { echo "SKIP: no tmpfs at /dev/shm"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/var/tmp}/qor-power-cuts.XXXXXX")
tmp=$(mktemp -d /dev/shm/qor-power-cuts.XXXXXX)
declare -A layer_pid
loop_pid=
mounted() { grep -qs " $1 " /proc/mounts; }
unmount() {  # NAME
  local mnt=$work/$1
  if mounted "$mnt"; then
    timeout 10 umount "$mnt" || umount -l "$mnt" || true
  fi
  if [ -n "${layer_pid[$1]:-}" ]; then
    kill -TERM "${layer_pid[$1]}" 2>/dev/null || true
    wait "${layer_pid[$1]}" 2>/dev/null || true
  fi
  layer_pid[$1]=
  if mounted "$mnt"; then umount -l "$mnt" || true; fi
}
cleanup() {
  local status=$? pid
  if [ -n "$loop_pid" ]; then
    kill -TERM "$loop_pid" 2>/dev/null || true
    wait "$loop_pid" 2>/dev/null || true
  fi
  # A qor-cli the loop left running (it writes each one's id before it waits).
  if [ -s "$work/cli.pid" ]; then
    pid=$(cat "$work/cli.pid")
    if [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = qor-cli ]; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  unmount plain
  unmount nolinks
  if [ "$status" -ne 0 ] && [ "${QOR_POWER_CUTS_KEEP:-}" = 1 ] && [ -d "$work/findings" ]; then
    echo "kept: $work/findings"
    mv "$work/findings" "$work.findings" || true
  fi
  rm -rf "$work" "$tmp"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mount_layer() {  # NAME [-o OPTIONS]
  local name=$1
  shift
  mkdir -p "$work/$name" "$work/$name-beneath" "$work/$name-shadow"
  "$layer" -f -o "control=$work/$name.control,shadow=$work/$name-shadow" "$@" \
    "$work/$name-beneath" "$work/$name" 2>"$work/$name.err" &
  layer_pid[$name]=$!
  for _ in $(seq 100); do
    mounted "$work/$name" && [ -S "$work/$name.control" ] && return 0
    kill -0 "${layer_pid[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  echo "SKIP: the forgetful layer could not be mounted here: $(head -c 300 "$work/$name.err")"
  exit 77
}
mount_layer plain
mount_layer nolinks -o no_rename_noreplace,no_links,keep_ctime_on_rename

# In the background, so that an interrupt is heard at once (bash runs a trap
# only once the command in the foreground has ended).
python3 - "$cli" "$layer" "$work" "$tmp" "$cuts" <<'EOF' &
import json, os, random, shutil, signal, subprocess, sys, time

cli, layer, work, tmp, cuts = sys.argv[1:6]
cuts = int(cuts)
files_asked = os.environ.get("QOR_POWER_CUTS_FILES")
seed = int(os.environ.get("QOR_POWER_CUTS_SEED", str(random.randrange(1 << 30))))
keep = os.environ.get("QOR_POWER_CUTS_KEEP") == "1"
sync_target = os.environ.get("QOR_POWER_CUTS_SYNC_TARGET") == "1"
rng = random.Random(seed)
print(f"{cuts} cuts per kind, seed {seed}", flush=True)

# kind: (source's side, target's side); a side is tmpfs or a mount's name.
KINDS = {"tmpfs->layer": ("tmpfs", "plain"), "layer": ("plain", "plain"),
         "tmpfs->nolinks": ("tmpfs", "nolinks"), "nolinks": ("nolinks", "nolinks")}
chosen = os.environ.get("QOR_POWER_CUTS_KINDS", " ".join(KINDS)).split()
OLD_FROM, OLD_TO = 1577836800, 1609459200 - 1  # 2020 (UTC)
NEW = 1672531200  # 2023
THEIRS = 1546300800  # 2019
TAKEN, NEWER = 6, 6

def on_layer(side):
    return side != "tmpfs"

def fsync_path(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)

def put(path, data, ns, durable):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    try:
        os.write(fd, data)
        os.utime(fd, ns=(ns, ns))
        if durable:
            os.fsync(fd)
    finally:
        os.close(fd)

def makedirs(root, rel_dirs, durable):
    for rel in sorted(rel_dirs, key=len):
        path = os.path.join(root, rel) if rel else root
        os.makedirs(path, exist_ok=True)
        if durable:
            fsync_path(os.path.dirname(path.rstrip("/")))

def make_tree(src, tgt, src_durable, tgt_durable):
    """The tree; returns {rel: (bytes, mtime_ns, role)}, role old|taken|newer."""
    folders = ["d0", "d1", "d2", "d3", "d1/e0", "d1/e1", "d2/e0", "d3/e0/g0"]
    tree = {}
    for n in range(files + NEWER):
        rel = f"{rng.choice(folders)}/f{n:04d}"
        data = rng.randbytes(rng.randint(1024, 8192))
        ns = rng.randint(OLD_FROM, OLD_TO) * 10**9 + rng.randrange(10**9)
        role = "old"
        if n >= files:
            role, ns = "newer", (NEW + rng.randrange(10**6)) * 10**9 + rng.randrange(10**9)
        tree[rel] = (data, ns, role)
    for rel in rng.sample([r for r, v in tree.items() if v[2] == "old"], TAKEN):
        tree[rel] = (tree[rel][0], tree[rel][1], "taken")
    makedirs(src, [""] + folders, src_durable)
    makedirs(tgt, [""] + sorted({os.path.dirname(r) for r, v in tree.items() if v[2] == "taken"}),
             tgt_durable)
    for rel, (data, ns, role) in tree.items():
        put(os.path.join(src, rel), data, ns, src_durable)
        if role == "taken":
            put(os.path.join(tgt, rel), b"theirs " + rel.encode(), THEIRS * 10**9, tgt_durable)
    for root, durable in ((src, src_durable), (tgt, tgt_durable)):
        if durable:
            for here, _, _ in os.walk(root):
                fsync_path(here)
    return tree

def state(path):
    try:
        st = os.lstat(path)
        with open(path, "rb") as f:
            return f.read(), st.st_mtime_ns
    except FileNotFoundError:
        return None

def own_names(*roots):
    found = []
    for root in roots:
        for here, dirs, names in os.walk(root):
            found += [os.path.relpath(os.path.join(here, n), os.path.dirname(root))
                      for n in dirs + names if n.startswith(".qor-")]
    return found

def logged(path):
    """rel -> how many times the log names it moved."""
    counts = {}
    try:
        with open(path, "rb") as f:
            for line in f.read().decode(errors="replace").splitlines():
                if "MOVED to" in line:
                    rel = line.split("MOVED to")[0].rstrip()
                    counts[rel] = counts.get(rel, 0) + 1
    except FileNotFoundError:
        pass
    return counts

def run(src, tgt, log, err, pid_file):
    return subprocess.Popen([cli, "move", "-r", src, tgt, "--before", "2021-01-01", "--log", log,
                             "--json"], stdout=subprocess.PIPE, stderr=err, text=True)

def cut(side):
    done = subprocess.run([layer, "--cut", f"{work}/{side}.control"], capture_output=True,
                          text=True, timeout=120)
    if done.returncode != 0 or done.stdout != "ok\n":
        sys.exit(f"the cut of {side} failed: {done.stdout}{done.stderr}")

def roots(kind, n):
    src_side, tgt_side = KINDS[kind]
    base = lambda side: tmp if side == "tmpfs" else f"{work}/{side}"
    folder = f"{base(src_side)}/{kind}-{n}"
    return f"{folder}/src", f"{base(tgt_side)}/{kind}-{n}-t/tgt", src_side, tgt_side

def clear(kind, n):
    src, tgt, src_side, tgt_side = roots(kind, n)
    for root, side in ((os.path.dirname(src), src_side), (os.path.dirname(tgt), tgt_side)):
        if os.path.exists(root):
            shutil.rmtree(root)
            if on_layer(side):
                fsync_path(os.path.dirname(root))

def prepare(kind, n):
    src, tgt, src_side, tgt_side = roots(kind, n)
    for folder, side in ((os.path.dirname(src), src_side), (os.path.dirname(tgt), tgt_side)):
        os.makedirs(folder, exist_ok=True)
        if on_layer(side):
            fsync_path(os.path.dirname(folder))
    return src, tgt, make_tree(src, tgt, on_layer(src_side), on_layer(tgt_side))

def check(tree, src, tgt, logs):
    """Problems after the rerun: {category: [rel, ...]}."""
    p = {k: [] for k in ("lost", "altered", "twice", "unmoved", "log")}
    counts = {}
    for log in logs:
        for rel, c in logged(log).items():
            counts[rel] = counts.get(rel, 0) + c
    for rel, (data, ns, role) in tree.items():
        at_src, at_tgt = state(f"{src}/{rel}"), state(f"{tgt}/{rel}")
        if role == "old":
            if at_src is None and at_tgt is None:
                p["lost"].append(rel)
            elif any(s is not None and s != (data, ns) for s in (at_src, at_tgt)):
                p["altered"].append(rel)
            if at_src is not None and at_tgt is not None:
                p["twice"].append(rel)
            elif at_src is not None:
                p["unmoved"].append(rel)
            if counts.pop(rel, 0) != 1:
                p["log"].append(rel)
        else:
            if at_src is None:
                p["lost"].append(rel)
            elif at_src != (data, ns):
                p["altered"].append(rel)
            if role == "taken" and at_tgt != (b"theirs " + rel.encode(), THEIRS * 10**9):
                p["altered"].append(rel + " (theirs)")
            if role == "newer" and at_tgt is not None:
                p["altered"].append(rel + " (newer, moved)")
            if rel in counts:
                p["log"].append(rel)
                counts.pop(rel)
    p["log"] += sorted(counts)
    return p

def at_both(tree, src, tgt):
    return sum(1 for rel, v in tree.items() if v[2] == "old"
               and os.path.lexists(f"{src}/{rel}") and os.path.lexists(f"{tgt}/{rel}"))

def wait(proc, pid_file, timeout):
    try:
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        open(pid_file, "w").close()
    return out

pid_file = f"{work}/cli.pid"
failed = False
rows = []
for kind in chosen:
    src_side, tgt_side = KINDS[kind]
    # Onto another file system the copies go in batches of about a thousand:
    # a tree of three makes a cut land before, within and after them.
    files = int(files_asked or (3000 if src_side == "tmpfs" else 400))
    movable = files - TAKEN
    # How long a whole run takes here: the cuts land anywhere in it.
    src, tgt, tree = prepare(kind, 0)
    started = time.monotonic()
    proc = run(src, tgt, f"{work}/calibrate.log", subprocess.DEVNULL, pid_file)
    with open(pid_file, "w") as f:
        f.write(str(proc.pid))
    wait(proc, pid_file, 300)
    whole = time.monotonic() - started
    problems = check(tree, src, tgt, [f"{work}/calibrate.log"])
    if any(problems.values()) or own_names(src, tgt):
        print(f"{kind}: a run without a cut went wrong: "
              f"{ {k: v[:5] for k, v in problems.items() if v} } {own_names(src, tgt)}")
        failed = True
    os.unlink(f"{work}/calibrate.log")
    clear(kind, 0)
    row = {"kind": kind, "cuts": 0, "lost": 0, "altered": 0, "twice": 0, "unmoved": 0, "log": 0,
           "own": 0, "both_cut": 0, "both_max": 0, "recovered": 0, "journals": 0,
           "findings": 0, "stage": {"none": 0, "early": 0, "middle": 0, "late": 0, "done": 0}, "seconds": whole}
    for n in range(1, cuts + 1):
        src, tgt, tree = prepare(kind, n)
        cut_dir = f"{work}/cut"
        shutil.rmtree(cut_dir, ignore_errors=True)
        os.mkdir(cut_dir)
        killed_log, rerun_log = f"{cut_dir}/killed.log", f"{cut_dir}/rerun.log"
        delay = rng.uniform(0.0, whole)
        with open(f"{cut_dir}/killed.err", "w") as err:
            proc = run(src, tgt, killed_log, err, pid_file)
        with open(pid_file, "w") as f:
            f.write(str(proc.pid))
        time.sleep(delay)
        ended = proc.poll() is not None
        if not ended:
            proc.send_signal(signal.SIGSTOP)
            if sync_target and on_layer(tgt_side):
                fsync_path(tgt)
        # The power goes: what was not durable is gone, then so is the process.
        for side in {src_side, tgt_side} - {"tmpfs"}:
            cut(side)
        proc.send_signal(signal.SIGKILL)
        wait(proc, pid_file, 60)
        killed_moved = sum(logged(killed_log).values())
        share = killed_moved / movable
        stage = ("done" if ended else "none" if killed_moved == 0 else
                 "early" if share < 1 / 3 else "middle" if share < 2 / 3 else "late")
        row["stage"][stage] += 1
        both = at_both(tree, src, tgt)
        row["both_cut"] += both
        row["both_max"] = max(row["both_max"], both)
        journals = [name for name in os.listdir(tgt) if name.startswith(".qor-journal-")]
        row["journals"] += bool(journals)
        after_cut = sorted(own_names(src, tgt))
        for name in journals:
            shutil.copyfile(f"{tgt}/{name}", f"{cut_dir}/{name}")
        # The rerun, to its end.
        with open(f"{cut_dir}/rerun.err", "w") as err:
            proc = run(src, tgt, rerun_log, err, pid_file)
        with open(pid_file, "w") as f:
            f.write(str(proc.pid))
        out = wait(proc, pid_file, 300)
        try:
            summary = json.loads(out.strip().splitlines()[-1])
        except (ValueError, IndexError):
            summary = {}
        row["recovered"] += summary.get("recovered", 0)
        problems = check(tree, src, tgt, [killed_log, rerun_log])
        left = own_names(src, tgt)
        if proc.returncode not in (0, 1):
            problems["exit"] = [f"the rerun exited with {proc.returncode}"]
        row["cuts"] += 1
        for key in ("lost", "altered", "twice", "unmoved", "log"):
            row[key] += len(problems[key])
        row["own"] += len(left)
        row["findings"] += bool(any(problems.values()) or left)
        if [k for k, v in problems.items() if v and k != "log"] or left:
            failed = True
        if (any(problems.values()) or left) and row["findings"] > 2:
            print(f"FINDING: {kind}, cut {n}: killed run logged {killed_moved}, at both places "
                  f"after the cut {both}, journal {'left' if journals else 'none'}: "
                  f"{ {k: len(v) for k, v in problems.items() if v} }"
                  f"{' .qor-* left: ' + str(left[:4]) if left else ''}")
        elif any(problems.values()) or left:
            print(f"\nFINDING: {kind}, cut {n}: frozen after {delay:.3f} s of a run of about "
                  f"{whole:.2f} s ({'it had ended' if ended else 'still running'}); the killed run "
                  f"had logged {killed_moved} of {movable} moved; at both places after the cut: "
                  f"{both}; .qor-* after the cut: {after_cut[:8]}")
            for key, rels in problems.items():
                if rels:
                    print(f"  {key}: {len(rels)}: {rels[:8]}")
                    for rel in rels[:3]:
                        rel = rel.split(" ")[0]
                        print(f"    {rel}: source {'there' if os.path.lexists(f'{src}/{rel}') else 'gone'},"
                              f" target {'there' if os.path.lexists(f'{tgt}/{rel}') else 'gone'};"
                              f" in killed log {logged(killed_log).get(rel, 0)}x,"
                              f" in rerun log {logged(rerun_log).get(rel, 0)}x")
            if left:
                print(f"  .qor-* left after the rerun: {left[:8]}")
            for name in journals:
                with open(f"{cut_dir}/{name}", "rb") as f:
                    records = f.read().replace(b"\0", b"|").decode(errors="replace")
                print(f"  the killed run's journal {name}: {records[:1500]}")
            if not journals:
                print("  no journal was left after the cut")
            print(f"  the rerun: exit {proc.returncode}, recovered {summary.get('recovered')}, "
                  f"moved {summary.get('moved')}, failed {summary.get('failed')}")
            with open(f"{cut_dir}/rerun.err", errors="replace") as f:
                lines = [l.rstrip() for l in f]
            for line in lines[:6]:
                print(f"    {line}")
            if keep:
                os.makedirs(f"{work}/findings", exist_ok=True)
                shutil.copytree(cut_dir, f"{work}/findings/{kind}-{n}")
                shutil.copytree(os.path.dirname(src), f"{work}/findings/{kind}-{n}/source")
                shutil.copytree(os.path.dirname(tgt), f"{work}/findings/{kind}-{n}/target")
        clear(kind, n)
    rows.append(row)
    print(f"{kind}: {row['cuts']} cuts of {files} files done", flush=True)

print()
print("| kind           | cuts | lost | altered | twice | unmoved | log≠1 | own left |"
      " both after cut (sum, max) | journal left | rerun recovered | killed run: none/early/middle/late/done | a run |")
for r in rows:
    s = r["stage"]
    print(f"| {r['kind']:<14} | {r['cuts']:4} | {r['lost']:4} | {r['altered']:7} | {r['twice']:5} |"
          f" {r['unmoved']:7} | {r['log']:5} | {r['own']:8} | {r['both_cut']:17}, {r['both_max']:5} |"
          f" {r['journals']:12} | {r['recovered']:15} |"
          f" {'/'.join(str(s[k]) for k in ('none', 'early', 'middle', 'late', 'done')):>39} |"
          f" {r['seconds']:4.2f} s |")
sys.exit(1 if failed else 0)
EOF
loop_pid=$!
status=0
wait "$loop_pid" || status=$?
loop_pid=
exit "$status"
