// SPDX-License-Identifier: MIT
// Where the piano roll's bars go: the geometry that the page draws and that
// `tuvello plot` draws too (cli/plot.cpp), both held to one fixture
// (tests/data/piano_roll/roll.json).

// The picture's frame, in pixels.
export const FRAME = { left: 44, right: 8, top: 24, rollHeight: 200, gap: 14, envHeight: 48, axis: 22 };

// Semitones in MIDI numbering: 69 is the A at 440 Hz, 60 middle C.
export const semitone = (hz) => 69 + 12 * Math.log2(hz / 440);

// The time and pitch scales of a picture `width` pixels wide, and its bars.
// A bar spans the frames that carry its notes' tone. Its size follows the
// picture's pixels, not the song's notes: a note at least a pixel wide is a
// bar of its own; a narrower one joins the bar of narrow notes on its pixel
// row that ends less than a pixel before it, and a new bar of narrow notes is
// a pixel wide at least. barOf gives each note's bar (-1 for a pause).
export function rollLayout(notes, width, sampleRate) {
  const { left, right, top, rollHeight } = FRAME;
  const end = notes.length ? notes.at(-1).time + notes.at(-1).duration : 0;
  const seconds = Math.max(end, 0.001);
  const plotWidth = width - left - right;
  const x = (t) => left + (t / seconds) * plotWidth;
  let lowest = Infinity, highest = -Infinity;
  for (const n of notes) {
    if (n.pitchHz <= 0) continue;
    const s = semitone(n.pitchHz);
    if (s < lowest) lowest = s;
    if (s > highest) highest = s;
  }
  // The notes' pitches with a margin, or around middle C.
  let low = 48, high = 72;
  if (lowest <= highest) {
    low = Math.floor(lowest) - 2;
    high = Math.ceil(highest) + 2;
  }
  const rowHeight = rollHeight / (high - low);
  const y = (s) => top + ((high - s) / (high - low)) * rollHeight;

  const bars = [];
  const barOf = new Int32Array(notes.length).fill(-1);
  const merging = new Map(); // pixel row -> the bar of narrow notes that may grow
  notes.forEach((n, i) => {
    if (n.pitchHz <= 0) return;
    const s = semitone(n.pitchHz);
    const x0 = x(n.time), x1 = x(n.time + n.frames / sampleRate);
    const row = Math.floor(y(s) + 0.5);
    const open = x1 - x0 < 1 ? merging.get(row) : undefined;
    if (open && x0 - open.end < 1) {
      open.end = Math.max(open.end, x1);
      open.x1 = Math.max(open.x1, x1);
      open.amplitude = Math.max(open.amplitude, n.amplitude);
      open.pipe &&= n.pipe;
      open.decay &&= n.decay;
      open.last = i;
      open.count += 1;
    } else {
      const bar = { first: i, last: i, s, x0, x1: Math.max(x1, x0 + 1), end: x1, amplitude: n.amplitude, pipe: n.pipe, decay: n.decay, count: 1 };
      bars.push(bar);
      if (x1 - x0 < 1) merging.set(row, bar);
    }
    barOf[i] = bars.length - 1;
  });
  for (const bar of bars) {
    bar.y0 = y(bar.s) - rowHeight / 2;
    bar.height = rowHeight;
  }
  return { seconds, plotWidth, x, y, low, high, bars, barOf };
}
