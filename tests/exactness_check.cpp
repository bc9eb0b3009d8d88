// SPDX-License-Identifier: MIT
// The fast sample loop against the extended-precision formula, on every
// sample loop this processor runs: every note and multiplier at every full
// amplitude, plain and piped, over all 11023 frames of the longest note; and
// decayed notes at every accepted length and volume. Then the exact sample's
// fixed-point arithmetic, which the loops rarely need, on every seventh frame
// at full scale (every frame with --exhaustive). One differing sample fails. Built for every target
// the library is tested on (32-bit x86, aarch64 under emulation), so it uses no test framework.
//
// usage: exactness_check [--exhaustive | --sampled]
//   --exhaustive  decay on every note, plain and piped; every frame in fixed point
//   --sampled     multipliers 1 and 9, volumes 5, 50 and 95 at full length, and a
//                 spread of decayed lengths and volumes: for emulators
#include <cstdio>
#include <cstring>
#include <vector>

#include "reference_note_block.hpp"
#include "synth/sample.hpp"
#include "text/note_settings.hpp"

using namespace tuvello::synth;
using tuvello::text::NoteSettings;
using tuvello_test::ReferenceSines;

namespace {

constexpr double kNotes[] = {261.63, 277.18, 293.66, 311.13, 329.63, 349.23,
                             369.99, 392.00, 415.30, 440.00, 466.16, 493.88};
constexpr std::int32_t kLongest = 11023;  // frames of a 500 ms note

struct Tally {
  long blocks_passed = 0;
  long blocks_failed = 0;
};

std::vector<SineKernel> kernels_here() {
  std::vector<SineKernel> out;
  for (SineKernel k : {SineKernel::portable, SineKernel::baseline, SineKernel::avx2,
                       SineKernel::avx512, SineKernel::simd128}) {
    // Where doubles are evaluated as doubles the portable loop is the SSE2
    // loop's code again.
    const bool same_as_baseline = k == SineKernel::portable && kernel_detail::kDoublesAreDoubles &&
                                  kernel_supported(SineKernel::baseline);
    if (kernel_supported(k) && !same_as_baseline) out.push_back(k);
  }
  return out;
}

const char* name_of(SineKernel k) {
  switch (k) {
    case SineKernel::avx512:
      return "avx512";
    case SineKernel::avx2:
      return "avx2";
    case SineKernel::baseline:
      return "baseline";
    case SineKernel::simd128:
      return "simd128";
    default:
      return "portable";
  }
}

// Compares one block on every kernel with its reference samples.
void check_block(const NoteBlock& b, const ReferenceSines& sines, const ReferenceSines& doubled,
                 const std::vector<SineKernel>& kernels, Tally& tally) {
  std::vector<std::int16_t> expected(b.frames);
  tuvello_test::reference_samples_from(b, sines, doubled, expected.data());
  std::vector<std::uint8_t> got(b.bytes);
  for (SineKernel k : kernels) {
    write_samples(b, got.data(), k);
    bool same = true;
    for (std::int32_t i = 0; i < b.frames && same; ++i) {
      const auto s = static_cast<std::int16_t>(got[2 * i] | got[2 * i + 1] << 8);
      if (s != expected[i]) {
        std::printf(
            "MISMATCH %s: f=%.17g A=%d len=%.3f pipe=%d decay=%d frame %d: %d, expected %d\n",
            name_of(k), b.frequency, b.amplitude, b.seconds, b.pipe, b.decay, i + 1, s,
            expected[i]);
        same = false;
      }
    }
    ++(same ? tally.blocks_passed : tally.blocks_failed);
  }
}

NoteBlock block_for(double note, int multiplier, int len, int vol, bool pipe, bool decay) {
  NoteSettings s;
  s.length_ms = len;
  s.volume = tuvello::text::volume_of_percent(vol);
  s.multiplier = multiplier;
  s.pipe = pipe;
  s.decay = decay;
  return plan_note_block(note, s, 22050, 44100);
}

// Every frame of the longest note at full scale, or every `step`th, in fixed
// point alone and through exact_sample, against the reference sines.
long check_exact_sample(double f, const ReferenceSines& sines, std::int32_t step) {
  long failed = 0;
  for (std::int32_t n = 1; n <= kLongest; n += step) {
    const auto expected = static_cast<std::int32_t>(std::llrint(32767 * sines[n]));
    const std::int32_t fixed = sample_in_fixed_point(f, n, 32767);
    const std::int32_t exact = exact_sample(f, n, 32767);
    if (fixed != expected || exact != expected) {
      std::printf(
          "MISMATCH exact sample: f=%.17g frame %d: fixed point %d, exact %d, expected %d\n", f, n,
          fixed, exact, expected);
      ++failed;
    }
  }
  return failed;
}

}  // namespace

int main(int argc, char** argv) {
  const bool exhaustive = argc > 1 && std::strcmp(argv[1], "--exhaustive") == 0;
  const bool sampled = argc > 1 && std::strcmp(argv[1], "--sampled") == 0;
  const auto kernels = kernels_here();
  std::printf("sample loops:");
  for (SineKernel k : kernels) std::printf(" %s", name_of(k));
  std::printf("\n");

  Tally full, decayed;
  long tie_steps = 0, exact_failed = 0;
  for (double note : kNotes) {
    for (int multiplier = 1; multiplier <= 9; multiplier += sampled ? 8 : 1) {
      const ReferenceSines sines(note * multiplier, kLongest);
      const ReferenceSines doubled(note * multiplier * 2.0, kLongest);
      exact_failed += check_exact_sample(note * multiplier, sines,
                                         sampled      ? 97
                                         : exhaustive ? 1
                                                      : 7);
      for (int vol = 5; vol <= 100; vol += sampled ? 45 : 1) {
        for (bool pipe : {false, true}) {
          check_block(block_for(note, multiplier, 500, vol, pipe, false), sines, doubled, kernels,
                      full);
        }
      }
      // Decay on two notes at every length and volume; on all with --exhaustive.
      const bool lowest = note == kNotes[0] && multiplier == 1;
      const bool highest = note == kNotes[11] && multiplier == 9;
      if (!exhaustive && !lowest && !highest) continue;
      for (int len = 20; len <= 500; len += sampled ? 41 : 1) {
        for (int vol = 5; vol <= 100; vol += sampled ? 19 : 1) {
          for (bool pipe : {false, true}) {
            if (pipe && !exhaustive) continue;
            const NoteBlock b = block_for(note, multiplier, len, vol, pipe, true);
            tie_steps += b.decay_step - static_cast<float>(static_cast<long>(b.decay_step)) == 0.5f;
            check_block(b, sines, doubled, kernels, decayed);
          }
        }
      }
    }
  }
  std::printf("full amplitudes: %ld blocks passed, %ld failed\n", full.blocks_passed,
              full.blocks_failed);
  std::printf("decayed: %ld blocks passed, %ld failed\n", decayed.blocks_passed,
              decayed.blocks_failed);
  std::printf("exact samples: %ld differ\n", exact_failed);
  if (tie_steps != 0)
    std::printf("FAILED: %ld decay steps with a fraction of one half\n", tie_steps);
  const long failed = full.blocks_failed + decayed.blocks_failed + tie_steps + exact_failed;
  std::printf("%ld passed, %ld failed\n", full.blocks_passed + decayed.blocks_passed, failed);
  return failed == 0 ? 0 : 1;
}
