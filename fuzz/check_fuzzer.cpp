// SPDX-License-Identifier: MIT
// Arbitrary bytes through what `tuvello check` prints: it counts exactly the
// notes, pauses and playing time the song image has, reports its warnings in
// text order, and every line it prints stays one line of plain ASCII.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "report.hpp"
#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

bool one_plain_line(std::string_view s) {
  for (const char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// Takes every line and holds each warning's "fuzz:LINE:COLUMN:" to text order.
class Lines final : public tuvello::cli::WarningLines {
 public:
  bool line(const std::string& text, bool warning) override {
    TUVELLO_REQUIRE(one_plain_line(text));
    if (!warning) return true;
    unsigned long line = 0, column = 0;
    int used = 0;
    TUVELLO_REQUIRE(std::sscanf(text.c_str(), "fuzz:%lu:%lu:%n", &line, &column, &used) == 2 &&
                    used > 0);
    TUVELLO_REQUIRE(line >= 1 && column >= 1);
    TUVELLO_REQUIRE(std::pair(line, column) > last_);
    last_ = {line, column};
    ++warnings;
    return true;
  }
  std::size_t warnings = 0;

 private:
  std::pair<unsigned long, unsigned long> last_{0, 0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Lines lines;
  TUVELLO_REQUIRE(tuvello::cli::report_warnings(text, "fuzz", lines) == lines.warnings);

  // The song as the library renders it: the text up to its first NUL.
  const tuvello_fuzz::ExpectedSong want = tuvello_fuzz::expected_song(text.c_str());
  std::size_t pauses = 0;
  for (const auto& note : want.notes) pauses += note.pause ? 1 : 0;
  const tuvello::cli::SongSummary song = tuvello::cli::summarize_song(text);
  TUVELLO_REQUIRE(!song.too_long);
  TUVELLO_REQUIRE(song.notes + song.pauses == want.notes.size() && song.pauses == pauses);
  TUVELLO_REQUIRE(song.seconds == static_cast<double>(want.data_bytes) / 44100.0);
  TUVELLO_REQUIRE(one_plain_line(tuvello::cli::song_phrase(song)));
  return 0;
}
