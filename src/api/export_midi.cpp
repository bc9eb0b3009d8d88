// SPDX-License-Identifier: MIT
// The C interface of the MIDI export. Arguments are checked here.
#include <climits>
#include <cstring>

#include "export/midi_export.hpp"
#include "tuvello.h"

extern "C" {

TUVELLO_API int64_t TUVELLO_ExportMidi(const char* text, uint8_t* smf, int64_t capacity,
                                       TUVELLO_WarningVisitor visit, void* context) {
  if (capacity < 0 || (smf == nullptr && capacity > 0)) return -1;
  const std::string_view song = text == nullptr ? std::string_view{} : std::string_view{text};
  const auto pass_on = [visit, context](const tuvello::midi_export::Warning& w) {
    TUVELLO_Warning out;
    std::memset(&out, 0, sizeof out);
    out.struct_size = sizeof out;
    out.command = w.command > INT32_MAX ? INT32_MAX : static_cast<int32_t>(w.command);
    out.text_offset = static_cast<int64_t>(w.offset);
    out.text_length = static_cast<int64_t>(w.length);
    out.kind = TUVELLO_WARN_EXPORT_SETTING;
    out.message = w.message;
    return visit(&out, context) == 0;
  };
  const tuvello::midi_export::WarningSink sink = pass_on;
  return tuvello::midi_export::export_song(song, smf, capacity, visit == nullptr ? nullptr : &sink);
}

}  // extern "C"
