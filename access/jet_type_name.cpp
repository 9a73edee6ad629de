#include "access/jet_type_name.h"

#include "access/jet_table_definition.h"

namespace velmora::jet {

std::string jetTypeName(unsigned type) {
    switch (type) {
    case kBoolean:
        return "Yes/No";
    case kByte:
        return "Byte";
    case kInteger:
        return "Integer";
    case kLong:
        return "Long Integer";
    case kCurrency:
        return "Currency";
    case kSingle:
        return "Single";
    case kDouble:
        return "Double";
    case kDateTime:
        return "Date/Time";
    case kBinary:
        return "Binary";
    case kText:
        return "Text";
    case kOle:
        return "OLE Object";
    case kMemo:
        return "Memo";
    case kGuid:
        return "Replication ID";
    case kNumeric:
        return "Decimal";
    default:
        return "unknown type " + std::to_string(type);
    }
}

} // namespace velmora::jet
