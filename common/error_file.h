// Where a broker that the library started leaves the reason it would not start: the
// library starts it with its standard streams on /dev/null (or with no console on Windows)
// and can report only that no broker answered (-1005), so the broker also writes the
// reason to this file, and tapclient points there. The broker writes it; tapclient only
// names it.
//
// On POSIX systems the temporary directory is shared by every user: the file lives in a
// directory of the user's own inside it, so that nobody else can put a link or a pipe
// where the broker writes. On Windows, %TEMP% is the user's own already.
#ifndef TAPBROKER_COMMON_ERROR_FILE_H
#define TAPBROKER_COMMON_ERROR_FILE_H

#include <string>

namespace error_file {

// The directory that holds the file: tapbroker-UID in the temporary directory (TMPDIR,
// else /tmp) on POSIX systems, %TEMP% itself on Windows.
std::string directory();
// tapbroker-error.txt in that directory.
std::string path();

}  // namespace error_file

#endif  // TAPBROKER_COMMON_ERROR_FILE_H
