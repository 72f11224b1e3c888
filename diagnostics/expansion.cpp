#include "diagnostics/expansion.h"

#include <charconv>

void expandCatalogueText(const std::string& text, va_list args, std::string& line) {
  line.clear();
  const std::size_t length = text.size();
  std::size_t i = 0;
  while (i < length) {
    if (i + 2 < length && text[i] == '$' && text[i + 1] == '$') {
      if (text[i + 2] == 's') {
        const char* value = va_arg(args, const char*);
        if (value != nullptr) line += value;
        i += 3;
        continue;
      }
      if (text[i + 2] == 'd') {
        // Room for "-2147483648" and more: to_chars writes no NUL and cannot overrun.
        char digits[16];
        auto written = std::to_chars(digits, digits + sizeof digits, va_arg(args, int));
        line.append(digits, written.ptr);
        i += 3;
        continue;
      }
    }
    line += text[i++];
  }
}
