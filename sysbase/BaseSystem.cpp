#include "sysbase/BaseSystem.h"

#include <QFileInfo>

QDir BaseSystem::getBinaryPath() {
  // /proc/self/exe names the running program even when it was started through a link.
  return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().isEmpty()
             ? QDir(QDir::currentPath())
             : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).dir();
}
