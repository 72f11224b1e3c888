#include "sysbase/BaseSystem.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

namespace {

// The running executable's path in the ANSI code page, as the "A" calls take it; empty
// when the system cannot say.
std::string executablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    // A name that filled the buffer may have been cut short: ask again with more room.
    if (length < path.size()) return path.substr(0, length);
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

BaseSystem::Directory BaseSystem::getBinaryPath() {
  std::string file = executablePath();
  std::string::size_type separator = file.find_last_of("\\/");
  std::string directory = separator == std::string::npos ? "." : file.substr(0, separator);
  if (directory.size() == 2 && directory[1] == ':') directory += '\\';  // a drive's root
#if defined(TAPBROKER_WITH_QT)
  return QDir(QString::fromLocal8Bit(directory.c_str()));
#else
  // The wide form, through the ANSI code page: the standard library's narrow paths are not
  // in that code page.
  const int length = ::MultiByteToWideChar(CP_ACP, 0, directory.data(),
                                           static_cast<int>(directory.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, directory.data(), static_cast<int>(directory.size()),
                        wide.data(), length);
  return Directory(wide);
#endif
}

#elif defined(TAPBROKER_WITH_QT)
#include <QFileInfo>

BaseSystem::Directory BaseSystem::getBinaryPath() {
  // /proc/self/exe names the running program even when it was started through a link.
  QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  return executable.isEmpty() ? QDir::current() : QFileInfo(executable).dir();
}
#else
#include <system_error>

BaseSystem::Directory BaseSystem::getBinaryPath() {
  // /proc/self/exe names the running program even when it was started through a link.
  std::error_code error;
  const std::filesystem::path executable =
      std::filesystem::canonical("/proc/self/exe", error);
  if (!error) return executable.parent_path();
  Directory current = std::filesystem::current_path(error);
  return error ? Directory(".") : current;
}
#endif
