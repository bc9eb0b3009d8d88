// SPDX-License-Identifier: MIT
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

// Images stay addressable with a signed 32-bit size: the one limit on a
// song's length.
inline constexpr std::int64_t kMaxImageBytes = INT32_MAX;

// Writes the 44-byte header of an image whose data chunk holds `data_bytes`.
void write_header(std::uint8_t* header, std::uint32_t data_bytes);

// Readers of a finished image, all tolerant of null.
std::uint32_t data_size(const std::uint8_t* song);
std::int32_t whole_size(const std::uint8_t* song);

}  // namespace tuvello::image
