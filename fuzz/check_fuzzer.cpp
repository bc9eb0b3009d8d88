// Arbitrary bytes through `tuvello check` and through the library: the check
// counts exactly the notes, commands and playing time the song image has, and
// every diagnostic it prints stays on one line of plain ASCII.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.hpp"
#include "image/create_song.hpp"
#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

// As in song_fuzzer: larger songs are refused under this cap instead of rendered.
constexpr std::int64_t kRenderBudget = std::int64_t{1} << 17;

bool one_plain_line(std::string_view s) {
  for (const char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const tuvello::cli::CheckReport report = tuvello::cli::check_song_text(text);

  // The song as the library renders it: the text up to its first NUL.
  const std::string_view read(text.c_str());
  const tuvello_fuzz::ExpectedSong want = tuvello_fuzz::expected_song(read);
  std::size_t commands = 0;
  std::size_t notes = 0;
  const auto count = [&](const tuvello::text::Command& c, const tuvello::text::NoteSettings&) {
    ++commands;
    notes += c.fate == tuvello::text::Fate::note_rendered;
  };
  const tuvello::text::CommandObserver observer = count;
  const std::int64_t cap =
      44 + want.data_bytes > kRenderBudget ? kRenderBudget : 44 + want.data_bytes;
  std::uint8_t* song = tuvello::image::create_song(read, cap, &observer);
  if (song == nullptr) {
    // Refused before any command was read: count from the expectations.
    TUVELLO_REQUIRE(44 + want.data_bytes > kRenderBudget);
    TUVELLO_REQUIRE(commands == 0);
    TUVELLO_REQUIRE(report.notes == want.notes.size());
    TUVELLO_REQUIRE(report.seconds == static_cast<double>(want.data_bytes) / 44100.0);
  } else {
    const double duration = TUVELLO_GetSongDuration(song);
    tuvello_fuzz::check_image(song, TUVELLO_GetSongSize(song), duration, want);
    TUVELLO_FreeSong(song);
    TUVELLO_REQUIRE(report.notes == notes);
    TUVELLO_REQUIRE(report.commands == commands);
    TUVELLO_REQUIRE(report.seconds == duration);
  }

  std::size_t column = 0;
  for (const tuvello::cli::Diagnostic& d : report.warnings) {
    TUVELLO_REQUIRE(d.column >= column);  // in text order
    TUVELLO_REQUIRE(d.column >= 1 && d.column <= size + 1);
    TUVELLO_REQUIRE(d.command <= report.commands);
    TUVELLO_REQUIRE(one_plain_line(tuvello::cli::format_warning("fuzz", d)));
    column = d.column;
  }
  TUVELLO_REQUIRE(one_plain_line(tuvello::cli::format_summary("fuzz", report)));
  return 0;
}
