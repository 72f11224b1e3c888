// The broker's side of a conversation, played step by step from inside the client's own
// socket calls (see socket_hooks.h): it listens on the broker's port, accepts where a
// step opens a connection, checks every byte the client sends, answers just before each
// receive, and fails where the simulated outcome says, closing the connection after its
// failure so that no client receive can wait for ever.
#ifndef TESTS_FAULT_FAULT_BROKER_H
#define TESTS_FAULT_FAULT_BROKER_H

#include <set>
#include <string>
#include <vector>

#include "tests/fault/conversation.h"
#include "tests/fault/socket_hooks.h"

namespace fault {

class FaultBroker : public SocketHooks {
 public:
  // Binds the broker's port, retrying while another test still holds it.
  FaultBroker();
  ~FaultBroker() override;
  FaultBroker(const FaultBroker&) = delete;
  FaultBroker& operator=(const FaultBroker&) = delete;

  // Plays `outcome.path` over `steps` from the next client call on.
  void play(const std::vector<Step>& steps, const Outcome& outcome);
  // Ends the play: closes the broker's connection and every client socket seen. Returns
  // an empty text when the client made exactly the calls expected, else what differed.
  std::string finish();

  void beforeSend(int fd) override;
  void afterSend(int fd, const void* data, ssize_t result) override;
  void beforeRecv(int fd) override;
  void afterRecv(int fd, ssize_t result) override;
  void beforeShutdown(int fd) override;

 private:
  const Visit* expect(bool clientSends);
  void mismatch(const std::string& what);
  void closeConnection(bool abortive);
  bool acceptConnection();
  // Waits until the client's socket shows the reset that the next call must meet.
  void awaitReset(int fd);

  int listener_ = -1;
  int connection_ = -1;
  const std::vector<Step>* steps_ = nullptr;
  const Outcome* outcome_ = nullptr;
  std::size_t next_ = 0;
  std::string mismatch_;
  std::set<int> clientSockets_;
};

}  // namespace fault

#endif  // TESTS_FAULT_FAULT_BROKER_H
