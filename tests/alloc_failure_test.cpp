// Running out of memory at any allocation yields null and leaks nothing.
#include <gtest/gtest.h>

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

struct WalkCase {
  std::string text;
  long growth_points;  // the header's allocation, then one growth per note or pause
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << '"' << c.text.substr(0, 40) << '"'; }

class FailingEveryAllocation : public testing::TestWithParam<WalkCase> {};

// Failing the header's allocation or any growth yields null. Growth may keep
// room ahead, which the finished image gives back; when that last fitting
// fails, the image is handed out as it is, whole and correct.
TEST_P(FailingEveryAllocation, YieldsNullAndLeaksNothingUntilARenderCompletes) {
  const char* text = GetParam().text.c_str();
  const Song reference = render(text);
  ASSERT_NE(reference, nullptr);
  const auto expected = bytes_of(reference.get());
  const long blocks_before = image::blocks_outstanding();

  long null_results = 0;
  long images_despite_failure = 0;
  for (long k = 1;; ++k) {
    image::fail_allocation_after(k);
    std::uint8_t* song = TUVELLO_CreateSong(text);
    const long attempted = image::allocations_attempted();
    image::fail_allocation_after(0);
    if (song != nullptr) {
      EXPECT_EQ(bytes_of(song), expected) << "allocation " << k << " failed";
      TUVELLO_FreeSong(song);
    }
    if (attempted < k) {
      // No k-th allocation happened: this render had nothing to fail.
      ASSERT_NE(song, nullptr);
      break;
    }
    if (song == nullptr) {
      ASSERT_EQ(images_despite_failure, 0) << "allocation " << k << " failed after the fitting";
      ++null_results;
    } else {
      ASSERT_EQ(attempted, k) << "only the last step, the fitting, may fail harmlessly";
      ++images_despite_failure;
    }
    ASSERT_EQ(image::blocks_outstanding(), blocks_before) << "allocation " << k << " failed";
    ASSERT_FALSE(leak_checker_finds_leaks()) << "allocation " << k << " failed";
  }
  EXPECT_EQ(null_results, GetParam().growth_points) << "allocation points that must fail";
  EXPECT_LE(images_despite_failure, 1);
}

std::string repeated(const std::string& command, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += command;
  return out;
}

INSTANTIATE_TEST_SUITE_P(Texts, FailingEveryAllocation,
                         testing::Values(WalkCase{"", 1},
                                         WalkCase{"len:200;vol:50;oct:3;pipe:1;dec:1;x:9", 1},
                                         WalkCase{"c", 2}, WalkCase{"len:30;c;d;e", 4},
                                         WalkCase{"p;;x;pipe:1;dec:1;a;h", 4},
                                         WalkCase{" C ; len:25;D:3;;len:125;E;vol:5;p ", 5},
                                         WalkCase{"len:500;c;c;c;c;c;c;c;c", 9},
                                         WalkCase{"len:20;" + repeated("c;d;p;", 20), 61}));

}  // namespace
