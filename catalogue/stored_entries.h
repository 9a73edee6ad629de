#pragma once

#include <string>
#include <vector>

namespace velmora {

// One row of table CD as stored; a NULL reads as an empty text.
struct StoredEntry {
    std::string kategorija;
    std::string program;
    std::string opis;
    bool operator==(const StoredEntry&) const = default;
};

// Every row of table CD in the catalogue "Velmora2.db" of `folder`, in the
// order the file keeps them; SQLite or Access (Jet 3 or Jet 4). Nothing is
// written: the file is opened read-only, so a catalogue on a disc reads too.
// The rows are read whole while the catalogue is held for reading (an add
// waits that long), and the hold ends before the caller sees them, so a slow
// reader of the list never keeps an add waiting. An Access catalogue with an
// interrupted add is rolled back first, as every program of ours does before
// reading one. Throws Failure: SQLite's number and message, or errno and the
// reason.
std::vector<StoredEntry> readStoredEntries(const std::string& folder);

} // namespace velmora
