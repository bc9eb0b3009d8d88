// SPDX-License-Identifier: MIT
// Reading song texts, writing to standard output and showing names for the
// command-line tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tuvello::cli {

// Input bytes held in anonymous memory that grows in place (mremap moves
// pages, it does not copy them), so reading costs the input's size once.
class InputBuffer {
 public:
  InputBuffer() = default;
  ~InputBuffer();
  InputBuffer(const InputBuffer&) = delete;
  InputBuffer& operator=(const InputBuffer&) = delete;

  // The bytes read, followed by a NUL byte (not part of the view) once
  // read_all has succeeded, so that data() is also a C string.
  std::string_view view() const { return {data_, size_}; }
  // Drops one "\n" or "\r\n" from the end: the line end that editors add
  // after the last line of a file.
  void drop_final_line_break();

  enum class Status { ok, unreadable, too_long, out_of_memory };
  // Reads all of `fd`, at most `max_bytes`. On `unreadable` errno is set.
  Status read_all(int fd, std::size_t max_bytes);

 private:
  bool reserve(std::size_t capacity);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Writes all `size` bytes to `fd`. Returns false (errno set) on failure.
bool write_all(int fd, const std::uint8_t* data, std::size_t size);

// A name as it may be shown on one line of a terminal: control bytes,
// backslash and bytes that are not printable UTF-8 are escaped (\t \n \xHH).
std::string escape_name(std::string_view name);

// `bytes` escaped the same way except that every byte above 0x7E is \xHH too,
// as the library escapes song text in its warnings: one line of plain ASCII.
std::string escape_bytes(std::string_view bytes);

// Writes one line to standard output. Returns false once writing has failed
// (errno set), so that a long report stops at the first lost line.
bool print_line(std::string_view line);
// Flushes standard output. Returns false (errno set) if anything was lost.
bool finish_stdout();

// "FILE:LINE:COLUMN" of byte offsets in a text, for offsets mostly in
// increasing order: each call walks on from the previous one.
class Locator {
 public:
  // `first_line` numbers the text's first line: a line of a larger file.
  Locator(std::string_view source, std::string_view text, std::size_t first_line = 1)
      : source_(source), text_(text), line_(first_line), first_line_(first_line) {}
  std::string operator()(std::size_t offset);

  // LINE counts the text's line breaks ("\n") from first_line; COLUMN is the 1-based
  // byte column in that line.
  struct Place {
    std::size_t line = 1;
    std::size_t column = 1;
  };
  Place place(std::size_t offset);

 private:
  std::string source_;
  std::string_view text_;
  std::size_t position_ = 0;
  std::size_t line_ = 1;
  std::size_t line_start_ = 0;
  std::size_t first_line_ = 1;
};

}  // namespace tuvello::cli
