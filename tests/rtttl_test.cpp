// SPDX-License-Identifier: MIT
// RTTTL ringtones into song text: the text written, the warnings with their
// places, the output buffer's contract, and the pitch and length of every
// note on the rendered audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "import/octave_span.hpp"
#include "song_test_support.hpp"
#include "tuvello.h"

namespace {

struct Seen {
  int kind;
  int note;
  std::int64_t offset;
  std::int64_t length;
  std::string message;
};

struct Converted {
  std::string text;
  std::vector<Seen> warnings;
};

int collect(const TUVELLO_Warning* w, void* context) {
  EXPECT_EQ(w->struct_size, sizeof(TUVELLO_Warning));
  static_cast<std::vector<Seen>*>(context)->push_back(
      {w->kind, w->command, w->text_offset, w->text_length, w->message});
  return 0;
}

// Measures, then writes into a buffer of exactly that size: `call(out,
// capacity, visit, context)` is one of the conversions.
template <typename Call>
Converted run(Call call) {
  Converted c;
  const std::int64_t n = call(nullptr, 0, collect, &c.warnings);
  EXPECT_GE(n, 0);
  std::vector<char> buf(static_cast<std::size_t>(n) + 1, 'X');
  EXPECT_EQ(call(buf.data(), n + 1, nullptr, nullptr), n);
  EXPECT_EQ(buf.back(), '\0');
  c.text.assign(buf.data(), static_cast<std::size_t>(n));
  return c;
}

Converted convert(const std::string& rtttl) {
  return run([&](char* out, std::int64_t cap, TUVELLO_WarningVisitor v, void* x) {
    return TUVELLO_ConvertRtttl(rtttl.c_str(), out, cap, v, x);
  });
}

constexpr TUVELLO_RtttlOptions kAuto = {sizeof(TUVELLO_RtttlOptions), TUVELLO_OCTAVE_SHIFT_AUTO, 0,
                                        0};

Converted convert(const std::string& rtttl, const TUVELLO_RtttlOptions& options) {
  return run([&](char* out, std::int64_t cap, TUVELLO_WarningVisitor v, void* x) {
    return TUVELLO_ConvertRtttlEx(rtttl.c_str(), out, cap, &options, v, x);
  });
}

Converted export_rtttl(const std::string& song, const char* name = "tune") {
  return run([&](char* out, std::int64_t cap, TUVELLO_WarningVisitor v, void* x) {
    return TUVELLO_ExportRtttl(song.c_str(), name, out, cap, v, x);
  });
}

std::vector<int> kinds(const Converted& c) {
  std::vector<int> k;
  for (const Seen& w : c.warnings) k.push_back(w.kind);
  return k;
}

// ---- The song text written -------------------------------------------------

struct TextCase {
  const char* rtttl;
  const char* text;
  std::vector<int> kinds;  // warnings expected, in order
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.rtttl << '"'; }

class ConvertsTo : public testing::TestWithParam<TextCase> {};

TEST_P(ConvertsTo, ExactlyThisSongTextAndTheseWarnings) {
  const Converted c = convert(GetParam().rtttl);
  EXPECT_EQ(c.text, GetParam().text);
  EXPECT_EQ(kinds(c), GetParam().kinds);
}

constexpr int kSection = TUVELLO_WARN_RTTTL_SECTION;
constexpr int kSetting = TUVELLO_WARN_RTTTL_SETTING;
constexpr int kNumber = TUVELLO_WARN_RTTTL_NUMBER;
constexpr int kNote = TUVELLO_WARN_RTTTL_NOTE;
constexpr int kOctave = TUVELLO_WARN_RTTTL_OCTAVE;
constexpr int kShort = TUVELLO_WARN_RTTTL_TOO_SHORT;
constexpr int kSplit = TUVELLO_WARN_RTTTL_SPLIT;
constexpr int kDrift = TUVELLO_WARN_RTTTL_DRIFT;

INSTANTIATE_TEST_SUITE_P(
    Ringtones, ConvertsTo,
    testing::Values(
        // A quarter at b=120 is 500 ms; "len" and "oct" only when they change.
        TextCase{"t:d=4,o=5,b=120:c,d,8e,8f,g", "len:500;oct:3;c;d;len:250;e;f;len:500;g", {}},
        TextCase{"t:d=8,o=4,b=150:c,c,c,p,c", "len:200;oct:1;c;c;c;p;c", {}},
        // Octaves 3 to 6 are oct 0, 1, 3 and 7; a pause keeps the last oct.
        TextCase{
            "t:d=8,o=5,b=150:c3,c4,p,c5,c6,c", "len:200;c;oct:1;c;p;oct:3;c;oct:7;c;oct:3;c", {}},
        // Sharps and flats; "b" is B, "h" too; B# and Cb cross the octave.
        TextCase{"t:d=8,o=5,b=150:c#,d#,f#,g#,a#,b,h,db,eb,gb,ab,bb,fb,e#,b#,cb",
                 "len:200;oct:3;cs;ds;fs;gs;b;h;h;cs;ds;fs;gs;b;e;f;oct:7;c;oct:1;h",
                 {}},
        TextCase{"T:D=8,O=5,B=150:C#,2A.,P", "len:200;oct:3;cs;len:400;a;a;a;len:200;p", {kSplit}},
        // Dots before or after the octave; blanks between items.
        TextCase{"t : d = 8 , o = 5 , b = 150 : 8c. , 8c5. ,\r\n 8e6\n",
                 "len:300;oct:3;c;c;len:200;oct:7;e",
                 {}},
        // Out of reach: moved to octave 6 or 3, said once per octave.
        TextCase{"t:d=8,o=7,b=150:c,d,c8,c2,c",
                 "len:200;oct:7;c;d;c;oct:0;c;oct:7;c",
                 {kOctave, kOctave, kOctave}},
        TextCase{"t:d=8,o=3,b=150:cb,b#6", "len:200;h;oct:7;c", {kOctave, kOctave}},
        // Longer than 500 ms: equal repeated notes, the longer ones first.
        TextCase{"t:d=1,o=5,b=63:c,p",
                 "len:477;oct:3;c;c;len:476;c;c;c;c;c;c;len:477;p;p;len:476;p;p;p;p;p;p",
                 {kSplit}},
        TextCase{"t:d=2,o=5,b=100:c,d", "len:400;oct:3;c;c;c;d;d;d", {kSplit}},
        // Shorter than 20 ms: played as 20, said once per note value, and the
        // tune's length drifts.
        TextCase{"t:d=32,o=5,b=900:c,d,16e,16f", "len:20;oct:3;c;d;e;f", {kShort, kShort, kDrift}},
        // Any tempo plays as written, unwarned: eighths at b=1000 last 30 ms.
        TextCase{"t:d=8,o=5,b=1000:c", "len:30;oct:3;c", {}},
        // A decimal tempo's lengths are exact: 266.67, 133.33 and 400 ms.
        TextCase{"t:d=8,o=5,b=112.5:c,16d,8e.", "len:267;oct:3;c;len:133;d;len:400;e", {}},
        TextCase{"t:d=8,o=5,b=112.50:c", "len:267;oct:3;c", {}},
        // Rounding to whole ms: 32nds at b=180 are 41.67 ms, played 0.8 % long.
        TextCase{"t:d=32,o=5,b=180:c,d,e", "len:42;oct:3;c;d;e", {}},
        // 62.5 ms rounds to even.
        TextCase{"t:d=32,o=5,b=120:c,d", "len:62;oct:3;c;d", {}},
        // Defaults: d=4, o=6, b=63 (an eighth is 476.19 ms).
        TextCase{"t::8c,8p", "len:476;oct:7;c;p", {}},
        TextCase{"t:o=5:8c,8p", "len:476;oct:3;c;p", {}}, TextCase{"", "", {kSection}},
        TextCase{" \r\n", "", {kSection}}, TextCase{"t:d=4,o=5,b=120:", "", {kSection}}));

// ---- Malformed ringtones ---------------------------------------------------

struct Malformed {
  const char* rtttl;
  const char* text;
  std::vector<Seen> warnings;  // kind, note, offset, length, start of the message
};

void PrintTo(const Malformed& c, std::ostream* os) { *os << '"' << c.rtttl << '"'; }

class Reports : public testing::TestWithParam<Malformed> {};

TEST_P(Reports, EachFaultWithItsPlaceAndGoesOn) {
  const Converted c = convert(GetParam().rtttl);
  EXPECT_EQ(c.text, GetParam().text);
  const std::vector<Seen>& want = GetParam().warnings;
  ASSERT_EQ(c.warnings.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE(c.warnings[i].message);
    EXPECT_EQ(c.warnings[i].kind, want[i].kind);
    EXPECT_EQ(c.warnings[i].note, want[i].note);
    EXPECT_EQ(c.warnings[i].offset, want[i].offset);
    EXPECT_EQ(c.warnings[i].length, want[i].length);
    EXPECT_EQ(c.warnings[i].message.rfind(want[i].message, 0), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ringtones, Reports,
    testing::Values(
        Malformed{"c,d",
                  "len:476;oct:7;c;c;d;d",
                  {{kSection, 0, 0, 0, "no ':' in the ringtone"},
                   {kSplit, 1, 0, 1, "a note of 952 ms is longer"}}},
        Malformed{"d=8,o=5,b=150:c",
                  "len:200;oct:3;c",
                  {{kSection, 0, 0, 0, "only one ':' and settings before it"}}},
        Malformed{"tune:d=8,o=5,b=150",
                  "",
                  {{kSection, 0, 18, 0, "only one ':' and settings after it"},
                   {kSection, 0, 18, 0, "no notes"}}},
        Malformed{"tune:8c,8d",
                  "len:476;oct:7;c;d",
                  {{kSection, 0, 5, 0, "only one ':': the settings section is missing"}}},
        Malformed{"t:d=3,o=x,b=0,l=15,,q:8c",
                  "len:476;oct:7;c",
                  {{kNumber, 0, 4, 1, "d=3 is not a note value"},
                   {kNumber, 0, 8, 1, "o= needs a whole number, not 'x'"},
                   {kNumber, 0, 12, 1, "b=0 is no tempo"},
                   {kSetting, 0, 14, 4, "unknown setting 'l'"},
                   {kSetting, 0, 19, 0, "empty setting"},
                   {kSetting, 0, 20, 1, "setting 'q' has no '='"}}},
        Malformed{"t:d=4,o=5,b=1000000:c",
                  "len:476;oct:3;c;c",
                  {{kNumber, 0, 12, 7, "b=1000000 is far too large: b=63"},
                   {kSplit, 1, 20, 1, "a note of 952 ms"}}},
        // The name's last two ':' only when what follows reads as settings and notes.
        Malformed{
            "a:b:x=8:c",
            "",
            {{kSetting, 0, 2, 1, "setting 'b' has no '='"}, {kNote, 1, 4, 5, "unknown note 'x'"}}},
        // Decimal tempi: malformed, slower than a beat a minute, too precise.
        Malformed{"t:d=8,o=5,b=1.2.3,b=0.5,b=123.456:c",
                  "len:476;oct:3;c",
                  {{kNumber, 0, 12, 5, "b= needs a number, not '1.2.3': b=63 is used"},
                   {kNumber, 0, 20, 3, "b=0.5 is slower than a beat a minute: b=63"},
                   {kNumber, 0, 26, 7, "b=123.456 has more digits than a tempo needs"}}},
        Malformed{"t:d=8,o=5,b=150:8z,,3c,8c..x,4,p#,8c9999999",
                  "len:200;oct:3;c;len:300;c;len:200;p;c",
                  {{kNote, 1, 16, 2, "unknown note 'z'"},
                   {kNote, 2, 19, 0, "empty note"},
                   {kNumber, 3, 20, 1, "duration '3' is not a note value"},
                   {kNote, 4, 23, 5, "a note takes one dot, '8c..x' has 2"},
                   {kNote, 4, 27, 1, "unexpected 'x' after the note"},
                   {kNote, 5, 29, 1, "'4' has no note name"},
                   {kNote, 6, 32, 1, "a pause has no sharp or flat"},
                   {kNumber, 7, 36, 7, "octave '9999999' is far too large"}}},
        // Bytes that are no text are shown escaped.
        Malformed{"t:d=8,o=5,b=150:\x01,c",
                  "len:200;oct:3;c",
                  {{kNote, 1, 16, 1, "unknown note '\\x01'"}}},
        // The tune as a whole, after its notes.
        Malformed{"t:d=32,o=5,b=900:c,c",
                  "len:20;oct:3;c;c",
                  {{kShort, 1, 17, 1, "a 1/32 note lasts 8.3 ms at b=900"},
                   {kDrift, 0, 17, 3, "the tune plays 40 ms instead of 16.7 ms (+140.0 %)"}}}));

// ---- Spellings read as their writers meant them --------------------------

struct Spelling {
  const char* written;
  const char* meant;       // the same tune in RTTTL's own grammar
  std::vector<int> kinds;  // warnings of the written one
};

void PrintTo(const Spelling& c, std::ostream* os) { *os << '"' << c.written << '"'; }

class ReadsAs : public testing::TestWithParam<Spelling> {};

TEST_P(ReadsAs, WhatItsWriterMeant) {
  const Converted meant = convert(GetParam().meant);
  ASSERT_TRUE(meant.warnings.empty()) << meant.warnings[0].message;
  const Converted written = convert(GetParam().written);
  EXPECT_EQ(written.text, meant.text);
  EXPECT_EQ(kinds(written), GetParam().kinds);
}

constexpr int kGuess = TUVELLO_WARN_RTTTL_GUESS;
constexpr int kShift = TUVELLO_WARN_RTTTL_SHIFT;

INSTANTIATE_TEST_SUITE_P(
    Ringtones, ReadsAs,
    testing::Values(
        Spelling{"t:d=8,o=5,b=150:a_5,c_,C_6", "t:d=8,o=5,b=150:a#5,c#,c#6", {}},
        Spelling{"t:d=8,o=5,b=150:a5#,8c6#.,d.6_", "t:d=8,o=5,b=150:a#5,8c#6.,d#6.", {}},
        Spelling{"t:d=8,o=5,b=150:#a5,8#c.6,#e", "t:d=8,o=5,b=150:a#5,8c#6.,f", {}},
        Spelling{"t:d=8,o=5,b=150:8 c # 5 .,1 6\r\nd\n6, P", "t:d=8,o=5,b=150:8c#5.,16d6,p", {}},
        Spelling{"t:d=64,o=5,b=100:c,32p,64d", "t:d=32,o=5,b=200:c,16p,32d", {}},
        // Commas may end the settings and the notes.
        Spelling{"t:d=8,o=5,b=150,:c,d,\r\n", "t:d=8,o=5,b=150:c,d", {}},
        Spelling{"Star Wars: Main Title:d=8,o=5,b=150:c,d", "t:d=8,o=5,b=150:c,d", {kGuess}},
        Spelling{"a:b::8c", "a::8c", {kGuess}},
        // Two sharps are one too many; the first counts.
        Spelling{"t:d=8,o=5,b=150:#c#,c5_#", "t:d=8,o=5,b=150:c#,c#5", {kNote, kNote}}));

// ---- Octaves out of reach: the whole tune or single notes -----------------

struct ShiftCase {
  const char* rtttl;
  TUVELLO_RtttlOptions options;
  const char* text;
  std::vector<Seen> warnings;  // kind, note, offset, length, start of the message
};

void PrintTo(const ShiftCase& c, std::ostream* os) {
  *os << '"' << c.rtttl << "\" shift " << c.options.octave_shift << ' ' << c.options.octaves;
}

class Moves : public testing::TestWithParam<ShiftCase> {};

TEST_P(Moves, TheWholeTuneWhenItFitsElseSingleRuns) {
  const Converted c = convert(GetParam().rtttl, GetParam().options);
  EXPECT_EQ(c.text, GetParam().text);
  const std::vector<Seen>& want = GetParam().warnings;
  ASSERT_EQ(c.warnings.size(), want.size()) << (c.warnings.empty() ? "" : c.warnings[0].message);
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(c.warnings[i].kind, want[i].kind);
    EXPECT_EQ(c.warnings[i].note, want[i].note);
    EXPECT_EQ(c.warnings[i].offset, want[i].offset);
    EXPECT_EQ(c.warnings[i].length, want[i].length);
    EXPECT_NE(c.warnings[i].message.find(want[i].message), std::string::npos)
        << c.warnings[i].message;
  }
}

constexpr TUVELLO_RtttlOptions by(int octaves) {
  return {sizeof(TUVELLO_RtttlOptions), TUVELLO_OCTAVE_SHIFT_BY, octaves, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Ringtones, Moves,
    testing::Values(ShiftCase{"t:d=8,o=5,b=150:c3,c6", kAuto, "len:200;c;oct:7;c", {}},
                    // Four identical notes no more: the tune an octave lower.
                    ShiftCase{"t:d=8,o=5,b=150:d7,d7,d7,d6",
                              kAuto,
                              "len:200;oct:7;d;d;d;oct:3;d",
                              {{kShift, 0, 16, 11,
                                "spans octaves 6 to 7, out of reach (3 to 6 play "
                                "exactly): it plays an octave lower, every note exact"}}},
                    // C flat is B of the octave below: four octaves, 0 to 3.
                    ShiftCase{"t:d=8,o=1,b=150:cb,c2,b3",
                              kAuto,
                              "len:200;h;oct:3;c;oct:7;h",
                              {{kShift, 0, 16, 8,
                                "spans octaves 0 to 3, out of reach (3 to 6 play "
                                "exactly): it plays 3 octaves higher"}}},
                    ShiftCase{"t:d=8,o=1,b=150:c,c2,c4",
                              kAuto,
                              "len:200;c;oct:1;c;oct:7;c",
                              {{kShift, 0, 16, 7, "it plays 2 octaves higher, every note exact"}}},
                    // Wider than four octaves: the shift that keeps the most notes, then
                    // each run of notes still out of reach, pauses within a run.
                    ShiftCase{
                        "t:d=8,o=5,b=150:c8,c8,c8,c7,c,c1,p,c2,c6",
                        kAuto,
                        "len:200;oct:7;c;c;c;oct:3;c;oct:0;c;c;p;c;oct:1;c",
                        {{kShift, 0, 16, 24, "it plays 2 octaves lower, which keeps the most"},
                         {kOctave, 6, 30, 7,
                          "notes 6 to 8, in octaves 1 to 2, are out of reach even "
                          "with the tune 2 octaves lower"}}},
                    ShiftCase{"t:d=8,o=5,b=150:c7,c,c7",
                              by(0),
                              "len:200;oct:7;c;oct:3;c;oct:7;c",
                              {{kOctave, 1, 16, 2, "note 1, in octave 7,"},
                               {kOctave, 3, 21, 2, "note 3, in octave 7,"}}},
                    ShiftCase{"t:d=8,o=5,b=150:c,c6",
                              by(1),
                              "len:200;oct:7;c;c",
                              {{kOctave, 2, 18, 2, "even with the tune an octave higher"}}},
                    ShiftCase{"t:d=8,o=5,b=150:c,c6",
                              by(-3),
                              "len:200;c;c",
                              {{kOctave, 1, 16, 1,
                                "note 1, in octave 5, is out of reach even with the tune "
                                "3 octaves lower (3 to 6 play exactly): played in octave 3"}}}));

// The name as the conversion reads it: the one rule every face names
// tunes by.
TEST(Name, IsWhatTheConversionReadsAsTheName) {
  const struct {
    const char* ringtone;
    std::int64_t offset;
    const char* name;
  } cases[] = {
      {"tune:d=4,o=5,b=100:c", 0, "tune"},
      {" \tMy Tune \r:d=4:c", 2, "My Tune"},
      {"Star Wars: Main Title:d=4,o=5,b=100:c,e", 0, "Star Wars: Main Title"},
      {"a:b:c,d", 0, "a"},      // what follows its last two ':' reads as no settings
      {"d=4,o=5:c", 0, ""},     // settings before its only ':'
      {"name:c,d", 0, "name"},  // no settings section
      {"name:d=4", 0, "name"},  // no notes section
      {"c,d,e", 0, ""},         // no ':' at all
      {":d=4:c", 0, ""},
      {"", 0, ""},
  };
  for (const auto& c : cases) {
    std::int64_t offset = -7;
    const std::int64_t length = TUVELLO_RtttlName(c.ringtone, &offset);
    EXPECT_EQ(std::string(c.ringtone).substr(offset, length), c.name) << c.ringtone;
    EXPECT_EQ(offset, c.offset) << c.ringtone;
  }
  EXPECT_EQ(TUVELLO_RtttlName(nullptr, nullptr), -1);
  EXPECT_EQ(TUVELLO_RtttlName("x:d=4:c", nullptr), 1);
}

TEST(Options, AreCheckedAndDefaultToTheWholeTune) {
  char buf[32] = "#";
  const char* tune = "t:d=8,o=5,b=150:c7";
  const TUVELLO_RtttlOptions wrong[] = {
      {4, TUVELLO_OCTAVE_SHIFT_AUTO, 0, 0},
      {8, 3, 0, 0},
      by(9),
      by(-9),
      {sizeof(TUVELLO_RtttlOptions), TUVELLO_OCTAVE_SHIFT_AUTO, 0, -1},
      {sizeof(TUVELLO_RtttlOptions), TUVELLO_OCTAVE_SHIFT_AUTO, 0, TUVELLO_HEADER_BYTES - 1}};
  for (const TUVELLO_RtttlOptions& o : wrong) {
    EXPECT_EQ(TUVELLO_ConvertRtttlEx(tune, buf, sizeof buf, &o, nullptr, nullptr), -1);
  }
  EXPECT_STREQ(buf, "#");
  EXPECT_EQ(convert(tune, kAuto).text, "len:200;oct:7;c");
  EXPECT_EQ(kinds(convert(tune, kAuto)), std::vector<int>{kShift});
  ASSERT_EQ(TUVELLO_ConvertRtttlEx(tune, buf, sizeof buf, nullptr, nullptr, nullptr), 15);
  EXPECT_STREQ(buf, "len:200;oct:7;c");
  // An older caller's struct, without `octaves`: shifted by none.
  const TUVELLO_RtttlOptions older = {8, TUVELLO_OCTAVE_SHIFT_BY, 5, 0};
  EXPECT_EQ(kinds(convert(tune, older)), std::vector<int>{kOctave});
  // A struct that holds max_image_bytes only in part has no limit.
  const TUVELLO_RtttlOptions part = {offsetof(TUVELLO_RtttlOptions, max_image_bytes) + 4,
                                     TUVELLO_OCTAVE_SHIFT_AUTO, 0, TUVELLO_HEADER_BYTES};
  EXPECT_EQ(convert(tune, part).text, "len:200;oct:7;c");
}

// ---- The song image's limit ------------------------------------------------

constexpr int kTooLong = TUVELLO_WARN_RTTTL_TOO_LONG;

TUVELLO_RtttlOptions limited(std::int64_t max_image_bytes, std::int32_t shift) {
  return {sizeof(TUVELLO_RtttlOptions), shift, 0, max_image_bytes};
}

struct LimitCase {
  std::string rtttl;
  std::int64_t limit;
  std::int32_t shift;
  std::int32_t note;       // where the image passes the limit; 0: it converts
  std::int64_t offset;     // of that note in the ringtone
  std::vector<int> kinds;  // every warning, in order
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << '"' << c.rtttl.substr(0, 40) << "\" limit " << c.limit << " shift " << c.shift;
}

class Limit : public testing::TestWithParam<LimitCase> {};

// The conversion stops exactly where the image of its song text, as
// TUVELLO_MeasureSong counts it, would pass the limit.
TEST_P(Limit, StopsAtTheNoteWhoseImagePassesItAsMeasureSongCounts) {
  const LimitCase& c = GetParam();
  const TUVELLO_RtttlOptions options = limited(c.limit, c.shift);
  const TUVELLO_RtttlOptions unlimited = limited(0, c.shift);
  const std::string whole = convert(c.rtttl, unlimited).text;
  const std::int64_t image = TUVELLO_MeasureSong(whole.c_str());
  Converted got;
  std::vector<char> buf(whole.size() + 1, '#');
  const std::int64_t n = TUVELLO_ConvertRtttlEx(c.rtttl.c_str(), buf.data(), buf.size(), &options,
                                                collect, &got.warnings);
  EXPECT_EQ(kinds(got), c.kinds);
  if (c.note == 0) {
    EXPECT_EQ(n, static_cast<std::int64_t>(whole.size()));
    EXPECT_EQ(std::string(buf.data()), whole);
    EXPECT_TRUE(image >= 0 && image <= c.limit) << image;
    return;
  }
  EXPECT_EQ(n, -2);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_TRUE(image < 0 || image > c.limit) << image;
  ASSERT_FALSE(got.warnings.empty());
  const Seen& last = got.warnings.back();
  EXPECT_EQ(last.note, c.note);
  EXPECT_EQ(last.offset, c.offset);
  EXPECT_EQ(last.length, static_cast<std::int64_t>(c.rtttl.find(',', c.offset) - c.offset));
  EXPECT_NE(last.message.find("longer than " + std::to_string(c.limit) + " bytes"),
            std::string::npos)
      << last.message;
}

// 500, 250, 1500 (three blocks) and 500 ms: 44 + 22050 + 11024 + 3 x 22050 +
// 22050 bytes; "xx" is skipped.
const std::string kFour = "t:d=4,o=5,b=120:c,8p,2d.6,xx,e,";
constexpr std::int64_t kFourBytes = 121318;
// 97,391 blocks of 22,050 bytes and two of 5,512: 2,147,482,618 bytes, and a
// 32nd note of 2,734 more passes INT32_MAX.
std::string near_int32_max(bool one_more) {
  std::string r = "t:d=4,o=5,b=120:";
  for (int i = 0; i < 97391; ++i) r += "c,";
  return r + (one_more ? "16c,16c,32c," : "16c,16c,");
}

INSTANTIATE_TEST_SUITE_P(
    Ringtones, Limit,
    testing::Values(
        LimitCase{kFour, kFourBytes, TUVELLO_OCTAVE_SHIFT_AUTO, 0, 0, {kSplit, kNote}},
        LimitCase{kFour, kFourBytes + 1, TUVELLO_OCTAVE_SHIFT_NONE, 0, 0, {kSplit, kNote}},
        LimitCase{
            kFour, kFourBytes - 1, TUVELLO_OCTAVE_SHIFT_AUTO, 5, 29, {kSplit, kNote, kTooLong}},
        LimitCase{
            kFour, kFourBytes - 22050, TUVELLO_OCTAVE_SHIFT_NONE, 5, 29, {kSplit, kNote, kTooLong}},
        // Within the blocks of a split note, before its warning.
        LimitCase{kFour, kFourBytes - 22051, TUVELLO_OCTAVE_SHIFT_AUTO, 3, 21, {kTooLong}},
        LimitCase{kFour, TUVELLO_HEADER_BYTES, TUVELLO_OCTAVE_SHIFT_BY, 1, 16, {kTooLong}},
        // The whole tune spans octaves 1 to 5, but the notes that play lie in
        // 5: no shift; and a run of notes out of reach ends where they stop.
        LimitCase{"t:d=4,o=5,b=120:c,c,c1,",
                  44 + 2 * 22050,
                  TUVELLO_OCTAVE_SHIFT_AUTO,
                  3,
                  20,
                  {kTooLong}},
        LimitCase{"t:d=4,o=8,b=120:c,p,c,c,",
                  44 + 3 * 22050,
                  TUVELLO_OCTAVE_SHIFT_BY,
                  4,
                  22,
                  {kOctave, kTooLong}},
        LimitCase{near_int32_max(false), INT32_MAX, TUVELLO_OCTAVE_SHIFT_AUTO, 0, 0, {}},
        LimitCase{near_int32_max(false), 2147482618, TUVELLO_OCTAVE_SHIFT_NONE, 0, 0, {}},
        LimitCase{near_int32_max(false),
                  2147482617,
                  TUVELLO_OCTAVE_SHIFT_NONE,
                  97393,
                  16 + 97391 * 2 + 4,
                  {kTooLong}},
        LimitCase{near_int32_max(true),
                  INT32_MAX,
                  TUVELLO_OCTAVE_SHIFT_AUTO,
                  97394,
                  16 + 97391 * 2 + 8,
                  {kTooLong}}));

TEST(Limit, EndsARunOfNotesOutOfReachWhereTheNotesStop) {
  const TUVELLO_RtttlOptions options = limited(44 + 3 * 22050, TUVELLO_OCTAVE_SHIFT_BY);
  Converted got;
  EXPECT_EQ(TUVELLO_ConvertRtttlEx("t:d=4,o=8,b=120:c,p,c,c", nullptr, 0, &options, collect,
                                   &got.warnings),
            -2);
  ASSERT_EQ(got.warnings.size(), 2u);
  EXPECT_NE(got.warnings[0].message.find("notes 1 to 3, in octaves 8,"), std::string::npos)
      << got.warnings[0].message;
}

// A megabyte of dotted whole notes at b=1 makes 480 MB of song text; with
// the limit the converter writes only the song text of the notes that fit.
TEST(Limit, AHugeRingtoneIsConvertedOnlyAsFarAsTheNoteThatPassesIt) {
  const std::string head = "t:d=1,o=5,b=1:";
  std::string rtttl = head;
  for (int i = 0; i < 333333; ++i) rtttl += "c.,";
  std::string fits = head;
  for (int i = 0; i < 135; ++i) fits += "c.,";
  const std::string fitting = convert(fits).text;
  const TUVELLO_RtttlOptions options = limited(INT32_MAX, TUVELLO_OCTAVE_SHIFT_AUTO);
  for (const std::int32_t shift : {TUVELLO_OCTAVE_SHIFT_AUTO, TUVELLO_OCTAVE_SHIFT_NONE}) {
    TUVELLO_RtttlOptions o = options;
    o.octave_shift = shift;
    std::vector<char> buf(4 << 20, '#');
    Converted got;
    ASSERT_EQ(
        TUVELLO_ConvertRtttlEx(rtttl.c_str(), buf.data(), buf.size(), &o, collect, &got.warnings),
        -2);
    ASSERT_EQ(got.warnings.size(), 2u);  // the split, once; where it stops
    EXPECT_EQ(got.warnings[1].kind, kTooLong);
    EXPECT_EQ(got.warnings[1].note, 136);
    EXPECT_EQ(got.warnings[1].offset, 14 + 135 * 3);
    // The work done: the song text of the 135 notes that fit, nothing more.
    const auto untouched = std::find_if(buf.begin(), buf.end(), [](char b) { return b == '#'; });
    EXPECT_EQ(std::string(buf.data() + 1, fitting.size() - 1), fitting.substr(1));
    EXPECT_EQ(static_cast<std::size_t>(untouched - buf.begin()), fitting.size() + 1);
    EXPECT_TRUE(std::all_of(untouched, buf.end(), [](char b) { return b == '#'; }));
  }
}

// The whole-tune choice on its own, as any importer uses it.
TEST(OctaveSpan, ShiftsByTheFewestOctavesThatKeepTheMostNotes) {
  const struct {
    std::vector<int> octaves;
    int shift;
  } cases[] = {
      {{}, 0},
      {{3, 6, 4}, 0},
      {{7}, -1},
      {{0}, 3},
      {{4, 7}, -1},
      {{1, 4}, 2},
      {{50, 52}, -46},
      {{2, 7}, -1},
      {{5, 5, 9, 1}, 0},
      {{8, 8, 8, 2}, -2},
      {{1, 1, 9, 9, 9}, -3},
  };
  for (const auto& c : cases) {
    tuvello::import::OctaveSpan span;
    for (const int o : c.octaves) span.add(o);
    EXPECT_EQ(span.best_shift(3, 6), c.shift) << testing::PrintToString(c.octaves);
  }
}

// ---- Song text out as a ringtone -------------------------------------------

struct ExportCase {
  const char* song;
  const char* rtttl;
  std::vector<Seen> warnings;  // kind, command, offset, length, start of the message
};

void PrintTo(const ExportCase& c, std::ostream* os) { *os << '"' << c.song << '"'; }

class Exports : public testing::TestWithParam<ExportCase> {};

TEST_P(Exports, ThisRingtoneAndTheseWarnings) {
  const Converted c = export_rtttl(GetParam().song);
  EXPECT_EQ(c.text, GetParam().rtttl);
  const std::vector<Seen>& want = GetParam().warnings;
  ASSERT_EQ(c.warnings.size(), want.size()) << (c.warnings.empty() ? "" : c.warnings[0].message);
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(c.warnings[i].kind, want[i].kind);
    EXPECT_EQ(c.warnings[i].note, want[i].note);
    EXPECT_EQ(c.warnings[i].offset, want[i].offset);
    EXPECT_EQ(c.warnings[i].length, want[i].length);
    EXPECT_EQ(c.warnings[i].message.rfind(want[i].message, 0), 0u) << c.warnings[i].message;
  }
}

constexpr int kLostSetting = TUVELLO_WARN_EXPORT_SETTING;
constexpr int kPitch = TUVELLO_WARN_EXPORT_PITCH;
constexpr int kLength = TUVELLO_WARN_EXPORT_LENGTH;

INSTANTIATE_TEST_SUITE_P(
    Songs, Exports,
    testing::Values(ExportCase{"", "tune:d=4,o=5,b=63:", {}},
                    ExportCase{"len:200;c;e;g;p;c", "tune:d=4,o=3,b=300:c,e,g,p,c", {}},
                    // Sharps; "b" is B flat; octaves only where they differ from o=.
                    ExportCase{" LEN : 125 ;oct:3; C;cs;ds;fs;gs;b;h;oct:7;h;oct:0;d",
                               "tune:d=4,o=5,b=480:c,c#,d#,f#,g#,a#,b,b6,d3",
                               {}},
                    // Values and dots from one tempo (187.5 ms comes back as 188).
                    ExportCase{"len:500;c;len:250;d;e;len:375;f;len:125;p;len:188;g",
                               "tune:d=4,o=3,b=240:2c,d,e,f.,8p,8g.",
                               {}},
                    // What a ringtone cannot hold, at the command that sets it.
                    // 100 ms is a dotted quarter at b=896 (100.45 ms); 137 and 20 ms are
                    // nearest as a half (133.93) and a 1/16 (16.74).
                    ExportCase{"vol:80;pipe:1;c;dec:1;oct:2;d;len:137;p;len:20;e",
                               "tune:d=4,o=4,b=896:c3.,a.,2p,16b",
                               {{kLostSetting, 1, 0, 6, "'vol:80' sets a volume"},
                                {kLostSetting, 2, 7, 6, "'pipe:1' turns on the pipe mode"},
                                {kLostSetting, 4, 16, 5, "'dec:1' makes notes fade"},
                                {kPitch, 5, 22, 5,
                                 "'oct:2' multiplies the pitch by 3, no whole number of "
                                 "octaves: its notes are written at the nearest semitone, "
                                 "19 above"},
                                {kLength, 7, 30, 7,
                                 "'len:137' lasts 137 ms, which no note value at b=896 "
                                 "reaches within 1 ms: its notes are written as the "
                                 "nearest, a 1/2 (133.93 ms)"},
                                {kLength, 9, 40, 6, "'len:20' lasts 20 ms"}}},
                    // Two 20 ms notes outweigh one of the default 100 ms, said at the note.
                    ExportCase{"c;len:20;d;d",
                               "tune:d=32,o=3,b=576:4c,d.,d.",
                               {{kLength, 1, 0, 1,
                                 "the default length is 100 ms, which no note value at "
                                 "b=576 reaches within 1 ms: its notes are written as the "
                                 "nearest, a 1/4 (104.17 ms)"}}}));

TEST(Export, WritesTheNameWithoutColonsOrControlBytes) {
  EXPECT_EQ(export_rtttl("c", "Star Wars: Main\tTitle\n").text,
            "Star Wars_ Main_Title_:d=4,o=3,b=600:c");
  EXPECT_EQ(export_rtttl("c", nullptr).text, ":d=4,o=3,b=600:c");
}

TEST(Warnings, ComeOncePerCauseHoweverLongTheTune) {
  // A million notes too short to play, in octave 7, between two whole notes.
  std::string rtttl = "t:d=32,o=7,b=900:1c,";
  std::string want = "len:267;oct:7;c;len:20";
  for (int i = 0; i < 1000000; ++i) {
    rtttl += "c,";
    want += ";c";
  }
  rtttl += "1c";
  want += ";len:267;c";
  const Converted c = convert(rtttl);
  EXPECT_TRUE(c.text == want);  // not printed: 2 MB
  EXPECT_EQ(kinds(c), (std::vector<int>{kOctave, kShort, kDrift}));
  // 2 x 266.67 + 1000000 x 8.33 ms written, 2 x 267 + 1000000 x 20 played.
  EXPECT_EQ(c.warnings.back().message.substr(0, 61),
            "the tune plays 20000534 ms instead of 8333866.7 ms (+140.0 %)");
}

// ---- The output buffer -----------------------------------------------------

TEST(OutputBuffer, IsWrittenOnlyWhenTheTextAndItsNulFitAndNeverPastItsCapacity) {
  const char* rtttl = "t:d=8,o=5,b=150:c,d,e";
  const std::string want = "len:200;oct:3;c;d;e";
  const auto n = static_cast<std::int64_t>(want.size());
  ASSERT_EQ(TUVELLO_ConvertRtttl(rtttl, nullptr, 0, nullptr, nullptr), n);
  for (const std::int64_t capacity : {std::int64_t{1}, n - 1, n, n + 1, n + 9}) {
    std::vector<char> buf(static_cast<std::size_t>(n) + 16, '#');
    EXPECT_EQ(TUVELLO_ConvertRtttl(rtttl, buf.data(), capacity, nullptr, nullptr), n);
    const auto cap = static_cast<std::size_t>(capacity);
    EXPECT_EQ(std::string(buf.data()), capacity > n ? want : "") << capacity;
    for (std::size_t i = cap; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << capacity;
  }
}

TEST(OutputBuffer, RefusesANegativeCapacityOrNoBufferAndReadsNullAsEmpty) {
  char buf[8] = "#######";
  int visits = 0;
  const auto count = [](const TUVELLO_Warning*, void* v) {
    ++*static_cast<int*>(v);
    return 0;
  };
  EXPECT_EQ(TUVELLO_ConvertRtttl("t::c", buf, -1, count, &visits), -1);
  EXPECT_EQ(TUVELLO_ConvertRtttl("t::c", nullptr, 4, count, &visits), -1);
  EXPECT_EQ(visits, 0);
  EXPECT_STREQ(buf, "#######");
  EXPECT_EQ(TUVELLO_ConvertRtttl(nullptr, buf, sizeof buf, count, &visits), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(visits, 1);  // no notes
}

TEST(Warnings, StopWhenTheVisitorSaysSoWhileTheConversionGoesOn) {
  int visits = 0;
  const auto stop = [](const TUVELLO_Warning*, void* v) {
    ++*static_cast<int*>(v);
    return 1;
  };
  char buf[64];
  EXPECT_EQ(TUVELLO_ConvertRtttl("t:d=8,o=5,b=150:z,y,c", buf, sizeof buf, stop, &visits), 15);
  EXPECT_STREQ(buf, "len:200;oct:3;c");
  EXPECT_EQ(visits, 1);
}

// A ringtone's bytes in a message read as a song text's do: tab, CR, LF and
// backslash escaped, other bytes outside printable ASCII as hex.
TEST(Warnings, QuoteBytesAsTheSongTextWarningsDo) {
  const std::string bytes = "x\t'\\\xE4";
  const Converted c = convert("t:d=8,o=5,b=150:c," + bytes + ",c");
  ASSERT_EQ(c.warnings.size(), 1u);
  std::vector<std::string> song;
  TUVELLO_ForEachWarning(
      bytes.c_str(),
      [](const TUVELLO_Warning* w, void* v) {
        static_cast<std::vector<std::string>*>(v)->push_back(w->message);
        return 0;
      },
      &song);
  ASSERT_EQ(song.size(), 1u);
  const std::string quoted = "'x\\t'\\\\\\xE4'";
  EXPECT_NE(c.warnings[0].message.find(quoted), std::string::npos) << c.warnings[0].message;
  EXPECT_NE(song[0].find(quoted), std::string::npos) << song[0];
}

// ---- Pitch and length on the rendered audio --------------------------------

// In-place radix-2 FFT; size a power of two.
void fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1;
      for (std::size_t k = 0; k < len / 2; ++k, w *= step) {
        const std::complex<double> u = a[i + k];
        const std::complex<double> v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// The strongest frequency of a tone played at 22050 frames per second: the
// FFT's peak bin, then refined by the windowed spectrum within a bin of it.
double peak_hz(const std::vector<std::int16_t>& samples) {
  constexpr double kRate = 22050.0;
  constexpr std::size_t kSize = 8192;
  std::vector<double> windowed(kSize);
  for (std::size_t i = 0; i < kSize; ++i) {
    const double hann = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / kSize);
    windowed[i] = i < samples.size() ? samples[i] * hann : 0.0;
  }
  std::vector<std::complex<double>> spectrum(windowed.begin(), windowed.end());
  spectrum.resize(2 * kSize);  // zero-padded: bins of 1.35 Hz
  fft(spectrum);
  std::size_t best = 1;
  for (std::size_t k = 1; k < kSize; ++k) {
    if (std::abs(spectrum[k]) > std::abs(spectrum[best])) best = k;
  }
  const double bin = kRate / static_cast<double>(2 * kSize);
  double best_hz = static_cast<double>(best) * bin;
  double best_power = 0.0;
  for (int step = -100; step <= 100; ++step) {
    const double f = (static_cast<double>(best) + step / 100.0) * bin;
    std::complex<double> sum = 0;
    const std::complex<double> turn = std::polar(1.0, -2 * M_PI * f / kRate);
    std::complex<double> w = 1;
    for (std::size_t i = 0; i < kSize; ++i, w *= turn) sum += windowed[i] * w;
    if (std::norm(sum) > best_power) {
      best_power = std::norm(sum);
      best_hz = f;
    }
  }
  return best_hz;
}

TEST(Pitch, EveryNoteOfOctavesThreeToSixSoundsAtItsRtttlFrequency) {
  const char* names[12] = {"c", "c#", "d", "d#", "e", "f", "f#", "g", "g#", "a", "a#", "b"};
  for (int octave = 3; octave <= 6; ++octave) {
    for (int semitone = 0; semitone < 12; ++semitone) {
      const std::string note = names[semitone] + std::to_string(octave);
      const Converted c = convert("t:d=4,o=5,b=120:" + note);
      ASSERT_TRUE(c.warnings.empty()) << note;
      const tuvello_test::Song song = tuvello_test::render(c.text.c_str());
      ASSERT_TRUE(song);
      // a4 = 440 Hz, equal temperament from there.
      const int from_a4 = (octave - 4) * 12 + semitone - 9;
      const double want = 440.0 * std::pow(2.0, from_a4 / 12.0);
      const double got = peak_hz(tuvello_test::samples(song.get()));
      EXPECT_NEAR(got / want, 1.0, 0.005) << note << " '" << c.text << "': " << got << " Hz";
    }
  }
}

TEST(Length, EveryNoteLastsItsRtttlLengthToTheMillisecond) {
  struct Case {
    const char* rtttl;
    int ms;  // the played total: exact length rounded, or 20 when shorter
  } cases[] = {
      {"t:d=4,o=5,b=120:c", 500},   {"t:d=4,o=5,b=120:8c", 250}, {"t:d=4,o=5,b=120:16c", 125},
      {"t:d=4,o=5,b=120:32c", 62},  // 62.5, to even
      {"t:d=4,o=5,b=120:8c.", 375}, {"t:d=4,o=5,b=120:c.", 750}, {"t:d=4,o=5,b=120:1p", 2000},
      {"t:d=4,o=5,b=63:c", 952},    {"t:d=4,o=5,b=140:8c", 214}, {"t:d=4,o=5,b=180:32c", 42},
      {"t:d=4,o=5,b=200:32c.", 56}, {"t:d=4,o=5,b=900:32c", 20}, {"t:d=4,o=5,b=25:1c.", 14400},
      {"t:d=4,o=5,b=112:16c", 134},
  };
  for (const Case& c : cases) {
    const Converted converted = convert(c.rtttl);
    const tuvello_test::Song song = tuvello_test::render(converted.text.c_str());
    ASSERT_TRUE(song);
    // A block holds round(44.1 bytes per ms) brought down to whole frames,
    // at most 0.034 ms off; the audio lasts the length to the millisecond.
    EXPECT_NEAR(TUVELLO_GetSongDuration(song.get()) * 1000.0, c.ms, 0.5) << c.rtttl;
  }
}

// ---- Real tunes -----------------------------------------------------------

// tests/data/rtttl_tunes.txt: "# ..." lines name each tune's source; each
// tune is followed by "ms N", its played length.
TEST(RealTunes, ConvertAndRenderWithTheirExpectedLength) {
  std::ifstream in(TUVELLO_TEST_DATA "/rtttl_tunes.txt");
  ASSERT_TRUE(in) << TUVELLO_TEST_DATA "/rtttl_tunes.txt";
  std::string line;
  std::string tune;
  int tunes = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("ms ", 0) != 0) {
      tune = line;
      continue;
    }
    const int want_ms = std::stoi(line.substr(3));
    const Converted c = convert(tune);
    SCOPED_TRACE(tune.substr(0, tune.find(':')));
    for (const Seen& w : c.warnings) {
      // Real tunes may reach past octave 6 or hold long notes; nothing else.
      EXPECT_TRUE(w.kind == kOctave || w.kind == kSplit) << w.message;
    }
    const tuvello_test::Song song = tuvello_test::render(c.text.c_str());
    ASSERT_TRUE(song);
    const double blocks = static_cast<double>(std::count(c.text.begin(), c.text.end(), ';') + 1);
    // A block holds round(44.1 bytes per ms) brought down to whole frames.
    EXPECT_NEAR(TUVELLO_GetSongDuration(song.get()) * 1000.0, want_ms, 1.5 * blocks / 44.1);
    ++tunes;
  }
  EXPECT_EQ(tunes, 16);
}

// ---- Round trips -----------------------------------------------------------

// A ringtone's notes as written, read here independently: lower case, no
// blanks, [value] [#] name [#, _] [.] [octave] [#, _] [.]; pitch in
// semitones from C0 (-1 a pause) and exact length in ms.
struct RtttlNote {
  int pitch;
  double ms;
};

std::vector<RtttlNote> rtttl_notes(const std::string& r) {
  const std::size_t b = r.rfind(':'), a = r.rfind(':', b - 1);
  int d = 4, o = 6;
  double bpm = 63;
  std::istringstream settings(r.substr(a + 1, b - a - 1));
  std::string item;
  while (std::getline(settings, item, ',')) {
    const double v = std::stod(item.substr(2));
    if (item[0] == 'd') {
      d = static_cast<int>(v);
    } else if (item[0] == 'o') {
      o = static_cast<int>(v);
    } else {
      bpm = v;
    }
  }
  std::vector<RtttlNote> notes;
  std::istringstream in(r.substr(b + 1));
  while (std::getline(in, item, ',')) {
    std::size_t i = 0;
    const int value = std::isdigit(item[0]) ? std::stoi(item, &i) : d;
    const std::string name = item.substr(i, item.find_first_of("0123456789.", i) - i);
    const std::string rest = item.substr(i + name.size());
    static constexpr int kSemitones[] = {9, 11, 0, 2, 4, 5, 7};
    const char letter = name[name[0] == '#'];
    const bool sharp = name.find_first_of("#_") != std::string::npos ||
                       rest.find_first_of("#_") != std::string::npos;
    const std::size_t digit = rest.find_first_of("0123456789");
    const int octave = digit == std::string::npos ? o : rest[digit] - '0';
    const double ms = 240000.0 / bpm / value * (item.find('.') == std::string::npos ? 1 : 1.5);
    notes.push_back({letter == 'p' ? -1 : octave * 12 + kSemitones[letter - 'a'] + sharp, ms});
  }
  return notes;
}

void expect_same_notes(const std::vector<RtttlNote>& got, const std::vector<RtttlNote>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].pitch, want[i].pitch) << "note " << i + 1;
    EXPECT_NEAR(got[i].ms, want[i].ms, 1.0) << "note " << i + 1;
  }
}

// pitch, frames, bytes, amplitude, flags of every note the song text plays.
using NoteMap = std::vector<std::tuple<double, int, int, int, int>>;

NoteMap note_map(const std::string& text) {
  NoteMap map;
  TUVELLO_ForEachNote(
      text.c_str(),
      [](const TUVELLO_Note* n, void* m) {
        static_cast<NoteMap*>(m)->emplace_back(n->pitch_hz, n->frames, n->bytes, n->amplitude,
                                               n->flags);
        return 0;
      },
      &map);
  return map;
}

// Random ringtones within reach, spelled every way a writer might: sharps
// as '#', '_', '#' before the name or after the octave, or the flat of the
// next name; B as b or h; case, dots and blanks anywhere.
std::pair<std::string, std::vector<RtttlNote>> random_tune(std::mt19937& rng) {
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const int bpm = 25 + pick(876), d = 1 << pick(6), o = 3 + pick(4);
  std::vector<std::pair<int, bool>> fits;  // values of 20 to 500 ms at this tempo
  for (int v = 1; v <= 32; v *= 2) {
    for (const bool dot : {false, true}) {
      const double ms = 240000.0 / bpm / v * (dot ? 1.5 : 1);
      if (ms >= 20 && ms <= 500) fits.emplace_back(v, dot);
    }
  }
  std::string r =
      "t:d=" + std::to_string(d) + ",o=" + std::to_string(o) + ",b=" + std::to_string(bpm) + ":";
  std::vector<RtttlNote> notes;
  const char* blanks[] = {"", "", "", " ", "\r\n"};
  for (int k = 0, n = 1 + pick(40); k < n; ++k) {
    const auto [value, dotted] =
        fits[static_cast<std::size_t>(pick(static_cast<int>(fits.size())))];
    const int octave = 3 + pick(4), semitone = pick(12);
    const bool pause = pick(8) == 0;
    notes.push_back(
        {pause ? -1 : octave * 12 + semitone, 240000.0 / bpm / value * (dotted ? 1.5 : 1)});
    std::vector<std::string> parts;
    if (value != d || pick(2)) parts.push_back(std::to_string(value));
    static const char* kNatural[] = {"c", "", "d", "", "e", "f", "", "g", "", "a", "", "b"};
    std::string name = pause ? "p" : kNatural[semitone];
    std::string before, after_octave;
    if (name.empty()) {
      const std::string below = kNatural[semitone - 1], above = kNatural[semitone + 1];
      switch (pick(5)) {
        case 0:
          name = below + "#";
          break;
        case 1:
          name = below + "_";
          break;
        case 2:
          name = below, before = "#";
          break;
        case 3:
          name = below, after_octave = "#";
          break;
        default:
          name = above + "b";
          break;
      }
    } else if (name == "b" && pick(2)) {
      name = "h";
    }
    if (pick(3) == 0) std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    if (!before.empty()) parts.push_back(before);
    parts.push_back(name);
    const bool dot_first = pick(2);
    if (dotted && dot_first) parts.push_back(".");
    if (!pause && (octave != o || !after_octave.empty() || pick(2)))
      parts.push_back(std::to_string(octave));
    if (!after_octave.empty()) parts.push_back(after_octave);
    if (dotted && !dot_first) parts.push_back(".");
    if (k > 0) r += ",";
    for (const std::string& part : parts) r += blanks[pick(5)] + part;
  }
  return {r + (pick(2) ? "," : ""), notes};
}

TEST(RoundTrip, RandomRingtonesComeBackAsTheSameNotesAndTheSameSongText) {
  std::mt19937 rng(20);
  for (int i = 0; i < 500; ++i) {
    const auto [rtttl, notes] = random_tune(rng);
    SCOPED_TRACE(rtttl);
    const Converted song = convert(rtttl, kAuto);
    ASSERT_EQ(song.warnings.size(), 0u) << song.warnings[0].message;
    const Converted back = export_rtttl(song.text);
    ASSERT_EQ(back.warnings.size(), 0u) << back.warnings[0].message;
    expect_same_notes(rtttl_notes(back.text), notes);
    EXPECT_EQ(convert(back.text, kAuto).text, song.text) << back.text;
  }
}

// Songs of whole octaves and note values of one tempo, with the notation's
// freedoms: case, spaces, settings repeated or without effect.
TEST(RoundTrip, SongsOfOctavesAndNoteValuesComeBackWithTheSameNoteMap) {
  std::mt19937 rng(21);
  const auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  const char* keys[] = {"c",  "cs", "d", "ds", "e", "f", "fs", "g",
                        "gs", "a",  "b", "h",  "p", "C", "Cs"};
  const char* octs[] = {"oct:0", "oct:1", "oct:3", "oct:7", " OCT : 3 "};
  for (int i = 0; i < 500; ++i) {
    const int bpm = 25 + pick(876);
    std::vector<long> lengths;
    for (int v = 1; v <= 32; v *= 2) {
      for (const double dot : {1.0, 1.5}) {
        const long ms = std::lrint(240000.0 / bpm / v * dot);  // ties to even
        if (ms >= 20 && ms <= 500) lengths.push_back(ms);
      }
    }
    // 100 ms, the default length, only when it is a note value too.
    const bool default_fits = std::count(lengths.begin(), lengths.end(), 100) > 0 && pick(2);
    std::string song = pick(2) ? "" : "vol:100;x;";
    if (!default_fits) song += "len:" + std::to_string(lengths[0]) + ";";
    for (int k = 0, n = 1 + pick(40); k < n; ++k) {
      if (pick(3) == 0)
        song += "len: " +
                std::to_string(
                    lengths[static_cast<std::size_t>(pick(static_cast<int>(lengths.size())))]) +
                ";";
      if (pick(4) == 0) song += std::string(octs[pick(5)]) + ";";
      song += keys[pick(15)] + std::string(pick(4) ? ";" : " ; ");
    }
    SCOPED_TRACE(song);
    const Converted rtttl = export_rtttl(song);
    EXPECT_TRUE(rtttl.warnings.empty()) << rtttl.warnings[0].message;
    const Converted back = convert(rtttl.text, kAuto);
    EXPECT_TRUE(back.warnings.empty()) << back.warnings[0].message;
    EXPECT_EQ(note_map(back.text), note_map(song)) << rtttl.text;
  }
}

// The committed tunes: each within reach converts without a warning and
// comes back as the same notes; every one keeps its song's notes through a
// ringtone, their lengths within 1 ms unless said (the repeated notes of a
// long note may be no note value).
TEST(RoundTrip, CommittedTunesKeepTheirNotes) {
  std::ifstream in(TUVELLO_TEST_DATA "/rtttl_tunes.txt");
  std::string tune;
  int within = 0;
  while (std::getline(in, tune)) {
    if (tune.empty() || tune[0] == '#' || tune.rfind("ms ", 0) == 0) continue;
    SCOPED_TRACE(tune);
    const Converted song = convert(tune, kAuto);
    const Converted rtttl = export_rtttl(song.text);
    const Converted back = convert(rtttl.text, kAuto);
    const NoteMap before = note_map(song.text), after = note_map(back.text);
    ASSERT_EQ(after.size(), before.size());
    bool off = false;
    for (std::size_t i = 0; i < before.size(); ++i) {
      EXPECT_EQ(std::get<0>(after[i]), std::get<0>(before[i]));
      off = off || std::abs(std::get<2>(after[i]) - std::get<2>(before[i])) > 46;  // 1 ms
    }
    const std::vector<int> said = kinds(rtttl);
    EXPECT_EQ(off, !said.empty()) << rtttl.text;
    EXPECT_EQ(std::count(said.begin(), said.end(), kLength), std::ssize(said));
    const std::vector<RtttlNote> notes = rtttl_notes(tune);
    if (std::all_of(notes.begin(), notes.end(), [](const RtttlNote& n) {
          return (n.pitch < 0 || (n.pitch >= 36 && n.pitch < 84)) && n.ms <= 500;
        })) {
      ++within;
      EXPECT_TRUE(song.warnings.empty()) << song.warnings[0].message;
      EXPECT_TRUE(rtttl.warnings.empty()) << rtttl.warnings[0].message;
      expect_same_notes(rtttl_notes(rtttl.text), notes);
      EXPECT_EQ(after, before);
    }
  }
  EXPECT_EQ(within, 6);
}

}  // namespace
