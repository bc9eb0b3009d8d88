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
"""

import ctypes
import dataclasses
import os
import secrets
import threading

__all__ = ["LibraryNotFoundError", "RtttlWarning", "duration", "from_rtttl", "library_path",
           "render", "save"]

ENVIRONMENT_VARIABLE = "TUVELLO_LIBRARY"
SONAME = "libtuvello.so.1"
_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_BUNDLED_NAMES = (SONAME, "libtuvello.so")


class LibraryNotFoundError(OSError):
    """The tuvello shared library could not be loaded.

    ``attempts`` holds one (place, reason) pair for every place that was tried.
    """

    def __init__(self, attempts):
        self.attempts = tuple(attempts)
        tried = "; ".join(f"{place}: {reason}" for place, reason in self.attempts)
        super().__init__(
            f"cannot load the tuvello library ({SONAME}). Tried {tried}. Set "
            f"{ENVIRONMENT_VARIABLE} to the path of {SONAME}, or install tuvello."
        )


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


def library_path():
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


def _with_song(text, read):
    """Renders text, hands the image to read(library, image) and frees it, always once."""
    data = _song_text(text)
    library = _library()
    song = library.create_song(data)
    if not song:
        raise MemoryError("tuvello could not render the song: out of memory")
    try:
        return read(library, song)
    finally:
        library.free_song(song)


def render(text):
    """The song text's WAV file (16-bit PCM, mono, 22050 frames per second) as bytes."""
    return _with_song(text, lambda lib, song: ctypes.string_at(song, lib.get_song_size(song)))


def duration(text):
    """The song text's playing time in seconds."""
    return _with_song(text, lambda lib, song: lib.get_song_duration(song))


def save(text, path):
    """Renders the song text and writes its WAV file to path.

    The file appears complete or not at all: the image goes to a temporary file
    in the same directory, which then replaces path in one step. On failure
    path is left as it was and the temporary file is removed. What stood at
    path is replaced by a new file: a symbolic link there becomes a plain file,
    and the file gets the mode of any new file (the umask decides).
    """
    image = render(text)
    path = os.fspath(path)
    directory, name = os.path.split(os.path.abspath(path))
    while True:
        temporary = os.path.join(directory, f".{name}.{secrets.token_hex(6)}.tmp")
        try:
            # 0o666 so that the umask decides the mode, as for any new file.
            fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o666)
            break
        except FileExistsError:
            continue
    try:
        with os.fdopen(fd, "wb") as file:
            file.write(image)
            file.flush()
            os.fsync(file.fileno())
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except FileNotFoundError:
            pass
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


def from_rtttl(ringtone):
    """The song text that plays an RTTTL ringtone, and what it cannot keep.

    ringtone is a str (encoded as Latin-1), bytes, or None (the empty
    ringtone), such as "tune:d=8,o=5,b=150:c,e,g". Returns (song text as a
    str, list of RtttlWarning in the order found).
    """
    data = _song_text(ringtone)
    convert = _convert_rtttl()
    warnings = []

    def visit(warning, _context):
        w = warning.contents
        warnings.append(RtttlWarning(w.command, w.text_offset, w.text_length, w.kind,
                                     w.message.decode("ascii", "replace")))
        return 0

    length = convert(data, None, 0, _WarningVisitor(visit), None)
    text = ctypes.create_string_buffer(length + 1)
    convert(data, text, length + 1, _WarningVisitor(), None)
    return text.value.decode("ascii"), warnings
