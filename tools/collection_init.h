#pragma once

#include <string>

namespace velmora {

// The outcome of making a collection: empty on success, else a one-line reason.
struct InitResult {
    std::string error;
    bool ok() const { return error.empty(); }
};

// Makes `folder` (and its parents) if needed, then "Velmora2.db" with table CD
// and the folder "Programi". An existing catalogue is kept with its rows; a
// "Velmora2.db" that is not an SQLite catalogue with table CD is refused
// before anything is touched.
InitResult initCollection(const std::string& folder);

} // namespace velmora
