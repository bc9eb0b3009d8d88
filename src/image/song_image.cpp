#include "image/song_image.hpp"

#include <cstring>

#include "image/block_allocator.hpp"
#include "image/little_endian.hpp"

namespace tuvello::image {
namespace {

void write_header(std::uint8_t* h) {
  std::memcpy(h + 0, "RIFF", 4);
  store_u32(h + kRiffSizeOffset, kHeaderBytes - kRiffSizeBias);
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
  store_u32(h + kDataSizeOffset, 0);
}

}  // namespace

SongImage::SongImage(std::int64_t max_bytes)
    : bytes_(allocate_block(kHeaderBytes)), max_bytes_(max_bytes) {
  if (bytes_ != nullptr) write_header(bytes_);
}

SongImage::~SongImage() { release_block(bytes_); }

std::uint8_t* SongImage::append_block(std::int32_t block_bytes, std::int32_t overwritten) {
  const std::uint32_t old_data = load_u32(bytes_ + kDataSizeOffset);
  const std::int64_t new_length = std::int64_t{kHeaderBytes} + old_data + block_bytes;
  std::uint8_t* grown = nullptr;
  if (new_length <= max_bytes_ && new_length <= kMaxImageBytes) {
    grown = grow_block(bytes_, static_cast<std::int32_t>(new_length), overwritten);
  }
  if (grown == nullptr) {
    release_block(bytes_);
    bytes_ = nullptr;
    return nullptr;
  }
  bytes_ = grown;
  const auto new_data = static_cast<std::uint32_t>(new_length - kHeaderBytes);
  store_u32(bytes_ + kDataSizeOffset, new_data);
  store_u32(bytes_ + kRiffSizeOffset, static_cast<std::uint32_t>(new_length - kRiffSizeBias));
  return bytes_ + kHeaderBytes + old_data;
}

std::uint32_t SongImage::sample_rate() const { return load_u32(bytes_ + kSampleRateOffset); }
std::uint32_t SongImage::byte_rate() const { return load_u32(bytes_ + kByteRateOffset); }
std::uint16_t SongImage::channels() const { return load_u16(bytes_ + kChannelsOffset); }

std::uint8_t* SongImage::release_to_caller() {
  std::uint8_t* out = fit_block(bytes_);
  bytes_ = nullptr;
  return out;
}

std::uint32_t data_size(const std::uint8_t* song) {
  return song == nullptr ? 0 : load_u32(song + kDataSizeOffset);
}

std::int32_t whole_size(const std::uint8_t* song) {
  if (song == nullptr) return 0;
  return static_cast<std::int32_t>(load_u32(song + kRiffSizeOffset) + kRiffSizeBias);
}

}  // namespace tuvello::image
