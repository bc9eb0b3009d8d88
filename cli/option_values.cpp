// SPDX-License-Identifier: MIT
#include "option_values.hpp"

#include <cstdlib>

#include "tuvello.h"

namespace tuvello::cli {

std::optional<std::int64_t> parse_max_bytes(const std::string& s) {
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 10) {
    return std::nullopt;
  }
  const std::int64_t n = std::strtoll(s.c_str(), nullptr, 10);
  if (n < TUVELLO_HEADER_BYTES || n > INT32_MAX) return std::nullopt;
  return n;
}

std::optional<std::size_t> parse_max_input(std::string s) {
  int shift = 0;
  if (!s.empty()) {
    const char unit = s.back();
    shift = unit == 'K' || unit == 'k'   ? 10
            : unit == 'M' || unit == 'm' ? 20
            : unit == 'G' || unit == 'g' ? 30
                                         : 0;
    if (shift != 0) s.pop_back();
  }
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 13) {
    return std::nullopt;
  }
  const unsigned long long n = std::strtoull(s.c_str(), nullptr, 10) << shift;
  if (n == 0 || n > (1ULL << 40) || (n >> shift) != std::strtoull(s.c_str(), nullptr, 10)) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(n);
}

bool parse_octave_shift(std::string_view s, Options& o) {
  if (s == "auto" || s == "none") {
    o.octave_shift = s == "auto" ? TUVELLO_OCTAVE_SHIFT_AUTO : TUVELLO_OCTAVE_SHIFT_NONE;
    o.octaves = 0;
    return true;
  }
  const bool negative = s.starts_with('-');
  if (negative || s.starts_with('+')) s.remove_prefix(1);
  if (s.size() != 1 || s[0] < '0' || s[0] > '8') return false;
  o.octave_shift = TUVELLO_OCTAVE_SHIFT_BY;
  o.octaves = negative ? -(s[0] - '0') : s[0] - '0';
  return true;
}

std::optional<std::int64_t> parse_count(const std::string& s, std::int64_t most) {
  if (s.empty() || s.size() > 6 || s.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const std::int64_t n = std::strtoll(s.c_str(), nullptr, 10);
  if (n < 1 || n > most) return std::nullopt;
  return n;
}

}  // namespace tuvello::cli
