#pragma once

#include <string>

namespace velmora::jet {

// A column type's name as Access's table design shows it ("Long Integer",
// "Memo", "Decimal", ...).
std::string jetTypeName(unsigned type);

} // namespace velmora::jet
