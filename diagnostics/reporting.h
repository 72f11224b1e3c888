// The two ways a report goes, shared by Client::PrintMessage and CallContext::PrintMessage,
// and the catalogue handle that each of them holds.
#ifndef DIAGNOSTICS_REPORTING_H
#define DIAGNOSTICS_REPORTING_H

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

class msgManager;

namespace tapbroker::diagnostics {

// The application tag of this library's messages.
inline constexpr const char* kCatalogueTag = "tapbrokerclient";

// Posts `id` with the report's arguments to the catalogue. `args` is read from a copy, so
// the caller can hand the same list to logReport afterwards. A null handle posts nothing.
void postReport(msgManager* messages, const std::string& id, va_list args);

// Appends the expanded text of `id` as one line to `logPath`. The file is opened here and
// closed again; the opening's result is stored in `logHandle`, so a failed opening turns
// logging off. A null handle has no texts to give: the line is written empty, as for a
// message without an entry. `args` is read from a copy.
void logReport(msgManager* messages, std::string& id, const std::string& logPath,
               FILE*& logHandle, va_list args);

// Opens the log file at `path` for writing, emptied (`empty`) or to append to, without
// waiting on anything and for writes that never wait or raise a signal: null for what
// cannot be opened at once or created, and for anything but a regular file or a character
// device (such as /dev/null): a FIFO, with or without a reader, or a socket.
FILE* openLogFile(const char* path, bool empty);

// A new handle on this library's catalogue, shared by copying; null when the allocation
// yields nothing. A CallContext's: destroyed by its last holder, never finished.
std::shared_ptr<msgManager> makeHandle();

// A Client's handle, held by the Client and its copies through the one pointer that the
// Client's layout has for it: the count of holders lives in the handle's own block. Null
// when the allocation yields nothing; sharing or releasing null does nothing.
msgManager* newClientHandle();
// Counts one more holder of `handle`.
void shareClientHandle(msgManager* handle);
// Counts one holder less; the last one finishes the handle with `finishCode` and destroys
// it.
void releaseClientHandle(msgManager* handle, unsigned int finishCode);

}  // namespace tapbroker::diagnostics

#endif  // DIAGNOSTICS_REPORTING_H
