/* The public header compiles as strict C99 and links as plain C. */
#include <stdio.h>

#include "tuvello.h"

int main(void) {
  uint8_t* song = TUVELLO_CreateSong("len:200;vol:80;c;e;g;p;c");
  int ok = song != NULL && TUVELLO_GetSongSize(song) == 44 + 5 * 8820 &&
           TUVELLO_GetSongDuration(song) == 1.0 && TUVELLO_FreeSong(song) == 1;
  printf("C99 header: %s\n", ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
