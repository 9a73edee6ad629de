#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// What the first page of a database file says it is. Collections made on
// Windows keep their catalogue in the Access format; those are told apart by
// the signature at offset 4 and the version at 0x14.
enum class AccessFormat {
    None,       // not an Access file (an SQLite catalogue, say)
    Jet3,       // "Standard Jet DB", version 0: Access 97
    Jet4,       // "Standard Jet DB", version 1: Access 2000 to 2003 (.mdb)
    Ace,        // "Standard ACE DB": Access 2007 and later (.accdb)
    JetUnknown, // "Standard Jet DB" with a version no Access wrote
};

// The bytes needed to recognise the format: the signature and the version.
inline constexpr std::size_t kAccessHeaderSize = 0x18;

// Recognises the format from the first bytes of a file (fewer than
// kAccessHeaderSize bytes are never an Access file).
AccessFormat accessFormat(std::string_view header);

// Reads the first bytes of the file at `path`; a file that cannot be read, or
// is not a plain file, is None (it is never waited for).
AccessFormat accessFormatOfFile(const std::string& path);

// "Jet 4", "Jet 3", ".accdb": the short name used in messages.
std::string_view accessFormatName(AccessFormat format);

// What Velmora2.db is in that format and, for one the add does not write in
// place (Jet 3, .accdb, an unknown version), what to do instead.
std::string accessCatalogueDescription(AccessFormat format);

} // namespace velmora
