// Stand-in for the in-house system library.
#ifndef SYSBASE_BASESYSTEM_H
#define SYSBASE_BASESYSTEM_H

#include <QDir>

class BaseSystem {
 public:
  // The directory that holds the running executable.
  static QDir getBinaryPath();
};

#endif  // SYSBASE_BASESYSTEM_H
