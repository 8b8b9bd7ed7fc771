"""Page.image(): every page type as a PIL image, the same pixels as Pillow's
decode of the file the page came from and as qvtav render's PNG of the page
(the tool decodes with libtiff, libjpeg, giflib and unpackers of its own);
as displayed, the same as qvtav render --as-displayed."""
import os
import struct
import subprocess

import pytest
from PIL import Image

import qvtav
from conftest import out_dir, xiff_grey


def pixels(im):
    """Comparable pixels: 16-bit grey by value, anything else as RGB(A)."""
    if im.mode.startswith("I"):
        return im.size, list(im.getdata())
    return im.size, im.convert("RGBA" if im.mode in ("RGBA", "LA") else "RGB").tobytes()


def rendered(path, page, tmp_path, *options):
    png = tmp_path / f"r{page}.png"
    subprocess.run([os.path.join(out_dir(), "qvtav"), "render", str(path), "--page", str(page), "-o", str(png),
                    *options], check=True, stdout=subprocess.DEVNULL)
    return Image.open(png)


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """Pages of every kind Pillow writes, by name: the file and the image it holds."""
    d = tmp_path_factory.mktemp("pages")
    src = Image.new("RGB", (37, 23))
    src.putdata([((x * 7 + y * 3) % 256, (x * y * 5) % 256, (255 - x * 6) % 256) for y in range(23) for x in range(37)])
    bw = src.convert("L").point(lambda v: 255 if v > 100 else 0).convert("1")
    made = {
        "g4.tif": (bw, {"compression": "group4"}), "mh.tif": (bw, {"compression": "tiff_ccitt"}),
        "bw.tif": (bw, {}), "grey.tif": (src.convert("L"), {"compression": "tiff_lzw"}),
        "pal.tif": (src.quantize(40), {"compression": "packbits"}), "rgb.tif": (src, {"compression": "tiff_lzw"}),
        "rgba.tif": (src.convert("RGBA"), {}), "grey16.tif": (src.convert("I").point(lambda v: v * 250).convert("I;16"), {}),
        "p.gif": (src.quantize(64), {}), "two.gif": (bw, {}), "p.pcx": (src.quantize(200), {}), "rgb.pcx": (src, {}),
        "one.pcx": (bw, {}), "p.bmp": (src.quantize(16), {}), "rgb.bmp": (src, {}), "p.tga": (src.quantize(30), {}),
        "rle.tga": (src, {"compression": "tga_rle"}), "p.jpg": (src, {"quality": 85}),
    }
    for name, (image, options) in made.items():
        image.save(d / name, **options)
    pcx = [(d / n).read_bytes() for n in ("p.pcx", "rgb.pcx")]
    table = struct.pack("<4I", 987654321, 16, 16 + len(pcx[0]), 0)
    (d / "two.dcx").write_bytes(table + pcx[0] + pcx[1])
    return d


SINGLE = ["g4.tif", "mh.tif", "bw.tif", "grey.tif", "pal.tif", "rgb.tif", "rgba.tif", "grey16.tif", "p.gif", "two.gif",
          "p.pcx", "rgb.pcx", "one.pcx", "p.bmp", "rgb.bmp", "p.tga", "rle.tga", "p.jpg"]


@pytest.mark.parametrize("name", SINGLE)
def test_a_page_is_the_image_pillow_and_the_renderer_see(files, tmp_path, name):
    with qvtav.open(files / name) as f:
        im = f.page(1).image()
    assert pixels(im) == pixels(Image.open(files / name))
    assert pixels(im) == pixels(rendered(files / name, 1, tmp_path))


def test_dcx_pages_are_their_own_pcx_images(files, tmp_path):
    with qvtav.open(files / "two.dcx") as f:
        assert len(f) == 2
        for k, name in enumerate(("p.pcx", "rgb.pcx"), start=1):
            im = f.page(k).image()
            assert pixels(im) == pixels(Image.open(files / name))
            assert pixels(im) == pixels(rendered(files / "two.dcx", k, tmp_path))


def test_awd_and_block_pages_copied_from_tiff_show_the_tiff_pages(files, samples, tmp_path):
    def copy(sources, dest, *options):
        subprocess.run([os.path.join(out_dir(), "qvtav"), "copy", *map(str, sources), "-o", str(tmp_path / dest),
                        *options], check=True, stdout=subprocess.DEVNULL)

    def frame(path, k):
        im = Image.open(path)
        im.seek(k - 1)
        return im

    copy([files / "g4.tif", files / "mh.tif", files / "bw.tif"], "fax.awd")
    copy([tmp_path / "fax.awd"], "fax.tif")  # CCITT T.6, min-is-white: what a block file holds
    copy([samples / "letter.tif:1-2", tmp_path / "fax.tif:1"], "pages.blk", "--block")
    cases = [("fax.awd", [(files / n, 1) for n in ("g4.tif", "mh.tif", "bw.tif")]),
             ("pages.blk", [(samples / "letter.tif", 1), (samples / "letter.tif", 2), (files / "g4.tif", 1)])]
    for dest, sources in cases:
        with qvtav.open(tmp_path / dest) as f:
            for k, (source, n) in enumerate(sources, start=1):
                page = f.page(k)
                if dest.endswith(".awd"):
                    page.read()  # the bands come again for the image
                im = page.image()
                assert pixels(im) == pixels(frame(source, n)), (dest, k)
                assert pixels(im) == pixels(rendered(tmp_path / dest, k, tmp_path)), (dest, k)


def test_an_xiff_page_is_the_readers_rows(tmp_path):
    width, length = 30, 5
    grey = bytes((x * 7 + y * 40) & 0xFF for y in range(length) for x in range(width))
    path = xiff_grey(tmp_path / "page.xif", width, length, grey)
    with qvtav.open(path) as f:
        im = f.page(1).image()
    assert (im.mode, im.size, im.tobytes()) == ("L", (width, length), grey)
    assert pixels(im) == pixels(rendered(path, 1, tmp_path))


def test_as_displayed_turns_and_stretches_like_the_renderer(files, tmp_path):
    bw = Image.open(files / "g4.tif")
    path = tmp_path / "fax.tif"
    bw.save(path, compression="group4", dpi=(204, 98), tiffinfo={274: 6})
    with qvtav.open(path) as f:
        stored, shown = f.page(1).image(), f.page(1).image(as_displayed=True)
    assert pixels(stored) == pixels(bw)
    # 23 rows at 98 dpi stretched to 204 dpi, then turned a quarter clockwise.
    assert shown.size == (round(23 * 204 / 98), 37)
    assert pixels(shown) == pixels(rendered(path, 1, tmp_path, "--as-displayed"))


def test_the_sample_documents_every_page(samples, tmp_path):
    for name in ("letter.tif", "scan.tif"):
        with qvtav.open(samples / name) as f, Image.open(samples / name) as ref:
            for page in f:
                ref.seek(page.number - 1)
                assert pixels(page.image()) == pixels(ref), (name, page.number)
