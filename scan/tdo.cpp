// Handing the read-back bytes of the last shift to the caller.
#include <algorithm>
#include <cstring>
#include <string>

#include "results/codes.h"
#include "scan/blocks.h"
#include "tapbroker_client.h"

namespace {

using tapbroker::results::kNoDestination;
using tapbroker::results::kNothingHeld;
// What the reference overload points at when nothing is held: never written, never freed.
const unsigned char kEmptyTdo[1] = {0};

// Copies the bytes that `bitCount` asks for, but never past what is held: a longer request
// leaves the rest of the destination as it was. Then forgets what was held.
int handOver(std::string& held, void* destination, int bitCount) {
  // The placeholder is what a caller kept from a GetTDO that had nothing to give.
  if (destination == nullptr || destination == kEmptyTdo) return kNoDestination;
  const int wanted = tapbroker::scan::bytesForBits(bitCount);
  if (wanted > 0)
    std::memcpy(destination, held.data(),
                std::min(static_cast<std::size_t>(wanted), held.size()));
  held.clear();
  return 0;
}

}  // namespace

int Client::GetTDO(unsigned char*& tdo, int bitCount) {
  const char* name = clientName.c_str();
  PrintMessage("1104", name);
  if (tdoData.empty()) {
    PrintMessage("1105", name);
    tdo = const_cast<unsigned char*>(kEmptyTdo);
    return kNothingHeld;
  }
  return handOver(tdoData, tdo, bitCount);
}

int Client::GetTDO(char* tdo, int bitCount) {
  const char* name = clientName.c_str();
  PrintMessage("1104", name);
  if (tdoData.empty()) {
    PrintMessage("1105", name);
    return kNothingHeld;
  }
  return handOver(tdoData, tdo, bitCount);
}
