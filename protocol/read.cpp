// The four ways of taking the broker's answer: send the request token, take one receive
// of at most 1024 bytes, hand the text over as an integer, a text or a list.
#include <cstring>

#include "protocol/answer_list.h"
#include "protocol/command_in_progress.h"
#include "protocol/wire.h"
#include "results/codes.h"
#include "tapbroker_client.h"

namespace {

// Start, request sent, send failed, receive failed, answer received.
const char* const kIntIds[5] = {"1096", "1019", "1018", "1020", "1021"};
const char* const kTextIds[5] = {"1094", "1015", "1014", "1016", "1017"};
const char* const kReturnedTextIds[5] = {"1095", "1015", "1014", "1016", "1017"};
const char* const kListIds[5] = {"1097", "1023", "1022", "1024", "1025"};

// The text a text read hands out lives in the client's serverName, which no operation sets
// and Connect ignores: it belongs to the client, is left alone by copies and assignment,
// and keeps its capacity from one read to the next.
char* keepText(std::string& kept, const char* answer) {
  kept.assign(answer);
  return kept.data();
}

}  // namespace

int Client::readAnswer(const char* const ids[5], char (&answer)[1025]) {
  // One byte beyond what a receive may fill: an answer that takes all 1024 bytes without
  // a NUL of its own still ends in one.
  static_assert(sizeof answer == tapbroker::protocol::kBufferSize + 1);
  std::memset(answer, 0, sizeof answer);
  const char* name = clientName.c_str();
  PrintMessage(ids[0], name);
  if (!tapbroker::protocol::sendRequestToken(socket)) {
    PrintMessage(ids[2], name, name);
    tapbroker::protocol::reportTimeout(*this, name, socket);
    status = tapbroker::results::kSendFailed;
    return tapbroker::results::kSendFailed;
  }
  PrintMessage(ids[1], name, answer);
  int received = tapbroker::protocol::receiveLoose(socket, answer);
  if (received == 0) {
    PrintMessage(ids[3], name, name);
    tapbroker::protocol::reportTimeout(*this, name, socket);
    status = tapbroker::results::kReceiveFailed;
    return tapbroker::results::kReceiveFailed;
  }
  PrintMessage(ids[4], name, answer);
  return received;
}

int Client::Read(int& value) {
  char answer[tapbroker::protocol::kBufferSize + 1];
  int received = readAnswer(kIntIds, answer);
  if (received < 0) return received;
  value = tapbroker::protocol::leadingInt(answer, received);
  return 0;
}

int Client::Read(char*& text) {
  char answer[tapbroker::protocol::kBufferSize + 1];
  int received = readAnswer(kTextIds, answer);
  if (received < 0) return received;
  text = keepText(serverName, answer);
  return 0;
}

const char* Client::Read() {
  char answer[tapbroker::protocol::kBufferSize + 1];
  if (readAnswer(kReturnedTextIds, answer) < 0) return "";
  return keepText(serverName, answer);
}

int Client::Read(std::vector<std::string>& items) {
  char answer[tapbroker::protocol::kBufferSize + 1];
  int received = readAnswer(kListIds, answer);
  if (received < 0) return received;
  tapbroker::protocol::appendListItems(answer, items);
  return 0;
}
