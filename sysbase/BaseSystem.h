// Stand-in for the in-house system library.
#ifndef SYSBASE_BASESYSTEM_H
#define SYSBASE_BASESYSTEM_H

#if defined(TAPBROKER_WITH_QT)
#include <QDir>
#else
#include <filesystem>
#endif

class BaseSystem {
 public:
  // A directory as the build knows directories: Qt's where Qt Core is present.
#if defined(TAPBROKER_WITH_QT)
  using Directory = QDir;
#else
  using Directory = std::filesystem::path;
#endif
  // The directory that holds the running executable.
  static Directory getBinaryPath();
};

#endif  // SYSBASE_BASESYSTEM_H
