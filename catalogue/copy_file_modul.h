#pragma once

#include "catalogue/copy/file_copy.h"
#include "catalogue/copy/file_system.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// The add's two file steps in the shape the add was written against: a
// folder call, and a copy call with a nine-argument progress routine, its
// "continue" answer and a cancel flag. A thin layer over makeFolder and
// copyFile; only the add operation calls it.
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

// makeFolder.
OpenedFolder CreateDirectoryA(int parent, std::string_view name, FileSystem& fs);

// copyFile, reporting to `progress` with `lpData`, the EntryWindow the add
// runs in, whose pending events run while there is nothing to report. The
// file is one stream; the handles are not handed out (-1). A routine result
// other than PROGRESS_CONTINUE, or `*cancel` becoming non-zero, stops the
// copy. COPY_FILE_RESTARTABLE needs no work, since a copy is all or nothing;
// other flags are refused rather than silently ignored.
std::error_code CopyFileExA(const std::string& existing, const FileInFolder& newFile,
                            ProgressRoutine progress, void* lpData, const std::int32_t* cancel,
                            std::uint32_t flags, FileSystem& fs);

namespace CopyFileModul {

// Handed to every copy of the window's add and never set: no copy is
// cancelled there.
inline constexpr std::int32_t kCancel = 0;

// The caption for one call: floor(transferred / total * 100) in double
// precision, then "% Complete". An empty file (both counts zero) is complete.
// Throws Failure (6, "Overflow") when the arithmetic raises a floating-point
// exception.
std::string progressText(std::int64_t totalFileSize, std::int64_t totalBytesTransferred);

// Sets the caption of the window passed in `lpData` (an EntryWindow*), lets its
// pending events run and returns PROGRESS_CONTINUE. Only the two totals count.
std::uint32_t CopyProgressRoutine(std::int64_t TotalFileSize, std::int64_t TotalBytesTransferred,
                                  std::int64_t StreamSize, std::int64_t StreamBytesTransferred,
                                  std::uint32_t dwStreamNumber, std::uint32_t dwCallbackReason,
                                  FileHandle hSourceFile, FileHandle hDestinationFile,
                                  void* lpData);

} // namespace CopyFileModul
} // namespace velmora
