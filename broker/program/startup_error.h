// The reason a broker would not start, left where a person running the application finds
// it (common/error_file.h says where and why).
#ifndef BROKER_STARTUP_ERROR_H
#define BROKER_STARTUP_ERROR_H

#include <string>

namespace broker {

// Replaces the error file's contents with `message` and when it was written. False, with
// `error` saying why, when the file cannot be written safely: it is never written through a
// link, into a pipe or device, into a file of another user, or in a directory that others
// may change.
bool leaveStartupError(const std::string& message, std::string& error);

}  // namespace broker

#endif  // BROKER_STARTUP_ERROR_H
