// Stand-in for the in-house message library: serves the message catalogue of one
// application tag and delivers posted messages.
#ifndef MSGCORE_MSGMANAGER_H
#define MSGCORE_MSGMANAGER_H

#include <cstdarg>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class msgManager {
 public:
  // A handle on the catalogue of `tag`. The catalogue is loaded once per process and tag:
  // from $MSGCORE_PATH/<tag>.msg when that file exists, else from the built-in texts.
  explicit msgManager(const char* tag);
  ~msgManager();
  msgManager(const msgManager&) = delete;
  msgManager& operator=(const msgManager&) = delete;

  // Handles come from the library's own allocator; a failed allocation yields null.
  static void* operator new(std::size_t size) noexcept;
  static void operator delete(void* block) noexcept;

  // Expands the text of `id` with `args` and delivers it as one line on standard error:
  // "<tag>[<id>]: <text>". Returns 0, or -1 when the catalogue has no such entry (the line
  // then says so). `extra` and `flags` are accepted for the interface's sake and not used.
  int postMsgVaList(const char* id, va_list args, std::vector<std::string>& extra,
                    unsigned int flags);
  // Fills `text` with the catalogue text of `id` (left empty when there is none) and
  // returns text.c_str().
  const char* queryMsgString(std::string& id, std::string& text);
  // Ends this handle's use of the catalogue (counted, see finishedHandles); `code` is
  // accepted for the interface's sake.
  void finishMsgLogFile(unsigned int code);

 private:
  std::shared_ptr<const void> catalogue_;  // the texts, shared with the cache
};

namespace tapbroker::msgcore {
// Handles alive in this process, and finishMsgLogFile calls made so far; for tests.
long liveHandles();
long finishedHandles();
}  // namespace tapbroker::msgcore

#endif  // MSGCORE_MSGMANAGER_H
