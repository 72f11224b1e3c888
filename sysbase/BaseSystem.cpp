#include "sysbase/BaseSystem.h"

#include <QFileInfo>

QDir BaseSystem::getBinaryPath() {
  // /proc/self/exe names the running program even when it was started through a link.
  QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
  return executable.isEmpty() ? QDir::current() : QFileInfo(executable).dir();
}
