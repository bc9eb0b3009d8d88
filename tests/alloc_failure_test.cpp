// SPDX-License-Identifier: MIT
// Running out of memory at any allocation yields null and leaks nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "image/block_allocator.hpp"
#include "song_test_support.hpp"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TUVELLO_TEST_LSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TUVELLO_TEST_LSAN 1
#endif
#if defined(TUVELLO_TEST_LSAN)
#include <sanitizer/lsan_interface.h>
#endif

using namespace tuvello_test;
namespace image = tuvello::image;

namespace {

// Whether the leak checker finds unreachable memory right now; never without
// one (the block count still proves the library released all its blocks).
bool leak_checker_finds_leaks() {
#if defined(TUVELLO_TEST_LSAN)
  return __lsan_do_recoverable_leak_check() != 0;
#else
  return false;
#endif
}

class FailingEveryAllocation : public testing::TestWithParam<std::string> {};

// An image is measured first and allocated once at its size, a reader is one
// allocation too: failing it yields null and leaks nothing, and the next try
// gives the image whole.
TEST_P(FailingEveryAllocation, YieldsNullAndLeaksNothingUntilARenderCompletes) {
  const char* text = GetParam().c_str();
  const Song reference = render(text);
  ASSERT_NE(reference, nullptr);
  const auto expected = bytes_of(reference.get());
  const long blocks_before = image::blocks_outstanding();

  image::fail_allocation_after(1);
  EXPECT_EQ(TUVELLO_CreateSong(text), nullptr);
  EXPECT_EQ(image::allocations_attempted(), 1);
  image::fail_allocation_after(1);
  EXPECT_EQ(TUVELLO_OpenSong(text), nullptr);
  EXPECT_EQ(image::allocations_attempted(), 1);
  ASSERT_EQ(image::blocks_outstanding(), blocks_before);
  ASSERT_FALSE(leak_checker_finds_leaks());

  image::fail_allocation_after(2);  // the next allocation succeeds
  const Song song = render(text);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(bytes_of(song.get()), expected);
  image::fail_allocation_after(0);
}

// Measuring, the note map and the warnings allocate nothing: they work while
// every allocation would fail.
TEST_P(FailingEveryAllocation, LeavesMeasureNotesAndWarningsWorking) {
  const char* text = GetParam().c_str();
  const Song reference = render(text);
  const auto count_warnings = [](const TUVELLO_Warning*, void* n) {
    ++*static_cast<int*>(n);
    return 0;
  };
  const auto add_bytes = [](const TUVELLO_Note* note, void* sum) {
    *static_cast<std::int64_t*>(sum) += note->bytes;
    return 0;
  };
  int warnings = 0;
  std::int64_t image_bytes = 44;
  image::fail_allocation_after(1);
  EXPECT_EQ(TUVELLO_MeasureSong(text), TUVELLO_GetSongSize(reference.get()));
  TUVELLO_ForEachNote(text, add_bytes, &image_bytes);
  EXPECT_EQ(image_bytes, TUVELLO_GetSongSize(reference.get()));
  EXPECT_EQ(TUVELLO_ForEachWarning(text, count_warnings, &warnings), warnings);
  EXPECT_EQ(image::allocations_attempted(), 0);
  image::fail_allocation_after(0);
}

// A reader sought backward keeps an index of places in the text; without
// memory for it, seeks walk from the text's start and still succeed.
TEST(FailingTheReadersIndex, LeavesSeeksWorking) {
  std::string text = "len:20;";
  for (int i = 0; i < 3000; ++i) text += i % 3 == 0 ? "vol:40;c;;;;;;;;;;;;" : "oct:1;d;pipe:1;";
  const Song song = render(text.c_str());
  const auto image = bytes_of(song.get());
  const long blocks_before = image::blocks_outstanding();
  TUVELLO_SongReader* reader = TUVELLO_OpenSong(text.c_str());
  ASSERT_NE(reader, nullptr);
  std::uint8_t piece[100];
  ASSERT_EQ(TUVELLO_SeekSong(reader, static_cast<std::int64_t>(image.size()) - 100), 0);
  ASSERT_EQ(TUVELLO_ReadSong(reader, piece, sizeof piece), 100);
  std::int64_t now = static_cast<std::int64_t>(image.size());
  for (const std::int64_t at : {1000, 500000, 44, 2000000, 1999000}) {
    image::fail_allocation_after(1);
    ASSERT_EQ(TUVELLO_SeekSong(reader, at), 0);
    ASSERT_EQ(TUVELLO_ReadSong(reader, piece, sizeof piece), 100);
    EXPECT_TRUE(std::equal(piece, piece + 100, image.begin() + at)) << at;
    // Each seek backward asks for the index and goes on without it.
    EXPECT_EQ(image::allocations_attempted(), at < now ? 1 : 0) << at;
    now = at + 100;
  }
  image::fail_allocation_after(0);
  // With memory, the index comes at the next backward seek.
  ASSERT_EQ(TUVELLO_SeekSong(reader, 7), 0);
  ASSERT_EQ(TUVELLO_ReadSong(reader, piece, sizeof piece), 100);
  EXPECT_TRUE(std::equal(piece, piece + 100, image.begin() + 7));
  EXPECT_EQ(image::blocks_outstanding(), blocks_before + 2);
  EXPECT_EQ(TUVELLO_CloseSong(reader), 1);
  EXPECT_EQ(image::blocks_outstanding(), blocks_before);
}

std::string repeated(const std::string& command, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += command;
  return out;
}

INSTANTIATE_TEST_SUITE_P(Texts, FailingEveryAllocation,
                         testing::Values("", "len:200;vol:50;oct:3;pipe:1;dec:1;x:9", "c",
                                         "len:30;c;d;e", "p;;x;pipe:1;dec:1;a;h",
                                         " C ; len:25;D:3;;len:125;E;vol:5;p ",
                                         "len:500;c;c;c;c;c;c;c;c",
                                         "len:20;" + repeated("c;d;p;", 20),
                                         // past 4 MiB: a mapping of its own
                                         "len:500;" + repeated("c;", 200)));

}  // namespace
