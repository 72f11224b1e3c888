#include "connection/install_path.h"

#include "connection/broker_search.h"
#include "sysbase/BaseSystem.h"

#if defined(TAPBROKER_WITH_QT)
#include <QByteArray>
#include <QString>
#else
#include <algorithm>
#include <system_error>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif
#endif

namespace tapbroker::connection {

#if defined(TAPBROKER_WITH_QT)

// Paths are bytes in UTF-8 here, as QDir reads them: decoding them any other way would
// send a non-ASCII directory to the system under another name.
std::string binaryDirectory() {
  return BaseSystem::getBinaryPath().absolutePath().toUtf8().toStdString();
}

bool directoryExists(const std::string& directory) {
  return QDir(QString::fromUtf8(directory.c_str())).exists();
}

std::string brokerPath(const std::string& directory) {
  QString text = QString::fromUtf8(directory.c_str());
  text.append(QString::fromLatin1("/") + QString::fromLatin1(kBrokerExecutable));
  return text.toUtf8().toStdString();
}

#else

namespace {

#if defined(_WIN32)
// The standard library's narrow paths on Windows are UTF-8 one way and not the other, while
// the "A" calls speak the ANSI code page: text goes to and from a path's wide form through
// that code page itself, so that a directory named outside ASCII keeps its name.
std::filesystem::path fromSystemText(const std::string& text) {
  const int length = ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

std::string toSystemText(const std::filesystem::path& path) {
  const std::wstring& wide = path.native();
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        nullptr, nullptr);
  return text;
}
// A directory that an application passes may come from its build in UTF-8, as a CMake
// package's directory variable does: well-formed UTF-8 with a byte beyond ASCII is taken as
// such and handed on in the ANSI code page; any other text is in that code page already.
std::string systemTextOf(const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  const int size = static_cast<int>(text.size());
  const int length =
      ascii ? 0 : ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) return text;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return toSystemText(wide);
}
#else
// Elsewhere the narrow text passes through unchanged: the standard library reads it byte for
// byte and hands the same bytes back.
std::filesystem::path fromSystemText(const std::string& text) { return text; }
std::string toSystemText(const std::filesystem::path& path) { return path.string(); }
std::string systemTextOf(const std::string& text) { return text; }
#endif

}  // namespace

std::string binaryDirectory() {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(BaseSystem::getBinaryPath(), error);
  return toSystemText(error ? BaseSystem::getBinaryPath() : absolute);
}

// An empty text is the current directory, as Qt takes it.
bool directoryExists(const std::string& directory) {
  std::error_code error;
  return std::filesystem::is_directory(directory.empty() ? "." : fromSystemText(directory),
                                       error);
}

std::string brokerPath(const std::string& directory) {
  return systemTextOf(directory) + "/" + kBrokerExecutable;
}

#endif

}  // namespace tapbroker::connection
