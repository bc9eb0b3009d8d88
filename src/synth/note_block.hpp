// SPDX-License-Identifier: MIT
// One note block: its size, its amplitude and its samples.
//
// Arithmetic is exact where it matters: the frequency and the length in
// seconds are doubles, the volume and the decay step floats, each rounded once
// when formed; every other product or quotient is taken exactly, in integers
// (exact_arithmetic.hpp), and rounded to an integer to nearest with ties to
// even. No result depends on how wide the target evaluates floating point.
#pragma once

#include <cstdint>

#include "synth/sine_kernels.hpp"
#include "text/note_settings.hpp"

namespace tuvello::synth {

inline constexpr float kTwoPi = 6.2831854820251465f;  // 2π as a float, as the tones are tuned
inline constexpr float kFullScale = 32767.0f;
// Tones are tuned against 44100 while frames play at 22050 per second, so a
// note sounds an octave below its table frequency; songs are written for that.
inline constexpr float kSineDivisor = 44100.0f;
// Pipe mode takes every sixteenth sample at twice the frequency.
inline constexpr float kPipeFactor = 2.0f;
inline constexpr std::int32_t kPipePeriod = 16;

struct NoteBlock {
  double frequency = 0.0;      // note frequency × pitch multiplier; 0 for a pause
  double seconds = 0.0;        // length / 1000
  std::int32_t bytes = 0;      // block size, whole frames
  std::int32_t frames = 0;     // frames that get samples; the rest stays zero
  std::int32_t amplitude = 0;  // round(volume × 32767)
  float decay_step = 0.0f;     // amplitude lost per frame in decay mode
  bool pipe = false;
  bool decay = false;
};

// Sizes a block for a note of `note_frequency` under `settings`, in an image
// with the given sample rate and byte rate.
NoteBlock plan_note_block(double note_frequency, const text::NoteSettings& settings,
                          std::uint32_t sample_rate, std::uint32_t byte_rate);

// The size in bytes of the block of a note `length_ms` long: what
// plan_note_block gives, without the rest of the plan.
std::int32_t block_bytes(std::int32_t length_ms, std::uint32_t sample_rate,
                         std::uint32_t byte_rate);

// The bytes at the block's start that carry samples: every frame's sample,
// or none for a pause, whose block is silence. The rest of the block is zero.
inline std::int32_t samples_written(const NoteBlock& block) {
  return block.frequency == 0.0 ? 0 : 2 * block.frames;
}

// Frames are written in stretches that start on frame 1, 17, 33, ... (frame
// numbers count from 1 in every block), where the pipe pattern starts afresh.
inline constexpr std::int32_t kFrameAlignment = 16;

// Writes frames first .. first + count - 1 of a sounding block (not a pause)
// as 16-bit little-endian samples from `out`: 2 × count bytes, nothing more.
// `first` is 1 more than a multiple of kFrameAlignment; the samples are the
// same whichever stretches a block is written in.
void write_frames(const NoteBlock& block, std::int32_t first, std::int32_t count, std::uint8_t* out,
                  SineKernel kernel = best_kernel());

// Writes the first samples_written(block) bytes of the block from `out`.
inline void write_samples(const NoteBlock& block, std::uint8_t* out,
                          SineKernel kernel = best_kernel()) {
  if (block.frequency != 0.0) write_frames(block, 1, block.frames, out, kernel);
}

}  // namespace tuvello::synth
