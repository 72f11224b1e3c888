// The items of a ";"-separated answer, as Read(std::vector<std::string>&) hands them out.
#ifndef PROTOCOL_ANSWER_LIST_H
#define PROTOCOL_ANSWER_LIST_H

#include <string>
#include <vector>

namespace tapbroker::protocol {

// Appends the items of the NUL-terminated `text` to `items`: every ";" closes an item,
// empty or not; what follows the last one counts only when it holds something.
void appendListItems(const char* text, std::vector<std::string>& items);

}  // namespace tapbroker::protocol

#endif  // PROTOCOL_ANSWER_LIST_H
