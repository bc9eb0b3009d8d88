// SPDX-License-Identifier: MIT
// Renders a song through tuvello::tuvello, checks its size and playing time,
// and lets a unique_ptr free it.
#include <tuvello.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace {

struct FreeSong {
  void operator()(std::uint8_t* song) const { TUVELLO_FreeSong(song); }
};
using Song = std::unique_ptr<std::uint8_t, FreeSong>;

}  // namespace

int main() {
  const std::string header_version = std::to_string(TUVELLO_VERSION_MAJOR) + "." +
                                     std::to_string(TUVELLO_VERSION_MINOR) + "." +
                                     std::to_string(TUVELLO_VERSION_PATCH);
  if (header_version != TUVELLO_PACKAGE_VERSION) {
    std::fprintf(stderr, "package version %s, header version %s\n", TUVELLO_PACKAGE_VERSION,
                 header_version.c_str());
    return 1;
  }

  // Five note blocks of 200 ms: 5 x 8820 bytes after the 44-byte header.
  const char* text = "len:200;vol:80;c;e;g;p;c";
  const Song song{TUVELLO_CreateSong(text)};
  if (!song) {
    std::fprintf(stderr, "no song image for '%s'\n", text);
    return 1;
  }
  const std::int32_t size = TUVELLO_GetSongSize(song.get());
  const double seconds = TUVELLO_GetSongDuration(song.get());
  std::printf("tuvello %s, '%s': %ld bytes, %.3f s\n", header_version.c_str(), text,
              static_cast<long>(size), seconds);
  if (size != 44 + 5 * 8820 || seconds != 1.0) {
    std::fprintf(stderr, "expected %d bytes and 1.000 s\n", 44 + 5 * 8820);
    return 1;
  }
  return 0;
}
