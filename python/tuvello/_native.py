# SPDX-License-Identifier: MIT
"""The library's structures and visitor types as ctypes declares them, and
walking a song with a Python visitor."""

import ctypes
from typing import Union

from ._loading import library
from ._signals import SignalsHeld

#: What the functions take as a song text (or ringtone): a str (encoded as
#: UTF-8), bytes (passed unchanged), or None (the empty song).
SongText = Union[str, bytes, bytearray, memoryview, None]
TOO_LONG = "the song's WAV image would pass 2147483647 bytes"
SongReader = ctypes.c_void_p
NOTE_PIPE = 1  # TUVELLO_NOTE_PIPE
NOTE_DECAY = 2  # TUVELLO_NOTE_DECAY


class CNote(ctypes.Structure):
    """TUVELLO_Note."""

    _fields_ = [
        ("struct_size", ctypes.c_uint32),
        ("command", ctypes.c_int32),
        ("text_offset", ctypes.c_int64),
        ("text_length", ctypes.c_int64),
        ("image_offset", ctypes.c_int64),
        ("bytes", ctypes.c_int32),
        ("frames", ctypes.c_int32),
        ("pitch_hz", ctypes.c_double),
        ("amplitude", ctypes.c_int32),
        ("flags", ctypes.c_int32),
    ]


class CWarning(ctypes.Structure):
    """TUVELLO_Warning."""

    _fields_ = [
        ("struct_size", ctypes.c_uint32),
        ("command", ctypes.c_int32),
        ("text_offset", ctypes.c_int64),
        ("text_length", ctypes.c_int64),
        ("kind", ctypes.c_int32),
        ("message", ctypes.c_char_p),
    ]


NoteVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(CNote), ctypes.c_void_p)
WarningVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(CWarning), ctypes.c_void_p)


def visit(call, visitor_type, make):
    """Runs call(visitor), where the library calls visitor once per note or
    warning, and returns (the list of make(item) in order, call's result).

    An exception in the visitor (a KeyboardInterrupt, a MemoryError) stops
    the walk and is raised once the library returns, instead of being
    printed and ignored by ctypes with the list cut short. Signal handlers
    are held back between visits and run inside the visitor, so that a
    KeyboardInterrupt is one of those exceptions."""
    found = []
    failure = [None]
    held = SignalsHeld()

    def visitor(item, _context):
        try:
            if failure[0] is None:
                if held.arrived:
                    held.run_arrived()
                found.append(make(item.contents))
                return 0
        except BaseException as error:  # noqa: B902 - raised again below
            failure[0] = error
        return 1

    try:
        held.hold()
        result = call(visitor_type(visitor))
    finally:
        held.release()
    error, failure[0] = failure[0], None
    if error is not None:
        found.clear()  # the traceback keeps this frame: free what it holds
        raise error
    return found, result


def visit_counted(call, visitor_type, make):
    """visit() for a walk whose result is the number of visits: a visit
    that failed before the visitor could run (ctypes making its arguments
    without memory, the recursion limit) is found by the count."""
    found, count = visit(call, visitor_type, make)
    if count >= 0 and count != len(found):
        lost, found[:] = count - len(found), ()
        raise MemoryError(f"tuvello: {lost} of {count} visits failed before they began "
                          "(out of memory, or the recursion limit; Python printed why above)")
    return found, count


class SongTooLongError(ValueError):
    """The song's image would pass 2147483647 bytes, the most a WAV file holds."""


SongTooLongError.__module__ = "tuvello"  # the public name, as pickle and tracebacks show it


def song_text(text):
    """text as the library takes it: bytes, or None for the empty song."""
    if text is None:
        return None
    if isinstance(text, str):
        data = text.encode("utf-8")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        data = bytes(text)
    else:
        raise TypeError(f"a song text is str, bytes or None, not {type(text).__name__}")
    if b"\0" in data:
        raise ValueError("a song text cannot contain a NUL character")
    return data


def measure(data):
    """The length of the image of data (bytes or None), or SongTooLongError."""
    size = library().function("TUVELLO_MeasureSong", [ctypes.c_char_p], ctypes.c_int64)(data)
    if size < 0:
        raise SongTooLongError(TOO_LONG)
    return size
