#include "platform/errors.h"

namespace tapbroker::win {
namespace {

thread_local DWORD lastError = 0;

}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD code) { lastError = code; }

}  // namespace tapbroker::win
