/* SPDX-License-Identifier: MIT */
/*
 * A host that loads the library at run time, as plugin hosts do: it needs no
 * header and no link against tuvello, only libtuvello.so.1 on the library
 * path when it runs.
 *
 *     cc examples/c-dlopen/song_dlopen.c -ldl -o song_dlopen
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

typedef uint8_t* (*create_song_fn)(const char* text);
typedef int32_t (*get_song_size_fn)(const uint8_t* song);
typedef double (*get_song_duration_fn)(const uint8_t* song);
typedef int32_t (*free_song_fn)(uint8_t* song);

/* dlsym hands back a void*. Storing it through a void** alias of the function
 * pointer is the POSIX way; ISO C has no cast between the two. */
static int find(void* library, const char* name, void* function) {
  void* address = dlsym(library, name);
  if (address == NULL) {
    fprintf(stderr, "libtuvello.so.1 has no %s\n", name);
    return 0;
  }
  *(void**)function = address;
  return 1;
}

int main(void) {
  const char* text = "len:200;vol:80;c;e;g;p;c";
  create_song_fn create_song;
  get_song_size_fn get_song_size;
  get_song_duration_fn get_song_duration;
  free_song_fn free_song;
  uint8_t* song;
  int32_t size;
  double seconds;
  int ok;
  void* library = dlopen("libtuvello.so.1", RTLD_NOW | RTLD_LOCAL);

  if (library == NULL) {
    fprintf(stderr, "cannot load the library: %s\n", dlerror());
    return 1;
  }
  if (!find(library, "TUVELLO_CreateSong", &create_song) ||
      !find(library, "TUVELLO_GetSongSize", &get_song_size) ||
      !find(library, "TUVELLO_GetSongDuration", &get_song_duration) ||
      !find(library, "TUVELLO_FreeSong", &free_song)) {
    dlclose(library);
    return 1;
  }

  song = create_song(text);
  if (song == NULL) {
    fprintf(stderr, "no song image for '%s'\n", text);
    dlclose(library);
    return 1;
  }
  size = get_song_size(song);
  seconds = get_song_duration(song);
  printf("'%s': %ld bytes, %.3f s (loaded at run time)\n", text, (long)size, seconds);
  ok = size == 44 + 5 * 8820 && seconds == 1.0;
  if (!ok) fprintf(stderr, "expected %d bytes and 1.000 s\n", 44 + 5 * 8820);
  if (free_song(song) != 1) {
    fprintf(stderr, "TUVELLO_FreeSong did not release the image\n");
    ok = 0;
  }
  dlclose(library);
  return ok ? 0 : 1;
}
