// SPDX-License-Identifier: MIT
// Arbitrary bytes through `tuvello check`: it counts exactly the notes and the
// playing time the song image has, reports at most one warning per command in
// text order, and every line it prints stays one line of plain ASCII.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

bool one_plain_line(std::string_view s) {
  for (const char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::size_t offset = 0;
  std::size_t command = 0;
  std::size_t reported = 0;
  const auto visit = [&](const tuvello::cli::Diagnostic& d) {
    TUVELLO_REQUIRE(d.column > offset && d.column <= size + 1);  // in text order
    TUVELLO_REQUIRE(d.command == 0 || d.command > command);      // one per command
    TUVELLO_REQUIRE(one_plain_line(tuvello::cli::format_warning("fuzz", d)));
    offset = d.column;
    command = d.command == 0 ? command : d.command;
    ++reported;
    return true;
  };
  const tuvello::cli::CheckSummary summary = tuvello::cli::for_each_warning(text, visit);
  TUVELLO_REQUIRE(summary.warnings == reported);

  // The song as the library renders it: the text up to its first NUL.
  const std::string_view read(text.c_str());
  const tuvello_fuzz::ExpectedSong want = tuvello_fuzz::expected_song(read);
  TUVELLO_REQUIRE(summary.notes == want.notes.size());
  TUVELLO_REQUIRE(summary.seconds == static_cast<double>(want.data_bytes) / 44100.0);
  TUVELLO_REQUIRE(one_plain_line(tuvello::cli::format_summary("fuzz", summary)));
  return 0;
}
