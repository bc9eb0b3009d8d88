// SPDX-License-Identifier: MIT
// The sample formula, exactly: round(A × sin(((f × 2π) × n) / 44100)), ties to
// even, with 2π the float the tones are tuned with.
#pragma once

#include <cstdint>

namespace tuvello::synth {

// Frame n's sample (n counted from 1 in every block) for a tone of f hertz at
// amplitude A. Gives the same sample on every target and at every
// evaluation width; slow, for the runs the sample loops leave to it.
std::int32_t exact_sample(double f, std::int32_t n, std::int32_t amplitude);

// The same in fixed-point arithmetic alone, which exact_sample falls back on
// when double precision cannot tell; much slower.
std::int32_t sample_in_fixed_point(double f, std::int32_t n, std::int32_t amplitude);

}  // namespace tuvello::synth
