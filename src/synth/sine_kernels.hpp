// SPDX-License-Identifier: MIT
// The instruction sets the sample loop is built for, and the choice among them.
#pragma once

#include "synth/sine_kernel.hpp"

namespace tuvello::synth {

// baseline: two lanes in SSE2, on x86 (every x86-64 processor has it).
// portable: two lanes of GCC vectors, exact at any evaluation width: the loop
// of other processors and of x86 ones without SSE2.
// simd128: WebAssembly's 128-bit vectors, in a module built with -msimd128.
enum class SineKernel { baseline, avx2, avx512, portable, simd128 };

// Whether this processor can run `kernel`.
bool kernel_supported(SineKernel kernel);

// The fastest kernel this processor runs, or the one a benchmark chose.
SineKernel best_kernel();

// For benchmarks only, which compare the kernels one machine runs through
// the whole library: makes best_kernel() answer `kernel` (which must be
// supported) for every thread until called with nullptr. Never called by
// the library itself; not exported from the shared object.
void choose_kernel_for_benchmarks(const SineKernel* kernel);

// Runs `run` on `kernel`, which must be supported; returns what fill_samples
// returns.
double run_kernel(SineKernel kernel, const KernelRun& run);

}  // namespace tuvello::synth
