#include "synth/sine_kernels.hpp"

namespace tuvello::synth {
namespace {

#if defined(__x86_64__) || defined(__i386__)
#define TUVELLO_X86 1
[[gnu::target("avx512f,avx512dq,avx512vl,avx2,fma")]] double fill_avx512(const KernelRun& run) {
  return fill_samples<8>(run);
}

[[gnu::target("avx2,fma")]] double fill_avx2(const KernelRun& run) { return fill_samples<4>(run); }
#endif

double fill_baseline(const KernelRun& run) { return fill_samples<2>(run); }

#if defined(TUVELLO_X86)
// What the processor supports is read once, when the library is loaded, so
// that renders on several threads only ever read it.
[[gnu::constructor]] void read_processor_features() { __builtin_cpu_init(); }
#endif

}  // namespace

bool kernel_supported(SineKernel kernel) {
  switch (kernel) {
    case SineKernel::baseline:
      return true;
#if defined(TUVELLO_X86)
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

SineKernel best_kernel() {
  // A few loads of the features read at load time.
  if (kernel_supported(SineKernel::avx512)) return SineKernel::avx512;
  if (kernel_supported(SineKernel::avx2)) return SineKernel::avx2;
  return SineKernel::baseline;
}

double run_kernel(SineKernel kernel, const KernelRun& run) {
  switch (kernel) {
#if defined(TUVELLO_X86)
    case SineKernel::avx512:
      return fill_avx512(run);
    case SineKernel::avx2:
      return fill_avx2(run);
#endif
    default:
      return fill_baseline(run);
  }
}

}  // namespace tuvello::synth
