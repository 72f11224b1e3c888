#include "connection/install_path.h"

#include "connection/broker_search.h"
#include "sysbase/BaseSystem.h"

#if defined(TAPBROKER_WITH_QT)
#include <QByteArray>
#include <QString>
#else
#include <system_error>
#endif

namespace connection {

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

// The narrow text passes through unchanged: the standard library reads it byte for byte
// and hands the same bytes back.
std::string binaryDirectory() {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(BaseSystem::getBinaryPath(), error);
  return (error ? BaseSystem::getBinaryPath() : absolute).string();
}

// An empty text is the current directory, as Qt takes it.
bool directoryExists(const std::string& directory) {
  std::error_code error;
  return std::filesystem::is_directory(directory.empty() ? "." : directory, error);
}

std::string brokerPath(const std::string& directory) {
  return directory + "/" + kBrokerExecutable;
}

#endif

}  // namespace connection
