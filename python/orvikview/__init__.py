"""Readers of the files that Orvik View writes: snapshot frames and lines, channel logs, recordings and the view
recipes of snapshot sets.

Every reader returns numpy arrays and a dict of metadata in physical units, and raises :class:`FormatError` (naming
the file and the byte offset) for a file that is not of its format, truncated or corrupted.
"""

from ._common import FormatError, unit_of_code
from .frames import read_asc, read_bcrf, read_channel_csv, read_lineview_csv, read_permlog
from .recipe import read_recipe
from .recording import Recording, read_recording, read_timetags

__all__ = [
    "FormatError",
    "Recording",
    "read_asc",
    "read_bcrf",
    "read_channel_csv",
    "read_lineview_csv",
    "read_permlog",
    "read_recipe",
    "read_recording",
    "read_timetags",
    "unit_of_code",
]
__version__ = "0.1.0"
