#include "synth/note_synth.hpp"

#include "synth/note_block.hpp"

namespace tuvello::synth {

bool render_note(image::SongImage& image, double note_frequency,
                 const text::NoteSettings& settings) {
  const NoteBlock block =
      plan_note_block(note_frequency, settings, image.sample_rate(), image.byte_rate());
  const std::uint16_t channels = image.channels();
  std::uint8_t* out = image.append_block(block.bytes);
  if (out == nullptr) return false;
  write_samples(block, channels, out);
  return true;
}

}  // namespace tuvello::synth
