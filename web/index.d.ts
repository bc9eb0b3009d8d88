// SPDX-License-Identifier: MIT
// tuvello: song text to exact RIFF/WAVE images, a note map and warnings.

/** A song text: a string (encoded as UTF-8) or its bytes. It ends at its first NUL. */
export type SongText = string | Uint8Array;

/** One note or pause of a song: the command that made it and its note block. */
export interface Note {
  /** 1-based number of the command in the text. */
  command: number;
  /** Byte offset of the command in the text, as written. */
  textOffset: number;
  /** Its length in bytes, without the ';'. */
  textLength: number;
  /** Byte offset of the note block in the image (the first is 44). */
  imageOffset: number;
  /** Block size in bytes. */
  bytes: number;
  /** Frames that carry the tone; the block's last frames are silent. */
  frames: number;
  /** Start of the block in seconds. */
  time: number;
  /** Length of the block in seconds. */
  duration: number;
  /** The pitch a listener hears, in Hz; 0 for a pause. */
  pitchHz: number;
  /** Peak sample value at the block's start (0 for a pause). */
  amplitude: number;
  /** Every sixteenth sample at twice the frequency. */
  pipe: boolean;
  /** A linear fade over the block. */
  decay: boolean;
}

/** A command that has no effect, or not the one its writer probably meant. */
export interface Warning {
  /** 1-based number of the command. */
  command: number;
  /** Byte offset of the command in the text, as written. */
  textOffset: number;
  /** Its length in bytes, without the ';' (0 for an empty command). */
  textLength: number;
  /** What it is about: 1 empty, 2 unknown key, 3 out of range, 4 not a number,
   *  5 ignored text, 6 no effect, 7 too long; later versions may add kinds. */
  kind: number;
  /** One line of English, e.g. "command 2 'x:5': unknown key 'x', so the command is skipped". */
  message: string;
}

/** Resolves when the module is ready (at once: it is instantiated on import). */
export declare const ready: Promise<void>;

/** The song image: a complete 16-bit mono PCM WAV file at 22050 frames per second.
 *  Throws RangeError when it would pass 2147483647 bytes or memory runs out. */
export declare function render(text: SongText): Uint8Array;

/** The note map: every note and pause in text order; their blocks tile the image's data. */
export declare function notes(text: SongText): Note[];

/** The warnings in text order, at most one per command. */
export declare function check(text: SongText): Warning[];

/** The song text that plays an RTTTL ringtone ("tune:d=8,o=5,b=150:c,e,g"), and the
 *  warnings about what it cannot keep as written: command is the note's 1-based number
 *  (0 for the name, the settings and the tune as a whole), offsets are byte offsets
 *  into the ringtone, kind 65 to 72 (section, setting, number, note, octave, too short,
 *  split, drift). Throws RangeError, with nothing written, when the song text is more
 *  than WebAssembly's 4 GiB memory can hold or memory runs out. */
export declare function fromRtttl(ringtone: SongText): { text: string; warnings: Warning[] };

/** The library's version, e.g. "1.1.0". */
export declare const version: string;

declare const tuvello: {
  render: typeof render;
  notes: typeof notes;
  check: typeof check;
  fromRtttl: typeof fromRtttl;
  version: string;
};
export default tuvello;
