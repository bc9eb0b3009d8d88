// SPDX-License-Identifier: MIT
// The values of the tool's options: sizes, counts and octave shifts, each
// read whole or refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "command.hpp"

namespace tuvello::cli {

// A whole number of bytes from TUVELLO_HEADER_BYTES to INT32_MAX (--max-bytes).
std::optional<std::int64_t> parse_max_bytes(const std::string& s);

// "N", "NK", "NM" or "NG", 1 to 2^40 bytes (--max-input).
std::optional<std::size_t> parse_max_input(std::string s);

// "auto", "none" or a whole number of octaves from -8 to 8 ("+1" too), set
// in o.octave_shift and o.octaves. Returns false for anything else.
bool parse_octave_shift(std::string_view s, Options& o);

// A whole number from 1 to `most`.
std::optional<std::int64_t> parse_count(const std::string& s, std::int64_t most);

}  // namespace tuvello::cli
