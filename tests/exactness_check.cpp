// The fast sample loop against the extended-precision formula, on every
// sample loop this processor runs: every note and multiplier at every full
// amplitude, plain and piped, over all 11023 frames of the longest note; and
// decayed notes at every accepted length and volume. One differing sample
// fails. Built for 64-bit and 32-bit x86 alike, so it uses no test framework.
//
// usage: exactness_check [--exhaustive]   (decay on every note, plain and piped)
#include <cstdio>
#include <cstring>
#include <vector>

#include "reference_note_block.hpp"
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
  for (SineKernel k : {SineKernel::baseline, SineKernel::avx2, SineKernel::avx512}) {
    if (kernel_supported(k)) out.push_back(k);
  }
  return out;
}

const char* name_of(SineKernel k) {
  return k == SineKernel::avx512 ? "avx512" : k == SineKernel::avx2 ? "avx2" : "baseline";
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
  s.volume = static_cast<float>(static_cast<long double>(vol) / 100.0L);
  s.multiplier = multiplier;
  s.pipe = pipe;
  s.decay = decay;
  return plan_note_block(note, s, 22050, 44100);
}

}  // namespace

int main(int argc, char** argv) {
  const bool exhaustive = argc > 1 && std::strcmp(argv[1], "--exhaustive") == 0;
  const auto kernels = kernels_here();
  std::printf("sample loops:");
  for (SineKernel k : kernels) std::printf(" %s", name_of(k));
  std::printf("\n");

  Tally full, decayed;
  long tie_steps = 0;
  for (double note : kNotes) {
    for (int multiplier = 1; multiplier <= 9; ++multiplier) {
      const ReferenceSines sines(note * multiplier, kLongest);
      const ReferenceSines doubled(note * multiplier * 2.0, kLongest);
      for (int vol = 5; vol <= 100; ++vol) {
        for (bool pipe : {false, true}) {
          check_block(block_for(note, multiplier, 500, vol, pipe, false), sines, doubled, kernels,
                      full);
        }
      }
      // Decay on two notes at every length and volume; on all with --exhaustive.
      const bool lowest = note == kNotes[0] && multiplier == 1;
      const bool highest = note == kNotes[11] && multiplier == 9;
      if (!exhaustive && !lowest && !highest) continue;
      for (int len = 20; len <= 500; ++len) {
        for (int vol = 5; vol <= 100; ++vol) {
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
  if (tie_steps != 0)
    std::printf("FAILED: %ld decay steps with a fraction of one half\n", tie_steps);
  const long failed = full.blocks_failed + decayed.blocks_failed + tie_steps;
  std::printf("%ld passed, %ld failed\n", full.blocks_passed + decayed.blocks_passed, failed);
  return failed == 0 ? 0 : 1;
}
