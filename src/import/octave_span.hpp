// SPDX-License-Identifier: MIT
// Which whole-octave shift keeps an imported tune's melody. A song text plays
// four octaves exactly; a tune written elsewhere may sit above or below them.
// Moving every note by the same whole octaves keeps the melody, where moving
// only the notes out of reach collapses it. Importers count the octaves of a
// tune's notes in a first pass and ask for the shift before writing.
#pragma once

#include <cstdint>

namespace tuvello::import {

class OctaveSpan {
 public:
  // One sounding note in `octave` (pauses have none).
  void add(std::int32_t octave) {
    if (count_ == 0 || octave < lowest_) lowest_ = octave;
    if (count_ == 0 || octave > highest_) highest_ = octave;
    ++count_;
    if (octave >= kFirstCounted && octave <= kLastCounted) ++counts_[octave - kFirstCounted];
  }

  bool empty() const { return count_ == 0; }
  std::int32_t lowest() const { return lowest_; }
  std::int32_t highest() const { return highest_; }

  // The whole octaves to add to every note so that as many notes as possible
  // lie in [low, high], by as few octaves as that allows (downward on a tie).
  // A tune spanning at most high - low + 1 octaves then fits whole; 0 when it
  // already does or has no notes.
  std::int32_t best_shift(std::int32_t low, std::int32_t high) const {
    if (count_ == 0) return 0;
    if (highest_ - lowest_ <= high - low) {
      if (lowest_ < low) return low - lowest_;
      if (highest_ > high) return high - highest_;
      return 0;
    }
    // Wider than the range: the window holding the most notes. Octaves far
    // outside kFirstCounted..kLastCounted never fit in any window that
    // matters and are moved singly.
    std::int32_t best = 0;
    std::int64_t kept = kept_by(0, low, high);
    for (std::int32_t shift = low - kLastCounted; shift <= high - kFirstCounted; ++shift) {
      const std::int64_t k = kept_by(shift, low, high);
      const std::int32_t size = shift < 0 ? -shift : shift;
      const std::int32_t best_size = best < 0 ? -best : best;
      if (k > kept || (k == kept && (size < best_size || (size == best_size && shift < best)))) {
        best = shift;
        kept = k;
      }
    }
    return best;
  }

 private:
  // Wide enough for any MIDI note (octaves -1 to 9) and any RTTTL player.
  static constexpr std::int32_t kFirstCounted = -2;
  static constexpr std::int32_t kLastCounted = 13;

  std::int64_t kept_by(std::int32_t shift, std::int32_t low, std::int32_t high) const {
    std::int64_t k = 0;
    for (std::int32_t o = low - shift; o <= high - shift; ++o) {
      if (o >= kFirstCounted && o <= kLastCounted) k += counts_[o - kFirstCounted];
    }
    return k;
  }

  std::int64_t counts_[kLastCounted - kFirstCounted + 1] = {};
  std::int64_t count_ = 0;
  std::int32_t lowest_ = 0;
  std::int32_t highest_ = 0;
};

}  // namespace tuvello::import
