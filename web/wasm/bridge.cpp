// SPDX-License-Identifier: MIT
// What JavaScript cannot do through the module's exports alone: a visitor for
// the note map and the warnings of song texts and ringtones. JavaScript cannot hand a function
// pointer to the library, so these visitors pass each record's fields to functions that the loader
// supplies (import module "tuvello"). 64-bit offsets travel as doubles, exact for anything below
// 2^53 bytes.
#include <cstdint>

#include "tuvello.h"

extern "C" {

[[clang::import_module("tuvello"), clang::import_name("note")]] void tuvello_js_note(
    std::int32_t command, double text_offset, double text_length, double image_offset,
    std::int32_t bytes, std::int32_t frames, double pitch_hz, std::int32_t amplitude,
    std::int32_t flags);

[[clang::import_module("tuvello"), clang::import_name("warning")]] void tuvello_js_warning(
    std::int32_t command, double text_offset, double text_length, std::int32_t kind,
    const char* message);

}  // extern "C"

namespace {

int visit_note(const TUVELLO_Note* n, void*) {
  tuvello_js_note(n->command, static_cast<double>(n->text_offset),
                  static_cast<double>(n->text_length), static_cast<double>(n->image_offset),
                  n->bytes, n->frames, n->pitch_hz, n->amplitude, n->flags);
  return 0;
}

int visit_warning(const TUVELLO_Warning* w, void*) {
  tuvello_js_warning(w->command, static_cast<double>(w->text_offset),
                     static_cast<double>(w->text_length), w->kind, w->message);
  return 0;
}

}  // namespace

extern "C" {

// Each visits the whole text and returns what the library's call returns.
__attribute__((visibility("default"))) std::int32_t tuvello_web_notes(const char* text) {
  return TUVELLO_ForEachNote(text, visit_note, nullptr);
}

__attribute__((visibility("default"))) std::int32_t tuvello_web_check(const char* text) {
  return TUVELLO_ForEachWarning(text, visit_warning, nullptr);
}

// TUVELLO_ConvertRtttl, with the ringtone's warnings passed on like the song
// text's when `warn` is nonzero. Capacities travel as doubles too; one that is
// no whole number or reaches past the module's memory is refused (-1, nothing
// written), whatever the caller allocated.
__attribute__((visibility("default"))) double tuvello_web_rtttl(const char* rtttl, char* text,
                                                                double capacity,
                                                                std::int32_t warn) {
  const double memory = static_cast<double>(__builtin_wasm_memory_size(0)) * 65536.0;
  const double room = memory - static_cast<double>(reinterpret_cast<std::uintptr_t>(text));
  if (!(capacity >= 0.0 && capacity <= room) ||
      capacity != static_cast<double>(static_cast<std::int64_t>(capacity))) {
    return -1.0;
  }
  return static_cast<double>(TUVELLO_ConvertRtttl(rtttl, text, static_cast<std::int64_t>(capacity),
                                                  warn != 0 ? visit_warning : nullptr, nullptr));
}

}  // extern "C"
