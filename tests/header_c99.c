/* The public header compiles as strict C99 and links as plain C. */
#include <stdio.h>
#include <string.h>

#include "tuvello.h"

static int count_octave_warnings(const TUVELLO_Warning* warning, void* context) {
  *(int*)context += warning->kind == TUVELLO_WARN_RTTTL_OCTAVE;
  return 0;
}

int main(void) {
  uint8_t* song = TUVELLO_CreateSong("len:200;vol:80;c;e;g;p;c");
  int ok = song != NULL && TUVELLO_GetSongSize(song) == 44 + 5 * 8820 &&
           TUVELLO_GetSongDuration(song) == 1.0 && TUVELLO_FreeSong(song) == 1;
  char text[32];
  int octaves = 0;
  ok = ok &&
       TUVELLO_ConvertRtttl("t:d=8,o=7,b=150:c", text, (int64_t)sizeof text, count_octave_warnings,
                            &octaves) == 15 &&
       strcmp(text, "len:200;oct:7;c") == 0 && octaves == 1;
  printf("C99 header: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
