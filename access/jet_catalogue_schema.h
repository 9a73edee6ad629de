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
    std::optional<std::string> validationText; // what the engine says when the rule is broken
};

struct CatalogueSchema {
    std::uint32_t definitionPage = 0;
    std::optional<std::string> tableValidationRule;
    std::optional<std::string> tableValidationText;
    // Every user table's name by the page of its definition (a relationship
    // names its other table by that page).
    std::map<std::uint32_t, std::string> tableNames;
    // By column name folded to ASCII lower case.
    std::map<std::string, ColumnProperties> columns;
};

// Reads the schema of table CD (its name in any letter case) from the Jet
// file at `path` (a /proc/self/fd name reads the file a caller holds).
// Throws JetWriteError (Damaged) when libmdb cannot read it or there is no
// CD, and (Unsupported) when CD is a linked table or a query.
CatalogueSchema readCatalogueSchema(const std::string& path);

// ASCII letters in lower case: how Jet names compare here.
std::string foldName(std::string name);

} // namespace velmora::jet
