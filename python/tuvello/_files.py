# SPDX-License-Identifier: MIT
"""Writing a song's image to a file by the tool's rules: a regular file is
replaced atomically (a temporary file beside it, synced, renamed over it,
the directory synced), keeping its mode and, where permitted, its owner,
never a set-ID bit; a device, FIFO or socket is written into; links are
followed to their final target. No signal leaves the temporary file: the
Python handlers are held while the file exists and run between chunks, and
SIGTERM and SIGHUP, where they would end the process, end it only once the
temporary file is gone."""

import errno
import os
import secrets
import signal
import socket
import stat

from ._signals import Ended, SignalsHeld

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
    held = SignalsHeld()  # the descriptor is only a number until it is kept
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


def save_song(song, path):
    """Writes the SongFile song to path (bytes), by the rules save() describes."""
    target, info = _final_target(path)
    if info is not None and stat.S_ISDIR(info.st_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    if info is not None and not stat.S_ISREG(info.st_mode):
        _write_directly(target, info, song)
        return
    held = SignalsHeld()
    try:
        try:
            # SIGTERM and SIGHUP, where they would end the process, raise
            # Ended meanwhile: the temporary file goes first.
            held.hold(ends=(signal.SIGTERM, signal.SIGHUP))
            _replace_atomically(target, info, song, held)
        finally:
            held.release()
    except Ended as ended:
        # The temporary file is gone and the default is back: now let the
        # signal do what it does.
        os.kill(os.getpid(), ended.args[0])
        raise
