#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The MIDI import and export against independent readers: mido (Debian
# package python3-mido) reads the test files and the exported ones, timidity
# renders an exported file. Run with /usr/bin/python3 (Debian's mido) and
# TUVELLO_LIBRARY naming the built library; one unittest class a ctest test.
import ctypes
import io
import math
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import wave
from fractions import Fraction

import mido

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, 'data', 'midi')
lib = ctypes.CDLL(os.environ['TUVELLO_LIBRARY'])


class Warning(ctypes.Structure):
    _fields_ = [('struct_size', ctypes.c_uint32), ('command', ctypes.c_int32),
                ('text_offset', ctypes.c_int64), ('text_length', ctypes.c_int64),
                ('kind', ctypes.c_int32), ('message', ctypes.c_char_p)]


class Note(ctypes.Structure):
    _fields_ = [('struct_size', ctypes.c_uint32), ('command', ctypes.c_int32),
                ('text_offset', ctypes.c_int64), ('text_length', ctypes.c_int64),
                ('image_offset', ctypes.c_int64), ('bytes', ctypes.c_int32),
                ('frames', ctypes.c_int32), ('pitch_hz', ctypes.c_double),
                ('amplitude', ctypes.c_int32), ('flags', ctypes.c_int32)]


WarningVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Warning), ctypes.c_void_p)
NoteVisitor = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(Note), ctypes.c_void_p)
lib.TUVELLO_ConvertMidi.restype = ctypes.c_int64
lib.TUVELLO_ConvertMidi.argtypes = [ctypes.c_char_p, ctypes.c_int64, ctypes.c_void_p,
                                    ctypes.c_char_p, ctypes.c_int64, WarningVisitor,
                                    ctypes.c_void_p]
lib.TUVELLO_ExportMidi.restype = ctypes.c_int64
lib.TUVELLO_ExportMidi.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int64,
                                   WarningVisitor, ctypes.c_void_p]
lib.TUVELLO_ForEachNote.argtypes = [ctypes.c_char_p, NoteVisitor, ctypes.c_void_p]
OVERLAP, SPLIT = 99, 103


def convert(smf):
    """The song text of a file (default options) and its warning kinds."""
    kinds = []
    visit = WarningVisitor(lambda w, _: kinds.append(w.contents.kind) or 0)
    n = lib.TUVELLO_ConvertMidi(smf, len(smf), None, None, 0, visit, None)
    text = ctypes.create_string_buffer(n + 1)
    lib.TUVELLO_ConvertMidi(smf, len(smf), None, text, n + 1, WarningVisitor(0), None)
    return text.value.decode(), kinds


def export(song):
    n = lib.TUVELLO_ExportMidi(song.encode(), None, 0, WarningVisitor(0), None)
    smf = ctypes.create_string_buffer(n)
    assert lib.TUVELLO_ExportMidi(song.encode(), smf, n, WarningVisitor(0), None) == n
    return smf.raw


def note_map(song):
    """(length ms, pitch Hz, volume %) of each note block; pitch 0 for a pause."""
    notes = []

    def keep(note, _):
        n = note.contents
        # A block holds round(44.1 × len) bytes less an odd one: len comes back whole.
        notes.append((round(n.bytes * 1000 / 44100), n.pitch_hz,
                      round(n.amplitude * 100 / 32767)))
        return 0

    lib.TUVELLO_ForEachNote(song.encode(), NoteVisitor(keep), None)
    return notes


def seconds_per_tick(f, tempo):
    """Exact seconds a tick lasts: time code, or a tempo map's quarter note."""
    division = f.ticks_per_beat
    if division < 0 or division & 0x8000:
        fps = 256 - ((division & 0xFFFF) >> 8)
        per_frame = division & 0xFF
        rate = Fraction(30000, 1001) if fps == 29 else Fraction(fps)
        return 1 / (rate * per_frame)
    return Fraction(tempo, 1_000_000 * division)


def timed_messages(f, tracks):
    """The messages of the tracks given, merged, each with its exact time in seconds."""
    now, tempo = Fraction(0), 500000
    for msg in mido.merge_tracks([f.tracks[i] for i in tracks]):
        now += msg.time * seconds_per_tick(f, tempo)
        if msg.type == 'set_tempo':
            tempo = msg.tempo
        yield now, msg


class GeneratorWritesTheCommittedFiles(unittest.TestCase):
    def test_same_bytes(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, os.path.join(DATA, 'make_files.py'), out], check=True,
                           stdout=subprocess.DEVNULL)
            made = sorted(os.listdir(out))
            committed = sorted(n for n in os.listdir(DATA) if n.endswith('.mid'))
            self.assertEqual(made, committed)
            for name in made:
                with open(os.path.join(out, name), 'rb') as a, \
                        open(os.path.join(DATA, name), 'rb') as b:
                    self.assertEqual(a.read(), b.read(), name)


class MelodiesPlayAsMidoReadsThem(unittest.TestCase):
    """Each melody read by mido, its times taken exactly from ticks and tempos
    and rounded to whole ms at every boundary, written out by the song
    text's rules, is the song text converted."""

    # file, tracks read (tempo map first), channel of the melody, overlaps warned
    MELODIES = [('frere_jacques.mid', [0], 0, 0), ('greensleeves.mid', [0, 1], 0, 0),
                ('ode_to_joy.mid', [0], 0, 1), ('twinkle.mid', [0], 0, 0),
                ('format0.mid', [0], 0, 0), ('tempo_map.mid', [0, 1], 0, 0),
                ('smpte2997.mid', [0], 0, 0), ('running_status.mid', [0], 0, 0)]

    @staticmethod
    def expected_text(notes):
        out, length, oct_ = [], 100, 0
        for key, ms in notes:
            parts = -(-ms // 500)
            for k in range(parts):
                part = ms // parts + (1 if k < ms % parts else 0)
                if part != length:
                    out.append(f'len:{part}')
                    length = part
                if key is not None:
                    octave = key // 12 - 1
                    assert 3 <= octave <= 6, 'the melodies lie in reach'
                    if (1 << (octave - 3)) - 1 != oct_:
                        oct_ = (1 << (octave - 3)) - 1
                        out.append(f'oct:{oct_}')
                out.append('p' if key is None else
                           ['c', 'cs', 'd', 'ds', 'e', 'f', 'fs', 'g', 'gs', 'a', 'b', 'h'][key % 12])
        return ';'.join(out)

    def test_melodies(self):
        for name, tracks, channel, overlaps in self.MELODIES:
            with self.subTest(name):
                path = os.path.join(DATA, name)
                f = mido.MidiFile(path)
                boundaries, keys, sounding = [Fraction(0)], [], None
                for t, msg in timed_messages(f, tracks):
                    if msg.type not in ('note_on', 'note_off') or msg.channel != channel:
                        continue
                    if msg.type == 'note_on' and msg.velocity > 0:
                        self.assertIsNone(sounding, 'a melody is one voice')
                        if t != boundaries[-1]:
                            boundaries.append(t)
                            keys.append(None)
                        sounding = msg.note
                    elif msg.note == sounding:
                        boundaries.append(t)
                        keys.append(sounding)
                        sounding = None
                # round() on a Fraction rounds ties to even.
                ms = [round(b * 1000) for b in boundaries]
                notes = [(k, b - a) for k, a, b in zip(keys, ms, ms[1:])]
                with open(path, 'rb') as file:
                    text, kinds = convert(file.read())
                self.assertEqual(text, self.expected_text(notes))
                self.assertEqual(kinds.count(OVERLAP), overlaps)
                split = any(ms > 500 for key, ms in notes if key is not None)
                self.assertEqual(set(kinds) - {OVERLAP}, {SPLIT} if split else set())


class ExportedFilesHoldTheNoteMap(unittest.TestCase):
    """mido reads every note of an exported file at the song's millisecond,
    for its length, and at its pitch within 1 cent, bend included."""

    SONGS = ['len:200;vol:80;c;e;g;p;c',
             # Every key at every multiplier, lengths and volumes that vary.
             ';'.join(f'oct:{m};len:{20 + 37 * m};vol:{5 + 10 * m};{k}' for m in range(9)
                      for k in ('c', 'cs', 'd', 'ds', 'e', 'f', 'fs', 'g', 'gs', 'a', 'b', 'h')),
             'p;len:500;p;oct:6;a;pipe:1;dec:1;a;p;oct:4;len:333;e;e']

    def test_songs(self):
        for song in self.SONGS:
            with self.subTest(song[:40]):
                f = mido.MidiFile(file=io.BytesIO(export(song)))
                self.assertEqual((f.type, len(f.tracks), f.ticks_per_beat), (0, 1, 1000))
                rpn, bend_range, bend, heard = {}, 2, 0, []
                starts = {}
                for t, msg in timed_messages(f, [0]):
                    if msg.type == 'control_change':
                        rpn[msg.control] = msg.value
                        if msg.control == 6 and rpn.get(101) == 0 and rpn.get(100) == 0:
                            bend_range = msg.value
                    elif msg.type == 'pitchwheel':
                        bend = msg.pitch
                    elif msg.type == 'note_on' and msg.velocity > 0:
                        starts[msg.note] = (t, msg.velocity, bend)
                    elif msg.type in ('note_on', 'note_off'):
                        start, velocity, b = starts.pop(msg.note)
                        hz = 440 * 2 ** ((msg.note - 69 + b * bend_range / 8192) / 12)
                        heard.append((start * 1000, (t - start) * 1000, hz, velocity))
                self.assertEqual((rpn[101], rpn[100]), (127, 127), 'no parameter left selected')
                now, expected = 0, []
                for ms, hz, volume in note_map(song):
                    if hz:
                        expected.append((now, ms, hz, round(Fraction(127 * volume, 100))))
                    now += ms
                self.assertEqual(len(heard), len(expected))
                for (start, ms, hz, v), (want_start, want_ms, want_hz, want_v) in zip(heard,
                                                                                    expected):
                    self.assertEqual((start, ms, v), (want_start, want_ms, want_v))
                    self.assertLess(abs(1200 * math.log2(hz / want_hz)), 1.0, (hz, want_hz))


def pitch_in_cents(samples, rate, hz):
    """Where near `hz` (within a semitone) the spectrum of `samples` peaks, in
    cents from it: a discrete Fourier transform at chosen frequencies,
    every 5 cents, then every quarter cent around the best."""
    window = [x * (0.5 - 0.5 * math.cos(2 * math.pi * i / len(samples)))
              for i, x in enumerate(samples)]

    def power(cents):
        step = complex(math.cos(2 * math.pi * hz * 2 ** (cents / 1200) / rate),
                       -math.sin(2 * math.pi * hz * 2 ** (cents / 1200) / rate))
        z, total = complex(1, 0), complex(0, 0)
        for x in window:
            total += x * z
            z *= step
        return abs(total)

    coarse = max(range(-100, 101, 5), key=power)
    return max((coarse + q / 4 for q in range(-20, 21)), key=power)


class TimidityPlaysTheExportAtItsPitch(unittest.TestCase):
    """timidity renders an exported song without complaint, and every note
    sounds at the song's pitch: within 4 cents, and nearer to it than to the
    key without its bend (2 to 31 cents away)."""

    # Keys 57 to 82, where the default piano holds its pitch.
    SONG = 'len:500;a;oct:1;a;oct:2;a;oct:4;e;oct:6;c;oct:2;e'

    def test_render(self):
        with tempfile.TemporaryDirectory() as work:
            mid, wav = os.path.join(work, 'song.mid'), os.path.join(work, 'song.wav')
            with open(mid, 'wb') as f:
                f.write(export(self.SONG))
            run = subprocess.run(['timidity', '-OwM', '-s', '44100', '-o', wav, mid],
                                 capture_output=True, text=True)
            self.assertEqual(run.returncode, 0, run.stderr)
            said = (run.stdout + run.stderr).lower()
            for complaint in ('warning', 'error', "can't", 'cannot', 'invalid', 'unknown'):
                self.assertNotIn(complaint, said)
            self.assertIn('notes lost totally: 0', said)
            with wave.open(wav) as w:
                rate = w.getframerate()
                samples = struct.unpack(f'<{w.getnframes()}h', w.readframes(w.getnframes()))
        now = 0
        for ms, hz, _ in note_map(self.SONG):
            start = (now + 100) * rate // 1000
            cents = pitch_in_cents(samples[start:start + rate * 3 // 10], rate, hz)
            key = 69 + 12 * math.log2(hz / 440)
            unbent = 100 * (round(key) - key)
            with self.subTest(hz=hz):
                self.assertLess(abs(cents), 4.0)
                if abs(unbent) > 1.5:
                    self.assertLess(abs(cents), abs(cents - unbent))
            now += ms


if __name__ == '__main__':
    if len(sys.argv) > 1 and not sys.argv[1].startswith('-'):
        suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[sys.argv[1]])
        sys.exit(0 if unittest.TextTestRunner(verbosity=2).run(suite).wasSuccessful() else 1)
    unittest.main()
