// How long the broker waits for a client that has begun something.
#ifndef BROKER_TIMEOUTS_H
#define BROKER_TIMEOUTS_H

namespace broker {

struct Timeouts {
  int transferMs = 30000;  // waiting for the rest of something begun, or for a send to go
};

}  // namespace broker

#endif  // BROKER_TIMEOUTS_H
