/* SPDX-License-Identifier: MIT */
/*
 * A host as real ones are: it loads the shared object at run time and calls
 * the song functions by name.
 *
 *   song_host LIBRARY check           checks the known images, exit 0 if right
 *   song_host LIBRARY render CORPUS   writes the image of every line of CORPUS
 *                                     to standard output, back to back
 *   song_host LIBRARY file TEXT OUT   renders the whole file TEXT into the WAV
 *                                     file OUT, holding nothing but the text
 *                                     and the image (for peak-memory checks)
 *   song_host LIBRARY stream TEXT     streams the image of the whole file TEXT
 *                                     through a 64 KiB buffer and prints its
 *                                     length and a checksum of its bytes
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef uint8_t* (*create_fn)(const char*);
typedef int32_t (*size_fn)(const uint8_t*);
typedef float (*lenght_fn)(const uint8_t*);
typedef double (*duration_fn)(const uint8_t*);
typedef int32_t (*free_fn)(uint8_t*);

static create_fn create_song;
static size_fn get_size;
static lenght_fn get_lenght;
static duration_fn get_duration;
static free_fn free_song;
static int failures;

static void* symbol(void* lib, const char* name) {
  void* p = dlsym(lib, name);
  if (p == NULL) {
    fprintf(stderr, "missing symbol %s\n", name);
    exit(2);
  }
  return p;
}

static void expect(int ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "FAILED: %s\n", what);
    ++failures;
  }
}

static int check(void) {
  uint8_t* song = create_song("c");
  expect(song != NULL, "'c' renders");
  if (song == NULL) return 1;
  expect(get_size(song) == 4454, "'c' is 4454 bytes");
  expect(memcmp(song, "RIFF", 4) == 0 && memcmp(song + 8, "WAVE", 4) == 0, "RIFF/WAVE");
  expect(get_lenght(song) == 0.2f, "'c' lenght is 0.2");
  expect(get_duration(song) == 0.1, "'c' lasts 0.1 s");
  expect(song[44] == (1221 & 0xFF) && song[45] == (1221 >> 8), "first sample 1221");
  expect(free_song(song) == 1, "free returns 1");
  expect(free_song(NULL) == 0, "free(NULL) returns 0");
  expect(get_size(NULL) == 0 && get_lenght(NULL) == 0.0f && get_duration(NULL) == 0.0,
         "accessors tolerate NULL");
  song = create_song(NULL);
  expect(song != NULL && get_size(song) == 44, "NULL text is the empty song");
  free_song(song);
  printf("%s: %d failed\n", failures ? "host check FAILED" : "host check passed", failures);
  return failures != 0;
}

static int render(const char* corpus) {
  FILE* in = fopen(corpus, "r");
  char line[4096];
  if (in == NULL) {
    perror(corpus);
    return 2;
  }
  while (fgets(line, sizeof line, in) != NULL) {
    uint8_t* song;
    line[strcspn(line, "\n")] = '\0';
    song = create_song(line);
    if (song == NULL) {
      fprintf(stderr, "no image for '%s'\n", line);
      return 1;
    }
    fwrite(song, 1, (size_t)get_size(song), stdout);
    free_song(song);
  }
  fclose(in);
  return 0;
}

/* The whole file as a NUL-terminated text, or NULL after saying why. */
static char* read_text(const char* text_path, long* length_out) {
  FILE* in = fopen(text_path, "rb");
  long length;
  char* text;
  if (in == NULL || fseek(in, 0, SEEK_END) != 0 || (length = ftell(in)) < 0 ||
      fseek(in, 0, SEEK_SET) != 0) {
    perror(text_path);
    return NULL;
  }
  text = malloc((size_t)length + 1);
  if (text == NULL || fread(text, 1, (size_t)length, in) != (size_t)length) {
    fprintf(stderr, "cannot read %s\n", text_path);
    free(text);
    fclose(in);
    return NULL;
  }
  text[length] = '\0';
  fclose(in);
  *length_out = length;
  return text;
}

typedef struct TUVELLO_SongReader reader_t;

static int stream_file(void* lib, const char* text_path) {
  int64_t (*measure)(const char*);
  reader_t* (*open_song)(const char*);
  int32_t (*read_song)(reader_t*, uint8_t*, int32_t);
  int32_t (*close_song)(reader_t*);
  static uint8_t buffer[65536];
  uint64_t total = 0, checksum = 0;
  int32_t n, i;
  long length;
  reader_t* reader;
  char* text = read_text(text_path, &length);
  if (text == NULL) return 2;
  *(void**)&measure = symbol(lib, "TUVELLO_MeasureSong");
  *(void**)&open_song = symbol(lib, "TUVELLO_OpenSong");
  *(void**)&read_song = symbol(lib, "TUVELLO_ReadSong");
  *(void**)&close_song = symbol(lib, "TUVELLO_CloseSong");
  reader = open_song(text);
  if (reader == NULL) {
    fprintf(stderr, "no reader for %s\n", text_path);
    return 1;
  }
  while ((n = read_song(reader, buffer, (int32_t)sizeof buffer)) > 0) {
    for (i = 0; i < n; i += 4093) checksum = checksum * 31 + buffer[i];
    total += (uint64_t)n;
  }
  close_song(reader);
  printf("%ld bytes of text, %llu bytes streamed, checksum %llu\n", length,
         (unsigned long long)total, (unsigned long long)checksum);
  n = n == 0 && (int64_t)total == measure(text) ? 0 : 1;
  free(text);
  return n;
}

static int render_file(const char* text_path, const char* out_path) {
  FILE* out;
  long length;
  uint8_t* song;
  char* text = read_text(text_path, &length);
  if (text == NULL) return 2;
  song = create_song(text);
  free(text);
  if (song == NULL) {
    fprintf(stderr, "no image for %s\n", text_path);
    return 1;
  }
  out = fopen(out_path, "wb");
  if (out == NULL || fwrite(song, 1, (size_t)get_size(song), out) != (size_t)get_size(song) ||
      fclose(out) != 0) {
    perror(out_path);
    free_song(song);
    return 2;
  }
  printf("%s: %ld bytes of text, %ld bytes of image\n", out_path, length, (long)get_size(song));
  free_song(song);
  return 0;
}

int main(int argc, char** argv) {
  void* lib;
  if (argc < 3) {
    fprintf(stderr,
            "usage: song_host LIBRARY check | render CORPUS | file TEXT OUT | stream TEXT\n");
    return 2;
  }
  lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (lib == NULL) {
    fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  *(void**)&create_song = symbol(lib, "TUVELLO_CreateSong");
  *(void**)&get_size = symbol(lib, "TUVELLO_GetSongSize");
  *(void**)&get_lenght = symbol(lib, "TUVELLO_GetSongLenght");
  *(void**)&get_duration = symbol(lib, "TUVELLO_GetSongDuration");
  *(void**)&free_song = symbol(lib, "TUVELLO_FreeSong");
  if (strcmp(argv[2], "check") == 0) return check();
  if (strcmp(argv[2], "render") == 0 && argc > 3) return render(argv[3]);
  if (strcmp(argv[2], "file") == 0 && argc > 4) return render_file(argv[3], argv[4]);
  if (strcmp(argv[2], "stream") == 0 && argc > 3) return stream_file(lib, argv[3]);
  fprintf(stderr, "unknown mode %s\n", argv[2]);
  return 2;
}
