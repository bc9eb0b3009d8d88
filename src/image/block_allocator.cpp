// SPDX-License-Identifier: MIT
#include "image/block_allocator.hpp"

#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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
std::uint8_t* base_of(std::uint8_t* block) { return block - kPrefixBytes; }

void record(std::uint8_t* block, std::uint64_t mapped, std::int32_t size) {
  std::memcpy(base_of(block), &mapped, sizeof mapped);
  std::memcpy(block - sizeof size, &size, sizeof size);
}

std::uint64_t mapped_length(std::uint8_t* block) {
  std::uint64_t mapped;
  std::memcpy(&mapped, base_of(block), sizeof mapped);
  return mapped;
}

#if defined(__linux__) && defined(MADV_HUGEPAGE)
// Blocks from 4 MiB on get a mapping of their own that starts on a 2 MiB
// huge page; it ends on the last 4 KiB page the block needs, so the part past
// the last whole huge page takes small pages and nothing beyond the block is
// ever faulted in.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kSmallPage = 4096;
constexpr std::size_t kMapFrom = std::size_t{4} << 20;

void* map_huge(std::size_t bytes, std::size_t* mapped) {
  const std::size_t length = (bytes + kSmallPage - 1) / kSmallPage * kSmallPage;
  // Map one huge page more, then cut the mapping down to an aligned one.
  void* raw =
      mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(raw, aligned - start);
  const std::size_t after = start + length + kHugePage - (aligned + length);
  if (after > 0) munmap(reinterpret_cast<void*>(aligned + length), after);
  void* base = reinterpret_cast<void*>(aligned);
  madvise(base, length, MADV_HUGEPAGE);  // advice only: without it, plain pages serve
  *mapped = length;
  return base;
}
#else
constexpr std::size_t kMapFrom = SIZE_MAX;
void* map_huge(std::size_t, std::size_t*) { return nullptr; }
#endif

}  // namespace

std::uint8_t* allocate_block(std::int32_t size) {
  if (size <= 0 || injected_failure()) return nullptr;
  const std::size_t bytes = kPrefixBytes + static_cast<std::size_t>(size);
  std::size_t mapped = 0;
  void* base = bytes >= kMapFrom ? map_huge(bytes, &mapped) : nullptr;
  if (base == nullptr) base = std::malloc(bytes);
  if (base == nullptr) return nullptr;
  std::uint8_t* block = payload(base);
  record(block, mapped, size);
  count_blocks(1);
  return block;
}

void release_block(std::uint8_t* block) {
  if (block == nullptr) return;
  const std::uint64_t mapped = mapped_length(block);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (mapped > 0) {
    munmap(base_of(block), mapped);
    count_blocks(-1);
    return;
  }
#endif
  (void)mapped;
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
