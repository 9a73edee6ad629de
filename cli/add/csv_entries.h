#pragma once

#include "cli/add/add_entry.h"

#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The entries of a CSV list, or why the list cannot be used. A list with any
// fault of form is refused whole, so that nothing is added from it.
struct CsvEntries {
    std::vector<AddEntry> entries;
    std::string error; // empty when the list can be used
    bool ok() const { return error.empty(); }
};

// Reads an RFC 4180 text in UTF-8 (a leading byte order mark is skipped).
// The first row names the columns Kategorija, Program, Opis, Source and Slika,
// in any order and letter case; every row must have one field per column.
// A relative path in Source or Slika is taken relative to `folder` (unless
// `folder` is empty); a blank one is kept as it is, for the add to refuse.
CsvEntries parseCsvEntries(std::string_view text, const std::string& folder);

// Reads the file `name` ("-": standard input) and parses it, with relative
// paths taken from the file's folder (standard input: the current folder).
CsvEntries readCsvEntries(const std::string& name);

} // namespace velmora
