#pragma once

#include "catalogue/copy/copy_totals.h"
#include "catalogue/copy/file_copy.h"
#include "catalogue/copy/file_system.h"

#include <stop_token>
#include <system_error>

namespace velmora {

// Copies the regular file open as `source` (borrowed, read from its start) to `target` (its
// `existing` entry where it names one), replacing what stood there atomically: the data goes to a
// temporary file that gets the name only when it is complete, with the source's permission bits
// less the umask (as cp gives them) and its times. Runs on a copy's worker and touches nothing
// outside its folder. A replacing copy is flushed before the rename, so a power cut never leaves a
// damaged file where a good one was; a first copy is not, which keeps it as fast as cp. A source
// that changes while it is copied fails the copy. On any failure, or when asked to stop, the
// previous target stays and nothing temporary is left.
std::error_code copyReplacing(FileSystem& fs, int source, const FileInFolder& target,
                              CopyTotals& progress, std::stop_token stop);

} // namespace velmora
