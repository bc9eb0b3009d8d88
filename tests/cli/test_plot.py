# SPDX-License-Identifier: MIT
"""tuvello plot, run as a user would run it: the SVG picture of a song's notes.

Environment: TUVELLO (the tool), DEMO_SVG (the README's picture of the demo
song). Run as: python3 test_plot.py
"""

import json
import os
import pathlib
import re
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

TUVELLO = os.environ.get("TUVELLO", "tuvello")
DEMO_SVG = os.environ.get("DEMO_SVG", "")
SVG = "{http://www.w3.org/2000/svg}"
# The roll's bars of a few songs, which web/test/package.test.mjs holds the
# playground's layout to as well.
ROLL = pathlib.Path(__file__).resolve().parents[1] / "data" / "piano_roll" / "roll.json"


def run(*args, cwd=None):
    return subprocess.run(
        [TUVELLO, *args], stdin=subprocess.DEVNULL, capture_output=True, cwd=cwd, timeout=60
    )


def picture(text):
    out = run("plot", "-q", text)
    if out.returncode != 0:
        raise AssertionError(out.stderr.decode())
    return ET.fromstring(out.stdout)


def note_bars(svg):
    """The roll's bars (the legend's swatches carry no title), in text order."""
    return [r for r in svg.iter(SVG + "rect") if r.find(SVG + "title") is not None]


def classes(element):
    return set(element.get("class", "").split())


class PlotDrawsTheNoteMap(unittest.TestCase):
    TEXT = "len:200;vol:80;c;pipe:1;e;pipe:0;dec:1;g;p;dec:0;vol:100;oct:1;c"

    def test_each_note_is_a_bar_at_its_time_and_pitch_with_its_modes(self):
        svg = picture(self.TEXT)
        bars = note_bars(svg)
        self.assertEqual(len(bars), 4)  # the pause has no bar
        self.assertEqual([classes(b) - {"note"} for b in bars], [set(), {"pipe"}, {"decay"}, set()])
        xs = [float(b.get("x")) for b in bars]
        widths = {round(float(b.get("width")), 1) for b in bars}
        self.assertEqual(len(widths), 1, "equal lengths, equal widths")
        step = xs[1] - xs[0]
        self.assertAlmostEqual(xs[2] - xs[1], step, places=1)
        self.assertAlmostEqual(xs[3] - xs[2], 2 * step, places=1)  # after the pause
        ys = [float(b.get("y")) for b in bars]
        self.assertTrue(ys[0] > ys[1] > ys[2] > ys[3], "higher pitches higher up")
        # Amplitude shows as opacity: 80 % and then full volume.
        self.assertEqual(bars[0].get("fill-opacity"), "%.3f" % (0.35 + 0.65 * 26214 / 32767))
        self.assertEqual(bars[3].get("fill-opacity"), "1.000")
        # A decaying note fades (a mask), a pipe note is hatched.
        parents = {child: parent for parent in svg.iter() for child in parent}
        self.assertEqual(parents[bars[2]].get("mask"), "url(#decay)")
        self.assertEqual(
            [r.get("fill") for r in parents[bars[1]] if r is not bars[1]], ["url(#hatch)"]
        )

    def test_names_time_axis_and_envelope(self):
        svg = picture(self.TEXT)
        texts = [t.text for t in svg.iter(SVG + "text")]
        for name in ("C3", "E3", "G3", "C4"):
            self.assertIn(name, texts)
        self.assertIn("pipe", texts)
        self.assertIn("decay", texts)
        # Five blocks of 200 ms: ticks every 0.1 s up to 1 s.
        seconds = [t for t in texts if t.endswith(" s")]
        self.assertEqual(seconds[0], "0 s")
        self.assertEqual(seconds[-1], "1 s")
        self.assertEqual(len(seconds), 11)
        # The envelope: up at each note's start, down at its end, slanting
        # down for the decaying one.
        (envelope,) = [p for p in svg.iter(SVG + "polygon") if "envelope" in classes(p)]
        points = [tuple(map(float, p.split(","))) for p in envelope.get("points").split()]
        self.assertEqual(len(points), 2 + 4 * 5)
        floor = points[0][1]
        g_start, g_top, g_end = points[9], points[10], points[11]
        self.assertLess(g_top[1], floor)
        self.assertEqual(g_end[1], floor)  # the fade reaches nothing
        self.assertEqual(points[15][1], floor)  # the pause stays silent

    def test_the_readme_shows_the_demo_as_plot_draws_it(self):
        demo = run("demo", "--text").stdout.decode().strip()
        drawn = run("plot", "-q", demo).stdout
        self.assertTrue(DEMO_SVG, "set DEMO_SVG")
        self.assertEqual(
            pathlib.Path(DEMO_SVG).read_bytes(),
            drawn,
            'redraw it: tuvello plot "$(tuvello demo --text)" -o docs/demo.svg',
        )

    def test_notes_narrower_than_a_pixel_are_drawn_together(self):
        # 100,000 notes of 20 ms over 5,948 pixels: 3 s, 150 notes a pixel.
        out = subprocess.run([TUVELLO, "plot", "-q", "-"], capture_output=True, timeout=60,
                             input=b"len:20;c;" + b"e;p;g;pipe:1;a;pipe:0;c;" * 20_000)
        self.assertEqual(out.returncode, 0, out.stderr)
        # The envelope steps once a pixel; an element a note would pass 20 MB.
        self.assertLess(len(out.stdout), 400_000)
        bars = note_bars(ET.fromstring(out.stdout))
        # Each pitch's notes lie less than a pixel apart: one bar on its row,
        # from the roll's left edge to its right, hatched only for the pipe A.
        self.assertEqual(len({b.get("y") for b in bars}), 4)
        self.assertEqual([classes(b) - {"note"} for b in bars],
                         [{"merged"}, {"merged"}, {"merged"}, {"merged", "pipe"}])
        for b in bars:
            self.assertAlmostEqual(float(b.get("x")), 44, delta=1)
            self.assertAlmostEqual(float(b.get("x")) + float(b.get("width")), 6000 - 8, delta=1)
        self.assertRegex(bars[0].find(SVG + "title").text, r"^commands 2 to 140002: 20001 notes$")

    def test_bars_are_where_the_playground_puts_them(self):
        for song in json.loads(ROLL.read_text())["songs"]:
            text = "".join(p if isinstance(p, str) else p[0] * p[1] for p in song["text"])
            out = subprocess.run([TUVELLO, "plot", "-q", "-"], input=text.encode(),
                                 capture_output=True, timeout=60)
            svg = ET.fromstring(out.stdout)
            self.assertEqual(svg.get("width"), str(song["width"]), song["about"])
            bars = [[float(b.get(k)) for k in ("x", "y", "width", "height")] for b in note_bars(svg)]
            self.assertEqual(len(bars), len(song["bars"]), song["about"])
            for bar, expected in zip(bars, song["bars"]):
                for got, want in zip(bar, expected):
                    self.assertAlmostEqual(got, want, delta=0.011, msg=(song["about"], bar, expected))

    def test_empty_song_is_an_empty_picture(self):
        svg = picture("")
        self.assertEqual(note_bars(svg), [])
        self.assertEqual(svg.tag, SVG + "svg")


class PlotWritesFiles(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = pathlib.Path(self.tmp.name)

    def tearDown(self):
        self.tmp.cleanup()

    def test_writes_the_file_and_says_so(self):
        target = self.dir / "song.svg"
        target.write_text("old")
        out = run("plot", "len:200;c;e;g", "-o", str(target))
        self.assertEqual(out.returncode, 0, out.stderr)
        self.assertRegex(out.stderr.decode(), r"wrote .*song\.svg: 3 notes, 0 pauses, 0\.600 s\n")
        self.assertEqual(len(note_bars(ET.parse(target).getroot())), 3)
        self.assertEqual(run("plot", "-q", "c").stdout, run("plot", "c", "-o", "-").stdout)

    def test_a_song_too_long_for_an_image_writes_nothing(self):
        target = self.dir / "song.svg"
        target.write_text("old")
        text = self.dir / "long.txt"
        text.write_text("len:500;" + "c;" * 97400)
        out = run("plot", "-f", str(text), "-o", str(target))
        self.assertEqual(out.returncode, 1)
        self.assertIn("2147483647", out.stderr.decode())
        self.assertEqual(target.read_text(), "old")
        self.assertEqual(sorted(p.name for p in self.dir.iterdir()), ["long.txt", "song.svg"])

    def test_usage(self):
        self.assertRegex(run("--help").stdout.decode(), r"\n  plot +draw")
        self.assertEqual(run("plot", "--max-bytes", "99", "c").returncode, 2)
        self.assertEqual(run("plot", "c", "e").returncode, 2)
        self.assertTrue(re.match(rb"Usage: tuvello plot", run("plot", "--help").stdout))


if __name__ == "__main__":
    unittest.main()
