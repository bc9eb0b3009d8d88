// SPDX-License-Identifier: MIT
// `tuvello notes`: the note map of a song text, one line per note or pause.
#pragma once

#include <string_view>

namespace tuvello::cli {

enum class NoteMapResult { printed, too_long, write_failed };

// Prints the note map of `text` (NUL-terminated; read up to its first NUL) to
// standard output, as TUVELLO_ForEachNote gives it: a header line and
// tab-separated columns, or with `json` one JSON object per line. Prints
// nothing when the image would pass INT32_MAX bytes (too_long);
// write_failed (errno set) when standard output could not be written.
NoteMapResult print_note_map(std::string_view text, bool json);

}  // namespace tuvello::cli
