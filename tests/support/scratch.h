// What tests need of the file system: a directory of their own that goes with everything in
// it, and a message catalogue installed for as long as a test needs it.
#ifndef TESTS_SUPPORT_SCRATCH_H
#define TESTS_SUPPORT_SCRATCH_H

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "msgcore/msgcore_internal.h"

class TempDir {
 public:
  // In the temporary directory that TMPDIR names, else /tmp.
  TempDir() {
    std::error_code error;
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "tapbroker-test-XXXXXX").string();
    if (error) pattern = "/tmp/tapbroker-test-XXXXXX";
    const char* made = ::mkdtemp(pattern.data());
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

// The library's own catalogue with every text replaced by its identifier and the entry's
// placeholders, so that a log reads as the list of reports made ("1088 probe") while every
// argument is still read as the real texts read it.
inline std::string identifyingCatalogue() {
  std::istringstream in(tapbroker::msgcore::kBuiltinCatalogue);
  std::string out;
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    out += line.substr(0, tab) + '\t' + line.substr(0, tab);
    for (std::size_t at = line.find("$$", tab); at != std::string::npos;
         at = line.find("$$", at + 1)) {
      if (at + 2 < line.size() && (line[at + 2] == 's' || line[at + 2] == 'd'))
        out += std::string(" $$") + line[at += 2];
    }
    out += '\n';
  }
  return out;
}

// Sets the environment variable `name` to `value` (null: unsets it) while it lives, then
// puts back what was there.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* kept = std::getenv(name);
    if (kept) kept_ = kept;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
  ~ScopedEnv() { kept_ ? ::setenv(name_, kept_->c_str(), 1) : ::unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> kept_;
};

// Serves `texts` as the catalogue of tapbrokerclient while it lives; by default the
// identifying catalogue and two entries of the tests' own, 7001 with placeholders and 7002
// without. Handles made before keep their texts: make Clients after it.
class CatalogueOverride {
 public:
  explicit CatalogueOverride(const std::string& texts = identifyingCatalogue() +
                                                        "7001\t$$s: $$d bytes\n"
                                                        "7002\tplain text\n") {
    std::ofstream(directory_ / "tapbrokerclient.msg", std::ios::binary) << texts;
    tapbroker::msgcore::reloadCatalogues();
  }
  ~CatalogueOverride() {
    path_.reset();
    tapbroker::msgcore::reloadCatalogues();
  }

 private:
  TempDir directory_;
  std::optional<ScopedEnv> path_{std::in_place, "MSGCORE_PATH", directory_.path()};
};

using Lines = std::vector<std::string>;

inline Lines readLines(const std::string& path) {
  Lines lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The whole of the file at `path`, byte for byte.
inline std::string readFile(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

#endif  // TESTS_SUPPORT_SCRATCH_H
