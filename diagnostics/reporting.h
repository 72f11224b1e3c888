// The two ways a report goes, shared by Client::PrintMessage and CallContext::PrintMessage,
// and the catalogue handle that each of them holds.
#ifndef DIAGNOSTICS_REPORTING_H
#define DIAGNOSTICS_REPORTING_H

#include <cstdarg>
#include <cstdio>
#include <string>

class msgManager;

namespace diagnostics {

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

// A new handle on this library's catalogue; null when the allocation yields nothing.
msgManager* makeHandle();

// Ownership of a handle shared by copies. `shares` counts the owners and stays null while
// a handle has had only one. Makes the owner whose counter is `targetShares` share
// `handle` with the owner whose counter is `sourceShares`; false when no counter could be
// allocated, in which case the target must not take the handle.
bool shareHandle(msgManager* handle, unsigned*& sourceShares, unsigned*& targetShares);
// Makes an owner that holds `handle` take `source` instead, as an assignment does: owners
// that already share one handle (self-assignment included) keep it; when no counter can be
// had for sharing `source`, the owner keeps its own handle rather than go without one.
void assignHandle(msgManager*& handle, unsigned*& shares, unsigned int finishCode,
                  msgManager* source, unsigned*& sourceShares);
// Gives up one owner's hold on `handle`; the last owner finishes and destroys it. Leaves
// `handle` and `shares` null.
void dropHandle(msgManager*& handle, unsigned*& shares, unsigned int finishCode);

}  // namespace diagnostics

#endif  // DIAGNOSTICS_REPORTING_H
