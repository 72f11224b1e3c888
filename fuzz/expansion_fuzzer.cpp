// The placeholder expansion against a reading of its own: any text, with eight text and
// eight number arguments taken from the input.
//
// Input: the text up to the first NUL; then eight NUL-terminated argument texts (the text
// "\x01" stands for a null pointer); then eight 32-bit numbers, little-endian. What the
// input lacks is empty or 0.
//
// A va_list cannot be built at run time, so the arguments always travel in the same slots,
// text and number by turns, and the text is made to ask for exactly that: its n-th
// placeholder is given the type of slot n, and placeholders beyond the sixteenth are
// broken up. The expansion itself must then match the reading below byte for byte.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "diagnostics/expansion.h"

namespace {

constexpr int kSlots = 16;

// A text argument as a report writes it: one line, so control characters come out escaped.
std::string escaped(const char* text) {
  std::string out;
  for (; *text != '\0'; ++text) {
    const unsigned char c = static_cast<unsigned char>(*text);
    char hex[5];
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

void expandThrough(const std::string* text, std::string* line, ...) {
  va_list args;
  va_start(args, line);
  expandCatalogueText(*text, args, *line);
  va_end(args);
}

struct Input {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at = 0;

  std::string text() {
    std::string out;
    while (at < size && data[at] != 0) out += static_cast<char>(data[at++]);
    if (at < size) ++at;
    return out;
  }
  std::int32_t number() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
      value |= static_cast<std::uint32_t>(at < size ? data[at++] : 0) << (8 * i);
    return static_cast<std::int32_t>(value);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input{data, size};
  std::string text = input.text();
  std::string strings[kSlots / 2];
  const char* pointers[kSlots / 2];
  for (int i = 0; i < kSlots / 2; ++i) {
    strings[i] = input.text();
    pointers[i] = strings[i] == "\x01" ? nullptr : strings[i].c_str();
  }
  int numbers[kSlots / 2];
  for (int& number : numbers) number = input.number();

  // Fit the placeholders to the slots and expand by hand as the expansion must.
  std::string expected;
  int slot = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i + 2 < text.size() && text[i] == '$' && text[i + 1] == '$' &&
        (text[i + 2] == 's' || text[i + 2] == 'd')) {
      if (slot == kSlots) {
        text[i + 2] = 'x';  // no argument left for it: plain text from here on
      } else {
        const bool isText = slot % 2 == 0;
        text[i + 2] = isText ? 's' : 'd';
        if (isText && pointers[slot / 2] != nullptr) expected += escaped(pointers[slot / 2]);
        if (!isText) expected += std::to_string(numbers[slot / 2]);
        ++slot;
        i += 3;
        continue;
      }
    }
    expected += text[i++];
  }

  std::string line = "left over from before";
  expandThrough(&text, &line, pointers[0], numbers[0], pointers[1], numbers[1], pointers[2],
                numbers[2], pointers[3], numbers[3], pointers[4], numbers[4], pointers[5],
                numbers[5], pointers[6], numbers[6], pointers[7], numbers[7]);
  if (line != expected) std::abort();
  return 0;
}
