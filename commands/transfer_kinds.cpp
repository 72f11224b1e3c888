// Every transfer kind's argument check and run, side by side. The checks read the
// arguments from a copy, before anything of the command goes out, so that a refused
// command leaves the conversation in step.
#include <climits>

#include "commands/transfer_kind.h"
#include "protocol/argument_cursor.h"
#include "protocol/token_runs.h"
#include "protocol/wire.h"
#include "scan/blocks.h"
#include "scan/scan_runs.h"

namespace tapbroker::commands {

namespace {

using protocol::shapes::Command;
using protocol::shapes::Function;
using protocol::shapes::Transfer;

constexpr const char* kLongString = "a string argument of 1024 bytes or more";
constexpr const char* kTooManyValues = "more than 10 values for command 4";
constexpr const char* kNegativeLength = "a bit count below -14 (a negative byte count)";
constexpr const char* kMissingData = "no data for a transfer that sends bytes";
constexpr const char* kTooManyPairs = "more string pairs than an int can count";
constexpr const char* kLongApplicationList = "an application list longer than 1024 bytes";

// Checks the leading arguments laid out as `layout` says, one letter each: i an int, s a
// string that must fit a token, b a bit count that must give a byte count of 0 or more,
// d data that must be there when that byte count is above 0. What follows is not read.
const char* layoutRefused(const char* layout, protocol::ArgumentCursor& args) {
  int byteCount = 0;
  bool dataMissing = false;
  for (const char* at = layout; *at != '\0'; ++at) {
    switch (*at) {
      case 'i':
        args.nextInt();
        break;
      case 's':
        if (!protocol::fitsToken(args.nextString())) return kLongString;
        break;
      case 'b':
        byteCount = scan::bytesForBits(args.nextInt());
        if (byteCount < 0) return kNegativeLength;
        break;
      default:  // 'd'
        dataMissing = args.nextData() == nullptr;
        break;
    }
  }
  return dataMissing && byteCount > 0 ? kMissingData : nullptr;
}

template <const char* layout>
const char* refusedBy(const Command&, protocol::ArgumentCursor& args) {
  return layoutRefused(layout, args);
}

const char* nothingRefused(const Command&, protocol::ArgumentCursor&) { return nullptr; }

const char* stringsRefused(const Command& command, protocol::ArgumentCursor& args) {
  for (int i = 0; i < command.count; ++i)
    if (!protocol::fitsToken(args.nextString())) return kLongString;
  return nullptr;
}

const char* command4Refused(const Command&, protocol::ArgumentCursor& args) {
  if (const char* refused = layoutRefused("ss", args)) return refused;
  return args.nextInt() > protocol::shapes::kCommand4Values ? kTooManyValues : nullptr;
}

const char* sharedAppsRefused(const Command&, protocol::ArgumentCursor& args) {
  char block[protocol::kBufferSize];
  return scan::packApplicationList(args, block) ? nullptr : kLongApplicationList;
}

const char* interfaceFunctionRefused(const Command&, protocol::ArgumentCursor& args) {
  const protocol::shapes::InterfaceFunction function =
      protocol::shapes::interfaceFunction(args.nextInt());
  switch (function.shape) {
    case Function::Strings:
      for (int i = 0; i < function.count; ++i)
        if (!protocol::fitsToken(args.nextString())) return kLongString;
      return nullptr;
    case Function::IntStringInt:
      return layoutRefused("is", args);
    case Function::CountedStringPairs: {
      const int pairs = args.nextInt();
      if (pairs > INT_MAX / 2) return kTooManyPairs;
      for (long long i = 0; i < 2LL * pairs; ++i)
        if (!protocol::fitsToken(args.nextString())) return kLongString;
      return nullptr;
    }
    case Function::JtagShift:
      return layoutRefused("ib", args);  // the shift checks its data and buffers itself
    default:
      return nullptr;
  }
}

constexpr char kPairs[] = "isisisis";
// The generic shift checks its data itself (kNoShiftData).
constexpr char kGenericShift[] = "ib";
constexpr char kPumpData[] = "db";
constexpr char kI2CShift[] = "iibd";
constexpr char kSSPIShift[] = "ibd";

// In the order of protocol::shapes::Transfer.
using protocol::kIntTokens, protocol::kStringTokens, protocol::kStringTokensAnyAck,
    protocol::kPairTokens, protocol::runTokens, protocol::runClearFlags;
// clang-format off
constexpr TransferKind kKinds[] = {
    {nothingRefused,            protocol::runNothing},
    {nothingRefused,            runTokens<kIntTokens>},
    {stringsRefused,            runTokens<kStringTokens>},
    {stringsRefused,            runTokens<kStringTokensAnyAck>},
    {refusedBy<kPairs>,         runTokens<kPairTokens>},
    {command4Refused,           protocol::runCommand4},
    {nothingRefused,            protocol::runQueryFlagB},
    {nothingRefused,            runClearFlags<true, false>},
    {nothingRefused,            runClearFlags<false, true>},
    {nothingRefused,            runClearFlags<true, true>},
    {nothingRefused,            protocol::runUnlisted},
    {refusedBy<kGenericShift>,  scan::runGenericShift},
    {sharedAppsRefused,         scan::runSharedApps},
    {refusedBy<kPumpData>,      scan::runPumpData},
    {interfaceFunctionRefused,  scan::runInterfaceFunction},
    {refusedBy<kI2CShift>,      scan::runI2CShift},
    {refusedBy<kSSPIShift>,     scan::runSSPIShift},
};
// clang-format on
static_assert(sizeof kKinds / sizeof kKinds[0] == static_cast<int>(Transfer::SSPIShift) + 1);

}  // namespace

const TransferKind& transferKind(Transfer transfer) {
  return kKinds[static_cast<int>(transfer)];
}

}  // namespace tapbroker::commands
