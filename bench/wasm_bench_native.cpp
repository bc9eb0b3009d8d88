// SPDX-License-Identifier: MIT
// The native side of bench/wasm_bench.mjs: times the library on the requests
// it reads, one a line, so that native, Node.js and Chromium take turns on the
// same texts in one run.
//
//   song N TEXT      TUVELLO_CreateSong(TEXT) and TUVELLO_FreeSong, N times
//                    (the processor's best sample loop)
//   stream N TEXT    the image of TEXT read through a 64 KiB buffer
//                    (TUVELLO_OpenSong, TUVELLO_ReadSong), N times
//   touch N BYTES    a fresh mapping of BYTES written once and unmapped, N
//                    times: what the first touch of fresh 4 KiB pages costs
//                    here (an engine's large ArrayBuffer gets such pages)
//   loop K N         one sample loop alone, N times over a 500 ms note of
//                    440 Hz: K 0 baseline (SSE2), 1 AVX2, 2 AVX-512, 3 portable
//
// Each answer is one line: wall ns, this thread's CPU ns (both for all N),
// and the samples of one image (song) or one note (loop); "unsupported" for a
// loop this processor lacks.
#include <sys/mman.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "synth/note_block.hpp"
#include "tuvello.h"

namespace {

struct Clocks {
  std::int64_t wall;
  std::int64_t cpu;
};

Clocks now() {
  timespec w{}, c{};
  clock_gettime(CLOCK_MONOTONIC, &w);
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c);
  return {w.tv_sec * 1000000000LL + w.tv_nsec, c.tv_sec * 1000000000LL + c.tv_nsec};
}

void answer(const Clocks& start, std::int64_t samples) {
  const Clocks end = now();
  std::printf("%lld %lld %lld\n", static_cast<long long>(end.wall - start.wall),
              static_cast<long long>(end.cpu - start.cpu), static_cast<long long>(samples));
  std::fflush(stdout);
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string what;
    long count = 0;
    in >> what;
    if (what == "song") {
      std::string text;
      in >> count;
      in.get();  // the space before the text
      std::getline(in, text);
      std::int64_t size = 0;
      const Clocks start = now();
      for (long i = 0; i < count; ++i) {
        std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
        if (song == nullptr) {
          std::printf("failed\n");
          return 1;
        }
        size = TUVELLO_GetSongSize(song);
        TUVELLO_FreeSong(song);
      }
      answer(start, (size - 44) / 2);
    } else if (what == "stream") {
      std::string text;
      in >> count;
      in.get();
      std::getline(in, text);
      static std::uint8_t buffer[1 << 16];
      std::int64_t size = 0;
      const Clocks start = now();
      for (long i = 0; i < count; ++i) {
        TUVELLO_SongReader* reader = TUVELLO_OpenSong(text.c_str());
        if (reader == nullptr) {
          std::printf("failed\n");
          return 1;
        }
        size = 0;
        for (std::int32_t n; (n = TUVELLO_ReadSong(reader, buffer, sizeof buffer)) > 0;) size += n;
        TUVELLO_CloseSong(reader);
      }
      answer(start, (size - 44) / 2);
    } else if (what == "touch") {
      long bytes = 0;
      in >> count >> bytes;
      const auto size = static_cast<std::size_t>(bytes);
      const Clocks start = now();
      for (long i = 0; i < count; ++i) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return 1;
        std::memset(p, 1, size);
        asm volatile("" : : "r"(p) : "memory");
        munmap(p, size);
      }
      answer(start, bytes / 2);
    } else if (what == "loop") {
      int kernel_number = 0;
      in >> kernel_number >> count;
      const auto kernel = static_cast<tuvello::synth::SineKernel>(kernel_number);
      if (!tuvello::synth::kernel_supported(kernel)) {
        std::printf("unsupported\n");
        std::fflush(stdout);
        continue;
      }
      tuvello::text::NoteSettings settings;
      settings.length_ms = 500;
      const tuvello::synth::NoteBlock block =
          tuvello::synth::plan_note_block(440.0, settings, 22050, 44100);
      std::vector<std::uint8_t> out(static_cast<std::size_t>(block.bytes));
      const Clocks start = now();
      for (long i = 0; i < count; ++i) {
        tuvello::synth::write_samples(block, out.data(), kernel);
        asm volatile("" : : "r"(out.data()) : "memory");  // the samples are used
      }
      answer(start, block.frames);
    } else {
      std::fprintf(stderr, "unknown request: %s\n", line.c_str());
      return 2;
    }
  }
  return 0;
}
