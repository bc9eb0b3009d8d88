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
 *  With `into` at least as long as the image, the image is written into its first bytes and
 *  that view is returned (no new memory); else a new array.
 *  Throws RangeError when it would pass 2147483647 bytes or memory runs out. */
export declare function render(text: SongText, options?: { into?: Uint8Array }): Uint8Array;

/** The note map: every note and pause in text order; their blocks tile the image's data. */
export declare function notes(text: SongText): Note[];

/** The warnings in text order, at most one per command. */
export declare function check(text: SongText): Warning[];

/** How fromRtttl brings notes outside octaves 3 to 6 into reach: "auto" (the default) moves
 *  the whole tune by the fewest whole octaves that keep its melody, and only when it spans
 *  more than four octaves moves single notes; "none" moves each such note alone into octave
 *  3 or 6 (version 1.1's reading); a whole number from -8 to 8 moves the whole tune by that
 *  many octaves (negative lower), then each note still out of reach alone. */
export type OctaveShift = "auto" | "none" | number;

/** The song text that plays an RTTTL ringtone ("tune:d=8,o=5,b=150:c,e,g"), and the
 *  warnings about what it cannot keep as written: command is the note's 1-based number
 *  (0 for the name, the settings and the tune as a whole), offsets are byte offsets
 *  into the ringtone, kind 65 to 74 (section, setting, number, note, octave, too short,
 *  split, drift, guess, shift). Throws RangeError for an octaveShift it does not know, and,
 *  with nothing written, when the song text is more than WebAssembly's 4 GiB memory can
 *  hold or memory runs out. The song text is made to be rendered: the conversion stops at
 *  the note whose song image would pass maxImageBytes (by default 2147483647, what an image
 *  holds; 0 for no limit) and throws a RangeError whose textOffset locates that note. */
export declare function fromRtttl(
  ringtone: SongText,
  options?: { octaveShift?: OctaveShift; maxImageBytes?: number },
): { text: string; warnings: Warning[] };

/** A warning about one ringtone of a collection, located in the collection. */
export interface CollectionWarning extends Warning {
  /** 1-based line of the ringtone. */
  line: number;
  /** 1-based byte column in that line. */
  column: number;
}

/** One ringtone of a collection, converted. */
export interface CollectionTune {
  /** 1-based line of the ringtone. */
  line: number;
  /** The ringtone's name (what comes before its settings). */
  name: string;
  /** The song text that plays it. */
  text: string;
  /** As fromRtttl's, with textOffset counting bytes of the whole collection. */
  warnings: CollectionWarning[];
}

/** Converts each ringtone of a collection, one a line ("\n" or "\r\n"); blank lines and
 *  lines starting with '#' are skipped. Lazy: a tune is converted when it is asked for.
 *  Throws as fromRtttl does. */
export declare function fromRtttlCollection(
  collection: SongText,
  options?: { octaveShift?: OctaveShift },
): Generator<CollectionTune, void, undefined>;

/** The RTTTL ringtone that plays a song text ("len:200;c;e;g" gives "tune:d=4,o=3,b=300:c,e,g"),
 *  and the warnings, located in the song text, about what a ringtone cannot hold: kind 75
 *  (vol, pipe, dec), 76 (an oct that is no whole octave: the nearest semitone), 77 (a length
 *  no note value reaches within 1 ms: the nearest). name defaults to "tune"; each ':' and
 *  control byte in it is written as '_'. Throws RangeError, with nothing written, when the
 *  ringtone is more than WebAssembly's 4 GiB memory can hold or memory runs out. */
export declare function toRtttl(text: SongText, name?: SongText): { rtttl: string; warnings: Warning[] };

/** How fromMidi reads a file. */
export interface MidiOptions {
  /** 1-based track chunk to play; 0 (the default): the first track with notes. */
  track?: number;
  /** 1 to 16: only that channel's notes; 0 (the default): every channel. */
  channel?: number;
  /** Of notes sounding together, which plays: the highest (the default), the lowest,
   *  or the first, the one that has sounded longest. */
  overlap?: "highest" | "lowest" | "first";
  /** true: each note's velocity sets "vol"; false (the default): full volume. */
  velocity?: boolean;
}

/** The song text that plays the melody of a Standard MIDI File, and the warnings: command
 *  is the 1-based track chunk (0 for the file as a whole), offsets are byte offsets into
 *  the file, kind 96 to 105 (file, event, no notes, overlap, shift, octave, too short,
 *  split, volume, too long). A broken file is read on as far as it can be, with warnings.
 *  Throws RangeError for an option out of range, and, with nothing written, when the song
 *  text is more than WebAssembly's 4 GiB memory can hold or memory runs out. */
export declare function fromMidi(smf: Uint8Array, options?: MidiOptions): { text: string; warnings: Warning[] };

/** A Standard MIDI File (format 0, a tick a millisecond) that plays a song text: a note-on
 *  and note-off for every note block, a pitch bend where the pitch lies between keys,
 *  velocity from vol. Warnings (kind 75) locate the pipe and dec commands in the song text,
 *  whose notes play plain. Throws RangeError when the song's image would pass 2147483647
 *  bytes. */
export declare function toMidi(text: SongText): { midi: Uint8Array; warnings: Warning[] };

/** The library's version, e.g. "1.1.0". */
export declare const version: string;

declare const tuvello: {
  render: typeof render;
  notes: typeof notes;
  check: typeof check;
  fromRtttl: typeof fromRtttl;
  fromRtttlCollection: typeof fromRtttlCollection;
  toRtttl: typeof toRtttl;
  fromMidi: typeof fromMidi;
  toMidi: typeof toMidi;
  version: string;
};
export default tuvello;

/** A new instance of the library, on a module of its own. The package ships the module twice,
 *  with WebAssembly SIMD (the fast one) and without; by default the SIMD one runs where the
 *  engine validates SIMD (every current browser and Node.js). `simd` picks one instead. */
export declare function load(options?: { simd?: boolean }): Promise<typeof tuvello>;
