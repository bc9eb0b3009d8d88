// SPDX-License-Identifier: MIT
// The C interface. Arguments are checked here; nothing below throws.
#include <climits>
#include <cstring>
#include <new>

#include "base/exact_arithmetic.hpp"
#include "base/little_endian.hpp"
#include "image/block_allocator.hpp"
#include "image/create_song.hpp"
#include "image/song_stream.hpp"
#include "text/diagnostics.hpp"
#include "tuvello.h"

using namespace tuvello::image;
using tuvello::base::load_u32;
namespace text = tuvello::text;
namespace exact = tuvello::base::exact;

// The reader handed out: a stream, which holds the text by reference.
struct TUVELLO_SongReader {
  SongStream stream;
};

namespace {

std::string_view song_text(const char* text) {
  return text == nullptr ? std::string_view{} : std::string_view{text};
}

// Counts and command numbers past INT32_MAX (texts of gigabytes) stay there.
std::int32_t clamp32(std::size_t n) {
  return n > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(n);
}

// A public struct that carries its size (TUVELLO_Note, TUVELLO_Warning),
// zeroed beyond what is set, placed at `command` of the song text.
template <typename Located>
Located located_at(const text::Command& command) {
  Located out;
  std::memset(&out, 0, sizeof out);
  out.struct_size = sizeof out;
  out.command = clamp32(command.number);
  out.text_offset = static_cast<int64_t>(command.offset);
  out.text_length = static_cast<int64_t>(command.written.size());
  return out;
}

static_assert(static_cast<int>(text::WarningKind::empty) == TUVELLO_WARN_EMPTY);
static_assert(static_cast<int>(text::WarningKind::unknown_key) == TUVELLO_WARN_UNKNOWN_KEY);
static_assert(static_cast<int>(text::WarningKind::out_of_range) == TUVELLO_WARN_OUT_OF_RANGE);
static_assert(static_cast<int>(text::WarningKind::not_a_number) == TUVELLO_WARN_NOT_A_NUMBER);
static_assert(static_cast<int>(text::WarningKind::ignored_text) == TUVELLO_WARN_IGNORED_TEXT);
static_assert(static_cast<int>(text::WarningKind::no_effect) == TUVELLO_WARN_NO_EFFECT);
static_assert(static_cast<int>(text::WarningKind::too_long) == TUVELLO_WARN_TOO_LONG);

}  // namespace

extern "C" {

TUVELLO_API uint8_t* TUVELLO_CreateSong(const char* text) { return create_song(song_text(text)); }

TUVELLO_API int32_t TUVELLO_GetSongSize(const uint8_t* song) { return whole_size(song); }

// Both quotients are rounded once, in integers: on x87 a division would leave
// the result in an 80-bit register, and the caller would see it rounded twice
// or not at all.
TUVELLO_API double TUVELLO_GetSongDuration(const uint8_t* song) {
  if (song == nullptr) return 0.0;
  const std::uint32_t data = data_size(song), rate = load_u32(song + kByteRateOffset);
  if (data == 0 || rate == 0) return static_cast<double>(data) / rate;  // 0, inf or NaN: exact
  return exact::double_of(exact::divide_to_bits(data, rate, 53));
}

TUVELLO_API float TUVELLO_GetSongLenght(const uint8_t* song) {
  if (song == nullptr) return 0.0f;
  // The data size as a signed 32-bit number, over the sample rate.
  const auto data = static_cast<std::int32_t>(data_size(song));
  const std::uint32_t rate = load_u32(song + kSampleRateOffset);
  if (data == 0 || rate == 0) return static_cast<float>(data) / static_cast<float>(rate);
  const std::uint64_t magnitude = data < 0 ? 0 - static_cast<std::uint64_t>(data) : data;
  const float lenght = exact::float_of(exact::divide_to_bits(magnitude, rate, 24));
  return data < 0 ? -lenght : lenght;
}

TUVELLO_API int32_t TUVELLO_FreeSong(uint8_t* song) {
  if (song == nullptr) return 0;
  release_block(song);
  return 1;
}

TUVELLO_API const char* TUVELLO_GetVersion(void) {
#define TUVELLO_STRINGIFY_(x) #x
#define TUVELLO_STRINGIFY(x) TUVELLO_STRINGIFY_(x)
  return TUVELLO_STRINGIFY(TUVELLO_VERSION_MAJOR) "." TUVELLO_STRINGIFY(
      TUVELLO_VERSION_MINOR) "." TUVELLO_STRINGIFY(TUVELLO_VERSION_PATCH);
}

TUVELLO_API int64_t TUVELLO_MeasureSong(const char* text) { return measure_song(song_text(text)); }

TUVELLO_API TUVELLO_SongReader* TUVELLO_OpenSong(const char* text) {
  const std::string_view song = song_text(text);
  const std::int64_t size = measure_song(song);
  if (size < 0) return nullptr;
  std::uint8_t* memory = allocate_block(static_cast<std::int32_t>(sizeof(TUVELLO_SongReader)));
  if (memory == nullptr) return nullptr;
  return new (memory) TUVELLO_SongReader{SongStream(song, size)};
}

TUVELLO_API int32_t TUVELLO_ReadSong(TUVELLO_SongReader* reader, uint8_t* buffer,
                                     int32_t capacity) {
  if (reader == nullptr || capacity < 0 || (buffer == nullptr && capacity > 0)) return -1;
  return static_cast<int32_t>(reader->stream.read(buffer, static_cast<std::size_t>(capacity)));
}

TUVELLO_API int32_t TUVELLO_SeekSong(TUVELLO_SongReader* reader, int64_t offset) {
  if (reader == nullptr) return -1;
  return reader->stream.seek(offset) ? 0 : -1;
}

TUVELLO_API int32_t TUVELLO_CloseSong(TUVELLO_SongReader* reader) {
  if (reader == nullptr) return 0;
  reader->~TUVELLO_SongReader();
  release_block(reinterpret_cast<std::uint8_t*>(reader));
  return 1;
}

TUVELLO_API int32_t TUVELLO_ForEachNote(const char* text, TUVELLO_NoteVisitor visit,
                                        void* context) {
  const auto each = [&](const MappedNote& m) {
    TUVELLO_Note note = located_at<TUVELLO_Note>(*m.command);
    note.image_offset = m.image_offset;
    note.bytes = m.block->bytes;
    note.frames = m.block->frames;
    // Tones are tuned against twice the frame rate: they sound an octave down.
    note.pitch_hz = m.block->frequency / 2.0;
    note.amplitude = m.block->frequency == 0.0 ? 0 : m.block->amplitude;
    note.flags =
        (m.block->pipe ? TUVELLO_NOTE_PIPE : 0) | (m.block->decay ? TUVELLO_NOTE_DECAY : 0);
    return visit(&note, context) == 0;
  };
  // A song too long for an image has no note map: say so before visiting.
  const SongMeasure measured = measure_notes(song_text(text));
  if (measured.bytes < 0) return -1;
  if (visit == nullptr) return clamp32(measured.notes);
  return clamp32(for_each_note(song_text(text), each));
}

TUVELLO_API int32_t TUVELLO_ForEachWarning(const char* text, TUVELLO_WarningVisitor visit,
                                           void* context) {
  const auto each = [&](const text::Warning& w) {
    TUVELLO_Warning warning = located_at<TUVELLO_Warning>(*w.command);
    warning.kind = static_cast<int32_t>(w.kind);
    warning.message = w.message.data();
    return visit(&warning, context) == 0;
  };
  if (visit == nullptr) return clamp32(count_warnings(song_text(text)));
  return clamp32(for_each_warning(song_text(text), each));
}

}  // extern "C"
