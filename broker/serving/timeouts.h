// How long the broker waits for a client that has begun something.
#ifndef BROKER_TIMEOUTS_H
#define BROKER_TIMEOUTS_H

namespace broker {

struct Timeouts {
  int transferMs = 30000;  // waiting for the rest of something begun, or for a send to go
  // A command, from the first wait for its bytes to its end: a client that trickles
  // bytes never lets the transfer timeout run out, so the whole command has a limit too.
  int commandMs = 60000;
  // A command that has completed no token or block for this long makes no progress: at
  // the connection limit it may make room for a newcomer, as an idle connection does.
  int progressMs = 2000;
};

}  // namespace broker

#endif  // BROKER_TIMEOUTS_H
