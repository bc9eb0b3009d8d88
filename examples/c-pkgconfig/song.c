/* SPDX-License-Identifier: MIT */
/*
 * Renders a song with the installed library, checks its size and playing
 * time, and frees it. Built through pkg-config:
 *
 *     cc examples/c-pkgconfig/song.c $(pkg-config --cflags --libs tuvello) -o song
 */
#include <stdio.h>
#include <tuvello.h>

int main(void) {
  /* Five note blocks of 200 ms: 5 x 8820 bytes after the 44-byte header. */
  const char* text = "len:200;vol:80;c;e;g;p;c";
  uint8_t* song = TUVELLO_CreateSong(text);
  int32_t size;
  double seconds;
  int ok;

  if (song == NULL) {
    fprintf(stderr, "no song image for '%s'\n", text);
    return 1;
  }
  size = TUVELLO_GetSongSize(song);
  seconds = TUVELLO_GetSongDuration(song);
  printf("'%s': %ld bytes, %.3f s\n", text, (long)size, seconds);
  ok = size == 44 + 5 * 8820 && seconds == 1.0;
  if (!ok) fprintf(stderr, "expected %d bytes and 1.000 s\n", 44 + 5 * 8820);
  if (TUVELLO_FreeSong(song) != 1) {
    fprintf(stderr, "TUVELLO_FreeSong did not release the image\n");
    ok = 0;
  }
  return ok ? 0 : 1;
}
