// The placeholders of a catalogue text: "$$s" takes the next argument as a const char*
// (a null one reads as empty; its controls, C0, DEL, C1, U+2028 and U+2029, and every byte
// outside well-formed UTF-8 written as \n, \r, \t or \xNN per byte, so that one report
// stays one line), "$$d" the next as an int, in decimal. Every other character, stray
// dollar signs included, stands for itself. One reading of them serves the message library
// and the lines the client library writes to its log file.
#ifndef MSGCORE_PLACEHOLDERS_H
#define MSGCORE_PLACEHOLDERS_H

#include <cstdarg>
#include <string>
#include <string_view>

namespace tapbroker::msgcore {

// Hands each run of plain text of `text` to `onText` and the letter of each placeholder
// ('s' or 'd') to `onPlaceholder`, in order.
template <typename OnText, typename OnPlaceholder>
void scanPlaceholders(std::string_view text, OnText onText, OnPlaceholder onPlaceholder) {
  std::size_t plain = 0;
  for (std::size_t i = 0; i + 2 < text.size();) {
    if (text[i] == '$' && text[i + 1] == '$' && (text[i + 2] == 's' || text[i + 2] == 'd')) {
      onText(text.substr(plain, i - plain));
      onPlaceholder(text[i + 2]);
      i += 3;
      plain = i;
    } else {
      ++i;
    }
  }
  onText(text.substr(plain));
}

// Appends `text` to `out` with each placeholder replaced by the next argument of `args`,
// which must hold one of the right type for every placeholder; it is consumed.
void expandPlaceholders(std::string_view text, va_list args, std::string& out);

}  // namespace tapbroker::msgcore

#endif  // MSGCORE_PLACEHOLDERS_H
