#include "synth/note_block.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

#include "image/little_endian.hpp"
#include "synth/sample.hpp"

namespace tuvello::synth {
namespace {

std::int32_t round_to_int(long double x) { return static_cast<std::int32_t>(std::llrint(x)); }

// Frames are filled in runs; a run in which some product came within 2^-26 of
// a half-integer is written again with extended precision. The fast path's
// error stays below 1e-10, so only those runs could round differently.
constexpr std::int32_t kRunFrames = 1024;  // a multiple of 16, as the loop needs
constexpr double kNearTie = 0.5 - 0x1p-26;

// The phase advance per frame in 2^-64 turns: tones are f × 2π × n / 44100
// radians, with 2π rounded to a float as the tuning has it.
std::uint64_t turns_per_frame(double frequency) {
  constexpr long double kFloatTwoPiInTurns = 1.00000002782753515285623012961775321L;
  const long double turns = frequency * kFloatTwoPiInTurns / kSineDivisor;
  return static_cast<std::uint64_t>((turns - std::floor(turns)) * 0x1p64L);
}

// How a block fades: the amplitude of frame n is
// A - decrement × min(n - 1, fading frames).
struct Fade {
  std::int32_t decrement = 0;
  std::int32_t fading_frames = 0;
};

Fade fade_of(const NoteBlock& b) {
  if (!b.decay) return {};
  // With an integer amplitude, round(A - step) = A - round(step) whenever the
  // step's fraction is not exactly one half, which no accepted length and
  // volume give.
  assert(b.decay_step - std::floor(b.decay_step) != 0.5f);
  const auto decrement = static_cast<std::int32_t>(std::llrint(b.decay_step));
  // The fade stops once the amplitude is no greater than round(step).
  if (decrement == 0 || b.amplitude <= decrement) return {};
  return {decrement, (b.amplitude - 1) / decrement};
}

std::int32_t amplitude_at(const NoteBlock& b, const Fade& fade, std::int32_t n) {
  return b.amplitude - fade.decrement * std::min(n - 1, fade.fading_frames);
}

void write_exactly(const NoteBlock& b, const Fade& fade, std::int32_t first, std::int32_t count,
                   std::uint8_t* out) {
  for (std::int32_t n = first; n < first + count; ++n) {
    const bool doubled = b.pipe && n % kPipePeriod == 0;
    const double f = doubled ? b.frequency * kPipeFactor : b.frequency;
    image::store_u16(out, static_cast<std::uint16_t>(exact_sample(f, n, amplitude_at(b, fade, n))));
    out += 2;
  }
}

}  // namespace

NoteBlock plan_note_block(double note_frequency, const text::NoteSettings& settings,
                          std::uint32_t sample_rate, std::uint32_t byte_rate) {
  NoteBlock b;
  b.frequency = note_frequency * settings.multiplier;
  b.seconds = settings.length_ms / 1000.0;
  const long double seconds = b.seconds;
  // A block holds whole frames: an odd byte count would shift every later
  // sample of the song by one byte.
  b.bytes = round_to_int(byte_rate * seconds) & ~std::int32_t{1};
  b.amplitude = round_to_int(static_cast<long double>(settings.volume) * kFullScale);
  b.decay_step = static_cast<float>(b.amplitude / (seconds * sample_rate));
  b.frames = round_to_int(seconds * sample_rate + -2.0L);
  b.pipe = settings.pipe;
  b.decay = settings.decay;
  return b;
}

void write_frames(const NoteBlock& b, std::int32_t first, std::int32_t count, std::uint8_t* out,
                  SineKernel kernel) {
  assert(b.frequency != 0.0 && first >= 1 && (first - 1) % kFrameAlignment == 0);
  assert(count >= 0 && first - 1 + count <= b.frames);
  const Fade fade = fade_of(b);
  KernelRun run{};
  run.turns_step = turns_per_frame(b.frequency);
  run.amplitude = b.amplitude;
  run.decrement = fade.decrement;
  run.fading_frames = fade.fading_frames;
  run.pipe = b.pipe;
  const std::int32_t end = first + count;
  for (std::int32_t n = first; n < end; n += kRunFrames) {
    run.first_frame = n;
    run.frames = std::min(kRunFrames, end - n);
    run.out = out + 2 * (n - first);
    if (run_kernel(kernel, run) > kNearTie) {
      write_exactly(b, fade, n, run.frames, run.out);
    }
  }
}

}  // namespace tuvello::synth
