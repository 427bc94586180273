"""Readers of frame and line files: BCRF, ASC (channel and frame-view exports), line-view CSV, channel CSV and the
permanent log."""

import math

import numpy as np

from ._common import FormatError, parse_int, parse_number, read_bytes, text_lines, typed

BCRF_HEADER_SIZE = 2048


def read_bcrf(path):
    """Reads a BCRF frame (or a 16-bit BCR-STM one).

    Returns ``(frame, meta)``: a 2D float array of ``ypixels`` rows (top row first) and ``xpixels`` columns, with NaN
    where the frame has no value; and the header fields (``xpixels``, ``xlength``, ``xunit``, ... as numbers or
    texts, ``title`` from the comment line).
    """
    data = read_bytes(path)
    if len(data) < BCRF_HEADER_SIZE:
        raise FormatError(path, len(data), f"the file is shorter than the {BCRF_HEADER_SIZE}-byte BCRF header")
    head = data[:BCRF_HEADER_SIZE]
    end = head.find(b"\0")
    text = head if end < 0 else head[:end]
    if end >= 0:
        rest = head[end:]
        stray = len(rest) - len(rest.lstrip(b"\0"))
        if stray < len(rest):
            raise FormatError(path, end + stray, "text after the header's NUL padding")
    meta = {}
    pos = 0
    for raw in text.split(b"\n"):
        line = raw.decode("latin-1").strip()
        if line.startswith("#"):
            meta.setdefault("title", line[1:].strip())
        elif line:
            key, sep, value = line.partition("=")
            if not sep:
                raise FormatError(path, pos, f"not a 'key = value' line: {line!r}")
            meta[key.strip()] = typed(value)
        pos += len(raw) + 1
    fmt = meta.get("fileformat")
    if fmt not in ("bcrf", "bcrstm"):
        raise FormatError(path, 0, f"not a BCRF file (fileformat = {fmt!r})")
    if meta.get("headersize", BCRF_HEADER_SIZE) != BCRF_HEADER_SIZE:
        raise FormatError(path, 0, f"unsupported header size {meta.get('headersize')!r}")
    xp, yp = meta.get("xpixels"), meta.get("ypixels")
    if not isinstance(xp, int) or not isinstance(yp, int) or xp <= 0 or yp <= 0:
        raise FormatError(path, 0, f"bad frame size {xp!r} x {yp!r}")
    width = 4 if fmt == "bcrf" else 2
    expected = BCRF_HEADER_SIZE + xp * yp * width
    if len(data) < expected:
        raise FormatError(path, len(data), f"the file ends after {len(data)} of {expected} bytes (truncated)")
    if len(data) > expected:
        raise FormatError(path, expected, f"{len(data) - expected} bytes after the frame")
    little = meta.get("intelmode", 1) == 1
    dtype = ("<" if little else ">") + ("f4" if width == 4 else "i2")
    frame = np.frombuffer(data, dtype=dtype, count=xp * yp, offset=BCRF_HEADER_SIZE).astype(np.float64)
    frame = frame.reshape(yp, xp)
    voids = meta.get("voidpixels")
    if fmt == "bcrf" and isinstance(voids, int) and voids != int(np.isnan(frame).sum()):
        raise FormatError(path, BCRF_HEADER_SIZE,
                          f"the header counts {voids} void pixels, the data holds {int(np.isnan(frame).sum())}")
    return frame, meta


def _header_and_data(path, lines, marker):
    """Splits '# key: value' header lines from the data lines that follow `marker`."""
    meta = {}
    for i, (off, line) in enumerate(lines):
        if line.strip() == marker:
            return meta, lines[i + 1:]
        if not line.startswith("#"):
            raise FormatError(path, off, f"data before the line {marker!r}")
        key, sep, value = line[1:].partition(":")
        if sep:
            meta[key.strip()] = typed(value)
    raise FormatError(path, lines[-1][0] if lines else 0, f"no line {marker!r}")


def read_asc(path):
    """Reads an ASC frame export: a channel's raw frame or a frame display's snapshot, in the matrix layout (one row
    per line) or with one value per line.

    Returns ``(frame, meta)``: a 2D float array of ``y-pixels`` rows and ``x-pixels`` columns in physical units (NaN
    where the frame has no value), and the header fields (``x-length``, ``z-unit``, ``direction``, ...). ``meta``
    also holds ``kind`` ("frame view" or "channel") and ``layout`` ("matrix" or "column").
    """
    data = read_bytes(path)
    lines = text_lines(path, data)
    first = lines[0][1]
    if not first.startswith("#"):
        raise FormatError(path, 0, "not an ASC frame file (no '#' header)")
    meta, rows = _header_and_data(path, lines, "# Start of Data:")
    meta["kind"] = "frame view" if first.strip() == "# Orvik frame view snapshot" else "channel"
    if meta["kind"] == "channel":
        meta["title"] = first[1:].strip()
    w, h = meta.get("x-pixels"), meta.get("y-pixels")
    if not isinstance(w, int) or not isinstance(h, int) or w <= 0 or h <= 0:
        raise FormatError(path, 0, f"bad frame size {w!r} x {h!r}")
    values = []
    per_line = set()
    for off, line in rows:
        fields = line.split()
        if not fields:
            raise FormatError(path, off, "an empty data line")
        per_line.add(len(fields))
        for f in fields:
            values.append(parse_number(path, off, f))
    if per_line == {w} and len(rows) == h:
        meta["layout"] = "matrix"
    elif per_line == {1} and len(rows) == w * h:
        meta["layout"] = "column"
    else:
        end = len(data)
        raise FormatError(path, end, f"{len(values)} values in {len(rows)} lines do not make a {w} x {h} frame "
                                     "(truncated or corrupted)")
    return np.array(values, dtype=np.float64).reshape(h, w), meta


def read_lineview_csv(path):
    """Reads a line display's CSV snapshot.

    Returns ``(curves, meta)``: a list of ``(x, y)`` float arrays, one per curve, and the header fields (``display``,
    ``x-pixels``, ``x-unit``, ``y-unit``, ``date``, ``layout`` "curves" or "columns"). In the column layout every
    curve shares the first column's x, and a cell left empty is NaN.
    """
    data = read_bytes(path)
    lines = text_lines(path, data)
    if lines[0][1] != "# Orvik line view snapshot":
        raise FormatError(path, 0, "not a line view snapshot (first line is not '# Orvik line view snapshot')")
    meta = {}
    i = 1
    while i < len(lines) and lines[i][1].startswith("#"):
        body = lines[i][1][1:].strip()
        key, sep, value = body.partition(":")
        if sep and key in ("display", "x-pixels", "x-unit", "y-unit"):
            meta[key] = typed(value) if key == "x-pixels" else value.strip()
        elif i == 1:
            meta["date"] = body
        i += 1
    if i >= len(lines):
        raise FormatError(path, len(data), "no column line 'X ; Y'")
    off, columns = lines[i]
    names = [c.strip() for c in columns.split(";")]
    if names[:2] != ["X", "Y"] or any(n != f"Y[{k}]" for k, n in enumerate(names[2:], start=2)):
        raise FormatError(path, off, f"bad column line {columns!r}")
    ncurves = len(names) - 1
    npoints = meta.get("x-pixels")
    if not isinstance(npoints, int) or npoints < 0:
        raise FormatError(path, 0, "no x-pixels in the header")
    body = lines[i + 1:]
    curves = []
    if any(line.startswith("# curve ") for _, line in body) or ncurves == 1 or all(
            len(line.split(";")) == 2 for _, line in body):
        meta["layout"] = "curves"
        current = []
        blocks = [current]
        for off, line in body:
            if line.startswith("# curve "):
                k = parse_int(path, off, line[len("# curve "):])
                if k != len(blocks) + 1:
                    raise FormatError(path, off, f"curve {k} where curve {len(blocks) + 1} was expected")
                current = []
                blocks.append(current)
                continue
            parts = line.split(";")
            if len(parts) != 2:
                raise FormatError(path, off, f"expected 'x ; y': {line!r}")
            current.append((parse_number(path, off, parts[0]), parse_number(path, off, parts[1])))
        if len(blocks) != ncurves:
            raise FormatError(path, len(data), f"{len(blocks)} of {ncurves} curves (truncated)")
        if len(blocks[0]) != npoints:
            raise FormatError(path, len(data), f"the first curve has {len(blocks[0])} of {npoints} points")
        for b in blocks:
            a = np.array(b, dtype=np.float64).reshape(-1, 2)
            curves.append((a[:, 0].copy(), a[:, 1].copy()))
    else:
        meta["layout"] = "columns"
        table = []
        for off, line in body:
            parts = line.split(";")
            if len(parts) != ncurves + 1:
                raise FormatError(path, off, f"expected {ncurves + 1} columns: {line!r}")
            table.append([parse_number(path, off, p) if p.strip() else math.nan for p in parts])
        if len(table) != npoints:
            raise FormatError(path, len(data), f"{len(table)} of {npoints} rows (truncated)")
        a = np.array(table, dtype=np.float64).reshape(-1, ncurves + 1)
        curves = [(a[:, 0].copy(), a[:, k].copy()) for k in range(1, ncurves + 1)]
    return curves, meta


def read_channel_csv(path):
    """Reads a channel's line export (CSV with 'X ; Y' columns).

    Returns ``(x, y, meta)``: float arrays in physical units and the header (``title``, ``date``, ``x-unit``,
    ``y-unit``).
    """
    data = read_bytes(path)
    lines = text_lines(path, data)
    meta = {}
    i = 0
    while i < len(lines) and lines[i][1].startswith("#"):
        body = lines[i][1][1:].strip()
        if body.startswith("Date:"):
            meta["date"] = body[5:].strip()
        elif body.startswith("Unit of X:"):
            meta["x-unit"] = body[10:].strip()
        elif body.startswith("Unit of Y:"):
            meta["y-unit"] = body[10:].strip()
        elif i == 0:
            meta["title"] = body
        i += 1
    if i >= len(lines) or lines[i][1].strip() != "X ; Y" or "x-unit" not in meta:
        raise FormatError(path, lines[i][0] if i < len(lines) else len(data), "not a channel CSV (no 'X ; Y' line)")
    xs, ys = [], []
    for off, line in lines[i + 1:]:
        parts = line.split(";")
        if len(parts) != 2:
            raise FormatError(path, off, f"expected 'x ; y': {line!r}")
        xs.append(parse_number(path, off, parts[0]))
        ys.append(parse_number(path, off, parts[1]))
    return np.array(xs, dtype=np.float64), np.array(ys, dtype=np.float64), meta


def read_permlog(path):
    """Reads a channel's permanent log: every data word as 'index ; value'.

    Returns ``(index, value, meta)``: int64 positions and int32 raw words, in the order written, and the header
    (``title``, ``date``). A log that ends inside a line (a crash during a write) is refused.
    """
    data = read_bytes(path)
    lines = text_lines(path, data)
    meta = {}
    i = 0
    while i < len(lines) and lines[i][1].startswith("#"):
        body = lines[i][1][1:].strip()
        if body.startswith("Date:"):
            meta["date"] = body[5:].strip()
        elif i == 0:
            meta["title"] = body
        i += 1
    if i >= len(lines) or lines[i][1].strip() != "Index ; Value":
        raise FormatError(path, lines[i][0] if i < len(lines) else len(data),
                          "not a permanent log (no 'Index ; Value' line)")
    n = len(lines) - i - 1
    index = np.empty(n, dtype=np.int64)
    value = np.empty(n, dtype=np.int32)
    for k, (off, line) in enumerate(lines[i + 1:]):
        parts = line.split(";")
        if len(parts) != 2:
            raise FormatError(path, off, f"expected 'index ; value': {line!r}")
        index[k] = parse_int(path, off, parts[0])
        v = parse_int(path, off, parts[1])
        if not -2**31 <= v < 2**31:
            raise FormatError(path, off, f"value {v} is not a 32-bit word")
        value[k] = v
    return index, value, meta

