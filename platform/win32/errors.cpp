// The thread's last error on Windows: the system's own, which Winsock shares.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/errors.h"

namespace tapbroker::win {

DWORD GetLastError() { return ::GetLastError(); }
void SetLastError(DWORD code) { ::SetLastError(code); }

}  // namespace tapbroker::win
