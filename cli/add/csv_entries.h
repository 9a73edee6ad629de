#pragma once

#include "cli/add/add_entry.h"
#include "cli/add/csv_reader.h"
#include "cli/add/list_decoder.h"
#include "cli/add/list_input.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// The entries of a CSV list, read in two passes so that no list is ever held
// in memory: opening it checks the whole list's form (a list with any fault of
// form is refused whole, so that nothing is added from it), then next() reads
// the entries again one at a time.
//
// The first row names the columns Kategorija, Program, Opis, Source and
// Slika, in any order and letter case, separated by commas, semicolons or
// tabs: whichever splits it into those names. Every row must have one field
// per column. A relative path in Source or Slika is taken relative to the
// list's folder; a blank one is kept as it is, for the add to refuse.
class CsvList {
public:
    // Reads the file `name` ("-": standard input, and relative paths are
    // taken from the current folder), decoded from `encoding` (empty: UTF-8,
    // or UTF-16 when its byte order mark says so).
    CsvList(const std::string& name, std::string encoding);
    // Reads `input`, with relative paths taken from `folder` (unless empty).
    CsvList(ListInput input, std::string folder, std::string encoding);
    // Its reading holds on to its input.
    CsvList(const CsvList&) = delete;
    CsvList& operator=(const CsvList&) = delete;

    // Empty while the list can be used; else why not, after the list's name.
    const std::string& error() const { return m_error; }
    bool ok() const { return m_error.empty(); }
    // How many entries the list holds.
    int size() const { return m_size; }

    // The next entry of the second pass; none at the end, or when the list
    // turns out to have changed since it was checked (then error() says so).
    std::optional<AddEntry> next();

private:
    struct Pass {
        std::unique_ptr<ListDecoder> decoder;
        std::unique_ptr<CsvReader> reader;
        std::vector<Field> columns; // what each field of a row holds
    };
    std::optional<Pass> startPass();
    void fail(const std::string& error);

    ListInput m_input;
    std::string m_folder;
    std::string m_encoding;
    std::optional<Pass> m_pass;
    int m_size = 0;
    std::string m_error;
};

} // namespace velmora
