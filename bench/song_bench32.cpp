// SPDX-License-Identifier: MIT
// The 32-bit build's sample loop against its own reference formula. Prints
// ns per sample for each and their ratio (median of 5 rounds).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "reference_note_block.hpp"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Fill>
double ns_per_sample(const tuvello::synth::NoteBlock& b, int repeats, Fill fill) {
  std::vector<std::uint8_t> out(b.bytes);
  const auto start = Clock::now();
  for (int i = 0; i < repeats; ++i) fill(b, out.data());
  const std::chrono::duration<double, std::nano> took = Clock::now() - start;
  return took.count() / (static_cast<double>(b.frames) * repeats);
}

}  // namespace

int main() {
  struct Case {
    const char* name;
    bool pipe, decay;
  };
  for (const Case c :
       {Case{"plain", false, false}, Case{"pipe", true, false}, Case{"decay", false, true}}) {
    tuvello::text::NoteSettings s;
    s.length_ms = 500;
    s.volume = 0.8f;
    s.pipe = c.pipe;
    s.decay = c.decay;
    const auto b = tuvello::synth::plan_note_block(440.0, s, 22050, 44100);
    std::vector<double> ratios;
    double fast = 0, reference = 0;
    for (int round = 0; round < 5; ++round) {
      fast = ns_per_sample(b, 200, [](const auto& blk, std::uint8_t* out) {
        tuvello::synth::write_samples(blk, out);
      });
      reference = ns_per_sample(b, 4, tuvello_test::reference_write_samples);
      ratios.push_back(reference / fast);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("32-bit %-5s: fast %.3f ns/sample, reference %.1f ns/sample, median ratio %.1fx\n",
                c.name, fast, reference, ratios[2]);
  }
  return 0;
}
