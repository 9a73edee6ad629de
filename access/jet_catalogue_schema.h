#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// What the catalogue (MSysObjects) says of table CD: where its definition
// lies and the properties of its columns, read through libmdb.
namespace velmora::jet {

struct ColumnProperties {
    bool required = false;
    bool allowZeroLength = true;
    std::optional<std::string> defaultValue;   // as the user typed it
    std::optional<std::string> validationRule; // likewise
};

struct CatalogueSchema {
    std::uint32_t definitionPage = 0;
    std::optional<std::string> tableValidationRule;
    // By column name folded to ASCII lower case.
    std::map<std::string, ColumnProperties> columns;
};

// Reads the schema of table CD (its name in any letter case) from the Jet
// file at `path` (a /proc/self/fd name reads the file a caller holds).
// Throws JetWriteError (Damaged) when libmdb cannot read it or there is no CD.
CatalogueSchema readCatalogueSchema(const std::string& path);

// ASCII letters in lower case: how Jet names compare here.
std::string foldName(std::string name);

} // namespace velmora::jet
