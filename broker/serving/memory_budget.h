// The memory that all conversations together may hold for the data of their transfers. A
// transfer's header says how much it will need; the share is claimed then, so that a
// transfer that does not fit is refused before any of its data travels, but the memory
// itself is taken only as the data arrives. The share goes back when the command ends:
// between commands a conversation holds none (it keeps no more than small buffers).
//
// A budget that is full when a header comes first takes back the share of a conversation
// whose command has made no progress for a while (its owner closes that conversation), so
// that clients which send a header and stall cannot keep every transfer out.
#ifndef BROKER_MEMORY_BUDGET_H
#define BROKER_MEMORY_BUDGET_H

#include <cstddef>
#include <functional>

namespace broker {

class MemoryBudget {
 public:
  // Closes a conversation that makes no progress and settles its share to nothing; false
  // when there is no such conversation holding a share.
  using Reclaim = std::function<bool()>;

  explicit MemoryBudget(std::size_t bytes, Reclaim reclaim = {})
      : limit_(bytes), reclaim_(std::move(reclaim)) {}

  std::size_t limit() const { return limit_; }
  // Grows a holder's `share` to `wanted` bytes, taking back stalled conversations' shares
  // if need be; false, with nothing changed, when that would still take the budget past
  // its limit.
  bool grow(std::size_t& share, std::size_t wanted) {
    if (wanted <= share) return true;
    if (wanted - share > limit_) return false;  // more than the whole budget
    while (held_ > limit_ || wanted - share > limit_ - held_) {
      if (!reclaim_ || !reclaim_()) return false;
    }
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
  Reclaim reclaim_;
  std::size_t held_ = 0;
};

}  // namespace broker

#endif  // BROKER_MEMORY_BUDGET_H
