#pragma once

#include "access/jet_write_error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Adding one row to table CD of an Access 2000 (Jet 4) catalogue in place, so
// the Windows programs that share the collection keep reading it. No library
// writes Jet from C or C++ (libmdb only reads, and reads pages with no
// bounds), so the pages are read and written here, through our own bounded
// walks; nothing on this path links libmdb. Every failure is a JetWriteError;
// a refusal happens before any byte changes.
//
// The invariants the writer keeps (the code and tests name them by number):
//  1. Nothing is written before everything is read and checked: the header,
//     the catalogue's row for the table and its properties, the table's
//     definition, and what the add relies on along its way (the row count
//     against the live rows on the pages it looks at and below the engine's
//     limit, entries in order and leaves linked both ways along each index
//     path, no key twice in a unique index). A failed check is Damaged, in
//     one line; the file stays byte for byte.
//  2. Pages are written in an order a reader can survive at every point:
//     the journal first (complete and flushed), then the appended pages
//     (flushed), then the changed pages stage by stage, each stage flushed:
//     rows, maps, index pages, the table definition last (PageFile's
//     WriteStage). So nothing ever points at a page not yet written.
//  3. The lock (flock on the catalogue's descriptor) is held from before
//     the journal is looked at until the journal is removed: a second add or
//     roll-back waits for it.
//  4. A journal found at the next open is rolled back before anything is
//     read; it is removed only after the file is restored and flushed.
//  5. Maps: a table's page map has a set bit for each page it owns, its room
//     map for each of those with room, an index's page map for each of its
//     pages; the file's map of free pages (page 1, row 0) has a set bit for
//     each free page. Every page the add appends lies inside the reach of
//     the free-page map with its bit clear (PageAllocator), so it is in use
//     whether a reader takes a page outside the reach as free or in use.
//  6. Every index of the table gets the new row's entry in key order, its
//     count of distinct keys and root kept true in the definition.
namespace velmora::jet {

// The three values the add names, as UTF-8. Every other column of CD gets
// NULL or the default its properties give (a constant, Date() or Now()).
struct CatalogueRow {
    std::string_view kategorija;
    std::string_view program;
    std::string_view opis;
};

struct JetInsertResult {
    std::optional<std::int32_t> autonumber; // the value CD's autonumber column got
    std::uint32_t rowCount = 0;             // the rows CD records afterwards
};

// Inserts `row` into table CD of the file `fileName` inside the folder open
// as `folderFd`. Neither the file nor its journal is reached through a
// symbolic link. The file is locked for the whole add (a second add waits);
// an interrupted earlier add is rolled back first. Before the first page
// changes, the original pages go into the journal `journalName(fileName)`
// beside the file and are flushed; the journal is removed when the file is
// complete and flushed. Another program that has the file open (its user
// lock held in the lock file beside it) is waited for briefly, then the add
// is refused (InUse); while adding, the add holds a user lock and entry of
// its own and the write locks of the pages it writes. A failure after the
// row is stored is AfterCommit.
JetInsertResult insertCatalogueRow(int folderFd, std::string_view fileName,
                                   const CatalogueRow& row);

// Checks, without writing, that insertCatalogueRow can add to this file: it
// throws the Unsupported or Damaged error an add would throw. Rolls back an
// interrupted add like any open.
void checkCatalogueWritable(int folderFd, std::string_view fileName);

// Restores the pages of an add that was interrupted, when its journal is
// there, and removes the journal. Returns whether there was one; without a
// journal the catalogue is not even opened (it may be on a read-only disc).
// Every program of ours calls it (or an add) before it reads an Access
// catalogue.
bool recoverInterruptedInsert(int folderFd, std::string_view fileName);

// "Velmora2.db" -> "Velmora2.db-vjournal", a name no other engine gives its
// journal.
std::string journalName(std::string_view fileName);
// "Velmora2.db" -> "Velmora2.db-journal": where an earlier version kept it,
// and where SQLite keeps its own.
std::string legacyJournalName(std::string_view fileName);

} // namespace velmora::jet
