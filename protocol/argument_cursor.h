// A private reading position in Send's argument list. The transfers never move their
// caller's position: commands 47 and 51 hand the same position to two passes, which must
// both read the same arguments.
#ifndef PROTOCOL_ARGUMENT_CURSOR_H
#define PROTOCOL_ARGUMENT_CURSOR_H

#include <cstdarg>

namespace wire {

class ArgumentCursor {
 public:
  explicit ArgumentCursor(va_list args) { va_copy(list_, args); }
  ~ArgumentCursor() { va_end(list_); }
  ArgumentCursor(const ArgumentCursor&) = delete;
  ArgumentCursor& operator=(const ArgumentCursor&) = delete;

  int nextInt() { return va_arg(list_, int); }
  const char* nextString() { return va_arg(list_, const char*); }
  const unsigned char* nextData() { return va_arg(list_, const unsigned char*); }

  // The current position, to hand to a transfer that reads from its own copy of it.
  va_list& position() { return list_; }

 private:
  va_list list_;
};

}  // namespace wire

#endif  // PROTOCOL_ARGUMENT_CURSOR_H
