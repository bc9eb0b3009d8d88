"""Tests of the tuvello Python module against the built shared library.

Run with TUVELLO_LIBRARY pointing at libtuvello.so.1 and python/ on PYTHONPATH.
"""

import ctypes
import ctypes.util
import io
import os
import shutil
import stat
import subprocess
import sys
import tempfile
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
    def test_str_reaches_the_library_encoded_as_latin_1(self):
        counter = CallCounter(self)
        tuvello.render("c;\u00e9;\u00ff")
        self.assertEqual(counter.texts, [b"c;\xe9;\xff"])

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
        for text in (b"c;\xe9;d", b"\xc4len:300;c", b"len:\xb2\xb5\xb0;c"):
            with self.subTest(text=text):
                song = library.TUVELLO_CreateSong(text)
                expected = ctypes.string_at(song, library.TUVELLO_GetSongSize(song))
                library.TUVELLO_FreeSong(song)
                self.assertEqual(tuvello.render(text), expected)
                self.assertEqual(tuvello.render(text.decode("latin-1")), expected)

    def test_characters_outside_latin_1_raise_before_anything_is_rendered(self):
        counter = CallCounter(self)
        with self.assertRaises(UnicodeEncodeError):
            tuvello.render("c;\u20ac")
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
            tuvello.save(DEMO, os.path.join(directory, "song.wav"))
        counter.assert_each_image_freed_once(self, 4)

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

    def test_save_replaces_an_existing_file_and_respects_the_umask(self):
        with open(self.path, "wb") as file:
            file.write(b"old contents that are longer than the new image" * 200)
        old_umask = os.umask(0o027)
        try:
            tuvello.save("c", self.path)
        finally:
            os.umask(old_umask)
        with open(self.path, "rb") as file:
            self.assertEqual(file.read(), tuvello.render("c"))
        self.assertEqual(stat.S_IMODE(os.stat(self.path).st_mode), 0o640)

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
            tuvello.save("\u266b", self.path)
        self.assertEqual(os.listdir(self.directory), [])

    def test_save_accepts_a_path_like(self):
        import pathlib

        tuvello.save(DEMO, pathlib.Path(self.path))
        self.assertEqual(os.path.getsize(self.path), 44 + 5 * 8820)


class FromRtttlTest(unittest.TestCase):
    RINGTONE = "tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7"

    def test_a_ringtone_gives_its_song_text_and_located_warnings(self):
        text, warnings = tuvello.from_rtttl(self.RINGTONE)
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
        # Latin-1 offsets are character offsets.
        _, warnings = tuvello.from_rtttl("t\u00e9:d=8,o=5,b=150:c,\u00e9")
        self.assertEqual([(w.offset, w.length) for w in warnings], [(19, 1)])
        with self.assertRaises(ValueError):
            tuvello.from_rtttl("t:d=8:c\0d")


class LibraryLookupTest(unittest.TestCase):
    def test_a_missing_library_raises_the_documented_error_naming_where_it_looked(self):
        missing = os.path.join(tempfile.gettempdir(), "no-such-dir", "libtuvello.so.1")
        with self.assertRaises(tuvello.LibraryNotFoundError) as raised:
            tuvello._load({tuvello.ENVIRONMENT_VARIABLE: missing})
        self.assertIsInstance(raised.exception, OSError)
        self.assertIn(missing, str(raised.exception))
        self.assertIn("TUVELLO_LIBRARY", str(raised.exception))
        self.assertEqual(raised.exception.attempts, ((f"TUVELLO_LIBRARY={missing}", "no such file"),))

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


if __name__ == "__main__":
    unittest.main()
