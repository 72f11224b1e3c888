// What tests need of the file system: a directory of their own that goes with everything in
// it, and a message catalogue installed for as long as a test needs it.
#ifndef TESTS_SUPPORT_SCRATCH_H
#define TESTS_SUPPORT_SCRATCH_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "msgcore/msgcore_internal.h"

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/tapbroker-test-XXXXXX";
    char* made = ::mkdtemp(pattern);
    path_ = made ? made : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string file(const std::string& name) const { return *this / name; }
  // Copies the executable `from` into this directory as `name`; returns its path.
  std::string install(const std::string& from, const std::string& name) const {
    std::string to = *this / name;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_all);
    return to;
  }

 private:
  std::string path_;
};

// Serves `texts` as the catalogue of tapbrokerclient while it lives. Handles made before
// keep their texts: make Clients after it.
class CatalogueOverride {
 public:
  explicit CatalogueOverride(const std::string& texts) {
    std::ofstream(directory_ / "tapbrokerclient.msg", std::ios::binary) << texts;
    const char* saved = std::getenv("MSGCORE_PATH");
    hadSaved_ = saved != nullptr;
    if (hadSaved_) saved_ = saved;
    ::setenv("MSGCORE_PATH", directory_.path().c_str(), 1);
    msgcore::reloadCatalogues();
  }
  ~CatalogueOverride() {
    hadSaved_ ? ::setenv("MSGCORE_PATH", saved_.c_str(), 1) : ::unsetenv("MSGCORE_PATH");
    msgcore::reloadCatalogues();
  }

 private:
  TempDir directory_;
  std::string saved_;
  bool hadSaved_ = false;
};

inline std::vector<std::string> readLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

#endif  // TESTS_SUPPORT_SCRATCH_H
