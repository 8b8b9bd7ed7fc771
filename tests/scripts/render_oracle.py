#!/usr/bin/python3
"""Independent checks of the images qvtav render and qvtav sheet write.

  same SRC FRAME PNG [TOLERANCE] [MODE]
        PNG shows frame FRAME (from 1) of SRC as Pillow decodes it, pixel by
        pixel (16-bit grey by value), every sample within TOLERANCE (0); the
        PNG opens in Pillow's mode MODE when it is given
  same16 SRC PNG
        ImageMagick reads both as the same 16-bit RGBA samples
  stretched SRC PNG
        PNG is SRC (Pillow) stretched by nearest neighbour to the true aspect
        of its resolution: the direction of the lower one grows
  sheet PNG PAGES WIDTH
        a contact sheet of PAGES white pages at most WIDTH pixels wide: one
        white thumbnail per page, each with dark ink (its number) under it,
        numbers of two digits wider than those of one
  line-visible PNG
        the thumbnail of a one-page sheet of a white page crossed by a thin
        line is parted by rows that are neither white nor black: the line
        shrunk by area averaging
"""
import subprocess
import sys

from PIL import Image, ImageChops

SIXTEEN_BIT = ("I", "I;16", "I;16B", "I;16L")


def load(path, frame=1):
    im = Image.open(path)
    im.seek(frame - 1)
    im.load()
    return im


def has_alpha(im):
    return im.mode in ("RGBA", "LA", "La", "RGBa")


def values(im, alpha):
    """The image's pixels in one comparable form: 16-bit grey by value, else
    RGB or (alpha set) RGBA tuples."""
    if im.mode in SIXTEEN_BIT:
        return list(im.getdata())
    return list(im.convert("RGBA" if alpha else "RGB").getdata())


def differ(a, b, tolerance):
    if isinstance(a, int):
        return abs(a - b) > tolerance
    return len(a) != len(b) or any(abs(x - y) > tolerance for x, y in zip(a, b))


def same(src, frame, png, tolerance="0", mode=None):
    ref, got = load(src, int(frame)), load(png)
    if mode is not None and got.mode != mode:
        print("%s opens as %s, not %s" % (png, got.mode, mode))
        return 1
    if ref.size != got.size:
        print("%s is %dx%d, %s frame %s %dx%d" % (png, *got.size, src, frame, *ref.size))
        return 1
    # Alpha is compared when both have it (a BMP's alpha the library drops).
    alpha = has_alpha(ref) and has_alpha(got)
    a, b = values(ref, alpha), values(got, alpha)
    for k, (p, q) in enumerate(zip(a, b)):
        if differ(p, q, int(tolerance)):
            print("%s differs from %s frame %s at (%d, %d): %r, not %r" % (png, src, frame, k % ref.width,
                                                                         k // ref.width, q, p))
            return 1
    return 0


def magick16(path):
    return subprocess.run(["convert", path, "-depth", "16", "rgba:-"], check=True, capture_output=True).stdout


def same16(src, png):
    if magick16(src) != magick16(png):
        print("%s and %s differ as 16-bit samples" % (src, png))
        return 1
    return 0


def stretched(src, png):
    ref, got = load(src), load(png)
    xres, yres = ref.info["dpi"]
    w, h = ref.size
    want = (w, round(h * xres / yres)) if xres > yres else (round(w * yres / xres), h)
    if got.size != want:
        print("%s is %dx%d, the true aspect of %s is %dx%d" % (png, *got.size, src, *want))
        return 1
    if ref.resize(want, Image.NEAREST).convert("RGB").tobytes() != got.convert("RGB").tobytes():
        print("%s is not %s stretched" % (png, src))
        return 1
    return 0


def spans(flags):
    """(start, end) of each run of true values."""
    out, start = [], None
    for k, f in enumerate(list(flags) + [False]):
        if f and start is None:
            start = k
        elif not f and start is not None:
            out.append((start, k))
            start = None
    return out


def white_boxes(im):
    """The bounding boxes of the white areas of a sheet whose thumbnails lie
    in a grid: the columns that hold white, then the rows of each."""
    r, g, b = im.convert("RGB").split()
    white = [c.point(lambda v: 255 if v == 255 else 0) for c in (r, g, b)]
    mask = ImageChops.darker(white[0], ImageChops.darker(white[1], white[2]))
    boxes = []
    for x0, x1 in spans(v > 0 for v in mask.resize((im.width, 1), Image.BOX).getdata()):
        strip = mask.crop((x0, 0, x1, im.height))
        for y0, y1 in spans(v > 0 for v in strip.resize((1, im.height), Image.BOX).getdata()):
            boxes.append((x0, y0, x1, y1))
    return sorted(boxes, key=lambda b: (b[1], b[0]))


def ink_width(im, box):
    """Width of the dark pixels (below 100) in the band under a box."""
    x0, y0, x1, y1 = box
    band = im.convert("L").crop((max(0, x0 - 20), y1 + 1, min(im.width, x1 + 20), min(im.height, y1 + 30)))
    dark = [x for x in range(band.width) if any(band.getpixel((x, y)) < 100 for y in range(band.height))]
    return max(dark) - min(dark) + 1 if dark else 0


def sheet(png, pages, width):
    im = load(png)
    if im.width > int(width):
        print("%s is %d pixels wide, more than %s" % (png, im.width, width))
        return 1
    boxes = white_boxes(im)
    if len(boxes) != int(pages):
        print("%s shows %d thumbnails, not %s" % (png, len(boxes), pages))
        return 1
    widths = [ink_width(im, b) for b in boxes]
    if min(widths) == 0:
        print("%s: no number under thumbnail %d" % (png, widths.index(0) + 1))
        return 1
    if int(pages) >= 10 and not min(widths[9:]) > max(widths[:9]):
        print("%s: the numbers from 10 are not wider than those below" % png)
        return 1
    return 0


def line_visible(png):
    im = load(png).convert("L")
    boxes = white_boxes(im)
    if len(boxes) != 2 or boxes[0][0] != boxes[1][0]:
        print("%s: the line does not part the thumbnail in two (%d white areas)" % (png, len(boxes)))
        return 1
    x0, _, x1, top = boxes[0]
    line = [im.getpixel((x, y)) for x in range(x0, x1) for y in range(top, boxes[1][1])]
    if not all(60 < v < 250 for v in line):
        print("%s: the line is black or partly gone (%d to %d), not averaged" % (png, min(line), max(line)))
        return 1
    return 0


if __name__ == "__main__":
    commands = {"same": same, "same16": same16, "stretched": stretched, "sheet": sheet, "line-visible": line_visible}
    if len(sys.argv) < 2 or sys.argv[1] not in commands:
        print(__doc__)
        sys.exit(2)
    sys.exit(commands[sys.argv[1]](*sys.argv[2:]))
