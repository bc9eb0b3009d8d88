/* SPDX-License-Identifier: MIT */
/*
 * tuvello: turns one line of song text into a RIFF/WAVE file in memory.
 *
 * A song text is a list of commands separated by ";", each a key with an
 * optional ":value". The note keys "c" "cs" "d" "ds" "e" "f" "fs" "g" "gs" "a"
 * "b" "h" and the pause "p" each add one note block; the settings "len"
 * (milliseconds, 20-500), "vol" (percent, 5-100), "oct" (pitch multiplier - 1,
 * 0-8), "pipe" and "dec" (0 off, anything else on) apply to every later note.
 * Unknown keys, empty commands and out-of-range values are skipped silently.
 *
 *     uint8_t *song = TUVELLO_CreateSong("len:200;vol:80;c;e;g;p;c");
 *     if (song) {
 *         fwrite(song, 1, (size_t)TUVELLO_GetSongSize(song), file);
 *         TUVELLO_FreeSong(song);
 *     }
 *
 * The song image is a complete 16-bit mono PCM WAV file at 22050 frames per
 * second: a 44-byte header followed by the samples. Every function may be
 * called from any thread; calls share no state.
 */
#ifndef TUVELLO_H
#define TUVELLO_H

#include <stdint.h>

/* The library's version, read by the build as well. */
#define TUVELLO_VERSION_MAJOR 1
#define TUVELLO_VERSION_MINOR 1
#define TUVELLO_VERSION_PATCH 0

/* The song image's format, the same for every song. */
#define TUVELLO_SAMPLE_RATE 22050 /* frames per second, one 16-bit mono sample each */
#define TUVELLO_BYTE_RATE 44100   /* bytes of samples per second of playing time */
#define TUVELLO_HEADER_BYTES 44   /* the WAV header before the first sample */

#if defined(_WIN32)
#define TUVELLO_API
#elif defined(__GNUC__)
#define TUVELLO_API __attribute__((visibility("default")))
#else
#define TUVELLO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Renders a song text into a new song image.
 *
 * text: a NUL-terminated string of 8-bit characters; it is only read. NULL
 *       counts as the empty text, which yields a 44-byte image without data.
 *
 * Returns the address of the image's first byte (the "RIFF" of its header),
 * owned by the caller until it is passed to TUVELLO_FreeSong. Returns NULL when
 * memory runs out or when the image would exceed INT32_MAX bytes; nothing is
 * leaked then.
 *
 * See also: TUVELLO_GetSongSize, TUVELLO_FreeSong.
 */
TUVELLO_API uint8_t* TUVELLO_CreateSong(const char* text);

/*
 * The song image's whole length in bytes, header included: the number of bytes
 * to write out as a WAV file.
 *
 * song: an image from TUVELLO_CreateSong, or NULL.
 * Returns 0 for NULL.
 */
TUVELLO_API int32_t TUVELLO_GetSongSize(const uint8_t* song);

/*
 * The song's playing time in seconds: data size / byte rate.
 *
 * song: an image from TUVELLO_CreateSong, or NULL.
 * Returns 0.0 for NULL. New code should call this, not TUVELLO_GetSongLenght.
 */
TUVELLO_API double TUVELLO_GetSongDuration(const uint8_t* song);

/*
 * The data size divided by the sample rate: TWICE the playing time in seconds
 * for these 16-bit images. Kept unchanged for existing hosts that rely on this
 * value; new code should call TUVELLO_GetSongDuration instead.
 *
 * song: an image from TUVELLO_CreateSong, or NULL.
 * Returns 0.0f for NULL.
 */
TUVELLO_API float TUVELLO_GetSongLenght(const uint8_t* song);

/*
 * Releases a song image. The pointer is dead afterwards.
 *
 * song: an image from TUVELLO_CreateSong, or NULL.
 * Returns 1 when an image was released, 0 for NULL (nothing happens).
 */
TUVELLO_API int32_t TUVELLO_FreeSong(uint8_t* song);

/*
 * The version of the library actually loaded, as "MAJOR.MINOR.PATCH" (for
 * this header "1.1.0"). A host built against an older header can compare it
 * with the TUVELLO_VERSION_* macros it was compiled with.
 *
 * Returns a static string; never NULL, never to be freed.
 */
TUVELLO_API const char* TUVELLO_GetVersion(void);

/*
 * The length in bytes, header included, of the image TUVELLO_CreateSong(text)
 * would return, worked out without synthesizing a sample and without
 * allocating. It stops reading as soon as the length passes the limit.
 *
 * text: as for TUVELLO_CreateSong; NULL counts as "".
 * Returns the length (44 for a text without notes), or -1 when the image would
 * exceed INT32_MAX bytes. A host that gets NULL from TUVELLO_CreateSong or
 * TUVELLO_OpenSong tells "too long" (-1 here) from "out of memory" this way.
 *
 * See also: TUVELLO_CreateSong, TUVELLO_OpenSong.
 */
TUVELLO_API int64_t TUVELLO_MeasureSong(const char* text);

/*
 * A song reader yields exactly the bytes of TUVELLO_CreateSong(text), in
 * order, into buffers the caller supplies, synthesizing them as they are
 * read: it holds a few KiB whatever the song's length, never the image (once
 * sought backward, also an index of places in the text, at most 64 KiB).
 *
 * The reader does NOT copy the text: the caller keeps it alive and unchanged
 * until TUVELLO_CloseSong. A reader is used by one thread at a time; separate
 * readers are independent.
 */
typedef struct TUVELLO_SongReader TUVELLO_SongReader;

/*
 * Opens a reader at the image's first byte.
 *
 * text: as for TUVELLO_CreateSong (NULL counts as ""); read until the reader
 *       is closed, never modified.
 * Returns a reader owned by the caller until TUVELLO_CloseSong, or NULL when
 * memory runs out or the image would exceed INT32_MAX bytes
 * (TUVELLO_MeasureSong tells which).
 *
 * See also: TUVELLO_ReadSong, TUVELLO_SeekSong, TUVELLO_CloseSong.
 */
TUVELLO_API TUVELLO_SongReader* TUVELLO_OpenSong(const char* text);

/*
 * Copies the image's next bytes into buffer and moves past them.
 *
 * buffer: room for capacity bytes (may be NULL when capacity is 0).
 * Returns the number of bytes written: capacity, or fewer only at the image's
 * end; 0 at the end (or for capacity 0); -1 for a NULL reader, a NULL buffer
 * with capacity > 0, or a negative capacity.
 */
TUVELLO_API int32_t TUVELLO_ReadSong(TUVELLO_SongReader* reader, uint8_t* buffer, int32_t capacity);

/*
 * Moves the reader to byte `offset` of the image; the next read starts there.
 * Any offset from 0 to the image's length (the end) is allowed. Seeking
 * walks the text from the current note, or from the nearest place of the
 * reader's index before the offset (the first seek backward walks from the
 * text's start and starts the index); no seek synthesizes the bytes passed
 * over.
 *
 * Returns 0, or -1 for a NULL reader or an offset outside [0, length]
 * (the position is then unchanged).
 */
TUVELLO_API int32_t TUVELLO_SeekSong(TUVELLO_SongReader* reader, int64_t offset);

/*
 * Releases a reader; the text may then be freed.
 *
 * Returns 1 when a reader was released, 0 for NULL (nothing happens).
 */
TUVELLO_API int32_t TUVELLO_CloseSong(TUVELLO_SongReader* reader);

/* TUVELLO_Note.flags: the modes the note block is rendered with. */
#define TUVELLO_NOTE_PIPE 1  /* every sixteenth sample at twice the frequency */
#define TUVELLO_NOTE_DECAY 2 /* a linear fade over the block */

/*
 * One note or pause of a song: the command that made it and the note block it
 * made. Fields are only ever appended; struct_size says how many are filled.
 */
typedef struct TUVELLO_Note {
  uint32_t struct_size; /* sizeof(TUVELLO_Note) as the library fills it */
  int32_t command;      /* 1-based number of the command in the text (INT32_MAX past it) */
  int64_t text_offset;  /* byte offset of the command as written (before trimming) */
  int64_t text_length;  /* its length in bytes, without the ';' */
  int64_t image_offset; /* byte offset of the note block in the image (the first is 44) */
  int32_t bytes;        /* block size in bytes, always even */
  int32_t frames;       /* frames that carry the tone; the block's last frames are silent */
  double
      pitch_hz; /* the pitch a listener hears, in Hz (half the tone's frequency); 0 for a pause */
  int32_t amplitude; /* peak sample value at the block's start (0 for a pause) */
  int32_t flags;     /* TUVELLO_NOTE_PIPE | TUVELLO_NOTE_DECAY */
} TUVELLO_Note;

/* Called once per note; the note is valid during the call only. Return
   nonzero to stop the walk, 0 to go on. */
typedef int (*TUVELLO_NoteVisitor)(const TUVELLO_Note* note, void* context);

/*
 * Visits the song's notes and pauses in text order: the note map of the image
 * TUVELLO_CreateSong(text) returns, whose data chunk their blocks tile.
 * Allocates nothing and synthesizes no sample.
 *
 * text: as for TUVELLO_CreateSong (NULL counts as "").
 * visit: called with each note and `context`; NULL only counts the notes.
 * Returns the number of notes visited (the stopping one included), or -1
 * when the image would exceed INT32_MAX bytes (then no note is visited).
 *
 * See also: TUVELLO_ForEachWarning, TUVELLO_OpenSong.
 */
TUVELLO_API int32_t TUVELLO_ForEachNote(const char* text, TUVELLO_NoteVisitor visit, void* context);

/*
 * What a warning is about. Open: later versions and other sources of warnings
 * (such as importers) append kinds; treat an unknown kind as a plain warning.
 */
enum {
  TUVELLO_WARN_EMPTY = 1,        /* an empty command, or a value without a key */
  TUVELLO_WARN_UNKNOWN_KEY = 2,  /* not a key of the notation: skipped */
  TUVELLO_WARN_OUT_OF_RANGE = 3, /* a setting's value outside its range: unchanged */
  TUVELLO_WARN_NOT_A_NUMBER = 4, /* a setting's value that reads otherwise than written */
  TUVELLO_WARN_IGNORED_TEXT = 5, /* text that plays no part: a note's value, a third field */
  TUVELLO_WARN_NO_EFFECT = 6,    /* a setting that no note follows */
  TUVELLO_WARN_TOO_LONG = 7,     /* the image passes INT32_MAX bytes at this note */
  TUVELLO_WARN_SONG_TEXT_KINDS_END = 64, /* kinds below this describe song text; others follow it */
  /* TUVELLO_ConvertRtttl's, about the ringtone: */
  TUVELLO_WARN_RTTTL_SECTION = 65,   /* a missing name, settings or notes section */
  TUVELLO_WARN_RTTTL_SETTING = 66,   /* an unknown, empty or malformed setting: ignored */
  TUVELLO_WARN_RTTTL_NUMBER = 67,    /* a number missing, malformed or out of range */
  TUVELLO_WARN_RTTTL_NOTE = 68,      /* an unknown or empty note, or bytes after one: skipped */
  TUVELLO_WARN_RTTTL_OCTAVE = 69,    /* an octave out of reach, moved to octave 3 or 6 */
  TUVELLO_WARN_RTTTL_TOO_SHORT = 70, /* notes shorter than 20 ms, played as 20 ms */
  TUVELLO_WARN_RTTTL_SPLIT = 71,     /* notes longer than 500 ms, played as repeated notes */
  TUVELLO_WARN_RTTTL_DRIFT = 72,     /* the tune's length off by more than 1 % */
  /* Informational: nothing is lost, the ringtone was read as its writer most
     likely meant it (a name holding ':'). */
  TUVELLO_WARN_RTTTL_GUESS = 73,
  TUVELLO_WARN_RTTTL_SHIFT = 74, /* the whole tune moved by whole octaves into reach */
  /* TUVELLO_ExportRtttl's, about the song text: */
  TUVELLO_WARN_EXPORT_SETTING = 75, /* vol, pipe, dec: not in a ringtone; pipe, dec: not in MIDI */
  TUVELLO_WARN_EXPORT_PITCH = 76,   /* an "oct" that is no whole octave: the nearest semitone */
  TUVELLO_WARN_EXPORT_LENGTH = 77,  /* a length no note value reaches within 1 ms: the nearest */
  /* TUVELLO_ConvertRtttlEx's, last: the note at which the song image would
     pass options->max_image_bytes; the conversion stops there */
  TUVELLO_WARN_RTTTL_TOO_LONG = 78,
  /* TUVELLO_ConvertMidi's, about the MIDI file: */
  TUVELLO_WARN_MIDI_FILE = 96,       /* its layout: header, chunk lengths, unknown chunks */
  TUVELLO_WARN_MIDI_EVENT = 97,      /* track events: bad lengths, no status, cut short */
  TUVELLO_WARN_MIDI_NO_NOTES = 98,   /* no such track, or no notes where they were looked for */
  TUVELLO_WARN_MIDI_OVERLAP = 99,    /* notes sounding together, of which one plays */
  TUVELLO_WARN_MIDI_SHIFT = 100,     /* the whole tune moved by whole octaves into reach */
  TUVELLO_WARN_MIDI_OCTAVE = 101,    /* notes still out of reach, moved into octave 3 or 6 */
  TUVELLO_WARN_MIDI_TOO_SHORT = 102, /* notes shorter than 20 ms, played as 20 ms */
  TUVELLO_WARN_MIDI_SPLIT = 103,     /* notes longer than 500 ms, played as repeated notes */
  TUVELLO_WARN_MIDI_VOLUME = 104,    /* a velocity softer than vol:5, played at vol:5 */
  TUVELLO_WARN_MIDI_TOO_LONG = 105   /* a tune longer than a song image holds: the rest left out */
};

/*
 * A command that has no effect, or not the one its writer probably meant.
 * Fields are only ever appended; struct_size says how many are filled.
 */
typedef struct TUVELLO_Warning {
  uint32_t struct_size; /* sizeof(TUVELLO_Warning) as the library fills it */
  int32_t command;      /* 1-based number of the command (INT32_MAX past it) */
  int64_t text_offset;  /* byte offset of the command as written */
  int64_t text_length;  /* its length in bytes, without the ';' */
  int32_t kind;         /* TUVELLO_WARN_*: the main cause when several apply */
  const char* message;  /* one line of printable ASCII, e.g. "command 2 'x:5': unknown key
                           'x', so the command is skipped"; valid during the call only */
} TUVELLO_Warning;

/* Called once per warning; the warning is valid during the call only. Return
   nonzero to stop, 0 to go on. */
typedef int (*TUVELLO_WarningVisitor)(const TUVELLO_Warning* warning, void* context);

/*
 * Visits the warnings of a song text in text order, at most one per command:
 * the commands that TUVELLO_CreateSong skips, reads otherwise than written,
 * or that change nothing. Allocates nothing; reads the text once, and the
 * stretches after settings once more, to see whether a note follows them.
 *
 * text: as for TUVELLO_CreateSong (NULL counts as "").
 * visit: called with each warning and `context`; NULL only counts them.
 * Returns the number of warnings visited (the stopping one included; at most
 * INT32_MAX).
 *
 * See also: TUVELLO_ForEachNote.
 */
TUVELLO_API int32_t TUVELLO_ForEachWarning(const char* text, TUVELLO_WarningVisitor visit,
                                           void* context);

/*
 * Converts an RTTTL ringtone ("name:d=4,o=5,b=125:8c6,8e6,g6,p,2c7") into
 * song text that plays it ("len:240;oct:7;c;e;len:480;g;p;c;c"),
 * reporting what the song text cannot keep.
 *
 * Ringtone: name, settings and notes, separated by ':' (a name may hold ':'
 * when what follows its last two reads as settings and notes). Settings d=
 * (note value, default 4), o= (octave, default 6) and b= (beats per minute, a
 * beat being a quarter note, default 63; a decimal such as b=112.5 is kept
 * exact). Notes separated by ',', which may also end the section, each
 * [value] [#] name [#, _ or b] [.] [octave] [# or _] [.]: value 1, 2, 4, 8,
 * 16, 32 or 64; name a to g (h for B too), p a pause; '#' or '_' sharp, 'b'
 * flat, one per note; '.' one and a half times as long. Case and blanks
 * (space, tab, CR, LF) do not matter, between the characters of a note too.
 *
 * Pitch: notes sound at their octave (a4 = 440 Hz). Octaves 3 to 6 play
 * exactly (oct:0, 1, 3, 7); notes in other octaves play in octave 3 or 6,
 * each moved alone and said once per octave. This function keeps these
 * octaves of version 1.1; TUVELLO_ConvertRtttlEx moves the whole tune instead
 * by default, keeping its melody. Sharps and flats become the song text's
 * keys ("a#" is "b", "b" is "h"; "b#" is "c" an octave up, "cb" "h" an octave
 * down). Length: whole milliseconds, rounded to nearest (ties to even);
 * shorter than 20 ms plays as 20 ms; longer than 500 ms plays as that many
 * repeated notes of equal length (within 1 ms) as it takes, each restarting
 * its tone. "len" and "oct" are written only when they change; nothing else
 * is (default volume, no modes).
 *
 * Malformed parts are reported and skipped or read as a player would: a
 * missing settings section means the defaults, a bad value keeps the default,
 * an unknown note is skipped, stray bytes after a note are ignored.
 *
 * rtttl: the ringtone, a NUL-terminated string; only read. NULL counts as "".
 * text: where the song text goes; may be NULL when capacity is 0.
 * capacity: bytes at text. When the song text and its NUL fit, both are
 *           written; else, for capacity > 0, text[0] is NUL. Nothing is
 *           written at or past text + capacity.
 * visit: called with each warning and `context`, in the order found (the
 *        tune's length last); text_offset and text_length locate the bytes
 *        concerned in the ringtone (length 0 marks a place, e.g. where a
 *        section is missing), command is the 1-based number of the note in the
 *        notes section (0 for the name, settings and the tune as a whole;
 *        INT32_MAX past it), kind is a TUVELLO_WARN_RTTTL_* value. A nonzero
 *        return stops the warnings; the conversion goes on. NULL: no
 *        warnings.
 *
 * Returns the song text's length without its NUL (so call with capacity 0,
 * then with length + 1), or -1 when capacity < 0 or text is NULL with
 * capacity > 0 (nothing is written or visited then). Allocates nothing; time
 * linear in the ringtone and the song text.
 *
 * See also: TUVELLO_CreateSong, TUVELLO_ForEachWarning.
 */
TUVELLO_API int64_t TUVELLO_ConvertRtttl(const char* rtttl, char* text, int64_t capacity,
                                         TUVELLO_WarningVisitor visit, void* context);

/* TUVELLO_RtttlOptions.octave_shift: how notes outside octaves 3 to 6 are
   brought into reach. */
#define TUVELLO_OCTAVE_SHIFT_AUTO 0 /* the whole tune, by whole octaves (the default) */
#define TUVELLO_OCTAVE_SHIFT_NONE 1 /* each note alone, as TUVELLO_ConvertRtttl does */
#define TUVELLO_OCTAVE_SHIFT_BY 2   /* the whole tune by `octaves`, then each note left out */

/*
 * Options of TUVELLO_ConvertRtttlEx. Fields are only ever appended: set
 * struct_size to sizeof(TUVELLO_RtttlOptions) as your header has it, and
 * fields past it take their defaults (all zero is all defaults).
 */
typedef struct TUVELLO_RtttlOptions {
  uint32_t struct_size; /* sizeof(TUVELLO_RtttlOptions), at least 8 */
  int32_t octave_shift; /* TUVELLO_OCTAVE_SHIFT_AUTO, _NONE or _BY */
  int32_t octaves;      /* for TUVELLO_OCTAVE_SHIFT_BY: -8 to 8, negative lower */
  /* 0: no limit. Else at least 44: the conversion stops, returning
     -2, at the first note whose song text makes the image longer than this
     many bytes (INT32_MAX: exactly the tunes TUVELLO_CreateSong renders). */
  int64_t max_image_bytes;
} TUVELLO_RtttlOptions;

/*
 * TUVELLO_ConvertRtttl with options; options NULL means the defaults.
 *
 * TUVELLO_OCTAVE_SHIFT_AUTO: when the tune's notes reach outside octaves 3
 * to 6 but span at most four octaves, the whole tune moves by the fewest
 * whole octaves that bring every note into reach, so it keeps its melody and
 * every note its pitch class; one TUVELLO_WARN_RTTTL_SHIFT says so ("it
 * plays an octave lower"). A tune spanning more than four octaves moves by
 * the whole octaves that keep the most notes exact (the fewest on a tie,
 * downward before upward), and the notes still out of reach play in octave
 * 3 or 6, each run of them one TUVELLO_WARN_RTTTL_OCTAVE. Under
 * TUVELLO_OCTAVE_SHIFT_BY the whole tune moves by `octaves`, unwarned, and
 * the notes then out of reach are said by run. TUVELLO_OCTAVE_SHIFT_NONE is
 * TUVELLO_ConvertRtttl: each note alone, said once per octave.
 *
 * The whole-tune shift needs the tune's octaves before the first note is
 * written: the notes are read twice, still without allocating.
 *
 * With options->max_image_bytes, the song image is counted as the song text
 * is written, by the rule of TUVELLO_MeasureSong (44 header bytes and each
 * note block; a tune exactly at the limit converts), and the conversion
 * stops at the first note that would make it longer than the limit: a
 * ringtone whose song text is hundreds of times its size is read only that
 * far, so the time stays linear in the part of the ringtone read. The last
 * warning visited is then TUVELLO_WARN_RTTTL_TOO_LONG, whose text_offset,
 * text_length and command locate that note in the ringtone (unless the
 * visitor stopped the warnings before).
 *
 * Returns as TUVELLO_ConvertRtttl does; -2 when the image would pass
 * options->max_image_bytes (then, for capacity > 0, text[0] is NUL, as for
 * a text that does not fit); and -1 (nothing written or visited) also when
 * options has struct_size below 8, an unknown octave_shift, octaves outside
 * -8 to 8, or max_image_bytes negative or from 1 to 43.
 */
TUVELLO_API int64_t TUVELLO_ConvertRtttlEx(const char* rtttl, char* text, int64_t capacity,
                                           const TUVELLO_RtttlOptions* options,
                                           TUVELLO_WarningVisitor visit, void* context);

/*
 * The name of an RTTTL ringtone as TUVELLO_ConvertRtttl reads it: the text
 * before its first ':', or before the settings and notes that follow the
 * last two ':' when the name holds ':' (TUVELLO_WARN_RTTTL_GUESS), blanks
 * (space, tab, CR, LF) around it left out. For naming a tune's files and
 * lists exactly as the conversion sees it.
 *
 * Returns the name's length in bytes and stores where it starts in rtttl in
 * *offset (when offset is not NULL); 0, and *offset 0, when the ringtone has
 * no name section (no ':', or settings before its only ':') or an empty
 * name; -1 when rtttl is NULL. Reads up to the first NUL; allocates nothing.
 *
 * See also: TUVELLO_ConvertRtttlEx.
 */
TUVELLO_API int64_t TUVELLO_RtttlName(const char* rtttl, int64_t* offset);

/*
 * Writes a song text as an RTTTL ringtone ("len:200;c;e;g;p;c" gives
 * "tune:d=4,o=3,b=300:c,e,g,p,c").
 *
 * The song's notes are those TUVELLO_ForEachNote visits. Settings: b= is a
 * whole tempo from 25 to 900 chosen so that as many notes as possible last
 * their length within 1 ms, then as many as possible come back to it exactly
 * when converted again, then the other notes are nearest, then the ringtone
 * is shortest; d= is the value that saves the most bytes, o= the most common
 * octave. Notes are written [value] name [#] [octave] [.] with value 1 to
 * 32, and the value and octave only where they differ from d= and o=. A song
 * without notes gives "d=4,o=5,b=63" and no notes.
 *
 * What a ringtone cannot hold is warned once per song text command that
 * sets it, when the first note it concerns is written: vol below 100
 * (TUVELLO_WARN_EXPORT_SETTING; the player's volume), pipe and dec (the
 * same; plain notes), an "oct" that is no whole octave (oct:2, 4, 5, 6, 8;
 * TUVELLO_WARN_EXPORT_PITCH; the nearest semitone), a length that no note
 * value at the chosen b= reaches within 1 ms (TUVELLO_WARN_EXPORT_LENGTH;
 * the nearest). text_offset and text_length locate the command in the song
 * text (the note itself for the default length), command is its number.
 *
 * text: the song text, as for TUVELLO_CreateSong (NULL counts as "").
 * name: the ringtone's name (NULL counts as ""); each ':' and control byte
 *       in it is written as '_'.
 * rtttl, capacity: as text and capacity of TUVELLO_ConvertRtttl.
 * visit: called with each warning and `context`; a nonzero return stops the
 *        warnings, not the conversion. NULL: no warnings.
 *
 * Returns the ringtone's length without its NUL, or -1 when capacity < 0 or
 * rtttl is NULL with capacity > 0. Allocates nothing; time linear in the
 * song text and the ringtone.
 *
 * See also: TUVELLO_ConvertRtttlEx, TUVELLO_ForEachNote.
 */
TUVELLO_API int64_t TUVELLO_ExportRtttl(const char* text, const char* name, char* rtttl,
                                        int64_t capacity, TUVELLO_WarningVisitor visit,
                                        void* context);

/* TUVELLO_MidiOptions.overlap: which of several notes sounding together plays. */
#define TUVELLO_MIDI_HIGHEST 0 /* the highest key (the default) */
#define TUVELLO_MIDI_LOWEST 1  /* the lowest key */
#define TUVELLO_MIDI_FIRST 2   /* the key that has sounded longest */

/*
 * How TUVELLO_ConvertMidi reads a file. Fields are only ever appended: set
 * struct_size to sizeof(TUVELLO_MidiOptions) as your header has it; fields
 * past struct_size take their defaults. All zero but struct_size (and a NULL
 * options pointer) means the defaults.
 */
typedef struct TUVELLO_MidiOptions {
  uint32_t struct_size; /* bytes of this struct the caller filled in */
  int32_t track;        /* 1-based track chunk to play; 0: the first track with notes */
  int32_t channel;      /* 1 to 16: only that channel's notes; 0: every channel */
  int32_t overlap;      /* TUVELLO_MIDI_HIGHEST, TUVELLO_MIDI_LOWEST or TUVELLO_MIDI_FIRST */
  int32_t velocity;     /* nonzero: each note's velocity sets "vol"; 0: full volume */
} TUVELLO_MidiOptions;

/*
 * Converts a Standard MIDI File into song text that plays its melody
 * ("MThd..." into "len:500;oct:1;e;e;f;g"), reporting what the song text
 * cannot keep and what in the file is broken.
 *
 * Files: formats 0, 1 and 2; ticks per quarter note with tempo changes
 * anywhere (FF 51), or time code (24, 25, 29.97, 30 frames per second);
 * running status; a note-on of velocity 0 is a note-off. Controllers, program
 * changes, system exclusive and meta events other than tempo carry no melody
 * and are passed over in silence. One track is played, the chosen one (by
 * default the first with notes on the chosen channels), with the tempo
 * changes of the first track and of its own (in format 2, its own only).
 *
 * One voice: of the notes sounding at any moment, the overlap rule picks the
 * one that plays (a note taken over stops; a note still held when the one
 * over it ends sounds again); warned once until the notes fall silent.
 * Silence becomes "p". Times come from ticks and tempos exactly and are
 * rounded to whole milliseconds (ties to even) at every note's start and
 * end, so no rounding accumulates. A silence or a note sounding again for
 * less than 20 ms lengthens the note before it, a note taken over within
 * 20 ms gives its time to the next; a note struck and released within 20 ms
 * plays 20 ms, and the notes after it give back the difference. Longer than
 * 500 ms plays as repeated notes of equal length (within 1 ms), each
 * restarting its tone. Pitch: keys 48 to 95 (C3 to B6, A4 = 440 Hz = key 69)
 * play exactly, as "c" to "h" with oct:0, 1, 3, 7; a tune outside them
 * spanning at most four octaves moves whole by whole octaves (one
 * TUVELLO_WARN_MIDI_SHIFT), otherwise by the octaves that keep most notes
 * exact, and each run of notes still out of reach plays in the nearest
 * octave in reach (one TUVELLO_WARN_MIDI_OCTAVE). With options->velocity,
 * "vol" is round(100 × velocity / 127), at least 5. "len", "vol" and "oct"
 * are written only when they change; a tune is cut at 48,000,000 ms, which
 * a song image still holds.
 *
 * A malformed file is read on where a lenient reader would: bytes before
 * the header and unknown chunks are skipped, a chunk running past the end
 * is read to the end, bytes that are no chunk are skipped to the next
 * track, a broken event ends or skips as little as it can.
 *
 * smf: the file's bytes; only read; may be NULL when size is 0.
 * size: the number of bytes at smf.
 * options: NULL, or how to read (see TUVELLO_MidiOptions).
 * text, capacity: as for TUVELLO_ConvertRtttl: when the song text and its
 *           NUL fit they are written; else, for capacity > 0, text[0] is NUL.
 *           Nothing is written at or past text + capacity.
 * visit: called with each warning and `context`, in the order found (the
 *        file's layout and every track's events first, then the melody's);
 *        text_offset and text_length locate the bytes
 *        concerned in the file (length 0 marks a place), command is the
 *        1-based number of the track chunk concerned (0 for the file as a
 *        whole), kind is a TUVELLO_WARN_MIDI_* value. A nonzero return stops
 *        the warnings; the conversion goes on. NULL: no warnings.
 *
 * Returns the song text's length without its NUL, or -1 (nothing written or
 * visited) when capacity < 0, text is NULL with capacity > 0, smf is NULL
 * with size > 0, size < 0, or an option is out of range (track < 0, channel
 * outside 0 to 16, an unknown overlap rule). Allocates nothing and holds a
 * few KiB; time linear in the file and the song text.
 *
 * See also: TUVELLO_ExportMidi, TUVELLO_ConvertRtttl.
 */
TUVELLO_API int64_t TUVELLO_ConvertMidi(const uint8_t* smf, int64_t size,
                                        const TUVELLO_MidiOptions* options, char* text,
                                        int64_t capacity, TUVELLO_WarningVisitor visit,
                                        void* context);

/*
 * Writes a song text as a Standard MIDI File that plays what the song image
 * sounds, to take a song into a MIDI editor or synthesizer (and back with
 * TUVELLO_ConvertMidi, which gives the same song text for songs in octave
 * multipliers).
 *
 * The file: format 0, one track, 1,000 ticks per quarter note at 60 quarter
 * notes a minute, so a tick is a millisecond. Every note block is a note-on
 * at the block's start and a note-off at its end, its start the sum of the
 * lengths ("len") before it (a block's silent last frames do not shorten its
 * note); pauses are silence. Pitch: the key nearest to the pitch heard (key
 * 69 = 440 Hz, so "a" with oct:0 is key 57), with a pitch bend before the
 * note where the multiplier is not a power of two (oct:2, 4, 5, 6, 8; 2 to
 * 31 cents off a key), the bend range first set to 2 semitones by
 * registered parameter 0 and the parameter then deselected; the pitch is
 * within 0.05 cent of the song's. Velocity: round(127 × vol / 100). Pipe and
 * decay mode have no MIDI equivalent: such notes play as plain notes, warned
 * once per command that turns the mode on, when the first note it concerns
 * is written.
 *
 * text: the song text, as for TUVELLO_CreateSong (NULL counts as "").
 * smf: where the file goes; may be NULL when capacity is 0.
 * capacity: bytes at smf. The file is written only when it fits whole;
 *           otherwise nothing is written.
 * visit: called with each warning and `context`, in text order: command,
 *        text_offset and text_length locate the "pipe" or "dec" command in
 *        the song text, kind is TUVELLO_WARN_EXPORT_SETTING. A nonzero
 *        return stops the warnings; the export goes on. NULL: no warnings.
 *
 * Returns the file's size in bytes (so call with capacity 0, then with that
 * size), or -1 (nothing written or visited) when capacity < 0, smf is NULL
 * with capacity > 0, or the song's image would exceed INT32_MAX bytes
 * (TUVELLO_MeasureSong returns -1). Allocates nothing; time linear in the
 * song text.
 *
 * See also: TUVELLO_ConvertMidi, TUVELLO_ForEachNote.
 */
TUVELLO_API int64_t TUVELLO_ExportMidi(const char* text, uint8_t* smf, int64_t capacity,
                                       TUVELLO_WarningVisitor visit, void* context);

#ifdef __cplusplus
}
#endif

#endif /* TUVELLO_H */
