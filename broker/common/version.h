#ifndef BROKER_VERSION_H
#define BROKER_VERSION_H

namespace broker {

#ifdef TAPBROKER_VERSION
constexpr const char* kBrokerVersion = TAPBROKER_VERSION;
#else
constexpr const char* kBrokerVersion = "0.0.0";
#endif
constexpr const char* kProgramName = "tapbroker.exe";

}  // namespace broker

#endif  // BROKER_VERSION_H
