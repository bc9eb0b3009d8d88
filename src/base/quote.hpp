// SPDX-License-Identifier: MIT
// Bytes of a text as every message of the library shows them: one line of
// printable ASCII, whatever the bytes (a song text or a ringtone may hold
// anything), written the way the tool writes names and bytes.
#pragma once

#include <cstddef>
#include <string_view>

namespace tuvello::base {

// The most characters quote_bytes writes for `shown` bytes: four a byte
// ("\xHH") and the "..." of a cut.
constexpr std::size_t quoted_length(std::size_t shown) { return 4 * shown + 3; }

// Writes the first `shown` bytes of `bytes`, each through put(char):
// printable ASCII (0x20 to 0x7E) as it is but for the backslash, written
// "\\"; tab, CR and LF as "\t", "\r", "\n"; any other byte as "\xHH" (two
// upper-case hex digits). "..." follows when more bytes than `shown` are cut.
template <typename Put>
void quote_bytes(std::string_view bytes, std::size_t shown, Put&& put) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t n = bytes.size() < shown ? bytes.size() : shown;
  for (std::size_t i = 0; i < n; ++i) {
    const auto u = static_cast<unsigned char>(bytes[i]);
    const char escape = u == '\t' ? 't' : u == '\r' ? 'r' : u == '\n' ? 'n' : u == '\\' ? '\\' : 0;
    if (escape != 0) {
      put('\\');
      put(escape);
    } else if (u < 0x20 || u > 0x7E) {
      put('\\');
      put('x');
      put(kHex[u >> 4]);
      put(kHex[u & 0xF]);
    } else {
      put(static_cast<char>(u));
    }
  }
  if (bytes.size() > shown) {
    put('.');
    put('.');
    put('.');
  }
}

}  // namespace tuvello::base
