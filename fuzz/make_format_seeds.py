#!/usr/bin/python3
"""Writes the seed corpus of the single-image format harnesses: small files
of each family (gif, tga, pcx, bmp, jpeg) made by Pillow, ImageMagick,
netpbm and libjpeg-turbo, and a few hand-made variants (a GIF with a local
table and extensions, a version-3 PCX, a DCX file, BMP headers with
profiles, a JPEG with a JFXX thumbnail segment), into fuzz/format_seeds/.

Usage: /usr/bin/python3 fuzz/make_format_seeds.py   (from the source tree)
"""
import os
import shutil
import struct
import subprocess
import tempfile

from PIL import Image

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "format_seeds")
W, H = 13, 7


def sh(cmd, cwd):
    subprocess.run(cmd, shell=True, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def put(family, name, data):
    os.makedirs(os.path.join(OUT, family), exist_ok=True)
    with open(os.path.join(OUT, family, name), "wb") as f:
        f.write(data)


def main():
    shutil.rmtree(OUT, ignore_errors=True)
    tmp = tempfile.mkdtemp()
    src = Image.new("RGB", (W, H))
    src.putdata([((x * 19) % 256, (y * 37) % 256, (x * y * 11) % 256) for y in range(H) for x in range(W)])
    src.save(os.path.join(tmp, "src.ppm"))
    read = lambda n: open(os.path.join(tmp, n), "rb").read()

    def pil(family, name, image, **kw):
        image.save(os.path.join(tmp, name), **kw)
        put(family, name, read(name))

    def tool(family, name, cmd):
        sh(cmd, tmp)
        put(family, name, read(name))

    pil("gif", "pil_p16.gif", src.quantize(16))
    pil("gif", "pil_mono.gif", src.convert("1"))
    tool("gif", "im.gif", "convert src.ppm -colors 8 im.gif")
    tool("gif", "nb.gif", "pnmquant 4 src.ppm | ppmtogif > nb.gif")
    # A local table of 4 entries after application and comment extensions.
    g = b"GIF89a" + struct.pack("<HHBBB", W, H, 0x00, 0, 0)
    g += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00" + b"\x21\xfe\x02hi\x00"
    g += b"\x2c" + struct.pack("<HHHHB", 0, 0, W, H, 0x81) + bytes(range(12)) + b"\x02\x02\x4c\x01\x00\x3b"
    put("gif", "local_table.gif", g)

    pil("tga", "pil_rle.tga", src, compression="tga_rle")
    pil("tga", "pil_p.tga", src.quantize(8))
    pil("tga", "pil_rgba.tga", src.convert("RGBA"))
    tool("tga", "nb_rgb.tga", "ppmtotga -rgb -norle src.ppm > nb_rgb.tga")
    tool("tga", "nb_cmap.tga", "pnmquant 8 src.ppm | ppmtotga -cmap > nb_cmap.tga")
    tool("tga", "nb_mono.tga", "ppmtotga -mono src.ppm > nb_mono.tga")

    tool("pcx", "nb_16.pcx", "pnmquant 16 src.ppm | ppmtopcx > nb_16.pcx")
    tool("pcx", "nb_256.pcx", "pnmquant 32 src.ppm | ppmtopcx -8bit > nb_256.pcx")
    tool("pcx", "nb_rgb.pcx", "ppmtopcx -24bit src.ppm > nb_rgb.pcx")
    pil("pcx", "pil_mono.pcx", src.convert("1"))
    v3 = bytearray(read("nb_16.pcx"))
    v3[1] = 3
    put("pcx", "v3_16.pcx", bytes(v3))
    # Pages behind the mark and the whole table of 1024 entries (4100 bytes).
    pages = [read("nb_16.pcx"), read("nb_256.pcx"), read("pil_mono.pcx")]
    at, table = 4100, []
    for p in pages:
        table.append(at)
        at += len(p)
    head = struct.pack("<%dI" % (len(pages) + 1), 987654321, *table)
    put("pcx", "three.dcx", head + bytes(4100 - len(head)) + b"".join(pages))

    tool("bmp", "nb_os2.bmp", "pnmquant 8 src.ppm | ppmtobmp -os2 > nb_os2.bmp")
    tool("bmp", "nb_p.bmp", "pnmquant 16 src.ppm | ppmtobmp > nb_p.bmp")
    pil("bmp", "pil_mono.bmp", src.convert("1"))
    pil("bmp", "pil_rgb.bmp", src)
    pil("bmp", "pil_rgba.bmp", src.convert("RGBA"))
    tool("bmp", "im_565.bmp", "convert src.ppm -define bmp:subtype=RGB565 im_565.bmp")
    tool("bmp", "im_argb.bmp", "convert src.ppm -alpha on im_argb.bmp")
    tool("bmp", "im_rle8.bmp", "convert src.ppm -colors 20 -compress RLE BMP3:im_rle8.bmp")
    # Version-5 headers with an embedded profile after the pixels, and with
    # a linked profile's name.
    pixels = bytes(range(4 * W)) * H
    for name, space, tail in (("v5_embedded.bmp", b"DEBM", b"icc-profile"), ("v5_linked.bmp", b"KNIL", b"sRGB.icc")):
        info = struct.pack("<IiiHHIIiiII", 124, W, H, 1, 32, 3, 0, 3780, 3780, 0, 0)
        info += struct.pack("<IIII", 0xFF0000, 0xFF00, 0xFF, 0) + space + bytes(48)
        info += struct.pack("<IIII", 4, 124 + len(pixels), len(tail), 0)
        head = b"BM" + struct.pack("<IHHI", 14 + len(info) + len(pixels) + len(tail), 0, 0, 14 + len(info))
        put("bmp", name, head + info + pixels + tail)

    tool("jpeg", "cj.jpg", "cjpeg -quality 50 src.ppm > cj.jpg")
    tool("jpeg", "cj_restart.jpg", "cjpeg -restart 1 -optimize src.ppm > cj_restart.jpg")
    pil("jpeg", "pil_grey.jpg", src.convert("L"), dpi=(300, 300))
    # A JFXX thumbnail segment right after the JFIF segment.
    j = read("cj.jpg")
    thumb = b"JFXX\x00\x13" + bytes([2, 1]) + bytes(6)
    put("jpeg", "jfxx.jpg", j[:20] + b"\xff\xe0" + struct.pack(">H", 2 + len(thumb)) + thumb + j[20:])
    shutil.rmtree(tmp)


main()
