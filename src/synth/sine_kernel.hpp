// The fast sample loop, written once over GCC vector types and compiled for
// several instruction sets (see sine_kernels.cpp).
//
// Exactness: the phase of frame n is carried as n × W modulo 2^64, a fixed-
// point fraction of a turn, so its error stays below 1e-14 rad at any frame;
// the sine is a polynomial accurate to 3e-16 after reduction to a quarter
// turn. A × sin is then within 1e-10 of its extended-precision value, and
// the kernel reports how close any product came to a half-integer, where
// rounding could go either way; the caller recomputes those chunks exactly.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace tuvello::synth {

// One run of frames of a note block, in the kernel's terms.
struct KernelRun {
  std::uint64_t turns_step;   // phase advance per frame, in 2^-64 turns
  double amplitude;           // amplitude of the block's first frame
  double decrement;           // amplitude lost per fading frame (0 without decay)
  double fading_frames;       // frames after the first that still lose amplitude
  bool pipe;                  // every sixteenth frame at twice the frequency
  std::int32_t first_frame;   // frame number n of the run's first frame (from 1)
  std::int32_t frames;        // frames in the run
  std::uint8_t* out;          // 16-bit little-endian samples, one per frame
};

namespace kernel_detail {

// sin(2π w) = w × P(w²) for w in [-1/4, 1/4]: Taylor terms up to w^19, whose
// truncation error is below 3e-16 there.
inline constexpr double kSinCoefficients[] = {
    6.283185307179586,    -41.34170224039976,    81.60524927607506,   -76.70585975306139,
    42.058693944897655,   -15.09464257682299,    3.819952584848282,   -0.7181223017785006,
    0.10422916220813984,  -0.012031585942120627,
};

// Adding 1.5 × 2^52 rounds a double of magnitude below 2^51 to an integer
// (to nearest, ties to even) and leaves that integer in the low mantissa bits.
inline constexpr double kRoundingMagic = 6755399441055744.0;

template <int Lanes>
struct Vectors {
  typedef double F __attribute__((vector_size(Lanes * 8)));
  typedef std::uint64_t U __attribute__((vector_size(Lanes * 8)));
  typedef std::int64_t I __attribute__((vector_size(Lanes * 8)));
  typedef std::int16_t S __attribute__((vector_size(Lanes * 2)));
};

// Samples are stored as whole vectors, which are little-endian only on a
// little-endian host.
static_assert(std::endian::native == std::endian::little);

}  // namespace kernel_detail

// Writes run.frames samples and returns the largest distance of any product
// A × sin from its nearest integer; above 0.5 - (error bound) a sample might be
// rounded the wrong way.
template <int Lanes>
[[gnu::always_inline]] inline double fill_samples(const KernelRun& run) {
  using namespace kernel_detail;
  using F = typename Vectors<Lanes>::F;
  using U = typename Vectors<Lanes>::U;
  using I = typename Vectors<Lanes>::I;
  using S = typename Vectors<Lanes>::S;

  U turns;
  F frame_index;  // n - 1 for each lane
  U frame_number;
  for (int i = 0; i < Lanes; ++i) {
    const auto n = static_cast<std::uint64_t>(run.first_frame + i);
    turns[i] = n * run.turns_step;
    frame_index[i] = static_cast<double>(n - 1);
    frame_number[i] = n;
  }
  const U turns_stride = turns - turns + run.turns_step * Lanes;
  const F index_stride = frame_index - frame_index + Lanes;
  const U number_stride = frame_number - frame_number + Lanes;

  const F zero = frame_index - frame_index;
  const F amplitude = zero + run.amplitude;
  const F decrement = zero + run.decrement;
  const F fading_frames = zero + run.fading_frames;
  const F magic = zero + kRoundingMagic;
  const U one_exponent = turns - turns + 0x3FF0000000000000ull;
  const U abs_mask = turns - turns + 0x7FFFFFFFFFFFFFFFull;
  F worst = zero;

  std::uint8_t* out = run.out;
  std::int32_t left = run.frames;
  while (left > 0) {
    U phase = turns;
    if (run.pipe) {
      // Frames 16, 32, ... of a block take twice the phase.
      const U pipe_lane = (U)((frame_number & 15) == 0);
      phase = (phase & ~pipe_lane) | ((phase << 1) & pipe_lane);
    }
    // The turn as a double in [1, 2), then shifted to u in [-1/2, 1/2):
    // sin(2π t) = -sin(2π u).
    F u = (F)((phase >> 12) | one_exponent) - 1.5;
    // Reflect into a quarter turn: sin(2π u) = sin(2π (1/2 - u)) = sin(2π (-1/2 - u)).
    F w = 0.5 - u;
    w = u < w ? u : w;
    F v = -0.5 - w;
    w = w > v ? w : v;
    const F w2 = w * w;
    F p = zero + kSinCoefficients[9];
    for (int k = 8; k >= 0; --k) p = p * w2 + kSinCoefficients[k];
    const F sine = -(w * p);

    F a = amplitude;
    if (run.fading_frames > 0) {
      const F fading = frame_index < fading_frames ? frame_index : fading_frames;
      a = amplitude - decrement * fading;
    }
    const F product = a * sine;
    const F biased = product + magic;
    const F distance = (F)((U)(product - (biased - magic)) & abs_mask);
    worst = worst > distance ? worst : distance;

    // The low bits are the sample in two's complement.
    const S samples = __builtin_convertvector((I)biased, S);
    const int count = left < Lanes ? left : Lanes;
    std::memcpy(out, &samples, 2 * static_cast<std::size_t>(count));
    out += 2 * count;
    left -= count;
    turns += turns_stride;
    frame_index += index_stride;
    frame_number += number_stride;
  }
  double result = 0.0;
  for (int i = 0; i < Lanes; ++i) result = result > worst[i] ? result : worst[i];
  return result;
}

}  // namespace tuvello::synth
