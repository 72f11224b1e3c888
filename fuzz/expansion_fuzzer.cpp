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

// The well-formed UTF-8 sequences of two bytes or more, as ranges of each byte.
struct Sequence {
  int length;
  unsigned char low[4], high[4];
};
constexpr Sequence kWellFormed[] = {
    {2, {0xC2, 0x80}, {0xDF, 0xBF}},
    {3, {0xE0, 0xA0, 0x80}, {0xE0, 0xBF, 0xBF}},
    {3, {0xE1, 0x80, 0x80}, {0xEC, 0xBF, 0xBF}},
    {3, {0xED, 0x80, 0x80}, {0xED, 0x9F, 0xBF}},
    {3, {0xEE, 0x80, 0x80}, {0xEF, 0xBF, 0xBF}},
    {4, {0xF0, 0x90, 0x80, 0x80}, {0xF0, 0xBF, 0xBF, 0xBF}},
    {4, {0xF1, 0x80, 0x80, 0x80}, {0xF3, 0xBF, 0xBF, 0xBF}},
    {4, {0xF4, 0x80, 0x80, 0x80}, {0xF4, 0x8F, 0xBF, 0xBF}},
};

// How many bytes of `text` (NUL-terminated) form the well-formed sequence at its start; 0
// when none does.
int wellFormedLength(const unsigned char* text) {
  for (const Sequence& sequence : kWellFormed) {
    int i = 0;
    while (i < sequence.length && text[i] >= sequence.low[i] && text[i] <= sequence.high[i])
      ++i;
    if (i == sequence.length) return i;
  }
  return 0;
}

// A text argument as a report writes it: one line that drives no terminal, so the
// controls (C0, DEL, the C1 controls as C2 80-9F, the separators E2 80 A8/A9) and the bytes
// outside well-formed UTF-8 come out escaped byte by byte.
std::string escaped(const char* text) {
  std::string out;
  const auto hex = [&out](unsigned char c) {
    char digits[5];
    std::snprintf(digits, sizeof digits, "\\x%02X", c);
    out += digits;
  };
  for (auto at = reinterpret_cast<const unsigned char*>(text); *at != 0;) {
    const unsigned char c = *at;
    if (c == '\n' || c == '\r' || c == '\t') {
      out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : "\\t";
      ++at;
    } else if (c < 0x20 || c == 0x7F) {
      hex(*at++);
    } else if (c < 0x80) {
      out += static_cast<char>(*at++);
    } else {
      const int length = wellFormedLength(at);
      const bool control =
          (length == 2 && at[0] == 0xC2 && at[1] <= 0x9F) ||
          (length == 3 && at[0] == 0xE2 && at[1] == 0x80 && (at[2] == 0xA8 || at[2] == 0xA9));
      if (length == 0 || control) {
        for (int i = 0; i < (length == 0 ? 1 : length); ++i) hex(*at++);
      } else {
        out.append(reinterpret_cast<const char*>(at), length);
        at += length;
      }
    }
  }
  return out;
}

void expandThrough(const std::string* text, std::string* line, ...) {
  va_list args;
  va_start(args, line);
  tapbroker::diagnostics::expandCatalogueText(*text, args, *line);
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
