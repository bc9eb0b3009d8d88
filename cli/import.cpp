// SPDX-License-Identifier: MIT
#include "import.hpp"

#include <cstdio>
#include <cstring>
#include <new>

#include "io.hpp"
#include "tuvello.h"

namespace tuvello::cli {
namespace {

struct Printer {
  Locator locate;
  std::size_t printed = 0;
  bool out_of_memory = false;
};

// Called from inside the library, which is built without exceptions: none
// may pass through it, so running out of memory stops the warnings instead.
int print_warning(const TUVELLO_Warning* w, void* context) noexcept {
  auto* p = static_cast<Printer*>(context);
  try {
    const std::string where = p->locate(static_cast<std::size_t>(w->text_offset));
    std::fprintf(stderr, "%s: warning: %s\n", where.c_str(), w->message);
  } catch (const std::bad_alloc&) {
    p->out_of_memory = true;
    return 1;
  }
  ++p->printed;
  return 0;
}

}  // namespace

ConvertedRingtone convert_ringtone(std::string_view ringtone, std::string_view source) {
  const std::string rtttl(ringtone);  // the converter takes a C string
  Printer printer{Locator(source, ringtone)};
  const std::int64_t length =
      TUVELLO_ConvertRtttl(rtttl.c_str(), nullptr, 0, print_warning, &printer);
  if (printer.out_of_memory) throw std::bad_alloc();
  if (const void* nul = std::memchr(ringtone.data(), '\0', ringtone.size())) {
    const auto at = static_cast<std::size_t>(static_cast<const char*>(nul) - ringtone.data());
    std::fprintf(stderr, "%s: warning: a NUL byte ends the ringtone here; the rest is ignored\n",
                 printer.locate(at).c_str());
    ++printer.printed;
  }
  ConvertedRingtone out;
  out.warnings = printer.printed;
  out.text.resize(static_cast<std::size_t>(length));
  // std::string keeps room for its NUL past size().
  TUVELLO_ConvertRtttl(rtttl.c_str(), out.text.data(), length + 1, nullptr, nullptr);
  return out;
}

}  // namespace tuvello::cli
