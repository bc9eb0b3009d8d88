// SPDX-License-Identifier: MIT
// The playground: the editor with its warnings, the piano roll and waveform,
// the player and the download, all on the library's own module.

const NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"];
const MAX_SAMPLE = 32767;
const AUTO_RENDER_BYTES = 16 << 20; // larger images are rendered on Play or Download only
const STORAGE_KEY = "tuvello.song";

const noteName = (hz) => {
  const s = Math.round(semitone(hz));
  return NAMES[((s % 12) + 12) % 12] + (Math.floor(s / 12) - 1);
};

// A step for the time axis that gives at most ten ticks, 48 pixels apart at
// least.
function timeStep(seconds, pixels) {
  const ticks = Math.max(1, Math.min(10, Math.floor(pixels / 48)));
  for (const step of [0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600]) {
    if (seconds / step <= ticks) return step;
  }
  return Math.ceil(seconds / ticks / 600) * 600;
}

const escapeXml = (s) => s.replace(/[&<>"]/g, (c) => `&#${c.charCodeAt(0)};`);

// The song's picture: piano roll (pitch over time, opacity by amplitude, pipe
// notes hatched, decaying notes fading; its bars as rollLayout places them),
// amplitude envelope and time axis. Its size follows the picture's pixels,
// not the song's notes: the envelope of narrow notes is their loudest note
// per pixel column. Returns the SVG, the time scale and, for each note, the
// index of its bar (-1 for a pause).
function songPicture(notes, width, sampleRate) {
  const { left, right, top, rollHeight, gap, envHeight, axis } = FRAME;
  const height = top + rollHeight + gap + envHeight + axis;
  const { seconds, plotWidth, x, y, low, high, bars, barOf } = rollLayout(notes, width, sampleRate);
  const out = [];
  out.push(`<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${width} ${height}" width="${width}" height="${height}">`);
  out.push(
    `<defs><linearGradient id="fade"><stop offset="0" stop-color="#fff" stop-opacity="1"/><stop offset="1" stop-color="#fff" stop-opacity="0.1"/></linearGradient>` +
      `<mask id="decay" maskContentUnits="objectBoundingBox"><rect width="1" height="1" fill="url(#fade)"/></mask>` +
      `<pattern id="hatch" width="6" height="6" patternUnits="userSpaceOnUse" patternTransform="rotate(45)"><line x1="0" y1="0" x2="0" y2="6" stroke="#fff" stroke-width="2" stroke-opacity="0.7"/></pattern></defs>`,
  );
  // What the marks mean, above the roll's right end.
  const legend = width - right - 150;
  out.push(
    `<g class="legend"><rect class="note pipe" x="${legend}" y="6" width="24" height="10" rx="2"/>` +
      `<rect x="${legend}" y="6" width="24" height="10" fill="url(#hatch)"/><text class="label" x="${legend + 29}" y="15">pipe</text>` +
      `<g mask="url(#decay)"><rect class="note" x="${legend + 70}" y="6" width="24" height="10" rx="2"/></g>` +
      `<text class="label" x="${legend + 99}" y="15">decay</text></g>`,
  );
  out.push(`<g class="axis">`);
  for (let s = Math.ceil(low); s <= high; ++s) {
    if (((s % 12) + 12) % 12 !== 0) continue;
    out.push(`<line class="grid" x1="${left}" x2="${width - right}" y1="${y(s)}" y2="${y(s)}"/>`);
    out.push(`<text x="${left - 6}" y="${y(s) + 4}" text-anchor="end">C${Math.floor(s / 12) - 1}</text>`);
  }
  const step = timeStep(seconds, plotWidth);
  const axisY = top + rollHeight + gap + envHeight;
  for (let t = 0; t <= seconds + 1e-9; t += step) {
    out.push(`<line class="grid" x1="${x(t)}" x2="${x(t)}" y1="${top}" y2="${axisY}"/>`);
    // The last label ends at the right edge rather than past it.
    const anchor = x(t) > width - right - 16 ? "end" : "middle";
    out.push(`<text x="${x(t)}" y="${axisY + 15}" text-anchor="${anchor}">${+t.toFixed(1)} s</text>`);
  }
  out.push(`<text x="${left - 6}" y="${top + rollHeight + gap + 12}" text-anchor="end">amp</text></g>`);

  for (const bar of bars) {
    const w = bar.x1 - bar.x0, y0 = bar.y0, rowHeight = bar.height;
    const opacity = (0.35 + 0.65 * (bar.amplitude / MAX_SAMPLE)).toFixed(3);
    const cls = `note${bar.pipe ? " pipe" : ""}${bar.decay ? " decay" : ""}`;
    const mask = bar.decay ? ` mask="url(#decay)"` : "";
    out.push(`<g${mask}><rect class="${cls}" data-index="${bar.first}" x="${bar.x0}" y="${y0}" width="${w}" height="${rowHeight}" rx="2" fill-opacity="${opacity}"/>`);
    if (bar.pipe) out.push(`<rect x="${bar.x0}" y="${y0}" width="${w}" height="${rowHeight}" fill="url(#hatch)"/>`);
    out.push(`</g>`);
    if (bar.count === 1 && w >= 22) out.push(`<text class="name" x="${bar.x0 + 2}" y="${y0 - 2}">${noteName(notes[bar.first].pitchHz)}</text>`);
  }

  // Amplitude envelope: a fading note falls to nothing over its block; notes
  // narrower than a pixel give their column's loudest.
  const envTop = top + rollHeight + gap;
  const ay = (a) => envTop + envHeight - (a / MAX_SAMPLE) * envHeight;
  const points = [`${x(0)},${ay(0)}`];
  let column = null; // {x0, x1, amplitude} of the narrow notes in one pixel column
  const closeColumn = () => {
    if (column) points.push(`${column.x0},${ay(0)}`, `${column.x0},${ay(column.amplitude)}`, `${column.x1},${ay(column.amplitude)}`, `${column.x1},${ay(0)}`);
    column = null;
  };
  for (const n of notes) {
    const x0 = x(n.time), x1 = x(n.time + n.frames / sampleRate);
    if (x(n.time + n.duration) - x0 < 1) {
      if (column && Math.floor(x0) !== Math.floor(column.x0)) closeColumn();
      column ??= { x0, x1, amplitude: 0 };
      column.x1 = Math.max(column.x1, x1);
      column.amplitude = Math.max(column.amplitude, n.amplitude);
      continue;
    }
    closeColumn();
    points.push(`${x0},${ay(0)}`, `${x0},${ay(n.amplitude)}`);
    points.push(`${x1},${ay(n.decay ? 0 : n.amplitude)}`, `${x1},${ay(0)}`);
  }
  closeColumn();
  points.push(`${x(seconds)},${ay(0)}`);
  out.push(`<polygon class="envelope" points="${points.join(" ")}"/>`);
  out.push(`<line class="playhead" x1="${left}" x2="${left}" y1="${top}" y2="${axisY}" visibility="hidden"/>`);
  out.push(`</svg>`);
  return { svg: out.join(""), x, seconds, bars, barOf };
}

// Byte offsets (what the library reports) to string indexes of the text,
// for the last text asked about (the backdrop asks on every played note).
let byteIndexText = null, byteIndex = null;
function byteToIndex(text) {
  if (text !== byteIndexText) {
    const map = [];
    for (let i = 0; i < text.length; ) {
      const cp = text.codePointAt(i);
      const units = cp > 0xffff ? 2 : 1;
      // UTF-8's length; a lone surrogate is encoded as U+FFFD, 3 bytes.
      const bytes = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
      for (let b = 0; b < bytes; ++b) map.push(i);
      i += units;
    }
    map.push(text.length);
    byteIndexText = text;
    byteIndex = (offset) => map[Math.min(offset, map.length - 1)];
  }
  return byteIndex;
}

// A warning's message with the text as it was typed. The library writes each
// byte outside printable ASCII as \xHH (and a backslash as \\); a byte
// sequence that is a printable UTF-8 character of the text the warning is
// about (`bytes`, located by its offset and length) is shown as that
// character: 'é', not '\xC3\xA9'. Anything else stays as written.
const strictUtf8 = new TextDecoder("utf-8", { fatal: true });
function asTyped(message, bytes) {
  return message.replace(/(?:\\x[89A-F][0-9A-F])+|\\\\/g, (run) => {
    if (run === "\\\\") return run;
    const run8 = Uint8Array.from(run.match(/[0-9A-F]{2}/g), (h) => parseInt(h, 16));
    if (!contains(bytes, run8)) return run;
    let out = "";
    for (let i = 0; i < run8.length; ) {
      const lead = run8[i];
      const n = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 0;
      let shown = null;
      if (n > 0 && i + n <= run8.length) {
        try {
          shown = strictUtf8.decode(run8.subarray(i, i + n));
        } catch {
          // Not UTF-8: the byte stays escaped.
        }
      }
      if (shown !== null && !/[\p{Cc}\p{Cf}\p{Zl}\p{Zp}]/u.test(shown)) {
        out += shown;
        i += n;
      } else {
        out += `\\x${lead.toString(16).toUpperCase()}`;
        i += 1;
      }
    }
    return out;
  });
}

function contains(haystack, needle) {
  search: for (let i = 0; i + needle.length <= haystack.length; ++i) {
    for (let j = 0; j < needle.length; ++j) if (haystack[i + j] !== needle[j]) continue search;
    return true;
  }
  return false;
}

// Song text in a link's fragment: UTF-8, percent-encoded but for what song
// texts are mostly made of.
function encodeFragment(text) {
  let out = "";
  for (const byte of new TextEncoder().encode(text)) {
    const c = String.fromCharCode(byte);
    out += /[A-Za-z0-9;:,.\-_~!*()+=@/?]/.test(c) ? c : `%${byte.toString(16).toUpperCase().padStart(2, "0")}`;
  }
  return out;
}
// Chromium takes URLs up to 2 MiB.
const MAX_LINK = 2 * 1024 * 1024;

// The warnings listed beside the editor and below the ringtone, and those
// underlined in the editor: each mark costs the browser's layout some 70 us,
// on every keystroke.
const LISTED_WARNINGS = 500;
const MARKED_WARNINGS = 2000;

// Puts nodes, however many, in place of an element's children (a spread
// argument list overflows the stack past some 100,000).
function replaceChildren(element, nodes) {
  const fragment = document.createDocumentFragment();
  for (const node of nodes) fragment.append(node);
  element.replaceChildren(fragment);
}

async function main() {
  const api = await instantiateTuvello(
    decodeBase64(chooseModule({ simd: TUVELLO_WASM_SIMD_BASE64, scalar: TUVELLO_WASM_BASE64 })),
  );
  const $ = (id) => document.getElementById(id);
  const song = $("song"), backdrop = $("backdrop"), warningList = $("warnings"), summary = $("summary");
  const rollBox = $("roll"), wave = $("wave"), notice = $("notice"), ringtoneOut = $("ringtone-out");
  const playButton = $("play"), stopButton = $("stop");
  $("version").textContent = api.version;
  const format = api.format; // the image's rates and header size, from the module
  const samplesOf = (image) =>
    new Int16Array(image.buffer, image.byteOffset + format.headerBytes, (image.length - format.headerBytes) >> 1);

  let view = null; // what the current text shows: notes, warnings, image, picture
  let player = null; // the playing source and its clock

  function rangesOf(text, warnings, playingNote) {
    const index = byteToIndex(text);
    const marks = warnings.map((w) => {
      let from = index(w.textOffset), to = index(w.textOffset + w.textLength);
      // An empty command has no bytes: underline the ';' that ends it.
      if (from === to) [from, to] = from < text.length ? [from, from + 1] : [Math.max(0, from - 1), from];
      return { from, to, cls: "warn" };
    });
    if (playingNote) {
      marks.push({ from: index(playingNote.textOffset), to: index(playingNote.textOffset + playingNote.textLength), cls: "playing" });
    }
    return marks;
  }

  // The backdrop holds the same text, with the marks around their ranges:
  // one sweep over the marks' ends, however many warnings there are.
  function paintBackdrop(playingNote) {
    const text = song.value;
    const events = [];
    for (const m of rangesOf(text, view ? view.warnings.slice(0, MARKED_WARNINGS) : [], playingNote)) {
      if (m.from < m.to) events.push([m.from, 1, m.cls], [m.to, -1, m.cls]);
    }
    events.sort((a, b) => a[0] - b[0]);
    const open = { warn: 0, playing: 0 };
    const pieces = [];
    let at = 0;
    for (let i = 0; ; ) {
      const next = i < events.length ? events[i][0] : text.length;
      if (next > at) {
        let node = document.createTextNode(text.slice(at, next));
        for (const cls of ["warn", "playing"]) {
          if (open[cls] === 0) continue;
          const mark = document.createElement("mark");
          mark.className = cls;
          mark.append(node);
          node = mark;
        }
        pieces.push(node);
        at = next;
      }
      if (i === events.length) break;
      for (; i < events.length && events[i][0] === next; ++i) open[events[i][2]] += events[i][1];
    }
    // A final line break needs something after it to take up its line.
    pieces.push(document.createTextNode("\u200b"));
    replaceChildren(backdrop, pieces);
    backdrop.scrollTop = song.scrollTop;
  }

  function formatBytes(n) {
    return n.toLocaleString("en-US");
  }

  // The text kept for the next visit: the editor's, after each edit, before
  // anything replaces it and when the page goes. A failure to keep it (no
  // storage, or too little) leaves the text kept before, and says so.
  let unkept = false;
  function keepNow() {
    if (!unkept) return;
    unkept = false;
    try {
      localStorage.setItem(STORAGE_KEY, song.value);
    } catch {
      say("This text is not kept for your next visit: the browser's storage refused it.");
    }
  }

  // A line under the controls: text and links, and a button for what it
  // offers.
  function say(parts, action = null) {
    notice.replaceChildren(...[parts].flat());
    if (action) {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = action.label;
      button.addEventListener("click", action.run);
      notice.append(" ", button);
    }
    notice.hidden = notice.textContent === "";
  }
  // The editor's own undo, as Ctrl+Z there.
  const UNDO = {
    label: "Undo",
    run: () => {
      song.focus();
      document.execCommand("undo");
    },
  };

  // What the editor shows for its text.
  function update() {
    const text = song.value;
    let warnings = [], notes = [], failure = null, tooLong = false;
    try {
      warnings = api.check(text);
      try {
        notes = api.notes(text);
      } catch (e) {
        if (!(e instanceof RangeError) || !/would pass/.test(e.message)) throw e;
        tooLong = true;
      }
    } catch (e) {
      failure = e.message;
      warnings = [];
      notes = [];
    }
    const bytes = format.headerBytes + notes.reduce((sum, n) => sum + n.bytes, 0);
    const seconds = (bytes - format.headerBytes) / format.byteRate;
    // The last text's image is copied wherever it went (the player's buffer, a
    // download's Blob), so its memory takes the new one, already touched.
    // (Not one that Play or Download made past the rendering limit: that much
    // memory is let go.)
    const old = view?.image?.buffer;
    const spare = old && old.byteLength <= AUTO_RENDER_BYTES ? new Uint8Array(old) : undefined;
    view = { text, warnings, notes, bytes, seconds, image: null, picture: null };
    if (!failure && !tooLong && bytes <= AUTO_RENDER_BYTES) {
      try {
        view.image = api.render(text, { into: spare });
      } catch {
        // Drawn without its waveform; Play and Download say why.
      }
    }

    const tones = notes.filter((n) => n.pitchHz > 0).length;
    summary.value = failure
      ? `this text cannot be read here: ${failure}`
      : tooLong
        ? "the image would pass 2 GiB: shorten the song"
        : `${tones} note${tones === 1 ? "" : "s"}, ${notes.length - tones} pause${notes.length - tones === 1 ? "" : "s"} · ${seconds.toFixed(2)} s · ${formatBytes(bytes)} bytes`;

    $("warning-heading").textContent = warnings.length ? `Warnings (${warnings.length})` : "Warnings";
    const textBytes = new TextEncoder().encode(text);
    const items = warnings.slice(0, LISTED_WARNINGS).map((w) => {
      const li = document.createElement("li");
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = asTyped(w.message, textBytes.subarray(w.textOffset, w.textOffset + w.textLength));
      button.dataset.offset = w.textOffset;
      button.dataset.length = w.textLength;
      button.addEventListener("click", () => {
        const index = byteToIndex(song.value);
        song.focus();
        song.setSelectionRange(index(w.textOffset), index(w.textOffset + w.textLength));
      });
      li.append(button);
      return li;
    });
    if (warnings.length === 0) {
      const li = document.createElement("li");
      li.className = "none";
      li.textContent = failure ? "" : "No warnings: every command does what it says.";
      items.push(li);
    } else if (warnings.length > LISTED_WARNINGS) {
      const li = document.createElement("li");
      li.className = "none";
      li.textContent =
        `and ${formatBytes(warnings.length - LISTED_WARNINGS)} more, ` +
        (warnings.length > MARKED_WARNINGS ? `the first ${formatBytes(MARKED_WARNINGS)} underlined in the editor` : "underlined in the editor");
      items.push(li);
    }
    replaceChildren(warningList, items);

    playButton.disabled = Boolean(failure) || tooLong || notes.length === 0;
    $("download").disabled = Boolean(failure) || tooLong;
    $("download-midi").disabled = Boolean(failure) || tooLong;
    $("export-rtttl").disabled = Boolean(failure);
    if (ringtoneOut.dataset.text !== text) ringtoneOut.hidden = true; // a ringtone of another text
    drawPicture();
    paintBackdrop(null);
  }

  // Draws the current text's picture; whatever happens, no picture of an
  // earlier text stays on screen.
  function drawPicture() {
    rollBox.replaceChildren();
    view.picture = null;
    if (player) player.note = undefined; // the next frame marks the playing note anew
    try {
      const width = Math.max(320, Math.round(rollBox.clientWidth || 800));
      const picture = songPicture(view.notes, width, format.sampleRate);
      rollBox.innerHTML = picture.svg;
      view.picture = picture;
    } catch (e) {
      const p = document.createElement("p");
      p.className = "failure";
      p.textContent = `The piano roll cannot be drawn: ${e.message}`;
      rollBox.replaceChildren(p);
    }
    try {
      drawWave();
    } catch {
      // No waveform; the canvas was cleared first.
    }
  }

  // Waveform overview: the smallest and largest sample of each column.
  function drawWave() {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(wave.clientWidth * ratio));
    const height = Math.round(64 * ratio);
    wave.width = width; // which also clears it
    wave.height = height;
    const g = wave.getContext("2d");
    const image = view.image;
    if (!image || image.length <= format.headerBytes) return;
    const samples = samplesOf(image);
    const perColumn = samples.length / width;
    g.fillStyle = "#1f6feb";
    for (let c = 0; c < width; ++c) {
      let lo = 0, hi = 0;
      const end = Math.min(samples.length, Math.floor((c + 1) * perColumn));
      for (let i = Math.floor(c * perColumn); i < end; ++i) {
        if (samples[i] < lo) lo = samples[i];
        if (samples[i] > hi) hi = samples[i];
      }
      const y0 = ((MAX_SAMPLE - hi) / (2 * MAX_SAMPLE)) * height;
      const y1 = ((MAX_SAMPLE - lo) / (2 * MAX_SAMPLE)) * height;
      g.fillRect(c, y0, 1, Math.max(1, y1 - y0));
    }
  }

  function imageOfText() {
    if (!view.image) view.image = api.render(view.text);
    return view.image;
  }

  // The index of the note sounding at a time: the last one that starts at
  // or before it (-1 before the first).
  function noteAt(t) {
    const notes = view.notes;
    let lo = 0, hi = notes.length - 1, found = -1;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (notes[mid].time <= t) {
        found = mid;
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    return found;
  }

  function showPlayhead(t) {
    const picture = view.picture;
    const seconds = picture ? picture.seconds : Math.max(view.seconds, 0.001);
    const line = rollBox.querySelector(".playhead");
    if (line) {
      const x = picture.x(Math.min(t, seconds));
      line.setAttribute("x1", x);
      line.setAttribute("x2", x);
      line.setAttribute("visibility", t >= 0 ? "visible" : "hidden");
    }
    const head = document.getElementById("wave-head");
    head.hidden = t < 0;
    head.style.left = `${(100 * Math.min(Math.max(t, 0), seconds)) / seconds}%`;
    const index = t >= 0 ? noteAt(t) : -1;
    if (!player || index !== player.note) {
      if (player) player.note = index;
      rollBox.querySelectorAll(".note.active").forEach((e) => e.classList.remove("active"));
      const bar = index >= 0 && picture ? picture.barOf[index] : -1;
      if (bar >= 0) rollBox.querySelector(`.note[data-index="${picture.bars[bar].first}"]`)?.classList.add("active");
      paintBackdrop(index >= 0 ? view.notes[index] : null);
    }
  }

  // The image's samples as Web Audio's buffer, at the image's own rate; the
  // browser resamples as it plays. (Decoding the WAV file would resample the
  // whole song first: a minute for an hour of song.)
  function audioBuffer(context, image) {
    const samples = samplesOf(image);
    const buffer = context.createBuffer(1, Math.max(1, samples.length), format.sampleRate);
    const data = buffer.getChannelData(0);
    for (let i = 0; i < samples.length; ++i) data[i] = samples[i] / 32768;
    return buffer;
  }

  function play() {
    stop();
    if (view.notes.length === 0) return;
    let context = null;
    try {
      const image = imageOfText();
      context = new AudioContext();
      const source = context.createBufferSource();
      source.buffer = audioBuffer(context, image);
      source.connect(context.destination);
      source.onended = () => {
        if (player && player.source === source) stop();
      };
      source.start();
      player = { context, source, start: context.currentTime, note: undefined };
    } catch (e) {
      context?.close();
      summary.value = `cannot play: ${e.message}`;
      return;
    }
    const { context: clock, source } = player;
    playButton.disabled = true;
    stopButton.disabled = false;
    const frame = () => {
      if (!player || player.source !== source) return;
      showPlayhead(clock.currentTime - player.start);
      requestAnimationFrame(frame);
    };
    requestAnimationFrame(frame);
  }

  function stop() {
    if (!player) return;
    const { context, source } = player;
    player = null;
    source.onended = null;
    try {
      source.stop();
    } catch {
      // Already ended, or never started.
    }
    context.close();
    playButton.disabled = view.notes.length === 0;
    stopButton.disabled = true;
    showPlayhead(-1);
    paintBackdrop(null);
  }

  function download() {
    let image;
    try {
      image = imageOfText();
    } catch (e) {
      summary.value = `cannot download: ${e.message}`;
      return;
    }
    save(new Blob([image], { type: "audio/wav" }), "song.wav");
  }

  function save(blob, name) {
    const a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  }

  // Puts a new text in the editor as one step of the editor's own undo, so
  // that Ctrl+Z there brings the replaced text back. `keepIt`: whether the
  // new text is kept for the next visit in place of the one kept before.
  let replacing = false;
  function replaceSong(text, keepIt) {
    settle();
    stop();
    song.focus();
    song.select();
    replacing = true;
    try {
      if (!document.execCommand("insertText", false, text) || song.value !== text) {
        // Without the editing command: the text still changes, without undo.
        song.value = text;
      }
    } finally {
      replacing = false;
    }
    unkept = keepIt;
    keepNow();
    update();
  }

  // An edit is shown and kept a moment after the typing pauses, or at once
  // when something needs it.
  let pending = 0;
  function settle() {
    clearTimeout(pending);
    keepNow();
    if (view.text !== song.value) update();
  }
  song.addEventListener("input", () => {
    if (replacing) return;
    unkept = true;
    say("");
    stop();
    clearTimeout(pending);
    paintBackdrop(null); // keep the backdrop's text in step at once
    pending = setTimeout(settle, 120);
  });
  window.addEventListener("pagehide", keepNow);
  song.addEventListener("scroll", () => (backdrop.scrollTop = song.scrollTop));
  song.addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      if (player) stop();
      else {
        settle();
        play();
      }
    }
  });
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape") stop();
  });
  playButton.addEventListener("click", () => {
    settle();
    play();
  });
  stopButton.addEventListener("click", stop);
  $("download").addEventListener("click", () => {
    settle();
    download();
  });
  // A ringtone or a MIDI file becomes the song text when it gives notes;
  // what it cannot keep is listed where it is in the source (`place`). One
  // that gives no notes, or cannot be converted, leaves the song text as it
  // is and says why. `convert` gives {text, warnings}, and `more`, a sentence
  // for the notice.
  function importSong(what, convert, source, place = (w) => `byte ${w.textOffset + 1}`) {
    const list = $("rtttl-warnings");
    const item = (text) => {
      const li = document.createElement("li");
      li.textContent = text;
      return li;
    };
    let text, warnings, tones, more;
    try {
      ({ text, warnings, more = "" } = convert());
      tones = api.notes(text).filter((n) => n.pitchHz > 0).length;
    } catch (e) {
      list.replaceChildren(item(`Nothing imported, the song text is left as it was: ${e.message.replace(/^tuvello: /, "")}`));
      return;
    }
    const listed = warnings
      .slice(0, LISTED_WARNINGS)
      .map((w) => item(`${place(w)}: ${asTyped(w.message, source.subarray(w.textOffset, w.textOffset + w.textLength))}`));
    if (warnings.length > LISTED_WARNINGS) listed.push(item(`and ${formatBytes(warnings.length - LISTED_WARNINGS)} more`));
    if (tones === 0) {
      replaceChildren(list, [item(`Nothing imported, the song text is left as it was: the ${what} gives no notes.`), ...listed]);
      return;
    }
    replaceChildren(list, listed);
    replaceSong(text, true);
    say(`The ${what} replaced the song text${more}; Ctrl+Z in the editor brings back the text before.`, UNDO);
  }
  $("import").addEventListener("click", () => {
    const ringtone = $("rtttl").value;
    importSong("ringtone", () => api.fromRtttl(ringtone), new TextEncoder().encode(ringtone));
  });
  // A file, chosen or dropped: a MIDI file by its header, else ringtones,
  // one a line, of which the first is imported.
  async function importFile(file) {
    $("rtttl").closest("details").open = true;
    let bytes;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch (e) {
      importSong("file", () => {
        throw new Error(`${file.name} cannot be read: ${e.message}`);
      }, null);
      return;
    }
    if (String.fromCharCode(...bytes.subarray(0, 4)) === "MThd") {
      importSong("MIDI file", () => ({ ...api.fromMidi(bytes), more: ` with ${file.name}` }), bytes);
      return;
    }
    importSong(
      "ringtone",
      () => {
        const tunes = api.fromRtttlCollection(bytes);
        const first = tunes.next();
        if (first.done) throw new Error(`${file.name} holds no ringtone.`);
        let others = 0;
        for (const _ of tunes) ++others;
        const name = first.value.name ? `'${first.value.name}'` : "";
        const more = others ? `, the first of ${others + 1} in ${file.name}` : ` of ${file.name}`;
        return { ...first.value, more: ` ${name}${more}`.replace(/^ +/, " ") };
      },
      bytes,
      (w) => `line ${w.line}, byte ${w.column}`,
    );
  }
  $("file").addEventListener("change", async (e) => {
    const [file] = e.target.files;
    e.target.value = ""; // the same file again is a change too
    if (file) await importFile(file);
  });
  const carriesFiles = (e) => [...(e.dataTransfer?.types ?? [])].includes("Files");
  for (const type of ["dragenter", "dragover"]) {
    document.addEventListener(type, (e) => {
      if (!carriesFiles(e)) return;
      e.preventDefault();
      e.dataTransfer.dropEffect = "copy";
      document.body.classList.add("dragging");
    });
  }
  document.addEventListener("dragleave", (e) => {
    if (!e.relatedTarget) document.body.classList.remove("dragging");
  });
  document.addEventListener("drop", (e) => {
    document.body.classList.remove("dragging");
    if (!carriesFiles(e)) return;
    e.preventDefault();
    const [file] = e.dataTransfer.files;
    if (file) importFile(file);
  });

  // The song as a ringtone, shown with what a ringtone cannot hold; each
  // warning selects its command in the editor.
  let ringtoneUrl = null;
  $("export-rtttl").addEventListener("click", () => {
    settle();
    let rtttl, warnings;
    try {
      ({ rtttl, warnings } = api.toRtttl(song.value, "song"));
    } catch (e) {
      say(`cannot export: ${e.message}`);
      return;
    }
    $("rtttl-out").value = rtttl;
    if (ringtoneUrl) URL.revokeObjectURL(ringtoneUrl);
    ringtoneUrl = URL.createObjectURL(new Blob([rtttl], { type: "text/plain" }));
    $("rtttl-save").href = ringtoneUrl;
    const textBytes = new TextEncoder().encode(song.value);
    const exported = song.value;
    replaceChildren(
      $("export-warnings"),
      warnings.slice(0, LISTED_WARNINGS).map((w) => {
        const li = document.createElement("li");
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = asTyped(w.message, textBytes.subarray(w.textOffset, w.textOffset + w.textLength));
        button.addEventListener("click", () => {
          if (song.value !== exported) return;
          const index = byteToIndex(song.value);
          song.focus();
          song.setSelectionRange(index(w.textOffset), index(w.textOffset + w.textLength));
        });
        li.append(button);
        return li;
      }),
    );
    ringtoneOut.dataset.text = exported;
    ringtoneOut.hidden = false;
  });
  $("download-midi").addEventListener("click", () => {
    settle();
    let midi, warnings;
    try {
      ({ midi, warnings } = api.toMidi(song.value));
    } catch (e) {
      say(`cannot download: ${e.message}`);
      return;
    }
    save(new Blob([midi], { type: "audio/midi" }), "song.mid");
    const listed = warnings.slice(0, 3).map((w) => w.message.replace(/^'/, "command " + w.command + " '"));
    say(warnings.length ? `song.mid: ${listed.join("; ")}${warnings.length > 3 ? `; and ${warnings.length - 3} more` : ""}.` : "");
  });
  // The demo is always a click away, so it never takes the place of the
  // text kept for the next visit.
  $("demo").addEventListener("click", () => {
    if (song.value === TUVELLO_DEMO_SONG) return;
    replaceSong(TUVELLO_DEMO_SONG, false);
    say("The demo song replaced your text, which stays kept for your next visit; Ctrl+Z in the editor brings it back.", UNDO);
  });
  // A share link carries the song text in its fragment (#song=...), so that
  // it never reaches a server.
  $("share").addEventListener("click", async () => {
    settle();
    const link = `${location.href.split("#")[0]}#song=${encodeFragment(song.value)}`;
    if (link.length > MAX_LINK) {
      say(`This song text is too long for a link: ${formatBytes(link.length)} characters, where browsers take ${formatBytes(MAX_LINK)}.`);
      return;
    }
    const a = document.createElement("a");
    a.href = link;
    a.textContent = link.length > 80 ? `${link.slice(0, 77)}...` : link;
    say(["The link to share, which opens this song: ", a]);
    try {
      await navigator.clipboard.writeText(link);
      say(["Copied to the clipboard, the link that opens this song: ", a]);
    } catch {
      // No clipboard here (a file:// page may have none): the link is shown.
    }
  });
  // A shared song opens in place of the text, which stays kept for the next
  // visit until the shared one is edited; the fragment goes, so that a reload
  // shows what is kept.
  function openShared(replace) {
    const hash = location.hash;
    if (!hash.startsWith("#song=")) return false;
    history.replaceState(null, "", location.href.split("#")[0]);
    let text;
    try {
      text = decodeURIComponent(hash.slice("#song=".length));
    } catch {
      say("The link's song text is not valid UTF-8, so it was not opened.");
      return false;
    }
    if (replace) replaceSong(text, false);
    else song.value = text;
    let kept = null;
    try {
      kept = localStorage.getItem(STORAGE_KEY);
    } catch {
      // No storage.
    }
    const back = kept !== null && kept !== text ? { label: "Back to my text", run: () => replaceSong(kept, false) } : null;
    say("The song of a shared link. Your own text stays kept for your next visit until you edit this one.", back);
    return true;
  }
  window.addEventListener("hashchange", () => openShared(true));
  $("notation-link").addEventListener("click", (e) => {
    e.preventDefault(); // the fragment is for share links
    const panel = $("notation");
    panel.open = true;
    panel.scrollIntoView({ block: "nearest" });
    panel.querySelector("summary").focus();
  });
  new ResizeObserver(() => view && drawPicture()).observe(rollBox);

  if (!openShared(false)) {
    let saved = null;
    try {
      saved = localStorage.getItem(STORAGE_KEY);
    } catch {
      // No storage: start from the demo.
    }
    song.value = saved ?? TUVELLO_DEMO_SONG;
  }
  update();
  return api;
}

window.tuvello = {};
window.tuvello.ready = main().then((api) => {
  Object.assign(window.tuvello, {
    render: api.render,
    notes: api.notes,
    check: api.check,
    toMidi: api.toMidi,
    version: api.version,
  });
});
