// Running out of memory at any allocation yields null and leaks nothing.
#include <gtest/gtest.h>

#include "image/block_allocator.hpp"
#include "song_test_support.hpp"

using namespace tuvello_test;
namespace image = tuvello::image;

namespace {

class FailingEveryAllocation : public testing::TestWithParam<const char*> {};

TEST_P(FailingEveryAllocation, YieldsNullUntilARenderCompletes) {
  const Song reference = render(GetParam());
  ASSERT_NE(reference, nullptr);
  const auto expected = bytes_of(reference.get());
  for (long k = 1;; ++k) {
    image::fail_allocation_after(k);
    const Song song = render(GetParam());
    const long attempted = image::allocations_attempted();
    image::fail_allocation_after(0);
    if (attempted < k) {
      // No k-th allocation happened: this render had nothing to fail.
      ASSERT_NE(song, nullptr);
      EXPECT_EQ(bytes_of(song.get()), expected);
      break;
    }
    ASSERT_EQ(song, nullptr) << "allocation " << k << " failed but a song came back";
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, FailingEveryAllocation,
                         testing::Values("", "c", "len:30;c;d;e", "p;;x;pipe:1;dec:1;a;h",
                                         "len:500;c;c;c;c;c;c;c;c"));

}  // namespace
