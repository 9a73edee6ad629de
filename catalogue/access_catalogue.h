#pragma once

#include "catalogue/failure.h"

#include <optional>
#include <string>
#include <string_view>

// The add into a catalogue brought from Windows: an Access (Jet 4)
// Velmora2.db takes its row in place, so the collection's Windows programs
// keep reading it. Every other Access format goes the SQLite way and is
// refused there with what to do instead.
namespace velmora {

// Whether the file at `databasePath` starts as an Access 2000 (Jet 4) file.
// Its first page is never rewritten by an add, so an interrupted add does not
// change the answer.
bool isJet4Catalogue(const std::string& databasePath);

// Adds one row with the three values to table CD of the Jet 4 catalogue
// "Velmora2.db" in `applicationFolder`, after rolling back an interrupted
// earlier add. Throws Failure: for a refusal (before anything is written) the
// engine's number and our description naming the column, or what the add
// cannot write and `velmora2-init --convert`; errno for a read or write that
// failed. A failure after the row is stored (the journal or the folder that
// could not be flushed) is returned instead: the row is there, and adding it
// again would store it twice.
std::optional<Failure> insertIntoAccessCatalogue(const std::string& applicationFolder,
                                                 std::string_view kategorija,
                                                 std::string_view program, std::string_view opis);

// Checks, without writing anything, that insertIntoAccessCatalogue would add
// the row; throws the Failure it would throw.
void checkAccessCatalogueRow(const std::string& applicationFolder, std::string_view kategorija,
                             std::string_view program, std::string_view opis);

} // namespace velmora
