#include "cli/add/csv_entries.h"

#include "catalogue/entry_checks.h"
#include "catalogue/windows_name.h"

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>

namespace velmora {
namespace {

struct Column {
    std::string_view name;
    Field field;
};
constexpr std::array<Column, 5> kColumns = {{
    {"Kategorija", Field::Kategorija},
    {"Program", Field::Program},
    {"Opis", Field::Opis},
    {"Source", Field::Source},
    {"Slika", Field::Slika},
}};
constexpr std::string_view kColumnList = "Kategorija, Program, Opis, Source and Slika";

struct Separator {
    char character;
    std::string_view plural;
};
constexpr std::array<Separator, 3> kSeparators = {
    {{',', "commas"}, {';', "semicolons"}, {'\t', "tabs"}}};

// A header row is a few names; text beyond this without a line break is no header.
constexpr std::size_t kLongestHeader = 64 * 1024;

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Which field each column holds, or why the header cannot be used.
std::optional<std::string> readHeader(const CsvRow& header, std::vector<Field>& fields) {
    std::array<bool, kColumns.size()> seen{};
    for (const CsvField& cell : header.fields) {
        const std::string_view name = trimmed(cell.text);
        const auto column = std::find_if(kColumns.begin(), kColumns.end(), [&](const Column& c) {
            return sameWindowsName(c.name, name);
        });
        if (column == kColumns.end()) {
            return "unknown column \"" + std::string(name) + "\"";
        }
        const auto at = static_cast<std::size_t>(column - kColumns.begin());
        if (seen[at]) {
            return "column \"" + std::string(column->name) + "\" named twice";
        }
        seen[at] = true;
        fields.push_back(column->field);
    }
    for (std::size_t i = 0; i < kColumns.size(); ++i) {
        if (!seen[i]) {
            return "missing column \"" + std::string(kColumns[i].name) + "\"";
        }
    }
    return std::nullopt;
}

// The separator that splits the header row (the first row of `text`, which
// holds nothing after it) into the known columns, and what they hold; or why
// none does.
struct HeaderChoice {
    char separator = ',';
    std::vector<Field> columns;
    std::string error;
};
HeaderChoice chooseSeparator(const std::string& text) {
    // The trial that came nearest: it split the header most.
    std::optional<HeaderChoice> nearest;
    std::size_t nearestCount = 0;
    std::string firstFault;
    int headerLine = 1;
    for (const Separator& separator : kSeparators) {
        CsvReader reader(nullptr, text, separator.character);
        const std::optional<CsvRow> header = reader.next();
        if (!header) {
            if (firstFault.empty()) {
                firstFault = reader.fault().empty() ? "no header row" : reader.fault();
            }
            continue;
        }
        headerLine = header->line;
        HeaderChoice choice{separator.character, {}, {}};
        if (const auto error = readHeader(*header, choice.columns)) {
            choice.error = "line " + std::to_string(header->line) + ": " + *error +
                           " in a header split at " + std::string(separator.plural) +
                           "; the columns are " + std::string(kColumnList);
            if (header->fieldCount > 1 && header->fieldCount > nearestCount) {
                nearest = std::move(choice);
                nearestCount = header->fieldCount;
            }
            continue;
        }
        return choice;
    }
    if (nearest) {
        return *nearest;
    }
    HeaderChoice none;
    none.error = !firstFault.empty()
                     ? firstFault
                     : "line " + std::to_string(headerLine) +
                           ": no comma, semicolon or tab splits the header into the columns " +
                           std::string(kColumnList);
    return none;
}

std::string relativeTo(const std::string& folder, std::string path) {
    if (folder.empty() || isBlank(path) || path.front() == '/') {
        return path;
    }
    return folder + "/" + path;
}

} // namespace

CsvList::CsvList(const std::string& name, std::string encoding)
    : CsvList(ListInput::open(name),
              name == "-" ? std::string() : std::filesystem::path(name).parent_path().string(),
              std::move(encoding)) {}

CsvList::CsvList(ListInput input, std::string folder, std::string encoding)
    : m_input(std::move(input)), m_folder(std::move(folder)), m_encoding(std::move(encoding)) {
    if (!m_input.error().empty()) {
        fail(m_input.error());
        return;
    }
    // The first pass: the form of every row, nothing kept.
    std::optional<Pass> pass = startPass();
    if (!pass) {
        return;
    }
    while (const std::optional<CsvRow> row = pass->reader->next()) {
        if (row->fieldCount != pass->columns.size()) {
            fail("line " + std::to_string(row->line) + ": " + std::to_string(row->fieldCount) +
                 (row->fieldCount == 1 ? " field" : " fields") + " where the header names " +
                 std::to_string(pass->columns.size()));
            return;
        }
        if (m_size == INT_MAX) {
            fail("more than " + std::to_string(INT_MAX) + " entries");
            return;
        }
        ++m_size;
    }
    if (!pass->reader->fault().empty()) {
        fail(pass->reader->fault());
    }
}

std::optional<CsvList::Pass> CsvList::startPass() {
    Pass pass;
    pass.decoder = std::make_unique<ListDecoder>(m_input, m_encoding);
    // The text up to the end of the header row, which decides the separator.
    std::string text;
    std::size_t headerEnd = std::string::npos;
    for (std::string piece; headerEnd == std::string::npos;) {
        const std::size_t start = text.find_first_not_of("\r\n");
        if (start != std::string::npos) {
            headerEnd = text.find_first_of("\r\n", start);
            if (headerEnd != std::string::npos || text.size() - start > kLongestHeader) {
                break;
            }
        }
        if (!pass.decoder->read(piece)) {
            if (!pass.decoder->fault().empty()) {
                // Told where it lies by reading up to it.
                CsvReader reader(pass.decoder.get(), text, ',');
                while (reader.next()) {
                }
                fail(reader.fault().empty() ? pass.decoder->fault() : reader.fault());
                return std::nullopt;
            }
            break;
        }
        text += piece;
    }
    HeaderChoice header = chooseSeparator(text.substr(0, headerEnd));
    if (!header.error.empty()) {
        fail(header.error);
        return std::nullopt;
    }
    pass.columns = std::move(header.columns);
    pass.reader =
        std::make_unique<CsvReader>(pass.decoder.get(), std::move(text), header.separator);
    pass.reader->next(); // the header row
    return pass;
}

std::optional<AddEntry> CsvList::next() {
    if (!ok()) {
        return std::nullopt;
    }
    if (!m_pass) {
        if (!m_input.rewind()) {
            fail(m_input.error());
            return std::nullopt;
        }
        m_pass = startPass();
        if (!m_pass) {
            return std::nullopt;
        }
    }
    std::optional<CsvRow> row = m_pass->reader->next();
    if (!row) {
        // A fault here that the first pass did not see: the input's own.
        if (!m_pass->reader->fault().empty()) {
            fail(m_pass->reader->fault());
        }
        return std::nullopt;
    }
    if (row->fieldCount != m_pass->columns.size()) {
        fail("line " + std::to_string(row->line) + ": the list changed while it was read");
        return std::nullopt;
    }
    AddEntry entry;
    entry.line = row->line;
    for (std::size_t c = 0; c < m_pass->columns.size(); ++c) {
        CsvField& field = row->fields[c];
        const Field column = m_pass->columns[c];
        if (field.length > CsvReader::kLongestField && entry.refusal.empty()) {
            const auto named = std::find_if(kColumns.begin(), kColumns.end(),
                                            [&](const Column& c) { return c.field == column; });
            entry.refusal = std::string(named->name) + ": " + std::to_string(field.length) +
                            " bytes, longer than a path can be (" +
                            std::to_string(CsvReader::kLongestField) + ")";
        }
        entry.text(column) = std::move(field.text);
    }
    for (const Field path : {Field::Source, Field::Slika}) {
        entry.text(path) = relativeTo(m_folder, std::move(entry.text(path)));
    }
    return entry;
}

void CsvList::fail(const std::string& error) {
    m_error = m_input.shownName().empty() ? error : m_input.shownName() + ": " + error;
}

} // namespace velmora
