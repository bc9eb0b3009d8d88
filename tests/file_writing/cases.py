# SPDX-License-Identifier: MIT
"""The file-writing cases of cases.json, run against one face's way of
writing a song image to a path (the tool's render -o, the module's save).

A face's test calls run_cases(test, write, image): write(text, path) writes
the song text's image to path and returns True, or returns False when the
face refused (an exit status of 1, an OSError); image(text) is the image the
face renders for the text."""

import json
import os
import pathlib
import socket
import stat
import tempfile
import threading

CASES = json.loads(pathlib.Path(__file__).with_name("cases.json").read_text())["cases"]


def song_text(text):
    if isinstance(text, str):
        return text
    return text.get("after", "") + text["repeat"] * text["times"]


def _build(folder, before, servers):
    for entry in before:
        if "file" in entry:
            path = folder / entry["file"]
            path.write_bytes(b"the old file")
            os.chmod(path, int(entry["mode"], 8))
        elif "link" in entry:
            os.symlink(entry["to"], folder / entry["link"])
        elif "fifo" in entry:
            os.mkfifo(folder / entry["fifo"])
        elif "socket" in entry:
            server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
            server.bind(str(folder / entry["socket"]))
            server.listen(1)
            servers.append(server)
        elif "folder" in entry:
            (folder / entry["folder"]).mkdir()


def _snapshot(folder):
    """Every entry of the folder: kind, mode, link target and contents."""
    seen = {}
    for path in sorted(folder.rglob("*")):
        info = path.lstat()
        if stat.S_ISLNK(info.st_mode):
            seen[path.name] = ("link", os.readlink(path))
        elif stat.S_ISREG(info.st_mode):
            seen[path.name] = ("file", stat.S_IMODE(info.st_mode), path.read_bytes(), info.st_ino)
        else:
            seen[path.name] = (stat.S_IFMT(info.st_mode),)
    return seen


def _drain(path, into, server=None):
    """Reads a FIFO or a socket's one connection to its end in a thread, as
    the program at its other end."""
    def read():
        if server is not None:
            connection, _ = server.accept()
            with connection, connection.makefile("rb") as stream:
                into.append(stream.read())
            return
        with open(path, "rb") as fifo:
            into.append(fifo.read())
    thread = threading.Thread(target=read, daemon=True)
    thread.start()
    return thread


def run_cases(test, write, image):
    old_umask = os.umask(0o022)
    try:
        for case in CASES:
            with test.subTest(case["name"]), tempfile.TemporaryDirectory() as scratch:
                folder = pathlib.Path(scratch)
                servers = []
                _build(folder, case["before"], servers)
                before = _snapshot(folder)
                path = case["path"] if case["path"].startswith("/") else str(folder / case["path"])
                text = song_text(case["text"])
                drained = []
                fifo = os.path.lexists(path) and stat.S_ISFIFO(os.lstat(path).st_mode)
                reader = _drain(path, drained, *servers) if fifo or servers else None
                try:
                    written = write(text, path)
                    if reader is not None and written:
                        reader.join(30)
                finally:
                    for server in servers:
                        server.close()
                after = _snapshot(folder)
                if case["expect"] == "refused":
                    test.assertFalse(written, "the write should have been refused")
                    test.assertEqual(after, before, "a refused write changed the folder")
                    continue
                test.assertTrue(written, "the write should have succeeded")
                if reader is not None:
                    test.assertEqual(drained, [image(text)])
                    test.assertEqual(after, before, "a FIFO or socket was replaced")
                # Nothing appears but the written file: no temporary left over.
                new_names = set(after) - set(before)
                target = case.get("at", case["path"])
                test.assertLessEqual(new_names, {target})
                for name, entry in before.items():
                    if name != target:
                        test.assertEqual(after[name], entry, f"{name} changed")
                if "mode" in case:
                    kind, mode, data, inode = after[target]
                    test.assertEqual((kind, oct(mode)), ("file", "0o" + case["mode"].lstrip("0")))
                    test.assertEqual(data, image(text))
                    if case.get("replaced"):
                        # Replaced by a rename, never rewritten in place.
                        test.assertNotEqual(inode, before[target][3])
    finally:
        os.umask(old_umask)
