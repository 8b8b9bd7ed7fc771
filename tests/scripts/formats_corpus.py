#!/usr/bin/python3
"""Makes GIF, PCX, BMP, Targa and JPEG files with independent writers
(Pillow, ImageMagick, netpbm, libjpeg-turbo) in the directory given, then
prints what Pillow reads from each, one line per fact:

  file NAME        a new file; the lines below describe it
  size W H
  mode MODE        Pillow's mode
  offset N         where Pillow's decoder starts reading (-1: not known)
  palette HEX      the palette as red, green, blue triples (palette modes)
  row HEX          a decoded RGB row, top to bottom (BMP pages of 16 and 32 bits)

A writer that is missing or fails leaves its files out.
"""
import os
import subprocess
import sys

from PIL import Image

d = sys.argv[1]
os.chdir(d)


def sh(cmd):
    return subprocess.run(cmd, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


# A source picture: odd width, so rows need padding in BMP.
W, H = 37, 23
src = Image.new("RGB", (W, H))
src.putdata([((x * 7 + y * 3) % 256, (x * y * 5) % 256, (255 - x * 6) % 256) for y in range(H) for x in range(W)])
src.save("src.ppm")
grey = src.convert("L")
grey.save("grey.pgm")

made = []


def pil(name, image, **kw):
    image.save(name, **kw)
    made.append(name)


def tool(name, cmd):
    if sh(cmd) and os.path.getsize(name) > 0:
        made.append(name)


p256 = src.quantize(256)
p16 = src.quantize(16)
mono = src.convert("1")
pil("pil_p256.gif", p256)
pil("pil_p16.gif", p16)
pil("pil_mono.gif", mono)
pil("pil_rgb.bmp", src)
pil("pil_p256.bmp", p256)
pil("pil_mono.bmp", mono)
pil("pil_rgba.bmp", src.convert("RGBA"))
pil("pil_p256.pcx", p256)
pil("pil_rgb.pcx", src)
pil("pil_mono.pcx", mono)
pil("pil_rgb.tga", src)
pil("pil_rle.tga", src, compression="tga_rle")
pil("pil_p256.tga", p256)
pil("pil_grey.tga", grey)
pil("pil_rgb.jpg", src, dpi=(300, 300))
pil("pil_grey.jpg", grey)
pil("pil_progressive.jpg", src, progressive=True)

tool("im.gif", "convert src.ppm -colors 64 im.gif")
tool("im_rgb.bmp", "convert src.ppm BMP3:im_rgb.bmp")
tool("im_argb.bmp", "convert src.ppm -alpha on -channel A -evaluate set 50% im_argb.bmp")
tool("im_555.bmp", "convert src.ppm -define bmp:subtype=RGB555 im_555.bmp")
tool("im_565.bmp", "convert src.ppm -define bmp:subtype=RGB565 im_565.bmp")
tool("im_p.bmp", "convert src.ppm -colors 100 -type Palette BMP3:im_p.bmp")
tool("im_rgb.pcx", "convert src.ppm im_rgb.pcx")
tool("im_p.pcx", "convert src.ppm -colors 16 -type Palette im_p.pcx")
tool("im_rgb.tga", "convert src.ppm im_rgb.tga")
tool("im_rle.tga", "convert src.ppm -compress RLE im_rle.tga")
tool("im.jpg", "convert src.ppm -quality 80 -units PixelsPerCentimeter -density 40 im.jpg")
tool("nb_rgb.pcx", "ppmtopcx src.ppm > nb_rgb.pcx")
tool("nb_16.pcx", "pnmquant 16 src.ppm | ppmtopcx > nb_16.pcx")
tool("nb_256.pcx", "pnmquant 256 src.ppm | ppmtopcx > nb_256.pcx")
tool("nb_rgb.bmp", "ppmtobmp src.ppm > nb_rgb.bmp")
tool("nb_p.bmp", "pnmquant 200 src.ppm | ppmtobmp > nb_p.bmp")
tool("nb_os2.bmp", "ppmtobmp -os2 src.ppm > nb_os2.bmp")
tool("nb_os2p.bmp", "pnmquant 100 src.ppm | ppmtobmp -os2 > nb_os2p.bmp")
tool("nb_rgb.tga", "ppmtotga -rgb -norle src.ppm > nb_rgb.tga")
tool("nb_rle.tga", "ppmtotga -rgb src.ppm > nb_rle.tga")
tool("nb_cmap.tga", "pnmquant 100 src.ppm | ppmtotga -cmap > nb_cmap.tga")
tool("nb_mono.tga", "ppmtotga -mono src.ppm > nb_mono.tga")
tool("nb.gif", "pnmquant 256 src.ppm | ppmtogif > nb.gif")
tool("cj.jpg", "cjpeg -quality 85 src.ppm > cj.jpg")
tool("cj_grey.jpg", "cjpeg -grayscale grey.pgm > cj_grey.jpg")
tool("cj_restart.jpg", "cjpeg -restart 2 -optimize src.ppm > cj_restart.jpg")
tool("cj_progressive.jpg", "cjpeg -progressive src.ppm > cj_progressive.jpg")


def hexof(b):
    return bytes(b).hex()


for name in made:
    im = Image.open(name)
    print("file", name)
    print("size", im.size[0], im.size[1])
    print("mode", im.mode)
    print("offset", im.tile[0][2] if im.tile and im.format != "JPEG" else -1)
    if im.mode == "P":
        print("palette", hexof(im.getpalette("RGB")))
    bmp = open(name, "rb").read(30)
    if im.format == "BMP" and bmp[14] >= 40 and bmp[28] in (16, 32):
        rgb = im.convert("RGB").tobytes()
        for y in range(im.size[1]):
            print("row", rgb[3 * W * y:3 * W * (y + 1)].hex())
