#!/usr/bin/python3
"""Prints what Pillow decodes from an image file: its frame count, and for
one frame its size, mode and every row as red, green, blue bytes in hex.

    image_pixels.py FILE [FRAME]
"""
import sys

from PIL import Image


def main():
    path = sys.argv[1]
    frame = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    with Image.open(path) as im:
        print("frames", getattr(im, "n_frames", 1))
        im.seek(frame)
        print("size", im.width, im.height)
        print("mode", im.mode)
        rgb = im.convert("RGB")
        data = rgb.tobytes()
        stride = 3 * im.width
        for y in range(im.height):
            print("row", data[y * stride:(y + 1) * stride].hex())


if __name__ == "__main__":
    main()
