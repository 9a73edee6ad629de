#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

namespace jet {
class JetReader;
}

// A new SQLite catalogue that cannot be written or does not read back as
// written; the text says why.
class CatalogueWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What became of one Jet table.
struct ConvertedTable {
    std::string name;
    std::uint64_t rows = 0;         // the rows read from the Jet file and written
    std::uint32_t recordedRows = 0; // the count the Jet table definition records
    // The autonumber column, when the table has one. It becomes the table's
    // INTEGER PRIMARY KEY AUTOINCREMENT, which continues Jet's numbering,
    // unless its values repeat or are missing: then it is an ordinary column.
    std::string autonumberColumn;
    bool autonumberIsKey = false;
};

// Writes every table of `reader`, each column and row, into the empty SQLite
// file at `path` (the caller's own file, named through /proc/self/fd so that
// links above the collection folder are followed and the file itself is the
// one the caller made), in one transaction. `tableWritten` runs after each table,
// inside the transaction. Throws CatalogueWriteError or jet::JetError.
std::vector<ConvertedTable> writeConvertedCatalogue(const std::string& path, jet::JetReader& reader,
                                                    const std::function<void()>& tableWritten);

// Reads the finished file back: it must pass SQLite's quick check and hold
// exactly the rows written to each table. Throws CatalogueWriteError.
void checkConvertedCatalogue(const std::string& path, const std::vector<ConvertedTable>& tables);

} // namespace velmora
