#include "broker/cable/tap_state.h"

#include <array>
#include <deque>

namespace broker {
namespace {

struct StateRow {
  const char* name;
  TapState onTms0;
  TapState onTms1;
};

using S = TapState;
constexpr std::array<StateRow, kTapStateCount> kStates{{
    {"Test-Logic-Reset", S::RunTestIdle, S::TestLogicReset},
    {"Run-Test/Idle", S::RunTestIdle, S::SelectDrScan},
    {"Select-DR-Scan", S::CaptureDr, S::SelectIrScan},
    {"Capture-DR", S::ShiftDr, S::Exit1Dr},
    {"Shift-DR", S::ShiftDr, S::Exit1Dr},
    {"Exit1-DR", S::PauseDr, S::UpdateDr},
    {"Pause-DR", S::PauseDr, S::Exit2Dr},
    {"Exit2-DR", S::ShiftDr, S::UpdateDr},
    {"Update-DR", S::RunTestIdle, S::SelectDrScan},
    {"Select-IR-Scan", S::CaptureIr, S::TestLogicReset},
    {"Capture-IR", S::ShiftIr, S::Exit1Ir},
    {"Shift-IR", S::ShiftIr, S::Exit1Ir},
    {"Exit1-IR", S::PauseIr, S::UpdateIr},
    {"Pause-IR", S::PauseIr, S::Exit2Ir},
    {"Exit2-IR", S::ShiftIr, S::UpdateIr},
    {"Update-IR", S::RunTestIdle, S::SelectDrScan},
}};

const StateRow& row(TapState state) { return kStates[static_cast<int>(state)]; }

}  // namespace

TapState nextTapState(TapState state, bool tms) {
  return tms ? row(state).onTms1 : row(state).onTms0;
}

const char* tapStateName(TapState state) { return row(state).name; }

bool tapStateFromCode(int code, TapState& state) {
  if (code < 0 || code >= kTapStateCount) return false;
  state = static_cast<TapState>(code);
  return true;
}

std::vector<bool> tmsPath(TapState from, TapState to) {
  // Breadth-first over the sixteen states: the first time `to` is reached is the shortest.
  struct Step {
    int previous = -1;
    bool tms = false;
    bool seen = false;
  };
  std::array<Step, kTapStateCount> steps{};
  std::deque<TapState> queue{from};
  steps[static_cast<int>(from)].seen = true;
  while (!queue.empty() && !steps[static_cast<int>(to)].seen) {
    TapState state = queue.front();
    queue.pop_front();
    for (bool tms : {false, true}) {
      TapState next = nextTapState(state, tms);
      Step& step = steps[static_cast<int>(next)];
      if (step.seen) continue;
      step = {static_cast<int>(state), tms, true};
      queue.push_back(next);
    }
  }
  std::vector<bool> path;
  for (int at = static_cast<int>(to); at != static_cast<int>(from); at = steps[at].previous) {
    path.insert(path.begin(), steps[at].tms);
  }
  return path;
}

}  // namespace broker
