#include "broker/common/input_file.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace broker {

bool readInputFile(const std::string& path, std::string& text, std::string& error,
                   std::size_t limit) {
  namespace fs = std::filesystem;
  // The kind of file is decided before it is opened: opening a pipe waits for a writer.
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (code) {
    error = code.message();
    return false;
  }
  if (fs::is_directory(status)) {
    error = "a directory, not a file";
    return false;
  }
  if (!fs::is_regular_file(status)) {
    error = "not a regular file (a pipe, a device or a socket is not read)";
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, code);
  const std::string tooLarge = "larger than " + std::to_string(limit) + " bytes";
  if (code || size > limit) {
    error = code ? code.message() : tooLarge;
    return false;
  }
  std::ifstream file(fs::path(path), std::ios::binary);
  if (!file) {
    error = "cannot be opened";
    return false;
  }
  // The file may have grown since: read no more than the limit and one byte to tell.
  text.assign(limit + 1, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (file.bad()) {
    error = "cannot be read";
    return false;
  }
  if (text.size() > limit) {
    error = tooLarge;
    return false;
  }
  return true;
}

}  // namespace broker
