#include "scan/scan_limits.h"

#include <climits>

#include "protocol/wire.h"
#include "scan/application_list.h"
#include "scan/argument_cursor.h"
#include "scan/interface_shapes.h"
#include "scan/scan_blocks.h"

namespace scan {
namespace {

constexpr const char* kNegativeLength = "a bit count below -14 (a negative byte count)";
constexpr const char* kMissingData = "no data for a transfer that sends bytes";
constexpr const char* kLongString = "a string argument of 1024 bytes or more";
constexpr const char* kTooManyPairs = "more string pairs than an int can count";
constexpr const char* kLongApplicationList = "an application list longer than 1024 bytes";

const char* stringsRefused(ArgumentCursor& list, long long count) {
  for (long long i = 0; i < count; ++i)
    if (!wire::fitsToken(list.nextString())) return kLongString;
  return nullptr;
}

// The serial and pump transfers copy `bitCount` worth of bytes out of their data, which
// the shifts (unlike these) do not check for null themselves.
const char* dataRefused(int bitCount, const unsigned char* data) {
  int byteCount = bytesForBits(bitCount);
  if (byteCount < 0) return kNegativeLength;
  if (byteCount > 0 && data == nullptr) return kMissingData;
  return nullptr;
}

const char* interfaceFunctionRefused(ArgumentCursor& list) {
  InterfaceFunction function = interfaceFunction(list.nextInt());
  switch (function.shape) {
    case InterfaceShape::Strings:
      return stringsRefused(list, function.count);
    case InterfaceShape::IntStringInt:
      list.nextInt();
      return stringsRefused(list, 1);
    case InterfaceShape::CountedStringPairs: {
      int pairs = list.nextInt();
      if (pairs > INT_MAX / 2) return kTooManyPairs;
      return stringsRefused(list, pairs > 0 ? 2LL * pairs : 0);
    }
    case InterfaceShape::JtagShift:
      list.nextInt();  // shiftControl
      return bytesForBits(list.nextInt()) < 0 ? kNegativeLength : nullptr;
    default:
      return nullptr;
  }
}

}  // namespace
}  // namespace scan

const char* scanArgumentRefused(int command, va_list args) {
  using namespace scan;
  ArgumentCursor list(args);
  switch (command) {
    case 19: {  // shiftControl, bitCount, ...
      list.nextInt();
      return bytesForBits(list.nextInt()) < 0 ? kNegativeLength : nullptr;
    }
    case 41: {
      char block[kApplicationBlockSize];
      return packApplicationList(list.position(), block) ? nullptr : kLongApplicationList;
    }
    case 42: {  // shiftData, bitCount, ...
      const unsigned char* data = list.nextData();
      return dataRefused(list.nextInt(), data);
    }
    case 44:
      return interfaceFunctionRefused(list);
    case 46:
    case 47:
    case 48: {  // leading word, header byte, bitCount, shiftData, trailing word
      list.nextInt();
      list.nextInt();
      int bitCount = list.nextInt();
      return dataRefused(bitCount, list.nextData());
    }
    case 50:
    case 51:
    case 52: {  // leading word, bitCount, shiftData, trailing word
      list.nextInt();
      int bitCount = list.nextInt();
      return dataRefused(bitCount, list.nextData());
    }
    default:
      return nullptr;
  }
}
