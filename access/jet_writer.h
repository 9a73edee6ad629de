#pragma once

#include "access/jet_write_error.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Adding one row to table CD of an Access 2000 (Jet 4) catalogue in place, so
// the Windows programs that share the collection keep reading it. No library
// writes Jet from C or C++ (libmdb only reads), so the pages are written here.
// Every failure is a JetWriteError; a refusal happens before any byte changes.
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
// complete and flushed.
JetInsertResult insertCatalogueRow(int folderFd, std::string_view fileName,
                                   const CatalogueRow& row);

// Checks, without writing, that insertCatalogueRow can add to this file: it
// throws the Unsupported or Damaged error an add would throw. Rolls back an
// interrupted add like any open.
void checkCatalogueWritable(int folderFd, std::string_view fileName);

// Checks, without writing a byte, that insertCatalogueRow would add `row`:
// the file opened for writing and locked, and every check and refusal of the
// insert made on the pages prepared in memory. A journal of an interrupted add
// is not rolled back (that is a write): it is reported as an Io error.
void checkCatalogueRow(int folderFd, std::string_view fileName, const CatalogueRow& row);

// Restores the pages of an add that was interrupted, when its journal is
// there, and removes the journal. Returns whether there was one; without a
// journal the catalogue is not even opened (it may be on a read-only disc).
// Every program of ours calls it (or an add) before it reads an Access
// catalogue.
bool recoverInterruptedInsert(int folderFd, std::string_view fileName);

// "Velmora2.db" -> "Velmora2.db-journal".
std::string journalName(std::string_view fileName);

} // namespace velmora::jet
