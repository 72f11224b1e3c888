#include "diagnostics/expansion.h"

#include "msgcore/placeholders.h"

namespace tapbroker::diagnostics {

void expandCatalogueText(const std::string& text, va_list args, std::string& line) {
  line.clear();
  msgcore::expandPlaceholders(text, args, line);
}

}  // namespace tapbroker::diagnostics
