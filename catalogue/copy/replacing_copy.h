#pragma once

#include "catalogue/copy/copy_totals.h"
#include "catalogue/copy/file_system.h"

#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>

namespace velmora {

// Copies the regular file `source` to `name` inside the open `folder`,
// replacing what stood there atomically: the data goes to a temporary file
// that gets the name only when it is complete, with the source's permission
// bits and times. Runs on a copy's worker and touches nothing outside
// `folder` but the source, which it only reads. A replacing copy is flushed
// before the rename, so a power cut never leaves a damaged file where a good
// one was; a first copy is not, which keeps it as fast as cp. A source that
// changes while it is copied fails the copy. On any failure, or when asked to
// stop, the previous target stays and nothing temporary is left.
std::error_code copyReplacing(FileSystem& fs, const std::string& source, int folder,
                              std::string_view name, CopyTotals& progress, std::stop_token stop);

} // namespace velmora
