#!/usr/bin/python3
"""pageinfo.py: the C example's listing through the Python module, each
page's data read whole as well. Run with PYTHONPATH naming the folder that
holds the qvtav package (PREFIX/lib/python3/dist-packages once installed)."""
import sys

import qvtav


def main(paths):
    for path in paths:
        with qvtav.open(path) as f:
            print(f"{path}: file type {f.file_type}, {len(f)} page(s)")
            for page in f:
                i = page.info
                print(f"  page {page.number}: {i.width} x {i.length}, {i.bits_per_sample[0]} bit(s) x "
                      f"{i.samples_per_pixel}, compression {i.compression}, photometric {i.photometric}, "
                      f"{i.strip_count} strip(s), {i.data_bytes} stored bytes")
                print(f"    read {len(page.read())} bytes")


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except qvtav.QvtavError as e:
        sys.exit(f"pageinfo.py: {e}")
