#include "synth/note_synth.hpp"

#include <cassert>

#include "synth/note_block.hpp"

namespace tuvello::synth {

bool render_note(image::SongImage& image, double note_frequency,
                 const text::NoteSettings& settings) {
  const NoteBlock block =
      plan_note_block(note_frequency, settings, image.sample_rate(), image.byte_rate());
  // Song images are mono: one sample per frame.
  assert(image.channels() == 1);
  std::uint8_t* out = image.append_block(block.bytes, samples_written(block));
  if (out == nullptr) return false;
  write_samples(block, out);
  return true;
}

}  // namespace tuvello::synth
