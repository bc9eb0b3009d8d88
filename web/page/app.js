// SPDX-License-Identifier: MIT
// The playground: the editor with its warnings, the piano roll and waveform,
// the player and the download, all on the library's own module.

const NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"];
const MAX_SAMPLE = 32767;
const AUTO_RENDER_BYTES = 16 << 20; // larger images are rendered on Play or Download only
const STORAGE_KEY = "tuvello.song";

// Semitones above the C four octaves below middle C (MIDI numbering).
const semitone = (hz) => 69 + 12 * Math.log2(hz / 440);
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
// notes hatched, decaying notes fading), amplitude envelope and time axis.
function songPicture(notes, width) {
  const left = 44, right = 8, top = 24, rollHeight = 200, gap = 14, envHeight = 48, axis = 22;
  const height = top + rollHeight + gap + envHeight + axis;
  const end = notes.length ? notes.at(-1).time + notes.at(-1).duration : 0;
  const seconds = Math.max(end, 0.001);
  const plotWidth = width - left - right;
  const x = (t) => left + (t / seconds) * plotWidth;
  const tones = notes.filter((n) => n.pitchHz > 0);
  let low = 48, high = 72;
  if (tones.length) {
    low = Math.floor(Math.min(...tones.map((n) => semitone(n.pitchHz)))) - 2;
    high = Math.ceil(Math.max(...tones.map((n) => semitone(n.pitchHz)))) + 2;
  }
  const rowHeight = rollHeight / (high - low);
  const y = (s) => top + ((high - s) / (high - low)) * rollHeight;
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
  // Each note's bar spans the frames that carry its tone.
  notes.forEach((n, i) => {
    if (n.pitchHz <= 0) return;
    const x0 = x(n.time), w = Math.max(1, x(n.time + n.frames / 22050) - x0);
    const y0 = y(semitone(n.pitchHz)) - rowHeight / 2;
    const opacity = (0.35 + 0.65 * (n.amplitude / MAX_SAMPLE)).toFixed(3);
    const cls = `note${n.pipe ? " pipe" : ""}${n.decay ? " decay" : ""}`;
    const mask = n.decay ? ` mask="url(#decay)"` : "";
    out.push(`<g${mask}><rect class="${cls}" data-index="${i}" x="${x0}" y="${y0}" width="${w}" height="${rowHeight}" rx="2" fill-opacity="${opacity}"/>`);
    if (n.pipe) out.push(`<rect x="${x0}" y="${y0}" width="${w}" height="${rowHeight}" fill="url(#hatch)"/>`);
    out.push(`</g>`);
    if (w >= 22) out.push(`<text class="name" x="${x0 + 2}" y="${y0 - 2}">${noteName(n.pitchHz)}</text>`);
  });
  // Amplitude envelope: a fading note falls to nothing over its block.
  const envTop = top + rollHeight + gap;
  const ay = (a) => envTop + envHeight - (a / MAX_SAMPLE) * envHeight;
  const points = [`${x(0)},${ay(0)}`];
  for (const n of notes) {
    const t1 = n.time + n.frames / 22050;
    points.push(`${x(n.time)},${ay(0)}`, `${x(n.time)},${ay(n.amplitude)}`);
    points.push(`${x(t1)},${ay(n.decay ? 0 : n.amplitude)}`, `${x(t1)},${ay(0)}`);
  }
  points.push(`${x(seconds)},${ay(0)}`);
  out.push(`<polygon class="envelope" points="${points.join(" ")}"/>`);
  out.push(`<line class="playhead" x1="${left}" x2="${left}" y1="${top}" y2="${axisY}" visibility="hidden"/>`);
  out.push(`</svg>`);
  return { svg: out.join(""), x, seconds };
}

// Byte offsets (what the library reports) to string indexes of the text.
function byteToIndex(text) {
  const map = [];
  const encoder = new TextEncoder();
  for (let i = 0; i < text.length; ) {
    const cp = text.codePointAt(i);
    const units = cp > 0xffff ? 2 : 1;
    const bytes = encoder.encode(String.fromCodePoint(cp)).length;
    for (let b = 0; b < bytes; ++b) map.push(i);
    i += units;
  }
  map.push(text.length);
  return (offset) => map[Math.min(offset, map.length - 1)];
}

async function main() {
  const api = await instantiateTuvello(decodeBase64(TUVELLO_WASM_BASE64));
  const $ = (id) => document.getElementById(id);
  const song = $("song"), backdrop = $("backdrop"), warningList = $("warnings"), summary = $("summary");
  const rollBox = $("roll"), wave = $("wave");
  const playButton = $("play"), stopButton = $("stop");
  $("version").textContent = api.version;

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

  // The backdrop holds the same text, with the marks around their ranges.
  function paintBackdrop(playingNote) {
    const text = song.value;
    const marks = rangesOf(text, view ? view.warnings : [], playingNote);
    const edges = new Set([0, text.length]);
    for (const m of marks) edges.add(m.from).add(m.to);
    const cuts = [...edges].sort((a, b) => a - b);
    backdrop.replaceChildren();
    for (let i = 0; i + 1 < cuts.length; ++i) {
      const [a, b] = [cuts[i], cuts[i + 1]];
      const piece = document.createTextNode(text.slice(a, b));
      const classes = marks.filter((m) => m.from <= a && b <= m.to).map((m) => m.cls);
      if (classes.length === 0) {
        backdrop.append(piece);
      } else {
        let node = piece;
        for (const cls of new Set(classes)) {
          const mark = document.createElement("mark");
          mark.className = cls;
          mark.append(node);
          node = mark;
        }
        backdrop.append(node);
      }
    }
    // A final line break needs something after it to take up its line.
    backdrop.append(document.createTextNode("\u200b"));
    backdrop.scrollTop = song.scrollTop;
  }

  function formatBytes(n) {
    return n.toLocaleString("en-US");
  }

  function update() {
    const text = song.value;
    try {
      localStorage.setItem(STORAGE_KEY, text);
    } catch {
      // No storage (a private window): the text is simply not kept.
    }
    const warnings = api.check(text);
    let notes = [];
    let tooLong = false;
    try {
      notes = api.notes(text);
    } catch (e) {
      if (!(e instanceof RangeError)) throw e;
      tooLong = true;
    }
    const bytes = 44 + notes.reduce((sum, n) => sum + n.bytes, 0);
    const seconds = (bytes - 44) / 44100;
    view = { text, warnings, notes, bytes, seconds, image: null };
    if (!tooLong && bytes <= AUTO_RENDER_BYTES) view.image = api.render(text);

    const tones = notes.filter((n) => n.pitchHz > 0).length;
    summary.value = tooLong
      ? "the image would pass 2 GiB: shorten the song"
      : `${tones} note${tones === 1 ? "" : "s"}, ${notes.length - tones} pause${notes.length - tones === 1 ? "" : "s"} · ${seconds.toFixed(2)} s · ${formatBytes(bytes)} bytes`;

    warningList.replaceChildren();
    $("warning-heading").textContent = warnings.length ? `Warnings (${warnings.length})` : "Warnings";
    if (warnings.length === 0) {
      const li = document.createElement("li");
      li.className = "none";
      li.textContent = "No warnings: every command does what it says.";
      warningList.append(li);
    }
    warnings.forEach((w) => {
      const li = document.createElement("li");
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = w.message;
      button.dataset.offset = w.textOffset;
      button.dataset.length = w.textLength;
      button.addEventListener("click", () => {
        const index = byteToIndex(song.value);
        song.focus();
        song.setSelectionRange(index(w.textOffset), index(w.textOffset + w.textLength));
      });
      li.append(button);
      warningList.append(li);
    });

    playButton.disabled = tooLong || notes.length === 0;
    $("download").disabled = tooLong;
    drawPicture();
    paintBackdrop(null);
  }

  function drawPicture() {
    const width = Math.max(320, Math.round(rollBox.clientWidth || 800));
    const picture = songPicture(view.notes, width);
    rollBox.innerHTML = picture.svg;
    view.picture = picture;
    if (player) player.note = undefined; // the next frame marks the playing note anew
    drawWave();
  }

  // Waveform overview: the smallest and largest sample of each column.
  function drawWave() {
    const ratio = window.devicePixelRatio || 1;
    const width = Math.max(1, Math.round(wave.clientWidth * ratio));
    const height = Math.round(64 * ratio);
    wave.width = width;
    wave.height = height;
    const g = wave.getContext("2d");
    g.clearRect(0, 0, width, height);
    const image = view.image;
    if (!image || image.length <= 44) return;
    const samples = new Int16Array(image.buffer.slice(44, image.length - (image.length % 2)));
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

  // The note sounding at a time: the last one that starts at or before it.
  function noteAt(t) {
    const notes = view.notes;
    let lo = 0, hi = notes.length - 1, found = null;
    while (lo <= hi) {
      const mid = (lo + hi) >> 1;
      if (notes[mid].time <= t) {
        found = notes[mid];
        lo = mid + 1;
      } else {
        hi = mid - 1;
      }
    }
    return found;
  }

  function showPlayhead(t) {
    const line = rollBox.querySelector(".playhead");
    const x = view.picture.x(Math.min(t, view.picture.seconds));
    line.setAttribute("x1", x);
    line.setAttribute("x2", x);
    line.setAttribute("visibility", t >= 0 ? "visible" : "hidden");
    const head = document.getElementById("wave-head");
    head.hidden = t < 0;
    head.style.left = `${(100 * Math.min(Math.max(t, 0), view.picture.seconds)) / view.picture.seconds}%`;
    const note = t >= 0 ? noteAt(t) : null;
    if (note !== player?.note) {
      if (player) player.note = note;
      rollBox.querySelectorAll(".note.active").forEach((e) => e.classList.remove("active"));
      if (note) rollBox.querySelector(`.note[data-index="${view.notes.indexOf(note)}"]`)?.classList.add("active");
      paintBackdrop(note);
    }
  }

  async function play() {
    stop();
    if (view.notes.length === 0) return;
    const image = imageOfText();
    const context = new AudioContext();
    const buffer = await context.decodeAudioData(image.slice().buffer);
    const source = context.createBufferSource();
    source.buffer = buffer;
    source.connect(context.destination);
    player = { context, source, start: context.currentTime, note: undefined };
    source.onended = () => {
      if (player && player.source === source) stop();
    };
    source.start();
    playButton.disabled = true;
    stopButton.disabled = false;
    const frame = () => {
      if (!player || player.source !== source) return;
      showPlayhead(context.currentTime - player.start);
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
      // Already ended.
    }
    context.close();
    playButton.disabled = view.notes.length === 0;
    stopButton.disabled = true;
    showPlayhead(-1);
    paintBackdrop(null);
  }

  function download() {
    const blob = new Blob([imageOfText()], { type: "audio/wav" });
    const a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = "song.wav";
    document.body.append(a);
    a.click();
    a.remove();
    setTimeout(() => URL.revokeObjectURL(a.href), 60000);
  }

  let pending = 0;
  song.addEventListener("input", () => {
    stop();
    clearTimeout(pending);
    paintBackdrop(null); // keep the backdrop's text in step at once
    pending = setTimeout(update, 120);
  });
  song.addEventListener("scroll", () => (backdrop.scrollTop = song.scrollTop));
  song.addEventListener("keydown", (e) => {
    if (e.key === "Enter" && (e.ctrlKey || e.metaKey)) {
      e.preventDefault();
      if (player) stop();
      else {
        clearTimeout(pending);
        update();
        play();
      }
    }
  });
  document.addEventListener("keydown", (e) => {
    if (e.key === "Escape") stop();
  });
  playButton.addEventListener("click", () => {
    clearTimeout(pending);
    if (view.text !== song.value) update();
    play();
  });
  stopButton.addEventListener("click", stop);
  $("download").addEventListener("click", () => {
    if (view.text !== song.value) update();
    download();
  });
  // A ringtone becomes the song text; what it cannot keep is listed, with
  // the byte column in the ringtone.
  $("import").addEventListener("click", () => {
    const { text, warnings } = api.fromRtttl($("rtttl").value);
    $("rtttl-warnings").replaceChildren(
      ...warnings.map((w) => {
        const li = document.createElement("li");
        li.textContent = `byte ${w.textOffset + 1}: ${w.message}`;
        return li;
      }),
    );
    stop();
    song.value = text;
    update();
  });
  $("demo").addEventListener("click", () => {
    stop();
    song.value = TUVELLO_DEMO_SONG;
    update();
  });
  new ResizeObserver(() => view && drawPicture()).observe(rollBox);

  let saved = null;
  try {
    saved = localStorage.getItem(STORAGE_KEY);
  } catch {
    // No storage: start from the demo.
  }
  song.value = saved ?? TUVELLO_DEMO_SONG;
  update();
  return api;
}

window.tuvello = {};
window.tuvello.ready = main().then((api) => {
  Object.assign(window.tuvello, {
    render: api.render,
    notes: api.notes,
    check: api.check,
    version: api.version,
  });
});
