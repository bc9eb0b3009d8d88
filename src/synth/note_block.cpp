#include "synth/note_block.hpp"

#include <cmath>

#include "image/little_endian.hpp"
#include "synth/sample.hpp"

namespace tuvello::synth {
namespace {

std::int32_t round_to_int(long double x) { return static_cast<std::int32_t>(std::llrint(x)); }

}  // namespace

NoteBlock plan_note_block(double note_frequency, const text::NoteSettings& settings,
                          std::uint32_t sample_rate, std::uint32_t byte_rate) {
  NoteBlock b;
  b.frequency = note_frequency * settings.multiplier;
  b.seconds = settings.length_ms / 1000.0;
  const long double seconds = b.seconds;
  // A block holds whole frames: an odd byte count would shift every later
  // sample of the song by one byte.
  b.bytes = round_to_int(byte_rate * seconds) & ~std::int32_t{1};
  b.amplitude = round_to_int(static_cast<long double>(settings.volume) * kFullScale);
  b.decay_step = static_cast<float>(b.amplitude / (seconds * sample_rate));
  b.frames = round_to_int(seconds * sample_rate + -2.0L);
  b.pipe = settings.pipe;
  b.decay = settings.decay;
  return b;
}

void write_samples(const NoteBlock& block, std::uint16_t channels, std::uint8_t* out) {
  std::int32_t amplitude = block.amplitude;
  // Decay stops once the amplitude is no greater than one step.
  const std::int32_t decay_floor = static_cast<std::int32_t>(std::llrint(block.decay_step));
  const double pipe_frequency = block.frequency * kPipeFactor;
  std::int32_t pipe_counter = 0;
  for (std::int32_t n = 1; n <= block.frames; ++n) {
    for (std::uint16_t ch = 0; ch < channels; ++ch) {
      double f = block.frequency;
      if (block.pipe && ++pipe_counter >= kPipePeriod) {
        f = pipe_frequency;
        pipe_counter = 0;
      }
      const std::int32_t s = exact_sample(f, n, amplitude);
      image::store_u16(out, static_cast<std::uint16_t>(static_cast<std::int16_t>(s)));
      out += 2;
    }
    if (block.decay && amplitude > decay_floor) {
      amplitude = round_to_int(static_cast<long double>(amplitude) - block.decay_step);
    }
  }
}

}  // namespace tuvello::synth
