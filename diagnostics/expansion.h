// Expansion of a catalogue text into the line that a report writes to the log file.
#ifndef DIAGNOSTICS_EXPANSION_H
#define DIAGNOSTICS_EXPANSION_H

#include <cstdarg>
#include <string>

// Replaces `line` with `text`, in which each "$$s" takes the next argument as a
// const char* (a null one reads as empty) and each "$$d" the next as an int, written in
// decimal with a leading "-" when negative. Every other character, stray dollar signs
// included, is copied unchanged; arguments beyond the placeholders are not read.
// `args` must hold one argument of the right type for every placeholder, as the catalogue
// promises for each report; it is consumed: pass a copy when the list is needed again.
namespace tapbroker::diagnostics {

void expandCatalogueText(const std::string& text, va_list args, std::string& line);

}  // namespace tapbroker::diagnostics

#endif  // DIAGNOSTICS_EXPANSION_H
