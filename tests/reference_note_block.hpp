// SPDX-License-Identifier: MIT
// The straightforward way to fill a note block: every sample from its
// formula in extended precision with a sinl call, the decay and pipe rules
// step by step. Slow; the yardstick for the library's sample loop in the tests
// and the benchmarks.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "synth/note_block.hpp"

namespace tuvello_test {

// sin(((f × 2π) × n) / 44100) in extended precision.
inline long double reference_sine(long double frequency, std::int32_t n) {
  using namespace tuvello::synth;
  return sinl(((frequency * kTwoPi) * n) / kSineDivisor);
}

// The samples of `b`, frame by frame, with `sine(n, doubled)` giving the sine
// of frame n at the block's frequency or, for pipe mode, at twice it.
template <typename Sine>
void reference_samples(const tuvello::synth::NoteBlock& b, Sine sine, std::int16_t* out) {
  std::int32_t amplitude = b.amplitude;
  const auto floor = static_cast<std::int32_t>(std::llrint(b.decay_step));
  std::int32_t pipe_counter = 0;
  for (std::int32_t n = 1; n <= b.frames; ++n) {
    bool doubled = false;
    if (b.pipe && ++pipe_counter > 15) {
      doubled = true;
      pipe_counter = 0;
    }
    *out++ = static_cast<std::int16_t>(std::llrint(amplitude * sine(n, doubled)));
    if (b.decay && amplitude > floor) {
      amplitude = static_cast<std::int32_t>(
          std::llrint(static_cast<long double>(amplitude) - b.decay_step));
    }
  }
}

// One sinl call per sample, writing 16-bit little-endian samples to `out`.
inline void reference_write_samples(const tuvello::synth::NoteBlock& b, std::uint8_t* out) {
  const auto sine = [&b](std::int32_t n, bool doubled) {
    const long double f = b.frequency;
    return reference_sine(doubled ? f * tuvello::synth::kPipeFactor : f, n);
  };
  std::vector<std::int16_t> samples(b.frames > 0 ? b.frames : 0);
  reference_samples(b, sine, samples.data());
  for (const std::int16_t s : samples) {
    *out++ = static_cast<std::uint8_t>(s);
    *out++ = static_cast<std::uint8_t>(static_cast<std::uint16_t>(s) >> 8);
  }
}

// The sines of frames 1..frames at one frequency; a block's reference samples
// at any length, volume or decay follow from these without another sinl call.
class ReferenceSines {
 public:
  ReferenceSines(double frequency, std::int32_t frames) : sines_(frames + 1) {
    for (std::int32_t n = 1; n <= frames; ++n) sines_[n] = reference_sine(frequency, n);
  }
  long double operator[](std::int32_t n) const { return sines_[n]; }

 private:
  std::vector<long double> sines_;
};

// The reference samples of `b` from the sines of its frequency and, in pipe
// mode, of twice its frequency.
inline void reference_samples_from(const tuvello::synth::NoteBlock& b, const ReferenceSines& sines,
                                   const ReferenceSines& doubled, std::int16_t* out) {
  const auto sine = [&](std::int32_t n, bool twice) { return twice ? doubled[n] : sines[n]; };
  reference_samples(b, sine, out);
}

}  // namespace tuvello_test
