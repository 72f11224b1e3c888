// The memory that all conversations together may hold for the data of their transfers. A
// transfer's header says how much it will need; the share is claimed then, so that a
// transfer that does not fit is refused before any of its data travels, but the memory
// itself is taken only as the data arrives.
#ifndef BROKER_MEMORY_BUDGET_H
#define BROKER_MEMORY_BUDGET_H

#include <cstddef>

namespace broker {

class MemoryBudget {
 public:
  explicit MemoryBudget(std::size_t bytes) : limit_(bytes) {}

  std::size_t limit() const { return limit_; }
  // Grows a holder's `share` to `wanted` bytes; false, with nothing changed, when that
  // would take the budget past its limit.
  bool grow(std::size_t& share, std::size_t wanted) {
    if (wanted <= share) return true;
    if (held_ > limit_ || wanted - share > limit_ - held_) return false;
    held_ += wanted - share;
    share = wanted;
    return true;
  }
  // Sets a holder's `share` to what it holds now, whatever the limit.
  void settle(std::size_t& share, std::size_t holding) {
    held_ = held_ - share + holding;
    share = holding;
  }

 private:
  std::size_t limit_;
  std::size_t held_ = 0;
};

}  // namespace broker

#endif  // BROKER_MEMORY_BUDGET_H
