// The shared-application list of command 41: names packed one after another into one
// zero-filled 1024-byte block, each cut to 100 characters and followed by ";".
#ifndef SCAN_APPLICATION_LIST_H
#define SCAN_APPLICATION_LIST_H

#include <cstdarg>

namespace scan {

constexpr int kApplicationBlockSize = 1024;
constexpr int kMaxApplicationName = 100;

// Reads the count and the names from a copy of `args` and packs them into `block`
// (zero-filled first). A count of 0 or less gives an all-zero block; a null name counts as
// an empty one. Returns false, with `block` holding only the names that fitted, when the
// packed text would not fit the block.
bool packApplicationList(va_list args, char (&block)[kApplicationBlockSize]);

}  // namespace scan

#endif  // SCAN_APPLICATION_LIST_H
