// SPDX-License-Identifier: MIT
// The note synthesizer: block sizes, frame counts, amplitudes and samples.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/exact_arithmetic.hpp"
#include "song_test_support.hpp"
#include "synth/note_block.hpp"

using namespace tuvello_test;
using tuvello::synth::NoteBlock;
using tuvello::synth::plan_note_block;
using tuvello::text::NoteSettings;

namespace {

// round(k × d - sub), ties to even, computed exactly in integers from the
// double d's significand: an oracle that shares no arithmetic with the
// library.
std::int64_t exact_round(std::int64_t k, double d, std::int64_t sub) {
  int exponent = 0;
  const double fraction = std::frexp(d, &exponent);  // d = fraction × 2^exponent
  const auto significand = static_cast<__int128>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;  // d = significand / 2^shift, shift > 0 here
  const __int128 scaled = significand * k - (static_cast<__int128>(sub) << shift);
  const __int128 one = static_cast<__int128>(1) << shift;
  __int128 q = scaled >> shift;
  const __int128 rem = scaled - (q << shift);
  if (2 * rem > one || (2 * rem == one && (q & 1) != 0)) ++q;
  return static_cast<std::int64_t>(q);
}

NoteBlock plan(int len, int vol = 100) {
  NoteSettings s;
  s.length_ms = len;
  s.volume = tuvello::text::volume_of_percent(vol);
  return plan_note_block(261.63, s, 22050, 44100);
}

TEST(NoteBlock, SizesAndFrameCountsAreExactForEveryAcceptedLength) {
  int odd = 0, double_rounding_changes_bytes = 0, double_rounding_changes_frames = 0;
  for (int len = 20; len <= 500; ++len) {
    const double seconds = len / 1000.0;
    const std::int64_t bytes = exact_round(44100, seconds, 0);
    const std::int64_t frames = exact_round(22050, seconds, 2);
    const NoteBlock b = plan(len);
    EXPECT_EQ(b.bytes, bytes & ~1) << "len " << len;
    EXPECT_EQ(b.frames, frames) << "len " << len;
    // Every sample fits in the block, and at least the last two frames stay silent.
    EXPECT_LE(2 * b.frames + 2, b.bytes) << "len " << len;
    odd += bytes & 1;
    double_rounding_changes_bytes += std::nearbyint(44100 * seconds) != bytes;
    double_rounding_changes_frames += std::nearbyint(22050 * seconds - 2.0) != frames;
  }
  // The counts known for the notation's lengths confirm the oracle itself.
  EXPECT_EQ(odd, 238);
  EXPECT_EQ(double_rounding_changes_bytes, 20);
  EXPECT_EQ(double_rounding_changes_frames, 9);
}

// Every rounding of a block's numbers happens once, to nearest with ties to
// even, whatever the target's evaluation width: checked here against the
// x86-64 extended-precision formulas, which round the same values once.
TEST(NoteBlock, VolumeIsTheFloatNearestToPercentOverAHundred) {
  for (int vol = 5; vol <= 100; ++vol) {
    const float v = tuvello::text::volume_of_percent(vol);
    const long double exact = vol / 100.0L;
    const long double off = std::fabs(v - exact);
    EXPECT_LT(off, std::fabs(std::nextafter(v, 0.0f) - exact)) << vol;
    EXPECT_LT(off, std::fabs(std::nextafter(v, 2.0f) - exact)) << vol;
  }
}

TEST(NoteBlock, DecayStepIsTheQuotientRoundedOnceToAFloatOnBothPaths) {
  for (int len = 20; len <= 500; ++len) {
    for (int vol = 5; vol <= 100; ++vol) {
      const NoteBlock b = plan(len, vol);
      const auto expected =
          static_cast<float>(b.amplitude / (static_cast<long double>(b.seconds) * 22050));
      ASSERT_EQ(b.decay_step, expected) << "len " << len << " vol " << vol;
      // The exact division the fast path falls back on, near a rounding tie.
      const auto s = tuvello::base::exact::binary_of(b.seconds);
      ASSERT_EQ(tuvello::base::exact::divide_to_float(
                    {0, static_cast<std::uint64_t>(b.amplitude)},
                    tuvello::base::exact::multiply(s.significand, 22050), -s.exponent),
                expected)
          << "len " << len << " vol " << vol;
    }
  }
}

TEST(NoteBlock, ToneIsTheNoteTimesTheMultiplierRoundedOnce) {
  for (const double note : {261.63, 277.18, 293.66, 311.13, 329.63, 349.23, 369.99, 392.00, 415.30,
                            440.00, 466.16, 493.88}) {
    for (int multiplier = 1; multiplier <= 9; ++multiplier) {
      NoteSettings s;
      s.multiplier = multiplier;
      EXPECT_EQ(plan_note_block(note, s, 22050, 44100).frequency, note * multiplier);
    }
  }
}

struct LengthCase {
  int len;
  std::int32_t bytes, frames;
};

class BlockLengths : public testing::TestWithParam<LengthCase> {};

TEST_P(BlockLengths, GiveTheirBlockSizeAndFrames) {
  const NoteBlock b = plan(GetParam().len);
  EXPECT_EQ(b.bytes, GetParam().bytes);
  EXPECT_EQ(b.frames, GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Lengths, BlockLengths,
                         testing::Values(LengthCase{100, 4410, 2203}, LengthCase{20, 882, 439},
                                         LengthCase{500, 22050, 11023}, LengthCase{30, 1322, 659},
                                         LengthCase{25, 1102, 549},
                                         // Exact ties round to even.
                                         LengthCase{125, 5512, 2754}, LengthCase{250, 11024, 5510},
                                         LengthCase{375, 16538, 8267}));

struct AmplitudeCase {
  int vol;
  std::int32_t amplitude;
};

class Amplitudes : public testing::TestWithParam<AmplitudeCase> {};

TEST_P(Amplitudes, RoundVolumeTimesFullScaleToEven) {
  EXPECT_EQ(plan(100, GetParam().vol).amplitude, GetParam().amplitude);
}

INSTANTIATE_TEST_SUITE_P(Volumes, Amplitudes,
                         testing::Values(AmplitudeCase{100, 32767}, AmplitudeCase{50, 16384},
                                         AmplitudeCase{80, 26214}, AmplitudeCase{5, 1638}));

TEST(NoteBlock, FrequencyIsTheNoteTimesTheMultiplier) {
  NoteSettings s;
  s.multiplier = 9;
  EXPECT_EQ(plan_note_block(493.88, s, 22050, 44100).frequency, 4444.92);
}

struct SampleCase {
  const char* text;
  std::vector<std::int16_t> first;
  std::vector<std::int16_t> last;  // the last samples before the 4 silent bytes
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Samples : public testing::TestWithParam<SampleCase> {};

TEST_P(Samples, MatchTheirKnownValues) {
  const Song song = render(GetParam().text);
  const auto s = samples(song.get());
  const auto& first = GetParam().first;
  const auto& last = GetParam().last;
  ASSERT_GE(s.size(), first.size() + last.size() + 2);
  EXPECT_EQ(std::vector<std::int16_t>(s.begin(), s.begin() + first.size()), first);
  EXPECT_EQ(std::vector<std::int16_t>(s.end() - 2 - last.size(), s.end() - 2), last);
  EXPECT_EQ(s[s.size() - 2], 0);
  EXPECT_EQ(s[s.size() - 1], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Notes, Samples,
    testing::Values(SampleCase{"c", {1221, 2441, 3657}, {}},
                    SampleCase{"a", {2053, 4098, 6126, 8131, 10103}, {-8131, -6126, -4097}},
                    SampleCase{"dec:1;c", {1221, 2439, 3653, 4861, 6061}, {2, 3, 3}},
                    SampleCase{"dec:1;a", {2053, 4096, 6121, 8120, 10085}, {-2, -1, -1}}));

TEST(Samples, APauseIsSilentAndAsLongAsANote) {
  const Song song = render("len:30;p");
  const auto s = samples(song.get());
  ASSERT_EQ(s.size(), 661u);
  for (auto v : s) ASSERT_EQ(v, 0);
}

TEST(Samples, EveryBlockRestartsItsPhaseOnAFrameBoundary) {
  // After an odd-length block the next block must still start on a frame.
  const Song song = render("len:30;c;len:100;c");
  const Song c = render("c");
  EXPECT_EQ(0, std::memcmp(song.get() + 44 + 1322, c.get() + 44, 4410));
}

TEST(Samples, HighestNoteStaysExact) {
  const Song song = render("oct:8;h");
  const auto s = samples(song.get());
  // Phase-checked independently: round(32767 × sin(4444.92 × 2π_f × n / 44100)).
  for (int n = 1; n <= 5; ++n) {
    const long double arg = static_cast<long double>(4444.92) * 6.2831854820251465L * n / 44100.0L;
    EXPECT_EQ(s[n - 1], std::llrint(32767 * std::sin(arg))) << n;
  }
}

}  // namespace
