#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// The one failure value of the add operation: a signed 32-bit number and a
// description. Thrown inside a run and caught by its handler, never beyond it.
struct Failure {
    std::int32_t number = 0;
    std::string description;
};

} // namespace velmora
