/* SPDX-License-Identifier: MIT */
/* Preloaded into the tool by its tests: the allocation numbered by the
   environment variable FAIL_NTH_ALLOC (1 for the first malloc, calloc or
   realloc of the process) fails as when memory runs out, once, and says so
   on standard error, so that a test can walk every allocation in turn. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);

static long counted;

static int fails_now(void) {
  static long nth = -1;
  if (nth < 0) {
    const char* s = getenv("FAIL_NTH_ALLOC");
    nth = s != NULL ? strtol(s, NULL, 10) : 0;
  }
  if (++counted != nth) return 0;
  static const char said[] = "fail_nth_alloc: this allocation fails\n";
  ssize_t ignored = write(STDERR_FILENO, said, sizeof said - 1);
  (void)ignored;
  errno = ENOMEM;
  return 1;
}

__attribute__((visibility("default"))) void* malloc(size_t size) {
  return fails_now() ? NULL : __libc_malloc(size);
}
__attribute__((visibility("default"))) void* calloc(size_t count, size_t size) {
  return fails_now() ? NULL : __libc_calloc(count, size);
}
__attribute__((visibility("default"))) void* realloc(void* p, size_t size) {
  return fails_now() ? NULL : __libc_realloc(p, size);
}
