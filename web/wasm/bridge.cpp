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

// Whether `count` bytes at `address` are a whole number of bytes that lie
// within the module's memory. Sizes and capacities travel as doubles; one
// that fails this is refused (-1, nothing written or read), whatever the
// caller allocated.
bool within_memory(const void* address, double count) {
  const double memory = static_cast<double>(__builtin_wasm_memory_size(0)) * 65536.0;
  const double room = memory - static_cast<double>(reinterpret_cast<std::uintptr_t>(address));
  return count >= 0.0 && count <= room &&
         count == static_cast<double>(static_cast<std::int64_t>(count));
}

TUVELLO_WarningVisitor visitor(std::int32_t warn) { return warn != 0 ? visit_warning : nullptr; }

}  // namespace

extern "C" {

// Each visits the whole text and returns what the library's call returns.
__attribute__((visibility("default"))) std::int32_t tuvello_web_notes(const char* text) {
  return TUVELLO_ForEachNote(text, visit_note, nullptr);
}

__attribute__((visibility("default"))) std::int32_t tuvello_web_check(const char* text) {
  return TUVELLO_ForEachWarning(text, visit_warning, nullptr);
}

// Each of these is the library's call, with the warnings passed on like the
// song text's when `warn` is nonzero, and returns what it returns.
__attribute__((visibility("default"))) double tuvello_web_rtttl(const char* rtttl, char* text,
                                                                double capacity,
                                                                std::int32_t warn) {
  if (!within_memory(text, capacity)) return -1.0;
  return static_cast<double>(TUVELLO_ConvertRtttl(rtttl, text, static_cast<std::int64_t>(capacity),
                                                  visitor(warn), nullptr));
}

// Exported by name here rather than through the build's list of exports.
// max_image_bytes travels as a double, a whole number below 2^53.
__attribute__((export_name("tuvello_web_rtttl_ex"))) double tuvello_web_rtttl_ex(
    const char* rtttl, char* text, double capacity, std::int32_t warn, std::int32_t octave_shift,
    std::int32_t octaves, double max_image_bytes) {
  if (!within_memory(text, capacity)) return -1.0;
  if (!(max_image_bytes >= 0.0 && max_image_bytes < 9007199254740992.0)) return -1.0;
  TUVELLO_RtttlOptions options{sizeof(TUVELLO_RtttlOptions), octave_shift, octaves,
                               static_cast<std::int64_t>(max_image_bytes)};
  return static_cast<double>(TUVELLO_ConvertRtttlEx(
      rtttl, text, static_cast<std::int64_t>(capacity), &options, visitor(warn), nullptr));
}

__attribute__((export_name("tuvello_web_export_rtttl"))) double tuvello_web_export_rtttl(
    const char* text, const char* name, char* rtttl, double capacity, std::int32_t warn) {
  if (!within_memory(rtttl, capacity)) return -1.0;
  return static_cast<double>(TUVELLO_ExportRtttl(
      text, name, rtttl, static_cast<std::int64_t>(capacity), visitor(warn), nullptr));
}

__attribute__((export_name("tuvello_web_midi"))) double tuvello_web_midi(
    const std::uint8_t* smf, double size, char* text, double capacity, std::int32_t warn,
    std::int32_t track, std::int32_t channel, std::int32_t overlap, std::int32_t velocity) {
  if (!within_memory(smf, size) || !within_memory(text, capacity)) return -1.0;
  TUVELLO_MidiOptions options{sizeof(TUVELLO_MidiOptions), track, channel, overlap, velocity};
  return static_cast<double>(TUVELLO_ConvertMidi(smf, static_cast<std::int64_t>(size), &options,
                                                 text, static_cast<std::int64_t>(capacity),
                                                 visitor(warn), nullptr));
}

__attribute__((export_name("tuvello_web_export_midi"))) double tuvello_web_export_midi(
    const char* text, std::uint8_t* smf, double capacity, std::int32_t warn) {
  if (!within_memory(smf, capacity)) return -1.0;
  return static_cast<double>(
      TUVELLO_ExportMidi(text, smf, static_cast<std::int64_t>(capacity), visitor(warn), nullptr));
}

// The image's format, from the header's macros, so that JavaScript restates
// none of it: frames per second, bytes of samples per second, header bytes.
__attribute__((export_name("tuvello_web_sample_rate"))) std::int32_t tuvello_web_sample_rate() {
  return TUVELLO_SAMPLE_RATE;
}
__attribute__((export_name("tuvello_web_byte_rate"))) std::int32_t tuvello_web_byte_rate() {
  return TUVELLO_BYTE_RATE;
}
__attribute__((export_name("tuvello_web_header_bytes"))) std::int32_t tuvello_web_header_bytes() {
  return TUVELLO_HEADER_BYTES;
}

}  // extern "C"
