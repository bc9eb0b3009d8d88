// SPDX-License-Identifier: MIT
// The sample loop in WebAssembly's 128-bit vectors (clang -msimd128), for the
// module that browsers and Node.js run; included by sine_kernels.cpp.
//
// Exactness: the same arithmetic as fill_samples (sine_kernel.hpp), step for
// step: the phase n × W modulo 2^64, its top 53 bits reduced to z in
// [-1/2, 1/2), sin(π z) by the same polynomial in the same Horner order, the
// product with the same amplitude and fade, rounded with kRoundingMagic.
// WebAssembly rounds every f64 operation, scalar or in a vector lane, to a
// double, to nearest, and has no fused multiply-add to contract into, so the
// error bound written there holds here as it is: A × sin within 4e-10 of its
// exact value, below 1e-9 with the product's rounding. The loop returns the
// largest distance of any product from its nearest integer, and the caller
// writes again exactly every run where one came near a half-integer.
//
// One step differs: without a fade, A is constant over the run, and the loop
// takes A × sin as z × Q(z²) with Q's coefficients A × c_k, one product a
// frame fewer. Each A × c_k is rounded once, which moves Q from A × P by at
// most 2^-53 × max Σ|c_k| z^2k / P(z²) = 2.31 × 2^-53 < 2.6e-16 relative (the
// largest ratio, at z = ±1/2); the polynomial's error grows from 1e-15 to
// below 1.3e-15, A × sin stays within 32767 × 1.23e-14 < 4.1e-10, and the
// product's rounding is now that of z × Q: still below 1e-9.
//
// Differences from fill_samples are in the bookkeeping alone: eight frames a
// step in four vectors (two lanes of doubles each, so four independent
// chains for the engine to interleave), the run's fields copied into locals
// (stores through the byte pointer `out` could otherwise alias them and be
// reloaded every step), the fade and the pipe chosen once per run, and the
// samples taken from the rounding sum's low bits instead of a conversion of
// the rounded doubles, which clang splits into one scalar conversion a lane.
#pragma once

#include <wasm_simd128.h>

#include <cstdint>
#include <cstring>

#include "synth/sine_kernel.hpp"

namespace tuvello::synth {
namespace simd128_detail {

using kernel_detail::kRoundingMagic;
using kernel_detail::kSinCoefficients;
using kernel_detail::kTerms;
static_assert(kTerms == 8);

// Zero, which the compiler cannot know (it is never written). Every constant
// of the loop is OR-ed with it, so the compiler holds each in a local for the
// whole run: a constant it knows it writes again at each use in the loop
// (v128.const), which an engine may build with three instructions each time.
// Chromium's renders 8-11 % faster so (bench/wasm_bench.mjs); Node.js's alike.
inline volatile std::int64_t opaque_zero = 0;

// The loop's constants, splatted once per run; the polynomial's coefficients
// times `scale` (the amplitude, or 1 where it varies).
struct Constants {
  explicit Constants(double scale) {
    for (int i = 0; i < kTerms; ++i) c[i] = held(wasm_f64x2_splat(scale * kSinCoefficients[i]));
  }
  v128_t zero = wasm_i64x2_splat(opaque_zero);
  v128_t held(v128_t constant) const { return wasm_v128_or(constant, zero); }
  v128_t quarter_turn = held(wasm_i64x2_splat(std::int64_t{1} << 62));
  v128_t one_exponent = held(wasm_i64x2_splat(0x3FF0000000000000ll));
  v128_t one_and_a_half = held(wasm_f64x2_splat(1.5));
  v128_t sign_bit = held(wasm_i64x2_splat(static_cast<std::int64_t>(0x8000000000000000ull)));
  v128_t magic = held(wasm_f64x2_splat(kRoundingMagic));
  v128_t c[kTerms];
};

// Two frames: the amplitude of each lane times the sine of its phase, as
// fill_samples computes them, from y, each lane's phase a quarter turn on.
// The amplitude is `a`, or in k's coefficients already (`Scaled`; `a` is then
// not read). Returns the rounding sum product + magic, whose low 32 bits are
// the rounded sample as a two's-complement integer (the sum lies in
// [2^52, 2^53), where doubles are the whole numbers); `worst` takes the
// distance of the product from that integer.
template <bool Scaled>
[[gnu::always_inline]] inline v128_t two_frames(const Constants& k, v128_t y, v128_t a,
                                                v128_t& worst) {
  // y's top bit tells the half turn and its other bits the place in it (see
  // fill_samples, also for the mask that is not needed).
  const v128_t z =
      wasm_f64x2_sub(wasm_v128_or(wasm_u64x2_shr(y, 11), k.one_exponent), k.one_and_a_half);
  const v128_t z2 = wasm_f64x2_mul(z, z);
  v128_t p = k.c[7];
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[6]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[5]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[4]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[3]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[2]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[1]);
  p = wasm_f64x2_add(wasm_f64x2_mul(p, z2), k.c[0]);
  const v128_t sine = wasm_f64x2_mul(wasm_v128_xor(z, wasm_v128_and(y, k.sign_bit)), p);
  const v128_t product = Scaled ? sine : wasm_f64x2_mul(a, sine);
  const v128_t sum = wasm_f64x2_add(product, k.magic);
  const v128_t distance = wasm_f64x2_abs(wasm_f64x2_sub(product, wasm_f64x2_sub(sum, k.magic)));
  worst = wasm_f64x2_pmax(worst, distance);
  return sum;
}

// Eight samples from four rounding sums: each lane's low 32 bits, narrowed
// to 16 (exact: every sample lies within ±32767), little-endian.
[[gnu::always_inline]] inline v128_t samples_of(v128_t s0, v128_t s1, v128_t s2, v128_t s3) {
  return wasm_i16x8_narrow_i32x4(wasm_i32x4_shuffle(s0, s1, 0, 2, 4, 6),
                                 wasm_i32x4_shuffle(s2, s3, 0, 2, 4, 6));
}

template <bool Fade, bool Pipe>
[[gnu::always_inline]] inline double fill(const KernelRun& run) {
  // Without a fade the amplitude goes into the coefficients (see the top).
  const Constants k(Fade ? 1.0 : run.amplitude);
  const std::uint64_t step = run.turns_step;
  const auto first = static_cast<std::uint64_t>(run.first_frame);
  // Vector v holds the phases of frames first + 2v and first + 2v + 1, a
  // quarter turn on (added once here rather than every step); all advance by
  // eight frames a step (modulo 2^64: whole turns drop out).
  constexpr std::uint64_t kQuarterTurn = std::uint64_t{1} << 62;
  v128_t turns[4];
  for (int v = 0; v < 4; ++v) {
    turns[v] =
        wasm_i64x2_make(static_cast<std::int64_t>((first + 2 * v) * step + kQuarterTurn),
                        static_cast<std::int64_t>((first + 2 * v + 1) * step + kQuarterTurn));
  }
  const v128_t turns_stride = wasm_i64x2_splat(static_cast<std::int64_t>(8 * step));
  // Frame n's fade counts n - 1 frames, exact as a double.
  v128_t frame_index[4];
  for (int v = 0; v < 4; ++v) {
    frame_index[v] =
        wasm_f64x2_make(static_cast<double>(first - 1 + 2 * v), static_cast<double>(first + 2 * v));
  }
  const v128_t index_stride = k.held(wasm_f64x2_splat(8.0));
  const v128_t amplitude = wasm_f64x2_splat(run.amplitude);
  const v128_t decrement = wasm_f64x2_splat(run.decrement);
  const v128_t fading_frames = wasm_f64x2_splat(run.fading_frames);
  // The last vector's upper lane is a frame 16, 32, ... every other step
  // (runs start on frames 1, 17, 33, ...): it takes twice the phase, whose
  // y is y + (y - quarter turn).
  const v128_t upper_lane = k.held(wasm_i64x2_make(0, -1));
  bool pipe_step = false;
  v128_t worst = wasm_f64x2_splat(0.0);

  std::uint8_t* out = run.out;
  std::int32_t left = run.frames;
  while (left > 0) {
    v128_t y3 = turns[3];
    if constexpr (Pipe) {
      if (pipe_step) {
        y3 = wasm_i64x2_add(y3, wasm_v128_and(wasm_i64x2_sub(y3, k.quarter_turn), upper_lane));
      }
      pipe_step = !pipe_step;
    }
    v128_t a[4] = {amplitude, amplitude, amplitude, amplitude};
    if constexpr (Fade) {
      for (int v = 0; v < 4; ++v) {
        // frame_index < fading_frames ? frame_index : fading_frames
        a[v] = wasm_f64x2_sub(
            amplitude, wasm_f64x2_mul(decrement, wasm_f64x2_pmin(fading_frames, frame_index[v])));
        frame_index[v] = wasm_f64x2_add(frame_index[v], index_stride);
      }
    }
    const v128_t s0 = two_frames<!Fade>(k, turns[0], a[0], worst);
    const v128_t s1 = two_frames<!Fade>(k, turns[1], a[1], worst);
    const v128_t s2 = two_frames<!Fade>(k, turns[2], a[2], worst);
    const v128_t s3 = two_frames<!Fade>(k, y3, a[3], worst);
    const v128_t samples = samples_of(s0, s1, s2, s3);
    if (left >= 8) {
      wasm_v128_store(out, samples);
    } else {
      // The run's last frames; the distances of the frames past its end are
      // counted too, which can only ask for an exact redo, never skip one.
      std::memcpy(out, &samples, 2 * static_cast<std::size_t>(left));
    }
    out += 16;
    left -= 8;
    for (int v = 0; v < 4; ++v) turns[v] = wasm_i64x2_add(turns[v], turns_stride);
  }
  const double lower = wasm_f64x2_extract_lane(worst, 0);
  const double upper = wasm_f64x2_extract_lane(worst, 1);
  return lower > upper ? lower : upper;
}

}  // namespace simd128_detail

// Writes run.frames samples; returns what fill_samples returns.
inline double fill_simd128(const KernelRun& run) {
  using namespace simd128_detail;
  const bool fade = run.fading_frames > 0;
  if (run.pipe) return fade ? fill<true, true>(run) : fill<false, true>(run);
  return fade ? fill<true, false>(run) : fill<false, false>(run);
}

}  // namespace tuvello::synth
