// Where a broker that the library started leaves the reason it would not start. The
// library starts the broker with its standard streams on /dev/null (or with no console on
// Windows) and reports only that no broker answered (kUnreachable): a fault plan or transcript
// named in the environment that the broker rejects would leave the person running the
// application with no reason at all. So the reason is also written to a file of a fixed
// name in the temporary directory, which the docs name.
#ifndef BROKER_STARTUP_ERROR_H
#define BROKER_STARTUP_ERROR_H

#include <filesystem>
#include <string>
#include <system_error>

namespace broker {

// tapbroker-error.txt in the system's temporary directory (TMPDIR, TEMP, ...). Inline:
// tapclient names it too, without linking the broker.
inline std::string startupErrorPath() {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::temp_directory_path(error);
  return ((error ? std::filesystem::path(".") : directory) / "tapbroker-error.txt").string();
}
// Replaces that file's contents with `message` and when it was written; false when the
// file cannot be written.
bool leaveStartupError(const std::string& message);

}  // namespace broker

#endif  // BROKER_STARTUP_ERROR_H
