// The straightforward way to fill a note block: every sample from its
// formula in extended precision with one sinl call, the decay and pipe rules
// step by step. Slow; the yardstick for the library's sample loop in the tests
// and the benchmarks.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "synth/note_block.hpp"

namespace tuvello_test {

inline void reference_write_samples(const tuvello::synth::NoteBlock& b, std::uint8_t* out) {
  using namespace tuvello::synth;
  std::int32_t amplitude = b.amplitude;
  const auto floor = static_cast<std::int32_t>(std::llrint(b.decay_step));
  std::int32_t pipe_counter = 0;
  for (std::int32_t n = 1; n <= b.frames; ++n) {
    long double f = b.frequency;
    if (b.pipe && ++pipe_counter > 15) {
      f = f * kPipeFactor;
      pipe_counter = 0;
    }
    const long double arg = ((f * kTwoPi) * n) / kSineDivisor;
    const auto s = static_cast<std::int32_t>(std::llrint(amplitude * sinl(arg)));
    out[0] = static_cast<std::uint8_t>(s);
    out[1] = static_cast<std::uint8_t>(s >> 8);
    out += 2;
    if (b.decay && amplitude > floor) {
      amplitude = static_cast<std::int32_t>(
          std::llrint(static_cast<long double>(amplitude) - b.decay_step));
    }
  }
}

}  // namespace tuvello_test

namespace tuvello_test {

// sinl of the phase of frames 1..frames at one frequency, as the reference
// takes it; a block's reference samples at any length, volume or decay follow
// from these without another sinl call.
class ReferenceSines {
 public:
  ReferenceSines(double frequency, std::int32_t frames) : sines_(frames + 1) {
    using namespace tuvello::synth;
    for (std::int32_t n = 1; n <= frames; ++n) {
      const long double arg = ((static_cast<long double>(frequency) * kTwoPi) * n) / kSineDivisor;
      sines_[n] = sinl(arg);
    }
  }
  long double operator[](std::int32_t n) const { return sines_[n]; }

 private:
  std::vector<long double> sines_;
};

// The reference samples of `b`, from the sines of its frequency and, in pipe
// mode, of twice its frequency.
inline void reference_samples_from(const tuvello::synth::NoteBlock& b, const ReferenceSines& sines,
                                   const ReferenceSines& doubled, std::int16_t* out) {
  std::int32_t amplitude = b.amplitude;
  const auto floor = static_cast<std::int32_t>(std::llrint(b.decay_step));
  std::int32_t pipe_counter = 0;
  for (std::int32_t n = 1; n <= b.frames; ++n) {
    long double s = sines[n];
    if (b.pipe && ++pipe_counter > 15) {
      s = doubled[n];
      pipe_counter = 0;
    }
    *out++ = static_cast<std::int16_t>(std::llrint(amplitude * s));
    if (b.decay && amplitude > floor) {
      amplitude = static_cast<std::int32_t>(
          std::llrint(static_cast<long double>(amplitude) - b.decay_step));
    }
  }
}

}  // namespace tuvello_test
