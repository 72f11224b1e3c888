#include "diagnostics/reporting.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <vector>

#include "diagnostics/expansion.h"
#include "msgcore/msgManager.h"

namespace diagnostics {

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

FILE* openLogFile(const char* path, bool empty) {
#ifdef _WIN32
  return std::fopen(path, empty ? "w" : "a");
#else
  const int mode = empty ? O_TRUNC : O_APPEND;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | mode, 0666);
  if (fd < 0) return nullptr;
  // Only the opening must not wait: the lines are written as before.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FILE* file = ::fdopen(fd, empty ? "w" : "a");
  if (file == nullptr) ::close(fd);
  return file;
#endif
}

std::shared_ptr<msgManager> makeHandle(bool finishes, unsigned int finishCode) {
  msgManager* handle = new msgManager(kCatalogueTag);
  if (handle == nullptr) return nullptr;
  return std::shared_ptr<msgManager>(handle, [finishes, finishCode](msgManager* last) {
    if (finishes) last->finishMsgLogFile(finishCode);
    delete last;
  });
}

}  // namespace diagnostics
