// SPDX-License-Identifier: MIT
// RTTTL ringtones for the command-line tool: `tuvello import` and the
// --rtttl option of render and play, through the library's converter.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tuvello::cli {

struct ConvertedRingtone {
  std::string text;          // the song text
  std::size_t warnings = 0;  // printed to standard error
};

// The song text of `ringtone`, each warning printed to standard error as
// "SOURCE:LINE:COLUMN: warning: MESSAGE". The converter reads the ringtone up
// to its first NUL byte, which is reported too. Throws std::bad_alloc when
// memory runs out.
ConvertedRingtone convert_ringtone(std::string_view ringtone, std::string_view source);

}  // namespace tuvello::cli
