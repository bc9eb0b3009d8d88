// The sample formula: round(A × sin(((f × 2π) × n) / 44100)).
#pragma once

#include <cmath>
#include <cstdint>

#include "synth/note_block.hpp"

namespace tuvello::synth {

// The phase of frame n (counted from 1 in every block) for frequency f, in
// extended precision.
inline long double phase(double f, std::int32_t n) {
  return static_cast<long double>(f) * kTwoPi * n / kSineDivisor;
}

// One sample at amplitude A, with an extended-precision sine.
inline std::int32_t exact_sample(double f, std::int32_t n, std::int32_t amplitude) {
  return static_cast<std::int32_t>(std::llrint(amplitude * std::sin(phase(f, n))));
}

}  // namespace tuvello::synth
