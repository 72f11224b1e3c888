// The answer texts that Read(char*&) and Read() hand out, kept beside each Client: the
// Client's layout is fixed by the programs already built against it, and has no room.
#ifndef PROTOCOL_ANSWER_TEXTS_H
#define PROTOCOL_ANSWER_TEXTS_H

class Client;

namespace tapbroker::answer_texts {

// Keeps a copy of the NUL-terminated `answer` as `client`'s text, in place of its previous
// one, and returns it; it stays valid until the next keep or forget for `client`.
char* keep(const Client* client, const char* answer);

// Releases `client`'s text, if it has one.
void forget(const Client* client);

}  // namespace tapbroker::answer_texts

#endif  // PROTOCOL_ANSWER_TEXTS_H
