// Compiled as a source of protocol/ would be: an include of the layer above it must find
// no file.
#include "commands/transfer_kind.h"
