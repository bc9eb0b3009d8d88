#include "image/create_song.hpp"

#include <algorithm>

#include "synth/note_block.hpp"
#include "synth/note_synth.hpp"

namespace tuvello::image {
namespace {

// Whether the note blocks of `text` would take the image past `max_bytes`.
// Worked out from the block sizes alone, so that a text too long to render is
// refused at once instead of after synthesizing and allocating up to the cap.
bool would_pass(std::string_view text, std::int64_t max_bytes, const SongImage& image) {
  const auto block_bytes = [&image](double frequency, const text::NoteSettings& settings) {
    return std::int64_t{
        synth::plan_note_block(frequency, settings, image.sample_rate(), image.byte_rate()).bytes};
  };
  // Every note but the last takes at least two bytes of text ("c;"), and no
  // block is longer than one of the longest accepted length: a short text
  // cannot pass, and most texts need no second walk.
  text::NoteSettings longest;
  longest.length_ms = text::kLengthRange.high;
  const auto most_notes = static_cast<std::int64_t>(text.size() / 2 + 1);
  if (kHeaderBytes + most_notes * block_bytes(0.0, longest) <= max_bytes) return false;

  std::int64_t length = kHeaderBytes;
  const auto add = [&](double frequency, const text::NoteSettings& settings) {
    length += block_bytes(frequency, settings);
    return length <= max_bytes;  // stops the walk once past
  };
  return !text::interpret(text, add);
}

}  // namespace

std::uint8_t* create_song(std::string_view text, std::int64_t max_bytes,
                          const text::CommandObserver* observer) {
  if (max_bytes < kHeaderBytes) return nullptr;  // not even the header fits
  max_bytes = std::min(max_bytes, kMaxImageBytes);
  SongImage image(max_bytes);
  if (!image.ok() || would_pass(text, max_bytes, image)) return nullptr;
  const auto add_note = [&image](double frequency, const text::NoteSettings& settings) {
    return synth::render_note(image, frequency, settings);
  };
  if (!text::interpret(text, add_note, observer)) return nullptr;
  return image.release_to_caller();
}

}  // namespace tuvello::image
