# SPDX-License-Identifier: MIT
"""A song's image as a read-only binary file, rendered as it is read."""

import ctypes
import io
import operator
import threading
from typing import Union

from ._loading import library
from ._native import SongReader, SongText, measure, song_text
from ._signals import SignalsHeld


class SongFile(io.RawIOBase):
    """The song text's WAV image as a read-only binary file, rendered as it
    is read: memory holds the text and a few KiB, whatever the song's
    length. Seekable; wave.open() and shutil.copyfileobj() take it. Close it
    (or use it in a with statement) to release the library's reader.

    As Python's own file objects, it may be shared between threads: each call
    holds a lock (the library's reader serves one thread at a time), and a
    closed file raises ValueError from every method."""

    def __init__(self, text: SongText) -> None:
        if getattr(self, "_lock", None) is not None:
            raise TypeError("a SongFile is opened once: open the song again for another")
        super().__init__()
        self._lock = threading.RLock()
        self._busy = False  # a call is under way: a signal handler's call would re-enter it
        self._reader = None
        self._data = song_text(text) or b""  # the reader reads it in place: kept alive here
        self.size = measure(self._data)  # raises SongTooLongError first
        self._pos = 0
        self._read = library().function("TUVELLO_ReadSong", [SongReader, ctypes.c_void_p, ctypes.c_int32],
                                        ctypes.c_int32)
        self._seek = library().function("TUVELLO_SeekSong", [SongReader, ctypes.c_int64], ctypes.c_int32)
        self._close = library().function("TUVELLO_CloseSong", [SongReader], ctypes.c_int32)
        open_song = library().function("TUVELLO_OpenSong", [ctypes.c_char_p], SongReader)
        held = SignalsHeld()  # the reader is only a number until it is kept
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

    def readable(self) -> bool:
        return self._serialised(lambda: True)

    def seekable(self) -> bool:
        return self._serialised(lambda: True)

    def readinto(self, buffer: Union[bytearray, memoryview]) -> int:  # type: ignore[override]
        return self._serialised(self._read_into, memoryview(buffer).cast("B"))

    def _read_into(self, view):
        wanted = min(len(view), self.size - self._pos, 1 << 30)
        if wanted <= 0:
            return 0
        n = self._read(self._reader, (ctypes.c_ubyte * len(view)).from_buffer(view), wanted)
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

    def __reduce_ex__(self, protocol):
        # A copy would share the library's reader, use it after the other
        # copy closed it, and release it twice.
        raise TypeError(f"cannot copy or pickle a {type(self).__name__}: open the song again")

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


SongFile.__module__ = "tuvello"  # the public name
