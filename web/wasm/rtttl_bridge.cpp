// SPDX-License-Identifier: MIT
// RTTTL ringtones for JavaScript: the converter's warnings go to the loader's
// warning function (import module "tuvello"), as the song text's do. Lengths
// travel as doubles, exact below 2^53 bytes.
#include <cstdint>

#include "tuvello.h"

extern "C" {

[[clang::import_module("tuvello"), clang::import_name("warning")]] void tuvello_js_warning(
    std::int32_t command, double text_offset, double text_length, std::int32_t kind,
    const char* message);

}  // extern "C"

namespace {

int pass_warning(const TUVELLO_Warning* w, void*) {
  tuvello_js_warning(w->command, static_cast<double>(w->text_offset),
                     static_cast<double>(w->text_length), w->kind, w->message);
  return 0;
}

}  // namespace

extern "C" {

// TUVELLO_ConvertRtttl, with the warnings passed on when `warn` is nonzero.
__attribute__((visibility("default"))) double tuvello_web_rtttl(const char* rtttl, char* text,
                                                                double capacity,
                                                                std::int32_t warn) {
  return static_cast<double>(TUVELLO_ConvertRtttl(rtttl, text, static_cast<std::int64_t>(capacity),
                                                  warn != 0 ? pass_warning : nullptr, nullptr));
}

}  // extern "C"
