// The three path steps of starting the broker: the installation's binary directory as
// text, whether a directory exists, and the broker's path as handed to the process start.
// Qt Core does them where the build has it, the standard library where it does not; the
// results are the same. Path text is the system's narrow text: UTF-8 on Linux, the ANSI
// code page of the "A" calls on Windows.
#ifndef CONNECTION_INSTALL_PATH_H
#define CONNECTION_INSTALL_PATH_H

#include <string>

namespace tapbroker::connection {

// The absolute path of the directory that holds the running executable.
std::string binaryDirectory();
// True when `directory` names an existing directory.
bool directoryExists(const std::string& directory);
// `directory` followed by "/tapbroker.exe".
std::string brokerPath(const std::string& directory);

}  // namespace tapbroker::connection

#endif  // CONNECTION_INSTALL_PATH_H
