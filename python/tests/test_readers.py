"""Reads the files that the C++ code wrote in the same test run (folder $ORVIK_PYFIXTURES, described by its
manifest.json) and compares every value with what was written."""

import json
import math
import os
import pathlib
import shutil

import numpy as np
import pytest

import orvikview as ov

FIXTURES = pathlib.Path(os.environ.get("ORVIK_PYFIXTURES", ""))
pytestmark = pytest.mark.skipif(not (FIXTURES / "manifest.json").is_file(),
                                reason="ORVIK_PYFIXTURES does not name a folder made by make_pyfixtures")

FOR_BACK, BACK_FOR, FOR_FOR = 4, 6, 3


@pytest.fixture(scope="module")
def manifest():
    return json.loads((FIXTURES / "manifest.json").read_text())


def value_scale(d):
    factor = ov.unit_of_code(d.get("setDataUnitVal", 128))[1]
    pv = d.get("setDataPhysVal", 0)
    return d.get("setDataOffsetVal", 0), (factor / pv if pv else factor)


def scan_frames(d, words):
    """The forward and backward frames of a scan in file order (top row first), NaN where no word arrived."""
    w, h, order = d["setDataRangeX"], d["setDataRangeY"], d["setDataOrder"]
    per_row = 2 if order in (FOR_BACK, BACK_FOR) else 1
    offset, scale = value_scale(d)
    fwd, bwd = np.full((h, w), np.nan), np.full((h, w), np.nan)
    for q, word in enumerate(words):
        line, c = divmod(q, w)
        r = line // per_row
        is_fwd = order == FOR_FOR or (order == FOR_BACK and line % 2 == 0) or (order == BACK_FOR and line % 2 == 1)
        # The first frame is scanned bottom up; files hold the top row first.
        row = h - 1 - r
        if is_fwd:
            fwd[row, c] = (word - offset) * scale
        else:
            bwd[row, w - 1 - c] = (word - offset) * scale
    return fwd, bwd


def g9(a):
    """Values as written with 9 significant digits."""
    return np.array([float(f"{v:.9g}") for v in np.ravel(a)]).reshape(np.shape(a))


def test_bcrf_frames_hold_the_scan_as_float32(manifest):
    d = manifest["scan"]
    fwd, bwd = scan_frames(d, d["words"])
    for name, expected in (("scan-fwd.bcrf", fwd), ("scan-bwd.bcrf", bwd)):
        frame, meta = ov.read_bcrf(FIXTURES / name)
        assert frame.shape == (3, 4)
        np.testing.assert_array_equal(frame, expected.astype(np.float32))
        assert meta["xpixels"] == 4 and meta["ypixels"] == 3
        assert meta["xlength"] == pytest.approx(400e-9) and meta["xunit"] == "m" and meta["zunit"] == "V"
        assert meta["voidpixels"] == 0
        assert meta["title"].startswith("fixture scan")


def test_bcrf_marks_missing_pixels_with_nan(manifest):
    d = manifest["partial"]
    fwd, _ = scan_frames(d, d["words"])
    frame, meta = ov.read_bcrf(FIXTURES / "partial-fwd.bcrf")
    assert meta["voidpixels"] == int(np.isnan(fwd).sum()) > 0
    np.testing.assert_array_equal(np.isnan(frame), np.isnan(fwd))
    np.testing.assert_array_equal(frame[~np.isnan(frame)], fwd[~np.isnan(fwd)].astype(np.float32))


def test_channel_asc_in_both_layouts(manifest):
    d = manifest["scan"]
    fwd, bwd = scan_frames(d, d["words"])
    frame, meta = ov.read_asc(FIXTURES / "scan-fwd-matrix.asc")
    assert meta["layout"] == "matrix" and meta["direction"] == "fwd" and meta["kind"] == "channel"
    np.testing.assert_array_equal(frame, g9(fwd))
    assert meta["x-length"] == pytest.approx(400e-9) and meta["xy-unit"] == "m" and meta["z-unit"] == "V"
    frame, meta = ov.read_asc(FIXTURES / "scan-bwd-column.asc")
    assert meta["layout"] == "column" and meta["direction"] == "bwd"
    np.testing.assert_array_equal(frame, g9(bwd))


def test_frame_display_asc_matches_the_channel_frame(manifest):
    d = manifest["scan"]
    fwd, bwd = scan_frames(d, d["words"])
    for name, expected in (("display-frame-fwd.asc", fwd), ("display-frame-bwd.asc", bwd)):
        frame, meta = ov.read_asc(FIXTURES / name)
        assert meta["kind"] == "frame view"
        assert meta["z-unit"] == "V" and meta["x-unit"] == "nm"
        assert meta["x-length"] == 400 and meta["x-offset"] == -50 and meta["y-offset"] == 25
        np.testing.assert_array_equal(frame, g9(expected))


def test_channel_csv_line(manifest):
    d = manifest["line"]
    offset, scale = value_scale(d)
    n, phys_x = d["setDataRangeX"], d["setDataPhysX"]
    x, y, meta = ov.read_channel_csv(FIXTURES / "line.csv")
    factor = ov.unit_of_code(d["setDataUnitX"])[1]
    np.testing.assert_array_equal(x, g9([d["setDataOffsetX"] * factor + c * (phys_x / (n - 1) * factor)
                                         for c in range(n)]))
    np.testing.assert_array_equal(y, g9([(w - offset) * scale for w in d["words"]]))
    assert meta["x-unit"] == "m" and meta["y-unit"] == "V" and meta["title"] == "fixture line"


def test_line_display_csv_every_curve(manifest):
    d = manifest["line"]
    curves, meta = ov.read_lineview_csv(FIXTURES / "display-line.csv")
    assert meta["display"] == "fxline"
    assert len(curves) == 1 and meta["layout"] == "curves"
    x, y = curves[0]
    offset, scale = value_scale(d)
    assert meta["x-pixels"] == d["setDataRangeX"] and meta["y-unit"] == "V" and meta["x-unit"] == "m"
    np.testing.assert_array_equal(y, g9([(w - offset) * scale for w in d["words"]]))
    step = d["setDataPhysX"] / (d["setDataRangeX"] - 1) * 1e-6
    np.testing.assert_allclose(np.diff(x), step, rtol=1e-9)


def test_permanent_log_keeps_positions_and_words(manifest):
    d = manifest["line"]
    index, value, meta = ov.read_permlog(FIXTURES / "perm.csv")
    np.testing.assert_array_equal(index, [0, 1, 2, 100, 101])
    np.testing.assert_array_equal(value, d["words"])
    assert meta["title"] == "fixture log"


def test_recording_holds_every_record_and_the_scan(manifest):
    d = manifest["scan"]
    rec = ov.read_recording(FIXTURES / "scan.rec")
    assert rec.records[0].name == "Timestamp" and rec.timestamp is not None
    props = rec.properties()
    for setter, name in (("setDataOrder", "Order"), ("setDataRangeX", "RangeX"), ("setDataRangeY", "RangeY"),
                         ("setDataPhysX", "PhysX"), ("setDataUnitVal", "UnitVal"), ("setDataPhysVal", "Physval"),
                         ("setDataOffsetVal", "OffsetV")):
        assert props[name] == d[setter], name
    assert [r.name for r in rec.records].count("Init") == 1
    words = np.concatenate([r.value for r in rec.records if r.name == "Data"])
    np.testing.assert_array_equal(words, d["words"])
    frames = rec.frames()
    assert len(frames) == 1 and frames[0]["complete"]
    fwd, bwd = scan_frames(d, d["words"])
    # Frames come in scan order (row 0 scanned first); the first frame of the files is scanned bottom up.
    np.testing.assert_array_equal(frames[0]["fwd_phys"], np.flipud(fwd))
    np.testing.assert_array_equal(frames[0]["bwd_phys"], np.flipud(bwd))
    meta = rec.meta()
    assert meta["x-unit"] == "m" and meta["value-unit"] == "V" and meta["x-length"] == pytest.approx(400e-9)


def decode_56bit(words):
    """The time-tag rule, written plainly: high words set the base, events before the first are skipped."""
    base, last, out = 0, 0, []
    for w in words:
        w &= 0xFFFFFFFF
        if w & 0x10000000:
            base = (w & 0x0FFFFFFF) << 28
        elif base:
            t = base + (w & 0x0FFFFFFF)
            if t < last:
                base += 0x10000000
                t += 0x10000000
            out.append((t, (w >> 29) + 1))
            last = t
    return out


def test_time_tags_of_a_recording(manifest):
    tags = ov.read_timetags(FIXTURES / "tags.bin")
    expected = decode_56bit(manifest["tags"]["words"])
    assert len(expected) == 6
    assert [(int(t), int(c)) for t, c in tags] == expected


def test_recording_cut_anywhere_in_its_last_record_is_refused(tmp_path):
    data = (FIXTURES / "scan.rec").read_bytes()
    last = ov.read_recording(FIXTURES / "scan.rec").records[-1].offset
    for cut in range(last + 1, len(data)):
        target = tmp_path / "cut.rec"
        target.write_bytes(data[:cut])
        with pytest.raises(ov.FormatError) as err:
            ov.read_recording(target)
        assert err.value.offset <= cut and str(target) in str(err.value)
    tags = (FIXTURES / "tags.bin").read_bytes()
    (tmp_path / "cut.bin").write_bytes(tags[:-3])
    with pytest.raises(ov.FormatError):
        ov.read_timetags(tmp_path / "cut.bin")


def test_recording_with_a_foreign_record_type_is_refused(tmp_path):
    data = bytearray((FIXTURES / "scan.rec").read_bytes())
    last = ov.read_recording(FIXTURES / "scan.rec").records[-1].offset
    data[last:last + 4] = (99).to_bytes(4, "little")
    (tmp_path / "bad.rec").write_bytes(bytes(data))
    with pytest.raises(ov.FormatError) as err:
        ov.read_recording(tmp_path / "bad.rec")
    assert err.value.offset == last


@pytest.mark.parametrize("name, reader", [
    ("scan-fwd.bcrf", ov.read_bcrf),
    ("scan-fwd-matrix.asc", ov.read_asc),
    ("scan-bwd-column.asc", ov.read_asc),
    ("line.csv", ov.read_channel_csv),
    ("display-line.csv", ov.read_lineview_csv),
    ("perm.csv", ov.read_permlog),
])
def test_truncated_files_raise_naming_file_and_offset(tmp_path, name, reader):
    data = (FIXTURES / name).read_bytes()
    # Cut inside the last value, and cut a whole last line: neither may give numbers.
    cuts = {len(data) - 2, data.rstrip(b"\n").rfind(b"\n") + 1}
    for cut in cuts:
        target = tmp_path / f"cut-{cut}-{name}"
        target.write_bytes(data[:cut])
        if reader is ov.read_channel_csv and data[cut:].count(b"\n") == 1 and data[cut - 1:cut] == b"\n":
            continue  # a line file cut at a line end is a shorter, valid line
        if reader is ov.read_permlog and data[cut - 1:cut] == b"\n":
            continue  # a log cut at a line end is the log up to that line
        with pytest.raises(ov.FormatError) as err:
            reader(target)
        assert str(target) in str(err.value)
        assert err.value.offset <= cut


@pytest.mark.parametrize("reader", [ov.read_bcrf, ov.read_asc, ov.read_lineview_csv, ov.read_channel_csv,
                                    ov.read_permlog, ov.read_recording, ov.read_timetags])
def test_foreign_files_are_refused(tmp_path, reader):
    for content in (b"", b"\x00" * 4096, b"hello\n", b"# Start of Data:\n1 2 3\n", b"\x07\x00\x00\x00"):
        target = tmp_path / "foreign.bin"
        target.write_bytes(content)
        if reader is ov.read_timetags and len(content) % 10 == 0 and content.strip(b"\0") == b"":
            continue  # zero bytes are zero time tags
        with pytest.raises(ov.FormatError):
            reader(target)


def test_bcrf_corruptions(tmp_path):
    data = bytearray((FIXTURES / "scan-fwd.bcrf").read_bytes())
    cases = {
        "longer": bytes(data) + b"\0\0\0\0",
        "format": bytes(data).replace(b"fileformat = bcrf", b"fileformat = xxxx"),
        "size": bytes(data).replace(b"xpixels = 4", b"xpixels = 5"),
        "voids": bytes(data[:2048 + 4]) + b"\x00\x00\xc0\x7f" + bytes(data[2048 + 8:]),  # a NaN not counted
    }
    for name, content in cases.items():
        target = tmp_path / f"{name}.bcrf"
        target.write_bytes(content)
        with pytest.raises(ov.FormatError):
            ov.read_bcrf(target)


def test_unit_codes():
    assert ov.unit_of_code(0x17D) == ("m", pytest.approx(1e-9))
    assert ov.unit_of_code(3) == ("s", 1e-9)
    assert ov.unit_of_code(0xD80)[0] == "m/s"
    assert ov.unit_of_code(0x900) == ("m", 1.0)
    assert ov.unit_of_code(-4) == ("", 1.0)


def test_recipe_of_a_stored_set(manifest):
    m = manifest["recipe"]
    recipe = ov.read_recipe(FIXTURES / m["file"])
    assert recipe["format"] == "Orvik view recipe"
    assert recipe["store"] == "now"
    assert recipe["tag"] == "fx" and recipe["sequence"] == 1
    # The files it names are the set's data files that exist; the recipe itself is not among them.
    assert recipe["files"] and all((FIXTURES / f).is_file() for f in recipe["files"])
    assert sorted(recipe["files"] + [m["file"]]) == sorted(m["set"])
    chain = recipe["page"]["chain"]
    assert [p["type"] for p in chain] == ["Frame Display"]
    assert chain[0]["name"] == "fxrecipe"
    assert chain[0]["options"] == [["displaytoolbar", "0"]]
    assert {"colorTable", "magnification", "gradationMin", "gradationMax", "scanForward"} <= set(chain[0]["display"])


def test_recipe_faults(tmp_path, manifest):
    data = (FIXTURES / manifest["recipe"]["file"]).read_bytes()
    recipe = json.loads(data)
    missing = dict(recipe)
    del missing["files"]
    cases = {
        "truncated": (data[: len(data) // 2], None),
        "empty": (b"", 0),
        "other json": ((FIXTURES / "manifest.json").read_bytes(), 0),
        "text": ((FIXTURES / "line.csv").read_bytes(), 0),
        "missing field": (json.dumps(missing).encode(), 0),
        "bad options": (json.dumps(dict(recipe, page={"chain": [{"type": "X", "options": [["k"]]}]})).encode(), 0),
    }
    for name, (content, offset) in cases.items():
        target = tmp_path / "r.json"
        target.write_bytes(content)
        with pytest.raises(ov.FormatError) as err:
            ov.read_recipe(target)
        assert err.value.path == str(target), name
        if offset is None:  # within the text, at the point where it stops making sense
            assert 0 <= err.value.offset <= len(content), name
        else:
            assert err.value.offset == offset, name
