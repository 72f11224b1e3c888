// Helpers of the reporting tests: a catalogue whose texts name their own identifier.
#ifndef TESTS_UNIT_DIAG_SUPPORT_H
#define TESTS_UNIT_DIAG_SUPPORT_H

#include "tests/support/scratch.h"

namespace diag_test {

// A catalogue whose texts name their own identifier, so that a log shows which reports
// were made, in order; 7001 and 7002 exercise the expansion.
inline const char* const kEchoCatalogue =
    "# texts for tests\n"
    "1029\t1029 $$s\n1032\t1032 $$s\n1033\t1033 $$s\n1035\t1035 $$s\n1036\t1036 $$s\n"
    "1087\t1087 $$s\n1088\t1088 $$s\n1099\t1099 $$s\n1100\t1100 $$s\n1101\t1101 $$s\n"
    "7001\t$$s: $$d bytes\n7002\tplain text\n";

struct CatalogueOverride : ::CatalogueOverride {
  explicit CatalogueOverride(const std::string& texts = kEchoCatalogue)
      : ::CatalogueOverride(texts) {}
};
using ScratchDirectory = ::TempDir;
using ::readLines;

}  // namespace diag_test

#endif  // TESTS_UNIT_DIAG_SUPPORT_H
