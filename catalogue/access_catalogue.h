#pragma once

#include "catalogue/failure.h"

#include <cstdint>
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

// A row the engine itself would refuse (a duplicate key, a broken validation
// rule, a missing related record, ...), in the engine's number and words.
// Nothing has been written; the entry is refused, not failed.
struct EngineRefusal {
    std::int32_t number = 0;
    std::string text;
};

// Adds one row with the three values to table CD of the Jet 4 catalogue
// "Velmora2.db" in `applicationFolder`, after rolling back an interrupted
// earlier add. Throws EngineRefusal for what the engine would refuse (nothing
// is written), and Failure for what the add cannot write (the text names it and
// `velmora2-init --convert`) or a read or write that failed (errno). A failure
// after the row is stored (the journal or the folder that could not be
// flushed) is returned instead: the row is there, and adding it again would
// store it twice.
std::optional<Failure> insertIntoAccessCatalogue(const std::string& applicationFolder,
                                                 std::string_view kategorija,
                                                 std::string_view program, std::string_view opis);

// Checks, without writing anything, that insertIntoAccessCatalogue would add
// the row; throws the Failure it would throw.
void checkAccessCatalogueRow(const std::string& applicationFolder, std::string_view kategorija,
                             std::string_view program, std::string_view opis);

} // namespace velmora
