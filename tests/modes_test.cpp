// SPDX-License-Identifier: MIT
// Pipe and decay modes.
#include <gtest/gtest.h>

#include <cmath>

#include "reference_note_block.hpp"
#include "song_test_support.hpp"
#include "synth/note_block.hpp"

using namespace tuvello_test;

namespace {

TEST(Pipe, EverySixteenthSampleIsTakenAtTwiceTheFrequency) {
  const auto piped = samples(render("pipe:1;c").get());
  const auto plain = samples(render("c").get());
  ASSERT_EQ(piped.size(), plain.size());
  EXPECT_EQ(piped[14], 17381);
  EXPECT_EQ(piped[15], 30454);
  EXPECT_EQ(plain[15], 18405);
  const auto doubled = samples(render("oct:1;c").get());  // 2 × 261.63, the same phase
  for (std::size_t i = 0; i + 2 < piped.size(); ++i) {
    if ((i + 1) % 16 == 0) {
      ASSERT_EQ(piped[i], doubled[i]) << i;
    } else {
      ASSERT_EQ(piped[i], plain[i]) << i;
    }
  }
}

TEST(Pipe, ThePatternStartsAfreshInEveryBlockAndSwitchesOff) {
  const Song song = render("len:30;pipe:1;c;c;pipe:0;c");
  const Song one = render("len:30;pipe:1;c");
  const Song plain = render("len:30;c");
  EXPECT_EQ(0, std::memcmp(song.get() + 44, one.get() + 44, 1322));
  EXPECT_EQ(0, std::memcmp(song.get() + 44 + 1322, one.get() + 44, 1322));
  EXPECT_EQ(0, std::memcmp(song.get() + 44 + 2 * 1322, plain.get() + 44, 1322));
}

// Every frame of a decayed "c" against the formula with the amplitude the
// decay rule gives it: 32767, falling by round(14.86) = 15 per frame while
// above 15, which takes 2184 steps down to 7.
TEST(Decay, StepsDownByTheRoundedDecayStepToItsFloor) {
  tuvello::text::NoteSettings s;
  s.decay = true;
  const auto block = tuvello::synth::plan_note_block(261.63, s, 22050, 44100);
  EXPECT_EQ(block.decay_step, 14.86031723022461f);
  const auto decayed = samples(render("dec:1;c").get());
  for (int n = 1; n <= 2203; ++n) {
    const std::int32_t a = n <= 2185 ? 32767 - (n - 1) * 15 : 7;
    const long double arg = static_cast<long double>(261.63) * 6.2831854820251465L * n / 44100.0L;
    ASSERT_EQ(decayed[n - 1], std::llrint(a * std::sin(arg))) << "frame " << n;
  }
}

// Pipe and decay together, against the straightforward formula.
class PipeAndDecay : public testing::TestWithParam<const char*> {};

TEST_P(PipeAndDecay, MatchTheFormulaSampleForSample) {
  const auto got = samples(render(GetParam()).get());
  tuvello::text::NoteSettings s;
  s.pipe = s.decay = true;
  const std::string text = GetParam();
  const auto number_after = [&](const char* key, int fallback) {
    const auto at = text.find(key);
    return at == std::string::npos ? fallback : std::stoi(text.substr(at + std::strlen(key)));
  };
  s.length_ms = number_after("len:", 100);
  s.volume = static_cast<float>(number_after("vol:", 100) / 100.0L);
  s.multiplier = number_after("oct:", 0) + 1;
  const auto block = tuvello::synth::plan_note_block(440.0, s, 22050, 44100);
  std::vector<std::uint8_t> expected(block.bytes);
  reference_write_samples(block, expected.data());
  ASSERT_EQ(got.size() * 2, expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i], static_cast<std::int16_t>(expected[2 * i] | expected[2 * i + 1] << 8)) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, PipeAndDecay,
                         testing::Values("pipe:1;dec:1;a", "pipe:1;dec:1;len:20;vol:5;a",
                                         "pipe:1;dec:1;len:500;vol:100;oct:8;a",
                                         "pipe:1;dec:1;len:333;vol:37;oct:3;a",
                                         "pipe:1;dec:1;len:149;vol:5;a"));

TEST(Decay, EveryBlockStartsAgainFromFullAmplitude) {
  const Song song = render("dec:1;c;d");
  const Song d = render("dec:1;d");
  EXPECT_EQ(0, std::memcmp(song.get() + 44 + 4410, d.get() + 44, 4410));
}

struct NoFadeCase {
  int vol;
  int last_fading_len;  // the note still fades at this length, not one above
};

class DecayFloor : public testing::TestWithParam<NoFadeCase> {};

TEST_P(DecayFloor, StepsBelowOneHalfDoNotFade) {
  const int vol = GetParam().vol;
  const auto render_at = [&](int len) {
    return samples(
        render(("vol:" + std::to_string(vol) + ";len:" + std::to_string(len) + ";dec:1;c").c_str())
            .get());
  };
  const auto plain_at = [&](int len) {
    return samples(
        render(("vol:" + std::to_string(vol) + ";len:" + std::to_string(len) + ";c").c_str())
            .get());
  };
  const int len = GetParam().last_fading_len;
  EXPECT_NE(render_at(len), plain_at(len));
  EXPECT_EQ(render_at(len + 1), plain_at(len + 1));
}

INSTANTIATE_TEST_SUITE_P(Volumes, DecayFloor,
                         testing::Values(NoFadeCase{5, 148}, NoFadeCase{6, 178}, NoFadeCase{7, 208},
                                         NoFadeCase{8, 237}, NoFadeCase{9, 267},
                                         NoFadeCase{10, 297}, NoFadeCase{11, 326},
                                         NoFadeCase{12, 356}, NoFadeCase{13, 386},
                                         NoFadeCase{14, 416}, NoFadeCase{15, 445},
                                         NoFadeCase{16, 475}));

TEST(Decay, AQuietLongNoteKeepsItsAmplitude) {
  EXPECT_EQ(samples(render("vol:5;len:500;dec:1;c").get()),
            samples(render("vol:5;len:500;c").get()));
}

}  // namespace
