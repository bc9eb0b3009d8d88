// SPDX-License-Identifier: MIT
// Arbitrary bytes as a MIDI file, read with the default options and with
// others: the conversion measures exactly what it writes, never writes past
// the capacity it is given, and writes song text the library reads without
// a warning, of note keys and changed "len", "vol" and "oct" settings only,
// with octaves the notation plays exactly; every warning lies inside the
// file and is one line of plain ASCII.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "song_expectations.hpp"
#include "tuvello.h"

namespace {

struct Context {
  std::size_t size = 0;
  std::size_t warnings = 0;
};

int check_warning(const TUVELLO_Warning* w, void* p) {
  auto* c = static_cast<Context*>(p);
  ++c->warnings;
  TUVELLO_REQUIRE(w->struct_size == sizeof(TUVELLO_Warning));
  TUVELLO_REQUIRE(w->kind >= TUVELLO_WARN_MIDI_FILE && w->kind <= TUVELLO_WARN_MIDI_TOO_LONG);
  TUVELLO_REQUIRE(w->command >= 0);
  TUVELLO_REQUIRE(w->text_offset >= 0 && w->text_length >= 0);
  TUVELLO_REQUIRE(static_cast<std::size_t>(w->text_offset + w->text_length) <= c->size);
  TUVELLO_REQUIRE(w->message != nullptr && w->message[0] != '\0');
  for (const char* m = w->message; *m != '\0'; ++m) TUVELLO_REQUIRE(*m >= 0x20 && *m < 0x7F);
  return 0;
}

// The song text, read independently of the library's interpreter.
void check_song_text(std::string_view text) {
  static const char* const keys[] = {"c", "cs", "d", "ds", "e", "f", "fs",
                                     "g", "gs", "a", "b",  "h", "p"};
  int len = 100, vol = 100, oct = 0;
  std::size_t begin = 0;
  while (!text.empty() && begin <= text.size()) {
    std::size_t end = text.find(';', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view command = text.substr(begin, end - begin);
    const std::string_view key = command.substr(0, 4);
    if (key == "len:" || key == "vol:" || key == "oct:") {
      const std::string digits(command.substr(4));
      TUVELLO_REQUIRE(!digits.empty() && digits.size() <= 3 &&
                      digits.find_first_not_of("0123456789") == std::string::npos);
      const int value = std::atoi(digits.c_str());
      int& now = key[0] == 'l' ? len : key[0] == 'v' ? vol : oct;
      TUVELLO_REQUIRE(value != now);
      if (key[0] == 'l') TUVELLO_REQUIRE(value >= 20 && value <= 500);
      if (key[0] == 'v') TUVELLO_REQUIRE(value >= 5 && value <= 100);
      if (key[0] == 'o') TUVELLO_REQUIRE(value == 0 || value == 1 || value == 3 || value == 7);
      now = value;
    } else {
      bool known = false;
      for (const char* k : keys) known = known || command == k;
      TUVELLO_REQUIRE(known);
    }
    begin = end + 1;
  }
}

}  // namespace

namespace {

void check(const std::vector<std::uint8_t>& smf, const TUVELLO_MidiOptions* options) {
  const auto n_bytes = static_cast<std::int64_t>(smf.size());
  Context context;
  context.size = smf.size();
  const std::int64_t n =
      TUVELLO_ConvertMidi(smf.data(), n_bytes, options, nullptr, 0, check_warning, &context);
  TUVELLO_REQUIRE(n >= 0);

  std::vector<char> text(static_cast<std::size_t>(n) + 1);
  TUVELLO_REQUIRE(
      TUVELLO_ConvertMidi(smf.data(), n_bytes, options, text.data(), n + 1, nullptr, nullptr) == n);
  TUVELLO_REQUIRE(text[static_cast<std::size_t>(n)] == '\0');
  TUVELLO_REQUIRE(std::strlen(text.data()) == static_cast<std::size_t>(n));
  if (n > 0) {
    // A heap block of exactly n bytes: a write past it is caught.
    std::vector<char> short_by_one(static_cast<std::size_t>(n));
    TUVELLO_REQUIRE(TUVELLO_ConvertMidi(smf.data(), n_bytes, options, short_by_one.data(), n,
                                        nullptr, nullptr) == n);
    TUVELLO_REQUIRE(short_by_one[0] == '\0');
  }
  check_song_text(std::string_view(text.data(), static_cast<std::size_t>(n)));
  TUVELLO_REQUIRE(TUVELLO_ForEachWarning(text.data(), nullptr, nullptr) == 0);

  // A visitor that stops sees one warning, if any.
  Context stopped;
  stopped.size = smf.size();
  const auto stop = [](const TUVELLO_Warning* w, void* p) { return check_warning(w, p) + 1; };
  TUVELLO_REQUIRE(TUVELLO_ConvertMidi(smf.data(), n_bytes, options, nullptr, 0, stop, &stopped) ==
                  n);
  TUVELLO_REQUIRE(stopped.warnings == (context.warnings > 0 ? 1u : 0u));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A heap copy of exactly the file's bytes: a read past it is caught.
  const std::vector<std::uint8_t> smf(data, data + size);
  check(smf, nullptr);
  // Other options, picked by the file's size and last byte.
  const int pick = size == 0 ? 0 : data[size - 1];
  const TUVELLO_MidiOptions options{sizeof(TUVELLO_MidiOptions), static_cast<int32_t>(size % 3),
                                    pick % 17, pick % 3, 1};
  check(smf, &options);
  return 0;
}
