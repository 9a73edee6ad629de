#pragma once

#include "access/jet_page_file.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The page journal of an add into an Access catalogue, in a file beside the
// catalogue. It binds itself to the file it was made for:
//
//  1. It records the file's identity (device and inode), its length before and
//     after the add, the original bytes of every existing page the add
//     changes, and a checksum of each 512-byte sector of every page the add
//     writes, as written.
//  2. It is complete and flushed (and the folder with it) before the first
//     page of the file changes, and removed once the file is flushed.
//  3. A roll-back writes only when every such sector of the file holds its
//     original bytes, its written bytes, or (past the original end) zeros,
//     and the length lies between the two: the file is exactly as an
//     interrupted add left it, or as it was before. Anything else (another
//     program wrote since, the journal is another file's) keeps the journal,
//     writes nothing and says in one line what was found.
//  4. A journal shorter than its header says was cut off while it was
//     written, before the file changed: it is only removed. One of full
//     length whose checksum fails is damage: kept and refused.
//  5. Only a plain file whose contents are ours is read; anything else of
//     the journal's name is refused without waiting on it.
namespace velmora::jet {

using PageList = std::vector<std::pair<std::uint32_t, const Page*>>;

// What an add is about to do to the file: its length before and after, the
// original bytes of the existing pages it changes, and every page it writes
// with its new bytes.
struct JournalPlan {
    std::uint64_t originalSize = 0;
    std::uint64_t finalSize = 0;
    PageList originals;
    PageList written;
};

// Writes the journal `name` in the folder `folderFd` (created exclusively,
// never through a link, readable by no one the catalogue `fileFd` is not),
// flushes it and the folder.
void writeJournal(int folderFd, const std::string& name, int fileFd, const JournalPlan& plan);

// Removes the journal of a completed add and flushes the folder.
void removeJournal(int folderFd, const std::string& name);

// When the journal `name` is there and is ours: checks the file `fileFd`
// against it (3), restores the original pages and length, flushes the file,
// then removes the journal. Returns whether there was a journal of ours.
// When `mustBeOurs` is false a file of that name that is not our journal is
// someone else's (SQLite's own journal has the old name) and is left alone;
// otherwise it is refused.
bool rollBackJournal(int folderFd, const std::string& name, int fileFd, bool mustBeOurs = true);

} // namespace velmora::jet
