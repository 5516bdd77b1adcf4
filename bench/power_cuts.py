# The loop of bench/power_cuts.sh (see there): python3 power_cuts.py CLI LAYER
# WORK TMP CUTS, with the layers mounted at WORK/<side> and their controls at
# WORK/<side>.control.
import json, os, random, shutil, signal, socket, subprocess, sys, time

cli, layer, work, tmp, cuts = sys.argv[1:6]
cuts = int(cuts)
files_asked = os.environ.get("QOR_POWER_CUTS_FILES")
seed = int(os.environ.get("QOR_POWER_CUTS_SEED", str(random.randrange(1 << 30))))
keep = os.environ.get("QOR_POWER_CUTS_KEEP") == "1"
rng = random.Random(seed)
print(f"{cuts} cuts per kind, seed {seed}", flush=True)

# kind: (source's side, target's side, options of the run); a side is tmpfs
# or a mount's name: plain and plain2 (two disks), nolinks (refuses
# no-replace renames and links, keeps the change time on a rename, as rclone
# and sshfs mounts do), full (a small disk that a run fills).
KINDS = {
    "tmpfs->layer": ("tmpfs", "plain", []),
    "tmpfs->layer -j1": ("tmpfs", "plain", ["--jobs", "1"]),
    "tmpfs->layer verify": ("tmpfs", "plain", ["--verify"]),
    "layer->tmpfs": ("plain", "tmpfs", []),
    "layer": ("plain", "plain", []),
    "layer->layer2": ("plain", "plain2", []),
    "tmpfs->nolinks": ("tmpfs", "nolinks", []),
    "nolinks": ("nolinks", "nolinks", []),
    "tmpfs->full": ("tmpfs", "full", []),
    "tmpfs->full tight": ("tmpfs", "full", []),
}
# Real disks: ext4 and xfs, two of each (see power_cuts.sh), cut at a moment
# of the run: a layer counts its steps, a disk cannot.
LAYERS = {"plain", "plain2", "nolinks", "full"}
DISKS = os.environ.get("QOR_POWER_CUTS_DISKS_MOUNTED", "").split()
for fs in ("ext4", "xfs"):
    KINDS[f"tmpfs->{fs}"] = ("tmpfs", fs, [])
    KINDS[f"{fs}->{fs}b"] = (fs, f"{fs}b", [])
    KINDS[fs] = (fs, fs, [])
def usable(kind):
    return all(side == "tmpfs" or side in LAYERS or side.rstrip("b") in DISKS
               for side in KINDS[kind][:2])
chosen = [k.replace("_", " ") for k in os.environ.get(
    "QOR_POWER_CUTS_KINDS", " ".join(k.replace(" ", "_") for k in KINDS if usable(k))).split()]
for kind in chosen:
    if kind not in KINDS or not usable(kind):
        sys.exit(f"no such kind here: {kind} (spaces in a kind's name are written _)")
OLD_FROM, OLD_TO = 1577836800, 1609459200 - 1  # 2020 (UTC)
NEW = 1672531200  # 2023
THEIRS = 1546300800  # 2019
TAKEN, NEWER = 6, 6
theirs = {}  # rel -> the bytes of the file already under its name at the target
FULL_KIB = int(os.environ.get("QOR_POWER_CUTS_FULL_KIB", "6144"))  # the small disk

def on_layer(side):
    return side != "tmpfs"

def fsync_path(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)

def put(path, data, ns, durable, mode=0o644):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    try:
        os.write(fd, data)
        os.fchmod(fd, mode)
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
    theirs.clear()
    for n in range(files + NEWER):
        rel = f"{rng.choice(folders)}/f{n:04d}"
        data = rng.randbytes(rng.randint(1024, 8192))
        ns = rng.randint(OLD_FROM, OLD_TO) * 10**9 + rng.randrange(10**9)
        role = "old"
        if n >= files:
            role, ns = "newer", (NEW + rng.randrange(10**6)) * 10**9 + rng.randrange(10**9)
        tree[rel] = (data, ns, role, rng.choice((0o600, 0o640, 0o644, 0o755)))
    for rel in rng.sample([r for r, v in tree.items() if v[2] == "old"], TAKEN):
        tree[rel] = (tree[rel][0], tree[rel][1], "taken", tree[rel][3])
        # Every other one empty: it holds the start of any file.
        theirs[rel] = b"" if len(theirs) % 2 else b"theirs " + rel.encode()
    makedirs(src, [""] + folders, src_durable)
    makedirs(tgt, [""] + sorted({os.path.dirname(r) for r, v in tree.items() if v[2] == "taken"}),
             tgt_durable)
    for rel, (data, ns, role, mode) in tree.items():
        put(os.path.join(src, rel), data, ns, src_durable, mode)
        if role == "taken":
            put(os.path.join(tgt, rel), theirs[rel], THEIRS * 10**9, tgt_durable)
    for root, durable in ((src, src_durable), (tgt, tgt_durable)):
        if durable:
            for here, _, _ in os.walk(root):
                fsync_path(here)
    return tree

def state(path):
    try:
        st = os.lstat(path)
        with open(path, "rb") as f:
            return f.read(), st.st_mtime_ns, st.st_mode & 0o7777
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

# A build broken on purpose: the syncs it drops (see bench/broken_sync.cpp).
broken_env = None
if os.environ.get("QOR_POWER_CUTS_BROKEN"):
    shim = os.path.join(os.path.dirname(layer), "libqor_broken_sync.so")
    if not os.path.exists(shim):
        sys.exit(f"not built: {shim}")
    broken_env = dict(os.environ, LD_PRELOAD=shim, QOR_BROKEN=os.environ["QOR_POWER_CUTS_BROKEN"])
    print(f"a broken build: {os.environ['QOR_POWER_CUTS_BROKEN']}", flush=True)

def run(src, tgt, log, err, extra):
    proc = subprocess.Popen([cli, "move", "-r", src, tgt, "--before", "2021-01-01", "--log", log,
                             "--json", *extra], stdout=subprocess.PIPE, stderr=err, text=True,
                            env=broken_env)
    with open(f"{work}/cli.pid", "w") as f:  # for the script's clean-up
        f.write(str(proc.pid))
    return proc

def ask(side, command):
    with socket.socket(socket.AF_UNIX) as s:
        s.settimeout(120)
        s.connect(f"{work}/{side}.control")
        s.sendall(command.encode() + b"\n")
        return b"".join(iter(lambda: s.recv(4096), b"")).decode()

def cut(side, pid):
    # The killed run's requests that reach the layer after the cut fail.
    reply = ask(side, f"cut {pid}")
    if reply != "ok\n":
        sys.exit(f"the cut of {side} failed: {reply}")

def shell(*command):
    done = subprocess.run(command, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)}: {done.stdout}{done.stderr}")
    return done.stdout.strip()

def image(disk):
    return f"{tmp}/{disk}.img"

def wait_stopped(pid):
    """Until every thread of the stopped process stands (a thread within a
    sync goes on until that returns): then no write of it is under way while
    a disk is taken, which could leave a later write in the image without an
    earlier one."""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        try:
            states = []
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/stat") as f:
                    states.append(f.read().rsplit(")", 1)[1].split()[0])
        except OSError:
            return  # it ended
        if all(state in "tTZX" for state in states):
            return
        time.sleep(0.001)

def take_disk(disk):
    """The disk as it is now, while the machine stands still: its image."""
    shell("cp", "--sparse=always", image(disk), image(disk) + ".cut")

def bring_back(disk):
    """The machine comes back with the disk as it was taken: the old one
    goes (what the page cache held with it), the image taken is mounted where
    it was, and its file system's journal replays."""
    mnt = f"{work}/{disk}"
    shell("umount", mnt)
    was = [line.split(":")[0] for line in shell("losetup", "-j", image(disk)).splitlines()]
    for device in was:
        shell("losetup", "-d", device)
    os.replace(image(disk) + ".cut", image(disk))
    # On the device it had, as a machine's disk comes back: under another
    # one (a loop beside this one took it meanwhile) the file system's
    # device number changes, which a run's journal records with each file.
    device = was[0] if was else ""
    if not device or subprocess.run(["losetup", "--direct-io=on", device, image(disk)],
                                    capture_output=True, timeout=120).returncode != 0:
        device = shell("losetup", "--direct-io=on", "-f", "--show", image(disk))
    shell("mount", *(["-o", "commit=600"] if disk.startswith("ext4") else []), device, mnt)

def steps(side):
    return int(ask(side, "steps"))

def roots(kind, n):
    src_side, tgt_side, _ = KINDS[kind]
    base = lambda side: tmp if side == "tmpfs" else f"{work}/{side}"
    name = "".join(c if c.isalnum() else "_" for c in kind)
    folder = f"{base(src_side)}/{name}-{n}"
    return f"{folder}/src", f"{base(tgt_side)}/{name}-{n}-t/tgt", src_side, tgt_side

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
    tree = make_tree(src, tgt, on_layer(src_side), on_layer(tgt_side))
    os.mkdir(log_folder(kind, n))
    if on_layer(tgt_side):
        fsync_path(os.path.dirname(tgt))
    if tgt_side == "full":
        # Room for about half the files (and the journal's own room, as on
        # any disk of a useful size): the disk fills up within the run.
        room = sum(len(v[0]) + 4096 for v in tree.values()) // 2
        # "tight": none for the journal either, which the run then loses.
        room += 0 if kind.endswith("tight") else 320 << 10
        st = os.statvfs(tgt)
        put(f"{os.path.dirname(tgt)}/filler", b"\0" * max(st.f_bavail * st.f_frsize - room, 0),
            0, True)
        fsync_path(os.path.dirname(tgt))
    return src, tgt, tree

def check(tree, src, tgt, logs, kind):
    """Problems after the rerun: {category: [rel, ...]}. A file moved is named
    moved once in the logs, one not moved in none; on the full disk some stay."""
    p = {k: [] for k in ("lost", "altered", "twice", "unmoved", "unlogged", "log")}
    counts = {}
    for log in logs:
        for rel, c in logged(log).items():
            counts[rel] = counts.get(rel, 0) + c
    for rel, (data, ns, role, mode) in tree.items():
        at_src, at_tgt = state(f"{src}/{rel}"), state(f"{tgt}/{rel}")
        if role == "old":
            if at_src is None and at_tgt is None:
                p["lost"].append(rel)
            elif any(s is not None and s != (data, ns, mode) for s in (at_src, at_tgt)):
                p["altered"].append(rel)
            if at_src is not None and at_tgt is not None:
                p["twice"].append(rel)
            elif at_src is not None and KINDS[kind][1] != "full":
                p["unmoved"].append(rel)
            named = counts.pop(rel, 0)
            if at_src is None and at_tgt is not None and named == 0:
                p["unlogged"].append(rel)
            elif named != (at_src is None and at_tgt is not None):
                p["log"].append(rel)
        else:
            if at_src is None:
                p["lost"].append(rel)
            elif at_src != (data, ns, mode):
                p["altered"].append(rel)
            if role == "taken" and at_tgt != (theirs[rel], THEIRS * 10**9, 0o644):
                p["altered"].append(rel + " (theirs)")
            if role == "newer" and at_tgt is not None:
                p["altered"].append(rel + " (newer, moved)")
            if rel in counts:
                p["log"].append(rel)
                counts.pop(rel)
    p["log"] += sorted(counts)
    return p

def log_folder(kind, n):
    """Where the runs' logs go: beside the target, on its disk, so that a cut
    takes what of them was not durable too (on tmpfs, what was written)."""
    _, tgt_side, _ = KINDS[kind]
    base = tmp if tgt_side == "tmpfs" else f"{work}/{tgt_side}"
    name = "".join(c if c.isalnum() else "_" for c in kind)
    return f"{base}/{name}-{n}-t/logs"

def at_both(tree, src, tgt):
    return sum(1 for rel, v in tree.items() if v[2] == "old"
               and os.path.lexists(f"{src}/{rel}") and os.path.lexists(f"{tgt}/{rel}"))

def step_name(before, src, tgt):
    """What a frozen step was, as a step of the move: "fsync copy", ..."""
    op, _, path = before.partition(" ")
    name = os.path.basename(path)
    full = os.path.normpath(os.path.join(work, "x" + path)) if path.startswith("/") else ""
    if name.startswith(".qor-journal"):
        what = "journal"
    elif name.startswith(".qor-"):
        what = "own temporary"
    elif path == "(open file)":
        what = "an open file"
    else:
        where = None
        for root, label in ((tgt, "target"), (src, "source")):
            rel = os.path.relpath(root, work)
            side, _, inner = rel.partition("/")
            if path == "/" + inner or path.startswith("/" + inner + "/"):
                where = label
        what = (where or "elsewhere") + (" folder" if op in ("mkdir", "rmdir", "fsyncdir") else "")
    return f"{op} {what}"

def finish(proc, timeout):
    try:
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    return out

failed = False
rows = []
covered = {}
for kind in chosen:
    src_side, tgt_side, extra = KINDS[kind]
    layers = sorted({src_side, tgt_side} & LAYERS)
    disks = sorted({src_side, tgt_side} - LAYERS - {"tmpfs"})
    # Onto another file system the copies go in batches: enough files that a
    # cut lands before, within and after them.
    files = int(files_asked or (600 if src_side != tgt_side else 300))
    # How many steps a whole run takes on each layer: the cuts land anywhere
    # in them.
    src, tgt, tree = prepare(kind, 0)
    before = {side: steps(side) for side in layers}
    started = time.monotonic()
    calibrate_log = f"{log_folder(kind, 0)}/calibrate.log"
    proc = run(src, tgt, calibrate_log, subprocess.DEVNULL, extra)
    finish(proc, 300)
    whole = time.monotonic() - started
    total = {side: steps(side) - before[side] for side in layers}
    problems = check(tree, src, tgt, [calibrate_log], kind)
    if any(problems.values()) or own_names(src, tgt):
        print(f"{kind}: a run without a cut went wrong: "
              f"{ {k: v[:5] for k, v in problems.items() if v} } {own_names(src, tgt)}")
        failed = True
    clear(kind, 0)
    row = {"kind": kind, "cuts": 0, "lost": 0, "altered": 0, "twice": 0, "unmoved": 0, "unlogged": 0, "log": 0,
           "own": 0, "both_cut": 0, "recovered": 0, "journals": 0, "findings": 0,
           "steps": sum(total.values()), "done": 0, "seconds": whole, "failed": 0}
    for n in range(1, cuts + 1):
        t0 = time.monotonic()
        src, tgt, tree = prepare(kind, n)
        t1 = time.monotonic()
        cut_dir = f"{work}/cut"
        shutil.rmtree(cut_dir, ignore_errors=True)
        os.mkdir(cut_dir)
        killed_log, rerun_log = (f"{log_folder(kind, n)}/{name}" for name in ("killed.log",
                                                                               "rerun.log"))
        frozen = ""
        if layers:
            # The step to cut before: anywhere in the run on either layer (by
            # its share of the steps), now and then just past its end.
            side = rng.choices(layers, weights=[max(total[l], 1) for l in layers])[0]
            at = rng.randint(1, max(total[side], 1) * 21 // 20 + 1)
            if ask(side, f"freeze-after {at}") != "armed\n":
                sys.exit(f"the layer {side} could not be armed")
            with open(f"{cut_dir}/killed.err", "w") as err:
                proc = run(src, tgt, killed_log, err, extra)
            deadline = time.monotonic() + 300
            while proc.poll() is None and time.monotonic() < deadline:
                said = ask(side, "frozen")
                if said.startswith("yes "):
                    frozen = said[4:].strip()
                    # The power goes: the whole machine stops at once.
                    proc.send_signal(signal.SIGSTOP)
                    try:  # the killed run's threads, to read a layer's trace by
                        with open(f"{cut_dir}/killed.tids", "w") as f:
                            f.write(" ".join(os.listdir(f"/proc/{proc.pid}/task")) + "\n")
                    except OSError:
                        pass
                    break
                time.sleep(0.002)
        else:
            # A moment of the run, now and then just past its end.
            at = rng.uniform(0, whole * 1.05)
            with open(f"{cut_dir}/killed.err", "w") as err:
                proc = run(src, tgt, killed_log, err, extra)
            time.sleep(at)
            if proc.poll() is None:
                proc.send_signal(signal.SIGSTOP)
                frozen = f"{at:.3f} s into the run"
                wait_stopped(proc.pid)
            for d in disks:
                take_disk(d)
        ended = not frozen
        t2 = time.monotonic()
        if frozen and layers:
            step = step_name(frozen, src, tgt)
            covered[step] = covered.get(step, 0) + 1
        elif not frozen:
            row["done"] += 1
        proc.send_signal(signal.SIGKILL)
        # What was not durable is gone; the requests that waited fail. A
        # disk never reuses before the next commit the room a removal freed,
        # so what is durable always fits on it; the small disk beneath the
        # layer knows nothing of that: it gets some room more for the cut.
        if "full" in layers:
            shell("mount", "-o", f"remount,size={FULL_KIB + 4096}k", f"{work}/full-beneath")
        for l in layers:
            cut(l, proc.pid)
        finish(proc, 60)
        for d in disks:
            bring_back(d)
        t3 = time.monotonic()
        killed_moved = sum(logged(killed_log).values())
        both = at_both(tree, src, tgt)
        row["both_cut"] += both
        journals = [name for name in os.listdir(tgt) if name.startswith(".qor-journal-")]
        row["journals"] += bool(journals)
        after_cut = sorted(own_names(src, tgt))
        for name in journals:
            shutil.copyfile(f"{tgt}/{name}", f"{cut_dir}/{name}")
        # The rerun, to its end.
        with open(f"{cut_dir}/rerun.err", "w") as err:
            proc = run(src, tgt, rerun_log, err, extra)
        out = finish(proc, 300)
        t4 = time.monotonic()
        try:
            summary = json.loads(out.strip().splitlines()[-1])
        except (ValueError, IndexError):
            summary = {}
        row["recovered"] += summary.get("recovered", 0)
        row["failed"] += summary.get("failed", 0)
        problems = check(tree, src, tgt, [killed_log, rerun_log], kind)
        left = own_names(src, tgt)
        if proc.returncode not in (0, 1):
            problems["exit"] = [f"the rerun exited with {proc.returncode}"]
        row["cuts"] += 1
        if os.environ.get("QOR_POWER_CUTS_TELL") == "1":
            print(f"  cut {n} before {frozen or '(ended)'}: killed run logged {killed_moved},"
                  f" at both places {both}, journal {'left' if journals else 'none'},"
                  f" rerun exit {proc.returncode}; s: prepare {t1 - t0:.2f} run {t2 - t1:.2f}"
                  f" cut {t3 - t2:.2f} rerun {t4 - t3:.2f}", flush=True)
        for key in ("lost", "altered", "twice", "unmoved", "unlogged", "log"):
            row[key] += len(problems[key])
        row["own"] += len(left)
        found = bool(any(problems.values()) or left)
        row["findings"] += found
        # A move logged other than once fails: a log entry is on the disk
        # only after its move (renames within one file system are synced
        # before the log is), and before the journal lets go of it.
        if any(problems.values()) or left:
            failed = True
        if found and row["findings"] > 2:
            print(f"FINDING: {kind}, cut {n} before {frozen or '(the run had ended)'}: "
                  f"killed run logged {killed_moved}, at both places after the cut {both}: "
                  f"{ {k: len(v) for k, v in problems.items() if v} }"
                  f"{' .qor-* left: ' + str(left[:4]) if left else ''}")
        elif found:
            where = (f"before step {at} of about {total[side]} on {side}" if layers else
                     f"{at:.3f} s into a run of about {whole:.2f} s")
            print(f"\nFINDING: {kind}, cut {n}: {where}"
                  f" ({frozen or 'the run had ended'}); the killed run had logged {killed_moved}"
                  f" moved; at both places after the cut: {both}; .qor-* after the cut:"
                  f" {after_cut[:8]}")
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
                kept = f"{work}/findings/{kind.replace(' ', '_')}-{n}"
                shutil.copytree(cut_dir, kept)
                shutil.copytree(os.path.dirname(src), f"{kept}/source")
                shutil.copytree(os.path.dirname(tgt), f"{kept}/target")
                for l in layers:  # the layer's last requests, the cut among them
                    with open(f"{kept}/trace-{l}.txt", "w") as f:
                        f.write(ask(l, "trace"))
        clear(kind, n)
        if "full" in layers:
            shell("mount", "-o", f"remount,size={FULL_KIB}k", f"{work}/full-beneath")
    rows.append(row)
    print(f"{kind}: {row['cuts']} cuts of {files} files done", flush=True)

print()
print("| kind                | cuts | lost | altered | twice | unmoved | unlogged | log≠1 | own left |"
      " both after cut | journal left | rerun recovered | rerun failed | steps of a run | ended first | a run |")
for r in rows:
    print(f"| {r['kind']:<19} | {r['cuts']:4} | {r['lost']:4} | {r['altered']:7} | {r['twice']:5} |"
          f" {r['unmoved']:7} | {r['unlogged']:8} | {r['log']:5} | {r['own']:8} | {r['both_cut']:14} |"
          f" {r['journals']:12} | {r['recovered']:15} | {r['failed']:12} | {r['steps']:14} | {r['done']:11} |"
          f" {r['seconds']:4.2f} s |")
late = {side: int(ask(side, "late")) for side in sorted(LAYERS)}
print()
print("Requests let through before a cut that reached a layer only after it, failed (late): "
      + ", ".join(f"{side} {n}" for side, n in late.items()))
print("Steps cut before (the step the layer froze before: cuts):")
for step, count in sorted(covered.items(), key=lambda kv: (-kv[1], kv[0])):
    print(f"  {step}: {count}")
sys.exit(1 if failed else 0)
