// SPDX-License-Identifier: MIT
// The picture of a song as an SVG document, drawn from its note map: a piano
// roll (pitch over time, note names, opacity by amplitude, pipe notes hatched,
// decaying notes fading out), the amplitude envelope and a time axis in
// seconds. The playground page draws the same picture.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tuvello::cli {

struct Plot {
  std::string svg;         // the SVG document
  std::size_t tones = 0;   // notes that sound
  std::size_t pauses = 0;  // notes that do not
  double seconds = 0.0;    // the song's playing time
};

// The picture of a song text (NUL-terminated; read up to its first NUL), or
// nullopt when its image would pass INT32_MAX bytes. Notes narrower than a
// pixel are drawn together, one bar on their pitch's row for each stretch of
// them less than a pixel apart, so that the document's size is bounded by the
// picture's pixels, whatever the number of notes.
std::optional<Plot> plot_song(std::string_view text);

}  // namespace tuvello::cli
