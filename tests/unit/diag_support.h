// Helpers of the reporting tests: a scratch directory, a catalogue installed for the
// duration of a test, and reading back a log file.
#ifndef TESTS_UNIT_DIAG_SUPPORT_H
#define TESTS_UNIT_DIAG_SUPPORT_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "msgcore/msgcore_internal.h"

namespace diag_test {

// A directory of its own, removed with its content.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tapbroker-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A catalogue whose texts name their own identifier, so that a log shows which reports
// were made, in order; 7001 and 7002 exercise the expansion.
inline const char* const kEchoCatalogue =
    "# texts for tests\n"
    "1029\t1029 $$s\n1032\t1032 $$s\n1033\t1033 $$s\n1035\t1035 $$s\n1036\t1036 $$s\n"
    "1087\t1087 $$s\n1088\t1088 $$s\n1099\t1099 $$s\n1100\t1100 $$s\n1101\t1101 $$s\n"
    "7001\t$$s: $$d bytes\n7002\tplain text\n";

// Serves `texts` as the catalogue of tapbrokerclient while it lives. Handles made before
// keep their texts: make Clients after it.
class CatalogueOverride {
 public:
  explicit CatalogueOverride(const std::string& texts = kEchoCatalogue) {
    std::ofstream(directory_.file("tapbrokerclient.msg"), std::ios::binary) << texts;
    const char* saved = std::getenv("MSGCORE_PATH");
    if (saved != nullptr) saved_ = saved;
    hadSaved_ = saved != nullptr;
    setenv("MSGCORE_PATH", directory_.path().c_str(), 1);
    msgcore::reloadCatalogues();
  }
  ~CatalogueOverride() {
    hadSaved_ ? setenv("MSGCORE_PATH", saved_.c_str(), 1) : unsetenv("MSGCORE_PATH");
    msgcore::reloadCatalogues();
  }

 private:
  ScratchDirectory directory_;
  std::string saved_;
  bool hadSaved_;
};

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace diag_test

#endif  // TESTS_UNIT_DIAG_SUPPORT_H
