// SPDX-License-Identifier: MIT
// What both directions of the ringtone conversion write with: a text counted
// always and written while it fits, bytes quoted for a message, and exact
// integer ratios.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/quote.hpp"

namespace tuvello::rtttl {

// Bytes [begin, end) of a text.
struct Span {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t size() const { return end - begin; }
  bool empty() const { return begin == end; }
};

// num * 10^digits / den rounded to nearest, ties to even; num >= 0, 0 < den
// < INT64_MAX / 10. Long division, so num * 10^digits need not fit.
inline std::int64_t scaled_ratio(std::int64_t num, std::int64_t den, int digits = 0) {
  std::int64_t q = num / den;
  std::int64_t r = num % den;
  for (int d = 0; d < digits; ++d) {
    r *= 10;
    q = q * 10 + r / den;
    r %= den;
  }
  return 2 * r > den || (2 * r == den && (q & 1) != 0) ? q + 1 : q;
}

// Text bytes as they may appear in a message (base::quote_bytes), at most
// kShown bytes of the source.
class Quoted {
 public:
  Quoted(std::string_view s, Span span) {
    std::size_t n = 0;
    const std::string_view bytes(s.data() + span.begin, span.size());
    base::quote_bytes(bytes, kShown, [&](char c) { buf_[n++] = c; });
    buf_[n] = '\0';
  }
  const char* c_str() const { return buf_; }

 private:
  static constexpr std::size_t kShown = 12;
  char buf_[base::quoted_length(kShown) + 1] = {};
};

// The output text, written while it fits and counted always.
class TextWriter {
 public:
  TextWriter(char* out, std::int64_t capacity) : out_(out), capacity_(capacity) {}

  void put(char c) {
    if (size_ < capacity_) out_[size_] = c;
    ++size_;
  }
  void put(std::string_view s) {
    for (const char c : s) put(c);
  }
  void put_number(std::int64_t n) {
    assert(n >= 0);
    char digits[20];
    int k = 0;
    do {
      digits[k++] = static_cast<char>('0' + n % 10);
      n /= 10;
    } while (n > 0);
    while (k > 0) put(digits[--k]);
  }
  // Ends the text: its NUL when it fits, else the empty string.
  std::int64_t finish() {
    if (size_ < capacity_) {
      out_[size_] = '\0';
    } else if (capacity_ > 0) {
      out_[0] = '\0';
    }
    return size_;
  }

 private:
  char* out_;
  std::int64_t capacity_;
  std::int64_t size_ = 0;
};

}  // namespace tuvello::rtttl
