/* SPDX-License-Identifier: MIT */
/* The public header compiles as strict C99 and links as plain C, its types
   and visitors included. */
#include <stdio.h>
#include <string.h>

#include "tuvello.h"

static int count_octave_warnings(const TUVELLO_Warning* warning, void* context) {
  *(int*)context += warning->kind == TUVELLO_WARN_RTTTL_OCTAVE;
  return 0;
}

static int count_note(const TUVELLO_Note* note, void* context) {
  int64_t* end = (int64_t*)context;
  *end = note->image_offset + note->bytes;
  return 0;
}

static int first_kind(const TUVELLO_Warning* warning, void* context) {
  *(int32_t*)context = warning->kind;
  return 1;
}

int main(void) {
  const char* song_text = "len:200;vol:80;c;e;g;p;c";
  uint8_t* song = TUVELLO_CreateSong(song_text);
  TUVELLO_SongReader* reader = TUVELLO_OpenSong(song_text);
  uint8_t buffer[4096];
  int64_t streamed = 0, end = 0;
  int32_t n, kind = 0;
  char text[32];
  int octaves = 0;
  int ok = song != NULL && reader != NULL && TUVELLO_GetSongSize(song) == 44 + 5 * 8820 &&
           TUVELLO_GetSongDuration(song) == 1.0;
  while (ok && (n = TUVELLO_ReadSong(reader, buffer, (int32_t)sizeof buffer)) > 0) {
    ok = memcmp(buffer, song + streamed, (size_t)n) == 0;
    streamed += n;
  }
  ok = ok && streamed == TUVELLO_MeasureSong(song_text) && TUVELLO_SeekSong(reader, 0) == 0;
  ok = ok && TUVELLO_ForEachNote(song_text, count_note, &end) == 5 && end == streamed;
  ok = ok && TUVELLO_ForEachWarning("c;x", first_kind, &kind) == 1 &&
       kind == TUVELLO_WARN_UNKNOWN_KEY;
  ok = ok && strcmp(TUVELLO_GetVersion(), "1.1.0") == 0;
  ok = ok && TUVELLO_CloseSong(reader) == 1 && TUVELLO_FreeSong(song) == 1;
  ok = ok &&
       TUVELLO_ConvertRtttl("t:d=8,o=7,b=150:c", text, (int64_t)sizeof text, count_octave_warnings,
                            &octaves) == 15 &&
       strcmp(text, "len:200;oct:7;c") == 0 && octaves == 1;
  printf("C99 header: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
