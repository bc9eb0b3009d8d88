// SPDX-License-Identifier: MIT
// The fast sample loop, written once over GCC vector types and compiled for
// several instruction sets (see sine_kernels.cpp).
//
// Exactness: the phase of frame n is carried as n × W modulo 2^64, a fixed-
// point fraction of a turn; W is within 1.1 units of the exact advance
// (note_block.cpp), so the phase of any frame, doubled in pipe mode, is off
// by less than 1e-14 rad. Its top 53 bits are reduced to half a turn (the
// bits dropped weigh below 7e-16 rad), where a polynomial gives the sine to
// within 1e-15 with its roundings. A × sin is then within 32767 × 1.2e-14 <
// 4e-10 of its exact value, below 1e-9 with the product's rounding at any
// evaluation width. The kernel reports how close any product came to a
// half-integer, where rounding could go either way; the caller recomputes
// those runs exactly.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

namespace tuvello::synth {

// One run of frames of a note block, in the kernel's terms.
struct KernelRun {
  std::uint64_t turns_step;  // phase advance per frame, in 2^-64 turns
  double amplitude;          // amplitude of the block's first frame
  double decrement;          // amplitude lost per fading frame (0 without decay)
  double fading_frames;      // frames after the first that still lose amplitude
  bool pipe;                 // every sixteenth frame at twice the frequency
  std::int32_t first_frame;  // frame number n of the run's first frame: 1, 17, 33, ...
  std::int32_t frames;       // frames in the run
  std::uint8_t* out;         // 16-bit little-endian samples, one per frame
};

namespace kernel_detail {

// sin(π z) = z × P(z²) for z in [-1/2, 1/2]: a Chebyshev-economized Taylor
// series, within 1e-16 of the sine there before rounding.
inline constexpr double kSinCoefficients[] = {
    3.14159265358979,    -5.167712780049385,    2.55016403984454,       -0.5992645284952589,
    0.08214587559062965, -0.007370347438502996, 0.00046594198740363703, -2.1085602852487916e-05,
};
inline constexpr int kTerms = 8;

// Adding and then subtracting 1.5 × 2^52 rounds a double of magnitude below
// 2^51 to an integer, to nearest with ties to even, but only where the sum is
// itself rounded to a double: in vector registers, or wherever scalar doubles
// are evaluated as doubles. x87 keeps the sum in 64 bits, which leaves eleven
// bits of fraction; loops that may run on it round each lane explicitly.
inline constexpr double kRoundingMagic = 6755399441055744.0;

#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0
inline constexpr bool kDoublesAreDoubles = true;
#else
inline constexpr bool kDoublesAreDoubles = false;
#endif

template <int Lanes>
struct Vectors {
  typedef double F __attribute__((vector_size(Lanes * 8)));
  typedef std::uint64_t U __attribute__((vector_size(Lanes * 8)));
  typedef std::int32_t W __attribute__((vector_size(Lanes * 4)));
  typedef std::int16_t S __attribute__((vector_size(Lanes * 2)));
};

// Samples are stored as whole vectors, which are little-endian only on a
// little-endian host.
static_assert(std::endian::native == std::endian::little);

}  // namespace kernel_detail

// Writes run.frames samples and returns the largest distance of any product
// A × sin from its nearest integer; above 0.5 - (error bound) a sample might be
// rounded the wrong way. `VectorRounding`: round with kRoundingMagic, which
// needs vector registers (or doubles evaluated as doubles); otherwise each
// lane is rounded with nearbyint, exact at any evaluation width.
template <int Lanes, bool VectorRounding>
[[gnu::always_inline]] inline double fill_samples(const KernelRun& run) {
  using namespace kernel_detail;
  using F = typename Vectors<Lanes>::F;
  using U = typename Vectors<Lanes>::U;
  using W = typename Vectors<Lanes>::W;
  using S = typename Vectors<Lanes>::S;

  // Runs start on frames 1, 17, 33, ...: every vector holds whole sixteenths
  // of a block's frames or a whole number of vectors make one.
  static_assert(16 % Lanes == 0);
  constexpr int kPipeWait = 16 / Lanes;
  int pipe_wait = 0;
  // Lane i holds frame n = first_frame + i. The lanes are formed as whole
  // vectors, never written one by one: such a vector must live in memory
  // aligned to its size, which a sanitizer's relocated stack frames lack.
  // (-Wpsabi notes that a vector crossing a call is passed differently with
  // and without AVX; caller and lambda are compiled together, so they agree.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
  const U lane = []<std::size_t... I>(std::index_sequence<I...>) {
    return U{static_cast<std::uint64_t>(I)...};
  }
  (std::make_index_sequence<Lanes>{});
#pragma GCC diagnostic pop
  const U n = lane + static_cast<std::uint64_t>(run.first_frame);
  U turns = n * run.turns_step;  // modulo 2^64: whole turns drop out
  const U last_lane = (U)(lane == static_cast<std::uint64_t>(Lanes - 1));
  F frame_index = __builtin_convertvector(n - 1, F);  // n - 1 for each lane, exact
  const U turns_stride = turns - turns + run.turns_step * Lanes;
  const F index_stride = frame_index - frame_index + Lanes;

  const F zero = frame_index - frame_index;
  const F amplitude = zero + run.amplitude;
  const F decrement = zero + run.decrement;
  const F fading_frames = zero + run.fading_frames;
  const F magic = zero + kRoundingMagic;
  const U one_exponent = turns - turns + 0x3FF0000000000000ull;
  const U abs_mask = turns - turns + 0x7FFFFFFFFFFFFFFFull;
  const U sign_bit = ~abs_mask;
  F worst = zero;

  std::uint8_t* out = run.out;
  std::int32_t left = run.frames;
  while (left > 0) {
    U phase = turns;
    if (run.pipe && ++pipe_wait == kPipeWait) {
      // This vector's last lane is a frame 16, 32, ...: it takes twice the phase.
      pipe_wait = 0;
      phase += phase & last_lane;
    }
    // A quarter turn on, y's top bit tells the half turn and its other bits
    // the place in it: sin(2π t) = ±sin(π z) with z in [-1/2, 1/2), minus in
    // the upper half. z comes from the bits as a double in [1, 2): y >> 11
    // puts bits 62..11 in the significand and the top bit on the exponent's
    // lowest, which one_exponent has set already, so no mask is needed.
    const U y = phase + (1ull << 62);
    const F z = (F)((y >> 11) | one_exponent) - 1.5;
    const F z2 = z * z;
    F p = zero + kSinCoefficients[kTerms - 1];
    for (int k = kTerms - 2; k >= 0; --k) p = p * z2 + kSinCoefficients[k];
    const F sine = (F)((U)z ^ (y & sign_bit)) * p;

    F a = amplitude;
    if (run.fading_frames > 0) {
      const F fading = frame_index < fading_frames ? frame_index : fading_frames;
      a = amplitude - decrement * fading;
    }
    const F product = a * sine;
    F rounded;
    if constexpr (VectorRounding) {
      rounded = (product + magic) - magic;
    } else {
      for (int i = 0; i < Lanes; ++i) rounded[i] = __builtin_nearbyint(product[i]);
    }
    const F distance = (F)((U)(product - rounded) & abs_mask);
    worst = worst > distance ? worst : distance;

    // Whole numbers within ±32767: both conversions are exact.
    const S samples = __builtin_convertvector(__builtin_convertvector(rounded, W), S);
    const int count = left < Lanes ? left : Lanes;
    if (count == Lanes) {
      std::memcpy(out, &samples, sizeof samples);  // a fixed size: one store
    } else {
      std::memcpy(out, &samples, 2 * static_cast<std::size_t>(count));  // the run's last frames
    }
    out += 2 * count;
    left -= count;
    turns += turns_stride;
    frame_index += index_stride;
  }
  // Each lane read by a constant index, so that `worst` too stays a register
  // (a lambda taking it would need memory in an unoptimized build).
  static_assert(Lanes <= 8);
  double result = worst[0];
  const auto take = [&result](double lane) { result = result > lane ? result : lane; };
  if constexpr (Lanes > 1) take(worst[1]);
  if constexpr (Lanes > 2) take(worst[2]), take(worst[3]);
  if constexpr (Lanes > 4) take(worst[4]), take(worst[5]), take(worst[6]), take(worst[7]);
  return result;
}

}  // namespace tuvello::synth
