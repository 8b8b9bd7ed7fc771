"""The Python module over the library: records against the header's layout,
reading the sample documents against PIL, writing and the editing calls,
errors with and without codes, XIFF and raw files."""
import ctypes
import os
import shutil
import subprocess

import pytest

import qvtav
from qvtav import _records as R
from conftest import SOURCE, xiff_grey

HEADER = os.path.join(SOURCE, "include", "qvtav.h")


def record_fields(record, prefix=""):
    """(C member path, ctypes offset) of every member, nested records included."""
    for name, kind, *_ in record._fields_:
        field = getattr(record, name)
        yield prefix + name, field.offset
        if issubclass(kind, (ctypes.Structure, ctypes.Union)) and kind.__name__ in (
                "CompressionInfo", "ProfileOffset", "PhotometricArea"):
            for sub, offset in record_fields(kind, prefix + name + "."):
                yield sub, field.offset + offset


@pytest.mark.skipif(shutil.which("cc") is None, reason="needs a C compiler")
def test_every_record_member_sits_where_the_header_puts_it(tmp_path):
    records = {"PageInfo": R.PageInfo, "PageSizes": R.PageSizes, "JpegInfo": R.JpegInfo,
               "TextTagBuf": R.TextTagBuf, "PutOptions": R.PutOptions, "FileLocation": R.FileLocation,
               "TavPageMove": R.TavPageMove, "TavStripCounts": R.TavStripCounts}
    lines, expected = [], []
    for cname, record in records.items():
        lines.append(f'printf("%zu\\n", sizeof({cname}));')
        expected.append(ctypes.sizeof(record))
        for member, offset in record_fields(record):
            lines.append(f'printf("%zu\\n", offsetof({cname}, {member}));')
            expected.append(offset)
    program = tmp_path / "layout.c"
    program.write_text("#include <stdio.h>\n#include <qvtav.h>\nint main(void) {\n" + "\n".join(lines) +
                       "\nreturn 0;\n}\n")
    subprocess.run(["cc", "-std=c11", "-I", os.path.dirname(HEADER), "-o", str(tmp_path / "layout"),
                    str(program)], check=True)
    found = subprocess.run([str(tmp_path / "layout")], check=True, capture_output=True, text=True).stdout
    assert [int(v) for v in found.split()] == expected
    assert ctypes.sizeof(R.PageInfo) == (632 if ctypes.sizeof(ctypes.c_void_p) == 8 else 584)


def test_reads_every_sample_page_with_its_information_texts_and_properties(samples):
    from PIL import Image

    with qvtav.open(samples / "letter.tif") as f:
        assert (f.file_type, f.type_name, len(f)) == (qvtav.FILETYPE_TIFF, "TIFF", 3)
        assert f.properties.title == "Sample letter"
        pages = list(f)
        infos = [p.info for p in pages]
        assert [(i.width, i.length, i.compression, i.strip_count) for i in infos] == [
            (600, 800, qvtav.TAV_COMP_NONE, 1), (600, 800, qvtav.TAV_COMP_PACKBITS, 4),
            (320, 240, qvtav.TAV_COMP_NONE, 8)]
        assert pages[1].texts["PageName"] == "form"
        assert "Artist" not in pages[1].texts and pages[0].texts["Artist"] == "qvtav_samples"
        data = [p.read() for p in pages]
        assert [len(d) for d in data] == [i.data_bytes for i in infos]
        assert pages[2].palette is None
    with Image.open(samples / "letter.tif") as im:
        im.seek(1)
        assert infos[1].data_bytes == sum(im.tag_v2[279])
        im.seek(2)
        assert data[2] == im.tobytes()


def test_written_pages_read_back_then_every_editing_call(tmp_path):
    path = str(tmp_path / "doc.tif")
    grey = qvtav.PageInfo(width=16, length=4, bits_per_sample=(8,), photometric=qvtav.TAV_PHOTO_GRAY_BLACK)
    palette = bytes(range(96))  # 16 entries of 3 u16 planes
    indexed = qvtav.PageInfo(width=16, length=2, bits_per_sample=(4,), photometric=qvtav.TAV_PHOTO_PALETTE)
    with qvtav.create(path) as w:
        w.write_page(grey, bytes(range(64)), texts={"PageName": "grey"},
                     properties=qvtav.Properties(title="Doc", author="me"))
        w.write_page(indexed, bytes(16), palette=palette)
    with qvtav.open(path) as f:
        assert len(f) == 2 and f.properties.title == "Doc" and f.properties.author == "me"
        first, second = f
        assert first.read()[:64] == bytes(range(64))
        assert first.texts["PageName"] == "grey"
        assert (second.info.photometric, second.palette) == (qvtav.TAV_PHOTO_PALETTE, palette)

    with qvtav.open(path, "a") as f:
        assert f.write_page(grey, b"\x07" * 64) == 3
    with qvtav.open(path, "a") as f:
        f.move_page(3, before=1)
    with qvtav.open(path) as f:
        assert f.page(1).read()[:64] == b"\x07" * 64
    qvtav.delete_pages(path, 1)
    qvtav.set_properties(path, title="Renamed")
    with qvtav.open(path) as f:
        assert len(f) == 2
        assert (f.properties.title, f.properties.author) == ("Renamed", "me")
        assert f.page(1).read()[:64] == bytes(range(64))

    copy = qvtav.duplicate(path)
    assert copy != path and os.path.dirname(copy) == os.path.dirname(path)
    assert open(copy, "rb").read() == open(path, "rb").read()
    other = str(tmp_path / "other.tif")
    with qvtav.create(other) as w:
        w.write_page(grey, bytes(64))
    qvtav.replace(copy, other)
    assert not os.path.exists(other)
    with qvtav.open(copy) as f:
        assert len(f) == 1


def test_errors_carry_the_code_when_the_call_reports_one(tmp_path, samples):
    with qvtav.open(samples / "scan.tif") as f:
        with pytest.raises(qvtav.QvtavError) as e:
            f.page(2).info
        assert (e.value.code, e.value.call) == (qvtav.ERRORS["TAV_E_PAGE_RANGE"][0], "xtavgeti")
        assert e.value.meaning == "page above the page count" and "298" in str(e.value)
        assert len(f.page(1).read()) == 40960  # the handle stays usable
    with pytest.raises(qvtav.QvtavError) as e:
        f.page(1).read()
    assert e.value.code == qvtav.ERRORS["TAV_EBADF"][0]
    with pytest.raises(qvtav.QvtavError) as e:
        qvtav.delete_pages(str(tmp_path / "absent.tif"), 1)
    assert e.value.code is None and e.value.meaning is None
    with pytest.raises(qvtav.QvtavError) as e:
        qvtav.replace(str(tmp_path / "a.tif"), str(tmp_path / "b.tif"))
    assert e.value.code is None
    with pytest.raises(ValueError):
        qvtav.open(samples / "scan.tif", "w")


def test_a_with_block_that_raises_aborts_the_pages_written(tmp_path, samples):
    path = tmp_path / "scan.tif"
    shutil.copy(samples / "scan.tif", path)
    before = path.read_bytes()
    with pytest.raises(RuntimeError):
        with qvtav.open(path, "a") as f:
            f.write_page(qvtav.PageInfo(width=8, length=8), bytes(8))
            raise RuntimeError("give up")
    assert path.read_bytes() == before


def test_an_xiff_page_comes_decoded_in_one_read(tmp_path):
    width, length = 30, 5  # rows of 30 bytes delivered padded to 32
    pixels = bytes((x * 7 + y) & 0xFF for y in range(length) for x in range(width))
    with qvtav.open(xiff_grey(tmp_path / "page.xif", width, length, pixels)) as f:
        assert (f.file_type, len(f)) == (qvtav.FILETYPE_XIFF, 1)
        page = f.page(1)
        assert (page.info.width, page.info.photometric, page.info.data_bytes) == (
            30, qvtav.TAV_PHOTO_GRAY_BLACK, 32 * length)
        rows = page.read()
    assert rows == b"".join(pixels[y * width:(y + 1) * width] + b"\0\0" for y in range(length))


def test_raw_files_read_and_write_bytes_as_they_stand(tmp_path):
    # Text-like bytes that no format's first bytes match (random bytes now and
    # then look like a Targa header and open as one).
    data = bytes(0x20 + (i * 7919) % 0x5f for i in range(3000))
    path = tmp_path / "blob.bin"
    with qvtav.create(path, qvtav.FILETYPE_RAW) as w:
        w.write_raw(data[:1000])
        w.write_raw(data[1000:])
    with qvtav.open(path) as f:
        assert (f.file_type, len(f), list(f)) == (qvtav.FILETYPE_RAW, 0, [])
        assert f.read_raw() == data
        assert f.read_raw(2990, 10) == data[2990:]
        with pytest.raises(qvtav.QvtavError) as e:
            f.read_raw(2990, 11)  # a raw read is served whole or not at all
        assert e.value.code == qvtav.ERRORS["TAV_E_COUNT"][0]
        with pytest.raises(qvtav.QvtavError) as e:
            f.page(1).info
        assert e.value.code == qvtav.ERRORS["TAV_E_RAW_FILE"][0]


def test_awd_pages_written_read_back_row_for_row(tmp_path):
    path = str(tmp_path / "fax.awd")
    rows = [bytes((r * 16 + c) & 0xFF for c in range(8)) for r in range(10)]
    page = qvtav.PageInfo(width=64, length=10, x_resolution=(200, 1), y_resolution=(200, 1))
    with qvtav.create(path, qvtav.FILETYPE_AWD) as w:
        w.write_page(page, b"".join(rows))
        w.write_page(page, b"".join(reversed(rows)))
    with qvtav.open(path) as f:
        assert f.file_type == qvtav.FILETYPE_AWD and len(f) == 2
        first, second = f
        assert first.read()[:80] == b"".join(rows)
        assert second.read()[:80] == b"".join(reversed(rows))
