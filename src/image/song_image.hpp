// The song image: a RIFF/WAVE file in one block, header first, then the note
// blocks back to back in text order.
#pragma once

#include <cstdint>

namespace tuvello::image {

// Header layout (little-endian fields).
inline constexpr std::int32_t kHeaderBytes = 44;
inline constexpr std::int32_t kRiffSizeOffset = 4;
inline constexpr std::int32_t kChannelsOffset = 22;
inline constexpr std::int32_t kSampleRateOffset = 24;
inline constexpr std::int32_t kByteRateOffset = 28;
inline constexpr std::int32_t kDataSizeOffset = 40;

// What every image declares: 16-bit PCM, one channel, 22050 frames a second.
inline constexpr std::uint16_t kChannels = 1;
inline constexpr std::uint32_t kSampleRate = 22050;
inline constexpr std::uint16_t kBitsPerSample = 16;
// What the header's byte rate works out to, for sizing notes without an image.
inline constexpr std::uint32_t kByteRate = kChannels * kBitsPerSample / 8 * kSampleRate;

// RIFF size counts the bytes after its own field: the whole image less 8.
inline constexpr std::int32_t kRiffSizeBias = 8;

// Images stay addressable with a signed 32-bit size.
inline constexpr std::int64_t kMaxImageBytes = INT32_MAX;

// Owns a song image while it is being built; releases it unless handed out.
class SongImage {
 public:
  // A 44-byte image holding the header with empty data; check ok().
  // `max_bytes` caps the image's length; growth beyond it fails like an
  // allocation would.
  explicit SongImage(std::int64_t max_bytes = kMaxImageBytes);
  ~SongImage();
  SongImage(const SongImage&) = delete;
  SongImage& operator=(const SongImage&) = delete;

  bool ok() const { return bytes_ != nullptr; }

  // Grows the data chunk by `block_bytes` zero bytes and adds them to both
  // size fields. Returns the new note block's first byte, or null when memory
  // runs out or the cap is passed; the image is then released (ok() turns
  // false). The first `overwritten` bytes of the block are not zeroed: the
  // caller writes them at once.
  std::uint8_t* append_block(std::int32_t block_bytes, std::int32_t overwritten = 0);

  std::uint32_t sample_rate() const;
  std::uint32_t byte_rate() const;
  std::uint16_t channels() const;

  // Hands the image to the caller, exactly as long as it is; this object no
  // longer owns it.
  std::uint8_t* release_to_caller();

 private:
  std::uint8_t* bytes_;
  std::int64_t max_bytes_;
};

// Readers of a finished image, all tolerant of null.
std::uint32_t data_size(const std::uint8_t* song);
std::int32_t whole_size(const std::uint8_t* song);

}  // namespace tuvello::image
