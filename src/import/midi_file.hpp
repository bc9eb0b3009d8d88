// SPDX-License-Identifier: MIT
// The bytes of a Standard MIDI File: its header, its chunks and the events of
// a track, read with bounded state and no allocation, reporting what is
// broken and going on where a lenient reader would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "import/midi.hpp"

namespace tuvello::midi {

// Passes warnings on; a reporter without a sink says nothing, for the
// passes that only look ahead.
class Reporter {
 public:
  explicit Reporter(const WarningSink* sink) : sink_(sink) {}

  __attribute__((format(printf, 6, 7))) void say(Problem problem, std::size_t offset,
                                                 std::size_t length, std::int32_t track,
                                                 const char* format, ...);

 private:
  const WarningSink* sink_;
  char message_[256] = {};
};

// How ticks become time.
struct Division {
  bool smpte = false;
  std::int32_t ticks_per_quarter = 0;  // with a tempo map
  std::int32_t frames_per_second = 0;  // 24, 25, 29 (30 drop-frame, 29.97) or 30
  std::int32_t ticks_per_frame = 0;
};

struct Header {
  bool found = false;
  std::int32_t format = 1;
  std::int32_t declared_tracks = 0;
  Division division;
  std::size_t chunks = 0;  // offset of the first chunk after the header
};

// Finds and reads the header chunk ("MThd").
Header read_header(std::span<const std::uint8_t> smf, Reporter& r);

struct TrackChunk {
  std::int32_t number = 0;  // 1 for the first track chunk
  std::size_t offset = 0;   // of the chunk's type
  std::size_t begin = 0;    // its events
  std::size_t end = 0;
};

// The track chunks ("MTrk") after the header, in file order; other chunks
// and bytes that are no chunk are reported and skipped.
class ChunkWalk {
 public:
  ChunkWalk(std::span<const std::uint8_t> smf, const Header& header, Reporter& r)
      : smf_(smf), header_(header), r_(r), pos_(header.chunks) {}

  // The next track chunk; false after the last (then reports a track count
  // other than the header's, once).
  bool next(TrackChunk& track);

 private:
  std::span<const std::uint8_t> smf_;
  const Header& header_;
  Reporter& r_;
  std::size_t pos_;
  std::int32_t tracks_ = 0;
  bool done_ = false;
};

struct Event {
  enum class Type : std::uint8_t { note_on, note_off, tempo, end };
  Type type = Type::end;
  std::uint64_t tick = 0;    // from the track's start
  std::size_t offset = 0;    // of the event's first byte after its delta time
  std::size_t length = 0;    // its bytes
  std::uint8_t channel = 0;  // 0 to 15
  std::uint8_t key = 0;
  std::uint8_t velocity = 0;
  std::uint32_t tempo = 0;  // microseconds per quarter note
};

// The events of one track that matter here (notes, tempos), then one end
// event at the tick of the track's last event. Controllers, system exclusive
// and other meta events are read past in silence; running status carries
// across them, as lenient readers have it.
class TrackCursor {
 public:
  TrackCursor(std::span<const std::uint8_t> smf, const TrackChunk& track, Reporter& r)
      : smf_(smf), number_(track.number), pos_(track.begin), end_(track.end), r_(r) {}

  bool next(Event& e);

 private:
  bool read_length(std::uint32_t& value, const char* what);
  bool take(std::size_t n, const char* what, std::size_t event_start);
  bool finish(Event& e);

  std::span<const std::uint8_t> smf_;
  std::int32_t number_;
  std::size_t pos_;
  std::size_t end_;
  Reporter& r_;
  std::uint64_t tick_ = 0;
  std::uint8_t running_ = 0;  // 0: no running status yet
  bool done_ = false;
};

}  // namespace tuvello::midi
