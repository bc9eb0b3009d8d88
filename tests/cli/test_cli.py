# SPDX-License-Identifier: MIT
"""The tuvello command-line tool, run as a user would run it.

Environment: TUVELLO (the tool), SNDFILE_INFO (libsndfile's sndfile-info),
TUVELLO_VERSION (the project's version). Run one class per CTest test:
    python3 test_cli.py RenderWritesWavFiles
"""

import codecs
import io
import os
import pathlib
import pty
import re
import resource
import signal
import stat
import struct
import subprocess
import tempfile
import unittest
import wave

TUVELLO = os.environ.get("TUVELLO", "tuvello")
SNDFILE_INFO = os.environ.get("SNDFILE_INFO", "")
VERSION = os.environ.get("TUVELLO_VERSION", "")
CORPUS = pathlib.Path(__file__).with_name("check_corpus.txt")
# What follows a warning about a command that a line break begins.
LINE_BREAK_NOTE = ("note: only ';' separates commands, so a line break joins the command after "
                   "it; write the song text on one line")
# A library that fails the allocation numbered FAIL_NTH_ALLOC (fail_nth_alloc.c).
FAIL_NTH_ALLOC_LIBRARY = os.environ.get("FAIL_NTH_ALLOC_LIBRARY", "")
# A sanitizer build reserves terabytes of address space: no memory limit fits it.
SANITIZING = os.environ.get("TUVELLO_SANITIZING", "") not in ("", "0", "OFF")
needs_memory_limits = unittest.skipIf(SANITIZING, "address-space limits do not apply under sanitizers")


def run(*args, stdin=subprocess.DEVNULL, cwd=None, **kwargs):
    return subprocess.run(
        [TUVELLO, *args], stdin=stdin, capture_output=True, cwd=cwd, timeout=60, **kwargs
    )


def block_bytes(length_ms):
    """A note block's size: round(44100 * seconds), ties to even, whole frames."""
    return round(44100 * length_ms / 1000) & ~1


def wav_facts(data):
    """What Python's own WAV reader sees in an image: format and samples."""
    with wave.open(io.BytesIO(data), "rb") as w:
        frames = w.readframes(w.getnframes())
        return {
            "channels": w.getnchannels(),
            "rate": w.getframerate(),
            "width": w.getsampwidth(),
            "frames": w.getnframes(),
            "samples": struct.unpack("<%dh" % (len(frames) // 2), frames),
        }


class WavCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def assertReadableWav(self, data, frames):
        facts = wav_facts(data)
        self.assertEqual(
            (facts["channels"], facts["rate"], facts["width"], facts["frames"]),
            (1, 22050, 2, frames),
        )
        return facts

    def assertSndfileReads(self, path, frames):
        self.assertTrue(
            SNDFILE_INFO and os.access(SNDFILE_INFO, os.X_OK),
            "sndfile-info not found: install Debian's sndfile-programs",
        )
        out = subprocess.run([SNDFILE_INFO, str(path)], capture_output=True, text=True, timeout=60)
        self.assertEqual(out.returncode, 0, out.stderr)
        report = out.stdout + out.stderr
        # libsndfile flags inconsistent headers with "(should be N)".
        for bad in ("should be", "warning", "error", "***"):
            self.assertNotIn(bad, report.lower(), report)
        self.assertRegex(report, r"Channels\s*: 1\n")
        self.assertRegex(report, r"Sample Rate\s*: 22050\n")
        self.assertRegex(report, r"Bit Width\s*: 16\n")
        self.assertRegex(report, r"Frames\s*: %d\n" % frames)

    def leftovers(self):
        return sorted(p.name for p in self.dir.iterdir())


class RenderWritesWavFiles(WavCase):
    def test_a_file_that_both_wav_readers_accept_and_a_summary_line(self):
        out = self.dir / "song.wav"
        r = run("render", "len:200;vol:80;c;e;g;p;c", "-o", str(out))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"")
        frames = 5 * block_bytes(200) // 2
        self.assertEqual(
            r.stderr.decode(),
            "wrote %s: 4 notes, 1 pause, 1.000 s, %d bytes, 0 warnings\n" % (out, 44 + 2 * frames),
        )
        self.assertReadableWav(out.read_bytes(), frames)
        self.assertSndfileReads(out, frames)

    def test_the_samples_are_the_notes(self):
        out = self.dir / "c.wav"
        self.assertEqual(run("render", "c", "-o", str(out), "-q").returncode, 0)
        samples = self.assertReadableWav(out.read_bytes(), 2205)["samples"]
        self.assertEqual(samples[:3], (1221, 2441, 3657))
        self.assertEqual(samples[-2:], (0, 0))

    def test_a_pipe_gets_the_same_image_as_a_file(self):
        out = self.dir / "song.wav"
        text = "len:30;c;len:125;d;len:250;e"  # odd exact byte counts
        self.assertEqual(run("render", text, "-o", str(out), "-q").returncode, 0)
        r = run("render", text, "-o", "-")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, out.read_bytes())
        self.assertIn(b"wrote <stdout>: 3 notes, ", r.stderr)
        frames = (block_bytes(30) + block_bytes(125) + block_bytes(250)) // 2
        self.assertReadableWav(r.stdout, frames)
        self.assertSndfileReads(out, frames)
        # Standard output is also the default.
        self.assertEqual(run("render", text, "-q").stdout, r.stdout)

    def test_text_from_a_file_or_standard_input_drops_one_final_line_break(self):
        expected = run("render", "c;d", "-o", "-").stdout
        path = self.dir / "song.txt"
        for content in (b"c;d", b"c;d\n", b"c;d\r\n"):
            path.write_bytes(content)
            self.assertEqual(run("render", "-f", str(path), "-o", "-").stdout, expected, content)
            self.assertEqual(run("render", "-f", "-", input=content, stdin=None).stdout, expected)
            self.assertEqual(run("render", input=content, stdin=None).stdout, expected)
        # Only one: with two, the last command is 'd' and a line break, no key.
        path.write_bytes(b"c;d\n\n")
        self.assertEqual(len(run("render", "-f", str(path)).stdout), 44 + block_bytes(100))

    def test_the_song_text_ends_at_a_nul_byte(self):
        path = self.dir / "song.txt"
        path.write_bytes(b"c;d\0;e;f")
        self.assertEqual(
            run("render", "-f", str(path)).stdout, run("render", "c;d").stdout
        )

    def test_empty_input_is_an_empty_song_not_the_demo(self):
        # Standard input that is empty or at its end is an empty text; so is
        # an explicit empty text. Only a terminal gets the demo.
        self.assertEqual(len(run("render", "-o", "-", stdin=subprocess.DEVNULL).stdout), 44)
        self.assertEqual(len(run("render", input=b"", stdin=None).stdout), 44)
        self.assertEqual(len(run("render", "").stdout), 44)

    def test_demo_writes_demo_wav_and_uses_every_key(self):
        r = run("demo", cwd=self.dir)
        self.assertEqual(r.returncode, 0, r.stderr)
        m = re.fullmatch(
            r"wrote demo\.wav: (\d+) notes, (\d+) pauses?, ([\d.]+) s, (\d+) bytes, 0 warnings\n",
            r.stderr.decode(),
        )
        self.assertIsNotNone(m, r.stderr)
        notes, seconds, size = int(m[1]) + int(m[2]), float(m[3]), int(m[4])
        data = (self.dir / "demo.wav").read_bytes()
        self.assertEqual(len(data), size)
        frames = (size - 44) // 2
        self.assertReadableWav(data, frames)
        self.assertSndfileReads(self.dir / "demo.wav", frames)
        self.assertTrue(2.0 <= seconds <= 8.0, seconds)
        self.assertAlmostEqual(seconds, (size - 44) / 44100, places=3)

        # The song is cli/demo_song.txt byte for byte, as the playground's is.
        song_file = pathlib.Path(__file__).resolve().parents[2] / "cli" / "demo_song.txt"
        self.assertEqual(run("demo", "--text").stdout, song_file.read_bytes() + b"\n")
        text = song_file.read_text("ascii")
        commands = [c.split(":") for c in text.split(";")]
        keys = {c[0] for c in commands}
        notes_keys = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h", "p"}
        self.assertLessEqual(notes_keys | {"len", "vol", "oct", "pipe", "dec"}, keys)
        self.assertEqual(notes, sum(1 for c in commands if c[0] in notes_keys))
        for mode in ("pipe", "dec"):
            values = {c[1] for c in commands if c[0] == mode}
            self.assertIn("0", values, mode)
            self.assertTrue(values - {"0"}, mode)
        # The demo is written as it should be: nothing to report.
        self.assertEqual(run("check", text).returncode, 0)

    @needs_memory_limits
    def test_a_long_song_streams_into_the_file_and_the_pipe(self):
        # A 99 MB image through a tool limited to 80 MB of address space.
        text = b"len:500;" + b"c;" * 4500

        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (80 << 20, 80 << 20))

        out = self.dir / "long.wav"
        r = run("render", "-", "-o", str(out), input=text, stdin=None, preexec_fn=limit_memory)
        self.assertEqual(r.returncode, 0, r.stderr)
        size = 44 + 4500 * 22050
        self.assertEqual(out.stat().st_size, size)
        with open(out, "rb") as f:
            self.assertEqual(f.read(44)[40:44], struct.pack("<I", size - 44))
        r = subprocess.run([TUVELLO, "render", "-", "-o", "-"], input=text, capture_output=True,
                           preexec_fn=limit_memory, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, out.read_bytes())

    def test_a_device_is_written_not_replaced(self):
        r = run("render", "c", "-o", "/dev/null")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(stat.S_ISCHR(os.stat("/dev/null").st_mode))


class OutputIsWholeOrAbsent(WavCase):
    def test_a_failing_render_leaves_no_file(self):
        out = self.dir / "song.wav"
        r = run("render", "c;d;e", "-o", str(out), "--max-bytes", "5000")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"rendering failed", r.stderr)
        self.assertEqual(self.leftovers(), [])

    def test_a_failing_render_keeps_the_old_file(self):
        out = self.dir / "song.wav"
        out.write_bytes(b"old")
        r = run("render", "c;d;e", "-o", str(out), "--max-bytes", "5000")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(out.read_bytes(), b"old")
        self.assertEqual(self.leftovers(), ["song.wav"])
        # Within the limit it renders.
        self.assertEqual(run("render", "c", "-o", str(out), "--max-bytes", "4454").returncode, 0)
        self.assertEqual(len(out.read_bytes()), 4454)

    def test_a_write_cut_short_keeps_the_old_file_and_no_temporary(self):
        out = self.dir / "song.wav"
        out.write_bytes(b"old")

        def limit_file_size():
            resource.setrlimit(resource.RLIMIT_FSIZE, (10000, 10000))

        r = run("render", "len:500;c;d", "-o", str(out), preexec_fn=limit_file_size)
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertIn(b"cannot write", r.stderr)
        self.assertEqual(out.read_bytes(), b"old")
        self.assertEqual(self.leftovers(), ["song.wav"])

    @unittest.skipIf(SANITIZING, "a sanitizer's runtime must come first: no preloading")
    def test_no_failing_allocation_leaves_a_temporary_file(self):
        self.assertTrue(FAIL_NTH_ALLOC_LIBRARY, "set FAIL_NTH_ALLOC_LIBRARY")
        out = str(self.dir / "out")
        ringtone = "t:d=4,o=5,b=125:c,e"
        for args in (("render", "c"), ("demo",), ("plot", "c"), ("import", ringtone),
                     ("render", "--rtttl", ringtone)):
            # The first, then the second, ... allocation fails, until none is left.
            for n in range(1, 200):
                env = dict(os.environ, LD_PRELOAD=FAIL_NTH_ALLOC_LIBRARY, FAIL_NTH_ALLOC=str(n))
                r = run(*args, "-o", out, env=env)
                left = self.leftovers()
                for name in left:
                    os.unlink(self.dir / name)
                with self.subTest(args=args, n=n):
                    self.assertIn(r.returncode, (0, 1), r.stderr)
                    # Failing after the rename (the summary line) leaves the whole file.
                    self.assertIn(left, (["out"], [] if r.returncode else ["out"]))
                if b"fail_nth_alloc:" not in r.stderr:
                    break
            self.assertGreater(n, 5, args)

    def test_a_missing_directory_is_an_error(self):
        r = run("render", "c", "-o", str(self.dir / "no" / "song.wav"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(("the folder '%s' does not exist" % (self.dir / "no")).encode(), r.stderr)

    def test_a_replaced_file_keeps_its_mode_and_links_stay_links(self):
        target = self.dir / "song.wav"
        target.write_bytes(b"old")
        os.chmod(target, 0o640)
        link = self.dir / "link.wav"
        link.symlink_to("song.wav")
        self.assertEqual(run("render", "c", "-o", str(link), "-q").returncode, 0)
        self.assertTrue(link.is_symlink())
        self.assertEqual(len(target.read_bytes()), 4454)
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual(self.leftovers(), ["link.wav", "song.wav"])

    def test_a_link_to_a_missing_file_creates_its_target(self):
        link = self.dir / "link.wav"
        link.symlink_to("new.wav")
        self.assertEqual(run("render", "c", "-o", str(link), "-q").returncode, 0)
        self.assertTrue(link.is_symlink())
        self.assertEqual(len((self.dir / "new.wav").read_bytes()), 4454)


class RefusesToWriteToATerminal(unittest.TestCase):
    def run_on_terminal(self, *args):
        main, side = pty.openpty()
        try:
            r = subprocess.run(
                [TUVELLO, *args], stdin=subprocess.DEVNULL, stdout=side,
                stderr=subprocess.PIPE, timeout=60,
            )
            os.set_blocking(main, False)
            try:
                shown = os.read(main, 65536)
            except BlockingIOError:
                shown = b""
            return r, shown
        finally:
            os.close(side)
            os.close(main)

    def test_binary_output_to_a_terminal_is_refused(self):
        for args in (("render", "c;e;g"), ("render", "c", "-o", "-"), ("demo", "-o", "-")):
            r, shown = self.run_on_terminal(*args)
            self.assertEqual(r.returncode, 2, args)
            self.assertIn(b"refusing to write a WAV image to a terminal", r.stderr)
            self.assertEqual(shown, b"", args)

    def test_a_terminal_named_as_the_output_file_is_refused(self):
        main, side = pty.openpty()
        try:
            r = run("render", "c", "-o", os.ttyname(side))
            os.set_blocking(main, False)
            try:
                shown = os.read(main, 65536)
            except BlockingIOError:
                shown = b""
        finally:
            os.close(side)
            os.close(main)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"refusing to write a WAV image to a terminal", r.stderr)
        self.assertEqual(shown, b"")

    def test_a_terminal_as_input_means_the_demo_song(self):
        main, side = pty.openpty()
        try:
            r = subprocess.run(
                [TUVELLO, "render", "-o", "-"], stdin=side, capture_output=True, timeout=60
            )
        finally:
            os.close(side)
            os.close(main)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, run("demo", "-o", "-").stdout)
        self.assertTrue(r.stderr.startswith(
            b"tuvello render: no song text given (TEXT, -f FILE or standard input): taking the "
            b"built-in demo song\n"), r.stderr)


def corpus_cases():
    cases = []
    for block in re.split(r"\n\s*\n", CORPUS.read_text()):
        lines = [l for l in block.splitlines() if not l.startswith("#")]
        if not lines:
            continue
        text = codecs.decode(lines[0][len("text:"):].lstrip(" "), "unicode_escape")
        cases.append((text.encode("latin-1"), int(lines[1][len("exit:"):]), lines[2:]))
    return cases


class CheckReportsCommands(unittest.TestCase):
    def test_the_corpus_gives_exactly_the_expected_lines(self):
        cases = corpus_cases()
        self.assertGreater(len(cases), 10)
        for text, status, lines in cases:
            with self.subTest(text=text):
                r = run("check", text)
                self.assertEqual(r.stderr, b"")
                self.assertEqual(r.stdout.decode("ascii").splitlines(), lines)
                self.assertEqual(r.returncode, status)

    def test_a_file_is_named_and_its_final_line_break_dropped(self):
        with tempfile.TemporaryDirectory() as d:
            path = pathlib.Path(d) / "tune.txt"
            path.write_bytes(b"len:200;\nc;d\n")
            r = run("check", "-f", str(path))
            self.assertEqual(r.returncode, 1)
            self.assertEqual(
                r.stdout.decode().splitlines(),
                [
                    "%s:1:9: warning: command 2 '\\nc': a line break makes the key '\\nc' unknown, "
                    "so 'c' is skipped" % path,
                    "%s:1:9: %s" % (path, LINE_BREAK_NOTE),
                    "%s: 1 note, 0 pauses, 0.200 s, 1 warning" % path,
                ],
            )

    def test_standard_input_is_named_stdin(self):
        for args in ((), ("-f", "-"), ("-",)):
            r = run("check", *args, input=b"c;;d\r\n", stdin=None)
            self.assertEqual(r.returncode, 1, args)
            self.assertEqual(
                r.stdout.decode().splitlines(),
                [
                    "<stdin>:1:3: warning: command 2 '': empty command, skipped (a pause is written 'p')",
                    "<stdin>: 2 notes, 0 pauses, 0.200 s, 1 warning",
                ],
            )

    def test_bytes_after_a_nul_are_reported_and_ignored(self):
        r = run("check", "-", input=b"c;d\0;e;f", stdin=None)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(
            r.stdout.decode().splitlines(),
            [
                "<stdin>:1:4: warning: the song text ends at this NUL byte; "
                "the 4 bytes after it are ignored",
                "<stdin>: 2 notes, 0 pauses, 0.200 s, 1 warning",
            ],
        )

    def test_a_song_too_long_to_render_is_reported_where_it_passes_the_limit(self):
        # The first note of 500 ms (22050 bytes) that takes the image past
        # 2147483647 bytes is the last one.
        notes = (2**31 - 1 - 44) // 22050 + 1
        text = b"len:500;" + b"c;" * notes
        r = run("check", input=text, stdin=None)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(
            r.stdout.decode().splitlines(),
            [
                "<stdin>:1:%d: warning: command %d 'c': the song image passes 2147483647 "
                "bytes here, so rendering fails" % (len(text) - 1, notes + 1),
                "<stdin>: too long to render (over 2147483647 bytes), 1 warning",
            ],
        )

    def test_only_a_terminal_as_input_checks_the_demo_song(self):
        main, side = pty.openpty()
        try:
            r = subprocess.run([TUVELLO, "check"], stdin=side, capture_output=True, timeout=60)
        finally:
            os.close(side)
            os.close(main)
        self.assertEqual(r.returncode, 0)
        self.assertEqual(r.stdout, b"<demo>: 22 notes, 1 pause, 4.560 s, 0 warnings\n")
        self.assertIn(b"taking the built-in demo song", r.stderr)
        r = run("check")  # standard input at its end: an empty text
        self.assertEqual((r.returncode, r.stdout), (0, b"<stdin>: 0 notes, 0 pauses, 0.000 s, 0 warnings\n"))

    def test_locations_are_line_and_byte_column(self):
        text = b"len:200;c;\nc;;\r\nxx;d\n  q"
        r = run("check", "-", input=text, stdin=None)
        self.assertEqual(
            r.stdout.decode().splitlines(),
            [
                "<stdin>:1:11: warning: command 3 '\\nc': a line break makes the key '\\nc' "
                "unknown, so 'c' is skipped",
                "<stdin>:1:11: " + LINE_BREAK_NOTE,
                "<stdin>:2:3: warning: command 4 '': empty command, skipped (a pause is written 'p')",
                "<stdin>:2:4: warning: command 5 '\\r\\nxx': unknown key '\\r\\nxx', so the "
                "command is skipped",
                "<stdin>:2:4: " + LINE_BREAK_NOTE,
                "<stdin>:3:4: warning: command 6 'd\\n  q': unknown key 'd\\n  q': a line break "
                "hides 'd' (commands are separated by ';')",
                "<stdin>: 1 note, 0 pauses, 0.200 s, 4 warnings",
            ],
        )

    @needs_memory_limits
    def test_the_report_streams_in_bounded_memory(self):
        # Two million empty commands (the one after the last ';' is no
        # command): every warning is printed as it is found,
        # so the tool needs the text and little more, whatever the count.
        text = b"c" + b";" * 2_000_000

        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (120 << 20, 120 << 20))

        r = subprocess.run(
            [TUVELLO, "check", "-"], input=text, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            preexec_fn=limit_memory, timeout=120,
        )
        self.assertEqual(r.returncode, 1, r.stderr)
        lines = r.stdout.splitlines()
        self.assertEqual(len(lines), 2_000_000)
        self.assertEqual(lines[-1], b"<stdin>: 1 note, 0 pauses, 0.100 s, 1999999 warnings")


class NotesAndStreamsFollowTheSong(unittest.TestCase):
    def test_the_table_has_a_header_and_one_line_per_note(self):
        r = run("notes", "len:200;vol:80;c;x;oct:1;pipe:1;dec:1;\tp;a:7")
        self.assertEqual((r.returncode, r.stderr), (0, b"listed <argument>: 2 notes, 0 pauses, 0.400 s\n"))
        self.assertEqual(run("notes", "-q", "c").stderr, b"")
        self.assertEqual(
            r.stdout.decode().splitlines(),
            [
                "note\tcommand\toffset\tlength\tline\tcolumn\tstart\tseconds\timage_offset\tbytes"
                "\tframes\tpitch_hz\tamplitude\tpipe\tdecay\ttext",
                "1\t3\t15\t1\t1\t16\t0.000000\t0.200000\t44\t8820\t4408\t130.815\t26214\t0\t0\tc",
                "2\t9\t41\t3\t1\t42\t0.200000\t0.200000\t8864\t8820\t4408\t440.000\t26214\t1\t1\ta:7",
            ],
        )

    def test_every_command_counts_a_song_alike(self):
        for args in (("render", "-o", os.devnull), ("check",), ("notes",),
                     ("plot", "-o", os.devnull)):
            r = run(*args, "len:200;vol:80;c;e;g;p;c")
            said = (r.stdout if args[0] == "check" else r.stderr).decode()
            self.assertRegex(said, r"^\S+ ?\S+: 4 notes, 1 pause, 1\.000 s(,|\n)", args)

    def test_json_lines_tile_the_rendered_image(self):
        text = "len:30;c;\nd;p;len:125;vol:5;e;dec:1;f"
        lines = run("notes", "--json", text).stdout.decode().splitlines()
        notes = [__import__("json").loads(line) for line in lines]
        image = run("render", text, "-o", "-").stdout
        self.assertEqual([n["text"] for n in notes], ["c", "p", "e", "f"])
        offset = 44
        for n in notes:
            self.assertEqual(n["image_offset"], offset)
            block = image[offset:offset + n["bytes"]]
            self.assertEqual(block[2 * n["frames"]:], bytes(n["bytes"] - 2 * n["frames"]))
            self.assertEqual(any(block), n["pitch_hz"] > 0)
            offset += n["bytes"]
        self.assertEqual(offset, len(image))
        self.assertEqual((notes[1]["line"], notes[1]["column"]), (2, 3))

    @needs_memory_limits
    def test_render_streams_a_song_larger_than_its_memory(self):
        # A 1.1 GB image under a 256 MB address-space limit, to a pipe.
        text = b"len:500;" + b"c;" * 50_000

        def limit():
            resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))

        render = subprocess.Popen([TUVELLO, "render", "-q", "-"], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, preexec_fn=limit)
        render.stdin.write(text)
        render.stdin.close()
        total = 0
        head = render.stdout.read(44)
        while chunk := render.stdout.read(1 << 20):
            total += len(chunk)
        self.assertEqual(render.wait(timeout=120), 0)
        self.assertEqual(total, 50_000 * 22050)
        self.assertEqual(struct.unpack("<I", head[40:44])[0], total)

    def test_too_long_and_out_of_memory_read_differently(self):
        # 97,400 blocks of 22,050 bytes: just past 2^31 - 1. Every command that
        # follows the image refuses it and shows nothing of it.
        for args in (("render", "-o", os.devnull), ("notes",), ("notes", "--json"), ("plot",)):
            r = run(*args, "-", input=b"len:500;" + b"c;" * 97_400, stdin=None)
            with self.subTest(args=args):
                self.assertEqual((r.returncode, r.stdout), (1, b""))
                self.assertIn(b"would pass 2147483647 bytes", r.stderr)
                self.assertNotIn(b"out of memory", r.stderr)


class HelpVersionAndUsageErrors(unittest.TestCase):
    def test_help_and_version_everywhere(self):
        for command in ((), ("render",), ("check",), ("demo",)):
            for flag in ("--help", "-h"):
                r = run(*command, flag)
                self.assertEqual(r.returncode, 0, command)
                usage = "Usage: tuvello " + (command[0] if command else "COMMAND")
                self.assertTrue(r.stdout.decode().startswith(usage), r.stdout)
                self.assertEqual(r.stderr, b"")
            r = run(*command, "--version")
            self.assertEqual((r.returncode, r.stdout.decode()), (0, "tuvello %s\n" % VERSION))
        self.assertIn(b"line break", run("--help").stdout)  # the final line break is explained

    def test_usage_errors_exit_with_status_2(self):
        cases = [
            ((), "no command given"),
            (("plya",), "unknown command 'plya'"),
            (("-v",), "unknown option '-v' (-V shows the version)"),
            (("help", "render", "plot"), "one command at a time, not 'render' and 'plot'"),
            (("render", "--loud"), "unknown option '--loud'"),
            (("render", "-x"), "unknown option '-x'"),
            (("render", "c", "-o"), "option '-o' needs a value"),
            (("render", "c", "e"), "more than one song text"),
            (("render", "c", "-f", "x.txt"), "either as TEXT or with -f"),
            (("render", "c", "--max-bytes", "43"), "--max-bytes needs a whole number"),
            (("render", "c", "--max-bytes", "1e6"), "--max-bytes needs a whole number"),
            (("check", "c", "-o", "x.wav"), "unknown option '-o'"),
            (("check", "-q", "c"), "unknown option '-q'"),
            (("demo", "c;e"), "unexpected argument 'c;e'"),
            (("render", "-f", "/nonexistent/song.txt"), "cannot read '/nonexistent/song.txt'"),
            (("check", "-f", "/"), "cannot read '/'"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = run(*args)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                self.assertIn(message, r.stderr.decode())

    def test_grouped_short_options_and_the_help_command(self):
        with tempfile.TemporaryDirectory() as d:
            r = run("render", "-qo", "a.wav", "c", cwd=d)
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertEqual(len((pathlib.Path(d) / "a.wav").read_bytes()), 4454)
        for command in ((), ("render",), ("check",), ("demo",)):
            r = run(*command, "-V")
            self.assertEqual((r.returncode, r.stdout.decode()), (0, "tuvello %s\n" % VERSION))
        self.assertEqual(run("help").stdout, run("--help").stdout)
        for flag in ("--help", "-h"):  # what the usage errors' "Try" line suggests
            self.assertEqual(run("help", flag).stdout, run("--help").stdout)
        for command in ("render", "check", "demo"):
            self.assertEqual(run("help", command).stdout, run(command, "--help").stdout)
        r = run("help", "nope")
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"no such command 'nope'", r.stderr)

    def test_help_is_complete_and_fits_the_terminal(self):
        tool_help = run("--help").stdout.decode()
        commands = re.findall(r"^  (\w+)  ", tool_help, re.M)
        self.assertLessEqual({"render", "check", "demo", "help"}, set(commands))
        for command in [c for c in commands if c != "help"] + [None]:
            text = run(*([command] if command else []), "--help").stdout.decode()
            for line in text.splitlines():
                self.assertLessEqual(len(line), 80, line)
            if command is None:
                continue
            # Every long option the help names is one the command takes.
            for option in set(re.findall(r"(--[a-z][a-z-]+)", text)):
                if option in ("--help", "--version"):
                    continue
                # --help after the option: parsed, then nothing is done.
                r = run(command, option, "100", "--help")
                self.assertEqual((r.returncode, r.stderr), (0, b""), (command, option))

    def test_options_take_their_values_in_every_spelling(self):
        with tempfile.TemporaryDirectory() as d:
            for spelling in (["-o", "a.wav"], ["-oa.wav"], ["--output", "a.wav"], ["--output=a.wav"]):
                a = pathlib.Path(d) / "a.wav"
                if a.exists():
                    a.unlink()
                r = run("render", "-q", *spelling, "--", "c", cwd=d)
                self.assertEqual(r.returncode, 0, (spelling, r.stderr))
                self.assertEqual(len(a.read_bytes()), 4454)


class InputIsExplicitAndBounded(unittest.TestCase):
    def test_unreadable_standard_input_is_a_usage_error(self):
        directory = os.open("/", os.O_RDONLY)
        try:
            r = run("render", stdin=directory)
        finally:
            os.close(directory)
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        self.assertIn(b"cannot read standard input: Is a directory", r.stderr)
        # A closed standard input.
        r = subprocess.run(
            [TUVELLO, "check"], capture_output=True, timeout=60, preexec_fn=lambda: os.close(0)
        )
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"cannot read standard input: Bad file descriptor", r.stderr)

    def test_input_stops_at_max_input(self):
        text = b"c;" * 1000
        for args, source, status in (
            (("-",), "standard input", 2),
            (("--max-input", "2000", "-"), "", 0),
            (("--max-input", "1999", "-"), "standard input", 2),
            (("--max-input=1K", "-"), "standard input", 2),
            (("--max-input", "2K", "-"), "", 0),
        ):
            with self.subTest(args=args):
                r = run("render", *args, "-q", input=text + b"c" * 70_000_000 if not args[1:] else text, stdin=None)
                self.assertEqual(r.returncode, status, r.stderr)
                if status:
                    self.assertIn(("in %s is longer than" % source).encode(), r.stderr)
                    self.assertIn(b"--max-input", r.stderr)
                    self.assertEqual(r.stdout, b"")
        with tempfile.NamedTemporaryFile() as f:
            f.write(text)
            f.flush()
            r = run("check", "-f", f.name, "--max-input", "100")
            self.assertEqual(r.returncode, 2)
            self.assertIn(b"is longer than 100 bytes", r.stderr)
        for bad in ("0", "x", "5T", "-1", ""):
            r = run("check", "c", "--max-input", bad)
            self.assertEqual(r.returncode, 2, bad)
            self.assertIn(b"--max-input needs", r.stderr)

    def test_an_endless_input_is_refused_at_the_default_limit(self):
        yes = subprocess.Popen(["yes"], stdout=subprocess.PIPE)
        try:
            r = run("render", "-o", os.devnull, stdin=yes.stdout)
        finally:
            yes.kill()
            yes.wait()
            yes.stdout.close()
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"longer than 67108864 bytes", r.stderr)

    @needs_memory_limits
    def test_running_out_of_memory_is_reported_never_an_abort(self):
        # From too little memory to start reading up to enough for everything:
        # every limit gives either the song or a message and status 1.
        text = b"len:500;" + b"c;" * 600 + b";" * 300_000
        statuses = set()
        for megabytes in range(20, 200, 20):
            def limit(megabytes=megabytes):
                resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

            for command in ("render", "check"):
                r = subprocess.run(
                    [TUVELLO, command, "-", *(["-o", os.devnull] if command == "render" else [])],
                    input=text, capture_output=True, preexec_fn=limit, timeout=60,
                )
                with self.subTest(megabytes=megabytes, command=command):
                    self.assertIn(r.returncode, (0, 1), r.stderr[-300:])
                    statuses.add(r.returncode)
                    if command == "render" and r.returncode == 1:
                        self.assertRegex(r.stderr, rb"out of memory")
        self.assertEqual(statuses, {0, 1})


class StandardOutputErrorsAreReported(unittest.TestCase):
    def test_a_full_device_fails_every_command_that_prints(self):
        for args in (("check", "c;e;g"), ("check", "c;;x"), ("--help",), ("--version",),
                     ("render", "--help"), ("check", "-V"), ("help", "check"),
                     ("demo", "--text"), ("render", "c", "-o", "-")):
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                r = subprocess.run([TUVELLO, *args], stdin=subprocess.DEVNULL, stdout=full,
                                   stderr=subprocess.PIPE, timeout=60)
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertIn(b"cannot write to standard output: No space left on device", r.stderr)

    def test_a_closed_pipe_stops_the_report_when_sigpipe_is_ignored(self):
        import signal

        reader, writer = os.pipe()
        os.close(reader)
        try:
            r = subprocess.run(
                [TUVELLO, "check", "-"], input=b";" * 1_000_000, stdout=writer,
                stderr=subprocess.PIPE, timeout=60,
                preexec_fn=lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN),
            )
        finally:
            os.close(writer)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cannot write to standard output: Broken pipe", r.stderr)


class WritingFollowsTheFileRules(WavCase):
    def render_to(self, name, *more):
        return run("render", "c", "-q", "-o", str(name), *more)

    def test_a_chain_of_links_to_a_missing_file_creates_the_final_target(self):
        (self.dir / "l1").symlink_to("l2")
        (self.dir / "l2").symlink_to("final.wav")
        self.assertEqual(self.render_to(self.dir / "l1").returncode, 0)
        self.assertTrue((self.dir / "l1").is_symlink() and (self.dir / "l2").is_symlink())
        self.assertEqual(len((self.dir / "final.wav").read_bytes()), 4454)
        self.assertEqual(self.leftovers(), ["final.wav", "l1", "l2"])
        # A loop of links is an error, not a hang.
        (self.dir / "a").symlink_to("b")
        (self.dir / "b").symlink_to("a")
        r = self.render_to(self.dir / "a")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"Too many levels of symbolic links", r.stderr)

    def test_the_mode_is_kept_without_set_id_bits_and_the_owner_where_permitted(self):
        target = self.dir / "song.wav"
        target.write_bytes(b"old")
        if os.geteuid() == 0:
            os.chown(target, 65534, 65534)
        os.chmod(target, 0o6754)
        self.assertEqual(self.render_to(target).returncode, 0)
        st = os.stat(target)
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o754)
        if os.geteuid() == 0:
            self.assertEqual((st.st_uid, st.st_gid), (65534, 65534))
        self.assertEqual(len(target.read_bytes()), 4454)

    def test_names_up_to_name_max_work(self):
        for length in (238, 247, 248, 254, 255):
            name = self.dir / ("n" * (length - 4) + ".wav")
            name.write_bytes(b"old")
            with self.subTest(length=length):
                r = self.render_to(name)
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertEqual(len(name.read_bytes()), 4454)
            name.unlink()
        self.assertEqual(self.leftovers(), [])

    def test_a_fifo_is_written_into(self):
        fifo = self.dir / "pipe"
        os.mkfifo(fifo)
        proc = subprocess.Popen([TUVELLO, "render", "c", "-q", "-o", str(fifo)],
                                stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
        with open(fifo, "rb") as f:
            data = f.read()
        self.assertEqual(proc.wait(timeout=60), 0)
        proc.stderr.close()
        self.assertEqual(len(data), 4454)
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))

    def test_a_signal_during_the_write_removes_the_temporary_file(self):
        import signal
        import time

        target = self.dir / "song.wav"
        # About 100 MB, so the write and its sync take a while.
        text = b"len:500;" + b"c;" * 4500
        no_core = lambda: resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1,
                    signal.SIGALRM, signal.SIGRTMIN + 3):
            target.write_bytes(b"old")
            with self.subTest(signal=sig):
                proc = subprocess.Popen([TUVELLO, "render", "-", "-q", "-o", str(target)],
                                        stdin=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        preexec_fn=no_core)
                proc.stdin.write(text)
                proc.stdin.close()
                deadline = time.monotonic() + 60
                while not any(n.startswith(".song.wav.") for n in os.listdir(self.dir)):
                    self.assertIsNone(proc.poll(), "finished before the temporary file was seen")
                    self.assertLess(time.monotonic(), deadline)
                    time.sleep(0.001)
                proc.send_signal(sig)
                self.assertEqual(proc.wait(timeout=60), -sig)
                self.assertEqual(self.leftovers(), ["song.wav"])
                self.assertEqual(target.read_bytes(), b"old")


class NamesAndWarningsAreShown(WavCase):
    def test_file_names_are_escaped_in_lines_and_messages(self):
        name = self.dir / "a\nb\x1b[31m\u00e9.txt"
        name.write_bytes(b"c;x")
        shown = str(self.dir) + "/a\\nb\\x1B[31m\u00e9.txt"
        r = run("check", "-f", str(name))
        self.assertEqual(
            r.stdout.decode().splitlines(),
            [
                shown + ":1:3: warning: command 2 'x': unknown key 'x', so the command is skipped",
                shown + ": 1 note, 0 pauses, 0.100 s, 1 warning",
            ],
        )
        out = self.dir / "o\nut\x07.wav"
        r = run("render", "c", "-o", str(out))
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"o\\nut\\x07.wav: 1 note", r.stderr)
        r = run("render", "c", "-o", str(self.dir / "no\x1b" / "x.wav"))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"no\\x1B/x.wav", r.stderr)
        self.assertNotIn(b"\x1b", r.stderr)
        r = run("check", "-f", str(self.dir / "gone\r.txt"))
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"gone\\r.txt", r.stderr)

    def test_render_shows_its_first_warnings_and_strict_writes_nothing(self):
        out = self.dir / "x.wav"
        r = run("render", "c e g", "-o", str(out))
        self.assertEqual(r.returncode, 0)
        self.assertEqual(
            r.stderr.decode(),
            "<argument>:1:1: warning: command 1 'c e g': unknown key 'c e g': a space hides 'c', "
            "'e' and 'g' (commands are separated by ';')\n"
            "wrote %s: 0 notes, 0 pauses, 0.000 s, 44 bytes, 1 warning\n" % out,
        )
        # Like a compiler's: the first 10, then how many more.
        r = run("render", "c;" + "x;" * 12 + "\nd", "-o", str(out))
        lines = r.stderr.decode().splitlines()
        self.assertEqual([l.split(": warning: ")[0] for l in lines[:10]],
                         ["<argument>:1:%d" % (3 + 2 * i) for i in range(10)])
        self.assertEqual(lines[10:], ["and 3 more: tuvello check lists them all",
                                      "wrote %s: 1 note, 0 pauses, 0.100 s, 4454 bytes, 13 warnings"
                                      % out])
        r = run("render", "len:200;\nc;d", "-o", str(out))
        self.assertIn(("<argument>:1:9: " + LINE_BREAK_NOTE).encode(), r.stderr)
        out.write_bytes(b"old")
        r = run("render", "--strict", "c;;x", "-o", str(out))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr.decode().splitlines()[2:],
                         ["tuvello render: 2 warnings; --strict: nothing written"])
        self.assertEqual(out.read_bytes(), b"old")
        self.assertEqual(run("render", "--strict", "c;e", "-o", str(out)).returncode, 0)

    def test_a_text_that_names_a_file_gets_a_hint(self):
        (self.dir / "tune.txt").write_bytes(b"c;e;g")
        for args in (("render", "-o", "x.wav"), ("check",), ("notes",), ("plot", "-o", "x.svg"),
                     ("import",), ("render", "--rtttl", "-o", "x.wav")):
            r = run(*args, "tune.txt", cwd=self.dir)
            kind = "a ringtone" if args[0] == "import" or "--rtttl" in args else "a song text"
            self.assertIn(("tuvello %s: 'tune.txt' was read as %s; to read the file, use -f "
                           "'tune.txt'\n" % (args[0], kind)).encode(), r.stderr, args)
        # Song text that happens to name a file draws no hint.
        (self.dir / "c").write_bytes(b"")
        self.assertNotIn(b"-f", run("render", "c", "-o", "x.wav", cwd=self.dir).stderr)

class PlaysOnTheSoundDevice(unittest.TestCase):
    """ALSA's default device routed by ~/.asoundrc to the file plugin, which
    stores every frame played, over the null device."""

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = pathlib.Path(self.tmp.name)
        self.captured = self.home / "out.raw"
        self.use_device('type file; slave.pcm "null"; file "%s"; format "raw"' % self.captured)

    def tearDown(self):
        self.tmp.cleanup()

    def use_device(self, definition):
        (self.home / ".asoundrc").write_text("pcm.!default { %s }\n" % definition)

    def play(self, *args, **kwargs):
        env = dict(os.environ, HOME=str(self.home))
        env.pop("ALSA_CONFIG_PATH", None)
        return run("play", *args, env=env, **kwargs)

    def test_the_device_gets_the_samples_of_the_image(self):
        for text in ("len:200;vol:80;c;e;g;p;c", "len:30;c;len:125;pipe:1;d;dec:1;len:250;e", ""):
            with self.subTest(text=text):
                if self.captured.exists():
                    self.captured.unlink()
                r = self.play(text)
                self.assertEqual(r.returncode, 0, r.stderr)
                image = run("render", text, "-o", "-").stdout
                data = image[44:]
                captured = self.captured.read_bytes()
                # The device may round the end up to whole periods of silence.
                self.assertEqual(captured[: len(data)], data)
                self.assertEqual(captured[len(data):].strip(b"\0"), b"")
                self.assertRegex(r.stderr.decode(), r"^played <argument>: \d+ notes?, \d+ pauses?, [\d.]+ s, 0 warnings\n$")

    def test_text_from_a_file_and_strict_mode(self):
        tune = self.home / "tune.txt"
        tune.write_bytes(b"c;d\n")
        r = self.play("-q", "-f", str(tune))
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(self.captured.read_bytes()[: 2 * 4410], run("render", "c;d").stdout[44:])
        self.captured.unlink()
        r = self.play("--strict", "c;x")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"<argument>:1:3: warning: command 2 'x': unknown key 'x', so "
                         b"the command is skipped\ntuvello play: 1 warning; --strict: nothing played\n")
        self.assertFalse(self.captured.exists())

    def test_a_ringtone_plays_as_its_song_text(self):
        r = self.play("-q", "--rtttl", "--octave-shift", "none", "t:d=8,o=5,b=150:c,e,g9")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, b"<argument>:1:21: warning: octave 9 is out of reach (3 to 6 "
                         b"play exactly): its notes play in octave 6 (said once per octave)\n")
        data = run("render", "len:200;oct:3;c;e;oct:7;g").stdout[44:]
        self.assertEqual(self.captured.read_bytes()[: len(data)], data)

    @needs_memory_limits
    def test_a_long_song_streams_and_one_too_long_is_refused(self):
        # 99 MB of samples through a tool limited to 80 MB of address space.
        self.use_device('type file; slave.pcm "null"; file "/dev/null"; format "raw"')

        def limit_memory():
            resource.setrlimit(resource.RLIMIT_AS, (80 << 20, 80 << 20))

        r = self.play("-", input=b"len:500;" + b"c;" * 4500, stdin=None, preexec_fn=limit_memory)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"played <stdin>: 4500 notes, 0 pauses, 2250.000 s", r.stderr)
        r = self.play("-", input=b"len:500;" + b"c;" * 97400, stdin=None)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"would pass 2147483647 bytes; nothing played", r.stderr)

    def test_a_missing_device_is_reported_in_one_line_and_a_hint(self):
        # ALSA's library prints its own lines for this one ("Unknown PCM").
        for device in ("type hw; card 99", 'type plug; slave.pcm "nowhere"'):
            self.use_device(device)
            r = self.play("c")
            self.assertEqual(r.returncode, 1)
            lines = r.stderr.decode().splitlines()
            self.assertEqual(len(lines), 2, lines)
            self.assertRegex(lines[0], r"^tuvello play: no sound device: ALSA's 'default' cannot "
                             r"be opened \(.*\)$")
            self.assertIn("tuvello render ... -o song.wav", lines[1])
            self.assertIn("tuvello render ... | aplay", lines[1])

    def test_sigint_stops_the_sound_and_ends_the_tool(self):
        import signal
        import time

        # A FIFO as the captured file, read only after the signal: the device
        # blocks the tool in the middle of the song.
        os.mkfifo(self.captured)
        reader = os.open(self.captured, os.O_RDONLY | os.O_NONBLOCK)
        try:
            env = dict(os.environ, HOME=str(self.home))
            proc = subprocess.Popen([TUVELLO, "play", "len:500;c;d;e;f;g"], env=env,
                                    stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            time.sleep(0.5)
            self.assertIsNone(proc.poll())
            proc.send_signal(signal.SIGINT)
            os.set_blocking(reader, True)
            played = 0
            while chunk := os.read(reader, 65536):
                played += len(chunk)
            self.assertEqual(proc.wait(timeout=60), -signal.SIGINT)
            self.assertIn(b"tuvello play: stopped", proc.stderr.read())
            proc.stderr.close()
            self.assertLess(played, 5 * 22050)
        finally:
            os.close(reader)



class ImportConvertsRingtones(unittest.TestCase):
    RINGTONE = "tune:d=4,o=5,b=125:8c6,8e6,g6,p,2c7"
    SONG = "len:240;oct:7;c;e;len:480;g;p;c;c"

    def test_the_song_text_is_printed_and_the_warnings_located(self):
        r = run("import", "--octave-shift", "none", self.RINGTONE)
        self.assertEqual((r.returncode, r.stdout.decode()), (0, self.SONG + "\n"))
        self.assertEqual(
            r.stderr.decode().splitlines(),
            ["<argument>:1:33: warning: octave 7 is out of reach (3 to 6 play exactly): its notes "
             "play in octave 6 (said once per octave)",
             "<argument>:1:33: warning: a note of 960 ms is longer than the longest song note "
             "(500 ms): it plays as 2 repeated notes, each restarting its tone (said once per "
             "tune)"])
        r = run("import", "-", input=b"t:d=8,o=5,b=150:c,e,g\n", stdin=None)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"len:200;oct:3;c;e;g\n", b""))

    def test_octave_shift_keeps_the_melody_by_default(self):
        # d7 d7 d7 d6: moved alone, the three d7 play as the d6 after them.
        ringtone = "t:d=8,o=5,b=150:d7,d7,d7,d6"
        for args, song, warned in (
            ((), "len:200;oct:7;d;d;d;oct:3;d", "it plays an octave lower, every note exact"),
            (("--octave-shift=auto",), "len:200;oct:7;d;d;d;oct:3;d", "an octave lower"),
            (("--octave-shift", "none"), "len:200;oct:7;d;d;d;d", "its notes play in octave 6"),
            (("--octave-shift", "-1"), "len:200;oct:7;d;d;d;oct:3;d", None),
            (("--octave-shift", "+1"), "len:200;oct:7;d;d;d;d", "notes 1 to 4"),
        ):
            with self.subTest(args=args):
                r = run("import", *args, ringtone)
                self.assertEqual((r.returncode, r.stdout.decode()), (0, song + "\n"))
                if warned is None:
                    self.assertEqual(r.stderr, b"")
                else:
                    self.assertIn(warned, r.stderr.decode())
        for args, song in (((), "len:240;oct:3;c;e;len:480;g;p;oct:7;c;c"),
                           (("--octave-shift", "none"), self.SONG)):
            r = run("render", "--rtttl", *args, self.RINGTONE)
            self.assertEqual(r.stdout, run("render", song).stdout, args)
        for args, message in ((("import", "--octave-shift", "9", "t"), "from -8 to 8"),
                              (("import", "--octave-shift", "x", "t"), "from -8 to 8"),
                              (("render", "--octave-shift", "1", "c"), "give --rtttl too")):
            r = run(*args)
            self.assertEqual((r.returncode, r.stdout), (2, b""), args)
            self.assertIn(message, r.stderr.decode())

    def test_a_file_is_read_with_lines_and_columns_and_written_whole(self):
        with tempfile.TemporaryDirectory() as d:
            ringtone = pathlib.Path(d) / "tune.rtttl"
            ringtone.write_bytes(b"tune:d=8,o=5,b=150:\r\n  c,e,\n  x,g\x00,c\n")
            out = pathlib.Path(d) / "tune.txt"
            r = run("import", "-f", str(ringtone), "-o", str(out))
            self.assertEqual((r.returncode, r.stdout), (0, b""))
            self.assertEqual(r.stderr.decode().splitlines(), [
                "%s:3:3: warning: unknown note 'x' (a to g, or p for a pause): 'x' skipped"
                % ringtone,
                "%s:3:6: warning: a NUL byte ends the ringtone here; the rest is ignored"
                % ringtone])
            self.assertEqual(out.read_bytes(), b"len:200;oct:3;c;e;g\n")
            # --strict: nothing written, the old file kept.
            r = run("import", "--strict", "-f", str(ringtone), "-o", str(out))
            self.assertEqual(r.returncode, 1)
            self.assertIn(b"tuvello import: 2 warnings; --strict: nothing written", r.stderr)
            self.assertEqual(out.read_bytes(), b"len:200;oct:3;c;e;g\n")
            self.assertEqual(sorted(p.name for p in pathlib.Path(d).iterdir()),
                             ["tune.rtttl", "tune.txt"])

    def test_render_takes_a_ringtone_as_its_song_text(self):
        r = run("render", "--rtttl", "--octave-shift", "none", self.RINGTONE)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, run("render", self.SONG).stdout)
        self.assertIn(b"<argument>:1:33: warning: octave 7 is out of reach", r.stderr)
        self.assertIn(b"wrote <stdout>: 5 notes, 1 pause, 2.400 s", r.stderr)
        r = run("render", "--rtttl", "--strict", self.RINGTONE)
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertIn(b"2 warnings in the ringtone; --strict: nothing written", r.stderr)

    @needs_memory_limits
    def test_amplifying_ringtones_stop_at_the_image_limit_and_import_keeps_one_copy(self):
        # A dotted whole note at b=1 plays 360 s: 720 notes of 500 ms, 1440
        # bytes of song text and 15.9 MB of image for 3 bytes of ringtone.
        # The limit passes at the 136th note, byte 14 + 135 * 3.
        ringtone = b"t:d=1,o=5,b=1:" + b"c.," * 1_000_000
        memory = lambda: resource.setrlimit(resource.RLIMIT_AS, (256 << 20, 256 << 20))
        for args in (("render", "--rtttl", "-o", os.devnull), ("render", "--rtttl", "--strict")):
            r = subprocess.run([TUVELLO, *args, "-"], input=ringtone, capture_output=True,
                               preexec_fn=memory, timeout=60)
            self.assertEqual((r.returncode, r.stdout), (1, b""), args)
            self.assertEqual(r.stderr.decode(), "tuvello render: the song's image would pass "
                             "2147483647 bytes at the ringtone's note at <stdin>:1:420 (byte "
                             "419); nothing written\n")
        # A name holding ':' is found by weighing the whole ringtone: the
        # converter still stops at the note.
        r = subprocess.run([TUVELLO, "render", "--rtttl", "-o", os.devnull, "-"],
                           input=b"Star: Wars" + ringtone[1:], capture_output=True,
                           preexec_fn=memory, timeout=60)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"note at <stdin>:1:429 (byte 428); nothing written", r.stderr)
        # 72 MB of song text fit once in 120 MB, not twice.
        memory = lambda: resource.setrlimit(resource.RLIMIT_AS, (120 << 20, 120 << 20))
        r = subprocess.run([TUVELLO, "import", "-", "-o", os.devnull], input=ringtone[:150_014],
                           capture_output=True, preexec_fn=memory, timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr[-300:])

    @needs_memory_limits
    def test_running_out_of_memory_is_reported_never_an_abort(self):
        # Whole notes at b=25 play as 20 notes each: 4 MB of song text.
        ringtone = b"t:d=1,o=5,b=25:x," + b"c," * 100_000 + b"c"
        statuses = set()
        for megabytes in range(8, 48, 6):
            def limit(megabytes=megabytes):
                resource.setrlimit(resource.RLIMIT_AS, (megabytes << 20, megabytes << 20))

            r = subprocess.run([TUVELLO, "import", "-", "-o", os.devnull], input=ringtone,
                               capture_output=True, preexec_fn=limit, timeout=60)
            with self.subTest(megabytes=megabytes):
                self.assertIn(r.returncode, (0, 1), r.stderr[-300:])
                statuses.add(r.returncode)
                if r.returncode == 1:
                    self.assertRegex(r.stderr[-200:], rb"out of memory\n$")
        self.assertEqual(statuses, {0, 1})

    def test_usage_errors(self):
        for args, message in (
            (("import", "a", "b"), "more than one ringtone given"),
            (("import", "a", "-f", "x"), "either as RTTTL or with -f"),
            (("import", "-q", "a"), "unknown option '-q'"),
            (("check", "--rtttl", "a"), "unknown option '--rtttl'"),
            (("import", "-f", "/nonexistent/t.rtttl"), "cannot read '/nonexistent/t.rtttl'"),
            (("import", "--max-input", "8", "-"), "the ringtone in standard input is longer"),
            (("render", "--rtttl", "--max-input", "8", "-"), "the ringtone in standard input is"),
        ):
            with self.subTest(args=args):
                r = run(*args, input=b"t:d=4:c,e,g", stdin=None)
                self.assertEqual((r.returncode, r.stdout), (2, b""))
                self.assertIn(message, r.stderr.decode())
        # A terminal as input is no ringtone, never the demo song.
        main, side = pty.openpty()
        try:
            for args in (("import",), ("render", "--rtttl", "-o", "/dev/null")):
                r = subprocess.run([TUVELLO, *args], stdin=side, capture_output=True, timeout=60)
                self.assertEqual((r.returncode, r.stdout), (2, b""), args)
                self.assertIn(b"no ringtone given", r.stderr)
        finally:
            os.close(side)
            os.close(main)


class ImportEachWritesAFilePerTune(unittest.TestCase):
    """import --each: a file per ringtone of a collection, named after the tune."""

    LONG = "L" * 300

    # (the collection's line, the file it makes); None for a line skipped.
    LINES = (
        (b"# a comment:d=4:c", None),
        (b"", None),
        (b" \t", None),
        (b"Ode:d=4,o=5,b=120:e,e,f,g\r", "Ode-2"),  # Ode.txt is there already
        (b"../x:d=8:c", "_x"),
        (b".hidden:d=8:c", "hidden"),
        (b"a/b:d=8:c", "a_b"),
        (b"-rf:d=8:c", "rf"),
        (b"caf\xe9\tbar:d=8:c", "caf__bar"),
        (b"Gr\xc3\xbc\xc3\x9fe:d=8:c", "Gr\u00fc\u00dfe"),
        (("\u00e9" * 200 + ":d=8:c").encode(), "\u00e9" * 60),  # whole characters, 120 bytes
        (LONG.encode() + b":d=8:c", "L" * 120),
        (b":d=8:c,e", "tune-13"),
        (b"Star Wars: Main Title:d=4,o=5,b=108:8f,8f", "Star Wars: Main Title"),
        (b"Ode:d=4,o=5,b=120:c", "Ode-4"),  # Ode-3 is taken by a link
        (b"Ode:d=4,o=5,b=120:d", "Ode-5"),
    )

    def test_each_tune_gets_a_new_file_of_its_own_name(self):
        with tempfile.TemporaryDirectory() as d:
            folder = pathlib.Path(d) / "songs"
            folder.mkdir()
            (folder / "Ode.txt").write_text("mine\n")
            outside = pathlib.Path(d) / "outside.txt"
            outside.write_text("keep\n")
            (folder / "Ode-3.txt").symlink_to(outside)  # a link is a name taken, never followed
            collection = pathlib.Path(d) / "tunes.rtttl"
            collection.write_bytes(b"\n".join(line for line, _ in self.LINES))
            r = run("import", "--each", str(collection), "-d", str(folder))
            self.assertEqual(r.returncode, 0, r.stderr)
            made = [(i + 1, line, name) for i, (line, name) in enumerate(self.LINES) if name]
            self.assertEqual(len(r.stdout.splitlines()), len(made))
            for number, line, name in made:
                with self.subTest(line=number):
                    path = folder / (name + ".txt")
                    self.assertEqual(path.read_bytes(),
                                     run("import", "-", input=line, stdin=None).stdout)
                    self.assertIn("%s:%d: wrote %s: " % (collection, number, path), r.stdout.decode())
            self.assertEqual(sorted(p.name for p in folder.iterdir()),
                             sorted(["Ode.txt", "Ode-3.txt"] + [n + ".txt" for _, _, n in made]))
            self.assertEqual(((folder / "Ode.txt").read_text(), outside.read_text()),
                             ("mine\n", "keep\n"))

    def test_warnings_are_located_in_the_collection_and_a_failing_tune_is_left_out(self):
        collection = (b"# tunes\n"
                      b"one:d=8,o=5,b=150:c,x,g\n"
                      b"two:d=8,o=5,b=150:d7,d7,d6\n"
                      b"three:d=8,o=5,b=150:c,e,g\n"
                      + b"four:d=8,o=5,b=150:" + b"c," * 100 + b"c\n")
        for args, written, status, said in (
            ((), ["one", "two", "three", "four"], 0,
             ["<stdin>:2:21: warning: unknown note 'x'", "<stdin>:3:19: warning: the tune spans"]),
            (("--octave-shift", "none"), ["one", "two", "three", "four"], 0,
             ["<stdin>:3:19: warning: octave 7 is out of reach"]),
            (("--strict",), ["three", "four"], 1,
             ["tuvello import: <stdin>:2: 1 warning; --strict: nothing written",
              "tuvello import: 2 of 4 tunes not converted"]),
            (("--max-input", "100"), ["one", "two", "three"], 1,
             ["tuvello import: <stdin>:5: the ringtone is longer than 100 bytes"]),
            (("--wav",), ["one", "two", "three", "four"], 0, ["<stdin>:2:21: warning"]),
        ):
            with self.subTest(args=args), tempfile.TemporaryDirectory() as d:
                r = run("import", "--each", "-", *args, input=collection, stdin=None, cwd=d)
                self.assertEqual(r.returncode, status, r.stderr)
                for message in said:
                    self.assertIn(message, r.stderr.decode())
                extension = ".wav" if "--wav" in args else ".txt"
                self.assertEqual(sorted(p.name for p in pathlib.Path(d).iterdir()),
                                 sorted(n + extension for n in written))
                shift = args if "--octave-shift" in args else ()
                for line in collection.splitlines()[1:]:
                    name = line.split(b":")[0].decode()
                    if name not in written:
                        continue
                    if extension == ".wav":
                        expected = run("render", "--rtttl", line).stdout
                    else:
                        expected = run("import", *shift, line).stdout
                    self.assertEqual((pathlib.Path(d) / (name + extension)).read_bytes(), expected,
                                     name)
                    self.assertRegex(r.stdout.decode(), r"<stdin>:\d: wrote %s%s: \d+ notes?, "
                                     r"\d+ pauses?, \d+\.\d{3} s, \d+ warnings?\n" % (name, extension))

    def test_an_interrupted_run_leaves_whole_files_only(self):
        tune = b"Same:d=8,o=5,b=150:c,e,g"
        image = run("render", "--rtttl", tune).stdout
        with tempfile.TemporaryDirectory() as d:
            p = subprocess.Popen([TUVELLO, "import", "--each", "-", "--wav"], cwd=d,
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL,
                                 preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
            # Tunes as they are asked for: the run is mid-way when interrupted.
            p.stdin.write((tune + b"\n") * 200)
            p.stdin.flush()
            self.assertIn(b"wrote Same-2.wav", p.stdout.readline() + p.stdout.readline())
            p.send_signal(signal.SIGINT)
            p.stdin.close()
            self.assertEqual(p.wait(timeout=60), -signal.SIGINT)
            p.stdout.close()
            names = os.listdir(d)
            self.assertEqual([n for n in names if n.startswith(".")], [])
            self.assertTrue(all((pathlib.Path(d) / n).read_bytes() == image for n in names))

    def test_usage_errors(self):
        with tempfile.TemporaryDirectory() as d:
            collection = pathlib.Path(d) / "tunes.rtttl"
            collection.write_text("t:d=4:c\n")
            for args, message in (
                (("--each", "C", "t:d=4:c"), "give no ringtone, -f, -o or --midi with it"),
                (("--each", "C", "-f", "C"), "give no ringtone"),
                (("--each", "C", "-o", "x.txt"), "give no ringtone"),
                (("--each", "C", "--midi"), "give no ringtone"),
                (("-d", d, "t:d=4:c"), "-d and --wav are for --each"),
                (("--wav", "t:d=4:c"), "-d and --wav are for --each"),
                (("--each", "C", "-d", d + "/missing"), "the folder '%s/missing' does not exist" % d),
                (("--each", "C", "-d", "C"), "the folder '%s' is not a folder" % collection),
                (("--each", d + "/missing"), "cannot read '%s/missing'" % d),
                (("--each", d), "cannot read '%s': Is a directory" % d),
            ):
                with self.subTest(args=args):
                    r = run("import", *[str(collection) if a == "C" else a for a in args], cwd=d)
                    self.assertEqual((r.returncode, r.stdout), (2, b""))
                    self.assertIn(message, r.stderr.decode())
            self.assertEqual(os.listdir(d), ["tunes.rtttl"])


def on_terminal(*args):
    """Runs the tool with a terminal as standard output: its result and what it showed there."""
    main, side = pty.openpty()
    try:
        r = subprocess.run([TUVELLO, *args], stdin=subprocess.DEVNULL, stdout=side,
                           stderr=subprocess.PIPE, timeout=60)
        os.set_blocking(main, False)
        try:
            return r, os.read(main, 65536)
        except BlockingIOError:
            return r, b""
    finally:
        os.close(side)
        os.close(main)


class ExportWritesRingtonesAndMidi(unittest.TestCase):
    # Octave multipliers and note-value lengths only: a ringtone holds all of it.
    SONG = "len:250;c;e;oct:3;g;len:125;p;h;oct:1;c"

    def test_a_ringtone_plays_back_as_the_song_and_is_named(self):
        r = run("export", "--rtttl", self.SONG)
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertRegex(r.stdout, rb"^tune:[^\n]*\n$")
        back = run("import", "--strict", r.stdout.decode().strip())
        self.assertEqual((back.returncode, back.stderr), (0, b""))
        self.assertEqual(run("render", back.stdout.decode().strip()).stdout,
                         run("render", self.SONG).stdout)
        with tempfile.TemporaryDirectory() as d:
            song, out = pathlib.Path(d) / "ode.txt", pathlib.Path(d) / "ode.rtttl"
            song.write_text("len:300;c;e\n")
            r = run("export", "--rtttl", "-f", str(song), "-o", str(out))
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
            self.assertEqual(out.read_text(), "ode:d=4,o=3,b=200:c,e\n")
        self.assertTrue(run("export", "--rtttl", "--name", "a:b", "c").stdout.startswith(b"a_b:"))

    def test_what_the_output_cannot_hold_is_located_and_strict_keeps_the_old_file(self):
        song = "c;vol:50;e;oct:2;g;pipe:1;c"
        for fmt, places in (("--rtttl", ["1:3: warning: 'vol:50'", "1:12: warning: 'oct:2'",
                                         "1:20: warning: 'pipe:1'"]),
                            ("--midi", ["1:20: warning: 'pipe:1'"])):
            with self.subTest(fmt=fmt), tempfile.TemporaryDirectory() as d:
                out = pathlib.Path(d) / "out"
                r = run("export", fmt, "-q", song, "-o", str(out))
                self.assertEqual(r.returncode, 0)
                lines = r.stderr.decode().splitlines()
                self.assertEqual([l[len("<argument>:"):][:len(p)] for l, p in zip(lines, places)],
                                 places)
                self.assertEqual(len(lines), len(places))
                written = out.read_bytes()
                r = run("export", fmt, "--strict", song, "-o", str(out))
                self.assertEqual(r.returncode, 1)
                self.assertIn(b"; --strict: nothing written", r.stderr)
                self.assertEqual(out.read_bytes(), written)
                self.assertEqual(os.listdir(d), ["out"])

    def test_midi_goes_to_files_and_pipes_never_to_a_terminal(self):
        with tempfile.TemporaryDirectory() as d:
            out = pathlib.Path(d) / "song.mid"
            r = run("export", "--midi", "-o", str(out), self.SONG)
            self.assertEqual(r.returncode, 0)
            data = out.read_bytes()
            self.assertEqual(data[:4], b"MThd")
            self.assertEqual(r.stderr.decode(), "wrote %s: 5 notes, 1 pause, 1.125 s, %d bytes, "
                             "0 warnings\n" % (out, len(data)))
            self.assertEqual(run("export", "--midi", self.SONG).stdout, data)
        for args in (("export", "--midi", "c"), ("export", "--midi", "c", "-o", "-")):
            r, shown = on_terminal(*args)
            self.assertEqual((r.returncode, shown), (2, b""), args)
            self.assertIn(b"refusing to write a MIDI file to a terminal", r.stderr)
        r = run("export", "--midi", "-", "-o", os.devnull,
                input=b"len:500;" + b"c;" * 100_000, stdin=None)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"image would pass 2147483647 bytes; nothing written", r.stderr)
        for args, message in ((("export", "c"), "give either --rtttl or --midi"),
                              (("export", "--rtttl", "--midi", "c"), "give either"),
                              (("export", "--midi", "--name", "n", "c"), "--name is for --rtttl")):
            r = run(*args)
            self.assertEqual((r.returncode, r.stdout), (2, b""), args)
            self.assertIn(message, r.stderr.decode())


def vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.append(0x80 | (n & 0x7F))
    return bytes(reversed(out))


def midi_file(*tracks, division=480):
    """A format 1 MIDI file of tracks given as (delta ticks, raw event bytes)."""
    chunks = b""
    for events in tracks:
        body = b"".join(vlq(d) + e for d, e in events) + b"\x00\xff\x2f\x00"
        chunks += b"MTrk" + struct.pack(">I", len(body)) + body
    return b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), division) + chunks


class ImportReadsMidiFiles(unittest.TestCase):
    # Track 1: 120 quarter notes a minute. Track 2: C4 a quarter, E4 an eighth
    # (running status, a note-on of velocity 0 ends it), then G4 on channel 2
    # a quarter with A5 on channel 1 over its first half.
    MIDI = midi_file(
        [(0, b"\xff\x51\x03\x07\xa1\x20")],
        [(0, b"\x90\x3c\x64"), (480, b"\x3c\x00"), (0, b"\x40\x40"), (240, b"\x40\x00"),
         (0, b"\x91\x43\x7f"), (0, b"\x90\x51\x20"), (240, b"\x80\x51\x00"),
         (240, b"\x81\x43\x00")])
    OVERLAP = ":61: warning: track 2: key 81 (A5) starts while 1 other note sounds: the %s plays"

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.path = pathlib.Path(self.tmp.name) / "tune.mid"
        self.path.write_bytes(self.MIDI)

    def test_the_options_choose_the_notes_and_warnings_give_byte_offsets(self):
        name = str(self.path)
        for args, song, warning in (
            ((), "len:500;oct:1;c;len:250;e;oct:3;a;oct:1;g",
             self.OVERLAP % "highest sounding note"),
            (("--lowest",), "len:500;oct:1;c;len:250;e;len:500;g",
             self.OVERLAP % "lowest sounding note"),
            (("--first", "--track", "2"), "len:500;oct:1;c;len:250;e;len:500;g",
             self.OVERLAP % "note sounding longest"),
            (("--channel", "2"), "len:375;p;p;len:500;oct:1;g", None),
            (("--channel", "1", "--velocity"),
             "len:500;vol:79;oct:1;c;len:250;vol:50;e;vol:25;oct:3;a;p", None),
            (("--track", "1"), "", ":14: warning: track 1 has no notes: the song text is empty"),
        ):
            with self.subTest(args=args):
                r = run("import", *args, name)
                self.assertEqual((r.returncode, r.stdout.decode()), (0, song + "\n"))
                if warning is None:
                    self.assertEqual(r.stderr, b"")
                else:
                    self.assertTrue(r.stderr.decode().startswith(name + warning), r.stderr)
        # Cut short: the warnings say where, and the tool goes on as far as it can.
        self.path.write_bytes(self.MIDI[:60])
        r = run("import", "--strict", name)
        self.assertEqual((r.returncode, r.stdout), (1, b""))
        self.assertTrue(r.stderr.decode().startswith(
            "%s:37: warning: chunk 'MTrk' at byte 33 says 37 bytes, only 19 follow" % name),
            r.stderr)
        self.assertIn(b"; --strict: nothing written", r.stderr)

    def test_found_by_its_header_in_every_input_and_rendered_directly(self):
        song = run("import", str(self.path)).stdout
        wav = run("render", song.decode().strip()).stdout
        for args, stdin in (
            (("import", "-f", str(self.path)), None),
            (("import", "-"), self.MIDI),
            (("import", "--midi"), self.MIDI),
        ):
            r = run(*args, input=stdin, stdin=None if stdin else subprocess.DEVNULL)
            self.assertEqual(r.stdout, song, args)
        for args in (("render", str(self.path)), ("render", "-f", str(self.path))):
            r = run(*args)
            self.assertEqual((r.returncode, r.stdout), (0, wav), args)
        # A final line feed is part of a MIDI file (a byte after its last chunk).
        r = run("import", "-", input=self.MIDI + b"\n", stdin=None)
        self.assertIn(b"<stdin>:%d: warning: 1 bytes at the end are no chunk" % len(self.MIDI),
                      r.stderr)
        # Without its header only --midi reads it (a lenient reader skips to "MThd").
        self.path.write_bytes(b"RIFF" + self.MIDI)
        self.assertEqual(run("import", "--midi", str(self.path)).stdout, song)
        self.assertNotEqual(run("import", "-f", str(self.path)).stdout, song)
        # A song exported as MIDI comes back as the same song text.
        text = "len:250;c;e;oct:3;g;len:125;p;h;oct:1;c"
        midi = run("export", "--midi", text).stdout
        self.assertEqual(run("import", "-", input=midi, stdin=None).stdout.decode(), text + "\n")

    def test_usage_errors(self):
        for args, message in (
            (("import", "--track", "2", "t:d=4:c"), "are for a MIDI file"),
            (("import", "--octave-shift", "1", "TUNE"), "--octave-shift is for a ringtone"),
            (("import", "--channel", "17", "TUNE"), "--channel needs a whole number from 1 to 16"),
            (("import", "--track", "0", "TUNE"), "--track needs a whole number"),
            (("import", "--highest", "--first", "TUNE"), "give one of --highest, --lowest"),
            (("render", "--rtttl", "--midi", "TUNE"), "give either --rtttl or --midi"),
            (("import", "--midi", "/nonexistent.mid"), "cannot read '/nonexistent.mid'"),
        ):
            with self.subTest(args=args):
                r = run(*[str(self.path) if a == "TUNE" else a for a in args])
                self.assertEqual((r.returncode, r.stdout), (2, b""))
                self.assertIn(message, r.stderr.decode())


if __name__ == "__main__":
    unittest.main()
