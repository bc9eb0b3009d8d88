#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# Writes the MIDI files of tests/midi_test.cpp and tests/midi_test.py into
# this folder (or the folder named on the command line): small files that
# each show one feature of the format or one way a file can be broken, and
# four public-domain melodies, written here note by note from the tunes as
# they are traditionally sung or printed (nothing was downloaded):
#   frere_jacques.mid  "Frère Jacques", French traditional round (18th century)
#   greensleeves.mid   "Greensleeves", English traditional (16th century)
#   ode_to_joy.mid     the "Ode to Joy" theme of Beethoven's Ninth Symphony (1824)
#   twinkle.mid        "Twinkle, Twinkle, Little Star", the French melody
#                      "Ah! vous dirai-je, maman" (18th century)
# Files are built with mido (Debian package python3-mido), which writes
# running status wherever a status repeats; the files that must hold exact
# bytes (other running status, time code divisions, broken layouts) are
# written byte by byte. Run with /usr/bin/python3; the test checks that this
# script still writes the committed bytes.
import io
import os
import struct
import sys

import mido

OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))


def on(key, time=0, velocity=80, channel=0):
    return mido.Message('note_on', note=key, velocity=velocity, time=time, channel=channel)


def off(key, time=0, channel=0):
    # A note-on of velocity 0, as most files end notes (running status).
    return mido.Message('note_on', note=key, velocity=0, time=time, channel=channel)


def tempo(microseconds, time=0):
    return mido.MetaMessage('set_tempo', tempo=microseconds, time=time)


def line(notes, ticks_per_note=None, channel=0, velocity=80):
    """Messages for consecutive notes: (key, ticks) pairs, key None a rest."""
    messages, wait = [], 0
    for key, ticks in notes:
        if key is None:
            wait += ticks
            continue
        messages += [on(key, wait, velocity, channel), off(key, ticks, channel)]
        wait = 0
    return messages


def smf(tracks, ticks_per_beat=480, kind=None):
    f = mido.MidiFile(ticks_per_beat=ticks_per_beat, type=kind if kind is not None else
                      (0 if len(tracks) == 1 else 1))
    for messages in tracks:
        f.tracks.append(mido.MidiTrack(messages))
    out = io.BytesIO()
    f.save(file=out)
    return out.getvalue()


def header(kind, tracks, division):
    return b'MThd' + struct.pack('>IHHH', 6, kind, tracks, division)


def chunk(kind, body, length=None):
    return kind + struct.pack('>I', len(body) if length is None else length) + body


EOT = b'\x00\xff\x2f\x00'
Q = 480  # ticks a quarter note where nothing else is said
C3, C4, D4, E4, F4, G4, A4, B4, C5, D5 = 48, 60, 62, 64, 65, 67, 69, 71, 72, 74

FILES = {}

# ---- Features ---------------------------------------------------------------
# Format 0 at 120 quarter notes a minute: 500 ms a quarter; the last note,
# dotted (750 ms), plays as two.
FILES['format0.mid'] = smf([[tempo(500000)] + line(
    [(E4, Q), (E4, Q), (F4, Q), (G4, Q), (None, Q // 2), (C4, Q * 3 // 2)])])

# Format 1: the tempo map in track 1, changed between notes and inside one
# (E4 lasts 187.5 + 100 ms); every boundary falls on half a millisecond and
# is rounded to even, so no note is off by more than the rounding.
FILES['tempo_map.mid'] = smf([
    [tempo(500000), tempo(750000, 192), tempo(400000, 24)],
    line([(C4, 96), (D4, 96), (E4, 48), (F4, 96), (None, 48), (G4, 96)]),
], ticks_per_beat=96)

# Time code: 25 frames a second of 40 ticks (a tick a millisecond), and
# 29.97 frames a second of 100 ticks (1.001 / 3 ms a tick).
FILES['smpte25.mid'] = header(0, 1, 0x10000 - (25 << 8) + 40) + chunk(
    b'MTrk', b'\x00\x90\x3c\x50\x81\x7a\x3c\x00\x00\x3e\x50\x81\x7a\x3e\x00' + EOT)
FILES['smpte2997.mid'] = header(0, 1, 0x10000 - (29 << 8) + 100) + chunk(b'MTrk', b''.join(
    b'\x00' + bytes([0x90, k, 0x50]) + b'\x82\x2c' + bytes([0x80, k, 0x40])  # 300 ticks each
    for k in (C4, D4, E4, F4, G4, A4)) + EOT)

# Running status: note-ons of velocity 0 as note-offs, kept across a text
# event (as lenient readers keep it) and replaced by a controller's status.
FILES['running_status.mid'] = header(0, 1, Q) + chunk(b'MTrk', bytes([
    0x00, 0x90, 0x3c, 0x64,   # C4 on
    0x83, 0x60, 0x3c, 0x00,   # 480 later, running: C4 off
    0x00, 0x3e, 0x64,         # D4 on
    0x00, 0xff, 0x01, 0x03, 0x61, 0x62, 0x63,  # a text event
    0x83, 0x60, 0x3e, 0x00,   # running status after it: D4 off
    0x00, 0xb0, 0x07, 0x64,   # a controller: the running status is now B0
    0x00, 0x90, 0x40, 0x64,   # E4 on
    0x83, 0x60, 0x80, 0x40, 0x40,  # E4 off, a note-off proper
]) + EOT)

# Overlaps: a chord, a legato pair, a melody over a held bass that sounds
# again between its notes, and a note that begins 10 ticks before the bass.
FILES['overlaps.mid'] = smf([[
    on(C4), on(E4), on(G4), off(C4, Q), off(E4), off(G4),
    on(A4), on(B4, 470), off(A4, 10), off(B4, 470),
    on(C5), on(C3, 10), off(C5, 230), on(D5, 240), off(D5, 240), off(C3, 240),
]])

# Two channels in one track: a melody on channel 1 over a bass on channel 2
# that lies an octave too low by itself.
FILES['channels.mid'] = smf([[
    on(E4), on(C3, 0, channel=1), off(E4, Q), on(D4), off(D4, Q), off(C3, 0, channel=1),
    on(C4), on(43, 0, channel=1), off(C4, Q), off(43, 0, channel=1),
]])

# Tracks: a tempo map, a track without notes, a melody, a bass.
FILES['tracks.mid'] = smf([
    [mido.MetaMessage('track_name', name='tempo'), tempo(600000),
     mido.MetaMessage('time_signature', numerator=3, denominator=4)],
    [mido.Message('program_change', program=40), mido.Message('control_change', control=7,
                                                               value=100)],
    line([(G4, Q), (A4, Q), (B4, Q)]),
    line([(C3, Q * 3)], channel=1),
])

# Octaves: a tune below reach and one above (each moved whole), and one
# spanning seven octaves, whose notes out of reach move singly.
FILES['low_tune.mid'] = smf([line([(24, Q), (31, Q), (36, Q), (47, Q)])])
FILES['high_tune.mid'] = smf([line([(96, Q), (100, Q), (108, Q), (127, Q)])])
FILES['wide_tune.mid'] = smf([line([(21, Q), (C4, Q), (E4, Q), (108, Q), (110, Q), (G4, Q)])])

# Lengths at a tick a millisecond: a 10 ms note (played as 20 ms, the next
# gives the 10 ms back), a 10 ms rest (the note before holds on), a 1.2 s
# note (three repeated notes), a strum of notes 5 ms apart (the top note
# takes their time) and a rest at the end.
FILES['lengths.mid'] = smf([[tempo(1000000)] + line(
    [(C4, 10), (D4, 490), (None, 10), (E4, 1200)]) + [
    on(C4, 290), on(E4, 5), on(G4, 5), off(C4, 490), off(E4), off(G4),
    mido.MetaMessage('end_of_track', time=300)]], ticks_per_beat=1000)

# Velocities for "vol": 127, 100, 64 and 3 (too soft).
FILES['velocity.mid'] = smf([
    [on(C4, 0, 127), off(C4, Q), on(D4, 0, 100), off(D4, Q), on(E4, 0, 64), off(E4, Q),
     on(F4, 0, 3), off(F4, Q)]])

# Half-millisecond ticks (2 a quarter note of 1 ms): boundaries at 20.5,
# 41, 61.5 and 82 ms round to even.
FILES['rounding.mid'] = smf([[tempo(1000)] + line([(C4, 41), (D4, 41), (E4, 41), (F4, 41)])],
                            ticks_per_beat=2)

# ---- Broken files -----------------------------------------------------------
NOTES = b'\x00\x90\x3c\x50\x83\x60\x3c\x00\x00\x3e\x50\x83\x60\x3e\x00'  # C4, D4
# The track chunk says 40 bytes; the file ends inside E4's note-on.
FILES['truncated.mid'] = header(0, 1, Q) + chunk(b'MTrk', NOTES + b'\x00\x90\x40', length=40)
# A delta time of five bytes after two notes; the rest cannot be read.
FILES['bad_length.mid'] = header(0, 1, Q) + chunk(
    b'MTrk', NOTES + b'\x81\x82\x83\x84\x05\x90\x40\x50' + EOT)
# An unknown chunk between the header and the track, bytes that are no
# chunk after it, a track count that is wrong and 0 ticks a quarter note.
FILES['odd_chunks.mid'] = header(1, 3, 0) + chunk(b'XFIH', b'\x01\x02\x03') + chunk(
    b'MTrk', NOTES + EOT) + b'\x01junk'
# Bytes before the header, as a wrapper leaves them.
FILES['junk_before_header.mid'] = b'RIFF\x00\x00\x00\x00' + header(0, 1, Q) + chunk(
    b'MTrk', NOTES + EOT)
# Events that are broken in other ways: data bytes before any status, a
# tempo of 0 and one of two bytes, a system message, and no end of track
# with a note still sounding.
FILES['bad_events.mid'] = header(0, 1, Q) + chunk(b'MTrk', bytes([
    0x00, 0x3c, 0x50,                    # data without a status
    0x00, 0xff, 0x51, 0x03, 0, 0, 0,     # tempo 0
    0x00, 0xff, 0x51, 0x02, 0x07, 0xa1,  # a tempo of two bytes
    0x00, 0x90, 0x3c, 0x50,
    0x83, 0x60, 0xf2, 0x01, 0x02,        # song position: no place in a file
    0x00, 0x80, 0x3c, 0x40,
    0x00, 0x90, 0x3e, 0x50,
    0x83, 0x60, 0xf0, 0x02, 0x7e, 0xf7,  # system exclusive: passed over
]))
FILES['not_midi.mid'] = b'len:200;c;e;g\n'

# ---- Public-domain melodies -------------------------------------------------


def frere_jacques():
    # In F major, quarter notes at 150 a minute.
    F, G, A, Bb, C, D = 65, 67, 69, 70, 72, 74
    q, e, h = Q, Q // 2, Q * 2
    bars = [(F, q), (G, q), (A, q), (F, q)] * 2 + [(A, q), (Bb, q), (C, h)] * 2 + [
        (C, e), (D, e), (C, e), (Bb, e), (A, q), (F, q)] * 2 + [(F, q), (60, q), (F, h)] * 2
    return smf([[tempo(400000)] + line(bars, velocity=90)])


def greensleeves():
    # In A minor, 3/4, quarter notes at 240 a minute, slowing in the last two
    # bars; a bass line in a track of its own.
    E3, Fs3, G3, Gs3, A3, B3, C4_, D4_, E4_, F4_, Fs4 = 52, 54, 55, 56, 57, 59, 60, 62, 64, 65, 66
    q, e, dq, h, dh = Q, Q // 2, Q * 3 // 2, Q * 2, Q * 3
    tune = [(A3, q),
            (C4_, h), (D4_, q), (E4_, dq), (F4_, e), (E4_, q), (D4_, h), (B3, q),
            (G3, dq), (A3, e), (B3, q), (C4_, h), (A3, q), (A3, dq), (Gs3, e), (A3, q),
            (B3, h), (Gs3, q), (E3, h), (A3, q),
            (C4_, h), (D4_, q), (E4_, dq), (Fs4, e), (E4_, q), (D4_, h), (B3, q),
            (G3, dq), (A3, e), (B3, q), (C4_, dq), (B3, e), (A3, q),
            (Gs3, dq), (Fs3, e), (Gs3, q), (A3, dh)]
    assert sum(t for _, t in tune) == q + 15 * dh
    bass = [(None, q)] + [(k, dh) for k in (45, 43, 41, 40, 45, 43, 40, 40,
                                            45, 43, 41, 40, 41, 40, 45)]
    conductor = [tempo(250000), mido.MetaMessage('time_signature', numerator=3, denominator=4),
                 tempo(300000, q + 13 * dh), tempo(375000, dh)]
    return smf([conductor, line(tune, velocity=85), line(bass, channel=1, velocity=60)])


def ode_to_joy():
    # In D major, quarter notes at 120 a minute; the tune over a lower third
    # on channel 2 in the same track, which the highest-note rule leaves out.
    D, E, Fs, G, A = 62, 64, 66, 67, 69
    q, dq, e, h = Q, Q * 3 // 2, Q // 2, Q * 2
    tune = [(Fs, q), (Fs, q), (G, q), (A, q), (A, q), (G, q), (Fs, q), (E, q), (D, q), (D, q),
            (E, q), (Fs, q), (Fs, dq), (E, e), (E, h)]
    third = {D: 59, E: 61, Fs: 62, G: 64, A: 66}
    messages, t = [tempo(500000)], 0
    for key, ticks in tune:
        messages += [on(key, t, 90), on(third[key], 0, 60, channel=1),
                     off(key, ticks), off(third[key], 0, channel=1)]
        t = 0
    return smf([messages])


def twinkle():
    # In C major at 25 frames a second of 40 ticks (a tick a millisecond),
    # quarter notes of 400 ms, louder in the middle phrase.
    C, D, E, F, G, A = C4, D4, E4, F4, G4, A4
    q, h = 400, 800
    phrase1 = [(C, q), (C, q), (G, q), (G, q), (A, q), (A, q), (G, h)]
    phrase2 = [(F, q), (F, q), (E, q), (E, q), (D, q), (D, q), (C, h)]
    phrase3 = [(G, q), (G, q), (F, q), (F, q), (E, q), (E, q), (D, h)]
    messages = line(phrase1 + phrase2, velocity=70) + line(phrase3 * 2, velocity=100) + line(
        phrase1 + phrase2, velocity=70)
    data = smf([messages], ticks_per_beat=96)
    # The division as time code: 25 frames of 40 ticks.
    return data[:12] + struct.pack('>H', 0x10000 - (25 << 8) + 40) + data[14:]


FILES['frere_jacques.mid'] = frere_jacques()
FILES['greensleeves.mid'] = greensleeves()
FILES['ode_to_joy.mid'] = ode_to_joy()
FILES['twinkle.mid'] = twinkle()

if __name__ == '__main__':
    os.makedirs(OUT, exist_ok=True)
    for name, data in sorted(FILES.items()):
        with open(os.path.join(OUT, name), 'wb') as f:
            f.write(data)
    print(f'{len(FILES)} files written to {OUT}')
