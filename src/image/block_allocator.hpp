// SPDX-License-Identifier: MIT
// The memory behind song images and readers: blocks that know how they were
// obtained.
//
// A block records its size in the 32-bit word just before the address handed
// out, and in the 64-bit word at the start of its 16-byte prefix the length of
// its own mapping (0 when it came from malloc), so release knows how to give
// it back. The prefix keeps malloc's 16-byte alignment for the address handed
// out.
#pragma once

#include <cstdint>

namespace tuvello::image {

// A block of `size` bytes, their contents unspecified: a song image is written
// whole, every byte once. Large blocks are mapped on their own and asked to
// use huge pages, which makes faulting them in several times cheaper. Null
// when size <= 0 or memory runs out.
std::uint8_t* allocate_block(std::int32_t size);

// Releases a block; null is ignored.
void release_block(std::uint8_t* block);

#if defined(TUVELLO_FAULT_INJECTION)
// Test builds only: make the k-th allocation from now on fail (k = 1 fails
// the next one; 0 disarms), on the calling thread.
void fail_allocation_after(long k);
// Allocations attempted on the calling thread since the last
// fail_allocation_after call.
long allocations_attempted();
// Blocks allocated and not yet released, over all threads: a count that
// proves nothing leaked without a leak checker.
long blocks_outstanding();
#endif

}  // namespace tuvello::image
