// SPDX-License-Identifier: MIT
#include "image/song_stream.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "image/block_allocator.hpp"

namespace tuvello::image {

synth::NoteBlock plan_block(double frequency, const text::NoteSettings& settings) {
  return synth::plan_note_block(frequency, settings, kSampleRate, kByteRate);
}

bool LengthCounter::add(std::int32_t length_ms, std::int64_t max_bytes, bool note) {
  if (length_ms != planned_length_ms_) {
    planned_length_ms_ = length_ms;
    planned_bytes_ = synth::block_bytes(length_ms, kSampleRate, kByteRate);
  }
  length_ += planned_bytes_ & -std::int32_t{note};
  return length_ <= max_bytes;
}

SongMeasure measure_notes(std::string_view text, std::int64_t max_bytes) {
  text::CommandWalk walk(text);
  LengthCounter counter;
  std::size_t notes = 0;
  while (walk.step_length()) {
    // Counted without a branch on the key, which text of notes and
    // settings mixed makes unpredictable.
    const bool note = walk.kind() == text::Key::note;
    notes += note;
    if (!counter.add(walk.length_ms(), max_bytes, note)) return {-1, notes};
  }
  return {counter.length() <= max_bytes ? counter.length() : -1, notes};
}

std::int64_t measure_song(std::string_view text, std::int64_t max_bytes) {
  return measure_notes(text, max_bytes).bytes;
}

std::size_t for_each_note(std::string_view text, base::FunctionRef<bool(const MappedNote&)> visit) {
  text::CommandWalk walk(text);
  text::Command c;
  std::int64_t offset = kHeaderBytes;
  std::size_t visited = 0;
  while (walk.step()) {
    if (walk.kind() != text::Key::note) continue;
    walk.describe(c);
    const synth::NoteBlock block = plan_block(c.frequency, walk.settings());
    ++visited;
    if (!visit(MappedNote{&c, &block, offset})) break;
    offset += block.bytes;
  }
  return visited;
}

std::size_t for_each_warning(std::string_view text, text::WarningSink visit) {
  LengthCounter counter;
  const auto fits = [&counter](double, const text::NoteSettings& settings) {
    return counter.add(settings, kMaxImageBytes);
  };
  return text::for_each_warning(text, kMaxImageBytes, fits, &visit);
}

std::size_t count_warnings(std::string_view text) {
  LengthCounter counter;
  const auto fits = [&counter](double, const text::NoteSettings& settings) {
    return counter.add(settings, kMaxImageBytes);
  };
  return text::for_each_warning(text, kMaxImageBytes, fits, nullptr);
}

Checkpoints::~Checkpoints() { release_block(reinterpret_cast<std::uint8_t*>(places_)); }

bool Checkpoints::start() {
  // Blocks are aligned for any scalar, which Place needs.
  places_ = reinterpret_cast<Place*>(allocate_block(kCapacity * sizeof(Place)));
  return places_ != nullptr;
}

void Checkpoints::keep(const text::CommandWalk& walk, std::int64_t image_offset) {
  if (count_ == kCapacity) {
    // Full: every other place goes, and places come half as often.
    for (std::uint32_t i = 0; i < kCapacity / 2; ++i) places_[i] = places_[2 * i];
    count_ = kCapacity / 2;
    spacing_ *= 2;
  }
  const text::NoteSettings& s = walk.settings();
  places_[count_++] = Place{
      walk.next_offset(), static_cast<std::uint32_t>(image_offset),
      static_cast<std::uint16_t>(s.length_ms), static_cast<std::uint8_t>(walk.volume_percent()),
      static_cast<std::uint8_t>((s.multiplier - 1) | s.pipe << 4 | s.decay << 5)};
  next_text_offset_ = walk.next_offset() + spacing_;
}

const Checkpoints::Place* Checkpoints::before(std::int64_t image_offset) const {
  // Places are kept in text order, so their image offsets never decrease.
  const Place* end = places_ + count_;
  const Place* first = places_;
  const Place* after = std::upper_bound(
      first, end, image_offset,
      [](std::int64_t offset, const Place& p) { return offset < std::int64_t{p.image_offset}; });
  return after == places_ ? nullptr : after - 1;
}

text::CommandWalk Checkpoints::resume(std::string_view text, const Place& place) {
  text::CommandWalk::Place p;
  p.offset = static_cast<std::size_t>(place.text_offset);
  p.number = 1;  // the walk is past a command: a ';' ending the text ends it
  p.settings.length_ms = place.length_ms;
  p.settings.volume = text::walk_detail::kVolumes[place.volume_percent];
  p.settings.multiplier = (place.octave_and_modes & 0xF) + 1;
  p.settings.pipe = (place.octave_and_modes >> 4 & 1) != 0;
  p.settings.decay = (place.octave_and_modes >> 5 & 1) != 0;
  return text::CommandWalk(text, p);
}

SongStream::SongStream(std::string_view text, std::int64_t size)
    : text_(text), walk_(text), size_(size) {
  assert(size >= kHeaderBytes && size <= kMaxImageBytes);
}

void SongStream::restart(const Checkpoints::Place* place) {
  if (place == nullptr) {
    walk_ = text::CommandWalk(text_);
    block_start_ = kHeaderBytes;
  } else {
    walk_ = Checkpoints::resume(text_, *place);
    block_start_ = place->image_offset;
  }
  block_ = {};
  sounding_bytes_ = 0;
}

bool SongStream::seek(std::int64_t offset) {
  if (offset < 0 || offset > size_) return false;
  if (offset < block_start_) {
    // Blocks are found by walking the text, which only goes forward: from a
    // place of the index, or from the start. Without memory for the index,
    // every backward seek walks from the start.
    if (!checkpoints_.started()) checkpoints_.start();
    restart(checkpoints_.started() ? checkpoints_.before(offset) : nullptr);
  } else if (offset >= block_start_ + block_.bytes) {
    // Forward past the current block: a place of the index may be nearer.
    const Checkpoints::Place* place =
        checkpoints_.started() ? checkpoints_.before(offset) : nullptr;
    if (place != nullptr && place->image_offset > block_start_ + block_.bytes) restart(place);
  }
  pos_ = offset;
  return true;
}

bool SongStream::next_block() {
  block_start_ += block_.bytes;
  for (;;) {
    checkpoints_.offer(walk_, block_start_);
    if (!walk_.step()) break;
    if (walk_.kind() != text::Key::note) continue;
    block_ = plan_block(walk_.frequency(), walk_.settings());
    sounding_bytes_ = synth::samples_written(block_);
    return true;
  }
  block_ = {};
  sounding_bytes_ = 0;
  return false;
}

std::size_t SongStream::read(std::uint8_t* out, std::size_t capacity) {
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<std::int64_t>(size_ - pos_, capacity));
  std::size_t done = 0;
  if (done < wanted && pos_ < kHeaderBytes) {
    std::uint8_t header[kHeaderBytes];
    write_header(header, static_cast<std::uint32_t>(size_ - kHeaderBytes));
    const auto n = std::min<std::size_t>(wanted, static_cast<std::size_t>(kHeaderBytes - pos_));
    std::memcpy(out, header + pos_, n);
    pos_ += static_cast<std::int64_t>(n);
    done = n;
  }
  while (done < wanted) {
    while (pos_ >= block_start_ + block_.bytes) {
      // The measured size covers every block, so one is always left here.
      if (!next_block()) return done;
    }
    const std::size_t n = read_block(out + done, wanted - done);
    pos_ += static_cast<std::int64_t>(n);
    done += n;
  }
  return done;
}

std::size_t SongStream::read_block(std::uint8_t* out, std::size_t capacity) {
  const auto at = static_cast<std::int32_t>(pos_ - block_start_);
  if (at >= sounding_bytes_) {
    // The silent tail of a note, or a whole pause.
    const auto n = std::min<std::size_t>(capacity, static_cast<std::size_t>(block_.bytes - at));
    std::memset(out, 0, n);
    return n;
  }
  const std::int64_t staged_end = staged_start_ + staged_bytes_;
  if (pos_ >= staged_start_ && pos_ < staged_end) {
    const auto n = std::min<std::size_t>(capacity, static_cast<std::size_t>(staged_end - pos_));
    std::memcpy(out, staged_ + (pos_ - staged_start_), n);
    return n;
  }
  constexpr std::int32_t kAligned = 2 * synth::kFrameAlignment;
  const std::int32_t first_frame = at / kAligned * synth::kFrameAlignment + 1;
  const std::int32_t frames_left = block_.frames - first_frame + 1;
  if (at % kAligned == 0 && capacity >= static_cast<std::size_t>(kAligned)) {
    // Straight into the caller's buffer.
    const auto frames = static_cast<std::int32_t>(
        std::min<std::size_t>(capacity / 2, static_cast<std::size_t>(frames_left)));
    synth::write_frames(block_, first_frame, frames, out);
    return 2 * static_cast<std::size_t>(frames);
  }
  // A large read needs only the frames up to the next whole stretch, and goes
  // on straight from there; a small one takes a whole run for the reads after.
  const std::int32_t staged = capacity >= 2 * static_cast<std::size_t>(kStagedFrames)
                                  ? synth::kFrameAlignment
                                  : kStagedFrames;
  const std::int32_t frames = std::min(staged, frames_left);
  synth::write_frames(block_, first_frame, frames, staged_);
  staged_start_ = block_start_ + 2 * std::int64_t{first_frame - 1};
  staged_bytes_ = 2 * frames;
  return read_block(out, capacity);
}

}  // namespace tuvello::image
