# SPDX-License-Identifier: MIT
"""Tests of the tuvello Python module against the built shared library.

Run with TUVELLO_LIBRARY pointing at libtuvello.so.1 and python/ on PYTHONPATH.
"""

import ctypes
import ctypes.util
import dataclasses
import io
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import unittest
import wave
from unittest import mock

import tuvello

DEMO = "len:200;vol:80;c;e;g;p;c"  # five 200 ms note blocks: exactly one second


def read_wav(image):
    with wave.open(io.BytesIO(image)) as wav:
        return wav.getparams(), wav.readframes(wav.getnframes())


class CallCounter:
    """Wraps the loaded library functions and counts the images made and freed."""

    def __init__(self, test):
        library = tuvello._library()
        self.created = []
        self.freed = []
        self.texts = []
        create, free = library.create_song, library.free_song

        def counting_create(text):
            self.texts.append(text)
            song = create(text)
            self.created.append(song)
            return song

        def counting_free(song):
            self.freed.append(song)
            return free(song)

        for name, wrapper in (("create_song", counting_create), ("free_song", counting_free)):
            patcher = mock.patch.object(library, name, wrapper)
            patcher.start()
            test.addCleanup(patcher.stop)

    def assert_each_image_freed_once(self, test, images):
        test.assertEqual(len(self.created), images)
        test.assertTrue(all(self.created), "every render made an image")
        test.assertEqual(self.freed, self.created)


class RenderTest(unittest.TestCase):
    def test_render_gives_a_wav_file_the_wave_module_reads(self):
        params, frames = read_wav(tuvello.render(DEMO))
        self.assertEqual((params.nchannels, params.sampwidth, params.framerate), (1, 2, 22050))
        self.assertEqual(params.nframes, 22050)
        self.assertEqual(len(frames), 5 * 8820)

    def test_render_gives_the_whole_image_with_its_samples(self):
        image = tuvello.render("c")
        self.assertEqual(len(image), 4454)
        self.assertEqual(image[:4] + image[8:12], b"RIFFWAVE")
        _, frames = read_wav(image)
        first_samples = [int.from_bytes(frames[i : i + 2], "little", signed=True) for i in (0, 2, 4)]
        self.assertEqual(first_samples, [1221, 2441, 3657])

    def test_duration_is_the_playing_time_in_seconds(self):
        self.assertEqual(tuvello.duration(DEMO), 1.0)
        self.assertEqual(tuvello.duration("c"), 0.1)

    def test_none_is_the_empty_song(self):
        image = tuvello.render(None)
        self.assertEqual(len(image), 44)
        self.assertEqual(read_wav(image)[0].nframes, 0)
        self.assertEqual(tuvello.duration(None), 0.0)

    def test_other_types_are_refused(self):
        with self.assertRaises(TypeError):
            tuvello.render(42)


class TextEncodingTest(unittest.TestCase):
    def test_str_reaches_the_library_encoded_as_utf_8(self):
        # As the tool and the npm package encode theirs.
        counter = CallCounter(self)
        tuvello.render("c;\u00e9;\u00ff;\u20ac")
        self.assertEqual(counter.texts, [b"c;\xc3\xa9;\xc3\xbf;\xe2\x82\xac"])

    def test_bytes_reach_the_library_unchanged(self):
        counter = CallCounter(self)
        text = b"c;\x80\xfe;len:200;\xc3\xa9;e"
        tuvello.render(text)
        tuvello.render(bytearray(text))
        self.assertEqual(counter.texts, [text, text])

    def test_non_ascii_renders_as_the_library_does(self):
        library = ctypes.CDLL(os.environ["TUVELLO_LIBRARY"])
        library.TUVELLO_CreateSong.restype = ctypes.c_void_p
        library.TUVELLO_CreateSong.argtypes = [ctypes.c_char_p]
        library.TUVELLO_GetSongSize.argtypes = [ctypes.c_void_p]
        library.TUVELLO_FreeSong.argtypes = [ctypes.c_void_p]
        # Bytes that are no UTF-8 pass unchanged; a str renders as its UTF-8 bytes.
        for text, as_str in ((b"c;\xe9;d", None), (b"\xc4len:300;c", None), (b"len:\xb2\xb5\xb0;c", None),
                             (b"c;\xc3\xa9", "c;\u00e9"), (b"\xc3\x84len:300;c;\xe2\x82\xac", "\u00c4len:300;c;\u20ac")):
            with self.subTest(text=text):
                song = library.TUVELLO_CreateSong(text)
                expected = ctypes.string_at(song, library.TUVELLO_GetSongSize(song))
                library.TUVELLO_FreeSong(song)
                self.assertEqual(tuvello.render(text), expected)
                if as_str is not None:
                    self.assertEqual(tuvello.render(as_str), expected)

    def test_a_str_that_utf_8_cannot_encode_raises_before_anything_is_rendered(self):
        counter = CallCounter(self)
        with self.assertRaises(UnicodeEncodeError):
            tuvello.render("c;\udc80")  # a lone surrogate
        self.assertEqual(counter.texts, [])

    def test_a_nul_character_is_refused_rather_than_cutting_the_text_short(self):
        for text in ("c;\0d", b"c\0"):
            with self.subTest(text=text), self.assertRaises(ValueError):
                tuvello.render(text)


class FreeOnceTest(unittest.TestCase):
    def test_render_duration_and_save_free_each_image_once(self):
        counter = CallCounter(self)
        tuvello.render(DEMO)
        tuvello.duration(DEMO)
        tuvello.render(None)
        with tempfile.TemporaryDirectory() as directory:
            tuvello.save(DEMO, os.path.join(directory, "song.wav"))  # streams: no image
        counter.assert_each_image_freed_once(self, 3)

    def test_the_image_is_freed_once_when_reading_it_fails(self):
        counter = CallCounter(self)
        library = tuvello._library()
        with mock.patch.object(library, "get_song_size", side_effect=RuntimeError("boom")):
            with self.assertRaises(RuntimeError):
                tuvello.render(DEMO)
        counter.assert_each_image_freed_once(self, 1)

    def test_a_failed_render_raises_memory_error_and_frees_nothing(self):
        library = tuvello._library()
        with mock.patch.object(library, "create_song", return_value=None), mock.patch.object(
            library, "free_song"
        ) as free:
            with self.assertRaises(MemoryError):
                tuvello.render(DEMO)
        free.assert_not_called()


class SaveTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.directory)
        self.path = os.path.join(self.directory, "song.wav")

    def test_save_writes_the_rendered_image(self):
        tuvello.save(DEMO, self.path)
        with open(self.path, "rb") as file:
            self.assertEqual(file.read(), tuvello.render(DEMO))
        self.assertEqual(os.listdir(self.directory), ["song.wav"])

    def test_a_new_file_respects_the_umask_and_a_replaced_one_keeps_its_mode(self):
        old_umask = os.umask(0o027)
        try:
            tuvello.save("c", self.path)
            self.assertEqual(stat.S_IMODE(os.stat(self.path).st_mode), 0o640)
            os.chmod(self.path, 0o604)
            tuvello.save("c;d", self.path)
        finally:
            os.umask(old_umask)
        with open(self.path, "rb") as file:
            self.assertEqual(file.read(), tuvello.render("c;d"))
        self.assertEqual(stat.S_IMODE(os.stat(self.path).st_mode), 0o604)

    def test_a_failed_write_leaves_the_old_file_and_no_temporary(self):
        with open(self.path, "wb") as file:
            file.write(b"old")
        with mock.patch("tuvello.os.replace", side_effect=OSError("disk full")):
            with self.assertRaises(OSError):
                tuvello.save(DEMO, self.path)
        with open(self.path, "rb") as file:
            self.assertEqual(file.read(), b"old")
        self.assertEqual(os.listdir(self.directory), ["song.wav"])

    def test_a_text_that_cannot_render_writes_nothing(self):
        with self.assertRaises(UnicodeEncodeError):
            tuvello.save("\u266b\udc80", self.path)
        self.assertEqual(os.listdir(self.directory), [])

    def test_save_accepts_a_path_like(self):
        import pathlib

        tuvello.save(DEMO, pathlib.Path(self.path))
        self.assertEqual(os.path.getsize(self.path), 44 + 5 * 8820)


class FromRtttlTest(unittest.TestCase):
    RINGTONE = "tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7"

    def test_a_ringtone_gives_its_song_text_and_located_warnings(self):
        text, warnings = tuvello.from_rtttl(self.RINGTONE, octave_shift="none")
        self.assertEqual(text, "len:240;oct:7;c;e;len:480;g;p;c;c")
        self.assertEqual([(w.note, w.offset, w.length, w.kind) for w in warnings],
                         [(5, 32, 3, 69), (5, 32, 3, 71)])
        self.assertEqual(self.RINGTONE[32:35], "2c7")
        self.assertTrue(warnings[0].message.startswith("octave 7 is out of reach"))
        self.assertAlmostEqual(tuvello.duration(text), 2.4, places=3)

    def test_bytes_str_and_none_are_read_like_song_texts(self):
        self.assertEqual(tuvello.from_rtttl(self.RINGTONE.encode()),
                         tuvello.from_rtttl(self.RINGTONE))
        text, warnings = tuvello.from_rtttl(None)
        self.assertEqual((text, [w.kind for w in warnings]), ("", [65]))
        # Offsets count bytes of the UTF-8 encoding.
        _, warnings = tuvello.from_rtttl("t\u00e9:d=8,o=5,b=150:c,\u00e9")
        self.assertEqual([(w.offset, w.length) for w in warnings], [(20, 2)])
        with self.assertRaises(ValueError):
            tuvello.from_rtttl("t:d=8:c\0d")


@unittest.skipUnless(os.environ.get("TUVELLO_TOOL"), "TUVELLO_TOOL names the built tool (ctest sets it)")
class ConvertersAgreeWithTheToolTest(unittest.TestCase):
    """Each converter gives what `tuvello import` and `tuvello export` give
    for the same input and options: the module adds no rule of its own."""

    RINGTONE = "tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7,8x,c8"
    SONG = "len:120;vol:50;c;oct:2;e;pipe:1;g;len:333;p;dec:1;c"

    def tool(self, *args):
        result = subprocess.run([os.environ["TUVELLO_TOOL"], *args], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout, result.stderr.decode().splitlines()

    def test_each_converter_gives_the_tools_output_and_warnings(self):
        with tempfile.TemporaryDirectory() as directory:
            midi = os.path.join(directory, "song.mid")
            self.tool("export", "--midi", "-q", "-o", midi, self.SONG)
            with open(midi, "rb") as file:
                smf = file.read()
            cut = os.path.join(directory, "cut.mid")  # header and a track cut short
            with open(cut, "wb") as file:
                file.write(smf[:60])
            chord = os.path.join(directory, "chord.mid")  # E4, then C4 and G4 over it
            with open(chord, "wb") as file:
                file.write(b"MThd\0\0\0\6\0\0\0\1\0\x60MTrk\0\0\0\x18\0\x90\x40\x40\x18\x3c\x40\x18\x43\x40"
                           b"\x30\x80\x40\0\0\x3c\0\0\x43\0\0\xff\x2f\0")
            r, s = self.RINGTONE, self.SONG
            cases = [  # the module's call, the tool's arguments, where the warnings are
                (lambda: tuvello.from_rtttl(r), ["import", r], "<argument>:1:"),
                (lambda: tuvello.from_rtttl(r, "none"), ["import", "--octave-shift", "none", r], "<argument>:1:"),
                (lambda: tuvello.from_rtttl(r, -1), ["import", "--octave-shift", "-1", r], "<argument>:1:"),
                (lambda: tuvello.to_rtttl(s), ["export", "--rtttl", s], "<argument>:1:"),
                (lambda: tuvello.to_rtttl(s, "a:b\tc"), ["export", "--rtttl", "--name", "a:b\tc", s], "<argument>:1:"),
                (lambda: tuvello.to_midi(s), ["export", "--midi", "-q", "-o", "-", s], "<argument>:1:"),
                (lambda: tuvello.from_midi(smf), ["import", "-f", midi], f"{midi}:"),
                (lambda: tuvello.from_midi(smf, 1, 1, "lowest", True),
                 ["import", "-f", midi, "--track", "1", "--channel", "1", "--lowest", "--velocity"], f"{midi}:"),
                (lambda: tuvello.from_midi(smf[:60], overlap="first"), ["import", "-f", cut, "--first"], f"{cut}:"),
            ] + [(lambda rule=rule: tuvello.from_midi(open(chord, "rb").read(), overlap=rule),
                  ["import", "-f", chord, f"--{rule}"], f"{chord}:") for rule in ("highest", "lowest", "first")]
            for call, args, where in cases:
                with self.subTest(args=args):
                    out, warnings = call()
                    stdout, stderr = self.tool(*args)
                    self.assertEqual(out if isinstance(out, bytes) else out.encode() + b"\n", stdout)
                    column = 0 if where.endswith(".mid:") else 1
                    self.assertEqual([f"{where}{w.offset + column}: warning: {w.message}" for w in warnings], stderr)
            self.assertTrue(tuvello.from_midi(smf[:60])[1], "the cut file is warned about")

    def test_options_out_of_range_raise_value_error(self):
        for call, message in ((lambda: tuvello.from_rtttl("t:d=4:c", 9), "octave_shift is"),
                              (lambda: tuvello.from_rtttl("t:d=4:c", "up"), "octave_shift is"),
                              (lambda: tuvello.from_rtttl("t:d=4:c", 2 ** 32 - 1), "octave_shift is"),
                              (lambda: tuvello.from_rtttl_collection("t:d=4:c", True), "octave_shift is"),
                              (lambda: tuvello.from_midi(b"", track=-1), "track is"),
                              (lambda: tuvello.from_midi(b"", track=2 ** 32), "track is"),
                              (lambda: tuvello.from_midi(b"", channel=17), "channel is"),
                              (lambda: tuvello.from_midi(b"", overlap="loudest"), "overlap is"),
                              (lambda: tuvello.from_rtttl("t:d=4:c", max_image_bytes=43), "max_image_bytes is"),
                              (lambda: tuvello.from_rtttl("t:d=4:c", max_image_bytes=-1), "max_image_bytes is"),
                              (lambda: tuvello.from_rtttl("t:d=4:c", max_image_bytes=True), "max_image_bytes is")):
            with self.subTest(message=message), self.assertRaisesRegex(ValueError, message):
                call()
        with self.assertRaises(TypeError):
            tuvello.from_midi("MThd")


    def test_max_image_bytes_stops_at_the_note_that_passes_it(self):
        ringtone = "t:d=4,o=5,b=100:c,d,e"
        text, _ = tuvello.from_rtttl(ringtone)
        size = tuvello.measure(text)
        self.assertEqual(tuvello.from_rtttl(ringtone, max_image_bytes=size)[0], text)
        with self.assertRaises(tuvello.SongTooLongError) as stopped:
            tuvello.from_rtttl(ringtone, max_image_bytes=size - 1)
        self.assertEqual(stopped.exception.offset, ringtone.index(",e") + 1)
        # A ringtone that grows 480-fold stops near its start, not after 1 MB.
        with self.assertRaises(tuvello.SongTooLongError) as stopped:
            tuvello.from_rtttl("t:d=1,o=5,b=1:" + "c.," * 333333, max_image_bytes=2 ** 31 - 1)
        self.assertLess(stopped.exception.offset, 1000)


class RtttlCollectionTest(unittest.TestCase):
    COLLECTION = ("# tunes\n\nStar Wars: Main:d=4,o=5,b=100:c,e\r\n \t\nd=4,o=5:c\nx:d=4:q\n"
                  "t\u00e9:d=8:c,\u00e9")

    def test_each_tune_is_its_line_converted_named_as_the_library_reads_it(self):
        lines = self.COLLECTION.encode().split(b"\n")
        tunes = list(tuvello.from_rtttl_collection(self.COLLECTION, octave_shift="none"))
        self.assertEqual([(t.line, t.name) for t in tunes],
                         [(3, "Star Wars: Main"), (5, ""), (6, "x"), (7, "t\u00e9")])
        for tune in tunes:
            ringtone = lines[tune.line - 1].rstrip(b"\r")
            text, warnings = tuvello.from_rtttl(ringtone, "none")
            start = len(b"\n".join(lines[:tune.line - 1])) + 1
            self.assertEqual(tune.text, text)
            self.assertEqual(tune.warnings, [dataclasses.replace(w, offset=start + w.offset, line=tune.line,
                                                                 column=w.offset + 1) for w in warnings])
        as_lines = self.COLLECTION.splitlines(keepends=True)
        for same in (self.COLLECTION.encode(), as_lines, [line.encode() for line in as_lines]):
            self.assertEqual(list(tuvello.from_rtttl_collection(same, octave_shift="none")), tunes)

    def test_a_tune_is_converted_only_when_asked_for(self):
        pulled = []

        def lines():
            for line in ("a:d=4:c\n", "b:d=4:c\0d\n", "c:d=4:c\n"):
                pulled.append(line)
                yield line

        for collection in (lines(), "a:d=4:c\nb:d=4:c\0d\n"):
            tunes = tuvello.from_rtttl_collection(collection)
            self.assertEqual(next(tunes).name, "a")
            with self.assertRaisesRegex(ValueError, "line 2"):
                next(tunes)
        self.assertEqual(len(pulled), 2)


class FormatTest(unittest.TestCase):
    def test_the_format_is_the_headers_and_the_images(self):
        header = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "include", "tuvello.h")
        with open(header, encoding="utf-8") as file:
            macros = dict(line.split()[1:3] for line in file if line.startswith("#define TUVELLO_") and
                          len(line.split()) > 2)
        found = (tuvello.SAMPLE_RATE, tuvello.BYTE_RATE, tuvello.HEADER_BYTES)
        self.assertEqual(found, tuple(int(macros[f"TUVELLO_{name}"])
                                      for name in ("SAMPLE_RATE", "BYTE_RATE", "HEADER_BYTES")))
        image = tuvello.render(None)
        self.assertEqual(found, (int.from_bytes(image[24:28], "little"), int.from_bytes(image[28:32], "little"),
                                 len(image)))


def _run_python(code, **kwargs):
    """Runs code in a fresh interpreter with the module and library of this run."""
    kwargs.setdefault("timeout", 120)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, **kwargs)


class SaveFollowsTheFileRulesTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.directory)
        self.path = os.path.join(self.directory, "song.wav")

    def listing(self):
        return sorted(os.listdir(self.directory))

    def test_a_fifo_or_a_device_is_written_into_never_replaced(self):
        fifo = os.path.join(self.directory, "pipe")
        os.mkfifo(fifo)
        received = []

        def read_all():
            with open(fifo, "rb") as file:
                received.append(file.read())

        reader = threading.Thread(target=read_all)
        reader.start()
        tuvello.save("c", fifo)
        reader.join(60)
        self.assertEqual(received, [tuvello.render("c")])
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))
        if os.geteuid() == 0:
            # A private twin of /dev/null.
            null = os.path.join(self.directory, "null")
            os.mknod(null, stat.S_IFCHR | 0o666, os.makedev(1, 3))
            tuvello.save("c", null)
            self.assertTrue(stat.S_ISCHR(os.lstat(null).st_mode))
        self.assertEqual(self.listing(), ["null", "pipe"] if os.geteuid() == 0 else ["pipe"])

    def test_bytes_and_path_like_paths_and_a_wrong_type_before_rendering(self):
        import pathlib

        tuvello.save("c", os.fsencode(self.path))
        self.assertEqual(os.path.getsize(self.path), 4454)

        class Named:
            def __fspath__(inner):
                return os.fsencode(self.path + "2")

        tuvello.save("c;d", Named())
        self.assertEqual(os.path.getsize(self.path + "2"), 44 + 2 * 4410)
        tuvello.save("c", pathlib.PurePosixPath(self.path + "3"))
        # The wrong type is refused before anything is rendered.
        with mock.patch.object(tuvello, "SongFile", side_effect=AssertionError("rendered")):
            with self.assertRaises(TypeError):
                tuvello.save("c", 42)

    def test_names_up_to_name_max_work(self):
        for length in (238, 248, 255):
            name = os.path.join(self.directory, "n" * (length - 4) + ".wav")
            with self.subTest(length=length):
                tuvello.save("c", name)
                tuvello.save("c", name)  # and replaced
                self.assertEqual(os.path.getsize(name), 4454)
            os.unlink(name)
        self.assertEqual(self.listing(), [])

    def test_links_are_followed_to_the_final_target_which_is_created(self):
        os.symlink("l2", os.path.join(self.directory, "l1"))
        os.symlink("final.wav", os.path.join(self.directory, "l2"))
        tuvello.save("c", os.path.join(self.directory, "l1"))
        self.assertEqual(os.path.getsize(os.path.join(self.directory, "final.wav")), 4454)
        self.assertTrue(os.path.islink(os.path.join(self.directory, "l2")))
        self.assertEqual(self.listing(), ["final.wav", "l1", "l2"])

    def test_mode_and_owner_are_kept_without_set_id_bits(self):
        with open(self.path, "wb") as file:
            file.write(b"old")
        if os.geteuid() == 0:
            os.chown(self.path, 65534, 65534)
        os.chmod(self.path, 0o6754)
        tuvello.save("c", self.path)
        info = os.stat(self.path)
        self.assertEqual(stat.S_IMODE(info.st_mode), 0o754)
        if os.geteuid() == 0:
            self.assertEqual((info.st_uid, info.st_gid), (65534, 65534))

    def test_sigterm_during_save_removes_the_temporary_file(self):
        import signal
        import time

        # About 100 MB, so the write and its sync take a while.
        code = "import tuvello, sys; tuvello.save('len:500;' + 'c;' * 4500, sys.argv[1])"
        for number in (signal.SIGTERM, signal.SIGHUP):
            with open(self.path, "wb") as file:
                file.write(b"old")
            with self.subTest(signal=number):
                process = subprocess.Popen([sys.executable, "-c", code, self.path])
                deadline = time.monotonic() + 60
                while not any(n.startswith(".song.wav.") for n in os.listdir(self.directory)):
                    self.assertIsNone(process.poll(), "finished before the temporary file was seen")
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.001)
                process.send_signal(number)
                self.assertEqual(process.wait(60), -number)
                self.assertEqual(self.listing(), ["song.wav"])
                with open(self.path, "rb") as file:
                    self.assertEqual(file.read(), b"old")

    def test_a_keyboard_interrupt_during_the_write_keeps_the_old_file_and_no_temporary(self):
        with open(self.path, "wb") as file:
            file.write(b"old")
        with mock.patch("tuvello._files._write_all", side_effect=KeyboardInterrupt):
            with self.assertRaises(KeyboardInterrupt):
                tuvello.save("c", self.path)
        self.assertEqual(self.listing(), ["song.wav"])
        with open(self.path, "rb") as file:
            self.assertEqual(file.read(), b"old")

    def test_signals_arriving_together_during_saves_leave_no_temporary_file(self):
        # SIGINT and SIGUSR1, whose handlers raise during the saves, in pairs
        # every 2 ms: the second of a pair used to cut the clean-up of the
        # first short, and could leave SIGTERM raising instead of ending the
        # process. Afterwards each signal does what it did before.
        code = f"""
import os, signal, subprocess, time, tuvello
class Usr1(Exception): pass
armed = False
def usr1(n, f):
    if armed: raise Usr1()
def interrupt(n, f):
    if armed: raise KeyboardInterrupt()
signal.signal(signal.SIGUSR1, usr1)
signal.signal(signal.SIGINT, interrupt)
storm = subprocess.Popen(["sh", "-c", f"for i in $(seq 5000); do kill -INT {{os.getpid()}}; kill -USR1 {{os.getpid()}}; sleep 0.002; done"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
cut = 0
for i in range(20):
    try:
        armed = True
        tuvello.save("len:500;" + "c;" * 200, {self.path!r})
        armed = False
    except (KeyboardInterrupt, Usr1):
        armed = False
        cut += 1
storm.kill()
storm.wait()
print(cut > 0)
for number, raised in ((signal.SIGUSR1, Usr1), (signal.SIGINT, KeyboardInterrupt)):
    try:
        armed = True
        os.kill(os.getpid(), number)
        time.sleep(1)
        print("nothing")
    except raised:
        armed = False
        print(raised.__name__, flush=True)
os.kill(os.getpid(), signal.SIGTERM)
time.sleep(5)
"""
        result = _run_python(code, text=True)
        self.assertEqual(result.returncode, -signal.SIGTERM, result.stderr)
        self.assertEqual(result.stdout.split(), ["True", "Usr1", "KeyboardInterrupt"])
        self.assertEqual(self.listing(), ["song.wav"])

    def test_the_handlers_are_only_borrowed(self):
        import signal

        before = [signal.getsignal(n) for n in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)]
        tuvello.save("c", self.path)
        tuvello.render("c")
        self.assertEqual([signal.getsignal(n) for n in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)], before)


class InterruptsAndErrorsTest(unittest.TestCase):
    def test_keyboard_interrupts_during_renders_leak_nothing(self):
        # Another thread interrupts the main thread at random points of
        # rendering a 20 MB song, while the library makes the image and
        # while it is copied out: each image must be freed once all the same.
        code = """
import os, random, signal, threading, time, tuvello
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
text = "len:500;" + "c;" * 900
began = time.monotonic()
tuvello.render(text)
took = time.monotonic() - began
start = rss()
interrupted = 0
for i in range(16):
    try:
        timer = threading.Timer(random.uniform(0, took), os.kill, (os.getpid(), signal.SIGINT))
        timer.start()
        try:
            tuvello.render(text)
            time.sleep(5)  # cut short by the interrupt when it comes after the render
        finally:
            timer.join()
    except KeyboardInterrupt:
        interrupted += 1
print(interrupted, (rss() - start) >> 20)
"""
        result = _run_python(code, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        interrupted, grown_mb = map(int, result.stdout.split())
        self.assertEqual(interrupted, 16)
        self.assertLess(grown_mb, 30)  # one image is 20 MB

    def test_a_song_too_long_is_not_out_of_memory(self):
        text = "len:500;" + "c;" * 97400  # past 2147483647 bytes; refused before rendering
        library = tuvello._library()
        if library.measure_song is not None:
            with self.assertRaises(tuvello.SongTooLongError) as raised:
                tuvello.render(text)
            self.assertIsInstance(raised.exception, ValueError)
            self.assertNotIsInstance(raised.exception, MemoryError)
            with mock.patch.object(library, "create_song", return_value=None):
                with self.assertRaisesRegex(MemoryError, "out of memory$"):
                    tuvello.render("c")
        else:
            # Without the library's measure both causes are named.
            with self.assertRaisesRegex(MemoryError, "out of memory, or its image would pass"):
                tuvello.render(text)


class StreamingNotesAndWarningsTest(unittest.TestCase):
    TEXT = "len:30;c;\tx;vol:50;pipe:1;dec:1;a;p;len:125;cs;oct:8;h;len:200"

    def test_a_song_file_reads_as_the_image_in_any_pieces_and_after_seeks(self):
        image = tuvello.render(self.TEXT)
        for piece in (1, 7, 4096, 65537):
            with tuvello.open(self.TEXT) as song:
                chunks = iter(lambda: song.read(piece), b"")
                self.assertEqual(b"".join(chunks), image, piece)
        with tuvello.open(self.TEXT) as song:
            self.assertEqual(song.size, len(image))
            for offset, whence, at in ((100, io.SEEK_SET, 100), (-7, io.SEEK_END, len(image) - 7),
                                       (-50, io.SEEK_CUR, len(image) - 50), (45, io.SEEK_SET, 45)):
                self.assertEqual(song.seek(offset, whence), at)
                self.assertEqual(song.read(333), image[at:at + 333])
            song.seek(len(image) + 10)
            self.assertEqual((song.read(), song.tell()), (b"", len(image) + 10))
            with self.assertRaises(ValueError):
                song.seek(-1)
        with self.assertRaises(ValueError):
            song.read(1)

    def test_wave_and_copyfileobj_take_a_song_file(self):
        image = tuvello.render(DEMO)
        with tuvello.open(DEMO) as song:
            with wave.open(song) as wav:
                self.assertEqual(wav.getparams(), read_wav(image)[0])
                self.assertEqual(wav.readframes(wav.getnframes()), read_wav(image)[1])
            song.seek(0)
            out = io.BytesIO()
            shutil.copyfileobj(song, out)
        self.assertEqual(out.getvalue(), image)

    def test_measure_and_the_note_map_describe_the_image(self):
        image = tuvello.render(self.TEXT)
        self.assertEqual(tuvello.measure(self.TEXT), len(image))
        notes = tuvello.notes(self.TEXT)
        self.assertEqual([self.TEXT[n.offset:n.offset + n.length] for n in notes],
                         ["c", "a", "p", "cs", "h"])
        self.assertEqual(notes[1], tuvello.Note(command=7, offset=32, length=1, image_offset=44 + 1322,
                                                bytes=1322, frames=659, pitch_hz=220.0,
                                                amplitude=16384, pipe=True, decay=True))
        self.assertEqual(notes[4].pitch_hz, 493.88 * 9 / 2)
        end = 44
        for n in notes:
            self.assertEqual(n.image_offset, end)
            end += n.bytes
        self.assertEqual(end, len(image))
        self.assertAlmostEqual(notes[3].start, (1322 * 3) / 44100)
        with self.assertRaises(dataclasses_frozen_error()):
            notes[0].bytes = 1

    def test_check_gives_the_warnings_with_their_places(self):
        self.assertEqual(
            [(w.command, w.offset, w.length, w.message) for w in tuvello.check(self.TEXT)],
            [(3, 9, 2, "command 3 '\\tx': unknown key '\\tx', so the command is skipped"),
             (13, 55, 7, "command 13 'len:200': no note follows, so the setting has no effect")],
        )
        self.assertEqual(tuvello.check("c;e"), [])

    def test_too_long_is_its_own_error_everywhere(self):
        text = "len:500;" + "c;" * 97400
        for call in (tuvello.measure, tuvello.notes, tuvello.open):
            with self.subTest(call=call.__name__):
                with self.assertRaises(tuvello.SongTooLongError):
                    call(text)
        self.assertEqual(len(tuvello.check(text)), 1)

    def test_save_streams_without_an_image(self):
        library = tuvello._library()
        with tempfile.TemporaryDirectory() as directory, mock.patch.object(
            library, "create_song", side_effect=AssertionError("an image was made")
        ):
            path = os.path.join(directory, "song.wav")
            tuvello.save(self.TEXT, path)
            with open(path, "rb") as file:
                data = file.read()
        self.assertEqual(data, tuvello.render(self.TEXT))


class VisitorFailuresTest(unittest.TestCase):
    """An exception in the visitor of a walk over a song (notes, check,
    from_rtttl) stops the walk and is raised, never printed by ctypes and
    ignored with the list cut short."""

    def test_an_exception_in_the_visitor_stops_the_walk_and_is_raised(self):
        midi = b"MThd\0\0\0\6\0\1\0\2\0\x60XXXX\0\0\0\1zMTrk\0\0\0\x08\0\x90\x3c\x40\x60\x3c\0"
        for call, made, text, error in ((tuvello.notes, "Note", "c;d;e;f;g", MemoryError),
                                        (tuvello.check, "SongWarning", "v;w;x;y;z", KeyboardInterrupt),
                                        (tuvello.from_rtttl, "RtttlWarning", "t:d=4:c,q,q,q,q", MemoryError),
                                        (lambda text: next(tuvello.from_rtttl_collection(text)), "RtttlWarning",
                                         "#\nt:d=4:c,q,q,q,q", KeyboardInterrupt),
                                        (tuvello.to_rtttl, "SongWarning", "vol:50;c;vol:40;d;vol:30;e", MemoryError),
                                        (tuvello.to_midi, "SongWarning", "pipe:1;c;pipe:0;d;pipe:1;e;dec:1;f",
                                         KeyboardInterrupt),
                                        (tuvello.from_midi, "MidiWarning", midi, MemoryError)):
            built = []

            def make(*fields):
                built.append(fields)
                if len(built) == 3:
                    raise error("third")
                return fields

            with self.subTest(made=made), mock.patch.object(tuvello, made, make):
                with self.assertRaisesRegex(error, "third"):
                    call(text)
                self.assertEqual(len(built), 3)
        # A visit that failed before the visitor ran (ctypes without memory)
        # is found by the library's count of visits.
        counting = lambda text, visit, context: [visit(ctypes.pointer(tuvello._CNote()), None), 2][1]
        with mock.patch.object(tuvello, "_song_api", return_value=counting):
            with self.assertRaisesRegex(MemoryError, "1 of 2 visits failed"):
                tuvello.notes("c;d")

    def run_walks(self, attempt, times):
        """Each walk, in a fresh interpreter, times through attempt(call,
        text); what became of them."""
        outcomes = []
        for call, text, items in (("tuvello.notes", '"len:20;" + "c;" * 40000', 40000),
                                  ("tuvello.check", '"x;" * 40000', 40000),
                                  ("lambda text: tuvello.from_rtttl(text)[1]", '"t:d=4:" + "q," * 40000', 40001)):
            code = f"""
import os, random, resource, signal, threading, time, tuvello
{attempt}
for i in range({times}):
    try:
        outcome = "complete" if attempt({call}, {text}) == {items} else "cut short"
    except (KeyboardInterrupt, MemoryError) as error:
        outcome = type(error).__name__
    print(outcome)
"""
            result = _run_python(code, text=True)
            self.assertEqual(result.returncode, 0, result.stderr[-3000:])
            self.assertFalse("Exception ignored" in result.stderr, result.stderr[-3000:])
            outcomes += result.stdout.split()
        return outcomes

    def test_a_keyboard_interrupt_during_a_walk_is_raised(self):
        outcomes = self.run_walks("""
def attempt(call, text):
    timer = threading.Timer(random.uniform(0.02, 0.4), os.kill, (os.getpid(), signal.SIGINT))
    timer.start()
    try:
        found = len(call(text))
        time.sleep(5)  # cut short by the interrupt when it comes after the walk
        return found
    finally:
        timer.join()
""", 3)
        self.assertEqual(outcomes, ["KeyboardInterrupt"] * 9)

    def test_memory_running_out_during_a_walk_raises_memory_error(self):
        outcomes = self.run_walks("""
def attempt(call, text):
    with open("/proc/self/statm") as f:
        now = int(f.read().split()[0]) * os.sysconf("SC_PAGE_SIZE")
    # 8 MiB more than now: far from enough for 40,000 items.
    resource.setrlimit(resource.RLIMIT_AS, (now + (8 << 20), resource.RLIM_INFINITY))
    try:
        return len(call(text))
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY,) * 2)
""", 1)
        self.assertEqual(outcomes, ["MemoryError"] * 3)


class SongFileAsAFileTest(unittest.TestCase):
    def test_a_closed_song_file_raises_value_error_from_every_method(self):
        song = tuvello.open("c")
        song.close()
        song.close()  # closing twice is allowed, as for any file
        calls = {"read": lambda: song.read(1), "read all": song.read, "readall": song.readall,
                 "readinto": lambda: song.readinto(bytearray(4)), "readline": song.readline,
                 "seek": lambda: song.seek(0), "tell": song.tell, "readable": song.readable,
                 "seekable": song.seekable, "with": lambda: song.__enter__(), "iterate": lambda: next(song)}
        for name, call in calls.items():
            with self.subTest(call=name), self.assertRaises(ValueError):
                call()

    def test_a_song_file_is_neither_copied_nor_opened_twice(self):
        # A copy would share the library's reader and release it twice; a
        # second __init__ would lose the first reader.
        import copy
        import pickle

        with tuvello.open("c") as song:
            for call in (copy.copy, copy.deepcopy, pickle.dumps, lambda s: s.__init__("c;d")):
                with self.subTest(call=call), self.assertRaises(TypeError):
                    call(song)
            self.assertEqual(song.read(), tuvello.render("c"))

    def test_seek_refuses_what_io_refuses(self):
        with tuvello.open("c") as song:
            for args, error in (((0, 3), ValueError), ((0, -1), ValueError), ((-1,), ValueError),
                                ((1.5,), TypeError), ((0, 1.0), TypeError), (("1",), TypeError),
                                ((None,), TypeError)):
                with self.subTest(args=args), self.assertRaises(error):
                    song.seek(*args)
            self.assertEqual(song.tell(), 0)

            class Index:
                def __index__(self):
                    return 44

            self.assertEqual((song.seek(Index()), song.seek(True, io.SEEK_CUR)), (44, 45))

    def test_threads_sharing_a_song_file_read_the_image_and_survive_its_closing(self):
        # Run apart: without the lock, the library's reader is torn between
        # threads (wrong bytes, a crash, a hang).
        code = """
import random, threading, time, tuvello
text = "len:30;vol:70;dec:1;" + "".join(random.Random(1).choice(["c;", "e;", "g;", "p;", "a;"]) for _ in range(3000))
image = tuvello.render(text)
for round in range(4):
    chunks = []
    with tuvello.open(text) as song:
        def drain(seed):
            rng = random.Random(seed)
            while piece := song.read(rng.randrange(1, 9000)):
                chunks.append(piece)
        threads = [threading.Thread(target=drain, args=(i,)) for i in range(6)]
        for t in threads: t.start()
        for t in threads: t.join()
    print(sum(map(len, chunks)) == len(image), sum(image.find(c) < 0 for c in chunks))
song = tuvello.open("len:500;" + "c;e;g;p;" * 100)
ends = []
def hammer(seed):
    rng = random.Random(seed)
    try:
        while True:
            song.seek(rng.randrange(song.size))
            song.read(rng.choice((1, 100, 1 << 20)))
            song.tell()
    except ValueError:
        ends.append("closed")
threads = [threading.Thread(target=hammer, args=(i,)) for i in range(4)]
for t in threads: t.start()
time.sleep(0.3)
song.close()
for t in threads: t.join()
print(ends)
"""
        result = _run_python(code, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(), ["True 0"] * 4 + [str(["closed"] * 4)])


def dataclasses_frozen_error():
    import dataclasses

    return dataclasses.FrozenInstanceError


class LibraryLookupTest(unittest.TestCase):
    def test_a_missing_library_raises_the_documented_error_naming_where_it_looked(self):
        missing = os.path.join(tempfile.gettempdir(), "no-such-dir", "libtuvello.so.1")
        with self.assertRaises(tuvello.LibraryNotFoundError) as raised:
            tuvello._load({tuvello.ENVIRONMENT_VARIABLE: missing})
        self.assertIsInstance(raised.exception, OSError)
        self.assertIn(missing, str(raised.exception))
        self.assertIn("TUVELLO_LIBRARY", str(raised.exception))
        self.assertEqual(raised.exception.attempts, ((f"TUVELLO_LIBRARY={missing}", "no such file"),))
        # Whole across processes (a process pool pickles it).
        import pickle

        copy = pickle.loads(pickle.dumps(raised.exception))
        self.assertEqual((type(copy), copy.attempts, str(copy)),
                         (tuvello.LibraryNotFoundError, raised.exception.attempts, str(raised.exception)))

    def test_every_call_raises_it_when_the_environment_names_a_missing_file(self):
        env = dict(os.environ, TUVELLO_LIBRARY="/nonexistent/libtuvello.so.1")
        code = "import tuvello\ntry:\n tuvello.render('c')\nexcept tuvello.LibraryNotFoundError as e:\n print(e)"
        result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("/nonexistent/libtuvello.so.1", result.stdout)

    def test_a_library_without_the_song_functions_is_refused(self):
        libc = ctypes.util.find_library("c")
        with self.assertRaises(tuvello.LibraryNotFoundError) as raised:
            tuvello._load({tuvello.ENVIRONMENT_VARIABLE: libc})
        self.assertIn("not the tuvello library", str(raised.exception))

    def test_without_the_environment_variable_a_copy_in_the_package_is_found_first(self):
        with tempfile.TemporaryDirectory() as directory:
            package = os.path.join(directory, "tuvello")
            shutil.copytree(os.path.dirname(tuvello.__file__), package)
            shutil.copy(os.environ["TUVELLO_LIBRARY"], os.path.join(package, "libtuvello.so.1"))
            env = {k: v for k, v in os.environ.items() if k != "TUVELLO_LIBRARY"}
            env["PYTHONPATH"] = directory
            code = "import tuvello; print(tuvello.library_path()); print(len(tuvello.render('c')))"
            result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.split(), [os.path.join(package, "libtuvello.so.1"), "4454"])

    def test_without_either_the_system_path_is_tried_and_reported(self):
        with tempfile.TemporaryDirectory() as directory:
            package = os.path.join(directory, "tuvello")
            shutil.copytree(os.path.dirname(tuvello.__file__), package)
            env = {k: v for k, v in os.environ.items() if k not in ("TUVELLO_LIBRARY", "LD_LIBRARY_PATH")}
            env["PYTHONPATH"] = directory
            # Either an installed tuvello is found by its soname, or the error lists all three places.
            code = (
                "import tuvello\n"
                "try:\n print('found', tuvello.library_path())\n"
                "except tuvello.LibraryNotFoundError as e:\n print('missing', e)"
            )
            result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True)
            self.assertEqual(result.returncode, 0, result.stderr)
            if result.stdout.startswith("found"):
                self.assertEqual(result.stdout.split()[1], "libtuvello.so.1")
            else:
                self.assertIn(os.path.join(package, "libtuvello.so.1"), result.stdout)
                self.assertIn("the system library path (libtuvello.so.1)", result.stdout)


class PackageMetadataTest(unittest.TestCase):
    def test_version_is_the_library_headers(self):
        header = os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "include", "tuvello.h")
        with open(header, encoding="utf-8") as file:
            text = file.read()
        parts = []
        for part in ("MAJOR", "MINOR", "PATCH"):
            line = next(l for l in text.splitlines() if l.startswith(f"#define TUVELLO_VERSION_{part} "))
            parts.append(line.split()[2])
        self.assertEqual(tuvello.__version__, ".".join(parts))

    def test_version_is_the_loaded_librarys(self):
        library = ctypes.CDLL(tuvello.library_path())
        get_version = library.TUVELLO_GetVersion
        get_version.restype = ctypes.c_char_p
        self.assertEqual(tuvello.__version__, get_version().decode("ascii"))

    def test_every_public_function_is_fully_annotated(self):
        import inspect
        import typing

        self.assertTrue(os.path.isfile(os.path.join(os.path.dirname(tuvello.__file__), "py.typed")))
        checked = 0
        for name in tuvello.__all__:
            item = getattr(tuvello, name)
            functions = [item] if inspect.isfunction(item) else []
            if inspect.isclass(item):
                functions = [f for n, f in vars(item).items()
                             if inspect.isfunction(f) and (n == "__init__" or not n.startswith("_"))]
            for function in functions:
                # Evaluates every annotation too, so a name that does not exist fails.
                hints = typing.get_type_hints(function)
                parameters = [p for p in inspect.signature(function).parameters if p != "self"]
                with self.subTest(function=function.__qualname__):
                    self.assertEqual(sorted(p for p in parameters if p not in hints), [])
                    self.assertIn("return", hints)
                checked += 1
        self.assertGreaterEqual(checked, 6)


if __name__ == "__main__":
    unittest.main()
