// What a command leaves for the client to ask for: its integer result, answered to the
// first request token after it, and for some commands a text or a ";"-separated list,
// answered to the requests after that.
#ifndef BROKER_OUTCOME_H
#define BROKER_OUTCOME_H

#include <string>
#include <vector>

namespace broker {

// An answer must fit the client's 1024-byte receive with its NUL.
constexpr std::size_t kMaxAnswerText = 1023;

struct Outcome {
  int result = 0;
  bool hasDetail = false;
  std::string detail;

  static Outcome of(int result) { return {result, false, {}}; }
  static Outcome withText(int result, std::string text);
  // Items that would not fit whole are left out, so that no item arrives cut.
  static Outcome withList(int result, const std::vector<std::string>& items);
};

// The arguments of a command or an interface function, in the order they arrived.
struct Arguments {
  std::vector<int> ints;
  std::vector<std::string> strings;
  std::vector<double> reals;

  int intAt(std::size_t index) const { return index < ints.size() ? ints[index] : 0; }
  const std::string& stringAt(std::size_t index) const {
    static const std::string kEmpty;
    return index < strings.size() ? strings[index] : kEmpty;
  }
  double realAt(std::size_t index) const { return index < reals.size() ? reals[index] : 0.0; }
};

}  // namespace broker

#endif  // BROKER_OUTCOME_H
