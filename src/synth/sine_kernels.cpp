// SPDX-License-Identifier: MIT
#include "synth/sine_kernels.hpp"

#include <atomic>

#if defined(__wasm_simd128__)
#include "synth/sine_kernel_simd128.hpp"
#endif

namespace tuvello::synth {
namespace {

#if defined(__x86_64__) || defined(__i386__)
#define TUVELLO_X86 1
// Vector registers hold doubles as doubles, so the vector loops round with
// the magic constant whatever the build's scalar arithmetic; their scalar
// steps (setting up lanes, the largest distance) are exact at any width.
[[gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")]] double fill_avx512(const KernelRun& run) {
  return fill_samples<8, true>(run);
}

[[gnu::target("avx2,fma")]] double fill_avx2(const KernelRun& run) {
  return fill_samples<4, true>(run);
}

[[gnu::target("sse2")]] double fill_sse2(const KernelRun& run) {
  return fill_samples<2, true>(run);
}
#endif

// Without a vector unit the compiler splits the vectors into scalars, which
// x87 evaluates in 80 bits: then every lane is rounded explicitly.
double fill_portable(const KernelRun& run) {
  return fill_samples<2, kernel_detail::kDoublesAreDoubles>(run);
}

#if defined(TUVELLO_X86)
// What the processor supports is read once, when the library is loaded, so
// that renders on several threads only ever read it.
[[gnu::constructor]] void read_processor_features() { __builtin_cpu_init(); }
#endif

}  // namespace

bool kernel_supported(SineKernel kernel) {
  switch (kernel) {
    case SineKernel::portable:
      return true;
#if defined(__wasm_simd128__)
    case SineKernel::simd128:
      return true;
#endif
#if defined(TUVELLO_X86)
    case SineKernel::baseline:
      return __builtin_cpu_supports("sse2");
    case SineKernel::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case SineKernel::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl") && kernel_supported(SineKernel::avx2);
#endif
    default:
      return false;
  }
}

namespace {
// The benchmarks' choice, or -1.
std::atomic<int> chosen_kernel{-1};
}  // namespace

void choose_kernel_for_benchmarks(const SineKernel* kernel) {
  chosen_kernel.store(kernel == nullptr ? -1 : static_cast<int>(*kernel),
                      std::memory_order_relaxed);
}

SineKernel best_kernel() {
  const int chosen = chosen_kernel.load(std::memory_order_relaxed);
  if (chosen >= 0) return static_cast<SineKernel>(chosen);
#if defined(__wasm_simd128__)
  return SineKernel::simd128;
#endif
  // A few loads of the features read at load time.
  if (kernel_supported(SineKernel::avx512)) return SineKernel::avx512;
  if (kernel_supported(SineKernel::avx2)) return SineKernel::avx2;
  if (kernel_supported(SineKernel::baseline)) return SineKernel::baseline;
  return SineKernel::portable;
}

double run_kernel(SineKernel kernel, const KernelRun& run) {
  switch (kernel) {
#if defined(__wasm_simd128__)
    case SineKernel::simd128:
      return fill_simd128(run);
#endif
#if defined(TUVELLO_X86)
    case SineKernel::avx512:
      return fill_avx512(run);
    case SineKernel::avx2:
      return fill_avx2(run);
    case SineKernel::baseline:
      return fill_sse2(run);
#endif
    default:
      return fill_portable(run);
  }
}

}  // namespace tuvello::synth
