#include "scan/application_list.h"

#include <cstring>

#include "scan/argument_cursor.h"

namespace scan {

bool packApplicationList(va_list args, char (&block)[kApplicationBlockSize]) {
  std::memset(block, 0, sizeof block);
  ArgumentCursor list(args);
  const int count = list.nextInt();
  std::size_t used = 0;
  for (int i = 0; i < count; ++i) {
    const char* name = list.nextString();
    std::size_t length = name ? strnlen(name, kMaxApplicationName) : 0;
    if (used + length + 1 > sizeof block) return false;
    std::memcpy(block + used, name ? name : "", length);
    used += length;
    block[used++] = ';';
  }
  return true;
}

}  // namespace scan
