#!/usr/bin/env python3
"""Builds the file trees of latency.sh and compare.sh, and judges a move.

  bench_tree.py make ROOT COUNT SIZE [--young-every N] [--collide-in TARGET
                [--collisions K]] [--manifest FILE]
  bench_tree.py check SOURCE TARGET MANIFEST

`make` writes COUNT files of SIZE bytes in folders of 100 (d0000/f000000.dat,
...; QOR_TREE_PER_FOLDER sets another number), each with content of its own, last written on 1 January 2020; with
--young-every N every Nth file is written now instead (a move before
2021-07-20 must leave it). --collide-in puts K files under the same relative
names into TARGET, with other content, which a move must neither replace nor
take the source of. --manifest records what each tree must hold afterwards.

`check` compares both trees with the manifest by name and content and prints
"yes" or "no: " and what is wrong; the exit status is 0 either way.
"""
import hashlib
import json
import os
import sys
import time

OLD = 1577880000  # 2020-01-01 12:00 UTC
# QOR_TREE_PER_FOLDER changes how many files share a folder.
PER_FOLDER = int(os.environ.get("QOR_TREE_PER_FOLDER", "100"))


def relative_name(i):
    return f"d{i // PER_FOLDER:04}/f{i:06}.dat"


def content(i, size, salt=b""):
    head = b"%s%d\n" % (salt, i)
    body = (head * (size // len(head) + 1))[:size]
    return body


def write(path, data, when):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (when, when))


def digest(data):
    return hashlib.sha1(data).hexdigest()


def make(args):
    root, count, size = args[0], int(args[1]), int(args[2])
    options = dict(zip(args[3::2], args[4::2]))
    young_every = int(options.get("--young-every", 0))
    collide_in = options.get("--collide-in")
    collisions = int(options.get("--collisions", 5)) if collide_in else 0
    now = time.time()
    source, target = {}, {}
    # Spread the collisions over the tree, never onto a young file.
    step = max(1, count // (collisions + 1))
    colliding = {i for i in range(step // 2, count, step)[:collisions]
                 if not (young_every and i % young_every == 0)}
    for i in range(count):
        name = relative_name(i)
        data = content(i, size)
        young = young_every and i % young_every == 0
        write(os.path.join(root, name), data, now if young else OLD)
        if young or i in colliding:
            source[name] = digest(data)
        else:
            target[name] = digest(data)
        if i in colliding:
            other = content(i, size, b"already there ")
            write(os.path.join(collide_in, name), other, OLD)
            target[name] = digest(other)
    if "--manifest" in options:
        with open(options["--manifest"], "w") as f:
            json.dump({"source": source, "target": target}, f)


def tree(root):
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                found[os.path.relpath(path, root)] = "link"
                continue
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = digest(f.read())
    return found


def differences(what, expected, found):
    missing = sum(1 for n in expected if n not in found)
    extra = [n for n in found if n not in expected]
    changed = sum(1 for n in expected if n in found and found[n] != expected[n])
    wrong = []
    if missing:
        wrong.append(f"{missing} missing from {what}")
    if extra:
        wrong.append(f"{len(extra)} unexpected in {what} (e.g. {sorted(extra)[0]})")
    if changed:
        wrong.append(f"{changed} with other content in {what}")
    return wrong


def check(args):
    source, target, manifest = args
    with open(manifest) as f:
        expected = json.load(f)
    wrong = (differences("target", expected["target"], tree(target)) +
             differences("source", expected["source"], tree(source)))
    print("yes" if not wrong else "no: " + "; ".join(wrong))


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2:])
