// SPDX-License-Identifier: MIT
// MIDI files into song text and song text into MIDI files: the text written
// for each feature and each broken file (tests/data/midi, made by its
// make_files.py with mido), the options, both buffer contracts, and the round
// trip's note map. tests/midi_test.py reads the exported files with mido and
// renders them with timidity.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "tuvello.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(const std::string& name) {
  std::ifstream in(std::string(TUVELLO_TEST_DATA) + "/midi/" + name, std::ios::binary);
  EXPECT_TRUE(in) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Seen {
  int kind;
  std::int64_t offset;
};
bool operator==(const Seen& a, const Seen& b) { return a.kind == b.kind && a.offset == b.offset; }
void PrintTo(const Seen& s, std::ostream* os) { *os << "{" << s.kind << ", " << s.offset << "}"; }

struct Converted {
  std::string text;
  std::vector<Seen> warnings;
  std::vector<std::string> messages;
};

// Every warning lies inside the file and is one line of printable ASCII.
struct Collector {
  std::size_t size;
  Converted* out;
};
int collect(const TUVELLO_Warning* w, void* context) {
  auto* c = static_cast<Collector*>(context);
  EXPECT_EQ(w->struct_size, sizeof(TUVELLO_Warning));
  EXPECT_GE(w->text_offset, 0);
  EXPECT_LE(static_cast<std::size_t>(w->text_offset + w->text_length), c->size) << w->message;
  for (const char* m = w->message; *m != '\0'; ++m) EXPECT_TRUE(*m >= 0x20 && *m < 0x7F);
  c->out->warnings.push_back({w->kind, w->text_offset});
  c->out->messages.emplace_back(w->message);
  return 0;
}

struct Options {
  int track = 0, channel = 0, overlap = TUVELLO_MIDI_HIGHEST, velocity = 0;
};

Converted convert(const Bytes& smf, const Options& o = {}) {
  const TUVELLO_MidiOptions options{sizeof(TUVELLO_MidiOptions), o.track, o.channel, o.overlap,
                                    o.velocity};
  Converted c;
  Collector collector{smf.size(), &c};
  const auto size = static_cast<std::int64_t>(smf.size());
  const std::int64_t n =
      TUVELLO_ConvertMidi(smf.data(), size, &options, nullptr, 0, collect, &collector);
  EXPECT_GE(n, 0);
  std::vector<char> text(static_cast<std::size_t>(n) + 1, 'X');
  EXPECT_EQ(TUVELLO_ConvertMidi(smf.data(), size, &options, text.data(), n + 1, nullptr, nullptr),
            n);
  c.text.assign(text.data());
  EXPECT_EQ(c.text.size(), static_cast<std::size_t>(n));
  return c;
}

constexpr int kFile = TUVELLO_WARN_MIDI_FILE;
constexpr int kEvent = TUVELLO_WARN_MIDI_EVENT;
constexpr int kNoNotes = TUVELLO_WARN_MIDI_NO_NOTES;
constexpr int kOverlap = TUVELLO_WARN_MIDI_OVERLAP;
constexpr int kShift = TUVELLO_WARN_MIDI_SHIFT;
constexpr int kOctave = TUVELLO_WARN_MIDI_OCTAVE;
constexpr int kShort = TUVELLO_WARN_MIDI_TOO_SHORT;
constexpr int kSplit = TUVELLO_WARN_MIDI_SPLIT;
constexpr int kVolume = TUVELLO_WARN_MIDI_VOLUME;

// ---- Files into song text ------------------------------------------------

struct FileCase {
  const char* file;
  Options options;
  const char* text;
  std::vector<Seen> warnings;  // kind and byte offset, in order
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.file; }

class MidiFile : public testing::TestWithParam<FileCase> {};

TEST_P(MidiFile, ConvertsToExactlyThisTextWithTheseWarnings) {
  const Converted c = convert(read_file(GetParam().file), GetParam().options);
  EXPECT_EQ(c.text, GetParam().text);
  EXPECT_EQ(c.warnings, GetParam().warnings) << testing::PrintToString(c.messages);
  // What is written is song text the library reads without a warning.
  EXPECT_EQ(TUVELLO_ForEachWarning(c.text.c_str(), nullptr, nullptr), 0);
}

constexpr int kLowest = TUVELLO_MIDI_LOWEST;
constexpr int kFirst = TUVELLO_MIDI_FIRST;

INSTANTIATE_TEST_SUITE_P(
    Features, MidiFile,
    testing::Values(
        // 120 a minute: quarters of 500 ms, a dotted quarter as two notes.
        FileCase{"format0.mid", {}, "len:500;oct:1;e;e;f;g;len:250;p;len:375;c;c", {{kSplit, 60}}},
        // Tempo changes in track 1, one inside E4 (187.5 + 100 ms): the
        // boundaries 1287.5, 1687.5, 1887.5, 2287.5 ms round to even.
        FileCase{
            "tempo_map.mid", {}, "len:500;oct:1;c;d;len:288;e;len:400;f;len:200;p;len:400;g", {}},
        FileCase{"smpte25.mid", {}, "len:250;oct:1;c;d", {}},
        // 100.1 ms a note: 500.5 rounds to 500, 600.6 to 601.
        FileCase{"smpte2997.mid", {}, "oct:1;c;d;e;f;g;len:101;a", {}},
        FileCase{"running_status.mid", {}, "len:500;oct:1;c;d;e", {}},
        // 20.5 -> 20, 41, 61.5 -> 62, 82.
        FileCase{"rounding.mid", {}, "len:20;oct:1;c;len:21;d;e;len:20;f", {}},
        // A chord, a legato pair, a melody over a bass that sounds between
        // its notes: one overlap, never silent until the end.
        FileCase{"overlaps.mid",
                 {},
                 "len:500;oct:1;g;len:490;a;len:500;h;len:250;oct:3;c;oct:0;c;oct:3;d;oct:0;c",
                 {{kOverlap, 27}}},
        FileCase{"overlaps.mid",
                 {.overlap = kLowest},
                 "len:500;oct:1;c;a;len:490;h;len:500;oct:0;c;c",
                 {{kOverlap, 27}, {kSplit, 60}}},
        FileCase{"overlaps.mid",
                 {.overlap = kFirst},
                 "len:500;oct:1;c;a;len:490;h;len:250;oct:3;c;len:375;oct:0;c;c",
                 {{kOverlap, 27}, {kSplit, 60}}},
        FileCase{"channels.mid", {}, "len:500;oct:1;e;d;c", {{kOverlap, 27}}},
        FileCase{"channels.mid", {.channel = 1}, "len:500;oct:1;e;d;c", {}},
        // The bass alone lies in octaves 2 and 3: it moves up whole.
        FileCase{"channels.mid",
                 {.channel = 2},
                 "len:500;oct:1;c;c;oct:0;g",
                 {{kShift, 27}, {kSplit, 27}}},
        FileCase{"channels.mid", {.channel = 3}, "", {{kNoNotes, 0}}},
        // Track 1's tempo (100 a minute) plays in track 3, the first with notes.
        FileCase{"tracks.mid", {}, "len:300;oct:1;g;g;a;a;h;h", {{kSplit, 78}}},
        FileCase{"tracks.mid", {.track = 4}, "len:450;c;c;c;c", {{kSplit, 112}}},
        FileCase{"tracks.mid", {.track = 2}, "", {{kNoNotes, 50}}},
        FileCase{"tracks.mid", {.track = 5}, "", {{kNoNotes, 0}}},
        // Octaves 1-2 and 7-9 move whole; a tune of seven octaves moves
        // the notes out of reach, said once per run.
        FileCase{"low_tune.mid", {}, "len:500;c;g;oct:1;c;h", {{kShift, 23}}},
        FileCase{"high_tune.mid", {}, "len:500;oct:1;c;e;oct:3;c;oct:7;g", {{kShift, 23}}},
        FileCase{"wide_tune.mid",
                 {},
                 "len:500;a;oct:1;c;e;oct:7;c;d;oct:1;g",
                 {{kOctave, 23}, {kOctave, 45}}},
        // 10 ms note (20, given back by the next), 10 ms rest (the note
        // before holds on), 1.2 s note, a strum 5 ms apart, a rest to the end.
        FileCase{"lengths.mid",
                 {},
                 "len:20;oct:1;c;len:490;d;len:400;e;e;e;len:290;p;len:500;g;len:300;p",
                 {{kShort, 30}, {kSplit, 44}, {kOverlap, 55}}},
        FileCase{"velocity.mid", {}, "len:500;oct:1;c;d;e;f", {}},
        FileCase{"velocity.mid",
                 {.velocity = 1},
                 "len:500;oct:1;c;vol:79;d;vol:50;e;vol:5;f",
                 {{kVolume, 45}}}));

INSTANTIATE_TEST_SUITE_P(
    Broken, MidiFile,
    testing::Values(
        // The chunk's length runs past the end; E4's note-on is cut short.
        FileCase{"truncated.mid", {}, "len:500;oct:1;c;d", {{kFile, 18}, {kEvent, 38}}},
        FileCase{"bad_length.mid", {}, "len:500;oct:1;c;d", {{kEvent, 37}}},
        // 0 ticks a quarter, an unknown chunk, bytes after the last chunk,
        // a wrong track count.
        FileCase{"odd_chunks.mid",
                 {},
                 "len:500;oct:1;c;d",
                 {{kFile, 12}, {kFile, 14}, {kFile, 52}, {kFile, 10}}},
        FileCase{"junk_before_header.mid", {}, "len:500;oct:1;c;d", {{kFile, 0}}},
        // Data bytes without a status, two bad tempos, a system message, no
        // end of track with D4 still sounding.
        FileCase{"bad_events.mid",
                 {},
                 "len:500;oct:1;c;d",
                 {{kEvent, 23}, {kEvent, 26}, {kEvent, 33}, {kEvent, 44}, {kEvent, 61}}},
        FileCase{"not_midi.mid", {}, "", {{kFile, 0}}}));

// ---- The C interface -------------------------------------------------------

TEST(ConvertMidi, KeepsTheBufferContractAndRefusesBadArguments) {
  const Bytes smf = read_file("format0.mid");
  const auto size = static_cast<std::int64_t>(smf.size());
  const std::string want = convert(smf).text;
  const auto n = static_cast<std::int64_t>(want.size());
  // One byte short: the empty string, nothing past the capacity.
  std::vector<char> text(want.size() + 2, 'X');
  EXPECT_EQ(TUVELLO_ConvertMidi(smf.data(), size, nullptr, text.data(), n, nullptr, nullptr), n);
  EXPECT_EQ(text[0], '\0');
  EXPECT_EQ(text[want.size()], 'X');
  EXPECT_EQ(TUVELLO_ConvertMidi(smf.data(), size, nullptr, text.data(), n + 1, nullptr, nullptr),
            n);
  EXPECT_EQ(std::string(text.data()), want);
  EXPECT_EQ(TUVELLO_ConvertMidi(nullptr, 0, nullptr, nullptr, 0, nullptr, nullptr), 0);

  const auto refused = [&](const std::uint8_t* s, std::int64_t sz, const TUVELLO_MidiOptions* o,
                           char* t, std::int64_t cap) {
    int visits = 0;
    const auto count = [](const TUVELLO_Warning*, void* v) { return ++*static_cast<int*>(v), 0; };
    return TUVELLO_ConvertMidi(s, sz, o, t, cap, count, &visits) == -1 && visits == 0;
  };
  EXPECT_TRUE(refused(smf.data(), size, nullptr, text.data(), -1));
  EXPECT_TRUE(refused(smf.data(), size, nullptr, nullptr, 5));
  EXPECT_TRUE(refused(smf.data(), -1, nullptr, nullptr, 0));
  EXPECT_TRUE(refused(nullptr, 5, nullptr, nullptr, 0));
  for (const TUVELLO_MidiOptions o :
       {TUVELLO_MidiOptions{sizeof(TUVELLO_MidiOptions), -1, 0, 0, 0},
        TUVELLO_MidiOptions{sizeof(TUVELLO_MidiOptions), 0, 17, 0, 0},
        TUVELLO_MidiOptions{sizeof(TUVELLO_MidiOptions), 0, -1, 0, 0},
        TUVELLO_MidiOptions{sizeof(TUVELLO_MidiOptions), 0, 0, 3, 0}}) {
    EXPECT_TRUE(refused(smf.data(), size, &o, nullptr, 0));
  }
  // Fields past struct_size are the defaults, whatever they hold.
  const Bytes channels = read_file("channels.mid");
  const TUVELLO_MidiOptions old{offsetof(TUVELLO_MidiOptions, channel), 0, 2, 99, 1};
  std::vector<char> out(64);
  TUVELLO_ConvertMidi(channels.data(), static_cast<std::int64_t>(channels.size()), &old, out.data(),
                      64, nullptr, nullptr);
  EXPECT_STREQ(out.data(), "len:500;oct:1;e;d;c");
  // A visitor that stops sees one warning; the conversion goes on.
  const Bytes broken = read_file("bad_events.mid");
  int seen = 0;
  const auto stop = [](const TUVELLO_Warning*, void* v) { return ++*static_cast<int*>(v); };
  EXPECT_EQ(TUVELLO_ConvertMidi(broken.data(), static_cast<std::int64_t>(broken.size()), nullptr,
                                nullptr, 0, stop, &seen),
            17);
  EXPECT_EQ(seen, 1);
}

// ---- Song text into MIDI files ---------------------------------------------

Bytes export_song(const std::string& text, std::vector<Seen>* warnings = nullptr) {
  const auto note = [](const TUVELLO_Warning* w, void* v) {
    EXPECT_EQ(w->kind, TUVELLO_WARN_EXPORT_SETTING);
    if (v != nullptr) static_cast<std::vector<Seen>*>(v)->push_back({w->command, w->text_offset});
    return 0;
  };
  const std::int64_t n = TUVELLO_ExportMidi(text.c_str(), nullptr, 0, note, warnings);
  EXPECT_GT(n, 0);
  Bytes smf(static_cast<std::size_t>(n));
  EXPECT_EQ(TUVELLO_ExportMidi(text.c_str(), smf.data(), n, nullptr, nullptr), n);
  return smf;
}

TEST(ExportMidi, WritesOneTrackAMillisecondATickWithItsBendRange) {
  const Bytes smf = export_song("len:200;vol:80;c;oct:2;e;p;oct:0;pipe:1;c;dec:1;c;pipe:0;c");
  const Bytes want = {'M',  'T',  'h',  'd',  0,    0,    0,    6,   0,
                      0,    0,    1,    0x03, 0xE8,                   // format 0, 1000 ticks
                      'M',  'T',  'r',  'k',  0,    0,    0,    89,   //
                      0,    0xFF, 0x51, 3,    0x0F, 0x42, 0x40,       // 60 quarter notes a minute
                      0,    0xB0, 101,  0,    0,    0xB0, 100,  0,    // bend range: 2 semitones
                      0,    0xB0, 6,    2,    0,    0xB0, 38,   0,    //
                      0,    0xB0, 101,  127,  0,    0xB0, 100,  127,  // no parameter selected
                      0,    0x90, 48,   102,  0x81, 0x48, 0x80, 48,  0x40,  // c, vol:80, 200 ms
                      0,    0xE0, 81,   0x40,  // e x3: key 71 + 1.97 cent
                      0,    0x90, 71,   102,  0x81, 0x48, 0x80, 71,  0x40,  //
                      0x81, 0x48, 0xE0, 0,    0x40,                         // a pause, then no bend
                      0,    0x90, 48,   102,  0x81, 0x48, 0x80, 48,  0x40,  // pipe, then dec:
                      0,    0x90, 48,   102,  0x81, 0x48, 0x80, 48,  0x40,  // plain notes
                      0,    0x90, 48,   102,  0x81, 0x48, 0x80, 48,  0x40,  //
                      0,    0xFF, 0x2F, 0};
  EXPECT_EQ(smf, want);
  // Pipe and dec, once per command that turns them on and is followed by a
  // note (number, offset).
  std::vector<Seen> warnings;
  export_song("pipe:1;c;d;pipe:0;e;pipe:1;dec:1;f;p;g;dec:1;pipe:1;p", &warnings);
  EXPECT_EQ(warnings, (std::vector<Seen>{{1, 0}, {6, 20}, {7, 27}}));
}

TEST(ExportMidi, WritesTheWholeFileOrNothing) {
  const std::string text = "len:200;c;e;g";
  const Bytes want = export_song(text);
  const auto n = static_cast<std::int64_t>(want.size());
  Bytes smf(want.size() + 1, 0xAA);
  EXPECT_EQ(TUVELLO_ExportMidi(text.c_str(), smf.data(), n - 1, nullptr, nullptr), n);
  EXPECT_EQ(smf, Bytes(want.size() + 1, 0xAA));
  EXPECT_EQ(TUVELLO_ExportMidi(text.c_str(), smf.data(), n + 1, nullptr, nullptr), n);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), smf.begin()));
  EXPECT_EQ(smf.back(), 0xAA);
  EXPECT_EQ(TUVELLO_ExportMidi(nullptr, nullptr, 0, nullptr, nullptr), 57);
  EXPECT_EQ(TUVELLO_ExportMidi(text.c_str(), smf.data(), -1, nullptr, nullptr), -1);
  EXPECT_EQ(TUVELLO_ExportMidi(text.c_str(), nullptr, 1, nullptr, nullptr), -1);
  // A song too long for an image (13.5 hours) has no file either.
  std::string endless = "len:500";
  for (int i = 0; i < 100000; ++i) endless += ";c";
  ASSERT_EQ(TUVELLO_MeasureSong(endless.c_str()), -1);
  EXPECT_EQ(TUVELLO_ExportMidi(endless.c_str(), nullptr, 0, nullptr, nullptr), -1);
}

// ---- Round trip ---------------------------------------------------------------

// The note map, as the song image holds it.
std::vector<TUVELLO_Note> note_map(const std::string& text) {
  std::vector<TUVELLO_Note> notes;
  const auto keep = [](const TUVELLO_Note* n, void* v) {
    static_cast<std::vector<TUVELLO_Note>*>(v)->push_back(*n);
    return 0;
  };
  TUVELLO_ForEachNote(text.c_str(), keep, &notes);
  return notes;
}

void expect_same_notes(const std::string& song, const std::string& back) {
  const std::vector<TUVELLO_Note> a = note_map(song), b = note_map(back);
  ASSERT_EQ(a.size(), b.size()) << song << "\n" << back;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].image_offset, b[i].image_offset) << i;
    EXPECT_EQ(a[i].bytes, b[i].bytes) << i;
    EXPECT_EQ(a[i].pitch_hz, b[i].pitch_hz) << i;
    EXPECT_EQ(a[i].amplitude, b[i].amplitude) << i;
  }
}

std::string round_trip(const std::string& song) {
  const Bytes smf = export_song(song);
  return convert(smf, {.velocity = 1}).text;
}

TEST(MidiRoundTrip, GivesTheSameNoteMapForSongsInOctaves) {
  for (const char* song :
       {"len:200;vol:80;c;e;g;p;c", "len:250;oct:3;c;d;len:500;p;len:375;oct:7;h;oct:1;e",
        "p;len:20;c;h;b;len:500;p;p;len:37;vol:5;a;oct:7;cs;vol:100;ds;p", "oct:7;h;oct:0;c"}) {
    SCOPED_TRACE(song);
    expect_same_notes(song, round_trip(song));
  }
  // Songs of random notes: keys, lengths, volumes and octaves; a pause
  // never follows a pause, which MIDI would hold as one silence.
  std::mt19937 random(21);
  const char* keys[] = {"c", "cs", "d", "ds", "e", "f", "fs", "g", "gs", "a", "b", "h", "p"};
  const int octs[] = {0, 1, 3, 7};
  for (int song = 0; song < 200; ++song) {
    std::string text;
    bool pause = false;
    for (int n = 0; n < 30; ++n) {
      if (random() % 3 == 0) text += "len:" + std::to_string(20 + random() % 481) + ";";
      if (random() % 4 == 0) text += "vol:" + std::to_string(5 + random() % 96) + ";";
      if (random() % 4 == 0) text += "oct:" + std::to_string(octs[random() % 4]) + ";";
      const char* key = keys[random() % (pause ? 12 : 13)];
      pause = key[0] == 'p';
      text += std::string(key) + ";";
    }
    SCOPED_TRACE(text);
    expect_same_notes(text, round_trip(text));
    if (HasFailure()) break;
  }
}

}  // namespace
