#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

// Files and texts for tests; a failure to write or read throws.
namespace velmora::testing {

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// Bytes that differ from offset to offset, so a misplaced chunk shows.
std::string patternBytes(std::int64_t size, int seed = 0);
// `piece` `count` times over.
std::string repeat(const std::string& piece, int count);
// The names in a folder.
std::set<std::string> folderEntries(const std::filesystem::path& folder);
// The number of this process's open file descriptors.
int openDescriptorCount();

} // namespace velmora::testing
