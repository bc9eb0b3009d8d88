// SPDX-License-Identifier: MIT
// Texts written to hurt: huge, repetitive, full of odd bytes. Each renders
// like a short text with the same meaning, in time and memory that grow no
// faster than the text, or yields null at once when its image could not exist.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "image/block_allocator.hpp"
#include "image/create_song.hpp"
#include "song_test_support.hpp"

using namespace tuvello_test;
namespace image = tuvello::image;

namespace {

constexpr std::size_t kMillion = 1000 * 1000;
constexpr std::size_t kHundredMegabytes = 100 * kMillion;

// `head`, then `part` `times` times over, then `tail`, built in place so that
// the text is the only large thing in memory.
std::string repeated(const std::string& head, const std::string& part, std::size_t times,
                     const std::string& tail = "") {
  std::string out;
  out.reserve(head.size() + part.size() * times + tail.size());
  out += head;
  for (std::size_t i = 0; i < times; ++i) out += part;
  out += tail;
  return out;
}

long status_kilobytes(const char* field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  }
  return 0;
}

struct Cost {
  double seconds;
  double peak_megabytes;  // how far the process's peak memory rose above its size at the start
};

Cost cost_of(const std::function<void()>& work) {
  // Restarts the peak at the current size, so that only `work` is measured.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long before = status_kilobytes("VmRSS:");
  const auto start = std::chrono::steady_clock::now();
  work();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return {took.count(), (status_kilobytes("VmHWM:") - before) / 1024.0};
}

void report(const std::string& what, const Cost& cost) {
  std::printf("[   cost   ] %s: %.3f s, peak +%.1f MB\n", what.c_str(), cost.seconds,
              cost.peak_megabytes);
}

struct HostileCase {
  const char* name;
  std::function<std::string()> make;
  const char* renders_like;  // a short text with the same notes and settings
  double max_seconds;        // generous: catches a walk that is not linear, not a busy machine
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileText : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileText, RendersAsItsShortFormInLinearTime) {
  const std::string text = GetParam().make();
  const Song expected = render(GetParam().renders_like);
  ASSERT_NE(expected, nullptr);

  Song song;
  const Cost cost = cost_of([&] { song = render(text.c_str()); });
  report(GetParam().name, cost);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(bytes_of(song.get()), bytes_of(expected.get()));
  EXPECT_LT(cost.seconds, GetParam().max_seconds);
  // Room for one copy of the text and a little more; the library in fact
  // reads the caller's text in place.
  EXPECT_LT(cost.peak_megabytes, 16.0 + static_cast<double>(text.size()) / kMillion);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, HostileText,
    testing::Values(
        HostileCase{"hundred_megabyte_unknown_key",
                    [] { return repeated("", "x", kHundredMegabytes, ";c"); }, "c", 60.0},
        HostileCase{"hundred_megabytes_of_spaces_inside_a_command",
                    [] { return repeated("c", " ", kHundredMegabytes, ";d"); }, "c;d", 60.0},
        HostileCase{"hundred_megabyte_number",
                    [] { return repeated("vol:", "0", kHundredMegabytes, "50;c"); }, "vol:50;c",
                    60.0},
        HostileCase{"million_empty_commands", [] { return repeated("", ";", kMillion, "c"); }, "c",
                    10.0},
        HostileCase{"million_blank_commands", [] { return repeated("", " ; ", kMillion, "c"); },
                    "c", 10.0},
        HostileCase{
            "million_setting_commands",
            [] { return repeated("", "len:20;vol:5;oct:8;pipe:1;dec:1;", kMillion / 5, "c"); },
            "len:20;vol:5;oct:8;pipe:1;dec:1;c", 10.0},
        HostileCase{"million_out_of_range_settings",
                    [] { return repeated("", "len:19;vol:101;oct:-1;", kMillion / 3, "c"); }, "c",
                    10.0},
        HostileCase{"million_unknown_keys", [] { return repeated("", "x:1;", kMillion, "c"); }, "c",
                    10.0},
        HostileCase{"million_digit_number_saturates_out_of_range",
                    [] { return repeated("len:", "9", kMillion, ";c"); }, "c", 10.0},
        HostileCase{"million_digit_negative_number",
                    [] { return repeated("len:-", "9", kMillion, ";c"); }, "c", 10.0},
        HostileCase{"million_leading_zeros",
                    [] { return repeated("len:", "0", kMillion, "200;c"); }, "len:200;c", 10.0},
        HostileCase{"million_leading_zeros_after_a_sign",
                    [] { return repeated("oct:+", "0", kMillion, "2;a"); }, "oct:2;a", 10.0},
        HostileCase{"million_byte_key", [] { return repeated("", "c", kMillion); }, "", 10.0}),
    [](const testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

// Texts with tabs, carriage returns and line feeds, which are ordinary bytes:
// they neither separate commands nor count as blanks around keys.
struct ControlCase {
  const char* text;
  const char* renders_like;
};

void PrintTo(const ControlCase& c, std::ostream* os) { *os << testing::PrintToString(c.text); }

class ControlBytes : public testing::TestWithParam<ControlCase> {};

TEST_P(ControlBytes, AreOrdinaryBytesInKeysAndValues) {
  const Song song = render(GetParam().text);
  const Song expected = render(GetParam().renders_like);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(bytes_of(song.get()), bytes_of(expected.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ControlBytes,
    testing::Values(ControlCase{"\tc", ""}, ControlCase{"c\t", ""}, ControlCase{"c\nd", ""},
                    ControlCase{"c\r;d", "d"}, ControlCase{"c\n;d", "d"},
                    ControlCase{"\r\nc;d", "d"}, ControlCase{"c;\t;d", "c;d"},
                    ControlCase{"c:\n;d", "c;d"}, ControlCase{"len\t:200;c", "c"},
                    // Before its digits a value skips tabs and spaces; after them, any
                    // other byte ends the number.
                    ControlCase{"len:\t200;c", "len:200;c"},
                    ControlCase{"vol:\t \t50;c", "vol:50;c"},
                    ControlCase{"len:200\t;c", "len:200;c"},
                    ControlCase{"len:200\r\n;c", "len:200;c"}, ControlCase{"len:\n200;c", "c"},
                    ControlCase{"len:\r200;c", "c"}, ControlCase{"len:2\n00;c", "c"}));

// Every byte value a text can hold, in a key and in a value, against the
// notation's rules written out independently.
char lower(unsigned char b) { return b >= 'A' && b <= 'Z' ? static_cast<char>(b + 0x20) : b; }

bool is_single_letter_note(unsigned char b) {
  return b != 0 && std::strchr("cdefgabhp", lower(b)) != nullptr;
}

// What a text of one byte plays.
std::string one_byte_key_plays(unsigned char b) {
  return is_single_letter_note(b) ? std::string(1, lower(b)) : "";
}

// What "c" followed by one byte plays.
std::string c_and_byte_plays(unsigned char b) {
  if (lower(b) == 's') return "cs";
  if (b == ';' || b == ':' || b == ' ') return "c";
  return "";
}

// What "len:" BYTE "50;c" plays.
std::string length_with_byte_plays(unsigned char b) {
  if (b >= '0' && b <= '4') return std::string("len:") + static_cast<char>(b) + "50;c";
  if (b == '+' || b == ' ' || b == '\t') return "len:50;c";
  return "c";  // no number, or one out of range: the length stays 100
}

TEST(EveryByteValue, InAKeyOrAValueMeansWhatTheNotationSays) {
  for (int value = 1; value <= 255; ++value) {
    const auto b = static_cast<unsigned char>(value);
    const char byte = static_cast<char>(b);
    const struct {
      std::string text;
      std::string plays;
    } cases[] = {{std::string(1, byte), one_byte_key_plays(b)},
                 {std::string("c") + byte, c_and_byte_plays(b)},
                 {std::string("len:") + byte + "50;c", length_with_byte_plays(b)}};
    for (const auto& c : cases) {
      const Song song = render(c.text.c_str());
      const Song expected = render(c.plays.c_str());
      ASSERT_NE(song, nullptr) << "byte " << value;
      EXPECT_EQ(bytes_of(song.get()), bytes_of(expected.get()))
          << "byte " << value << " in " << testing::PrintToString(c.text);
    }
  }
}

TEST(NulInsideText, EndsTheText) {
  const char text[] = "c;d\0e;f";
  const Song song = render(text);
  const Song expected = render("c;d");
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(bytes_of(song.get()), bytes_of(expected.get()));
}

TEST(NullSong, IsToleratedByEveryAccessor) {
  EXPECT_EQ(TUVELLO_FreeSong(nullptr), 0);
  EXPECT_EQ(TUVELLO_GetSongSize(nullptr), 0);
  EXPECT_EQ(TUVELLO_GetSongLenght(nullptr), 0.0f);
  EXPECT_EQ(TUVELLO_GetSongDuration(nullptr), 0.0);
  std::uint8_t byte = 0;
  EXPECT_EQ(TUVELLO_CloseSong(nullptr), 0);
  EXPECT_EQ(TUVELLO_ReadSong(nullptr, &byte, 1), -1);
  EXPECT_EQ(TUVELLO_SeekSong(nullptr, 0), -1);
}

// Five hundred milliseconds take 22050 bytes, so 100000 such notes would need
// 2.2 GB: more than a song image can hold.
TEST(ImagePastTheLargestSize, YieldsNullAtOnceWithoutRenderingOrAllocating) {
  const std::string long_notes = repeated("len:500;", "c;", 100000, "c");
  std::uint8_t* song = nullptr;
  image::fail_allocation_after(0);  // counts from here
  const Cost cost = cost_of([&] { song = TUVELLO_CreateSong(long_notes.c_str()); });
  report("image_past_int32_max", cost);
  EXPECT_EQ(song, nullptr);
  EXPECT_EQ(TUVELLO_MeasureSong(long_notes.c_str()), -1);
  EXPECT_EQ(TUVELLO_OpenSong(long_notes.c_str()), nullptr);
  EXPECT_EQ(image::allocations_attempted(), 0) << "nothing may be allocated";
  EXPECT_EQ(image::blocks_outstanding(), 0);
  EXPECT_LT(cost.seconds, 5.0);
  EXPECT_LT(cost.peak_megabytes, 16.0);
}

struct CapCase {
  const char* text;
  std::int64_t image_bytes;  // what the text needs
};

void PrintTo(const CapCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class SizeCap : public testing::TestWithParam<CapCase> {};

TEST_P(SizeCap, RefusesOneByteShortBeforeAnyNoteAndRendersAtTheSize) {
  const CapCase& c = GetParam();
  image::fail_allocation_after(0);
  EXPECT_EQ(image::create_song(c.text, c.image_bytes - 1), nullptr);
  EXPECT_EQ(image::allocations_attempted(), 0) << "the image is measured before it is allocated";
  EXPECT_EQ(image::blocks_outstanding(), 0);

  std::uint8_t* song = image::create_song(c.text, c.image_bytes);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(TUVELLO_GetSongSize(song), c.image_bytes);
  TUVELLO_FreeSong(song);
}

INSTANTIATE_TEST_SUITE_P(Texts, SizeCap,
                         testing::Values(CapCase{"c", 44 + 4410},
                                         CapCase{"len:500;c;c;c", 44 + 3 * 22050},
                                         CapCase{"len:30;c;len:20;d;p", 44 + 1322 + 882 + 882}));

}  // namespace
