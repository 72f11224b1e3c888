#include "tests/fault/conversation.h"

namespace fault {

Conversation& Conversation::sends(const std::string& bytes, const std::string& failId) {
  Step step;
  step.clientSends = true;
  step.bytes = bytes;
  step.failId = failId;
  steps_.push_back(step);
  return *this;
}

Conversation& Conversation::receives(const std::string& answer, int capacity, bool checksPlus,
                                     const std::string& failId) {
  Step step;
  step.bytes = answer;
  step.capacity = capacity;
  step.checksPlus = checksPlus;
  step.failId = failId;
  steps_.push_back(step);
  return *this;
}

Conversation& Conversation::onNewConnection() {
  steps_.back().newConnection = true;
  return *this;
}
Conversation& Conversation::clearingTdo() {
  steps_.back().clearsTdo = true;
  return *this;
}
Conversation& Conversation::appending(int mode) {
  steps_.back().appends = mode;
  return *this;
}
Conversation& Conversation::endingHere() {
  steps_.back().onSuccess = kEnd;
  return *this;
}

void Conversation::failuresFrom(int from, int target) {
  for (int i = from; i < size(); ++i) steps_[static_cast<std::size_t>(i)].onFailure = target;
}

void Conversation::append(const Conversation& other) {
  const int offset = size();
  for (Step step : other.steps_) {
    if (step.onSuccess >= 0) step.onSuccess += offset;
    if (step.onFailure >= 0) step.onFailure += offset;
    steps_.push_back(step);
  }
}

const char* nameOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::Closed:
      return "closed";
    case FailureKind::Reset:
      return "reset";
    case FailureKind::WrongFirstByte:
      return "wrong first byte";
    case FailureKind::EmptyText:
      return "empty text";
    case FailureKind::Short:
      return "short";
    case FailureKind::Full:
      return "full without NUL";
  }
  return "?";
}

std::optional<std::string> failedAnswer(FailureKind kind, const Step& step) {
  const std::string& correct = step.bytes;
  std::string answer;
  switch (kind) {
    case FailureKind::Closed:
    case FailureKind::Reset:
      return std::nullopt;
    case FailureKind::WrongFirstByte:
      if (correct.empty() || correct[0] != '+') return std::nullopt;
      answer = correct;
      answer[0] = '-';
      break;
    case FailureKind::EmptyText:
      answer = std::string(1, '\0');
      break;
    case FailureKind::Short:
      if (correct.size() < 2) return std::nullopt;
      answer = correct.substr(0, (correct.size() + 1) / 2);
      break;
    case FailureKind::Full:
      // As much as one receive takes, and not one NUL in it.
      answer = correct.substr(0, static_cast<std::size_t>(step.capacity));
      for (char& c : answer)
        if (c == '\0') c = 'Z';
      answer.resize(static_cast<std::size_t>(step.capacity), 'Z');
      break;
  }
  if (answer == correct) return std::nullopt;
  return answer;
}

std::vector<int> successPath(const std::vector<Step>& steps) {
  std::vector<int> path;
  for (int i = 0; i != kEnd && i < static_cast<int>(steps.size());) {
    path.push_back(i);
    const int next = steps[static_cast<std::size_t>(i)].onSuccess;
    i = next == kNext ? i + 1 : next;
  }
  return path;
}

Outcome simulate(const std::vector<Step>& steps, std::optional<Injection> injection) {
  // The client's connection as the broker left it. After an orderly close the client's
  // first send still succeeds (it draws a reset); everything after that fails.
  enum { Open, Closed, Reset } connection = Open;
  bool sentSinceClose = false;
  Outcome out;
  for (int i = 0; i != kEnd && i < static_cast<int>(steps.size());) {
    const Step& step = steps[static_cast<std::size_t>(i)];
    if (step.newConnection) {
      connection = Open;
      sentSinceClose = false;
    }
    if (step.clearsTdo) out.tdo.clear();
    const bool injectHere = injection && injection->step == i;
    Visit visit;
    visit.step = i;
    bool succeeded = false;
    if (step.clientSends) {
      if (injectHere) {
        visit.action = injection->kind == FailureKind::Reset ? Visit::Reset : Visit::Close;
        connection = injection->kind == FailureKind::Reset ? Reset : Closed;
        sentSinceClose = false;
      }
      if (connection == Open) {
        succeeded = true;
      } else if (connection == Closed && !sentSinceClose) {
        succeeded = true;
        sentSinceClose = true;
      }
      visit.callSucceeds = succeeded;
    } else if (connection != Open) {
      visit.callSucceeds = false;
    } else {
      std::string answer = step.bytes;
      if (injectHere && injection->kind == FailureKind::Closed) {
        visit.action = Visit::Close;
        connection = Closed;
        sentSinceClose = false;
        visit.callSucceeds = false;
      } else if (injectHere && injection->kind == FailureKind::Reset) {
        visit.action = Visit::Reset;
        connection = Reset;
        visit.callSucceeds = false;
      } else {
        if (injectHere) {
          answer = *failedAnswer(injection->kind, step);
          visit.action = Visit::AnswerThenClose;
          connection = Closed;
          sentSinceClose = false;
        } else {
          visit.action = Visit::Answer;
        }
        visit.answer = answer;
        succeeded = step.checksPlus ? answer[0] == '+' : true;
        if (succeeded) {
          out.lastAnswer = answer;
          if (step.appends == kAppendAll) {
            out.tdo += answer;
          } else if (step.appends > 0) {
            std::string fixed = answer;
            fixed.resize(static_cast<std::size_t>(step.appends), '\0');
            out.tdo += fixed;
          }
        }
      }
    }
    out.path.push_back(visit);
    if (succeeded) {
      i = step.onSuccess == kNext ? i + 1 : step.onSuccess;
    } else {
      out.failed = true;
      out.code = step.clientSends ? -1001 : -1002;
      if (!step.failId.empty()) out.failIds.push_back(step.failId);
      i = step.onFailure;
    }
  }
  out.socketReset = connection == Reset || (connection == Closed && sentSinceClose);
  return out;
}

}  // namespace fault
