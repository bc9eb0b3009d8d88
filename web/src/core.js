// SPDX-License-Identifier: MIT
// The library's WebAssembly module behind a small JavaScript API, shared by
// the npm package and the playground page. Song texts go in as UTF-8 bytes
// (a string is encoded, a Uint8Array is taken as it is); offsets into the text
// are byte offsets, as the library reports them.

const NOTE_PIPE = 1;
const NOTE_DECAY = 2;
const WASI_ENOSYS = 52;
const MAX_IMAGE_BYTES = 2147483647;
const TOO_LONG = `tuvello: the song image would pass ${MAX_IMAGE_BYTES} bytes`;
const WARN_RTTTL_TOO_LONG = 78;
// wasm32 addresses 2^32 bytes, and its malloc takes a 32-bit size: a larger
// size would wrap and leave the library a smaller block than it was told.
const MAX_BLOCK = 2 ** 32 - 1;
// How much of an image render() reads at a time.
const READ_CHUNK = 1 << 16;

const OCTAVE_SHIFT_AUTO = 0;
const OCTAVE_SHIFT_NONE = 1;
const OCTAVE_SHIFT_BY = 2;
const OVERLAP = ["highest", "lowest", "first"]; // TUVELLO_MIDI_HIGHEST, _LOWEST, _FIRST

// fromRtttl's octaveShift as the library's mode and octaves.
function octaveShift(value = "auto") {
  if (value === "auto") return [OCTAVE_SHIFT_AUTO, 0];
  if (value === "none") return [OCTAVE_SHIFT_NONE, 0];
  if (Number.isInteger(value) && value >= -8 && value <= 8) return [OCTAVE_SHIFT_BY, value];
  throw new RangeError('tuvello: octaveShift is "auto", "none" or a whole number of octaves from -8 to 8');
}

// fromRtttl's maxImageBytes: by default the longest song image there is;
// none is shorter than its header.
function maxImageBytes(value = MAX_IMAGE_BYTES, headerBytes) {
  if (value === 0 || (Number.isSafeInteger(value) && value >= headerBytes)) return value;
  throw new RangeError(`tuvello: maxImageBytes is 0 (no limit) or a whole number of bytes from ${headerBytes}`);
}

// The block for a NUL-terminated copy of `length` bytes, refused before
// anything is allocated when wasm32 cannot hold it.
function blockFor(length, what) {
  if (!Number.isSafeInteger(length) || length < 0 || length >= MAX_BLOCK) {
    throw new RangeError(`tuvello: ${what} of ${length} bytes is more than WebAssembly's 4 GiB memory can hold`);
  }
  return length + 1;
}

export async function instantiateTuvello(wasmBytes) {
  const module = await WebAssembly.compile(wasmBytes);
  const link = linker(module);
  return link.api(await WebAssembly.instantiate(module, link.imports));
}

// The same without waiting, for Node.js's require(): it compiles on the
// calling thread, which browsers allow only for tiny modules.
export function instantiateTuvelloSync(wasmBytes) {
  const module = new WebAssembly.Module(wasmBytes);
  const link = linker(module);
  return link.api(new WebAssembly.Instance(module, link.imports));
}

// The module's imports, and the API over an instance made with them.
function linker(module) {
  let x = null; // the instance's exports
  let sink = null; // the array the running visitor fills
  let format = null; // the image's format, as the module reports it
  const decoder = new TextDecoder();
  const readCString = (address) => {
    const bytes = new Uint8Array(x.memory.buffer, address);
    return decoder.decode(bytes.subarray(0, bytes.indexOf(0)));
  };
  const imports = {
    tuvello: {
      note(command, textOffset, textLength, imageOffset, bytes, frames, pitchHz, amplitude, flags) {
        sink.push({
          command,
          textOffset,
          textLength,
          imageOffset,
          bytes,
          frames,
          time: (imageOffset - format.headerBytes) / format.byteRate,
          duration: bytes / format.byteRate,
          pitchHz,
          amplitude,
          pipe: (flags & NOTE_PIPE) !== 0,
          decay: (flags & NOTE_DECAY) !== 0,
        });
      },
      warning(command, textOffset, textLength, kind, message) {
        sink.push({ command, textOffset, textLength, kind, message: readCString(message >>> 0) });
      },
    },
  };
  // The library reads and writes no files; the C runtime's few WASI calls
  // (an assertion's message on stderr) are answered "not supported".
  for (const entry of WebAssembly.Module.imports(module)) {
    if (entry.module === "tuvello") continue;
    if (entry.kind !== "function") throw new Error(`unexpected import ${entry.module}.${entry.name}`);
    imports[entry.module] ??= {};
    imports[entry.module][entry.name] =
      entry.name === "proc_exit"
        ? (code) => {
            throw new Error(`tuvello: the module stopped (exit ${code})`);
          }
        : () => WASI_ENOSYS;
  }
  return { imports, api: (instance) => api(instance.exports) };

  function api(exports) {
    x = exports;
    x._initialize();
    format = Object.freeze({
      sampleRate: x.tuvello_web_sample_rate(), // frames per second, one 16-bit sample each
      byteRate: x.tuvello_web_byte_rate(), // bytes of samples per second
      headerBytes: x.tuvello_web_header_bytes(), // before the first sample
    });
    // Addresses come back as signed 32-bit numbers; the upper half of the
    // memory is theirs too.
    const malloc = (bytes) => x.malloc(bytes) >>> 0;
    const encoder = new TextEncoder();
    // Runs fn with the text as a NUL-terminated copy in the module's memory.
    function withText(text, fn) {
      const bytes = typeof text === "string" ? encoder.encode(text) : text;
      if (!(bytes instanceof Uint8Array)) throw new TypeError("a song text is a string or a Uint8Array");
      const address = malloc(blockFor(bytes.length, "a text"));
      if (address === 0) throw new RangeError("tuvello: out of memory for the song text");
      try {
        const memory = new Uint8Array(x.memory.buffer, address, bytes.length + 1);
        memory.set(bytes);
        memory[bytes.length] = 0;
        return fn(address);
      } finally {
        x.free(address);
      }
    }

    // A text the library writes under the buffer contract: measured (with
    // its warnings) first, then written into a block of that size, refused
    // before allocating when wasm32 cannot hold it.
    // `refused(length, warnings)` may throw its own error for a length below 0.
    function twoPass(what, call, refused) {
      sink = [];
      let length;
      let warnings;
      try {
        length = call(0, 0, 1);
        warnings = sink;
      } finally {
        sink = null;
      }
      if (length < 0) refused?.(length, warnings);
      if (length < 0) throw new RangeError(`tuvello: ${what} could not be made`);
      const out = malloc(blockFor(length, what));
      if (out === 0) throw new RangeError(`tuvello: out of memory for ${what}`);
      try {
        if (call(out, length + 1, 0) !== length) throw new Error(`tuvello: ${what} was not written`);
        return { text: decoder.decode(new Uint8Array(x.memory.buffer, out, length)), warnings };
      } finally {
        x.free(out);
      }
    }

    // The song text of an RTTTL ringtone, and the warnings about what it
    // cannot keep as written (command: the note's number, 0 outside the
    // notes; offsets into the ringtone's bytes).
    // The song text is meant to be rendered: by default the conversion stops
    // at the note whose song image would pass what an image holds
    // (maxImageBytes, 0 for no limit) and throws a RangeError that names it.
    function fromRtttl(ringtone, options = {}) {
      const [mode, octaves] = octaveShift(options?.octaveShift);
      const limit = maxImageBytes(options?.maxImageBytes, format.headerBytes);
      const refused = (length, warnings) => {
        const at = warnings.at(-1);
        if (length !== -2 || at?.kind !== WARN_RTTTL_TOO_LONG) return;
        const error = new RangeError(
          `tuvello: the song image would pass ${limit} bytes at the ringtone's note at byte ${at.textOffset}`,
        );
        error.textOffset = at.textOffset;
        throw error;
      };
      return withText(ringtone, (address) =>
        twoPass(
          "the ringtone's song text",
          (out, capacity, warn) => x.tuvello_web_rtttl_ex(address, out, capacity, warn, mode, octaves, limit),
          refused,
        ),
      );
    }

    // A ringtone's name as the library reads it (TUVELLO_RtttlName).
    function ringtoneName(ringtone) {
      return withText(ringtone, (address) => {
        const at = malloc(8);
        if (at === 0) throw new RangeError("tuvello: out of memory for the ringtone's name");
        try {
          const length = Number(x.TUVELLO_RtttlName(address, at));
          const offset = Number(new BigInt64Array(x.memory.buffer, at, 1)[0]);
          return decoder.decode(ringtone.subarray(offset, offset + length));
        } finally {
          x.free(at);
        }
      });
    }

    function collect(text, visit) {
      return withText(text, (address) => {
        sink = [];
        try {
          if (visit(address) < 0) throw new RangeError(TOO_LONG);
          return sink;
        } finally {
          sink = null;
        }
      });
    }

    return {
      // With options.into, a Uint8Array at least as long as the image, the
      // image goes into its first bytes (the view of them is returned) rather
      // than into new memory: a browser hands a large new array fresh pages,
      // whose first touch costs more than rendering the samples.
      // The image is read into its array through a reader, 64 KiB at a time,
      // never whole in the module's memory, which cannot shrink again: so a
      // large song takes its image's size once, not twice and for good.
      render(text, options = {}) {
        const into = options?.into;
        if (into !== undefined && !(into instanceof Uint8Array)) throw new TypeError("tuvello: into is a Uint8Array");
        return withText(text, (address) => {
          const size = Number(x.TUVELLO_MeasureSong(address));
          if (size < 0) throw new RangeError(TOO_LONG);
          const image = into && into.length >= size ? into.subarray(0, size) : new Uint8Array(size);
          const chunk = malloc(READ_CHUNK);
          const reader = chunk === 0 ? 0 : x.TUVELLO_OpenSong(address) >>> 0;
          try {
            if (reader === 0) throw new RangeError("tuvello: out of memory for the song's reader");
            for (let at = 0; at < size; ) {
              const read = x.TUVELLO_ReadSong(reader, chunk, Math.min(READ_CHUNK, size - at));
              // A reader yields the measured length exactly; anything else is the module's fault.
              if (read <= 0) throw new Error("tuvello: the song's reader stopped early");
              image.set(new Uint8Array(x.memory.buffer, chunk, read), at);
              at += read;
            }
            return image;
          } finally {
            x.TUVELLO_CloseSong(reader);
            x.free(chunk);
          }
        });
      },
      // Throws RangeError, as render does, for a song too long for an image.
      notes(text) {
        return collect(text, x.tuvello_web_notes);
      },
      check(text) {
        return collect(text, x.tuvello_web_check);
      },
      fromRtttl,
      // Each ringtone of a file of them, one a line.
      *fromRtttlCollection(collection, options = {}) {
        const bytes = typeof collection === "string" ? encoder.encode(collection) : collection;
        if (!(bytes instanceof Uint8Array)) throw new TypeError("a ringtone collection is a string or a Uint8Array");
        octaveShift(options?.octaveShift); // refused before the first tune
        maxImageBytes(options?.maxImageBytes, format.headerBytes);
        for (let start = 0, line = 1; start < bytes.length; ++line) {
          let end = bytes.indexOf(10, start);
          if (end < 0) end = bytes.length;
          const next = end + 1;
          if (end > start && bytes[end - 1] === 13) --end;
          const ringtone = bytes.subarray(start, end);
          const offset = start;
          start = next;
          if (ringtone[0] === 35 || ringtone.every((b) => b === 32 || b === 9 || b === 13)) continue;
          const { text, warnings } = fromRtttl(ringtone, options);
          for (const w of warnings) {
            w.line = line;
            w.column = Math.min(w.textOffset, ringtone.length) + 1;
            w.textOffset += offset;
          }
          yield { line, name: ringtoneName(ringtone), text, warnings };
        }
      },
      // The RTTTL ringtone of a song text, and the warnings about what it
      // cannot hold (offsets into the song text).
      toRtttl(text, name = "tune") {
        return withText(text, (address) =>
          withText(name, (nameAddress) => {
            const { text: rtttl, warnings } = twoPass("the ringtone", (out, capacity, warn) =>
              x.tuvello_web_export_rtttl(address, nameAddress, out, capacity, warn),
            );
            return { rtttl, warnings };
          }),
        );
      },
      // The song text of a Standard MIDI File's melody; warnings locate bytes of the file.
      fromMidi(smf, options = {}) {
        if (!(smf instanceof Uint8Array)) throw new TypeError("a MIDI file is a Uint8Array");
        const { track = 0, channel = 0, overlap = "highest", velocity = false } = options ?? {};
        if (!Number.isInteger(track) || track < 0 || track > 0x7fffffff) {
          throw new RangeError("tuvello: track is 0 (the first with notes) or a track chunk's number from 1");
        }
        if (!Number.isInteger(channel) || channel < 0 || channel > 16) {
          throw new RangeError("tuvello: channel is 0 (every channel) or 1 to 16");
        }
        const rule = OVERLAP.indexOf(overlap);
        if (rule < 0) throw new RangeError('tuvello: overlap is "highest", "lowest" or "first"');
        return withText(smf, (address) =>
          twoPass("the MIDI file's song text", (out, capacity, warn) =>
            x.tuvello_web_midi(address, smf.length, out, capacity, warn, track, channel, rule, velocity ? 1 : 0),
          ),
        );
      },
      // A Standard MIDI File of a song text; warnings for what MIDI cannot hold.
      toMidi(text) {
        return withText(text, (address) => {
          sink = [];
          let size;
          let warnings;
          try {
            size = x.tuvello_web_export_midi(address, 0, 0, 1);
            warnings = sink;
          } finally {
            sink = null;
          }
          if (size < 0) throw new RangeError(TOO_LONG);
          const out = malloc(blockFor(size, "the MIDI file"));
          if (out === 0) throw new RangeError("tuvello: out of memory for the MIDI file");
          try {
            if (x.tuvello_web_export_midi(address, out, size, 0) !== size) {
              throw new Error("tuvello: the MIDI file was not written");
            }
            return { midi: new Uint8Array(x.memory.buffer, out, size).slice(), warnings };
          } finally {
            x.free(out);
          }
        });
      },
      version: readCString(x.TUVELLO_GetVersion() >>> 0),
      format,
    };
  }
}

// The smallest module with a SIMD instruction (a v128.const, dropped):
// engines without WebAssembly's 128-bit vectors reject it.
const SIMD_PROBE = Uint8Array.of(
  0, 97, 115, 109, 1, 0, 0, 0, 1, 4, 1, 96, 0, 0, 3, 2, 1, 0, 10, 23, 1, 21, 0, 253, 12,
  ...new Array(16).fill(0), 26, 11,
);

// Which build of the module to run, of { simd, scalar }: the SIMD one where
// the engine validates SIMD (every current browser and Node.js), else the
// scalar one. Both give the same bytes; options.simd forces the choice.
export function chooseModule(modules, options = {}) {
  return (options.simd ?? WebAssembly.validate(SIMD_PROBE)) ? modules.simd : modules.scalar;
}

// Base64 to bytes without atob or Buffer, for every host alike.
export function decodeBase64(text) {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const value = new Uint8Array(128);
  for (let i = 0; i < alphabet.length; ++i) value[alphabet.charCodeAt(i)] = i;
  const clean = text.replace(/[^A-Za-z0-9+/]/g, "");
  const out = new Uint8Array((clean.length * 3) >> 2);
  let o = 0;
  for (let i = 0; i < clean.length; i += 4) {
    const n =
      (value[clean.charCodeAt(i)] << 18) |
      (value[clean.charCodeAt(i + 1)] << 12) |
      (value[clean.charCodeAt(i + 2)] << 6) |
      value[clean.charCodeAt(i + 3)];
    out[o++] = n >> 16;
    if (o < out.length) out[o++] = (n >> 8) & 255;
    if (o < out.length) out[o++] = n & 255;
  }
  return out;
}
