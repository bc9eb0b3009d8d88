# SPDX-License-Identifier: MIT
"""Finding and loading the tuvello shared library, and the version this
module was built with.

Where the library is looked for, in this order:

1. the path in the environment variable TUVELLO_LIBRARY, if it is set (and
   nowhere else then, so that a wrong path is reported, not papered over);
2. libtuvello.so.1 (or libtuvello.so) inside the package's directory;
3. the libtuvello.so.1 that `cmake --install` put beside the module, in the
   prefix's library directory (its _version.py says where), before
4. the system's library path (LD_LIBRARY_PATH, the ld.so cache), by the soname
   libtuvello.so.1, so that a later incompatible major version is never used.

When none of them works, every function raises LibraryNotFoundError, an
OSError that lists each place tried and why it failed."""

import ctypes
import io
import os
import re
import threading
from typing import Iterable, Tuple

ENVIRONMENT_VARIABLE = "TUVELLO_LIBRARY"
SONAME = "libtuvello.so.1"
PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))
_BUNDLED_NAMES = (SONAME, "libtuvello.so")


def _header_macros() -> dict:
    """The numbers the header beside this package defines, in a source checkout."""
    header = os.path.join(PACKAGE_DIR, os.pardir, os.pardir, "include", "tuvello.h")
    try:
        with io.open(header, encoding="utf-8") as file:
            text = file.read()
    except OSError:
        return {}
    return dict(re.findall(r"^#define TUVELLO_(\w+) +(\d+)\b", text, re.MULTILINE))


def _header_version() -> str:
    macros = _header_macros()
    parts = [macros.get(f"VERSION_{part}") for part in ("MAJOR", "MINOR", "PATCH")]
    return ".".join(parts) if all(parts) else "0+unknown"


try:
    # Written when the package is built or installed, from the library's header.
    from ._version import __version__
except ImportError:
    __version__ = _header_version()
try:
    # Written by `cmake --install` outside /usr: where it put the library.
    from ._version import LIBRARY_DIR as _INSTALLED_DIR
except ImportError:
    _INSTALLED_DIR = None
try:
    # The song image's format, written from the header's macros as _version.py is.
    from ._format import BYTE_RATE, HEADER_BYTES, SAMPLE_RATE
except ImportError:
    # A copy of the package without its header (a test's) still renders;
    # only Note.start and Note.seconds need these.
    _MACROS = _header_macros()
    SAMPLE_RATE, BYTE_RATE, HEADER_BYTES = (int(_MACROS[name]) if name in _MACROS else None
                                            for name in ("SAMPLE_RATE", "BYTE_RATE", "HEADER_BYTES"))


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

    def __reduce__(self):
        # As OSError's own would pass the message: a process pool sends it back whole.
        return type(self), (self.attempts,)


LibraryNotFoundError.__module__ = "tuvello"  # the public name, as pickle and tracebacks show it


class _Library:
    """The loaded shared object and the functions this module calls."""

    def __init__(self, cdll, path):
        self.path = path
        self.cdll = cdll
        self.bound = {}  # the functions of 1.1 and later, bound on first use
        song = ctypes.c_void_p
        self.create_song = _bind(cdll.TUVELLO_CreateSong, [ctypes.c_char_p], song)
        self.get_song_size = _bind(cdll.TUVELLO_GetSongSize, [song], ctypes.c_int32)
        self.get_song_duration = _bind(cdll.TUVELLO_GetSongDuration, [song], ctypes.c_double)
        self.free_song = _bind(cdll.TUVELLO_FreeSong, [song], ctypes.c_int32)
        # Tells "too long" from "out of memory" where the library has it.
        measure = getattr(cdll, "TUVELLO_MeasureSong", None)
        self.measure_song = measure and _bind(measure, [ctypes.c_char_p], ctypes.c_int64)

    def function(self, name, argtypes, restype):
        """A function of the 1.1 API or later, bound once."""
        bound = self.bound.get(name)
        if bound is None:
            try:
                bound = _bind(getattr(self.cdll, name), argtypes, restype)
            except AttributeError:
                raise OSError(f"the tuvello library {self.path} has no {name} (1.1 or later needed)") \
                    from None
            self.bound[name] = bound
        return bound


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
    places = [(os.path.join(PACKAGE_DIR, name),) * 2 for name in _BUNDLED_NAMES]
    if _INSTALLED_DIR is not None:
        beside = os.path.normpath(os.path.join(PACKAGE_DIR, _INSTALLED_DIR, SONAME))
        places.append((f"{beside}, installed with this module", beside))
    places.append((f"the system library path ({SONAME})", SONAME))
    return places


def load(environ):
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


def library():
    """The loaded library, loaded on first use."""
    global _loaded
    with _load_lock:
        if _loaded is None:
            _loaded = load(os.environ)
        return _loaded
