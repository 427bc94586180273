"""Reader of the disc writer's binary recordings and of raw time-tag files."""

import datetime
import struct
from collections import namedtuple

import numpy as np

from ._common import FormatError, read_bytes, unit_of_code

# Record types as stored in the file, with their names.
RECORD_NAMES = [
    "Data", "Index", "Init", "Order", "Encoding", "Binning", "RangeX", "RangeY", "OffsetX", "OffsetY", "OffsetV",
    "PhysX", "PhysY", "Physval", "Trigger", "Rotation", "UnitX", "UnitVal", "Timestamp", "PhysZ", "OffsetZ", "UnitZ",
    "RangeZ",
]
DATA, INDEX, INIT, TIMESTAMP = 0, 1, 2, 18
# Data orders of scans (every line forward; forward and back; every line backward; back and forward).
FOR_FOR, FOR_BACK, BACK_BACK, BACK_FOR = 3, 4, 5, 6

Record = namedtuple("Record", "offset type name value")
"""One record: its byte offset, type number, name and value (an int; an int32 array for "Data"; a tuple of six ints
for "Timestamp")."""

TIME_TAG_DTYPE = np.dtype([("time", "<i8"), ("channel", "u1")])


class Recording:
    """A binary recording: its records in order, and its scans as frames."""

    def __init__(self, path, records):
        self.path = path
        self.records = records

    @property
    def timestamp(self):
        """Start of the recording from its first record, or None when its date is not valid."""
        if self.records and self.records[0].type == TIMESTAMP:
            y, mo, d, h, mi, s = self.records[0].value
            try:
                return datetime.datetime(y, mo, d, h, mi, s)
            except ValueError:
                return None
        return None

    def properties(self):
        """The last value of each property record, by name."""
        props = {}
        for r in self.records:
            if r.type not in (DATA, INDEX, INIT, TIMESTAMP):
                props[r.name] = r.value
        return props

    def meta(self):
        """The recording's description in physical units: properties, units and scales."""
        p = self.properties()
        x_unit, x_factor = unit_of_code(p.get("UnitX", 128))
        v_unit, v_factor = unit_of_code(p.get("UnitVal", 128))
        phys_val = p.get("Physval", 0)
        return {
            "timestamp": self.timestamp,
            "properties": p,
            "x-unit": x_unit,
            "value-unit": v_unit,
            "x-length": p.get("PhysX", 0) * x_factor,
            "y-length": p.get("PhysY", 0) * x_factor,
            "x-offset": p.get("OffsetX", 0) * x_factor,
            "y-offset": p.get("OffsetY", 0) * x_factor,
            "value-offset": p.get("OffsetV", 0),
            "value-scale": v_factor / phys_val if phys_val else v_factor,
        }

    def blocks(self):
        """Yields (index, words, properties at that point) for each "Data" record; an "Init" record yields None."""
        props = {}
        index = 0
        for r in self.records:
            if r.type == DATA:
                yield index, r.value, props
                index += len(r.value)
            elif r.type == INDEX:
                index = r.value
            elif r.type == INIT:
                yield None
            elif r.type != TIMESTAMP:
                props = dict(props)
                props[r.name] = r.value

    def frames(self):
        """The recorded scans as frames.

        Returns a list of dicts, one per frame in the order recorded: ``fwd`` and ``bwd`` raw-word arrays of
        RangeY rows and RangeX columns (float, NaN where the frame has no word; the backward lines turned back into
        x order), ``fwd_phys`` and ``bwd_phys`` the same in physical value units, ``complete`` and the frame's
        ``order``. Row 0 is the first line scanned. Data outside scan orders is not a frame and is skipped.
        """
        frames = []
        current = None
        geometry = None
        expected_index = None

        def close():
            nonlocal current
            if current is not None:
                frames.append(current)
            current = None

        for item in self.blocks():
            if item is None:
                close()
                expected_index = None
                continue
            index, words, props = item
            order = props.get("Order", 0)
            w, h = props.get("RangeX", 0), max(props.get("RangeY", 0), 1)
            if order not in (FOR_FOR, FOR_BACK, BACK_BACK, BACK_FOR) or w <= 0:
                close()
                continue
            per_row = 2 if order in (FOR_BACK, BACK_FOR) else 1
            length = w * h * per_row
            phys_val = props.get("Physval", 0)
            factor = unit_of_code(props.get("UnitVal", 128))[1]
            scale = factor / phys_val if phys_val else factor
            offset = props.get("OffsetV", 0)
            if (order, w, h, scale, offset) != geometry or (expected_index is not None and index < expected_index):
                close()
                geometry = (order, w, h, scale, offset)
            for k, word in enumerate(words):
                q = index + k
                if current is None or q >= (current["_base"] + length):
                    close()
                    current = {"order": order, "fwd": np.full((h, w), np.nan), "bwd": np.full((h, w), np.nan),
                               "_base": q - q % length, "_filled": 0, "_scale": scale, "_offset": offset}
                q %= length
                line, c = divmod(q, w)
                row, kk = divmod(line, per_row)
                if order == FOR_FOR:
                    fwd = True
                elif order == FOR_BACK:
                    fwd = line % 2 == 0
                elif order == BACK_FOR:
                    fwd = line % 2 == 1
                else:
                    fwd = False
                target = current["fwd"] if fwd else current["bwd"]
                target[row, c if fwd else w - 1 - c] = word
                current["_filled"] += 1
            expected_index = index + len(words)
        close()
        for f in frames:
            total = f["fwd"].size * (2 if f["order"] in (FOR_BACK, BACK_FOR) else 1)
            f["complete"] = f.pop("_filled") >= total
            scale, offset = f.pop("_scale"), f.pop("_offset")
            f["fwd_phys"] = (f["fwd"] - offset) * scale
            f["bwd_phys"] = (f["bwd"] - offset) * scale
            del f["_base"]
        return frames


def read_recording(path):
    """Reads a disc writer recording in the binary format. Returns a :class:`Recording`.

    A recording starts with a time-stamp record; a file that does not is refused.

    A file that ends inside a record, a record type outside 0 to 22, a data record that runs past the end of the file
    or a time stamp without its six words raises :class:`FormatError` with the offset of the bad record.
    """
    data = read_bytes(path)
    if not data:
        raise FormatError(path, 0, "the file is empty")
    records = []
    pos = 0
    n = len(data)

    def word(at):
        if at + 4 > n:
            raise FormatError(path, at, "the file ends inside a record (truncated)")
        return struct.unpack_from("<i", data, at)[0]

    while pos < n:
        start = pos
        rtype = word(pos)
        pos += 4
        if not 0 <= rtype < len(RECORD_NAMES):
            raise FormatError(path, start, f"record type {rtype} is not a record of a recording")
        if rtype in (DATA, TIMESTAMP):
            count = word(pos)
            pos += 4
            if count < 0 or (rtype == TIMESTAMP and count != 6):
                raise FormatError(path, start, f"bad word count {count} of a {RECORD_NAMES[rtype]} record")
            if pos + 4 * count > n:
                raise FormatError(path, start, f"the {RECORD_NAMES[rtype]} record of {count} words runs past the "
                                               f"end of the file (truncated)")
            words = np.frombuffer(data, dtype="<i4", count=count, offset=pos).astype(np.int32)
            pos += 4 * count
            value = tuple(int(v) for v in words) if rtype == TIMESTAMP else words
        else:
            value = word(pos)
            pos += 4
        if not records and rtype != TIMESTAMP:
            # Every recording starts with the time stamp of its start.
            raise FormatError(path, 0, "not a recording: it does not start with a time stamp record")
        records.append(Record(start, rtype, RECORD_NAMES[rtype], value))
    return Recording(path, records)


def read_timetags(path):
    """Reads raw time tags as the disc writer's "binary" format writes them for encoding 5: 10 bytes per tag, a signed
    64-bit time and a 16-bit channel, little-endian. Returns an array of (time, channel)."""
    data = read_bytes(path)
    if len(data) % 10:
        raise FormatError(path, len(data) - len(data) % 10, "the file ends inside a 10-byte time tag (truncated)")
    raw = np.frombuffer(data, dtype=np.dtype([("time", "<i8"), ("channel", "<u2")]))
    if raw.size and int(raw["channel"].max()) > 255:
        bad = int(np.argmax(raw["channel"] > 255))
        raise FormatError(path, bad * 10 + 8, f"channel {int(raw['channel'][bad])} is not a time-tag channel")
    out = np.empty(raw.size, dtype=TIME_TAG_DTYPE)
    out["time"] = raw["time"]
    out["channel"] = raw["channel"]
    return out
