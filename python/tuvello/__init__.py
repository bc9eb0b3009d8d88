# SPDX-License-Identifier: MIT
"""Render tuvello song texts to WAV files, through the tuvello shared library.

Needs nothing beyond the standard library: the library is loaded with ctypes.

    import tuvello
    wav = tuvello.render("len:200;vol:80;c;e;g;p;c")   # a complete WAV file, as bytes
    tuvello.duration("len:200;vol:80;c;e;g;p;c")       # 1.0 (seconds)
    tuvello.save("len:200;vol:80;c;e;g;p;c", "song.wav")
    text, warnings = tuvello.from_rtttl("tune:d=8,o=5,b=150:c,e,g")  # RTTTL ringtones

Song texts: a ``str`` is encoded as Latin-1, the library's 8-bit character set,
so a character outside Latin-1 raises UnicodeEncodeError; ``bytes`` are passed
to the library unchanged; ``None`` is the empty song (a 44-byte WAV file with no
frames), as in the library. A text may not contain a NUL character, since the
library would stop reading there (ValueError).

Where the library is looked for, in this order:

1. the path in the environment variable TUVELLO_LIBRARY, if it is set (and
   nowhere else then, so that a wrong path is reported, not papered over);
2. libtuvello.so.1 (or libtuvello.so) inside this package's directory;
3. the system's library path (LD_LIBRARY_PATH, the ld.so cache), by the soname
   libtuvello.so.1, so that a later incompatible major version is never used.

When none of them works, every function raises LibraryNotFoundError, an
OSError that lists each place tried and why it failed.

A song whose image would pass 2147483647 bytes raises SongTooLongError, a
ValueError; running out of memory raises MemoryError.

save() writes files by the same rules as the tuvello tool: a regular file is
replaced atomically (temporary file beside it, fsync, rename, fsync of the
directory), keeping its mode and, where permitted, its owner, never a set-ID
bit; a device, FIFO or socket is written directly; links are followed to their
final target; an interrupted save (KeyboardInterrupt, SIGTERM, SIGHUP) removes
its temporary file.

__version__ is the version of the library this module was built with, as its
header gives it.
"""

from __future__ import annotations

import ctypes
import dataclasses
import errno
import io
import operator
import os
import secrets
import signal
import socket
import stat
import threading
from typing import Iterable, List, Tuple, Union

__all__ = ["LibraryNotFoundError", "Note", "RtttlWarning", "SongFile", "SongText", "SongTooLongError",
           "SongWarning", "__version__", "check", "duration", "from_rtttl", "library_path", "measure",
           "notes", "open", "render", "save"]

#: What the functions take as a song text (or ringtone): see above.
SongText = Union[str, bytes, bytearray, memoryview, None]


def _header_version() -> str:
    """The version in a source checkout, from the header beside this package."""
    import re

    header = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "include", "tuvello.h")
    try:
        with io.open(header, encoding="utf-8") as file:
            text = file.read()
    except OSError:
        return "0+unknown"
    parts = [re.search(rf"^#define TUVELLO_VERSION_{part} +(\d+)", text, re.MULTILINE)
             for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(match.group(1) for match in parts if match) if all(parts) else "0+unknown"


try:
    # Written when the package is built or installed, from the library's header.
    from ._version import __version__
except ImportError:
    __version__ = _header_version()

ENVIRONMENT_VARIABLE = "TUVELLO_LIBRARY"
SONAME = "libtuvello.so.1"
_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_BUNDLED_NAMES = (SONAME, "libtuvello.so")


class LibraryNotFoundError(OSError):
    """The tuvello shared library could not be loaded.

    ``attempts`` holds one (place, reason) pair for every place that was tried.
    """

    def __init__(self, attempts: Iterable[Tuple[str, str]]) -> None:
        self.attempts: Tuple[Tuple[str, str], ...] = tuple(attempts)
        tried = "; ".join(f"{place}: {reason}" for place, reason in self.attempts)
        super().__init__(
            f"cannot load the tuvello library ({SONAME}). Tried {tried}. Set "
            f"{ENVIRONMENT_VARIABLE} to the path of {SONAME}, or install tuvello."
        )


class SongTooLongError(ValueError):
    """The song's image would pass 2147483647 bytes, the most a WAV file holds."""


class _Library:
    """The loaded shared object and the functions this module calls."""

    def __init__(self, cdll, path):
        self.path = path
        self.cdll = cdll  # for functions bound on first use
        song = ctypes.c_void_p
        self.create_song = _bind(cdll.TUVELLO_CreateSong, [ctypes.c_char_p], song)
        self.get_song_size = _bind(cdll.TUVELLO_GetSongSize, [song], ctypes.c_int32)
        self.get_song_duration = _bind(cdll.TUVELLO_GetSongDuration, [song], ctypes.c_double)
        self.free_song = _bind(cdll.TUVELLO_FreeSong, [song], ctypes.c_int32)
        # Tells "too long" from "out of memory" where the library has it.
        measure = getattr(cdll, "TUVELLO_MeasureSong", None)
        self.measure_song = measure and _bind(measure, [ctypes.c_char_p], ctypes.c_int64)


def _bind(function, argtypes, restype):
    """A C function with its argument and result types declared."""
    function.argtypes = argtypes
    function.restype = restype
    return function


def _candidates(environ):
    """The places to try, in order, as (description, path to load) pairs."""
    explicit = environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        return [(f"{ENVIRONMENT_VARIABLE}={explicit}", explicit)]
    places = [(os.path.join(_PACKAGE_DIR, name),) * 2 for name in _BUNDLED_NAMES]
    places.append((f"the system library path ({SONAME})", SONAME))
    return places


def _load(environ):
    attempts = []
    for place, path in _candidates(environ):
        if os.sep in path and not os.path.exists(path):
            attempts.append((place, "no such file"))
            continue
        try:
            cdll = ctypes.CDLL(path)
        except OSError as error:
            attempts.append((place, str(error)))
            continue
        try:
            return _Library(cdll, getattr(cdll, "_name", path))
        except AttributeError as error:
            attempts.append((place, f"not the tuvello library ({error})"))
    raise LibraryNotFoundError(attempts)


_loaded = None
_load_lock = threading.Lock()


def _library():
    global _loaded
    with _load_lock:
        if _loaded is None:
            _loaded = _load(os.environ)
        return _loaded


def library_path() -> str:
    """The path or name the tuvello library was loaded from (loading it if needed)."""
    return _library().path


def _song_text(text):
    if text is None:
        return None
    if isinstance(text, str):
        data = text.encode("latin-1")
    elif isinstance(text, (bytes, bytearray, memoryview)):
        data = bytes(text)
    else:
        raise TypeError(f"a song text is str, bytes or None, not {type(text).__name__}")
    if b"\0" in data:
        raise ValueError("a song text cannot contain a NUL character")
    return data


try:
    # The C functions: signal.getsignal() of a Python handler costs fifty times more.
    from _signal import SIG_DFL as _SIG_DFL, getsignal as _getsignal, signal as _setsignal
except ImportError:  # pragma: no cover - other interpreters
    _SIG_DFL, _getsignal, _setsignal = signal.SIG_DFL, signal.getsignal, signal.signal


class _SignalsHeld:
    """Holds back the Python signal handlers (KeyboardInterrupt's above all)
    while something the library made is only a number on its way to where it
    is freed, or while the library walks a song: an exception there would
    lose the image or be swallowed by ctypes. Handlers run in the main thread
    only, so elsewhere there is nothing to hold.

    hold() swaps every Python handler for _note(); run_arrived() runs the
    handlers of what arrived meanwhile (a visitor calls it, so that a
    KeyboardInterrupt still stops a walk at once); release() runs them too and
    puts the handlers back. Call hold() inside the try whose finally calls
    release(). A handler left swapped by a signal that cut release() short
    passes its signals straight on."""

    def __init__(self):
        self.holding = False
        self.handlers = {}  # signal number: the handler held back
        self.arrived = []

    def hold(self):
        if threading.get_ident() != threading.main_thread().ident:
            return
        self.holding = True
        for number in _SIGNALS:
            handler = _getsignal(number)
            if getattr(handler, "__func__", None) is _SignalsHeld._note and not handler.__self__.holding:
                handler = handler.__self__.handlers[number]  # left by a release cut short
            if callable(handler):
                self.handlers[number] = handler
                _setsignal(number, self._note)

    def _note(self, number, frame):
        if self.holding:
            self.arrived.append((number, frame))
        else:
            self.handlers[number](number, frame)

    def run_arrived(self):
        while self.arrived:
            number, frame = self.arrived.pop(0)
            self.handlers[number](number, frame)

    def release(self):
        self.holding = False
        try:
            self.run_arrived()
        finally:
            for number, handler in self.handlers.items():
                if _getsignal(number) == self._note:
                    _setsignal(number, handler)
            # What arrived after a handler raised goes to the handlers now in
            # place, as Python delivers signals that are pending together.
            arrived, self.arrived = self.arrived, []
            for number, _ in arrived:
                signal.raise_signal(number)


_SIGNALS = tuple(sorted(signal.valid_signals()))


def _too_long_or_out_of_memory(library, data):
    if library.measure_song is not None:
        if library.measure_song(data) < 0:
            return SongTooLongError("the song's WAV image would pass 2147483647 bytes")
        return MemoryError("tuvello could not render the song: out of memory")
    return MemoryError(
        "tuvello could not render the song: out of memory, or its image would pass 2147483647 bytes"
    )


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
            raise _too_long_or_out_of_memory(library, data)
        return read(library, song)
    finally:
        if song:
            library.free_song(song)
        held.release()


def render(text: SongText) -> bytes:
    """The song text's WAV file (16-bit PCM, mono, 22050 frames per second) as bytes."""
    return _with_song(text, lambda lib, song: ctypes.string_at(song, lib.get_song_size(song)))


def duration(text: SongText) -> float:
    """The song text's playing time in seconds."""
    return _with_song(text, lambda lib, song: lib.get_song_duration(song))


_MAX_LINKS = 40


def _final_target(path):
    """path (bytes) followed through its symbolic links, and its lstat or None."""
    for _ in range(_MAX_LINKS + 1):
        try:
            info = os.lstat(path)
        except FileNotFoundError:
            return path, None  # a new file, or the missing end of a chain of links
        if not stat.S_ISLNK(info.st_mode):
            return path, info
        link = os.readlink(path)
        path = link if link.startswith(b"/") else os.path.join(os.path.dirname(path), link)
    raise OSError(errno.ELOOP, os.strerror(errno.ELOOP), path)


def _write_all(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view) :]


def _chunks(song):
    """The bytes of a SongFile in order, 64 KiB at a time."""
    buffer = bytearray(1 << 16)
    while True:
        n = song.readinto(buffer)
        if not n:
            return
        yield memoryview(buffer)[:n]


def _write_directly(path, info, song):
    """A device, FIFO or socket takes the bytes in place. Signals are not
    held here, so that a KeyboardInterrupt still ends a write that blocks."""
    if stat.S_ISSOCK(info.st_mode):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as connection:
            connection.connect(path)
            for chunk in _chunks(song):
                connection.sendall(chunk)
        return
    fd = -1
    held = _SignalsHeld()  # the descriptor is only a number until it is kept
    try:
        held.hold()
        fd = os.open(path, os.O_WRONLY | os.O_NOCTTY | os.O_CLOEXEC)
        held.release()
        for chunk in _chunks(song):
            _write_all(fd, chunk)
    finally:
        if fd >= 0:
            os.close(fd)
        held.release()


def _temporary_beside(target, names):
    """Creates a temporary file beside target; its name fits NAME_MAX. The
    name goes into names before the file is made, so that a signal arriving
    just after it is made still finds it to remove."""
    directory, name = os.path.split(target)
    directory = directory or b"."
    try:
        name_max = os.pathconf(directory, "PC_NAME_MAX")
    except OSError:
        name_max = 255
    name = name[: name_max - 8]  # "." before, "." and six characters after
    while True:
        temporary = os.path.join(directory, b"." + name + b"." + secrets.token_hex(3).encode())
        names.append(temporary)
        try:
            # 0o666 so that the umask decides the mode of a new file.
            return temporary, os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
        except FileExistsError:
            names.pop()


class _Terminated(BaseException):
    """A SIGTERM or SIGHUP that arrived during save()."""


def _terminate(number, frame):
    raise _Terminated(number)


def _end_saves_on(ends):
    """Handlers for SIGTERM and SIGHUP that raise, where they would have ended
    the process, so that the temporary file is removed first; their numbers
    go into ends before they are swapped."""
    if threading.get_ident() != threading.main_thread().ident:
        return
    for name in ("SIGTERM", "SIGHUP"):
        number = getattr(signal, name, None)
        if number is not None and _getsignal(number) == _SIG_DFL:
            ends.append(number)
            _setsignal(number, _terminate)


def _replace_atomically(target, info, song, held):
    """Writes song to a temporary file beside target and renames it over
    target. The caller holds signals: their handlers run between chunks,
    and whatever they raise finds the clean-up below uninterruptible."""
    names = []  # the temporary file, once it may exist
    fd = -1
    try:
        temporary, fd = _temporary_beside(target, names)
        if info is not None:
            try:
                os.fchown(fd, info.st_uid, info.st_gid)
            except OSError:
                try:
                    os.fchown(fd, -1, info.st_gid)
                except OSError:
                    pass
            # Never a set-user-ID or set-group-ID bit.
            os.fchmod(fd, stat.S_IMODE(info.st_mode) & 0o777)
        for chunk in _chunks(song):
            if held.arrived:
                held.run_arrived()
            _write_all(fd, chunk)
        os.fsync(fd)
        os.close(fd)
        fd = -1
        if held.arrived:
            held.run_arrived()  # the last moment the old file can still be kept
        os.replace(temporary, target)
        names.clear()
        directory = os.open(os.path.dirname(target) or b".", os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
        try:
            os.fsync(directory)
        except OSError as error:
            if error.errno != errno.EINVAL:  # some file systems cannot sync a directory
                raise
        finally:
            os.close(directory)
    finally:
        if fd >= 0:
            os.close(fd)
        for temporary in names:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass


def save(text: SongText, path: Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]) -> None:
    """Renders the song text and writes its WAV file to path (str, bytes or
    os.PathLike), streaming it: memory holds the text and 64 KiB, never the
    whole image.

    A regular file (or a new one) appears complete or not at all: the image
    goes to a temporary file beside it, which is synced and then renamed over
    it; on failure path is left as it was and the temporary file is removed,
    also when a KeyboardInterrupt, SIGTERM or SIGHUP cuts the save short (the
    signal then ends the process as it would have). A replaced file keeps its
    mode and, where permitted, its owner and group, never a set-ID bit; a new
    file gets the mode the umask leaves of 0o666. Symbolic links are followed
    to their final target, which is created if missing. A device, FIFO or
    socket at path is written into, never replaced.
    """
    path = os.fsencode(os.fspath(path))
    if not path:
        raise FileNotFoundError(errno.ENOENT, "empty path", path)
    # Measured and opened first (a song too long touches no file), then
    # streamed: memory holds the text and 64 KiB, never the image.
    with SongFile(text) as song:
        _save_song(song, path)


def _save_song(song, path):
    target, info = _final_target(path)
    if info is not None and stat.S_ISDIR(info.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if info is not None and not stat.S_ISREG(info.st_mode):
        _write_directly(target, info, song)
        return
    ends = []  # SIGTERM and SIGHUP, where they raise _Terminated meanwhile
    held = _SignalsHeld()
    try:
        try:
            _end_saves_on(ends)
            held.hold()
            _replace_atomically(target, info, song, held)
        finally:
            # Still held: nothing interrupts putting the defaults back.
            for number in ends:
                _setsignal(number, _SIG_DFL)
            held.release()
    except _Terminated as terminated:
        # The temporary file is gone: now let the signal do what it does.
        os.kill(os.getpid(), terminated.args[0])
        raise


# ---- RTTTL ringtones -------------------------------------------------------


class _CWarning(ctypes.Structure):
    _fields_ = [
        ("struct_size", ctypes.c_uint32),
        ("command", ctypes.c_int32),
        ("text_offset", ctypes.c_int64),
        ("text_length", ctypes.c_int64),
        ("kind", ctypes.c_int32),
        ("message", ctypes.c_char_p),
    ]


_WarningVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_CWarning), ctypes.c_void_p)


@dataclasses.dataclass(frozen=True)
class RtttlWarning:
    """Something of a ringtone that its song text cannot keep as written."""

    note: int  # 1-based number of the note; 0 for the name, the settings, the whole tune
    offset: int  # byte offset in the ringtone (a character offset for a str)
    length: int  # bytes concerned; 0 marks a place, such as a missing section
    kind: int  # the library's TUVELLO_WARN_RTTTL_* value
    message: str  # one line of English


def _convert_rtttl():
    library = _library()
    try:
        function = library.cdll.TUVELLO_ConvertRtttl
    except AttributeError:
        raise OSError(f"the tuvello library {library.path} cannot import RTTTL (1.1 or later needed)")
    argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int64, _WarningVisitor, ctypes.c_void_p]
    return _bind(function, argtypes, ctypes.c_int64)


def from_rtttl(ringtone: SongText) -> Tuple[str, List[RtttlWarning]]:
    """The song text that plays an RTTTL ringtone, and what it cannot keep.

    ringtone is a str (encoded as Latin-1), bytes, or None (the empty
    ringtone), such as "tune:d=8,o=5,b=150:c,e,g". Returns (song text as a
    str, list of RtttlWarning in the order found).
    """
    data = _song_text(ringtone)
    convert = _convert_rtttl()
    make = lambda w: RtttlWarning(w.command, w.text_offset, w.text_length, w.kind,  # noqa: E731
                                  w.message.decode("ascii", "replace"))
    # A failing visitor stops the warnings, but the conversion goes on: its
    # error is raised once the call returns.
    warnings, length = _visit(lambda visit: convert(data, None, 0, visit, None), _WarningVisitor, make)
    text = ctypes.create_string_buffer(length + 1)
    convert(data, text, length + 1, _WarningVisitor(), None)
    return str(memoryview(text)[:length], "ascii"), warnings


def _visit(call, visitor_type, make):
    """Runs call(visitor), where the library calls visitor once per note or
    warning, and returns (the list of make(item) in order, call's result).

    An exception in the visitor (a KeyboardInterrupt, a MemoryError) stops
    the walk and is raised once the library returns, instead of being
    printed and ignored by ctypes with the list cut short. Signal handlers
    are held back between visits and run inside the visitor, so that a
    KeyboardInterrupt is one of those exceptions."""
    found = []
    failure = [None]
    held = _SignalsHeld()

    def visit(item, _context):
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
        result = call(visitor_type(visit))
    finally:
        held.release()
    error, failure[0] = failure[0], None
    if error is not None:
        found.clear()  # the traceback keeps this frame: free what it holds
        raise error
    return found, result


def _visit_counted(call, visitor_type, make):
    """_visit() for a walk whose result is the number of visits: a visit
    that failed before the visitor could run (ctypes making its arguments
    without memory, the recursion limit) is found by the count."""
    found, count = _visit(call, visitor_type, make)
    if count >= 0 and count != len(found):
        lost, found[:] = count - len(found), ()
        raise MemoryError(f"tuvello: {lost} of {count} visits failed before they began "
                          "(out of memory, or the recursion limit; Python printed why above)")
    return found, count


# ---- Measuring, streaming, the note map and warnings -----------------------

_SongReader = ctypes.c_void_p


class _CNote(ctypes.Structure):
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


_NoteVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(_CNote), ctypes.c_void_p)

_NOTE_PIPE = 1
_NOTE_DECAY = 2
_BYTE_RATE = 44100  # bytes of the data chunk per second of song


def _song_api(name, argtypes, restype):
    """A function of the 1.1 song API, bound once per library."""
    library = _library()
    bound = library.cdll.__dict__.get("_tuvello_" + name)
    if bound is None:
        try:
            function = getattr(library.cdll, name)
        except AttributeError:
            raise OSError(f"the tuvello library {library.path} has no {name} (1.1 or later needed)")
        bound = _bind(function, argtypes, restype)
        library.cdll.__dict__["_tuvello_" + name] = bound
    return bound


@dataclasses.dataclass(frozen=True)
class Note:
    """One note or pause of a song: the command that made it and its note block."""

    command: int  # 1-based number of the command in the text
    offset: int  # byte offset of the command as written (a character offset for a str)
    length: int  # its length in bytes, without the ';'
    image_offset: int  # byte offset of the note block in the WAV image (the first is 44)
    bytes: int  # block size
    frames: int  # frames that carry the tone; the block's last ones are silent
    pitch_hz: float  # the pitch heard, in Hz; 0.0 for a pause
    amplitude: int  # peak sample value at the block's start (0 for a pause)
    pipe: bool  # every sixteenth sample at twice the frequency
    decay: bool  # a linear fade over the block

    @property
    def start(self) -> float:
        """When the note starts, in seconds from the song's start."""
        return (self.image_offset - 44) / _BYTE_RATE

    @property
    def seconds(self) -> float:
        """How long the note's block lasts, in seconds."""
        return self.bytes / _BYTE_RATE


@dataclasses.dataclass(frozen=True)
class SongWarning:
    """A command that has no effect, or not the one its writer probably meant."""

    command: int  # 1-based number of the command
    offset: int  # byte offset of the command as written (a character offset for a str)
    length: int  # its length in bytes, without the ';'
    kind: int  # the library's TUVELLO_WARN_* value
    message: str  # "command N 'COMMAND': REASON", one line


def measure(text: SongText) -> int:
    """The length in bytes of the song text's WAV image, without rendering it.

    Raises SongTooLongError when the image would pass 2147483647 bytes.
    """
    size = _song_api("TUVELLO_MeasureSong", [ctypes.c_char_p], ctypes.c_int64)(_song_text(text))
    if size < 0:
        raise SongTooLongError("the song's WAV image would pass 2147483647 bytes")
    return size


def notes(text: SongText) -> List[Note]:
    """The song's notes and pauses in the order they play: its note map.

    Raises SongTooLongError when the image would pass 2147483647 bytes.
    """
    for_each = _song_api("TUVELLO_ForEachNote", [ctypes.c_char_p, _NoteVisitor, ctypes.c_void_p],
                         ctypes.c_int32)
    data = _song_text(text)
    make = lambda n: Note(n.command, n.text_offset, n.text_length, n.image_offset, n.bytes,  # noqa: E731
                          n.frames, n.pitch_hz, n.amplitude, bool(n.flags & _NOTE_PIPE),
                          bool(n.flags & _NOTE_DECAY))
    found, count = _visit_counted(lambda visit: for_each(data, visit, None), _NoteVisitor, make)
    if count < 0:
        raise SongTooLongError("the song's WAV image would pass 2147483647 bytes")
    return found


def check(text: SongText) -> List[SongWarning]:
    """The warnings about a song text in text order, at most one per command:
    the commands the library skips, reads otherwise than written, or that
    change nothing. The same as `tuvello check` prints."""
    for_each = _song_api("TUVELLO_ForEachWarning",
                         [ctypes.c_char_p, _WarningVisitor, ctypes.c_void_p], ctypes.c_int32)
    data = _song_text(text)
    make = lambda w: SongWarning(w.command, w.text_offset, w.text_length, w.kind,  # noqa: E731
                                 w.message.decode("ascii", "replace"))
    return _visit_counted(lambda visit: for_each(data, visit, None), _WarningVisitor, make)[0]


class SongFile(io.RawIOBase):
    """The song text's WAV image as a read-only binary file, rendered as it
    is read: memory holds the text and a few KiB, whatever the song's
    length. Seekable; wave.open() and shutil.copyfileobj() take it. Close it
    (or use it in a with statement) to release the library's reader.

    As Python's own file objects, it may be shared between threads: each call
    holds a lock (the library's reader serves one thread at a time), and a
    closed file raises ValueError from every method."""

    def __init__(self, text: SongText) -> None:
        super().__init__()
        self._lock = threading.RLock()
        self._busy = False  # a call is under way: a signal handler's call would re-enter it
        self._reader = None
        self._data = _song_text(text) or b""  # the reader reads it in place: kept alive here
        self.size = measure(self._data)  # raises SongTooLongError first
        self._pos = 0
        self._read = _song_api("TUVELLO_ReadSong", [_SongReader, ctypes.c_void_p, ctypes.c_int32],
                               ctypes.c_int32)
        self._seek = _song_api("TUVELLO_SeekSong", [_SongReader, ctypes.c_int64], ctypes.c_int32)
        self._close = _song_api("TUVELLO_CloseSong", [_SongReader], ctypes.c_int32)
        open_song = _song_api("TUVELLO_OpenSong", [ctypes.c_char_p], _SongReader)
        held = _SignalsHeld()  # the reader is only a number until it is kept
        try:
            held.hold()
            self._reader = open_song(self._data)
            held.release()
        except BaseException:
            reader, self._reader = self._reader, None
            if reader:
                self._close(reader)
            held.release()
            raise
        if not self._reader:
            raise MemoryError("tuvello could not open the song: out of memory")

    def _serialised(self, operation, *args):
        """operation(*args) under the lock, on an open file."""
        with self._lock:
            if self._busy:
                raise RuntimeError(f"reentrant call inside {self!r}")
            try:
                self._busy = True
                if self._reader is None:
                    raise ValueError("I/O operation on closed file")
                return operation(*args)
            finally:
                self._busy = False

    def _check_open(self):
        if self.closed or self._reader is None:
            raise ValueError("I/O operation on closed file")

    def readable(self) -> bool:
        self._check_open()
        return True

    def seekable(self) -> bool:
        self._check_open()
        return True

    def readinto(self, buffer: Union[bytearray, memoryview]) -> int:  # type: ignore[override]
        view = memoryview(buffer).cast("B")
        return self._serialised(self._read_into, view)

    def _read_into(self, view):
        wanted = min(len(view), self.size - self._pos, 1 << 30)
        if wanted <= 0:
            return 0
        target = (ctypes.c_ubyte * len(view)).from_buffer(view)
        n = self._read(self._reader, target, wanted)
        if n < 0:
            raise OSError("tuvello could not read the song")
        self._pos += n
        return n

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        offset, whence = operator.index(offset), operator.index(whence)
        if whence not in (io.SEEK_SET, io.SEEK_CUR, io.SEEK_END):
            raise ValueError(f"invalid whence ({whence}, should be 0, 1 or 2)")
        return self._serialised(self._seek_to, offset, whence)

    def _seek_to(self, offset, whence):
        position = offset + (0, self._pos, self.size)[whence]
        if position < 0:
            raise ValueError(f"negative seek position {position}")
        # Past the end reads give b"", as for any file.
        if self._seek(self._reader, min(position, self.size)) != 0:
            raise OSError("tuvello could not seek in the song")
        self._pos = position
        return position

    def tell(self) -> int:
        return self._serialised(lambda: self._pos)

    def close(self) -> None:
        lock = getattr(self, "_lock", None)  # None when __init__ failed before it
        if lock is not None:
            with lock:
                if self._busy:
                    raise RuntimeError(f"reentrant call inside {self!r}")
                # Released before anything a signal could interrupt.
                reader, self._reader = self._reader, None
                if reader:
                    self._close(reader)
        super().close()


def open(text: SongText) -> SongFile:  # noqa: A001 - a file object, as io.open gives one
    """The song text's WAV image as a readable, seekable binary file that
    renders as it is read (see SongFile). Raises SongTooLongError when the
    image would pass 2147483647 bytes, MemoryError when memory runs out."""
    return SongFile(text)
