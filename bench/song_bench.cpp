// SPDX-License-Identifier: MIT
// Speed of the song library against the straightforward formula, in one run.
//
//   FastNote / ReferenceNote  ns per sample for one note block (plain, pipe,
//                             decay; short and long notes; low and high tones)
//   SampleLoop                each sample loop: 0 baseline, 1 AVX2, 2 AVX-512
//   Interpreter               MB/s over setting-only texts of 1, 10, 100 MB
//   WholeSong                 TUVELLO_CreateSong over 1k, 10k, 100k notes
//   BigImage                  an 88 MB song: 0 malloc + memset of its size (the
//                             baseline), 1 TUVELLO_CreateSong, 2 a reader through
//                             a 64 KiB buffer; ns per sample; with each sample
//                             loop (kernel 1 AVX2, 2 AVX-512)
//   WholeCall                 TUVELLO_CreateSong of 13, 130 and 1300 notes of
//                             500 ms, ns per sample, with each sample loop (the
//                             baseline is SampleLoop of the same kernel)
//   Measure                   TUVELLO_MeasureSong, MB/s over setting-only text
//   TextWalk                  the text walks over realistic text and over ";"
//   Seek                      a reader's seek back near the end of a 4 MB text:
//                             0 through its index, 1 a walk of the whole text
//                             (what a seek back cost without the index)
//
// Kernels the processor lacks are skipped with an error, which
// bench/ratios.py reports as n/a.
//
// bench/ratios.py turns the JSON output into the ratios we track.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "reference_note_block.hpp"
#include "reference_walk.hpp"
#include "synth/note_block.hpp"
#include "synth/sine_kernels.hpp"
#include "text/interpreter.hpp"
#include "tuvello.h"

namespace {

using tuvello::synth::NoteBlock;

enum Mode { kPlain, kPipe, kDecay };

// Arguments: mode, length in ms, note index (0 = c, 11 = h), multiplier.
NoteBlock block_from(const benchmark::State& state) {
  constexpr double kNotes[] = {261.63, 277.18, 293.66, 311.13, 329.63, 349.23,
                               369.99, 392.00, 415.30, 440.00, 466.16, 493.88};
  tuvello::text::NoteSettings s;
  s.pipe = state.range(0) == kPipe;
  s.decay = state.range(0) == kDecay;
  s.length_ms = static_cast<std::int32_t>(state.range(1));
  s.multiplier = static_cast<std::int32_t>(state.range(3));
  s.volume = 0.8f;
  return tuvello::synth::plan_note_block(kNotes[state.range(2)], s, 22050, 44100);
}

void report_samples(benchmark::State& state, const NoteBlock& b) {
  const double samples = static_cast<double>(b.frames) * static_cast<double>(state.iterations());
  state.counters["samples_per_s"] = benchmark::Counter(samples, benchmark::Counter::kIsRate);
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void note_args(benchmark::internal::Benchmark* b) {
  b->ArgNames({"mode", "len", "note", "mult"});
  for (int mode : {kPlain, kPipe, kDecay}) {
    for (int len : {20, 500}) {
      b->Args({mode, len, 0, 1});
      b->Args({mode, len, 11, 9});
    }
    b->Args({mode, 100, 9, 3});
  }
}

void FastNote(benchmark::State& state) {
  const NoteBlock b = block_from(state);
  std::vector<std::uint8_t> out(b.bytes);
  for (auto _ : state) {
    tuvello::synth::write_samples(b, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  report_samples(state, b);
}
BENCHMARK(FastNote)->Apply(note_args);

// Each sample loop this processor runs, on a long plain note.
void SampleLoop(benchmark::State& state) {
  const auto kernel = static_cast<tuvello::synth::SineKernel>(state.range(0));
  if (!tuvello::synth::kernel_supported(kernel)) {
    state.SkipWithError("not supported on this processor");
    return;
  }
  tuvello::text::NoteSettings s;
  s.length_ms = 500;
  const NoteBlock b = tuvello::synth::plan_note_block(440.0, s, 22050, 44100);
  std::vector<std::uint8_t> out(b.bytes);
  for (auto _ : state) {
    tuvello::synth::write_samples(b, out.data(), kernel);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  report_samples(state, b);
}
BENCHMARK(SampleLoop)->ArgName("kernel")->DenseRange(0, 2);  // baseline, avx2, avx512

void ReferenceNote(benchmark::State& state) {
  const NoteBlock b = block_from(state);
  std::vector<std::uint8_t> out(b.bytes);
  for (auto _ : state) {
    tuvello_test::reference_write_samples(b, out.data());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  report_samples(state, b);
}
BENCHMARK(ReferenceNote)->Apply(note_args);

// Settings only, so the interpreter is all that runs.
const std::string& setting_text(std::size_t megabytes) {
  static std::vector<std::string> texts(101);
  std::string& t = texts[megabytes];
  if (t.empty()) {
    const std::string pattern = "vol:80; len : 120;OCT:2;pipe;dec:0;;x:1;";
    t.reserve(megabytes << 20);
    while (t.size() + pattern.size() <= (megabytes << 20)) t += pattern;
  }
  return t;
}

void Interpreter(benchmark::State& state) {
  const std::string& text = setting_text(static_cast<std::size_t>(state.range(0)));
  const auto sink = [](double, const tuvello::text::NoteSettings&) { return true; };
  for (auto _ : state) {
    benchmark::DoNotOptimize(tuvello::text::interpret(text, sink));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
}
BENCHMARK(Interpreter)->ArgName("MB")->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void WholeSong(benchmark::State& state) {
  std::string text = "len:20;vol:90;dec:1;";
  const char* notes[] = {"c;", "e;", "g;", "p;", "a;", "oct:1;", "h;", "oct:0;"};
  for (std::int64_t i = 0; i < state.range(0); ++i) text += notes[i % 8];
  std::int64_t bytes = 0;
  for (auto _ : state) {
    std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
    bytes = TUVELLO_GetSongSize(song);
    TUVELLO_FreeSong(song);
  }
  state.counters["image_MB"] = static_cast<double>(bytes) / (1 << 20);
  state.SetBytesProcessed(bytes * state.iterations());
}
BENCHMARK(WholeSong)->ArgName("notes")->Arg(1000)->Arg(10000)->Arg(100000)->Unit(
    benchmark::kMillisecond);

// 4000 notes of 500 ms: an image of 88.2 MB, 44.1 million samples.
const std::string& big_song() {
  static const std::string text = [] {
    std::string t = "len:500;";
    for (int i = 0; i < 4000; ++i) t += "a;";
    return t;
  }();
  return text;
}

// Makes the library use one sample loop while alive; false (and the
// benchmark skipped) when this processor lacks it.
class KernelChoice {
 public:
  explicit KernelChoice(benchmark::State& state, std::int64_t kernel)
      : kernel_(static_cast<tuvello::synth::SineKernel>(kernel)) {
    ok_ = tuvello::synth::kernel_supported(kernel_);
    if (ok_) {
      tuvello::synth::choose_kernel_for_benchmarks(&kernel_);
    } else {
      state.SkipWithError("not supported on this processor");
    }
  }
  ~KernelChoice() { tuvello::synth::choose_kernel_for_benchmarks(nullptr); }
  bool ok() const { return ok_; }

 private:
  tuvello::synth::SineKernel kernel_;
  bool ok_;
};

enum BigImageWay { kMallocMemset, kCreateSong, kReader };

void BigImage(benchmark::State& state) {
  const KernelChoice kernel(state, state.range(1));
  if (!kernel.ok()) return;
  const std::string& text = big_song();
  const auto size = static_cast<std::size_t>(TUVELLO_MeasureSong(text.c_str()));
  static std::uint8_t buffer[1 << 16];
  for (auto _ : state) {
    switch (state.range(0)) {
      case kMallocMemset: {
        // The byte is not known to the compiler, which would otherwise turn
        // malloc + memset into a calloc that skips the page faults.
        static volatile int zero = 0;
        void* p = std::malloc(size);
        std::memset(p, zero, size);
        benchmark::DoNotOptimize(p);
        benchmark::ClobberMemory();
        std::free(p);
        break;
      }
      case kCreateSong: {
        std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
        benchmark::DoNotOptimize(song);
        TUVELLO_FreeSong(song);
        break;
      }
      case kReader: {
        TUVELLO_SongReader* reader = TUVELLO_OpenSong(text.c_str());
        while (TUVELLO_ReadSong(reader, buffer, sizeof buffer) > 0) benchmark::ClobberMemory();
        TUVELLO_CloseSong(reader);
        break;
      }
    }
  }
  const double samples = static_cast<double>(size / 2) * static_cast<double>(state.iterations());
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["image_MB"] = static_cast<double>(size) / 1e6;
}
BENCHMARK(BigImage)
    ->ArgNames({"way", "kernel"})
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->Unit(benchmark::kMillisecond);

// The whole TUVELLO_CreateSong call on small and mid-size images of plain
// 500 ms notes, against the sample loop alone (SampleLoop, same kernel).
void WholeCall(benchmark::State& state) {
  const KernelChoice kernel(state, state.range(1));
  if (!kernel.ok()) return;
  std::string text = "len:500;";
  for (std::int64_t i = 0; i < state.range(0); ++i) text += "a;";
  std::int64_t size = 0;
  for (auto _ : state) {
    std::uint8_t* song = TUVELLO_CreateSong(text.c_str());
    size = TUVELLO_GetSongSize(song);
    benchmark::DoNotOptimize(song);
    TUVELLO_FreeSong(song);
  }
  const double samples =
      static_cast<double>((size - 44) / 2) * static_cast<double>(state.iterations());
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples / 1e9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(WholeCall)->ArgNames({"notes", "kernel"})->ArgsProduct({{13, 130, 1300}, {1, 2}});

void Measure(benchmark::State& state) {
  const std::string& text = setting_text(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(TUVELLO_MeasureSong(text.c_str()));
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
}
BENCHMARK(Measure)->ArgName("MB")->Arg(100)->Unit(benchmark::kMillisecond);

// Song texts as people and converters write them: a million commands of one
// to eight bytes, notes more often than settings, lengths kept short enough
// for the image to stay under its limit (about 4.1 MB); and 5 MB of ";", a
// text of empty commands.
const std::string& walk_text(std::int64_t which) {
  static const std::string realistic = [] {
    static const char* const kNotes[] = {"c", "cs", "d", "ds", "e", "f", "fs",
                                         "g", "gs", "a", "b",  "h", "p"};
    std::string t;
    std::uint32_t seed = 22;
    const auto next = [&seed](std::uint32_t n) {
      seed = seed * 1664525u + 1013904223u;
      return (seed >> 8) % n;
    };
    for (int i = 0; i < 1000000; ++i) {
      if (next(100) < 57) {
        t += kNotes[next(13)];
      } else {
        switch (next(5)) {
          case 0:
            t += "len:" + std::to_string(20 + next(41));
            break;
          case 1:
            t += "vol:" + std::to_string(5 + next(96));
            break;
          case 2:
            t += "oct:" + std::to_string(next(9));
            break;
          case 3:
            t += next(2) != 0 ? "pipe:1" : "pipe:0";
            break;
          default:
            t += next(2) != 0 ? "dec:1" : "dec:0";
            break;
        }
      }
      t += ';';
    }
    return t;
  }();
  static const std::string semicolons(5000000, ';');
  return which == 0 ? realistic : semicolons;
}

enum WalkWay { kReferenceWalk, kMeasure, kNoteCount, kWarningCount, kWarningVisit };

// The text walks over the two texts: 0 the reference walk (the yardstick),
// 1 TUVELLO_MeasureSong, 2 TUVELLO_ForEachNote without a visitor, 3
// TUVELLO_ForEachWarning without a visitor, 4 the same with a visitor that
// counts (every message written). MB/s.
void TextWalk(benchmark::State& state) {
  const std::string& text = walk_text(state.range(0));
  const auto count = [](const TUVELLO_Warning*, void* n) {
    ++*static_cast<long*>(n);
    return 0;
  };
  long counted = 0;
  for (auto _ : state) {
    switch (state.range(1)) {
      case kReferenceWalk: {
        tuvello_test::ReferenceWalk walk(text);
        tuvello::text::Command c;
        std::int64_t notes = 0;
        while (walk.next(c)) notes += c.kind == tuvello::text::Key::note;
        benchmark::DoNotOptimize(notes);
        break;
      }
      case kMeasure:
        benchmark::DoNotOptimize(TUVELLO_MeasureSong(text.c_str()));
        break;
      case kNoteCount:
        benchmark::DoNotOptimize(TUVELLO_ForEachNote(text.c_str(), nullptr, nullptr));
        break;
      case kWarningCount:
        benchmark::DoNotOptimize(TUVELLO_ForEachWarning(text.c_str(), nullptr, nullptr));
        break;
      case kWarningVisit:
        benchmark::DoNotOptimize(TUVELLO_ForEachWarning(text.c_str(), count, &counted));
        break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(text.size()) * state.iterations());
}
BENCHMARK(TextWalk)
    ->ArgNames({"text", "way"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3, 4}})
    ->Unit(benchmark::kMillisecond);

// A reader sought back near the end of the realistic 4 MB text, against one
// walk of the whole text, which such a seek cost before readers kept an
// index. Microseconds per seek.
void Seek(benchmark::State& state) {
  const std::string& text = walk_text(0);
  const std::int64_t size = TUVELLO_MeasureSong(text.c_str());
  TUVELLO_SongReader* reader = TUVELLO_OpenSong(text.c_str());
  std::uint8_t piece[64];
  std::int64_t i = 0;
  for (auto _ : state) {
    if (state.range(0) == 0) {
      // To the end, then back by up to 2 MB of image.
      TUVELLO_SeekSong(reader, size - 64);
      TUVELLO_ReadSong(reader, piece, sizeof piece);
      TUVELLO_SeekSong(reader, size - 64 - (i++ % 97) * 21611);
      TUVELLO_ReadSong(reader, piece, sizeof piece);
    } else {
      benchmark::DoNotOptimize(TUVELLO_MeasureSong(text.c_str()));
    }
  }
  TUVELLO_CloseSong(reader);
  state.counters["us_per_seek"] =
      benchmark::Counter(static_cast<double>(state.iterations()) / 1e6,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(Seek)->ArgName("way")->DenseRange(0, 1);

}  // namespace

BENCHMARK_MAIN();
