#pragma once

#include "access/jet_page_file.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The page journal of an add into an Access catalogue: the original bytes of
// every page the add changes and the file's original length, in a file beside
// the catalogue. It is complete and flushed before the first page changes and
// removed once the catalogue is flushed; one that is found at the next open is
// rolled back, so a reader sees the old rows or the old rows plus the new one.
namespace velmora::jet {

// Writes the journal `name` in the folder `folderFd` (created exclusively,
// never through a link, readable by no one the catalogue `fileFd` is not),
// flushes it and the folder.
void writeJournal(int folderFd, const std::string& name, int fileFd, std::uint64_t originalSize,
                  const std::vector<std::pair<std::uint32_t, const Page*>>& pages);

// Removes the journal of a completed add and flushes the folder.
void removeJournal(int folderFd, const std::string& name);

// When the journal `name` is there: restores its pages into `fileFd`, cuts
// the file to its original length, flushes it, then removes the journal. A
// journal cut short by a crash was written before the file changed, so it is
// only removed. Returns whether there was a journal. A file of that name that
// is not a journal of ours is left alone and refused.
bool rollBackJournal(int folderFd, const std::string& name, int fileFd);

} // namespace velmora::jet
