// SPDX-License-Identifier: MIT
#include "text/integer_parse.hpp"

namespace tuvello::text {

ParsedInteger parse_integer(std::string_view s) {
  ParsedInteger out;
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const auto is_digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  if (!is_digit(i)) return out;  // a sign must be followed directly by digits

  // The magnitude stops growing past 2^31, so it never overflows 64 bits.
  constexpr std::int64_t kCap = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; is_digit(i); ++i) {
    if (magnitude <= kCap) magnitude = magnitude * 10 + (s[i] - '0');
  }
  const std::int64_t limit = negative ? kCap : kCap - 1;
  out.saturated = magnitude > limit;
  if (out.saturated) magnitude = limit;
  out.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  out.has_digits = true;
  out.consumed = i;
  return out;
}

}  // namespace tuvello::text
