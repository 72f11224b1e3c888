// The result codes the public header lists, under one name each.
#ifndef RESULTS_CODES_H
#define RESULTS_CODES_H

namespace tapbroker::results {

constexpr int kSendFailed = -1001;
constexpr int kReceiveFailed = -1002;
constexpr int kSocketsFailed = -1003;
constexpr int kNoSocket = -1004;
constexpr int kUnreachable = -1005;
constexpr int kCloseRefused = -1008;
constexpr int kShutdownFailed = -1009;
constexpr int kNoLogPath = -1016;
constexpr int kNoSecondLogPath = -1017;
constexpr int kNoShiftData = -1020;
constexpr int kNoBuffer = -1021;
constexpr int kNothingHeld = -1022;
constexpr int kNoDestination = -1023;
constexpr int kNotInstalled = -1024;
constexpr int kArgumentRefused = -1025;

}  // namespace tapbroker::results

#endif  // RESULTS_CODES_H
