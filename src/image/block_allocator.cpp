#include "image/block_allocator.hpp"

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

}  // namespace

std::uint8_t* allocate_block(std::int32_t size) {
  if (size <= 0 || injected_failure()) return nullptr;
  void* base = std::calloc(1, kPrefixBytes + static_cast<std::size_t>(size));
  if (base == nullptr) return nullptr;
  std::uint8_t* block = payload(base);
  record_size(block, size);
  count_blocks(1);
  return block;
}

std::uint8_t* grow_block(std::uint8_t* block, std::int32_t new_size) {
  if (new_size <= 0) return nullptr;
  if (block == nullptr) return allocate_block(new_size);
  if (injected_failure()) return nullptr;
  const std::int32_t old_size = recorded_size(block);
  void* base = std::realloc(base_of(block), kPrefixBytes + static_cast<std::size_t>(new_size));
  if (base == nullptr) return nullptr;
  std::uint8_t* grown = payload(base);
  if (new_size > old_size) {
    std::memset(grown + old_size, 0, static_cast<std::size_t>(new_size - old_size));
  }
  record_size(grown, new_size);
  return grown;
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
