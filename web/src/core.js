// SPDX-License-Identifier: MIT
// The library's WebAssembly module behind a small JavaScript API, shared by
// the npm package and the playground page. Song texts go in as UTF-8 bytes
// (a string is encoded, a Uint8Array is taken as it is); offsets into the text
// are byte offsets, as the library reports them.

const HEADER_BYTES = 44;
const BYTES_PER_SECOND = 44100; // 22050 frames of one 16-bit sample
const NOTE_PIPE = 1;
const NOTE_DECAY = 2;
const WASI_ENOSYS = 52;
const TOO_LONG = "tuvello: the song image would pass 2147483647 bytes";
// wasm32 addresses 2^32 bytes, and its malloc takes a 32-bit size: a larger
// size would wrap and leave the library a smaller block than it was told.
const MAX_BLOCK = 2 ** 32 - 1;

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
          time: (imageOffset - HEADER_BYTES) / BYTES_PER_SECOND,
          duration: bytes / BYTES_PER_SECOND,
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
      render(text) {
        return withText(text, (address) => {
          const song = x.TUVELLO_CreateSong(address) >>> 0;
          if (song === 0) {
            throw new RangeError(`${TOO_LONG}, or memory ran out`);
          }
          try {
            return new Uint8Array(x.memory.buffer, song, x.TUVELLO_GetSongSize(song)).slice();
          } finally {
            x.TUVELLO_FreeSong(song);
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
      // The song text of an RTTTL ringtone, and the warnings about what it
      // cannot keep as written (command: the note's number, 0 outside the
      // notes; offsets into the ringtone's bytes).
      fromRtttl(ringtone) {
        return withText(ringtone, (address) => {
          sink = [];
          let length;
          let warnings;
          try {
            length = x.tuvello_web_rtttl(address, 0, 0, 1);
            warnings = sink;
          } finally {
            sink = null;
          }
          const text = malloc(blockFor(length, "the ringtone's song text"));
          if (text === 0) throw new RangeError("tuvello: out of memory for the song text");
          try {
            if (x.tuvello_web_rtttl(address, text, length + 1, 0) !== length) {
              throw new Error("tuvello: the ringtone's song text was not written");
            }
            return { text: decoder.decode(new Uint8Array(x.memory.buffer, text, length)), warnings };
          } finally {
            x.free(text);
          }
        });
      },
      version: readCString(x.TUVELLO_GetVersion() >>> 0),
    };
  }
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
