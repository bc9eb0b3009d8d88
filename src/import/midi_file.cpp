// SPDX-License-Identifier: MIT
#include "import/midi_file.hpp"

#include <cstdarg>
#include <cstdio>

namespace tuvello::midi {
namespace {

constexpr std::size_t kChunkHeader = 8;   // type, then a 32-bit big-endian length
constexpr std::size_t kHeaderFields = 6;  // format, tracks, division
// What a header without a usable division is read with.
constexpr std::int32_t kFallbackTicksPerQuarter = 480;
// Deltas past this are saturated: no tune needs them, and time stays in 64 bits.
constexpr std::uint64_t kLastTick = std::uint64_t{1} << 62;

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

bool is_type(const std::uint8_t* p, const char* type) {
  return p[0] == type[0] && p[1] == type[1] && p[2] == type[2] && p[3] == type[3];
}

bool is_printable_type(const std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) {
    if (p[i] < 0x20 || p[i] >= 0x7F) return false;
  }
  return true;
}

// The first "MThd" or "MTrk" at or after `from`, or the file's size.
std::size_t find_type(std::span<const std::uint8_t> s, std::size_t from, const char* type) {
  for (std::size_t i = from; i + 4 <= s.size(); ++i) {
    if (is_type(&s[i], type)) return i;
  }
  return s.size();
}

// Printable ASCII of a chunk type, as a message shows it.
struct TypeName {
  explicit TypeName(const std::uint8_t* p) {
    for (int i = 0; i < 4; ++i)
      text[i] = p[i] == '\'' || p[i] == '\\' ? '?' : static_cast<char>(p[i]);
  }
  char text[5] = {};
};

}  // namespace

void Reporter::say(Problem problem, std::size_t offset, std::size_t length, std::int32_t track,
                   const char* format, ...) {
  if (sink_ == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(message_, sizeof message_, format, args);
  va_end(args);
  Warning w;
  w.problem = problem;
  w.offset = offset;
  w.length = length;
  w.track = track;
  w.message = message_;
  if (!(*sink_)(w)) sink_ = nullptr;
}

Header read_header(std::span<const std::uint8_t> smf, Reporter& r) {
  Header h;
  const std::size_t at = find_type(smf, 0, "MThd");
  if (at == smf.size()) {
    r.say(Problem::file, 0, smf.size(), 0, "no MIDI header ('MThd'): not a MIDI file, no notes");
    h.chunks = smf.size();
    return h;
  }
  h.found = true;
  if (at > 0) {
    r.say(Problem::file, 0, at, 0, "%zu bytes before the MIDI header: skipped", at);
  }
  const std::size_t data = at + kChunkHeader;
  if (data > smf.size()) {
    r.say(Problem::file, at, smf.size() - at, 0, "the MIDI header is cut short: no tracks");
    h.chunks = smf.size();
    h.division.ticks_per_quarter = kFallbackTicksPerQuarter;
    return h;
  }
  const std::size_t available = smf.size() - data;
  std::size_t length = be32(&smf[at + 4]);
  if (length > available) {
    r.say(Problem::file, at + 4, 4, 0,
          "the MIDI header says %zu bytes, only %zu follow: read as the usual %zu", length,
          available, kHeaderFields);
    length = kHeaderFields < available ? kHeaderFields : available;
  } else if (length < kHeaderFields) {
    r.say(Problem::file, at + 4, 4, 0,
          "the MIDI header says %zu bytes, %zu are needed: the fields it lacks take defaults",
          length, kHeaderFields);
  }
  h.chunks = data + length;
  const auto field = [&](std::size_t i, std::int32_t fallback) {
    if (2 * i + 2 > length) return fallback;
    return static_cast<std::int32_t>(smf[data + 2 * i] << 8 | smf[data + 2 * i + 1]);
  };
  h.format = field(0, 1);
  h.declared_tracks = field(1, -1);
  const std::int32_t division = field(2, kFallbackTicksPerQuarter);
  if (h.format > 2) {
    r.say(Problem::file, data, 2, 0, "format %d is not a MIDI file format (0, 1, 2): read as 1",
          h.format);
    h.format = 1;
  }
  Division& d = h.division;
  if ((division & 0x8000) == 0) {
    d.ticks_per_quarter = division;
    if (division == 0) {
      r.say(Problem::file, data + 4, 2, 0, "0 ticks per quarter note: read as %d",
            kFallbackTicksPerQuarter);
      d.ticks_per_quarter = kFallbackTicksPerQuarter;
    }
    return h;
  }
  d.smpte = true;
  d.frames_per_second = 256 - (division >> 8);
  d.ticks_per_frame = division & 0xFF;
  const std::int32_t fps = d.frames_per_second;
  if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
    r.say(Problem::file, data + 4, 1, 0,
          "%d frames per second is no time code rate (24, 25, 29.97, 30): read as written", fps);
  }
  if (d.ticks_per_frame == 0) {
    r.say(Problem::file, data + 5, 1, 0, "0 ticks per frame: read as 1");
    d.ticks_per_frame = 1;
  }
  return h;
}

bool ChunkWalk::next(TrackChunk& track) {
  const std::size_t size = smf_.size();
  while (!done_ && pos_ < size) {
    const std::size_t at = pos_;
    if (size - at < kChunkHeader) {
      bool zeros = true;
      for (std::size_t i = at; i < size; ++i) zeros = zeros && smf_[i] == 0;
      if (!zeros) {
        r_.say(Problem::file, at, size - at, 0, "%zu bytes at the end are no chunk: ignored",
               size - at);
      }
      pos_ = size;
      break;
    }
    if (!is_printable_type(&smf_[at])) {
      // Not a chunk: find the next track chunk, as a lenient reader resyncs.
      const std::size_t next = find_type(smf_, at + 1, "MTrk");
      r_.say(Problem::file, at, next - at, 0,
             "%zu bytes at byte %zu are no chunk: skipped to the next track chunk", next - at, at);
      pos_ = next;
      continue;
    }
    const std::size_t begin = at + kChunkHeader;
    const std::size_t length = be32(&smf_[at + 4]);
    const TypeName name(&smf_[at]);
    std::size_t end = begin + length;
    if (length > size - begin) {
      r_.say(Problem::file, at + 4, 4, 0,
             "chunk '%s' at byte %zu says %zu bytes, only %zu follow: read to the end of the file",
             name.text, at, length, size - begin);
      end = size;
    }
    pos_ = end;
    if (is_type(&smf_[at], "MTrk")) {
      track.number = ++tracks_;
      track.offset = at;
      track.begin = begin;
      track.end = end;
      return true;
    }
    r_.say(Problem::file, at, end - at, 0, "%s chunk '%s' of %zu bytes at byte %zu: skipped",
           is_type(&smf_[at], "MThd") ? "a second header" : "unknown", name.text, length, at);
  }
  if (!done_) {
    done_ = true;
    if (header_.declared_tracks >= 0 && header_.declared_tracks != tracks_) {
      r_.say(Problem::file, header_.chunks >= 4 ? header_.chunks - 4 : 0, 2, 0,
             "the header says %d track%s, the file holds %d: all are read", header_.declared_tracks,
             header_.declared_tracks == 1 ? "" : "s", tracks_);
    }
  }
  return false;
}

bool TrackCursor::finish(Event& e) {
  done_ = true;
  e = Event{};
  e.type = Event::Type::end;
  e.tick = tick_;
  e.offset = pos_;
  return true;
}

// A variable-length number: at most four bytes of seven bits.
bool TrackCursor::read_length(std::uint32_t& value, const char* what) {
  const std::size_t start = pos_;
  value = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos_ >= end_) {
      r_.say(Problem::event, start, pos_ - start, number_,
             "track %d ends inside %s: the track ends here", number_, what);
      return false;
    }
    const std::uint8_t b = smf_[pos_++];
    value = value << 7 | (b & 0x7F);
    if ((b & 0x80) == 0) return true;
  }
  r_.say(Problem::event, start, 4, number_,
         "track %d: %s runs past four bytes (a broken variable-length number): the track "
         "ends here",
         number_, what);
  return false;
}

bool TrackCursor::take(std::size_t n, const char* what, std::size_t event_start) {
  if (n <= end_ - pos_) {
    pos_ += n;
    return true;
  }
  r_.say(Problem::event, event_start, end_ - event_start, number_,
         "track %d: %s is cut short by the track's end: the track ends here", number_, what);
  pos_ = end_;
  return false;
}

bool TrackCursor::next(Event& e) {
  if (done_) return false;
  bool resynced = false;  // at a status byte found after bytes that made no event
  while (true) {
    if (pos_ >= end_) return finish(e);
    if (!resynced) {
      std::uint32_t delta = 0;
      if (!read_length(delta, "a delta time")) return finish(e);
      tick_ = tick_ + delta > kLastTick ? kLastTick : tick_ + delta;
      if (pos_ >= end_) {
        r_.say(Problem::event, pos_, 0, number_,
               "track %d ends after a delta time, without its event", number_);
        return finish(e);
      }
    }
    resynced = false;
    const std::size_t start = pos_;
    std::uint8_t status = smf_[pos_];
    if (status >= 0x80) {
      ++pos_;
    } else if (running_ != 0) {
      status = running_;
    } else {
      // Without a status to run on, nothing up to the next status byte can
      // be read: resume there, at the same tick.
      std::size_t next = pos_;
      while (next < end_ && smf_[next] < 0x80) ++next;
      r_.say(Problem::event, start, next - start, number_,
             "track %d: %zu data byte%s without a status byte before %s: skipped", number_,
             next - start, next - start == 1 ? "" : "s", next - start == 1 ? "it" : "them");
      pos_ = next;
      resynced = true;
      continue;
    }

    if (status < 0xF0) {
      running_ = status;
      const std::uint8_t kind = status & 0xF0;
      const std::size_t n = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
      const std::size_t data = pos_;
      if (!take(n, "a channel event", start)) return finish(e);
      if (smf_[data] >= 0x80 || (n == 2 && smf_[data + 1] >= 0x80)) {
        r_.say(Problem::event, start, pos_ - start, number_,
               "track %d: a channel event with a data byte above 127: skipped", number_);
        continue;
      }
      if (kind != 0x80 && kind != 0x90) continue;
      e = Event{};
      e.tick = tick_;
      e.offset = start;
      e.length = pos_ - start;
      e.channel = status & 0x0F;
      e.key = smf_[data];
      e.velocity = smf_[data + 1];
      e.type = kind == 0x90 && e.velocity > 0 ? Event::Type::note_on : Event::Type::note_off;
      return true;
    }

    if (status == 0xFF) {
      if (!take(1, "a meta event", start)) return finish(e);
      const std::uint8_t type = smf_[pos_ - 1];
      std::uint32_t length = 0;
      if (!read_length(length, "a meta event's length")) return finish(e);
      const std::size_t data = pos_;
      if (!take(length, "a meta event", start)) return finish(e);
      if (type == 0x2F) return finish(e);  // end of track; any bytes after it are padding
      if (type != 0x51) continue;
      if (length < 3) {
        r_.say(Problem::event, start, pos_ - start, number_,
               "track %d: a tempo of %u bytes (3 expected): ignored", number_, length);
        continue;
      }
      const std::uint32_t tempo =
          std::uint32_t{smf_[data]} << 16 | std::uint32_t{smf_[data + 1]} << 8 | smf_[data + 2];
      if (tempo == 0) {
        r_.say(Problem::event, start, pos_ - start, number_,
               "track %d: a tempo of 0 microseconds per quarter note: ignored", number_);
        continue;
      }
      e = Event{};
      e.type = Event::Type::tempo;
      e.tick = tick_;
      e.offset = start;
      e.length = pos_ - start;
      e.tempo = tempo;
      return true;
    }

    if (status == 0xF0 || status == 0xF7) {
      std::uint32_t length = 0;
      if (!read_length(length, "a system exclusive event's length")) return finish(e);
      if (!take(length, "a system exclusive event", start)) return finish(e);
      continue;
    }

    // System common and real-time messages belong on a wire, not in a file.
    const std::size_t n = status == 0xF2 ? 2 : status == 0xF1 || status == 0xF3 ? 1 : 0;
    r_.say(Problem::event, start, 1 + n, number_,
           "track %d: status 0x%02X does not belong in a MIDI file: skipped with its %zu data "
           "byte%s",
           number_, status, n, n == 1 ? "" : "s");
    if (!take(n, "a system message", start)) return finish(e);
  }
}

}  // namespace tuvello::midi
