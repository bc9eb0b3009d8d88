// The instruction sets the sample loop is built for, and the choice among them.
#pragma once

#include "synth/sine_kernel.hpp"

namespace tuvello::synth {

enum class SineKernel { baseline, avx2, avx512 };

// Whether this processor can run `kernel`.
bool kernel_supported(SineKernel kernel);

// The fastest kernel this processor runs.
SineKernel best_kernel();

// Runs `run` on `kernel`, which must be supported; returns what fill_samples
// returns.
double run_kernel(SineKernel kernel, const KernelRun& run);

}  // namespace tuvello::synth
