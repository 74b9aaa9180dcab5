// Blocks a stand-in has freed (CF objects, handles, pointers, events), kept from the heap for a
// while so that no new block takes an address that a stale reference may still name: such a
// reference is then known as freed, and the call given it can say so. The oldest go back to
// the heap once more than `maxBlocks` blocks or `maxBytes` bytes are kept; a block larger than
// `maxBytes` goes back at once. Should there be no memory to note a block, it goes back at
// once too (its reuse undetected, never a leak). Not thread-safe: callers hold their lock.
//
// Make one with new and never destroy it, so that what it keeps stays reachable at exit.
#pragma once
#include <cstddef>
#include <deque>
#include <unordered_set>
#include <utility>

namespace standins {

class FreedBlocks {
 public:
  using GiveBack = void (*)(void* block);
  FreedBlocks(size_t maxBlocks, size_t maxBytes, GiveBack giveBack)
      : maxBlocks_(maxBlocks), maxBytes_(maxBytes), giveBack_(giveBack) {}

  void Keep(void* block, size_t bytes = 0) {
    if (bytes > maxBytes_) return giveBack_(block);
    try {
      addresses_.insert(block);
      try {
        fifo_.emplace_back(block, bytes);
      } catch (...) {
        addresses_.erase(block);
        throw;
      }
    } catch (...) {
      giveBack_(block);
      return;
    }
    bytes_ += bytes;
    while (fifo_.size() > maxBlocks_ || bytes_ > maxBytes_) {
      const auto oldest = fifo_.front();
      fifo_.pop_front();
      addresses_.erase(oldest.first);
      bytes_ -= oldest.second;
      giveBack_(oldest.first);
    }
  }

  bool Holds(const void* address) const { return addresses_.count(address) != 0; }

 private:
  const size_t maxBlocks_;
  const size_t maxBytes_;
  const GiveBack giveBack_;
  std::deque<std::pair<void*, size_t>> fifo_;
  std::unordered_set<const void*> addresses_;
  size_t bytes_ = 0;
};

}  // namespace standins
