#include "diagnostics/reporting.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <vector>

#include "diagnostics/expansion.h"
#include "msgcore/msgManager.h"

namespace tapbroker::diagnostics {

void postReport(msgManager* messages, const std::string& id, va_list args) {
  if (messages == nullptr) return;
  std::vector<std::string> extra;
  va_list copy;
  va_copy(copy, args);
  messages->postMsgVaList(id.c_str(), copy, extra, 0);
  va_end(copy);
}

void logReport(msgManager* messages, std::string& id, const std::string& logPath,
               FILE*& logHandle, va_list args) {
  logHandle = openLogFile(logPath.c_str(), false);
  if (logHandle == nullptr) return;
  std::string text;
  if (messages != nullptr) messages->queryMsgString(id, text);
  std::string line;
  va_list copy;
  va_copy(copy, args);
  expandCatalogueText(text, copy, line);
  va_end(copy);
  std::fprintf(logHandle, "%s\n", line.c_str());
  std::fclose(logHandle);
  // logHandle keeps the closed stream's value: it only marks that logging is on.
}

namespace {

FILE* openWithoutWaiting(const char* path, bool empty) {
#ifdef _WIN32
  return std::fopen(path, empty ? "w" : "a");
#else
  // The opening of a FIFO without a reader fails at once, and the descriptor stays
  // non-blocking, so a terminal that stops reading drops a line instead of holding the
  // application.
  const int mode = empty ? O_TRUNC : O_APPEND;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | mode, 0666);
  if (fd < 0) return nullptr;
  FILE* file = ::fdopen(fd, empty ? "w" : "a");
  if (file == nullptr) ::close(fd);
  return file;
#endif
}

// A pipe or a socket would raise SIGPIPE once its reader goes, or fill up and hold the
// writer: only a file or a device is written to. Judged on the opened file, so a path
// replaced since Set_Log_File is judged as it is now.
bool isFileOrDevice(FILE* file) {
#ifdef _WIN32
  struct _stat64 opened;
  return _fstat64(_fileno(file), &opened) == 0 && (opened.st_mode & (_S_IFREG | _S_IFCHR)) != 0;
#else
  struct stat opened;
  return ::fstat(::fileno(file), &opened) == 0 &&
         (S_ISREG(opened.st_mode) || S_ISCHR(opened.st_mode));
#endif
}

}  // namespace

FILE* openLogFile(const char* path, bool empty) {
  FILE* file = openWithoutWaiting(path, empty);
  if (file != nullptr && !isFileOrDevice(file)) {
    std::fclose(file);  // nothing was written: closing raises no signal
    return nullptr;
  }
  return file;
}

namespace {

// Allocated through the catalogue's own allocator, as every handle is.
struct CountedHandle : msgManager {
  CountedHandle() : msgManager(kCatalogueTag) {}
  std::atomic<unsigned> holders{1};
};

}  // namespace

msgManager* newHandle() { return new CountedHandle; }

void shareHandle(msgManager* handle) {
  if (handle != nullptr) ++static_cast<CountedHandle*>(handle)->holders;
}

void releaseHandle(msgManager* handle, const unsigned int* finishCode) {
  auto* counted = static_cast<CountedHandle*>(handle);
  if (counted == nullptr || --counted->holders != 0) return;
  if (finishCode != nullptr) counted->finishMsgLogFile(*finishCode);
  delete counted;
}

}  // namespace tapbroker::diagnostics
