// SPDX-License-Identifier: MIT
// Calls share no state: threads rendering at once get the serial images.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "song_test_support.hpp"

using namespace tuvello_test;

TEST(Concurrency, ThreadsRenderingAtOnceGetTheSerialImages) {
  const std::vector<std::string> texts = {
      "len:200;vol:80;c;e;g;p;c", "pipe:1;oct:3;a;h;b",  "dec:1;len:500;cs;ds",
      "len:30;fs;gs;len:31;f",    "vol:5;dec:1;oct:8;h", " C ; D ;; E:9 ; len : 70 ; g"};
  std::vector<std::vector<std::uint8_t>> serial;
  for (const auto& t : texts) serial.push_back(bytes_of(render(t.c_str()).get()));

  constexpr int kRounds = 4;
  std::vector<int> mismatches(texts.size() * 2, 0);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < mismatches.size(); ++i) {
    threads.emplace_back([&, i] {
      const std::size_t t = i % texts.size();
      for (int r = 0; r < kRounds; ++r) {
        const Song song = render(texts[t].c_str());
        mismatches[i] += song == nullptr || bytes_of(song.get()) != serial[t];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (std::size_t i = 0; i < mismatches.size(); ++i) EXPECT_EQ(mismatches[i], 0) << "thread " << i;
}
