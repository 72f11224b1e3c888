// Whether a broker process already runs on this machine, told by the name of the
// executable it was started from.
#ifndef CONNECTION_BROKER_SEARCH_H
#define CONNECTION_BROKER_SEARCH_H

class CallContext;

namespace tapbroker::connection {

// The file name a running broker is recognised by (exact, case-sensitive).
inline constexpr const char* kBrokerExecutable = "tapbroker.exe";

// Tests every running process and reports each one named kBrokerExecutable through
// `context`. True when at least one matched, and also when the list of processes cannot
// be had: starting a second broker beside one that may run would do more harm than
// trying to connect once more.
bool brokerIsRunning(CallContext& context);

}  // namespace tapbroker::connection

#endif  // CONNECTION_BROKER_SEARCH_H
