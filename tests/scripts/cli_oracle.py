#!/usr/bin/python3
"""Independent views of TIFF files for the qvtav command-line tests: libtiff's
tiffinfo gives page information and raw strip positions, PIL decodes pixels.

  check-info JSONFILE TIFF   info --json output agrees with tiffinfo
  raw-strips TIFF PAGE OUT   the page's strips as libtiff finds them
  strip-counts TIFF PAGE     the page's byte counts, one line
  same-pixels A PAGE B PAGE  both pages decode to the same pixels
  make TIFF KIND             KIND short1, long1, short3: byte counts of that
                             type and strip count, 500 bytes behind the strips
  xiff TIFF OUT MARK         the TIFF with MARK ("xerox" or "extended") behind
                             its header, every offset moved behind the mark
  same-image A PAGE B        image B shows page PAGE of A, resampled by nearest
                             neighbour to B's size when that differs
"""
import json
import re
import struct
import subprocess
import sys

COMPRESSION = {"None": 1, "CCITT Group 4": 4, "LZW": 5, "PackBits": 6}
PHOTOMETRIC = {"min-is-white": (9, 5), "min-is-black": (10, 11), "RGB": (8, 8), "palette": (7, 7)}
FIELDS = [(r"Image Width: (\d+) Image Length: (\d+)", ("width", "length")), (r"Bits/Sample: (\d+)", ("bits",)),
          (r"Samples/Pixel: (\d+)", ("samples",)), (r"Rows/Strip: (\d+)", ("rows",)),
          (r"Compression Scheme: (.*)$", ("compression",)), (r"Photometric Interpretation: (\S+)", ("photometric",)),
          (r"Resolution: ([\d.]+),", ("xres",))]


def tiffinfo_pages(path):
    out = subprocess.run(["tiffinfo", "-s", path], capture_output=True, text=True, errors="replace").stdout
    pages = []
    for line in out.splitlines():
        if line.startswith("=== TIFF directory"):
            pages.append({"strips": [], "bits": 1, "samples": 1})
            continue
        for pattern, names in FIELDS:
            m = re.search(pattern, line)
            if m and pages:
                pages[-1].update(zip(names, (int(v) if v.isdigit() else float(v) if re.fullmatch(r"[\d.]+", v)
                                             else v.strip() for v in m.groups())))
        m = re.match(r"\s+\d+: \[\s*(\d+),\s*(\d+)\]", line)
        if m and pages:
            pages[-1]["strips"].append((int(m.group(1)), int(m.group(2))))
    return pages


def check_info(json_path, tiff):
    j = json.loads(open(json_path, encoding="utf-8").readline())
    ref = tiffinfo_pages(tiff)
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append("%s: qvtav says %r, libtiff %r" % (what, got, want))

    expect("page count", j["pageCount"], len(ref))
    for n, (q, r) in enumerate(zip(j["pages"], ref), start=1):
        counts = [c for _, c in r["strips"]]
        photo = PHOTOMETRIC.get(r["photometric"], (None, None))[r["bits"] != 1]
        x = q["xResolution"]
        for what, got, want in [("width", q["width"], r["width"]), ("length", q["length"], r["length"]),
                                ("bits", q["bitsPerSample"][0], r["bits"]), ("samples", q["samplesPerPixel"], r["samples"]),
                                ("compression", q["compression"], COMPRESSION.get(r["compression"])),
                                ("photometric", q["photometric"], photo), ("rows per strip", q["rowsPerStrip"], r.get("rows")),
                                ("strip bytes", q["stripBytes"], counts), ("stored bytes", q["storedBytes"], sum(counts)),
                                ("x resolution", round(x["numerator"] / max(x["denominator"], 1), 2), round(r.get("xres", 0), 2))]:
            if what != "rows per strip" or "rows" in r:
                expect("page %d %s" % (n, what), got, want)
    if problems:
        print("\n".join(problems))
    return 1 if problems else 0


def raw_strips(tiff, page, out):
    with open(tiff, "rb") as f, open(out, "wb") as o:
        for off, count in tiffinfo_pages(tiff)[int(page) - 1]["strips"]:
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
        print("pixels differ: %s page %s and %s page %s" % (a, pa, b, pb))
        return 1
    return 0


def make(path, kind):
    """An 8-bit grey page of 64 x 12 pixels: directory, strip tables, strips."""
    width, length, n = 64, 12, 3 if kind == "short3" else 1
    typ, rows, data = 3 if kind.startswith("short") else 4, length // n, 8 + 2 + 12 * 10 + 4 + (8 * n if n > 1 else 0)
    size = rows * width

    def entry(tag, t, count, value):
        return struct.pack("<HHIHH" if t == 3 and count == 1 else "<HHII", tag, t, count, value, *([0] if t == 3 and count == 1 else []))

    tables = b""
    if n == 1:
        offs, cnts = entry(273, 4, 1, data), entry(279, typ, 1, size)
    else:
        tables = struct.pack("<" + ("H" if typ == 3 else "I") * n, *[size] * n).ljust(4 * n, b"\0")
        tables += struct.pack("<%dI" % n, *[data + i * size for i in range(n)])
        offs, cnts = entry(273, 4, n, data - 4 * n), entry(279, typ, n, data - 8 * n)
    entries = [entry(254, 4, 1, 0), entry(256, 3, 1, width), entry(257, 3, 1, length), entry(258, 3, 1, 8),
               entry(259, 3, 1, 1), entry(262, 3, 1, 1), offs, entry(277, 3, 1, 1), entry(278, 3, 1, rows), cnts]
    blob = b"II*\0" + struct.pack("<IH", 8, 10) + b"".join(entries) + b"\0" * 4 + tables
    assert len(blob) == data
    pixels = bytes((x * 4 + y * 7) & 0xFF for y in range(length) for x in range(width))
    open(path, "wb").write(blob + pixels + bytes(range(250)) * 2)
    return 0


# Tags whose values are file offsets.
OFFSET_TAGS = {273, 288, 324, 330, 513, 34665, 34853}
TYPE_SIZES = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 6: 1, 7: 1, 8: 2, 9: 4, 10: 8, 11: 4, 12: 8, 13: 4}
MARKS = {"xerox": b"XEROX DIFF\x01\x00", "extended": b" eXtended\x00"}


def xiff(tiff, out, mark):
    """Inserts the mark at offset 8 and moves every offset of the file behind it."""
    data = open(tiff, "rb").read()
    order = "<" if data[:2] == b"II" else ">"
    extra = MARKS[mark]
    shift = len(extra)
    new = bytearray(data[:8] + extra + data[8:])

    def at(pos):  # a position of the old file in the new one
        return pos + shift if pos >= 8 else pos

    def move(fmt, pos):
        (v,) = struct.unpack_from(order + fmt, data, pos)
        struct.pack_into(order + fmt, new, at(pos), v + shift)

    move("I", 4)
    ifd = struct.unpack_from(order + "I", data, 4)[0]
    while ifd:
        (count,) = struct.unpack_from(order + "H", data, ifd)
        for k in range(count):
            e = ifd + 2 + 12 * k
            tag, typ, n = struct.unpack_from(order + "HHI", data, e)
            size = TYPE_SIZES.get(typ, 1) * n
            values = e + 8
            if size > 4:
                values = struct.unpack_from(order + "I", data, e + 8)[0]
                move("I", e + 8)
            if tag in OFFSET_TAGS and typ in (3, 4, 13):
                for i in range(n):
                    move("H" if typ == 3 else "I", values + TYPE_SIZES[typ] * i)
        next_at = ifd + 2 + 12 * count
        ifd = struct.unpack_from(order + "I", data, next_at)[0]
        if ifd:
            move("I", next_at)
    open(out, "wb").write(new)
    return 0


def same_image(a, page, b):
    from PIL import Image
    ia, ib = Image.open(a), Image.open(b)
    ia.seek(int(page) - 1)
    ref = ia.convert("RGB")
    if ref.size != ib.size:
        ref = ref.resize(ib.size, Image.NEAREST)
    if ref.tobytes() != ib.convert("RGB").tobytes():
        print("%s differs from %s page %s" % (b, a, page))
        return 1
    return 0


if __name__ == "__main__":
    commands = {"check-info": check_info, "raw-strips": raw_strips, "strip-counts": strip_counts,
                "same-pixels": same_pixels, "make": make, "xiff": xiff, "same-image": same_image}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        print(__doc__)
        sys.exit(2)
    sys.exit(commands[sys.argv[1]](*sys.argv[2:]))
