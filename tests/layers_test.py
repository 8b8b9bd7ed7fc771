#!/usr/bin/env python3
"""Fails on an #include that reaches up a layer or across format folders,
and on a file type named outside the format's own row.

The library's folders form layers, each of which may include only itself
and the layers below it:

    platform <- fileio <- storage <- frame <- formats/common <- formats/<type>

A format's folder includes neither another format's folder nor anything
above the frame; formats/common includes no format folder. The public
header (include/) is open to every layer. The registration file that names
every format (the format table) is the one place allowed to include the
format folders' row headers. A file type code (FILETYPE_...) stands only
in the row that a format fills in: nothing else switches on a file type.
"""
import pathlib
import re
import sys

LAYERS = ["platform", "fileio", "storage", "frame", "formats/common", "formats/*"]
# The files that name every format: they include each format's row header.
REGISTRATION = {"frame/format_table.cpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
FILE_TYPE = re.compile(r"\bFILETYPE_[A-Z0-9_]+")
ROW_TYPE = re.compile(r"^\s*\.fileType = FILETYPE_[A-Z0-9_]+,")


def folder_of(path):
    """The layer folder of a path relative to the root: formats/<type> for
    a format, else its top folder; None outside the library."""
    parts = pathlib.PurePosixPath(path).parts
    if not parts:
        return None
    if parts[0] == "formats" and len(parts) > 2:
        return "formats/" + parts[1]
    if parts[0] in ("platform", "fileio", "storage", "frame"):
        return parts[0]
    return None


def rank(folder):
    if folder == "formats/common":
        return LAYERS.index("formats/common")
    if folder.startswith("formats/"):
        return LAYERS.index("formats/*")
    return LAYERS.index(folder)


def violations(root):
    found = []
    for src in sorted(root.rglob("*")):
        if src.suffix not in (".h", ".cpp") or not src.is_file():
            continue
        rel = src.relative_to(root).as_posix()
        here = folder_of(rel)
        if here is None:
            continue
        text = src.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            if FILE_TYPE.search(ROW_TYPE.sub("", line)):
                found.append(f"{rel}:{number}: names a file type outside its format's row")
        for target in INCLUDE.findall(text):
            there = folder_of(target)
            if there is None:
                if "/" in target and not (root / "include" / target).exists():
                    found.append(f"{rel}: includes {target}, outside the library's folders")
                continue
            if there == here:
                continue
            if rel in REGISTRATION and there.startswith("formats/"):
                continue
            if rank(there) > rank(here):
                found.append(f"{rel}: includes {target}, a layer above ({there} over {here})")
            elif rank(there) == rank(here):
                found.append(f"{rel}: includes {target}, another format's folder")
    return found


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    found = violations(root)
    for line in found:
        print(line)
    checked = sum(1 for p in root.rglob("*") if p.suffix in (".h", ".cpp") and folder_of(p.relative_to(root).as_posix()))
    print(f"layers: {checked} files checked")
    print(f"{0 if found else 1} passed, {1 if found else 0} failed")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
