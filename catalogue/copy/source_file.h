#pragma once

#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/file_system.h"

#include <string>
#include <system_error>

namespace velmora {

// A file a copy reads, opened before anything is written, or why it cannot be.
struct OpenedSource {
    Descriptor file;
    std::error_code error;
};

// Opens `path` for reading. A missing or unreadable file gives the system's
// reason; a folder EISDIR; a FIFO, device or socket CopyError::SourceNotAFile,
// since a copy could never wait for its end (and the open never waits for a
// FIFO's writer); a file that the kernel makes as it is read (/proc, /sys
// and the like) CopyError::SourceNotOnDisk.
OpenedSource openSource(const std::string& path, FileSystem& fs = FileSystem::real());

} // namespace velmora
