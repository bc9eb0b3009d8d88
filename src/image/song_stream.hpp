// SPDX-License-Identifier: MIT
// The song image of a text, laid out and produced piece by piece: its length,
// its note blocks, and its bytes in order, without ever holding the image.
// Every way of rendering goes through here, so they all give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/function_ref.hpp"
#include "image/song_image.hpp"
#include "synth/note_block.hpp"
#include "text/diagnostics.hpp"
#include "text/interpreter.hpp"

namespace tuvello::image {

// The note block a note of `frequency` (0 for a pause) makes under `settings`.
synth::NoteBlock plan_block(double frequency, const text::NoteSettings& settings);

// Adds up the block sizes of a text's notes; block sizes depend on the note
// length alone, which rarely changes, so each length is planned once in a row.
class LengthCounter {
 public:
  // Adds one note's block (none unless `note`); returns false once the
  // image is longer than `max_bytes`.
  bool add(std::int32_t length_ms, std::int64_t max_bytes, bool note = true);
  bool add(const text::NoteSettings& settings, std::int64_t max_bytes) {
    return add(settings.length_ms, max_bytes);
  }
  std::int64_t length() const { return length_; }

 private:
  std::int64_t length_ = kHeaderBytes;
  std::int32_t planned_length_ms_ = -1;
  std::int32_t planned_bytes_ = 0;
};

// The image's length in bytes, header included, or -1 when it would pass
// `max_bytes`. Reads the text only as far as that is known.
std::int64_t measure_song(std::string_view text, std::int64_t max_bytes = kMaxImageBytes);

// The same, with the number of notes and pauses read (all of them unless the
// length passed `max_bytes`).
struct SongMeasure {
  std::int64_t bytes;
  std::size_t notes;
};
SongMeasure measure_notes(std::string_view text, std::int64_t max_bytes = kMaxImageBytes);

// One note of the note map: the command and the block it made.
struct MappedNote {
  const text::Command* command;
  const synth::NoteBlock* block;
  std::int64_t image_offset;  // may pass the size limit: the map covers every note
};

// Visits every note and pause in text order until `visit` returns false;
// returns the number visited. Synthesizes nothing, allocates nothing.
std::size_t for_each_note(std::string_view text, base::FunctionRef<bool(const MappedNote&)> visit);

// Visits the warnings of `text` in text order (text::for_each_warning) with
// this image's size limit; returns how many were visited.
std::size_t for_each_warning(std::string_view text, text::WarningSink visit);

// How many warnings for_each_warning would visit, without writing a message.
std::size_t count_warnings(std::string_view text);

// Places in a song text and its image from which a walk can go on: a sparse
// index that lets a seek walk from the nearest place before its target
// instead of from the text's start. A place is kept every `spacing` bytes of
// text at most; when the index is full, every other place is dropped and the
// spacing doubled, so it covers any text in at most kCapacity places (64 KiB).
class Checkpoints {
 public:
  struct Place {
    std::uint64_t text_offset;   // of the next command
    std::uint32_t image_offset;  // of the next note block
    std::uint16_t length_ms;
    std::uint8_t volume_percent;
    std::uint8_t octave_and_modes;  // octave | pipe << 4 | decay << 5
  };
  static constexpr std::uint32_t kCapacity = 4096;
  static_assert(sizeof(Place) == 16);

  Checkpoints() = default;
  Checkpoints(const Checkpoints&) = delete;
  Checkpoints& operator=(const Checkpoints&) = delete;
  ~Checkpoints();

  // Allocates the index; false when memory runs out (it then stays empty and
  // every seek walks from the start, as without one).
  bool start();
  bool started() const { return places_ != nullptr; }

  // Keeps the walk's place, with the image offset of its next block, if it
  // is far enough past the last kept.
  void offer(const text::CommandWalk& walk, std::int64_t image_offset) {
    if (places_ != nullptr && walk.next_offset() >= next_text_offset_ && !walk.done()) {
      keep(walk, image_offset);
    }
  }

  // The last place whose next block starts at or before `image_offset`, or
  // null.
  const Place* before(std::int64_t image_offset) const;

  // A walk of `text` from `place`.
  static text::CommandWalk resume(std::string_view text, const Place& place);

 private:
  void keep(const text::CommandWalk& walk, std::int64_t image_offset);

  Place* places_ = nullptr;
  std::uint32_t count_ = 0;
  std::uint64_t spacing_ = 4096;
  std::uint64_t next_text_offset_ = 0;  // where the next place may be kept
};

// The bytes of a song image, produced in order as they are read. Holds the
// text by reference and a few KiB of its own, whatever the song's length;
// once it has been sought backward, also an index of places in the text
// (Checkpoints, at most 64 KiB), so that later seeks walk little of it.
class SongStream {
 public:
  // A stream at the first byte of the image of `text`, which is `size` bytes
  // long (as measure_song gives it).
  SongStream(std::string_view text, std::int64_t size);

  std::int64_t size() const { return size_; }
  std::int64_t position() const { return pos_; }

  // Writes the next min(capacity, bytes left) bytes to `out`; returns that.
  std::size_t read(std::uint8_t* out, std::size_t capacity);

  // Moves to `offset` in [0, size]; false outside (the position is kept).
  // Walks the text from the current note, or from the nearest place of the
  // index before `offset` when that is nearer; the first seek backward starts
  // the index, and walks from the text's start.
  bool seek(std::int64_t offset);

 private:
  // Goes on from `place` (null: from the text's start).
  void restart(const Checkpoints::Place* place);

  // Moves on to the next note block; false after the last.
  bool next_block();
  // Writes up to `capacity` bytes of the current block from pos_; returns
  // how many.
  std::size_t read_block(std::uint8_t* out, std::size_t capacity);

  // Samples written ahead for a read that does not start on a whole stretch
  // of frames or is too short for one; one kernel run.
  static constexpr std::int32_t kStagedFrames = 1024;

  std::string_view text_;
  text::CommandWalk walk_;
  std::int64_t size_;
  std::int64_t pos_ = 0;
  std::int64_t block_start_ = kHeaderBytes;  // image offset of the current block
  synth::NoteBlock block_{};                 // none yet: 0 bytes
  std::int32_t sounding_bytes_ = 0;          // the block's bytes that carry samples
  std::int64_t staged_start_ = 0;            // image offset of staged_[0]
  std::int32_t staged_bytes_ = 0;
  std::uint8_t staged_[2 * kStagedFrames];
  Checkpoints checkpoints_;
};

}  // namespace tuvello::image
