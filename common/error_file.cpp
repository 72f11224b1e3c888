#include "common/error_file.h"

#include <filesystem>
#include <system_error>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace error_file {

std::string directory() {
  std::error_code error;
  std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
#if defined(_WIN32)
  if (error) temporary = ".";
  return temporary.string();
#else
  if (error) temporary = "/tmp";
  return (temporary / ("tapbroker-" + std::to_string(::geteuid()))).string();
#endif
}

std::string path() {
  return (std::filesystem::path(directory()) / "tapbroker-error.txt").string();
}

}  // namespace error_file
