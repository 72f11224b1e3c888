// A reading position in Send's argument list, which moves forward as a transfer reads.
// What must read the same arguments again (an argument check before the run, the second
// pass of commands 47 and 51) reads from a copy of its own.
#ifndef PROTOCOL_ARGUMENT_CURSOR_H
#define PROTOCOL_ARGUMENT_CURSOR_H

#include <cstdarg>

namespace tapbroker::protocol {

class ArgumentCursor {
 public:
  explicit ArgumentCursor(va_list args) { va_copy(list_, args); }
  ~ArgumentCursor() { va_end(list_); }
  ArgumentCursor(const ArgumentCursor&) = delete;
  ArgumentCursor& operator=(const ArgumentCursor&) = delete;

  int nextInt() { return va_arg(list_, int); }
  const char* nextString() { return va_arg(list_, const char*); }
  const unsigned char* nextData() { return va_arg(list_, const unsigned char*); }

  // A second position that starts where this one stands and moves on its own.
  ArgumentCursor copy() { return ArgumentCursor(list_); }

 private:
  va_list list_;
};

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_ARGUMENT_CURSOR_H
