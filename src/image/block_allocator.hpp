// The memory behind song images: zero-filled blocks that remember their size.
//
// A block records its requested size in the 32-bit word just before the
// address handed out, so growth knows which bytes are new and must be zeroed.
// The word sits at the end of a 16-byte prefix so that the address handed out
// keeps malloc's alignment; the word before it holds the bytes reserved for
// growth.
#pragma once

#include <cstdint>

namespace tuvello::image {

// A block of `size` zero bytes, or null when size <= 0 or memory runs out.
std::uint8_t* allocate_block(std::int32_t size);

// Resizes `block` to `new_size` bytes: old bytes kept, new bytes zero, the
// block may move. A null block is allocated afresh. Returns null when
// new_size <= 0 or memory runs out; the old block is then left intact.
// The first `overwritten` new bytes are left as they come, for a caller that
// writes them at once.
std::uint8_t* grow_block(std::uint8_t* block, std::int32_t new_size, std::int32_t overwritten = 0);

// Gives back the room that growth keeps ahead of a block's size; the block
// may move. Never fails: without memory to move it, the block stays as it is.
std::uint8_t* fit_block(std::uint8_t* block);

// Releases a block; null is ignored.
void release_block(std::uint8_t* block);

#if defined(TUVELLO_FAULT_INJECTION)
// Test builds only: make the k-th allocation, growth or fitting from now on
// fail (k = 1 fails the next one; 0 disarms), on the calling thread.
void fail_allocation_after(long k);
// Allocations, growths and fittings attempted on the calling thread since the
// last fail_allocation_after call.
long allocations_attempted();
// Blocks allocated and not yet released, over all threads: a count that
// proves nothing leaked without a leak checker.
long blocks_outstanding();
#endif

}  // namespace tuvello::image
