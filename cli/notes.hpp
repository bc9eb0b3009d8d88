// SPDX-License-Identifier: MIT
// `tuvello notes`: the note map of a song text, one line per note or pause.
#pragma once

#include <string_view>

namespace tuvello::cli {

// Prints the note map of `text` (up to its first NUL) to standard output: a
// header line and tab-separated columns, or with `json` one JSON object per
// line. Returns false when standard output could not be written.
bool print_note_map(std::string_view text, bool json);

}  // namespace tuvello::cli
