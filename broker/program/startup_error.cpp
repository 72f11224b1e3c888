#include "broker/program/startup_error.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#if defined(_WIN32)
#include <filesystem>
#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "broker/common/version.h"
#include "common/error_file.h"

namespace broker {
namespace {

std::string line(const std::string& message) {
  const std::time_t now =
      std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  char when[32] = "";
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  return std::string(when) + " " + kProgramName + " did not start: " + message + "\n";
}

#if !defined(_WIN32)

bool failed(std::string& error, const std::string& what) {
  error = what + ": " + std::strerror(errno);
  return false;
}

// Whether `status` is something of this user's that nobody else may write to.
bool ours(const struct stat& status) {
  return status.st_uid == ::geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The directory of the user's own, made if need be, and never a link to one elsewhere.
bool checkDirectory(const std::string& directory, std::string& error) {
  if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    return failed(error, "cannot make " + directory);
  }
  struct stat status {};
  if (::lstat(directory.c_str(), &status) != 0)
    return failed(error, "cannot look at " + directory);
  if (!S_ISDIR(status.st_mode) || !ours(status)) {
    error = directory + " is not a directory of this user's own that only they may change";
    return false;
  }
  return true;
}

bool writeFile(const std::string& text, std::string& error) {
  const std::string directory = error_file::directory();
  if (!checkDirectory(directory, error)) return false;
  const std::string path = error_file::path();
  // No link followed, no wait for a pipe's reader; nothing is cut before the file is
  // known to be a regular file of this user's.
  const int file =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (file < 0) return failed(error, "cannot open " + path);
  struct stat status {};
  bool written = false;
  if (::fstat(file, &status) != 0) {
    failed(error, "cannot look at " + path);
  } else if (!S_ISREG(status.st_mode) || !ours(status)) {
    error = path + " is not a regular file of this user's own";
  } else if (::ftruncate(file, 0) != 0 ||
             ::write(file, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    failed(error, "cannot write " + path);
  } else {
    written = true;
  }
  ::close(file);
  return written;
}

#else

// %TEMP% is the user's own.
bool writeFile(const std::string& text, std::string& error) {
  std::ofstream file(std::filesystem::path(error_file::path()), std::ios::trunc);
  file << text;
  if (file.flush()) return true;
  error = "cannot write " + error_file::path();
  return false;
}

#endif

}  // namespace

bool leaveStartupError(const std::string& message, std::string& error) {
  return writeFile(line(message), error);
}

}  // namespace broker
