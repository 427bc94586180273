"""Shared pieces of the readers: the error type, unit codes and text-file helpers."""

import math
import os


class FormatError(ValueError):
    """A file is not of the expected format, or is truncated or corrupted.

    ``path`` names the file and ``offset`` the byte at which the fault was found.
    """

    def __init__(self, path, offset, reason):
        self.path = os.fspath(path)
        self.offset = int(offset)
        self.reason = reason
        super().__init__(f"{self.path}: at byte {self.offset}: {reason}")


# Basic unit codes 0...6: fixed units with their factor to the base unit.
_BASIC_UNITS = {
    0: ("m", 1e-12),
    1: ("V", 1e-6),
    2: ("Hz", 1.0),
    3: ("s", 1e-9),
    4: ("V", 1.0),
    5: ("s", 1e-3),
    6: ("cos", 1.0),
}
# Kind codes: kind << 8 | (128 + p), p the power of 1000 of the prefix. Kinds 13...24 are kinds 1...12 per second.
_KIND_UNITS = ["", "m", "V", "Hz", "s", "\u00b0", "A", "K", "cps", "m", "%", "dBm", "W"]


def unit_of_code(code):
    """Base unit text and factor to that unit of a unit code, as the viewer resolves it.

    Unknown codes give ("", 1.0).
    """
    code = int(code)
    if code in _BASIC_UNITS:
        return _BASIC_UNITS[code]
    if code < 0:
        return "", 1.0
    kind = code >> 8
    power = (code & 0xFF) - 128
    if power < -6 or power > 6:
        power = 0
    if kind < len(_KIND_UNITS):
        text = _KIND_UNITS[kind]
    elif kind < 2 * len(_KIND_UNITS) - 1:
        text = _KIND_UNITS[kind - 12] + "/s"
    else:
        return "", 1.0
    return text, math.pow(1000.0, power)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def text_lines(path, data, encoding="latin-1"):
    """Splits a text file into (offset, line) pairs. Every line must end with a newline: a file that does not was cut
    off, and its last line could hold a shortened number."""
    if not data:
        raise FormatError(path, 0, "the file is empty")
    if not data.endswith(b"\n"):
        raise FormatError(path, len(data), "the file ends inside a line (truncated)")
    if b"\0" in data:
        raise FormatError(path, data.index(b"\0"), "a NUL byte in a text file")
    lines = []
    pos = 0
    for raw in data[:-1].split(b"\n"):
        line = raw.decode(encoding)
        if line.endswith("\r"):
            line = line[:-1]
        lines.append((pos, line))
        pos += len(raw) + 1
    return lines


def parse_number(path, offset, text):
    t = text.strip()
    if t in ("NaN", "nan"):
        return math.nan
    try:
        return float(t)
    except ValueError:
        raise FormatError(path, offset, f"not a number: {t!r}") from None


def parse_int(path, offset, text):
    try:
        return int(text.strip())
    except ValueError:
        raise FormatError(path, offset, f"not an integer: {text.strip()!r}") from None


def typed(value):
    """A header value as int, float or text."""
    v = value.strip()
    try:
        return int(v)
    except ValueError:
        pass
    try:
        return float(v)
    except ValueError:
        return v
