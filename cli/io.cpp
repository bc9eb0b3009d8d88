// SPDX-License-Identifier: MIT
#include "io.hpp"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tuvello::cli {
namespace {

constexpr std::size_t kFirstCapacity = std::size_t{1} << 16;

// Length of the UTF-8 sequence of a printable character at s[0], or 0 when
// the bytes are not one (C1 controls U+0080 to U+009F included).
std::size_t printable_utf8(std::string_view s) {
  const auto b = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto continuation = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const unsigned char lead = b(0);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (!continuation(i)) return 0;
    code = (code << 6) | (b(i) & 0x3F);
  }
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return code < 0xA0 ? 0 : length;
}

}  // namespace

InputBuffer::~InputBuffer() {
  if (data_ != nullptr) ::munmap(data_, capacity_);
}

bool InputBuffer::reserve(std::size_t capacity) {
  void* p = data_ == nullptr ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                             : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  if (p == MAP_FAILED) return false;
  data_ = static_cast<char*>(p);
  capacity_ = capacity;
  return true;
}

InputBuffer::Status InputBuffer::read_all(int fd, std::size_t max_bytes) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return Status::unreadable;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return Status::unreadable;
  }
  // One byte past the limit tells a text of exactly max_bytes from a longer one.
  const std::size_t limit = max_bytes + 1;
  std::size_t wanted = kFirstCapacity;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    wanted = static_cast<std::size_t>(st.st_size) + 1;  // +1 to see the end at once
  }
  if (!reserve(wanted < limit ? wanted : limit)) return Status::out_of_memory;
  for (;;) {
    if (size_ == capacity_) {
      if (capacity_ >= limit) return Status::too_long;
      const std::size_t grown = capacity_ > limit / 2 ? limit : capacity_ * 2;
      if (!reserve(grown)) return Status::out_of_memory;
    }
    const ssize_t n = ::read(fd, data_ + size_, capacity_ - size_);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return Status::unreadable;
    }
    size_ += static_cast<std::size_t>(n);
  }
  if (size_ > max_bytes) return Status::too_long;
  // The last read found room and returned 0, so a byte is free after the text;
  // anonymous memory is zero, but say so.
  data_[size_] = '\0';
  return Status::ok;
}

void InputBuffer::drop_final_line_break() {
  const std::string_view text = view();
  if (text.ends_with("\r\n")) {
    size_ -= 2;
  } else if (text.ends_with('\n')) {
    size_ -= 1;
  }
  if (data_ != nullptr) data_[size_] = '\0';
}

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

// Escapes control bytes, backslash and bytes above 0x7E (\t \n \r \\ \xHH),
// keeping printable UTF-8 sequences as they are when `keep_utf8`.
std::string escaped(std::string_view s, bool keep_utf8) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const auto u = static_cast<unsigned char>(s[i]);
    if (u >= 0x20 && u < 0x7F && u != '\\') {
      out += s[i++];
      continue;
    }
    if (const std::size_t n = keep_utf8 && u >= 0x80 ? printable_utf8(s.substr(i)) : 0; n > 0) {
      out.append(s.substr(i, n));
      i += n;
      continue;
    }
    switch (u) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default: {
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", u);
        out += hex;
      }
    }
    ++i;
  }
  return out;
}

}  // namespace

std::string escape_name(std::string_view name) { return escaped(name, true); }

std::string escape_bytes(std::string_view bytes) { return escaped(bytes, false); }

bool print_line(std::string_view line) {
  if (std::ferror(stdout)) return false;
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::putc('\n', stdout);
  return !std::ferror(stdout);
}

bool finish_stdout() {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    if (errno == 0) errno = EIO;
    return false;
  }
  return true;
}

Locator::Place Locator::place(std::size_t offset) {
  if (offset < position_) {
    position_ = 0;
    line_ = first_line_;
    line_start_ = 0;
  }
  while (position_ < offset) {
    const void* nl = std::memchr(text_.data() + position_, '\n', offset - position_);
    if (nl == nullptr) break;
    position_ = static_cast<std::size_t>(static_cast<const char*>(nl) - text_.data()) + 1;
    line_start_ = position_;
    ++line_;
  }
  position_ = offset;
  return {line_, offset - line_start_ + 1};
}

std::string Locator::operator()(std::size_t offset) {
  const Place at = place(offset);
  return source_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
}

}  // namespace tuvello::cli
