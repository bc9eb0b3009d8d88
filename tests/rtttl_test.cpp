// SPDX-License-Identifier: MIT
// RTTTL ringtones into song text: the text written, the warnings with their
// places, the output buffer's contract, and the pitch and length of every
// note on the rendered audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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

Converted convert(const std::string& rtttl) {
  Converted c;
  const std::int64_t n = TUVELLO_ConvertRtttl(rtttl.c_str(), nullptr, 0, collect, &c.warnings);
  EXPECT_GE(n, 0);
  std::vector<char> buf(static_cast<std::size_t>(n) + 1, 'X');
  EXPECT_EQ(TUVELLO_ConvertRtttl(rtttl.c_str(), buf.data(), n + 1, nullptr, nullptr), n);
  EXPECT_EQ(buf.back(), '\0');
  c.text.assign(buf.data(), static_cast<std::size_t>(n));
  return c;
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
        Malformed{"t:d=8,o=5,b=1000:c",
                  "len:30;oct:3;c",
                  {{kNumber, 0, 12, 4, "b=1000 is outside RTTTL's 25 to 900"}}},
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
  EXPECT_EQ(tunes, 12);
}

}  // namespace
