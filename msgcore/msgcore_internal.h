// Controls of msgcore that only the tree's own tests and tools use; not part of the
// message library's interface to applications.
#ifndef MSGCORE_MSGCORE_INTERNAL_H
#define MSGCORE_MSGCORE_INTERNAL_H

namespace tapbroker::msgcore {

extern const char* const kBuiltinCatalogueTag;
extern const char* const kBuiltinCatalogue;

// Forgets every loaded catalogue, so that the next handle of each tag loads it again (from
// $MSGCORE_PATH as it is then). Handles made before keep the texts they were made with.
void reloadCatalogues();

// Makes the next `count` allocations of a handle fail (yield null), to exercise callers'
// handling of a missing handle.
void failNextAllocations(int count);

}  // namespace tapbroker::msgcore

#endif  // MSGCORE_MSGCORE_INTERNAL_H
