#!/usr/bin/python3
"""Independent views of TIFF files for the qvtav command-line tests.

libtiff's tiffinfo gives the page information and the raw strip positions,
PIL decodes pixels, and a few hand-built files cover what the usual writers
never produce (SHORT strip byte counts, data behind the last strip).

  cli_oracle.py check-info JSONFILE TIFF   info --json output agrees with tiffinfo
  cli_oracle.py raw-strips TIFF PAGE OUT   the page's strips as libtiff finds them
  cli_oracle.py strip-counts TIFF PAGE     the page's byte counts, one line
  cli_oracle.py same-pixels A PAGE B PAGE  both pages decode to the same pixels
  cli_oracle.py make TIFF KIND             KIND: short1, long1, short3
  cli_oracle.py json-field JSONFILE EXPR   prints a field of the first object (Python expr on j)
"""
import json
import re
import struct
import subprocess
import sys

COMPRESSION = {"None": 1, "CCITT modified Huffman RLE": 2, "CCITT Group 3": 3,
               "CCITT Group 4": 4, "LZW": 5, "PackBits": 6}


def tiffinfo_pages(path):
    out = subprocess.run(["tiffinfo", "-s", path], capture_output=True, text=True,
                         errors="replace").stdout
    pages = []
    page = None
    for line in out.splitlines():
        if line.startswith("=== TIFF directory"):
            page = {"strips": []}
            pages.append(page)
            continue
        if page is None:
            continue
        m = re.search(r"Image Width: (\d+) Image Length: (\d+)", line)
        if m:
            page["width"], page["length"] = int(m.group(1)), int(m.group(2))
        m = re.match(r"\s+Bits/Sample: (\d+)", line)
        if m:
            page["bits"] = int(m.group(1))
        m = re.match(r"\s+Samples/Pixel: (\d+)", line)
        if m:
            page["samples"] = int(m.group(1))
        m = re.match(r"\s+Rows/Strip: (\d+)", line)
        if m:
            page["rows"] = int(m.group(1))
        m = re.match(r"\s+Compression Scheme: (.*)$", line)
        if m:
            page["compression"] = m.group(1).strip()
        m = re.match(r"\s+Photometric Interpretation: (.*)$", line)
        if m:
            page["photometric"] = m.group(1).strip()
        m = re.match(r"\s+Resolution: ([\d.]+), ([\d.]+)", line)
        if m:
            page["xres"], page["yres"] = float(m.group(1)), float(m.group(2))
        m = re.match(r"\s+\d+: \[\s*(\d+),\s*(\d+)\]", line)
        if m:
            page["strips"].append((int(m.group(1)), int(m.group(2))))
    return pages


def photometric_code(name, bits):
    if name.startswith("min-is-white"):
        return 9 if bits == 1 else 5
    if name.startswith("min-is-black"):
        return 10 if bits == 1 else 11
    if name.startswith("RGB"):
        return 8
    if name.startswith("palette"):
        return 7
    if name.startswith("YCbCr"):
        return 12
    return None


def check_info(json_path, tiff):
    with open(json_path, encoding="utf-8") as f:
        j = json.loads(f.readline())
    ref = tiffinfo_pages(tiff)
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append("%s: qvtav says %r, libtiff %r" % (what, got, want))

    expect("page count", j["pageCount"], len(ref))
    for n, (q, r) in enumerate(zip(j["pages"], ref), start=1):
        p = "page %d " % n
        if "error" in q:
            problems.append(p + "unreadable: " + q["error"]["message"])
            continue
        expect(p + "width", q["width"], r["width"])
        expect(p + "length", q["length"], r["length"])
        expect(p + "bits", q["bitsPerSample"][0], r.get("bits", 1))
        expect(p + "samples", q["samplesPerPixel"], r.get("samples", 1))
        expect(p + "compression", q["compression"], COMPRESSION.get(r["compression"]))
        expect(p + "photometric", q["photometric"], photometric_code(r["photometric"], r.get("bits", 1)))
        if "rows" in r:
            expect(p + "rows per strip", q["rowsPerStrip"], r["rows"])
        expect(p + "strips", q["strips"], len(r["strips"]))
        expect(p + "strip bytes", q.get("stripBytes"), [c for _, c in r["strips"]])
        expect(p + "stored bytes", q["storedBytes"], sum(c for _, c in r["strips"]))
        if "xres" in r:
            x = q["xResolution"]
            expect(p + "x resolution", round(x["numerator"] / max(x["denominator"], 1), 2), round(r["xres"], 2))
    if problems:
        print("\n".join(problems))
        return 1
    return 0


def raw_strips(tiff, page, out):
    strips = tiffinfo_pages(tiff)[int(page) - 1]["strips"]
    with open(tiff, "rb") as f, open(out, "wb") as o:
        for off, count in strips:
            f.seek(off)
            o.write(f.read(count))
    return 0


def strip_counts(tiff, page):
    print(" ".join(str(c) for _, c in tiffinfo_pages(tiff)[int(page) - 1]["strips"]))
    return 0


def same_pixels(a, pa, b, pb):
    from PIL import Image
    ia, ib = Image.open(a), Image.open(b)
    ia.seek(int(pa) - 1)
    ib.seek(int(pb) - 1)
    if ia.size != ib.size or ia.mode != ib.mode or ia.tobytes() != ib.tobytes():
        print("pixels differ: %s page %s (%s %s) and %s page %s (%s %s)"
              % (a, pa, ia.size, ia.mode, b, pb, ib.size, ib.mode))
        return 1
    return 0


def make(path, kind):
    """An 8-bit grey page of 64 x 12 pixels, uncompressed, directory first,
    then the strips, then 500 bytes that belong to no strip."""
    width, length = 64, 12
    pixels = bytes((x * 4 + y * 7) & 0xFF for y in range(length) for x in range(width))
    nstrips = 3 if kind == "short3" else 1
    rows = length // nstrips
    count_type = 3 if kind.startswith("short") else 4
    entries = []
    n_entries = 10
    ifd = 8
    data = ifd + 2 + 12 * n_entries + 4
    arrays = data
    if nstrips > 1:
        data = arrays + 8 * nstrips  # room for both arrays
    strip_len = rows * width
    offsets = [data + i * strip_len for i in range(nstrips)]
    counts = [strip_len] * nstrips

    def entry(tag, typ, count, value):
        if typ == 3 and count == 1:
            return struct.pack("<HHIHH", tag, typ, count, value, 0)
        return struct.pack("<HHII", tag, typ, count, value)

    if nstrips == 1:
        offs_entry = entry(273, 4, 1, offsets[0])
        cnt_entry = entry(279, count_type, 1, counts[0])
        arrays_blob = b""
    else:
        cnt_pos = arrays
        offs_pos = arrays + 4 * nstrips
        cnt_blob = b"".join(struct.pack("<H" if count_type == 3 else "<I", c) for c in counts)
        cnt_blob += b"\0" * (4 * nstrips - len(cnt_blob))
        offs_blob = b"".join(struct.pack("<I", o) for o in offsets)
        offs_entry = entry(273, 4, nstrips, offs_pos)
        cnt_entry = entry(279, count_type, nstrips, cnt_pos)
        arrays_blob = cnt_blob + offs_blob
    entries = [entry(254, 4, 1, 0), entry(256, 3, 1, width), entry(257, 3, 1, length),
               entry(258, 3, 1, 8), entry(259, 3, 1, 1), entry(262, 3, 1, 1), offs_entry,
               entry(277, 3, 1, 1), entry(278, 3, 1, rows), cnt_entry]
    assert len(entries) == n_entries
    blob = b"II" + struct.pack("<HI", 42, ifd) + struct.pack("<H", n_entries) + b"".join(entries)
    blob += struct.pack("<I", 0) + arrays_blob
    assert len(blob) == data
    blob += pixels + bytes(range(250)) * 2
    with open(path, "wb") as f:
        f.write(blob)
    return 0


def json_field(path, expr):
    with open(path, encoding="utf-8") as f:
        j = json.loads(f.readline())
    print(eval(expr, {}, {"j": j}))
    return 0


def main(argv):
    commands = {"check-info": check_info, "raw-strips": raw_strips, "strip-counts": strip_counts,
                "same-pixels": same_pixels, "make": make, "json-field": json_field}
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__)
        return 2
    return commands[argv[1]](*argv[2:])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
