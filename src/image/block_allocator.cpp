#include "image/block_allocator.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(TUVELLO_FAULT_INJECTION)
#include <atomic>
#endif

namespace tuvello::image {
namespace {

constexpr std::size_t kPrefixBytes = 16;

#if defined(TUVELLO_FAULT_INJECTION)
thread_local long fail_countdown = 0;
thread_local long attempts = 0;
std::atomic<long> outstanding{0};

bool injected_failure() {
  ++attempts;
  return fail_countdown > 0 && --fail_countdown == 0;
}
void count_blocks(long change) { outstanding += change; }
#else
constexpr bool injected_failure() { return false; }
constexpr void count_blocks(long) {}
#endif

std::uint8_t* payload(void* base) { return static_cast<std::uint8_t*>(base) + kPrefixBytes; }
void* base_of(std::uint8_t* block) { return block - kPrefixBytes; }

std::int32_t recorded_size(const std::uint8_t* block) {
  std::int32_t size;
  std::memcpy(&size, block - sizeof size, sizeof size);
  return size;
}

void record_size(std::uint8_t* block, std::int32_t size) {
  std::memcpy(block - sizeof size, &size, sizeof size);
}

// The bytes actually held, in the word before the size: growth reserves
// room ahead so that a song of many notes is not moved once per note.
constexpr std::size_t kCapacityOffset = 2 * sizeof(std::int32_t);

std::int32_t capacity(const std::uint8_t* block) {
  std::int32_t bytes;
  std::memcpy(&bytes, block - kCapacityOffset, sizeof bytes);
  return bytes;
}

void record_capacity(std::uint8_t* block, std::int32_t bytes) {
  std::memcpy(block - kCapacityOffset, &bytes, sizeof bytes);
}

std::uint8_t* resize(std::uint8_t* block, std::int32_t bytes) {
  void* base = std::realloc(base_of(block), kPrefixBytes + static_cast<std::size_t>(bytes));
  if (base == nullptr) return nullptr;
  std::uint8_t* moved = payload(base);
  record_capacity(moved, bytes);
  return moved;
}

}  // namespace

std::uint8_t* allocate_block(std::int32_t size) {
  if (size <= 0 || injected_failure()) return nullptr;
  void* base = std::calloc(1, kPrefixBytes + static_cast<std::size_t>(size));
  if (base == nullptr) return nullptr;
  std::uint8_t* block = payload(base);
  record_size(block, size);
  record_capacity(block, size);
  count_blocks(1);
  return block;
}

std::uint8_t* grow_block(std::uint8_t* block, std::int32_t new_size, std::int32_t overwritten) {
  if (new_size <= 0) return nullptr;
  if (block == nullptr) return allocate_block(new_size);
  if (injected_failure()) return nullptr;
  const std::int32_t old_size = recorded_size(block);
  if (new_size > capacity(block)) {
    // Half as much again as held: growth stays linear in the song's length.
    const std::int64_t roomy = std::int64_t{capacity(block)} + capacity(block) / 2;
    const auto ahead = static_cast<std::int32_t>(std::min<std::int64_t>(roomy, INT32_MAX));
    std::uint8_t* grown = ahead > new_size ? resize(block, ahead) : nullptr;
    if (grown == nullptr) grown = resize(block, new_size);
    if (grown == nullptr) return nullptr;
    block = grown;
  }
  if (new_size > old_size) {
    const std::int32_t keep = std::min(overwritten, new_size - old_size);
    std::memset(block + old_size + keep, 0, static_cast<std::size_t>(new_size - old_size - keep));
  }
  record_size(block, new_size);
  return block;
}

std::uint8_t* fit_block(std::uint8_t* block) {
  if (block == nullptr || capacity(block) == recorded_size(block)) return block;
  if (injected_failure()) return block;
  std::uint8_t* fitted = resize(block, recorded_size(block));
  return fitted != nullptr ? fitted : block;
}

void release_block(std::uint8_t* block) {
  if (block == nullptr) return;
  std::free(base_of(block));
  count_blocks(-1);
}

#if defined(TUVELLO_FAULT_INJECTION)
void fail_allocation_after(long k) {
  fail_countdown = k;
  attempts = 0;
}

long allocations_attempted() { return attempts; }

long blocks_outstanding() { return outstanding; }
#endif

}  // namespace tuvello::image
