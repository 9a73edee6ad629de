#pragma once

#include <stdexcept>

namespace velmora::jet {

// A file that cannot be read as a Jet database: the text says why, in words
// fit for a one-line error.
class JetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace velmora::jet
