// The result codes: declared in the public header, so that applications name them as the
// library does.
#ifndef RESULTS_CODES_H
#define RESULTS_CODES_H

#include "tapbroker_client.h"

#endif  // RESULTS_CODES_H
