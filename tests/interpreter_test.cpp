// SPDX-License-Identifier: MIT
// The song text interpreter: which notes a text plays, with which settings.
#include "text/interpreter.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "reference_walk.hpp"

using namespace tuvello::text;

namespace {

struct Played {
  double frequency;
  NoteSettings settings;
};

std::vector<Played> play(std::string_view text) {
  std::vector<Played> notes;
  const auto sink = [&](double f, const NoteSettings& s) {
    notes.push_back({f, s});
    return true;
  };
  EXPECT_TRUE(interpret(text, sink));
  return notes;
}

// What a text plays, summarised: the frequencies, and the settings of the
// last note.
struct PlayCase {
  std::string text;
  std::vector<double> frequencies;
  NoteSettings last;  // settings of the last note, if any
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

NoteSettings with(int len, float vol, int mult, bool pipe = false, bool decay = false) {
  return NoteSettings{len, vol, mult, pipe, decay};
}

const NoteSettings kDefaults{};

class Plays : public testing::TestWithParam<PlayCase> {};

TEST_P(Plays, TheNotesWithTheirSettings) {
  const auto notes = play(GetParam().text);
  std::vector<double> frequencies;
  for (const auto& n : notes) frequencies.push_back(n.frequency);
  EXPECT_EQ(frequencies, GetParam().frequencies);
  if (notes.empty()) return;
  const NoteSettings& got = notes.back().settings;
  const NoteSettings& want = GetParam().last;
  EXPECT_EQ(got.length_ms, want.length_ms);
  EXPECT_EQ(got.volume, want.volume);
  EXPECT_EQ(got.multiplier, want.multiplier);
  EXPECT_EQ(got.pipe, want.pipe);
  EXPECT_EQ(got.decay, want.decay);
}

constexpr double C = 261.63, D = 293.66;

INSTANTIATE_TEST_SUITE_P(
    Notation, Plays,
    testing::Values(
        // Keys and separators.
        PlayCase{"C ; D", {C, D}, kDefaults}, PlayCase{"c;;d", {C, D}, kDefaults},
        PlayCase{"c", {C}, kDefaults}, PlayCase{"c;", {C}, kDefaults},
        PlayCase{"  c ;  ", {C}, kDefaults}, PlayCase{"c\nd", {}, kDefaults},
        PlayCase{"\tc", {}, kDefaults}, PlayCase{"c:7", {C}, kDefaults},
        PlayCase{":5;x:5", {}, kDefaults}, PlayCase{"cc;dd;c d", {}, kDefaults},
        PlayCase{"cs;d;ds;e;f;fs;g;gs;a;b;h;p",
                 {277.18, 293.66, 311.13, 329.63, 349.23, 369.99, 392.00, 415.30, 440.00, 466.16,
                  493.88, 0.0},
                 kDefaults},
        PlayCase{"CS;Gs;H;P", {277.18, 415.30, 493.88, 0.0}, kDefaults},
        // Length.
        PlayCase{"len:19;c", {C}, kDefaults}, PlayCase{"len:501;c", {C}, kDefaults},
        PlayCase{"len:20;c", {C}, with(20, 1.0f, 1)},
        PlayCase{"len:500;c", {C}, with(500, 1.0f, 1)},
        PlayCase{"len:200;c;len:50;c", {C, C}, with(50, 1.0f, 1)},
        // Volume: divided in extended precision, stored as a float.
        PlayCase{"vol:4;c", {C}, kDefaults}, PlayCase{"vol:5;c", {C}, with(100, 0.05f, 1)},
        PlayCase{"vol: 80;c", {C}, with(100, 0.8f, 1)},
        PlayCase{"vol:50:9;c", {C}, with(100, 0.5f, 1)},
        PlayCase{"vol:+50;c", {C}, with(100, 0.5f, 1)},
        PlayCase{"vol:5x;c", {C}, with(100, 0.05f, 1)},
        PlayCase{"vol:50.9;c", {C}, with(100, 0.5f, 1)}, PlayCase{"vol:- 50;c", {C}, kDefaults},
        PlayCase{"vol:\t50;c", {C}, with(100, 0.5f, 1)},
        PlayCase{"VOL:70;c", {C}, with(100, 0.7f, 1)},
        // Pitch multiplier: value + 1.
        PlayCase{"oct:0;c", {C}, with(100, 1.0f, 1)}, PlayCase{"oct:8;c", {C}, with(100, 1.0f, 9)},
        PlayCase{"oct:3;oct:9;c", {C}, with(100, 1.0f, 4)},
        PlayCase{"oct:3;oct:-1;c", {C}, with(100, 1.0f, 4)},
        PlayCase{"oct:3;oct;c", {C}, kDefaults}, PlayCase{"oct:3;oct:x;c", {C}, kDefaults},
        // Modes.
        PlayCase{"pipe:2;c", {C}, with(100, 1.0f, 1, true)},
        PlayCase{"pipe:-1;c", {C}, with(100, 1.0f, 1, true)},
        PlayCase{"pipe:1;pipe;c", {C}, kDefaults}, PlayCase{"pipe:1;pipe:0;c", {C}, kDefaults},
        PlayCase{"dec:2;c", {C}, with(100, 1.0f, 1, false, true)},
        PlayCase{"dec:1;dec;c", {C}, kDefaults},
        // Numbers past 32 bits saturate instead of wrapping around.
        PlayCase{"vol:50;vol:4294967346;c", {C}, with(100, 0.5f, 1)},
        PlayCase{"pipe:4294967296;c", {C}, with(100, 1.0f, 1, true)},
        PlayCase{"len:50;len:-4294967246;c", {C}, with(50, 1.0f, 1)}));

TEST(Interpreter, SettingsApplyOnlyToLaterNotes) {
  const auto notes = play("c;len:300;vol:10;oct:2;pipe:1;dec:1;d");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].settings.length_ms, 100);
  EXPECT_EQ(notes[1].settings.length_ms, 300);
  EXPECT_EQ(notes[1].settings.volume, 0.1f);
  EXPECT_EQ(notes[1].settings.multiplier, 3);
  EXPECT_TRUE(notes[1].settings.pipe && notes[1].settings.decay);
}

TEST(Interpreter, StopsAtOnceWhenTheSinkRunsOutOfMemory) {
  int calls = 0;
  std::vector<std::size_t> seen;
  const auto sink = [&](double, const NoteSettings&) { return ++calls < 2; };
  const auto record = [&](const Command& c, const NoteSettings&) { seen.push_back(c.number); };
  const CommandObserver observer = record;
  EXPECT_FALSE(interpret("c;d;e;f", sink, &observer));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(seen, std::vector<std::size_t>{1});
}

TEST(Interpreter, ReportsEveryCommandWithItsPlaceAndFate) {
  struct Seen {
    std::size_t number, offset;
    std::string written, key, value, extra;
    Fate fate;
  };
  std::vector<Seen> seen;
  const auto record = [&](const Command& c, const NoteSettings&) {
    seen.push_back({c.number, c.offset, std::string(c.written), std::string(c.key),
                    std::string(c.value), std::string(c.extra), c.fate});
  };
  const CommandObserver observer = record;
  const auto sink = [](double, const NoteSettings&) { return true; };
  ASSERT_TRUE(interpret("  C:7 ;;len:5; zz ;vol: 80 :1;  ", sink, &observer));
  ASSERT_EQ(seen.size(), 5u);
  EXPECT_EQ(seen[0].offset, 2u);
  EXPECT_EQ(seen[0].written, "C:7 ");
  EXPECT_EQ(seen[0].key, "C");
  EXPECT_EQ(seen[0].value, "7");
  EXPECT_EQ(seen[0].fate, Fate::note_rendered);
  EXPECT_EQ(seen[1].fate, Fate::empty);
  EXPECT_EQ(seen[2].fate, Fate::out_of_range);
  EXPECT_EQ(seen[2].offset, 8u);
  EXPECT_EQ(seen[3].key, "zz");
  EXPECT_EQ(seen[3].fate, Fate::unknown_key);
  EXPECT_EQ(seen[4].number, 5u);
  EXPECT_EQ(seen[4].value, "80");
  EXPECT_EQ(seen[4].extra, "1");
  EXPECT_EQ(seen[0].extra, "");
  EXPECT_EQ(seen[4].fate, Fate::setting_applied);
}

TEST(Interpreter, ABlankTextIsOneEmptyCommand) {
  std::size_t commands = 0;
  const auto count = [&](const Command& c, const NoteSettings&) {
    ++commands;
    EXPECT_EQ(c.fate, Fate::empty);
  };
  const CommandObserver observer = count;
  const auto sink = [](double, const NoteSettings&) { return true; };
  interpret("   ", sink, &observer);
  EXPECT_EQ(commands, 1u);
}

struct ParseCase {
  const char* text;
  std::int32_t value;
  bool has_digits;
  bool saturated;
  std::size_t consumed;
};

class IntegerParse : public testing::TestWithParam<ParseCase> {};

TEST_P(IntegerParse, ReadsLikeTheNotationSays) {
  const ParsedInteger p = parse_integer(GetParam().text);
  EXPECT_EQ(p.value, GetParam().value);
  EXPECT_EQ(p.has_digits, GetParam().has_digits);
  EXPECT_EQ(p.saturated, GetParam().saturated);
  EXPECT_EQ(p.consumed, GetParam().consumed);
}

INSTANTIATE_TEST_SUITE_P(
    Values, IntegerParse,
    testing::Values(ParseCase{"", 0, false, false, 0}, ParseCase{"x", 0, false, false, 0},
                    ParseCase{"42", 42, true, false, 2}, ParseCase{" \t 42x", 42, true, false, 5},
                    ParseCase{"+7", 7, true, false, 2}, ParseCase{"-7", -7, true, false, 2},
                    ParseCase{"- 7", 0, false, false, 0}, ParseCase{"+-7", 0, false, false, 0},
                    ParseCase{"50.9", 50, true, false, 2},
                    ParseCase{"0000000000000000000012", 12, true, false, 22},
                    ParseCase{"2147483647", INT32_MAX, true, false, 10},
                    ParseCase{"2147483648", INT32_MAX, true, true, 10},
                    ParseCase{"-2147483648", INT32_MIN, true, false, 11},
                    ParseCase{"-2147483649", INT32_MIN, true, true, 11},
                    ParseCase{"4294967346", INT32_MAX, true, true, 10},
                    ParseCase{"99999999999999999999999999", INT32_MAX, true, true, 26}));

TEST(Interpreter, TakesTimeLinearInTheTextsLength) {
  // A walk that rescanned the text per command would take minutes here; a
  // linear one takes milliseconds, so the bound leaves room for a busy machine.
  const auto start = std::chrono::steady_clock::now();
  std::string text;
  for (int i = 0; i < 1000000; ++i) text += "vol:50;";
  std::size_t commands = 0;
  const auto count = [&](const Command&, const NoteSettings&) { ++commands; };
  const CommandObserver observer = count;
  const auto sink = [](double, const NoteSettings&) { return true; };
  EXPECT_TRUE(interpret(text, sink, &observer));
  EXPECT_EQ(commands, 1000000u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

// ---- The fast walk against the straightforward one --------------------------

void expect_same_settings(const NoteSettings& got, const NoteSettings& want) {
  EXPECT_EQ(got.length_ms, want.length_ms);
  EXPECT_EQ(std::memcmp(&got.volume, &want.volume, sizeof got.volume), 0);
  EXPECT_EQ(got.multiplier, want.multiplier);
  EXPECT_EQ(got.pipe, want.pipe);
  EXPECT_EQ(got.decay, want.decay);
}

// Every command of `text` read by CommandWalk equals the reference walk's
// reading, field by field, with the same settings after it; and a walk
// resumed from any place between commands goes on exactly as the first.
void expect_walks_agree(std::string_view text) {
  SCOPED_TRACE(testing::Message() << "text of " << text.size() << " bytes: \""
                                  << std::string(text.substr(0, 80)) << "\"");
  tuvello_test::ReferenceWalk reference(text);
  CommandWalk walk(text);
  std::vector<CommandWalk::Place> places{walk.place()};
  std::vector<Command> commands;
  Command want, got;
  while (reference.next(want)) {
    ASSERT_TRUE(walk.step()) << "command " << want.number;
    walk.describe(got);
    ASSERT_EQ(got.number, want.number);
    ASSERT_EQ(got.offset, want.offset);
    ASSERT_EQ(got.written.data(), want.written.data());
    ASSERT_EQ(got.written.size(), want.written.size());
    EXPECT_EQ(got.key.data(), want.key.data());
    EXPECT_EQ(got.key.size(), want.key.size());
    EXPECT_EQ(got.value.data(), want.value.data());
    EXPECT_EQ(got.value.size(), want.value.size());
    EXPECT_EQ(got.extra.size(), want.extra.size());
    EXPECT_EQ(got.has_value, want.has_value);
    EXPECT_EQ(got.parsed.value, want.parsed.value);
    EXPECT_EQ(got.parsed.has_digits, want.parsed.has_digits);
    EXPECT_EQ(got.parsed.saturated, want.parsed.saturated);
    EXPECT_EQ(got.parsed.consumed, want.parsed.consumed);
    ASSERT_EQ(got.kind, want.kind) << "command " << want.number;
    ASSERT_EQ(walk.kind(), want.kind);
    EXPECT_EQ(got.fate, want.fate);
    EXPECT_EQ(walk.has_value(), want.has_value);
    if (want.kind == Key::note) {
      EXPECT_EQ(walk.frequency(), want.frequency);
    }
    // A plain setting is one the warnings have nothing to say about.
    if (walk.plain_setting()) {
      EXPECT_EQ(want.fate, Fate::setting_applied);
      EXPECT_EQ(want.parsed.consumed, want.value.size());
      EXPECT_TRUE(want.parsed.has_digits && !want.parsed.saturated && want.extra.empty());
    }
    expect_same_settings(walk.settings(), reference.settings());
    if (!walk.done()) places.push_back(walk.place());
    commands.push_back(want);
  }
  EXPECT_FALSE(walk.step());
  // Resumed walks, from every place (at most 40 of them for long texts).
  const std::size_t stride = places.size() / 40 + 1;
  for (std::size_t p = 0; p < places.size(); p += stride) {
    CommandWalk resumed(text, places[p]);
    for (std::size_t i = places[p].number; i < commands.size(); ++i) {
      ASSERT_TRUE(resumed.step()) << "resumed at " << p;
      ASSERT_EQ(resumed.number(), commands[i].number);
      ASSERT_EQ(resumed.kind(), commands[i].kind);
      ASSERT_EQ(resumed.fate(), commands[i].fate);
    }
    EXPECT_FALSE(resumed.step());
  }
}

TEST(FastWalk, ReadsHandWrittenTextsAsTheReferenceWalk) {
  const std::string long_key(70, 'c');
  const std::vector<std::string> texts{
      "",
      " ",
      "   ",
      ";",
      ";;",
      " ; ",
      "c",
      "c;",
      "c;;",
      ";c",
      "  c ;  ",
      "C ; D",
      "cs;Cs;CS;cS;ds;fs;gs;a;b;h;p;P;H",
      "len:200;vol:80;oct:2;pipe:1;dec:1;c",
      "LEN:20;Vol:5;oCt:8;PIPE:0;DEC:0;e",
      "len:19;len:501;vol:4;vol:101;oct:-1;oct:9",
      "vol:+50;vol:-5;vol:5x;vol:50.9;vol:\t50;vol: 50 ;vol:50:9;vol:50:;vol::;vol:",
      "vol:4294967346;pipe:4294967296;len:-4294967246;vol:0000000000000000000080",
      "c:7;c:;c::;:5;:;::;x:5;cc;c d;c\nd;\tc;c\t",
      "lens;len;le;l;pipes;pip;octs",
      "\xC3\xA9;\xC0;\xDE:5;\xE0",
      std::string("c\0d;e", 6),
      std::string("\0;\0", 3),
      long_key + ";" + long_key + ":5;c",
      "len:50;" + std::string(63, ';') + "c",
      std::string(64, ';'),
      std::string(65, ';'),
      std::string(127, ' ') + "c",
      "len:20" + std::string(58, ' ') + ";c",
      "[len:20;]"};
  for (const std::string& text : texts) {
    expect_walks_agree(text);
  }
}

TEST(FastWalk, ReadsRandomTextsAsTheReferenceWalk) {
  // Bytes of the notation, with ';' and ':' often, spaces and a few others;
  // commands of every length around the one-word reading's eight bytes and
  // texts across the 64-byte blocks separators are found in.
  const std::string pieces[] = {"c",   "cs",  "d",    "Ds",  "p",   "h",  "len",         "LEN",
                                "vol", "oct", "pipe", "dec", "Dec", ":",  ":",           ";",
                                ";",   ";",   " ",    "  ",  "5",   "20", "80",          "500",
                                "-",   "+",   "x",    "\t",  "\n",  "0",  "99999999999", "\xC3"};
  std::mt19937 random(22);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const int parts = static_cast<int>(random() % 60);
    for (int i = 0; i < parts; ++i) text += pieces[random() % std::size(pieces)];
    expect_walks_agree(text);
    if (HasFatalFailure()) return;
  }
}

TEST(FastWalk, ReadsTheCorporaAsTheReferenceWalk) {
  // The identity corpus line by line, each fuzz corpus file whole, and the
  // identity corpus as one text of many commands.
  std::string all;
  std::ifstream lines(TUVELLO_SOURCE_DIR "/tests/data/identity_corpus.txt", std::ios::binary);
  int texts = 0;
  for (std::string line; std::getline(lines, line); ++texts) {
    expect_walks_agree(line);
    all += line + ";";
  }
  for (const auto& entry : std::filesystem::directory_iterator(TUVELLO_SOURCE_DIR "/fuzz/corpus")) {
    std::ifstream in(entry.path(), std::ios::binary);
    expect_walks_agree(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    ++texts;
  }
  expect_walks_agree(all);
  EXPECT_GT(texts, 50);
}

}  // namespace
