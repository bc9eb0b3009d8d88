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
#define TUVELLO_VERSION_MINOR 0
#define TUVELLO_VERSION_PATCH 0

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

#ifdef __cplusplus
}
#endif

#endif /* TUVELLO_H */
