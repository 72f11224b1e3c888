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
  // As much as the file holds and a byte more, to tell whether it has grown since; if it
  // has, the rest up to the limit and a byte to tell.
  text.assign(static_cast<std::size_t>(size) + 1, '\0');
  const auto readInto = [&](std::size_t from) {
    file.read(text.data() + from, static_cast<std::streamsize>(text.size() - from));
    return from + static_cast<std::size_t>(file.gcount());
  };
  std::size_t got = readInto(0);
  if (got == text.size() && got <= limit) {
    text.resize(limit + 1);
    got = readInto(got);
  }
  text.resize(got);
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
