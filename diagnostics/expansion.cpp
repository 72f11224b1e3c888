#include "diagnostics/expansion.h"

#include "msgcore/placeholders.h"

void expandCatalogueText(const std::string& text, va_list args, std::string& line) {
  line.clear();
  tapbroker::msgcore::expandPlaceholders(text, args, line);
}
