// SPDX-License-Identifier: MIT
// The song API beyond the whole image: measuring, readers, the note map and
// the warnings, each held against the image TUVELLO_CreateSong returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "song_test_support.hpp"

using namespace tuvello_test;

namespace {

std::string file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The identity corpus, line by line, and the fuzz corpus, file by file.
std::vector<std::string> corpus_texts() {
  std::vector<std::string> texts;
  std::istringstream lines(file_bytes(TUVELLO_SOURCE_DIR "/tests/data/identity_corpus.txt"));
  for (std::string line; std::getline(lines, line);) texts.push_back(line);
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(TUVELLO_SOURCE_DIR "/fuzz/corpus")) {
    files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) texts.push_back(file_bytes(path));
  return texts;
}

struct Reader {
  explicit Reader(const char* text) : r(TUVELLO_OpenSong(text)) {}
  ~Reader() { TUVELLO_CloseSong(r); }
  // Reads to the end in pieces of `piece` bytes.
  std::vector<std::uint8_t> rest(std::int32_t piece) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(piece));
    for (std::int32_t n; (n = TUVELLO_ReadSong(r, buffer.data(), piece)) > 0;) {
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    return out;
  }
  TUVELLO_SongReader* r;
};

std::vector<TUVELLO_Note> note_map(const char* text) {
  std::vector<TUVELLO_Note> notes;
  TUVELLO_ForEachNote(
      text,
      [](const TUVELLO_Note* note, void* out) {
        static_cast<std::vector<TUVELLO_Note>*>(out)->push_back(*note);
        return 0;
      },
      &notes);
  return notes;
}

struct SeenWarning {
  std::int32_t command;
  std::int64_t offset;
  std::int64_t length;
  std::int32_t kind;
  std::string message;
};

std::vector<SeenWarning> warnings_of(const char* text) {
  std::vector<SeenWarning> seen;
  TUVELLO_ForEachWarning(
      text,
      [](const TUVELLO_Warning* w, void* out) {
        EXPECT_EQ(w->struct_size, sizeof(TUVELLO_Warning));
        static_cast<std::vector<SeenWarning>*>(out)->push_back(
            {w->command, w->text_offset, w->text_length, w->kind, w->message});
        return 0;
      },
      &seen);
  return seen;
}

TEST(Reader, GivesExactlyTheImageInPiecesOfAnySize) {
  for (const std::string& text : corpus_texts()) {
    SCOPED_TRACE(text.substr(0, 60));
    const Song song = render(text.c_str());
    ASSERT_NE(song, nullptr);
    const auto expected = bytes_of(song.get());
    EXPECT_EQ(TUVELLO_MeasureSong(text.c_str()), TUVELLO_GetSongSize(song.get()));
    for (const std::int32_t piece : {1, 7, 4096, 65537}) {
      Reader reader(text.c_str());
      ASSERT_NE(reader.r, nullptr);
      EXPECT_EQ(reader.rest(piece), expected) << "pieces of " << piece;
    }
  }
}

TEST(Reader, SeeksBackAndForthAndReadsOnFromThere) {
  for (const std::string& text : corpus_texts()) {
    SCOPED_TRACE(text.substr(0, 60));
    const Song song = render(text.c_str());
    const auto image = bytes_of(song.get());
    const auto size = static_cast<std::int64_t>(image.size());
    // Header, block edges and their neighbours, the middle of blocks, the end.
    std::vector<std::int64_t> offsets{0, 1, 43, 44, 45, 77, size / 3, size / 2 + 1, size - 1, size};
    for (const TUVELLO_Note& note : note_map(text.c_str())) {
      for (const std::int64_t at :
           {note.image_offset - 1, note.image_offset, note.image_offset + 2 * note.frames - 1}) {
        offsets.push_back(at);
      }
    }
    std::reverse(offsets.begin() + 10, offsets.end());  // backward as well as forward
    Reader reader(text.c_str());
    for (const std::int64_t at : offsets) {
      if (at < 0 || at > size) continue;
      ASSERT_EQ(TUVELLO_SeekSong(reader.r, at), 0) << at;
      std::uint8_t piece[101];
      const std::int32_t n = TUVELLO_ReadSong(reader.r, piece, sizeof piece);
      ASSERT_EQ(n, std::min<std::int64_t>(sizeof piece, size - at)) << at;
      EXPECT_TRUE(std::equal(piece, piece + n, image.begin() + at)) << "after a seek to " << at;
    }
    // Outside the image the position stays where it was.
    ASSERT_EQ(TUVELLO_SeekSong(reader.r, 5), 0);
    EXPECT_EQ(TUVELLO_SeekSong(reader.r, -1), -1);
    EXPECT_EQ(TUVELLO_SeekSong(reader.r, size + 1), -1);
    std::uint8_t byte = 0;
    ASSERT_EQ(TUVELLO_ReadSong(reader.r, &byte, 1), 1);
    EXPECT_EQ(byte, image[5]);
  }
}

// A long text whose settings change all along, with stretches of commands
// that play nothing: seeks land on places of the reader's index with every
// kind of setting to restore.
std::string changing_song(int notes, std::size_t filler) {
  const char* settings[] = {"len:20", "vol:35", "oct:2",  "pipe:1", "dec:1",      "len:23",
                            "vol:90", "oct:0",  "pipe:0", "dec:0",  " Len : 21 ", "x"};
  const char* keys[] = {"c", "d", "p", "fs", "h", "A"};
  std::string text;
  for (int i = 0; i < notes; ++i) {
    text += settings[i % 12];
    text += ';';
    if (i % 7 == 0) text += std::string(filler, ';');
    text += keys[i % 6];
    text += ';';
  }
  return text;
}

TEST(Reader, SeeksAnywhereInALongTextThroughItsIndex) {
  // 300 KB of text (an index of many places) and 17 MB of it (more places
  // than the index holds: they are thinned out).
  for (const auto& [notes, filler] :
       {std::pair{6000, std::size_t{300}}, std::pair{300, std::size_t{400000}}}) {
    const std::string text = changing_song(notes, filler);
    SCOPED_TRACE(text.size());
    const Song song = render(text.c_str());
    ASSERT_NE(song, nullptr);
    const auto image = bytes_of(song.get());
    const auto size = static_cast<std::int64_t>(image.size());
    Reader reader(text.c_str());
    std::uint32_t seed = 22;
    std::int64_t at = size;
    for (int i = 0; i < 400; ++i) {
      // Mostly backward, near and far, some forward, some at block edges.
      seed = seed * 1664525u + 1013904223u;
      const std::int64_t step = static_cast<std::int64_t>(seed >> 8) % (size / (1 + i % 9));
      at = (i % 5 == 4 ? at + step : at - step) % (size + 1);
      if (at < 0) at += size;
      if (i % 11 == 0) at -= at % 882;
      ASSERT_EQ(TUVELLO_SeekSong(reader.r, at), 0);
      std::uint8_t piece[300];
      const std::int32_t n = TUVELLO_ReadSong(reader.r, piece, sizeof piece);
      ASSERT_EQ(n, std::min<std::int64_t>(sizeof piece, size - at)) << at;
      ASSERT_TRUE(std::equal(piece, piece + n, image.begin() + at)) << "after a seek to " << at;
    }
  }
}

TEST(Reader, SeeksBackNearTheEndOfAFourMegabyteTextInLittleTime) {
  // Without an index each seek would walk the 4 MB again (some 10 ms); with
  // one a walk of a few KiB. The bound leaves room for a busy machine.
  const std::string text = changing_song(2000, 14000);
  ASSERT_GT(text.size(), 4000000u);
  Reader reader(text.c_str());
  const std::int64_t size = TUVELLO_MeasureSong(text.c_str());
  std::uint8_t piece[64];
  ASSERT_EQ(TUVELLO_SeekSong(reader.r, size - 64), 0);
  ASSERT_EQ(TUVELLO_ReadSong(reader.r, piece, sizeof piece), 64);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(TUVELLO_SeekSong(reader.r, size - 64 - 882 * (i % 50)), 0);
    ASSERT_EQ(TUVELLO_ReadSong(reader.r, piece, sizeof piece), 64);
    ASSERT_EQ(TUVELLO_SeekSong(reader.r, size - 64), 0);
    ASSERT_EQ(TUVELLO_ReadSong(reader.r, piece, sizeof piece), 64);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(Reader, RefusesBadBuffersAndReadsTheEmptySong) {
  Reader reader(nullptr);
  ASSERT_NE(reader.r, nullptr);
  std::uint8_t buffer[64];
  EXPECT_EQ(TUVELLO_ReadSong(reader.r, buffer, -1), -1);
  EXPECT_EQ(TUVELLO_ReadSong(reader.r, nullptr, 1), -1);
  EXPECT_EQ(TUVELLO_ReadSong(reader.r, nullptr, 0), 0);
  EXPECT_EQ(TUVELLO_ReadSong(reader.r, buffer, sizeof buffer), 44);
  EXPECT_EQ(TUVELLO_ReadSong(reader.r, buffer, sizeof buffer), 0);
  EXPECT_EQ(TUVELLO_MeasureSong(nullptr), 44);
}

// Five hundred milliseconds take 22050 bytes: the first note that passes
// INT32_MAX is note 97392.
constexpr int kNotesPastTheLimit = (INT32_MAX - 44) / 22050 + 1;

std::string long_song(int notes) {
  std::string text = "len:500;";
  for (int i = 0; i < notes; ++i) text += "c;";
  return text;
}

TEST(Measure, StopsAtTheLimit) {
  EXPECT_EQ(TUVELLO_MeasureSong(long_song(kNotesPastTheLimit - 1).c_str()),
            44 + std::int64_t{22050} * (kNotesPastTheLimit - 1));
  EXPECT_EQ(TUVELLO_MeasureSong(long_song(kNotesPastTheLimit).c_str()), -1);
  EXPECT_EQ(TUVELLO_OpenSong(long_song(kNotesPastTheLimit).c_str()), nullptr);
}

// The measure reads a setting's value only for "len"; the note map reads
// every command whole. Random short commands, most of them near misses of
// the notation, must give both the same song.
TEST(Measure, AgreesWithTheNoteMapOnRandomShortCommands) {
  static const char* const kPieces[] = {
      "c", "cs", "h", "p", "b", "x",  "len", "LEN", "vol", "oct", "pipe", "dec",  "lenx", "pipes",
      ":", "::", " ", "0", "7", "20", "500", "501", "1x",  "-5",  "+20",  "9999", "\t"};
  std::uint32_t seed = 7;
  const auto next = [&seed](std::uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (std::uint32_t command = next(12); command > 0; --command) {
      for (std::uint32_t piece = next(4); piece > 0; --piece) {
        text += kPieces[next(std::size(kPieces))];
      }
      text += ';';
    }
    std::int64_t end = 44;
    TUVELLO_ForEachNote(
        text.c_str(),
        [](const TUVELLO_Note* n, void* out) {
          *static_cast<std::int64_t*>(out) = n->image_offset + n->bytes;
          return 0;
        },
        &end);
    ASSERT_EQ(TUVELLO_MeasureSong(text.c_str()), end) << text;
  }
}

TEST(NoteMap, BlocksTileTheDataChunkAndHoldTheirSamples) {
  for (const std::string& text : corpus_texts()) {
    SCOPED_TRACE(text.substr(0, 60));
    const Song song = render(text.c_str());
    const std::uint8_t* image = song.get();
    std::int64_t next = 44;
    std::int32_t command = 0;
    const std::string_view read(text.c_str());  // the library's text ends at a NUL
    for (const TUVELLO_Note& note : note_map(text.c_str())) {
      ASSERT_EQ(note.struct_size, sizeof(TUVELLO_Note));
      ASSERT_EQ(note.image_offset, next);
      ASSERT_GT(note.command, command);
      command = note.command;
      // The command as written, between separators.
      ASSERT_LE(note.text_offset + note.text_length, static_cast<std::int64_t>(read.size()));
      const auto end = static_cast<std::size_t>(note.text_offset + note.text_length);
      EXPECT_TRUE(end == read.size() || read[end] == ';' || read[end] == ' ');
      EXPECT_EQ(read.substr(note.text_offset, note.text_length).find(';'), std::string::npos);

      const std::uint8_t* block = image + note.image_offset;
      const bool pause = note.pitch_hz == 0.0;
      EXPECT_EQ(pause, note.amplitude == 0);
      for (std::int32_t i = 0; i < note.bytes / 2; ++i) {
        const auto sample = static_cast<std::int16_t>(block[2 * i] | block[2 * i + 1] << 8);
        if (pause || i >= note.frames) {
          ASSERT_EQ(sample, 0) << "frame " << i + 1 << " of the block at " << note.image_offset;
        } else {
          ASSERT_LE(std::abs(sample), note.amplitude);
        }
      }
      next += note.bytes;
    }
    EXPECT_EQ(next, TUVELLO_GetSongSize(image));
  }
}

TEST(NoteMap, DescribesEachNoteAsItSounds) {
  struct Case {
    const char* text;
    std::size_t index;
    TUVELLO_Note want;
  };
  const Case cases[] = {
      {"len:200;vol:80;oct:1;pipe:1;dec:1; A :3",
       0,
       {sizeof(TUVELLO_Note), 6, 34, 5, 44, 8820, 4408, 440.0, 26214,
        TUVELLO_NOTE_PIPE | TUVELLO_NOTE_DECAY}},
      {"c;p", 0, {sizeof(TUVELLO_Note), 1, 0, 1, 44, 4410, 2203, 261.63 / 2, 32767, 0}},
      {"c;p", 1, {sizeof(TUVELLO_Note), 2, 2, 1, 4454, 4410, 2203, 0.0, 0, 0}},
      {"  x;len:30;dec:1;h",
       0,
       {sizeof(TUVELLO_Note), 4, 17, 1, 44, 1322, 659, 493.88 / 2, 32767, TUVELLO_NOTE_DECAY}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto notes = note_map(c.text);
    ASSERT_GT(notes.size(), c.index);
    const TUVELLO_Note& got = notes[c.index];
    EXPECT_EQ(got.command, c.want.command);
    EXPECT_EQ(got.text_offset, c.want.text_offset);
    EXPECT_EQ(got.text_length, c.want.text_length);
    EXPECT_EQ(got.image_offset, c.want.image_offset);
    EXPECT_EQ(got.bytes, c.want.bytes);
    EXPECT_EQ(got.frames, c.want.frames);
    EXPECT_EQ(got.pitch_hz, c.want.pitch_hz);
    EXPECT_EQ(got.amplitude, c.want.amplitude);
    EXPECT_EQ(got.flags, c.want.flags);
  }
}

TEST(NoteMap, IsRefusedForASongTooLongToRenderAndStopsWhenAsked) {
  const auto never = [](const TUVELLO_Note*, void*) -> int {
    ADD_FAILURE() << "visited";
    return 1;
  };
  EXPECT_EQ(TUVELLO_ForEachNote(long_song(kNotesPastTheLimit).c_str(), never, nullptr), -1);
  EXPECT_EQ(TUVELLO_ForEachNote(long_song(kNotesPastTheLimit - 1).c_str(), nullptr, nullptr),
            kNotesPastTheLimit - 1);
  int visited = 0;
  const auto stop_at_third = [](const TUVELLO_Note*, void* n) -> int {
    return ++*static_cast<int*>(n) == 3;
  };
  EXPECT_EQ(TUVELLO_ForEachNote("c;d;e;f;g", stop_at_third, &visited), 3);
  EXPECT_EQ(visited, 3);
}

// The Python-style escapes of the check corpus: \n \r \t \\ \xHH.
std::string unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char e = s[++i];
    if (e == 'n')
      out += '\n';
    else if (e == 'r')
      out += '\r';
    else if (e == 't')
      out += '\t';
    else if (e == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += e;
    }
  }
  return out;
}

TEST(Warnings, HaveTheColumnsAndWordsTheToolPrintsForTheCheckCorpus) {
  std::istringstream corpus(file_bytes(TUVELLO_SOURCE_DIR "/tests/cli/check_corpus.txt"));
  // "<argument>:LINE:COLUMN: warning: MESSAGE" becomes "LINE:COLUMN: MESSAGE".
  const std::string source = "<argument>:";
  const std::string warning = ": warning: ";
  std::string text;
  std::vector<std::string> expected;
  int cases = 0;
  const auto finish = [&] {
    if (text.empty() && expected.empty()) return;
    std::vector<std::string> got;
    for (const SeenWarning& w : warnings_of(text.c_str())) {
      // Lines are counted from the text's line feeds, columns in bytes from 1.
      const auto before = text.substr(0, static_cast<std::size_t>(w.offset));
      const std::size_t line_start =
          before.rfind('\n') == std::string::npos ? 0 : before.rfind('\n') + 1;
      const auto line = 1 + std::count(before.begin(), before.end(), '\n');
      got.push_back(std::to_string(line) + ":" + std::to_string(w.offset - line_start + 1) + ": " +
                    w.message);
    }
    EXPECT_EQ(got, expected) << text;
    ++cases;
    text.clear();
    expected.clear();
  };
  for (std::string line; std::getline(corpus, line);) {
    const std::size_t at = line.find(warning);
    if (line.rfind("text:", 0) == 0) {
      finish();
      text = unescape(line.substr(line.size() > 5 && line[5] == ' ' ? 6 : 5));
    } else if (line.rfind(source, 0) == 0 && at != std::string::npos) {
      expected.push_back(line.substr(source.size(), at - source.size()) + ": " +
                         line.substr(at + warning.size()));
    }
  }
  finish();
  EXPECT_GT(cases, 10);
}

TEST(Warnings, NameTheirKindAndTheCommand) {
  struct Case {
    std::string text;
    std::int32_t command;
    std::int64_t offset;
    std::int64_t length;
    std::int32_t kind;
  };
  const Case cases[] = {
      {"c;;d", 2, 2, 0, TUVELLO_WARN_EMPTY},
      {"c;:5", 2, 2, 2, TUVELLO_WARN_EMPTY},
      {" c; x:5 ;d", 2, 3, 5, TUVELLO_WARN_UNKNOWN_KEY},
      {"len:501;c", 1, 0, 7, TUVELLO_WARN_OUT_OF_RANGE},
      {"vol:x;c", 1, 0, 5, TUVELLO_WARN_OUT_OF_RANGE},
      {"vol:5x;c", 1, 0, 6, TUVELLO_WARN_NOT_A_NUMBER},
      {"c:7", 1, 0, 3, TUVELLO_WARN_IGNORED_TEXT},
      {"vol:50:9;c", 1, 0, 8, TUVELLO_WARN_IGNORED_TEXT},
      {"c;len:200", 2, 2, 7, TUVELLO_WARN_NO_EFFECT},
      {long_song(kNotesPastTheLimit), kNotesPastTheLimit + 1, 8 + 2 * (kNotesPastTheLimit - 1), 1,
       TUVELLO_WARN_TOO_LONG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const auto seen = warnings_of(c.text.c_str());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].command, c.command);
    EXPECT_EQ(seen[0].offset, c.offset);
    EXPECT_EQ(seen[0].length, c.length);
    EXPECT_EQ(seen[0].kind, c.kind);
    EXPECT_LT(c.kind, TUVELLO_WARN_SONG_TEXT_KINDS_END);
  }
}

TEST(Warnings, AreCountedWithoutAVisitorAndStopWhenAsked) {
  const char* text = "x;y;z;c";
  EXPECT_EQ(TUVELLO_ForEachWarning(text, nullptr, nullptr), 3);
  int seen = 0;
  const auto stop = [](const TUVELLO_Warning*, void* n) { return ++*static_cast<int*>(n); };
  EXPECT_EQ(TUVELLO_ForEachWarning(text, stop, &seen), 1);
  EXPECT_EQ(seen, 1);
  EXPECT_EQ(TUVELLO_ForEachWarning(nullptr, nullptr, nullptr), 0);
}

TEST(Warnings, SayASettingHasNoEffectExactlyWhenNoNoteFollowsIt) {
  // Settings before, between and after notes, with and without other
  // warnings of their own, and a note far ahead; the count without a
  // visitor is always the number visited.
  struct Case {
    std::string text;
    std::vector<std::int32_t> no_effect;  // commands warned of as having none
    std::size_t warnings;
  };
  const std::string many(3000, ';');
  const Case cases[] = {
      {"len:200;vol:50;c;oct:2;d;pipe:1;dec:1", {6, 7}, 2},
      {"c;len:200;vol:5x;len:300", {2, 4}, 3},  // 3 reads otherwise: its own warning
      {"vol:50;x;;vol:60" + many + "c;len:30", {3005}, 3002},
      {"len:30" + many + "len:40" + many + "len:50", {1, 3001, 6001}, 6001},
      {"len:20;" + many + "c:5", {}, 3001},
      {"pipe;dec;c", {}, 2},  // no value: each reads as 0, which is its own warning
      {"c;pipe;dec", {}, 2},
      {"  len:20 ;  ", {1}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    const auto seen = warnings_of(c.text.c_str());
    std::vector<std::int32_t> no_effect;
    for (const SeenWarning& w : seen) {
      if (w.kind == TUVELLO_WARN_NO_EFFECT) {
        no_effect.push_back(w.command);
        EXPECT_NE(w.message.find("no note follows, so the setting has no effect"),
                  std::string::npos);
      }
    }
    EXPECT_EQ(no_effect, c.no_effect);
    EXPECT_EQ(seen.size(), c.warnings);
    EXPECT_EQ(TUVELLO_ForEachWarning(c.text.c_str(), nullptr, nullptr),
              static_cast<std::int32_t>(seen.size()));
  }
}

TEST(Warnings, AreCountedWithoutAVisitorAsTheyAreVisitedForTheCorpora) {
  for (const std::string& text : corpus_texts()) {
    SCOPED_TRACE(text.substr(0, 60));
    EXPECT_EQ(TUVELLO_ForEachWarning(text.c_str(), nullptr, nullptr),
              static_cast<std::int32_t>(warnings_of(text.c_str()).size()));
    EXPECT_EQ(TUVELLO_ForEachNote(text.c_str(), nullptr, nullptr),
              static_cast<std::int32_t>(note_map(text.c_str()).size()));
  }
}

TEST(Warnings, StayOneLineWithinTheirBufferForHugeCommands) {
  // A command of a megabyte full of hidden keys and escapes.
  std::string text = "vol:80";
  for (int i = 0; i < 100000; ++i) text += "\n\x01 c\td ";
  text += ":";
  text += std::string(100000, '\xff');
  text += ";c";
  const auto seen = warnings_of(text.c_str());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_LT(seen[0].message.size(), 2048u);
  for (const char ch : seen[0].message) ASSERT_TRUE(ch >= 0x20 && ch <= 0x7E);
  EXPECT_EQ(seen[0].length, static_cast<std::int64_t>(text.size() - 2));
}

TEST(Version, IsTheHeadersVersion) {
  char want[32];
  std::snprintf(want, sizeof want, "%d.%d.%d", TUVELLO_VERSION_MAJOR, TUVELLO_VERSION_MINOR,
                TUVELLO_VERSION_PATCH);
  EXPECT_STREQ(TUVELLO_GetVersion(), want);
  EXPECT_STREQ(TUVELLO_GetVersion(), "1.1.0");
}

}  // namespace
