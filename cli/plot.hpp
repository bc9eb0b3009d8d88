// SPDX-License-Identifier: MIT
// The picture of a song as an SVG document, drawn from its note map: a piano
// roll (pitch over time, note names, opacity by amplitude, pipe notes hatched,
// decaying notes fading out), the amplitude envelope and a time axis in
// seconds. The playground page draws the same picture.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuvello.h"

namespace tuvello::cli {

// The note map of a song text (up to its first NUL byte), as
// TUVELLO_ForEachNote gives it; nullopt when the image would pass INT32_MAX
// bytes.
std::optional<std::vector<TUVELLO_Note>> note_map(std::string_view text);

// The SVG document of a note map.
std::string plot_svg(const std::vector<TUVELLO_Note>& notes);

}  // namespace tuvello::cli
