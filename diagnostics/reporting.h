// The two ways a report goes, shared by Client::PrintMessage and CallContext::PrintMessage,
// and the catalogue handle that each of them holds.
#ifndef DIAGNOSTICS_REPORTING_H
#define DIAGNOSTICS_REPORTING_H

#include <cstdarg>
#include <cstdio>
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

// Handles on this library's catalogue, counted in their own block: a Client's layout has one
// pointer for its handle and no room for a count beside it, so every holder (Clients and
// their copies, CallContexts and theirs) counts the same way. A new handle has one holder;
// null when the allocation yields nothing, and sharing or releasing null does nothing.
msgManager* newHandle();
// Counts one more holder of `handle`.
void shareHandle(msgManager* handle);
// Counts one holder less; the last one destroys the handle, after finishing it with
// `*finishCode` when that is given: a Client's handle is finished, a context's is not.
void releaseHandle(msgManager* handle, const unsigned int* finishCode);

// One holder of a handle that is never finished, as a CallContext keeps it: copies share
// the handle, the last one destroys it.
class Handle {
 public:
  Handle() = default;
  // Takes over the holder that newHandle() counted.
  explicit Handle(msgManager* adopted) : handle_(adopted) {}
  Handle(const Handle& other) : handle_(other.handle_) { shareHandle(handle_); }
  Handle& operator=(const Handle& other) {
    shareHandle(other.handle_);  // first, so that assigning a handle to itself keeps it
    reset();
    handle_ = other.handle_;
    return *this;
  }
  ~Handle() { reset(); }

  msgManager* get() const { return handle_; }
  void reset() {
    releaseHandle(handle_, nullptr);
    handle_ = nullptr;
  }

 private:
  msgManager* handle_ = nullptr;
};

}  // namespace tapbroker::diagnostics

#endif  // DIAGNOSTICS_REPORTING_H
