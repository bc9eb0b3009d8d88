#include "image/create_song.hpp"

#include "synth/note_synth.hpp"

namespace tuvello::image {

std::uint8_t* create_song(std::string_view text, std::int64_t max_bytes,
                          const text::CommandObserver* observer) {
  SongImage image(max_bytes);
  if (!image.ok()) return nullptr;
  const auto add_note = [&image](double frequency, const text::NoteSettings& settings) {
    return synth::render_note(image, frequency, settings);
  };
  if (!text::interpret(text, add_note, observer)) return nullptr;
  return image.release_to_caller();
}

}  // namespace tuvello::image
