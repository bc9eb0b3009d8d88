// SPDX-License-Identifier: MIT
// Reading a command's value as a signed 32-bit integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tuvello::text {

struct ParsedInteger {
  std::int32_t value = 0;    // 0 when there are no digits
  bool has_digits = false;   // at least one digit was read
  bool saturated = false;    // the digits did not fit in 32 bits
  std::size_t consumed = 0;  // bytes read: blanks, sign and digits
};

// Skips leading spaces and tabs, takes one optional sign directly followed by
// decimal digits, and reads digits up to the first other byte. A number that
// does not fit saturates at INT32_MIN or INT32_MAX, as strtol does, instead of
// wrapping around.
ParsedInteger parse_integer(std::string_view s);

}  // namespace tuvello::text
