// SPDX-License-Identifier: MIT
// The song image: header, size fields, accessors and the block allocator.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "image/block_allocator.hpp"
#include "image/create_song.hpp"
#include "song_test_support.hpp"

using namespace tuvello_test;

namespace {

// The header of an image whose data chunk holds `data` bytes.
std::array<std::uint8_t, 44> expected_header(std::uint32_t data) {
  std::array<std::uint8_t, 44> h{'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                 'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                 1,   0,   0x22, 0x56, 0,   0,   0x44, 0xAC, 0,   0,   2,
                                 0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
  const std::uint32_t riff = 36 + data;
  for (int i = 0; i < 4; ++i) {
    h[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
    h[40 + i] = static_cast<std::uint8_t>(data >> (8 * i));
  }
  return h;
}

struct SizeCase {
  const char* text;
  std::uint32_t data;
};

class ImageSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(ImageSizes, HeaderMatchesTheFormatAndTheDataSize) {
  const Song song = render(GetParam().text);
  ASSERT_NE(song, nullptr);
  const auto header = expected_header(GetParam().data);
  EXPECT_EQ(0, std::memcmp(song.get(), header.data(), header.size()));
  EXPECT_EQ(TUVELLO_GetSongSize(song.get()), static_cast<std::int32_t>(44 + GetParam().data));
}

INSTANTIATE_TEST_SUITE_P(Texts, ImageSizes,
                         testing::Values(SizeCase{"", 0}, SizeCase{"   ", 0},
                                         SizeCase{"len:200;vol:50;x:1", 0}, SizeCase{"c", 4410},
                                         SizeCase{"p", 4410}, SizeCase{"c;d;e", 3 * 4410},
                                         SizeCase{"len:20;c", 882}, SizeCase{"len:500;c", 22050},
                                         // Odd byte counts come down to whole frames.
                                         SizeCase{"len:30;c", 1322},
                                         SizeCase{"len:50;c;c", 2 * 2204},
                                         SizeCase{"len:25;c", 1102}, SizeCase{"len:125;c", 5512},
                                         SizeCase{"len:375;c", 16538}));

TEST(Image, NullTextIsTheEmptySong) {
  const Song song = render(nullptr);
  ASSERT_NE(song, nullptr);
  EXPECT_EQ(TUVELLO_GetSongSize(song.get()), 44);
  EXPECT_EQ(TUVELLO_GetSongLenght(song.get()), 0.0f);
  EXPECT_EQ(TUVELLO_GetSongDuration(song.get()), 0.0);
}

TEST(Image, RiffSizeIsTheImageLengthLessEight) {
  const Song song = render("c;len:30;d");
  const std::uint32_t data = data_size(song.get());
  EXPECT_EQ(u32_at(song.get(), 4), 36 + data);
  EXPECT_EQ(TUVELLO_GetSongSize(song.get()), static_cast<std::int32_t>(44 + data));
  EXPECT_EQ(data % 2, 0u);
}

TEST(Image, LengthIsDataSizeOverSampleRateWhichIsTwiceThePlayingTime) {
  const Song song = render("c");
  EXPECT_EQ(TUVELLO_GetSongLenght(song.get()), 0.2f);
  EXPECT_DOUBLE_EQ(TUVELLO_GetSongDuration(song.get()), 0.1);
  const Song longer = render("len:500;c;d;len:30;e");
  EXPECT_EQ(TUVELLO_GetSongLenght(longer.get()), static_cast<float>((22050.0 * 2 + 1322) / 22050));
  EXPECT_DOUBLE_EQ(TUVELLO_GetSongDuration(longer.get()), (22050.0 * 2 + 1322) / 44100);
}

TEST(Image, AccessorsTolerateNull) {
  EXPECT_EQ(TUVELLO_GetSongSize(nullptr), 0);
  EXPECT_EQ(TUVELLO_GetSongLenght(nullptr), 0.0f);
  EXPECT_EQ(TUVELLO_GetSongDuration(nullptr), 0.0);
  EXPECT_EQ(TUVELLO_FreeSong(nullptr), 0);
  EXPECT_EQ(TUVELLO_FreeSong(TUVELLO_CreateSong("c")), 1);
}

TEST(Image, CallersTextIsOnlyRead) {
  char text[] = " C ; len:50;D:3 ";
  const std::string before = text;
  const Song song = render(text);
  EXPECT_EQ(before, text);
}

TEST(Image, NoteBlocksLieBackToBack) {
  const Song two = render("c;d");
  const Song d = render("d");
  EXPECT_EQ(0, std::memcmp(two.get() + 44 + 4410, d.get() + 44, 4410));
}

TEST(Image, ACapBelowTheHeaderYieldsNull) {
  EXPECT_EQ(tuvello::image::create_song("", 43), nullptr);
  std::uint8_t* header_only = tuvello::image::create_song("", 44);
  ASSERT_NE(header_only, nullptr);
  TUVELLO_FreeSong(header_only);
}

TEST(Image, ASongPastTheSizeCapYieldsNull) {
  // Three default notes need 44 + 3 * 4410 bytes.
  EXPECT_EQ(tuvello::image::create_song("c;c;c", 44 + 3 * 4410 - 1), nullptr);
  std::uint8_t* fits = tuvello::image::create_song("c;c;c", 44 + 3 * 4410);
  ASSERT_NE(fits, nullptr);
  EXPECT_EQ(TUVELLO_GetSongSize(fits), 44 + 3 * 4410);
  TUVELLO_FreeSong(fits);
}

TEST(BlockAllocator, SmallAndMappedBlocksHoldEveryByteAndGoBackWhole) {
  using namespace tuvello::image;
  EXPECT_EQ(allocate_block(0), nullptr);
  EXPECT_EQ(allocate_block(-5), nullptr);
  // Below and above the size from which blocks get a mapping of their own.
  for (const std::int32_t size : {1, 4096, (4 << 20) - 16, 4 << 20, (9 << 20) + 3}) {
    std::uint8_t* block = allocate_block(size);
    ASSERT_NE(block, nullptr) << size;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u) << size;
    for (std::int32_t i = 0; i < size - 1; i += 4093) block[i] = static_cast<std::uint8_t>(i);
    block[size - 1] = 0x5A;
    for (std::int32_t i = 0; i < size - 1; i += 4093)
      ASSERT_EQ(block[i], static_cast<std::uint8_t>(i));
    EXPECT_EQ(block[size - 1], 0x5A);
    release_block(block);
  }
  release_block(nullptr);
}

}  // namespace
