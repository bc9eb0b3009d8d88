// SPDX-License-Identifier: MIT
#include "image/song_image.hpp"

#include <cstring>

#include "base/little_endian.hpp"

namespace tuvello::image {

using base::load_u16;
using base::load_u32;
using base::store_u16;
using base::store_u32;

void write_header(std::uint8_t* h, std::uint32_t data_bytes) {
  std::memcpy(h + 0, "RIFF", 4);
  store_u32(h + kRiffSizeOffset, kHeaderBytes - kRiffSizeBias + data_bytes);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  store_u32(h + 16, 16);  // format chunk size
  store_u16(h + 20, 1);   // PCM
  store_u16(h + kChannelsOffset, kChannels);
  store_u32(h + kSampleRateOffset, kSampleRate);
  // Byte rate and block align follow from the fields just written.
  const auto channels = static_cast<std::int16_t>(load_u16(h + kChannelsOffset));
  const std::uint32_t rate = load_u32(h + kSampleRateOffset);
  store_u32(h + kByteRateOffset, static_cast<std::uint32_t>(channels * kBitsPerSample / 8) * rate);
  store_u16(h + 32, static_cast<std::uint16_t>(channels * 2));
  store_u16(h + 34, kBitsPerSample);
  std::memcpy(h + 36, "data", 4);
  store_u32(h + kDataSizeOffset, data_bytes);
}

std::uint32_t data_size(const std::uint8_t* song) {
  return song == nullptr ? 0 : load_u32(song + kDataSizeOffset);
}

std::int32_t whole_size(const std::uint8_t* song) {
  if (song == nullptr) return 0;
  return static_cast<std::int32_t>(load_u32(song + kRiffSizeOffset) + kRiffSizeBias);
}

}  // namespace tuvello::image
