#include "protocol/answer_texts.h"

#include <mutex>
#include <string>
#include <unordered_map>

namespace tapbroker::answer_texts {
namespace {

// Clients on different threads read at the same time: the table is shared by them all.
struct Table {
  std::mutex mutex;
  std::unordered_map<const Client*, std::string> texts;
};

Table& table() {
  static Table* shared = new Table;  // never destroyed: a Client may outlive static teardown
  return *shared;
}

}  // namespace

char* keep(const Client* client, const char* answer) {
  Table& shared = table();
  std::lock_guard<std::mutex> lock(shared.mutex);
  std::string& text = shared.texts[client];
  text.assign(answer);  // keeps its capacity from one read to the next
  return text.data();
}

void forget(const Client* client) {
  Table& shared = table();
  std::lock_guard<std::mutex> lock(shared.mutex);
  shared.texts.erase(client);
}

}  // namespace tapbroker::answer_texts
