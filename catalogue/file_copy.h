#pragma once

#include "catalogue/file_system.h"

#include <cstdint>
#include <string>

// Our stand-in for the two platform file calls of an add: making one folder
// level, and copying one file with progress reported on the calling thread.
namespace velmora {

using FileHandle = int; // a file descriptor

inline constexpr std::uint32_t PROGRESS_CONTINUE = 0;
inline constexpr std::uint32_t CALLBACK_CHUNK_FINISHED = 0;
inline constexpr std::uint32_t CALLBACK_STREAM_SWITCH = 1;
inline constexpr std::uint32_t COPY_FILE_RESTARTABLE = 2;

using ProgressRoutine = std::uint32_t (*)(std::int64_t TotalFileSize,
                                          std::int64_t TotalBytesTransferred,
                                          std::int64_t StreamSize,
                                          std::int64_t StreamBytesTransferred,
                                          std::uint32_t dwStreamNumber,
                                          std::uint32_t dwCallbackReason, FileHandle hSourceFile,
                                          FileHandle hDestinationFile, void* lpData);

// The outcome of a file call: success, or the system's error number.
struct FileResult {
    int error = 0; // errno; 0 on success
    bool ok() const noexcept { return error == 0; }
    std::string reason() const; // the system's text for `error`
};

// Makes one folder level with default permissions. An existing folder is a
// success, so the same program can be added again.
FileResult CreateDirectoryA(const std::string& path, FileSystem& fs = FileSystem::real());

// Copies `existing` to `newFile`, replacing it atomically: the data goes to a
// temporary file beside the target, renamed over it only when complete and
// removed on any failure. Calls `progress` before any data moves and after
// each chunk; a routine result other than PROGRESS_CONTINUE, or `*cancel`
// becoming non-zero, stops the copy. A Failure thrown by the routine ends the
// copy the same way and is rethrown to the caller.
FileResult CopyFileExA(const std::string& existing, const std::string& newFile,
                       ProgressRoutine progress, void* data, const std::int32_t* cancel,
                       std::uint32_t flags, FileSystem& fs = FileSystem::real());

} // namespace velmora
