// SPDX-License-Identifier: MIT
// Arbitrary bytes as an RTTTL ringtone, converted with each octave choice:
// the conversion measures exactly what it writes, never writes past the capacity it is given, and
// writes song text of note keys and changed "len" and "oct" settings only, with lengths from 20 to
// 500 ms and octaves the notation plays exactly; every warning lies inside the ringtone and is one
// line of plain ASCII.
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
  std::size_t size = 0;  // the ringtone's bytes, up to its first NUL
  std::size_t warnings = 0;
};

int check_warning(const TUVELLO_Warning* w, void* p) {
  auto* c = static_cast<Context*>(p);
  ++c->warnings;
  TUVELLO_REQUIRE(w->struct_size == sizeof(TUVELLO_Warning));
  TUVELLO_REQUIRE(w->kind >= TUVELLO_WARN_RTTTL_SECTION && w->kind <= TUVELLO_WARN_RTTTL_SHIFT);
  TUVELLO_REQUIRE(w->command >= 0);
  TUVELLO_REQUIRE(w->text_offset >= 0 && w->text_length >= 0);
  TUVELLO_REQUIRE(static_cast<std::size_t>(w->text_offset + w->text_length) <= c->size);
  TUVELLO_REQUIRE(w->message != nullptr && w->message[0] != '\0');
  for (const char* m = w->message; *m != '\0'; ++m) TUVELLO_REQUIRE(*m >= 0x20 && *m < 0x7F);
  return 0;
}

bool is_note_key(std::string_view k) {
  static const char* const keys[] = {"c", "cs", "d", "ds", "e", "f", "fs",
                                     "g", "gs", "a", "b",  "h", "p"};
  for (const char* key : keys) {
    if (k == key) return true;
  }
  return false;
}

// The song text, read independently of the library's interpreter.
void check_song_text(std::string_view text) {
  std::int32_t len = 100;
  std::int32_t oct = 0;
  std::size_t begin = 0;
  while (begin <= text.size()) {
    std::size_t end = text.find(';', begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view command = text.substr(begin, end - begin);
    TUVELLO_REQUIRE(!command.empty() || text.empty());
    if (command.starts_with("len:") || command.starts_with("oct:")) {
      const std::string digits(command.substr(4));
      TUVELLO_REQUIRE(!digits.empty() && digits.size() <= 3 &&
                      digits.find_first_not_of("0123456789") == std::string::npos);
      const int value = std::atoi(digits.c_str());
      if (command[0] == 'l') {
        TUVELLO_REQUIRE(value >= 20 && value <= 500 && value != len);
        len = value;
      } else {
        TUVELLO_REQUIRE((value == 0 || value == 1 || value == 3 || value == 7) && value != oct);
        oct = value;
      }
    } else {
      TUVELLO_REQUIRE(is_note_key(command) || text.empty());
    }
    begin = end + 1;
  }
}

// One conversion, as TUVELLO_ConvertRtttl (options NULL) or with options.
std::int64_t convert(const std::string& ringtone, char* text, std::int64_t capacity,
                     const TUVELLO_RtttlOptions* options, TUVELLO_WarningVisitor visit,
                     void* context) {
  if (options == nullptr)
    return TUVELLO_ConvertRtttl(ringtone.c_str(), text, capacity, visit, context);
  return TUVELLO_ConvertRtttlEx(ringtone.c_str(), text, capacity, options, visit, context);
}

void check(const std::string& ringtone, const TUVELLO_RtttlOptions* options) {
  Context context;
  context.size = std::strlen(ringtone.c_str());
  const std::int64_t n = convert(ringtone, nullptr, 0, options, check_warning, &context);
  TUVELLO_REQUIRE(n >= 0);

  // Exactly the size measured: one byte short leaves the empty string.
  std::vector<char> text(static_cast<std::size_t>(n) + 1);
  TUVELLO_REQUIRE(convert(ringtone, text.data(), n + 1, options, nullptr, nullptr) == n);
  TUVELLO_REQUIRE(text[static_cast<std::size_t>(n)] == '\0');
  TUVELLO_REQUIRE(std::strlen(text.data()) == static_cast<std::size_t>(n));
  if (n > 0) {
    // A heap block of exactly n bytes: a write past it is caught.
    std::vector<char> short_by_one(static_cast<std::size_t>(n));
    TUVELLO_REQUIRE(convert(ringtone, short_by_one.data(), n, options, nullptr, nullptr) == n);
    TUVELLO_REQUIRE(short_by_one[0] == '\0');
  }
  check_song_text(std::string_view(text.data(), static_cast<std::size_t>(n)));

  // A visitor that stops sees one warning, if any.
  Context stopped = context;
  stopped.warnings = 0;
  const auto stop = [](const TUVELLO_Warning* w, void* p) { return check_warning(w, p) + 1; };
  TUVELLO_REQUIRE(convert(ringtone, nullptr, 0, options, stop, &stopped) == n);
  TUVELLO_REQUIRE(stopped.warnings == (context.warnings > 0 ? 1u : 0u));
}

// The image limit agrees with TUVELLO_MeasureSong: the song text's own image
// size converts, a byte less stops with TUVELLO_WARN_RTTTL_TOO_LONG last.
void check_limit(const std::string& ringtone, TUVELLO_RtttlOptions options) {
  const std::int64_t n = convert(ringtone, nullptr, 0, &options, nullptr, nullptr);
  std::vector<char> text(static_cast<std::size_t>(n) + 1);
  TUVELLO_REQUIRE(convert(ringtone, text.data(), n + 1, &options, nullptr, nullptr) == n);
  const std::int64_t image = TUVELLO_MeasureSong(text.data());
  options.max_image_bytes = image < 0 ? INT32_MAX : image;
  TUVELLO_REQUIRE(convert(ringtone, nullptr, 0, &options, nullptr, nullptr) ==
                  (image < 0 ? -2 : n));
  if (image == TUVELLO_HEADER_BYTES) return;
  if (image > 0) options.max_image_bytes = image - 1;
  int last_kind = 0;
  const auto last = [](const TUVELLO_Warning* w, void* p) {
    *static_cast<int*>(p) = w->kind;
    return 0;
  };
  TUVELLO_REQUIRE(convert(ringtone, nullptr, 0, &options, last, &last_kind) == -2);
  TUVELLO_REQUIRE(last_kind == TUVELLO_WARN_RTTTL_TOO_LONG);
}

}  // namespace

// Each ringtone with 1.1's octaves, the whole tune moved as needed, and moved
// by an octave count taken from its length.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string ringtone(reinterpret_cast<const char*>(data), size);
  check(ringtone, nullptr);
  const TUVELLO_RtttlOptions automatic = {sizeof automatic, TUVELLO_OCTAVE_SHIFT_AUTO, 0, 0};
  check(ringtone, &automatic);
  const TUVELLO_RtttlOptions by = {sizeof by, TUVELLO_OCTAVE_SHIFT_BY,
                                   static_cast<int32_t>(size % 17) - 8, 0};
  check(ringtone, &by);
  check_limit(ringtone, size % 2 == 0 ? automatic : by);
  return 0;
}
