#!/usr/bin/env python3
"""Lists a compound file through olefile, the independent reader the storage
tests compare the engine with: one line per element, "path kind size hash"
(FNV-1a 64 of a stream's bytes), sorted. With --check it also reads the file
strictly and checks that each storage's children form a red-black tree in
the format's name order, printing one line per fault found."""
import sys

import olefile


def esc(name):
    return ''.join(c if ord(c) >= 0x20 else '\\x%02x' % ord(c) for c in name)


def fnv(data):
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return '%016x' % h


def key(entry):
    return (len(entry.name), entry.name.upper())


def check_tree(ole, sid, faults, where):
    """Black height of the subtree at sid, checking order and colours."""
    if sid == olefile.NOSTREAM:
        return 1
    e = ole.direntries[sid]
    kids = [ole.direntries[s] for s in (e.sid_left, e.sid_right) if s != olefile.NOSTREAM]
    if e.color == 0 and any(k.color == 0 for k in kids):
        faults.append('%s: red %s has a red child' % (where, esc(e.name)))
    if e.sid_left != olefile.NOSTREAM and key(ole.direntries[e.sid_left]) >= key(e):
        faults.append('%s: %s out of order' % (where, esc(e.name)))
    if e.sid_right != olefile.NOSTREAM and key(ole.direntries[e.sid_right]) <= key(e):
        faults.append('%s: %s out of order' % (where, esc(e.name)))
    left = check_tree(ole, e.sid_left, faults, where)
    right = check_tree(ole, e.sid_right, faults, where)
    if left != right:
        faults.append('%s: black heights differ below %s' % (where, esc(e.name)))
    return left + (1 if e.color == 1 else 0)


def main():
    check = '--check' in sys.argv
    path = [a for a in sys.argv[1:] if a != '--check'][0]
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT if check else olefile.DEFECT_FATAL)
    lines = []
    for entry in ole.listdir(streams=True, storages=True):
        name = '/' + '/'.join(esc(e) for e in entry)
        if ole.get_type(entry) == olefile.STGTY_STREAM:
            data = ole.openstream(entry).read()
            lines.append('%s stream %d %s' % (name, len(data), fnv(data)))
        else:
            lines.append('%s storage' % name)
    for line in sorted(lines):
        print(line)
    if check:
        faults = []
        for sid, e in enumerate(ole.direntries):
            if e is not None and e.entry_type in (olefile.STGTY_STORAGE, olefile.STGTY_ROOT):
                if e.sid_child != olefile.NOSTREAM and ole.direntries[e.sid_child].color != 1:
                    faults.append('%s: red root' % esc(e.name))
                check_tree(ole, e.sid_child, faults, esc(e.name))
        for f in faults:
            print('FAULT ' + f)


main()
