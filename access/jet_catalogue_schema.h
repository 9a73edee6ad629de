#pragma once

#include "access/jet_page_file.h"
#include "access/jet_table_definition.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

// What the database's catalogue (the system table on page 2) says of one
// table: where its definition lies and the design properties of the table
// and its columns, read by our own bounded walk of the catalogue's rows.
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
    // Every table's name by the page of its definition (a relationship names
    // its other table by that page).
    std::map<std::uint32_t, std::string> tableNames;
    // By column name folded to ASCII lower case.
    std::map<std::string, ColumnProperties> columns;
};

// The schema of the live table named `table` (in any letter case). Throws
// JetWriteError: Damaged when the catalogue cannot be walked, or (number
// kJetNoSuchTable) when it has no such table; Unsupported when that name is
// a query or a linked table.
CatalogueSchema readCatalogueSchema(PageFile& file, std::string_view table);

// ASCII letters in lower case: how Jet names compare here.
std::string foldName(std::string name);

} // namespace velmora::jet
