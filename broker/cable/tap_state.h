// The test access port controller of IEEE 1149.1: sixteen states, stepped by TMS on each
// rising edge of TCK. Every device on a chain sees the same TMS, so they move together.
#ifndef BROKER_TAP_STATE_H
#define BROKER_TAP_STATE_H

#include <vector>

namespace broker {

// The numbers are the state codes that commands and interface functions exchange.
enum class TapState {
  TestLogicReset = 0,
  RunTestIdle,
  SelectDrScan,
  CaptureDr,
  ShiftDr,
  Exit1Dr,
  PauseDr,
  Exit2Dr,
  UpdateDr,
  SelectIrScan,
  CaptureIr,
  ShiftIr,
  Exit1Ir,
  PauseIr,
  Exit2Ir,
  UpdateIr,
};
constexpr int kTapStateCount = 16;

TapState nextTapState(TapState state, bool tms);
const char* tapStateName(TapState state);
// The state with code `code`; false when no state has it.
bool tapStateFromCode(int code, TapState& state);
// The TMS values that lead from `from` to `to` in the fewest clocks (empty when equal).
std::vector<bool> tmsPath(TapState from, TapState to);

}  // namespace broker

#endif  // BROKER_TAP_STATE_H
