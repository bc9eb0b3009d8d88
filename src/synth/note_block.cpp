// SPDX-License-Identifier: MIT
#include "synth/note_block.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>

#include "base/exact_arithmetic.hpp"
#include "base/little_endian.hpp"
#include "synth/sample.hpp"

namespace tuvello::synth {

namespace exact = base::exact;
using base::store_u16;

namespace {

// Frames are filled in runs; a run in which some product came within 2^-26 of
// a half-integer is written again exactly. The fast path's error stays below
// 1e-9 (sine_kernel.hpp), so only those runs could round differently.
constexpr std::int32_t kRunFrames = 1024;  // a multiple of 16, as the loop needs
constexpr double kNearTie = 0.5 - 0x1p-26;

// 2π as a float is 13176795 / 2^21; a turn per frame is f × that / (2π × 44100).
// kTurnsPerHertz is 13176795 / (2^21 × 2π × 44100) × 2^79, rounded to an
// integer: it is within 1/2 of the exact value, relative error below 2^-64.
constexpr std::uint64_t kTurnsPerHertz = 0xbe37c6935e127b04;
constexpr int kTurnsPerHertzShift = 79;

// The phase advance per frame in 2^-64 turns, f × kTurnsPerHertz / 2^15
// truncated: below the true value by less than 1 + f × 2^-16, which is under
// 1.1 units for every tone (f < 2^13), so frame n ≤ 11023 (22046 when piped)
// is less than 2.5e4 units, 1e-14 rad, off.
std::uint64_t turns_per_frame(double frequency) {
  const exact::Binary f = exact::binary_of(frequency);
  const int shift = kTurnsPerHertzShift - 64 - f.exponent;
  assert(shift > 0);
  return exact::shift_right(exact::multiply(f.significand, kTurnsPerHertz), shift).low;
}

// Block bytes and frames come from the double seconds, exactly:
// round(byte rate × seconds) and round(sample rate × seconds - 2), ties to
// even. Rounding the product to a double first would change the frame count
// at nine of the accepted lengths, and the byte count at twenty.
struct LengthPlan {
  double seconds;       // length / 1000, the double nearest to it
  std::int32_t bytes;   // whole frames: round(byte rate × seconds) less an odd byte
  std::int32_t frames;  // round(sample rate × seconds - 2)
};

constexpr LengthPlan plan_length(std::int32_t length_ms, std::uint32_t sample_rate,
                                 std::uint32_t byte_rate) {
  assert(length_ms > 0);
  const exact::Binary seconds =
      exact::divide_to_bits(static_cast<std::uint64_t>(length_ms), 1000, 53);
  // seconds = significand / 2^shift, shift > 0 for any length below 2^52 s.
  const int shift = -seconds.exponent;
  const auto scaled = [&](std::uint32_t rate) {
    return static_cast<std::int32_t>(
        exact::round_shift(exact::multiply(seconds.significand, rate), shift));
  };
  // round(x - 2) = round(x) - 2: an even shift keeps which neighbour is even.
  // A block holds whole frames: an odd byte count would shift every later
  // sample of the song by one byte.
  return {exact::double_of(seconds), scaled(byte_rate) & ~std::int32_t{1}, scaled(sample_rate) - 2};
}

// The accepted lengths at the image's rates, worked out once, at compile time.
constexpr std::uint32_t kSampleRate = 22050;
constexpr std::uint32_t kByteRate = 44100;
constexpr auto kLengthPlans = [] {
  std::array<LengthPlan, text::kLengthRange.high - text::kLengthRange.low + 1> plans{};
  for (std::int32_t len = text::kLengthRange.low; len <= text::kLengthRange.high; ++len) {
    plans[len - text::kLengthRange.low] = plan_length(len, kSampleRate, kByteRate);
  }
  return plans;
}();

LengthPlan length_plan(std::int32_t length_ms, std::uint32_t sample_rate, std::uint32_t byte_rate) {
  if (sample_rate == kSampleRate && byte_rate == kByteRate &&
      text::kLengthRange.contains(length_ms)) {
    return kLengthPlans[length_ms - text::kLengthRange.low];
  }
  return plan_length(length_ms, sample_rate, byte_rate);
}

// round(volume × 32767), ties to even: the float's significand (24 bits)
// times 32767 is exact in 64 bits.
std::int32_t amplitude_of(float volume) {
  if (volume <= 0.0f) return 0;
  const exact::Binary v = exact::binary_of(volume);
  const exact::U128 product = exact::multiply(v.significand, 32767);
  if (v.exponent >= 0) return static_cast<std::int32_t>(product.low << v.exponent);
  return static_cast<std::int32_t>(exact::round_shift(product, -v.exponent));
}

// The decay step, A / (seconds × sample rate) rounded once to a float, ties
// to even.
float decay_step_of(std::int32_t amplitude, double seconds, std::uint32_t sample_rate) {
  if (amplitude <= 0) return 0.0f;
  // Fast path: the quotient in double precision, however wide the target
  // evaluates it, is within 4 × 2^-53 of the exact one relative to it (the
  // product, the quotient and their storage each round once), that is
  // within 4 units in the double's last place. Unless the 29 bits a float
  // drops lie within 8 such units of one half, the float nearest the estimate
  // is the float nearest the quotient.
  const double estimate = amplitude / (seconds * static_cast<double>(sample_rate));
  const auto bits = std::bit_cast<std::uint64_t>(estimate);
  constexpr std::uint64_t kDropped = (std::uint64_t{1} << 29) - 1, kHalf = std::uint64_t{1} << 28;
  const std::uint64_t dropped = bits & kDropped;
  if (dropped + 8 < kHalf || dropped > kHalf + 8) {
    const std::uint64_t kept = (bits & ~kDropped) + (dropped > kHalf ? kDropped + 1 : 0);
    return static_cast<float>(std::bit_cast<double>(kept));  // exact: 24 significant bits
  }
  // Otherwise exactly.
  const exact::Binary s = exact::binary_of(seconds);
  return exact::divide_to_float(exact::U128{0, static_cast<std::uint64_t>(amplitude)},
                                exact::multiply(s.significand, sample_rate), -s.exponent);
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
    store_u16(out, static_cast<std::uint16_t>(exact_sample(f, n, amplitude_at(b, fade, n))));
    out += 2;
  }
}

}  // namespace

NoteBlock plan_note_block(double note_frequency, const text::NoteSettings& settings,
                          std::uint32_t sample_rate, std::uint32_t byte_rate) {
  NoteBlock b;
  // The note times a whole multiplier is exact in 64 bits, rounded once to a
  // double here.
  if (note_frequency > 0.0 && settings.multiplier > 0) {
    const exact::Binary note = exact::binary_of(note_frequency);
    assert(settings.multiplier < 1 << 10);
    b.frequency = exact::double_of(exact::round_to_bits(
        {note.significand * static_cast<std::uint64_t>(settings.multiplier), note.exponent}, 53));
  }
  const LengthPlan length = length_plan(settings.length_ms, sample_rate, byte_rate);
  b.seconds = length.seconds;
  b.bytes = length.bytes;
  b.frames = length.frames;
  b.amplitude = amplitude_of(settings.volume);
  b.decay_step = decay_step_of(b.amplitude, b.seconds, sample_rate);
  b.pipe = settings.pipe;
  b.decay = settings.decay;
  return b;
}

std::int32_t block_bytes(std::int32_t length_ms, std::uint32_t sample_rate,
                         std::uint32_t byte_rate) {
  return length_plan(length_ms, sample_rate, byte_rate).bytes;
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
