#pragma once

#include "catalogue/copy/file_copy.h"

#include <cstdint>
#include <string>

// The copy-progress routine handed to both copies of an add, and the cancel
// flag that they receive.
namespace velmora::CopyFileModul {

// Handed to every copy and never set: no copy is cancelled.
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

} // namespace velmora::CopyFileModul
