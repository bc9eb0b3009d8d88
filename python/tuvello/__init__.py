# SPDX-License-Identifier: MIT
"""Render tuvello song texts to WAV files, through the tuvello shared library
(loaded with ctypes: nothing beyond the standard library is needed).

    import tuvello
    wav = tuvello.render("len:200;vol:80;c;e;g;p;c")   # a complete WAV file, as bytes
    tuvello.duration("len:200;vol:80;c;e;g;p;c")       # 1.0 (seconds)
    tuvello.save("len:200;vol:80;c;e;g;p;c", "song.wav")
    text, warnings = tuvello.from_rtttl("tune:d=8,o=5,b=150:c,e,g")  # RTTTL ringtones
    midi, warnings = tuvello.to_midi("len:250;c;e;g")  # and to_rtttl, from_midi, from_rtttl_collection

A song text is a ``str``, encoded as UTF-8 as the tool and the npm package
encode theirs (offsets count bytes of that encoding), ``bytes`` passed to the
library unchanged, or ``None``, the empty song. A NUL character raises
ValueError, since the library would stop reading there. Where the library is
looked for: see tuvello._loading. A song whose image would pass 2147483647
bytes raises SongTooLongError (a ValueError); running out of memory raises
MemoryError. No exception and no signal, at any moment, leaks an image or a
reader or is lost. __version__ is the version of the library's header this
module was built with.
"""

from __future__ import annotations

import ctypes
import dataclasses
import errno
import os
from typing import Iterable, Iterator, List, NamedTuple, Optional, Tuple, Union

from . import _convert, _files
from ._loading import BYTE_RATE, HEADER_BYTES, SAMPLE_RATE
from ._loading import ENVIRONMENT_VARIABLE, SONAME, LibraryNotFoundError, __version__  # noqa: F401
from ._loading import library as _library, load as _load  # noqa: F401 - _load: tests try other environments
from ._native import NOTE_DECAY, NOTE_PIPE, NoteVisitor, SongText, SongTooLongError, WarningVisitor
from ._native import CNote as _CNote  # noqa: F401 - tests make notes of their own
from ._native import TOO_LONG as _TOO_LONG, measure as _measure, song_text as _song_text
from ._native import visit as _visit, visit_counted as _visit_counted
from ._signals import SignalsHeld as _SignalsHeld
from ._songfile import SongFile

__all__ = ["BYTE_RATE", "HEADER_BYTES", "LibraryNotFoundError", "MidiWarning", "Note", "OctaveShift",
           "RtttlTune", "RtttlWarning", "SAMPLE_RATE", "SongFile", "SongText", "SongTooLongError",
           "SongWarning", "__version__", "check", "duration", "from_midi", "from_rtttl", "from_rtttl_collection",
           "library_path", "measure", "notes", "open", "render", "save", "to_midi", "to_rtttl"]

#: from_rtttl's octave_shift: "auto", "none" or a whole number of octaves from -8 to 8.
OctaveShift = Union[str, int]


def library_path() -> str:
    """The path or name the tuvello library was loaded from (loading it if needed)."""
    return _library().path


def _song_api(name, argtypes, restype):
    return _library().function(name, argtypes, restype)


def _with_song(text, read):
    """Renders text, hands the image to read(library, image) and frees it,
    always once: the image is freed before any Python code that a signal
    could interrupt runs."""
    data = _song_text(text)
    library = _library()
    song = None
    held = _SignalsHeld()
    try:
        held.hold()
        song = library.create_song(data)
        held.release()  # a KeyboardInterrupt that came meanwhile is raised here
        if not song:
            if library.measure_song is not None and library.measure_song(data) < 0:
                raise SongTooLongError(_TOO_LONG)
            unknown = "" if library.measure_song else ", or its image would pass 2147483647 bytes"
            raise MemoryError(f"tuvello could not render the song: out of memory{unknown}")
        return read(library, song)
    finally:
        if song:
            library.free_song(song)
        held.release()


def render(text: SongText) -> bytes:
    """The song text's WAV file (16-bit PCM, mono, at the library's sample rate) as bytes."""
    return _with_song(text, lambda lib, song: ctypes.string_at(song, lib.get_song_size(song)))


def duration(text: SongText) -> float:
    """The song text's playing time in seconds."""
    return _with_song(text, lambda lib, song: lib.get_song_duration(song))


def save(text: SongText, path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]) -> None:
    """Renders the song text and writes its WAV file to path (str, bytes or
    os.PathLike) by the tool's rules (see tuvello._files): a regular file
    appears complete or not at all, whatever cuts the save short (the old one
    is kept; a SIGTERM or SIGHUP then ends the process as it would have); a
    device, FIFO or socket is written into. Memory holds the text and 64 KiB.
    """
    path = os.fsencode(os.fspath(path))
    if not path:
        raise FileNotFoundError(errno.ENOENT, "empty path", path)
    # Measured and opened first (a song too long touches no file), then
    # streamed: memory holds the text and 64 KiB, never the image.
    with SongFile(text) as song:
        _files.save_song(song, path)


@dataclasses.dataclass(frozen=True)
class RtttlWarning:
    """Something of a ringtone that its song text cannot keep as written."""

    note: int  # 1-based number of the note; 0 for the name, the settings, the whole tune
    offset: int  # byte offset in the ringtone (of its UTF-8 encoding for a str)
    length: int  # bytes concerned; 0 marks a place, such as a missing section
    kind: int  # the library's TUVELLO_WARN_RTTTL_* value
    message: str  # one line of English
    line: int = 0  # from_rtttl_collection's: the 1-based line in the collection
    column: int = 0  # and the 1-based byte in that line


def _rtttl_warning(w):
    return RtttlWarning(w.command, w.text_offset, w.text_length, w.kind, w.message.decode("ascii", "replace"))


def _song_warning(w):
    return SongWarning(w.command, w.text_offset, w.text_length, w.kind, w.message.decode("ascii", "replace"))


def from_rtttl(ringtone: SongText, octave_shift: OctaveShift = "auto",
               max_image_bytes: int = 0) -> Tuple[str, List[RtttlWarning]]:
    """The song text that plays an RTTTL ringtone, and what it cannot keep.

    ringtone is a str (encoded as UTF-8), bytes, or None (the empty
    ringtone), such as "tune:d=8,o=5,b=150:c,e,g". octave_shift says how
    notes outside octaves 3 to 6 come into reach, as the tool's
    --octave-shift: "auto" (the whole tune by whole octaves, if it can),
    "none" (each such note alone, as version 1.1 did) or a whole number of
    octaves from -8 to 8 (the whole tune, then each note still out of
    reach); anything else raises ValueError. max_image_bytes, unless 0 (no
    limit, the default), stops the conversion at the note whose song image
    would pass that many bytes, raising SongTooLongError with that note's
    byte offset in the ringtone as its offset attribute, in time linear in
    the ringtone read so far. Returns (song text as a str, list of
    RtttlWarning in the order found).
    """
    options = _convert.rtttl_options(octave_shift, max_image_bytes)
    return _convert.from_rtttl(_song_text(ringtone), options, _rtttl_warning)


class RtttlTune(NamedTuple):
    """One ringtone of a collection, converted."""

    line: int  # 1-based line number in the collection
    name: str  # the ringtone's name as the library reads it ("" when it has none)
    text: str  # the song text that plays it
    warnings: List[RtttlWarning]  # offsets count bytes of the collection; line and column are set


def from_rtttl_collection(collection: Union[str, bytes, Iterable[Union[str, bytes]]],
                          octave_shift: OctaveShift = "auto") -> Iterator[RtttlTune]:
    """Each ringtone of a collection, one a line, converted as it is asked
    for: an RtttlTune per line that is neither blank nor starts with '#'.

    collection is a str (encoded as UTF-8), bytes, or an iterable of lines
    (str or bytes, such as an open file; each element ends its line).
    Offsets count bytes of the collection (lines without a line break
    count as if they had one). octave_shift as for from_rtttl, refused
    before the first tune; a line holding a NUL raises ValueError naming it.
    """
    options = _convert.rtttl_options(octave_shift)
    if not isinstance(collection, (str, bytes, bytearray, memoryview, Iterable)):
        raise TypeError(f"a ringtone collection is str, bytes or an iterable of lines, "
                        f"not {type(collection).__name__}")

    def tunes():
        for line, offset, ringtone in _convert.collection_lines(collection):
            if _convert.skipped(ringtone):
                continue
            if b"\0" in ringtone:
                raise ValueError(f"line {line} of the ringtone collection holds a NUL character")
            text, found = _convert.from_rtttl(ringtone, options, _rtttl_warning)
            name = _convert.ringtone_name(ringtone)
            warnings = [dataclasses.replace(w, offset=offset + w.offset, line=line,
                                            column=min(w.offset, len(ringtone)) + 1) for w in found]
            yield RtttlTune(line, name, text, warnings)

    return tunes()


def to_rtttl(text: SongText, name: SongText = "tune") -> Tuple[str, List[SongWarning]]:
    """The RTTTL ringtone that plays a song text, named name (each ':' and
    control byte in it written as '_'), and the warnings, located in the
    song text, about what a ringtone cannot hold: kind 75 (vol, pipe, dec),
    76 (a pitch between semitones), 77 (a length no note value reaches)."""
    return _convert.to_rtttl(text, name, _song_warning)


@dataclasses.dataclass(frozen=True)
class MidiWarning:
    """Something of a MIDI file that is broken or that its song text cannot keep."""

    track: int  # 1-based number of the track chunk concerned; 0 for the file as a whole
    offset: int  # byte offset in the file
    length: int  # bytes concerned; 0 marks a place
    kind: int  # the library's TUVELLO_WARN_MIDI_* value
    message: str  # one line of English


def from_midi(data: Union[bytes, bytearray, memoryview], track: Optional[int] = None,
              channel: Optional[int] = None, overlap: str = "highest",
              velocity: bool = False) -> Tuple[str, List[MidiWarning]]:
    """The song text that plays a Standard MIDI File's melody, and the
    warnings, located by byte offset in the file.

    track: the track chunk to play (from 1; None or 0: the first with
    notes); channel: only that channel's notes (1 to 16; None or 0: every
    channel); overlap: of notes sounding together, "highest", "lowest" or
    "first" (the one sounding longest) plays; velocity: each note's velocity
    sets "vol" (else full volume). An option out of range raises ValueError.
    """
    options = _convert.midi_options(track, channel, overlap, velocity)
    return _convert.from_midi(data, options, _midi_warning)


def _midi_warning(w):
    return MidiWarning(w.command, w.text_offset, w.text_length, w.kind, w.message.decode("ascii", "replace"))


def to_midi(text: SongText) -> Tuple[bytes, List[SongWarning]]:
    """The song text as a Standard MIDI File (format 0, a tick a
    millisecond), and the warnings about pipe and dec, which MIDI cannot
    hold. Raises SongTooLongError when the image would pass 2147483647 bytes."""
    return _convert.to_midi(text, _song_warning)


@dataclasses.dataclass(frozen=True)
class Note:
    """One note or pause of a song: the command that made it and its note block."""

    command: int  # 1-based number of the command in the text
    offset: int  # byte offset of the command as written (of its UTF-8 encoding for a str)
    length: int  # its length in bytes, without the ';'
    image_offset: int  # byte offset of the note block in the WAV image (the first follows the header)
    bytes: int  # block size
    frames: int  # frames that carry the tone; the block's last ones are silent
    pitch_hz: float  # the pitch heard, in Hz; 0.0 for a pause
    amplitude: int  # peak sample value at the block's start (0 for a pause)
    pipe: bool  # every sixteenth sample at twice the frequency
    decay: bool  # a linear fade over the block

    @property
    def start(self) -> float:
        """When the note starts, in seconds from the song's start."""
        return (self.image_offset - HEADER_BYTES) / BYTE_RATE

    @property
    def seconds(self) -> float:
        """How long the note's block lasts, in seconds."""
        return self.bytes / BYTE_RATE


@dataclasses.dataclass(frozen=True)
class SongWarning:
    """A command that has no effect, or not the one its writer probably meant."""

    command: int  # 1-based number of the command
    offset: int  # byte offset of the command as written (of its UTF-8 encoding for a str)
    length: int  # its length in bytes, without the ';'
    kind: int  # the library's TUVELLO_WARN_* value
    message: str  # "command N 'COMMAND': REASON", one line


def measure(text: SongText) -> int:
    """The length in bytes of the song text's WAV image, without rendering it.

    Raises SongTooLongError when the image would pass 2147483647 bytes.
    """
    return _measure(_song_text(text))


def notes(text: SongText) -> List[Note]:
    """The song's notes and pauses in the order they play: its note map.

    Raises SongTooLongError when the image would pass 2147483647 bytes.
    """
    for_each = _song_api("TUVELLO_ForEachNote", [ctypes.c_char_p, NoteVisitor, ctypes.c_void_p],
                         ctypes.c_int32)
    data = _song_text(text)

    def make(n):
        return Note(n.command, n.text_offset, n.text_length, n.image_offset, n.bytes, n.frames, n.pitch_hz,
                    n.amplitude, bool(n.flags & NOTE_PIPE), bool(n.flags & NOTE_DECAY))

    found, count = _visit_counted(lambda visitor: for_each(data, visitor, None), NoteVisitor, make)
    if count < 0:
        raise SongTooLongError(_TOO_LONG)
    return found


def check(text: SongText) -> List[SongWarning]:
    """The warnings about a song text in text order, at most one per command:
    the commands the library skips, reads otherwise than written, or that
    change nothing. The same as `tuvello check` prints."""
    for_each = _song_api("TUVELLO_ForEachWarning", [ctypes.c_char_p, WarningVisitor, ctypes.c_void_p],
                         ctypes.c_int32)
    data = _song_text(text)

    def make(w):
        return SongWarning(w.command, w.text_offset, w.text_length, w.kind,
                           w.message.decode("ascii", "replace"))

    return _visit_counted(lambda visitor: for_each(data, visitor, None), WarningVisitor, make)[0]


def open(text: SongText) -> SongFile:  # noqa: A001 - a file object, as io.open gives one
    """The song text's WAV image as a readable, seekable binary file that
    renders as it is read (see SongFile). Raises SongTooLongError when the
    image would pass 2147483647 bytes, MemoryError when memory runs out."""
    return SongFile(text)
