// The runs of the scan transfers, one per transfer kind; the command layer pairs each
// with its argument check.
#ifndef SCAN_SCAN_RUNS_H
#define SCAN_SCAN_RUNS_H

#include <cstdarg>

#include "protocol/command_in_progress.h"
#include "protocol/wire.h"

namespace tapbroker::scan {

protocol::Run runGenericShift, runPumpData, runI2CShift, runSSPIShift, runSharedApps,
    runInterfaceFunction;
// The JTAG shift, interface function 12, from its first argument on.
int runJtagShift(protocol::CommandInProgress& exchange, protocol::ArgumentCursor& args);

// The shared-application list of command 41: the count and the names from a copy of
// `args`, each name cut to 100 characters and followed by ";", packed into the zeroed
// `block`. False, with only the names that fitted, when they do not fit.
bool packApplicationList(protocol::ArgumentCursor& args, char (&block)[protocol::kBufferSize]);

}  // namespace tapbroker::scan

#endif  // SCAN_SCAN_RUNS_H
