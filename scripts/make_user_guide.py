#!/usr/bin/env python3
"""Writes the Windows user guide: make_user_guide.py VERSION OUT.

The guide is resources/win32/user-guide.in, whose "@shared NAME@" lines take
the README's parts marked "<!-- shared: NAME -->" ... "<!-- /shared -->", so
that the two never tell different stories. Markdown is made plain text for
Notepad: no emphasis marks, backquotes or pictures, tables as paragraphs,
Windows line ends, and UTF-8 with a byte-order mark (Notepad before Windows
10 1903 takes text without one for the local code page)."""
import re
import sys
from pathlib import Path

root = Path(__file__).resolve().parent.parent


def shared_parts(readme):
    parts = {}
    for m in re.finditer(r"<!-- shared: ([\w-]+) -->\n(.*?)\n<!-- /shared -->", readme, re.S):
        parts[m.group(1)] = m.group(2)
    return parts


def plain(markdown):
    lines = []
    in_block = False
    for line in markdown.splitlines():
        if line.startswith("!["):
            continue  # no picture comes with the guide
        if line.startswith("```"):
            in_block = not in_block  # the block's lines stay, indented
            continue
        if in_block:
            lines.append("    " + line)
            continue
        if line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if set("".join(cells)) <= set("-: ") or cells[0] == "Title":
                continue  # the rule under the head, and the head
            lines.append(f"- {cells[0]}: " + ": ".join(cells[1:-1]) + ".")
            lines.append(f"  {cells[-1]}")
            continue
        lines.append(line)
    text = "\n".join(lines)
    text = re.sub(r"\*\*(.+?)\*\*", r"\1", text)
    text = re.sub(r"(?<!\w)\*(\S.*?)\*(?!\w)", r"\1", text)
    text = re.sub(r"`([^`]*)`", r'"\1"', text)
    text = re.sub(r"\[([^]]+)\]\(([^)]+)\)", r"\1", text)
    return text


def guide(version):
    readme = (root / "README.md").read_text(encoding="utf-8")
    parts = shared_parts(readme)
    out = []
    for line in (root / "resources/win32/user-guide.in").read_text(encoding="utf-8").splitlines():
        m = re.fullmatch(r"@shared ([\w-]+)@", line)
        if m:
            if m.group(1) not in parts:
                sys.exit(f"make_user_guide: the README marks no part '{m.group(1)}'")
            out.append(plain(parts[m.group(1)]))
        else:
            out.append(line.replace("@VERSION@", version))
    return "\n".join(out) + "\n"


def main():
    version, target = sys.argv[1], sys.argv[2]
    text = guide(version)
    Path(target).write_bytes(b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8"))


if __name__ == "__main__":
    main()
