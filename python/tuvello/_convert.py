# SPDX-License-Identifier: MIT
"""The library's converters (RTTTL and MIDI, both ways) under its buffer
contract: measured with their warnings first, then written into a buffer of
that size. The library decides every rule; what is here maps Python's
arguments onto its options and the ringtone collection onto its lines."""

import ctypes

from ._loading import library
from ._native import SongTooLongError, TOO_LONG, WarningVisitor, song_text, visit

# The wording of the npm package's errors, with Python's argument names.
OCTAVE_SHIFT_ERROR = 'octave_shift is "auto", "none" or a whole number of octaves from -8 to 8'
MIDI_ERRORS = {
    "track": "track is 0 or None (the first with notes) or a track chunk's number from 1",
    "channel": "channel is 0 or None (every channel) or 1 to 16",
    "overlap": 'overlap is "highest", "lowest" or "first"',
}
MAX_IMAGE_BYTES_ERROR = "max_image_bytes is 0 (no limit) or a whole number of bytes no fewer than the header's"
SHIFT_MODES = {"auto": 0, "none": 1}  # TUVELLO_OCTAVE_SHIFT_AUTO, _NONE; a number is _BY (2)
OVERLAP_RULES = ("highest", "lowest", "first")  # TUVELLO_MIDI_HIGHEST, _LOWEST, _FIRST
BLANK = b" \t\r"


class RtttlOptions(ctypes.Structure):
    """TUVELLO_RtttlOptions."""

    _fields_ = [("struct_size", ctypes.c_uint32), ("octave_shift", ctypes.c_int32), ("octaves", ctypes.c_int32),
                ("max_image_bytes", ctypes.c_int64)]


class MidiOptions(ctypes.Structure):
    """TUVELLO_MidiOptions."""

    _fields_ = [("struct_size", ctypes.c_uint32), ("track", ctypes.c_int32), ("channel", ctypes.c_int32),
                ("overlap", ctypes.c_int32), ("velocity", ctypes.c_int32)]


_P = ctypes.c_char_p
_RTTTL = ("TUVELLO_ConvertRtttlEx",
          [_P, _P, ctypes.c_int64, ctypes.POINTER(RtttlOptions), WarningVisitor, ctypes.c_void_p])
_EXPORT_RTTTL = ("TUVELLO_ExportRtttl", [_P, _P, _P, ctypes.c_int64, WarningVisitor, ctypes.c_void_p])
_MIDI = ("TUVELLO_ConvertMidi", [_P, ctypes.c_int64, ctypes.POINTER(MidiOptions), _P, ctypes.c_int64,
                                 WarningVisitor, ctypes.c_void_p])
_NAME = ("TUVELLO_RtttlName", [_P, ctypes.POINTER(ctypes.c_int64)])
_EXPORT_MIDI = ("TUVELLO_ExportMidi", [_P, _P, ctypes.c_int64, WarningVisitor, ctypes.c_void_p])


def _api(function):
    name, argtypes = function
    return library().function(name, argtypes, ctypes.c_int64)


def _int32(value):
    """Whether value is a whole number the library's int32_t fields hold."""
    return isinstance(value, int) and not isinstance(value, bool) and -2**31 <= value < 2**31


def two_pass(call, make):
    """(warnings made by make, the output buffer, its length) of
    call(buffer, capacity, visitor), a converter under the buffer contract;
    (warnings, None, -1) when the converter refuses (-1). A failing visitor
    stops the warnings, not the conversion: its error is raised once the
    first call returns."""
    warnings, length = visit(lambda visitor: call(None, 0, visitor), WarningVisitor, make)
    if length < 0:
        return warnings, None, length
    buffer = ctypes.create_string_buffer(length + 1)  # MemoryError when memory runs out
    if call(buffer, length + 1, WarningVisitor()) != length:
        raise RuntimeError("tuvello: the library wrote another length than it measured")
    return warnings, buffer, length


def rtttl_options(octave_shift, max_image_bytes=0):
    """octave_shift and max_image_bytes as TUVELLO_RtttlOptions, which the
    library accepts."""
    if isinstance(octave_shift, str) and octave_shift in SHIFT_MODES:
        mode, octaves = SHIFT_MODES[octave_shift], 0
    elif _int32(octave_shift):
        mode, octaves = 2, octave_shift  # TUVELLO_OCTAVE_SHIFT_BY
    else:
        raise ValueError(OCTAVE_SHIFT_ERROR)
    if not (isinstance(max_image_bytes, int) and not isinstance(max_image_bytes, bool)
            and 0 <= max_image_bytes < 2**63):
        raise ValueError(MAX_IMAGE_BYTES_ERROR)
    options = RtttlOptions(ctypes.sizeof(RtttlOptions), mode, octaves, 0)
    # The library says which values it takes: asked with the empty ringtone.
    if _api(_RTTTL)(None, None, 0, ctypes.byref(options), WarningVisitor(), None) < 0:
        raise ValueError(OCTAVE_SHIFT_ERROR)
    options.max_image_bytes = max_image_bytes
    if _api(_RTTTL)(None, None, 0, ctypes.byref(options), WarningVisitor(), None) < 0:
        raise ValueError(MAX_IMAGE_BYTES_ERROR)
    return options


def from_rtttl(data, options, make):
    """(song text, warnings) of the ringtone data (bytes or None)."""
    convert = _api(_RTTTL)
    warnings, text, length = two_pass(
        lambda out, capacity, visitor: convert(data, out, capacity, ctypes.byref(options), visitor, None), make)
    if length == -2:  # past max_image_bytes: the last warning says at which note
        place = warnings[-1]
        error = SongTooLongError(f"the song image would pass {options.max_image_bytes} bytes at the note "
                                 f"at byte {place.offset} of the ringtone")
        error.offset = place.offset
        raise error
    return str(memoryview(text)[:length], "ascii"), warnings


def to_rtttl(text, name, make):
    data, name = song_text(text), song_text(name)
    export = _api(_EXPORT_RTTTL)
    warnings, rtttl, length = two_pass(lambda out, capacity, visitor: export(data, name, out, capacity, visitor, None),
                                       make)
    # The name's bytes are kept as given (a ':' or control byte made '_'):
    # bytes that are no UTF-8 come back as surrogates, as os.fsdecode gives them.
    return str(memoryview(rtttl)[:length], "utf-8", "surrogateescape"), warnings


def midi_options(track, channel, overlap, velocity):
    """The arguments as TUVELLO_MidiOptions, which the library accepts."""
    numbers = {"track": 0 if track is None else track, "channel": 0 if channel is None else channel}
    for name, value in numbers.items():
        if not _int32(value):
            raise ValueError(MIDI_ERRORS[name])
    if not (isinstance(overlap, str) and overlap in OVERLAP_RULES):
        raise ValueError(MIDI_ERRORS["overlap"])
    size = ctypes.sizeof(MidiOptions)
    options = MidiOptions(size, numbers["track"], numbers["channel"], OVERLAP_RULES.index(overlap),
                          1 if velocity else 0)
    convert = _api(_MIDI)
    if convert(None, 0, ctypes.byref(options), None, 0, WarningVisitor(), None) < 0:
        # The library refuses the options, asked with the empty file: name
        # the one it refuses alone.
        for name, value in numbers.items():
            alone = MidiOptions(size, **{name: value})
            if convert(None, 0, ctypes.byref(alone), None, 0, WarningVisitor(), None) < 0:
                raise ValueError(MIDI_ERRORS[name])
        raise ValueError(f"the library refuses these options: track={track!r}, channel={channel!r}")
    return options


def from_midi(data, options, make):
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError(f"a MIDI file is bytes, not {type(data).__name__}")
    data = bytes(data)
    convert = _api(_MIDI)
    warnings, text, length = two_pass(
        lambda out, capacity, visitor: convert(data, len(data), ctypes.byref(options), out, capacity, visitor, None),
        make)
    return str(memoryview(text)[:length], "ascii"), warnings


def to_midi(text, make):
    data = song_text(text)
    export = _api(_EXPORT_MIDI)
    warnings, smf, size = two_pass(lambda out, capacity, visitor: export(data, out, capacity, visitor, None), make)
    if smf is None:
        raise SongTooLongError(TOO_LONG)
    return ctypes.string_at(smf, size), warnings


def collection_lines(collection):
    """(line number, byte offset, bytes without the line end) of each line
    of a ringtone collection: str or bytes, or an iterable of lines (str or
    bytes, each ending its line whether or not it ends with a line break),
    read as it is asked for. Offsets count bytes of the UTF-8 encoding."""
    chunks = [collection] if isinstance(collection, (str, bytes, bytearray, memoryview)) else collection
    line = offset = 0
    for chunk in chunks:
        if isinstance(chunk, str):
            chunk = chunk.encode("utf-8")
        elif isinstance(chunk, (bytes, bytearray, memoryview)):
            chunk = bytes(chunk)
        else:
            raise TypeError(f"a ringtone collection's line is str or bytes, not {type(chunk).__name__}")
        start = 0
        while start < len(chunk):
            end = chunk.find(b"\n", start)
            if end < 0:
                end = len(chunk)
            ringtone = chunk[start:end]
            line += 1
            yield line, offset, ringtone[:-1] if ringtone.endswith(b"\r") else ringtone
            offset += end + 1 - start
            start = end + 1


def skipped(ringtone):
    """Whether a collection's line holds no ringtone: blank, or a comment."""
    return ringtone.startswith(b"#") or not ringtone.strip(BLANK)


def ringtone_name(ringtone):
    """The name the library reads in a ringtone (bytes): TUVELLO_RtttlName."""
    offset = ctypes.c_int64(0)
    length = _api(_NAME)(ringtone, ctypes.byref(offset))
    return ringtone[offset.value:offset.value + length].decode("utf-8", "replace")
