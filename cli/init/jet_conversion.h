#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The points of a conversion, in order, after which a test may end the process
// to see what a crash there would leave behind.
enum class ConversionStep {
    TableWritten,     // one table is in the new catalogue's open transaction
    CatalogueWritten, // the new catalogue is committed to its temporary file
    CatalogueSynced,  // ... and flushed to the disk
    CatalogueChecked, // ... and read back with the right row counts
    OriginalKept,     // the Access file is kept under its new name as well
    CatalogueInPlace, // the new catalogue is Velmora2.db
    FolderSynced,     // ... and the folder is flushed: done
};

struct ConversionHooks {
    std::function<void(ConversionStep)> afterStep;
    // False keeps the original as a flushed copy instead of a second hard
    // link, as on file systems without hard links (vfat, exfat).
    bool hardLinks = true;
    // A table whose rows found differ from the count its definition records
    // is converted as found (the summary says so) instead of refused.
    bool acceptMissingRows = false;
};

// The new catalogue is written to this temporary file in the collection
// folder; a leftover of an interrupted run is removed by the next run.
inline constexpr std::string_view kConvertingName = "Velmora2.db.converting";
// Where the original is copied before it gets its name, where it must be copied.
inline constexpr std::string_view kKeepingName = "Velmora2.db.keeping";

struct ConversionResult {
    std::string error;              // empty on success; else one line
    std::vector<std::string> lines; // the summary: one line per table, then the original's name
    bool ok() const { return error.empty(); }
};

// Converts FOLDER/Velmora2.db, an Access (Jet 3 or Jet 4) catalogue, into an
// SQLite catalogue with every user table, column and row, and keeps the
// original byte for byte as "Velmora2.jet4.db" (or the next free name) beside
// it. At every moment Velmora2.db is either the untouched original or the
// complete new catalogue. A refused file leaves the folder as it was. A table
// whose rows differ from the count its definition records is refused unless
// hooks.acceptMissingRows.
ConversionResult convertAccessCatalogue(const std::string& folder,
                                        const ConversionHooks& hooks = {});

// "1,234": row counts in the summary.
std::string groupedCount(std::uint64_t count);

} // namespace velmora
