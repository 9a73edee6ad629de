#pragma once

#include <string>
#include <vector>

namespace velmora {

// The outcome of making a collection: empty on success, else a one-line reason.
struct InitResult {
    std::string error;
    std::vector<std::string> lines = {}; // what a conversion did, for the terminal
    bool ok() const { return error.empty(); }
};

struct InitOptions {
    // An Access catalogue is converted into an SQLite one (else it is kept).
    bool convert = false;
    // An Access catalogue whose tables hold other row counts than their
    // definitions record is converted as found instead of refused.
    bool acceptMissingRows = false;
};

// Makes `folder` (and its parents) if needed, then "Velmora2.db" with table CD
// and the folder "Programi". An existing catalogue is kept with its rows. An
// Access catalogue is converted into an SQLite one only when `convert` asks
// (its original kept beside it); otherwise a Jet 4 one that the add can write
// in place is left as it is (an interrupted add rolled back first) with one
// line saying it is ready, and any other is refused with a line naming
// --convert. Any other "Velmora2.db" that is not an SQLite catalogue with
// table CD (or not a plain file: a FIFO, say) is refused before anything is
// touched.
InitResult initCollection(const std::string& folder, const InitOptions& options = {});

} // namespace velmora
