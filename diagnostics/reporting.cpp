#include "diagnostics/reporting.h"

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
  logHandle = std::fopen(logPath.c_str(), "a");
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

std::shared_ptr<msgManager> makeHandle(bool finishes, unsigned int finishCode) {
  msgManager* handle = new msgManager(kCatalogueTag);
  if (handle == nullptr) return nullptr;
  return std::shared_ptr<msgManager>(handle, [finishes, finishCode](msgManager* last) {
    if (finishes) last->finishMsgLogFile(finishCode);
    delete last;
  });
}

}  // namespace diagnostics
