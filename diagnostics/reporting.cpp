#include "diagnostics/reporting.h"

#include <new>
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

msgManager* makeHandle() { return new msgManager(kCatalogueTag); }

bool shareHandle(msgManager* handle, unsigned*& sourceShares, unsigned*& targetShares) {
  if (handle == nullptr) return false;
  if (sourceShares == nullptr) {
    sourceShares = new (std::nothrow) unsigned(1);
    if (sourceShares == nullptr) return false;
  }
  ++*sourceShares;
  targetShares = sourceShares;
  return true;
}

void assignHandle(msgManager*& handle, unsigned*& shares, unsigned int finishCode,
                  msgManager* source, unsigned*& sourceShares) {
  if (handle == source) return;
  unsigned* taken = nullptr;
  if (source != nullptr && !shareHandle(source, sourceShares, taken)) return;
  dropHandle(handle, shares, finishCode);
  handle = source;
  shares = taken;
}

void dropHandle(msgManager*& handle, unsigned*& shares, unsigned int finishCode) {
  if (handle != nullptr && (shares == nullptr || --*shares == 0)) {
    delete shares;
    handle->finishMsgLogFile(finishCode);
    delete handle;
  }
  handle = nullptr;
  shares = nullptr;
}

}  // namespace diagnostics
