#include "broker/serving/fault_plan.h"

#include <charconv>
#include <sstream>

#include "broker/common/input_file.h"
#include "common/printable.h"
#include "broker/serving/protocol_table.h"

namespace broker {
namespace {

struct KindRow {
  const char* name;
  FaultKind kind;
  bool takesValue;
  int low, high;  // the value's range
};

constexpr KindRow kKinds[] = {
    {"close-before", FaultKind::CloseBefore, false, 0, 0},
    {"close-after", FaultKind::CloseAfter, false, 0, 0},
    {"refuse", FaultKind::Refuse, false, 0, 0},
    {"delay", FaultKind::Delay, true, 0, 600000},
    {"flip", FaultKind::Flip, true, 0, 8 * 1024 * 1024 - 1},
    {"answer", FaultKind::Answer, true, -2147483647 - 1, 2147483647},
};

bool number(std::string_view text, int& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

bool strictTokenFollows(const CommandRow& row) {
  switch (row.shape) {
    case Shape::Strings:
    case Shape::Ints:
    case Shape::Pairs:
    case Shape::GenericShift:
    case Shape::PumpData:
    case Shape::Interface:
    case Shape::I2c:
    case Shape::Sspi:
      return true;
    default:
      return false;
  }
}

bool readsBack(const CommandRow& row, int function) {
  switch (row.shape) {
    case Shape::GenericShift:
    case Shape::PumpData:
      return true;
    case Shape::Interface:
      return function == -1 || function == 12;
    case Shape::I2c:
    case Shape::Sspi:
      return row.phases[static_cast<std::size_t>(row.phaseCount - 1)].read;
    default:
      return false;
  }
}

// The client reads the flag that ends commands 4 and 33 with one receive of at most two
// bytes: a single digit and its NUL. Anything longer would leave bytes in the stream that
// later commands take for their own answers.
bool answersAFlag(const CommandRow* row) {
  return row && (row->shape == Shape::CableOpen || row->shape == Shape::SessionFlag);
}
constexpr int kHighestFlagAnswer = 9;

// What is wrong with `fault`, or an empty text.
std::string check(const Fault& fault) {
  const CommandRow* row = findCommand(fault.command);
  if (fault.kind == FaultKind::Answer && answersAFlag(row) &&
      (fault.value < 0 || fault.value > kHighestFlagAnswer))
    return "command " + std::to_string(fault.command) +
           " answers a flag that the client reads in two bytes, a digit and its NUL: "
           "\"answer\" takes 0 to 9 there";
  if (fault.function != -1 && (!row || row->shape != Shape::Interface))
    return "only command 44 has interface functions";
  if (fault.function != -1 && !findFunction(fault.function))
    return "interface function " + std::to_string(fault.function) + " carries nothing";
  if (fault.kind == FaultKind::Refuse && (!row || !strictTokenFollows(*row)))
    return "command " + std::to_string(fault.command) + " has no strict token to refuse";
  if (fault.kind == FaultKind::Flip && (!row || !readsBack(*row, fault.function)))
    return "command " + std::to_string(fault.command) + " reads nothing back";
  if (fault.command == kWithheldCommand) return "command 8888 has no answer of its own";
  return {};
}

// One line's fault; false with `error` set.
bool parseLine(const std::string& line, Fault& fault, std::string& error) {
  std::istringstream words(line);
  std::string target, occurrence, kind, value, extra;
  words >> target >> occurrence >> kind >> value >> extra;
  if (kind.empty()) {
    error = "needs a target, an occurrence and a fault";
    return false;
  }
  const auto slash = target.find('/');
  if (!number(std::string_view(target).substr(0, slash), fault.command) ||
      (slash != std::string::npos &&
       !number(std::string_view(target).substr(slash + 1), fault.function))) {
    error = "the target \"" + printable::escaped(target) +
            "\" is not a command number or 44/function";
    return false;
  }
  if (occurrence != "every" && (!number(occurrence, fault.occurrence) || fault.occurrence < 1)) {
    error = "the occurrence \"" + printable::escaped(occurrence) +
            "\" is not a number from 1 or \"every\"";
    return false;
  }
  const KindRow* row = nullptr;
  for (const KindRow& candidate : kKinds) {
    if (kind == candidate.name) row = &candidate;
  }
  if (!row) {
    error = "unknown fault \"" + printable::escaped(kind) +
            "\" (close-before, close-after, refuse, delay, flip or answer)";
    return false;
  }
  fault.kind = row->kind;
  if (!extra.empty() || (!row->takesValue && !value.empty())) {
    error = "too many words for \"" + kind + "\"";
    return false;
  }
  if (row->takesValue &&
      (!number(value, fault.value) || fault.value < row->low || fault.value > row->high)) {
    error = "\"" + kind + "\" takes a number from " + std::to_string(row->low) + " to " +
            std::to_string(row->high);
    return false;
  }
  error = check(fault);
  // The words alone, one space apart: the transcript names the fault without the plan's
  // padding.
  fault.action = kind + (value.empty() ? "" : " " + value);
  return error.empty();
}

}  // namespace

bool FaultPlan::parse(std::string_view text, FaultPlan& plan, std::string& error) {
  std::istringstream lines{std::string(text)};
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    line = line.substr(0, line.find('#'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (line.back() == '\r') line.pop_back();
    Fault fault;
    if (!parseLine(line, fault, error)) {
      error = "line " + std::to_string(number) + ": " + error;
      return false;
    }
    plan.faults_.push_back(std::move(fault));
  }
  return true;
}

bool FaultPlan::load(const std::string& path, FaultPlan& plan, std::string& error) {
  std::string text;
  if (!readInputFile(path, text, error)) {
    error = printable::escaped(path) + ": " + error;
    return false;
  }
  if (!parse(text, plan, error)) {
    error = printable::escaped(path) + ", " + error;
    return false;
  }
  return true;
}

std::vector<const Fault*> FaultPlan::matching(int command, int function,
                                              int occurrence) const {
  std::vector<const Fault*> found;
  for (const Fault& fault : faults_) {
    if (fault.command == command && fault.function == function &&
        (fault.occurrence == 0 || fault.occurrence == occurrence)) {
      found.push_back(&fault);
    }
  }
  return found;
}

}  // namespace broker
