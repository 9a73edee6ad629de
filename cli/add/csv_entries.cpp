#include "cli/add/csv_entries.h"

#include "catalogue/entry_checks.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <csv.h>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace velmora {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

// libcsv's parser state, freed on every way out.
class CsvParser {
public:
    CsvParser() {
        // CSV_STRICT refuses a stray quote; CSV_STRICT_FINI a quote left open
        // at the end of the text.
        csv_init(&m_parser, CSV_STRICT | CSV_STRICT_FINI);
        // RFC 4180 keeps spaces as part of a field; libcsv trims them unless
        // told that no character is a space.
        csv_set_space_func(&m_parser, [](unsigned char) { return 0; });
    }
    ~CsvParser() { csv_free(&m_parser); }
    CsvParser(const CsvParser&) = delete;
    CsvParser& operator=(const CsvParser&) = delete;

    csv_parser* get() { return &m_parser; }

private:
    csv_parser m_parser{};
};

// The rows as libcsv hands them over, each with the line it starts on.
struct Rows {
    std::vector<std::vector<std::string>> rows;
    std::vector<int> lines;
    std::vector<std::string> current;
    int currentLine = 1;
    int rowLine = 1;
    bool betweenRows = true;

    static void field(void* bytes, std::size_t length, void* data) {
        static_cast<Rows*>(data)->current.emplace_back(static_cast<const char*>(bytes), length);
    }
    static void rowEnd(int /*terminator*/, void* data) {
        auto& self = *static_cast<Rows*>(data);
        self.rows.push_back(std::move(self.current));
        self.lines.push_back(self.rowLine);
        self.current.clear();
        self.betweenRows = true;
    }
};

// Splits the text into rows. libcsv does not say where a row starts, so the
// text is handed over one byte at a time and the line breaks are counted here:
// a row starts at the first byte after the previous row that is not a line
// break (libcsv skips empty lines), and CR LF, LF and a lone CR each end a line.
std::optional<std::string> splitRows(std::string_view text, Rows& rows) {
    CsvParser parser;
    char previous = '\0';
    for (const char byte : text) {
        const bool lineBreak = byte == '\n' || byte == '\r';
        if (rows.betweenRows && !lineBreak) {
            rows.rowLine = rows.currentLine;
            rows.betweenRows = false;
        }
        if (csv_parse(parser.get(), &byte, 1, &Rows::field, &Rows::rowEnd, &rows) != 1) {
            return "line " + std::to_string(rows.currentLine) + ": " +
                   csv_strerror(csv_error(parser.get()));
        }
        if (byte == '\r' || (byte == '\n' && previous != '\r')) {
            ++rows.currentLine;
        }
        previous = byte;
    }
    if (csv_fini(parser.get(), &Rows::field, &Rows::rowEnd, &rows) != 0) {
        return "line " + std::to_string(rows.rowLine) + ": a quoted field is never closed";
    }
    return std::nullopt;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        return lower(x) == lower(y);
    });
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Which field each column holds, or why the header cannot be used.
std::optional<std::string> readHeader(const std::vector<std::string>& header,
                                      std::vector<Field>& fields) {
    std::array<bool, kColumns.size()> seen{};
    for (const std::string& cell : header) {
        const std::string_view name = trimmed(cell);
        const auto column = std::find_if(kColumns.begin(), kColumns.end(),
                                         [&](const Column& c) { return sameName(c.name, name); });
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

std::string relativeTo(const std::string& folder, std::string path) {
    if (folder.empty() || isBlank(path) || path.front() == '/') {
        return path;
    }
    return folder + "/" + path;
}

} // namespace

CsvEntries parseCsvEntries(std::string_view text, const std::string& folder) {
    if (text.starts_with(kByteOrderMark)) {
        text.remove_prefix(kByteOrderMark.size());
    }
    Rows rows;
    if (auto error = splitRows(text, rows)) {
        return {{}, std::move(*error)};
    }
    if (rows.rows.empty()) {
        return {{}, "no header row"};
    }
    std::vector<Field> fields;
    if (auto error = readHeader(rows.rows.front(), fields)) {
        return {{}, "line " + std::to_string(rows.lines.front()) + ": " + std::move(*error)};
    }

    CsvEntries result;
    result.entries.reserve(rows.rows.size() - 1);
    for (std::size_t r = 1; r < rows.rows.size(); ++r) {
        std::vector<std::string>& row = rows.rows[r];
        if (row.size() != fields.size()) {
            return {{},
                    "line " + std::to_string(rows.lines[r]) + ": " + std::to_string(row.size()) +
                        (row.size() == 1 ? " field" : " fields") + " where the header names " +
                        std::to_string(fields.size())};
        }
        AddEntry entry;
        entry.line = rows.lines[r];
        for (std::size_t c = 0; c < fields.size(); ++c) {
            entry.text(fields[c]) = std::move(row[c]);
        }
        for (const Field path : {Field::Source, Field::Slika}) {
            entry.text(path) = relativeTo(folder, std::move(entry.text(path)));
        }
        result.entries.push_back(std::move(entry));
    }
    return result;
}

CsvEntries readCsvEntries(const std::string& name) {
    const bool standardInput = name == "-";
    const std::string shownName = standardInput ? std::string("standard input") : name;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        standardInput ? fdopen(dup(STDIN_FILENO), "rb") : std::fopen(name.c_str(), "rb"),
        &std::fclose);
    if (!file) {
        return {{}, shownName + ": " + std::generic_category().message(errno)};
    }
    std::string bytes;
    std::array<char, 64 * 1024> buffer{};
    while (const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get())) {
        bytes.append(buffer.data(), got);
    }
    // A folder opens, and fails at the first read.
    if (std::ferror(file.get()) != 0) {
        return {{}, shownName + ": " + std::generic_category().message(errno)};
    }
    const std::string folder =
        standardInput ? std::string() : std::filesystem::path(name).parent_path().string();
    CsvEntries result = parseCsvEntries(bytes, folder);
    if (!result.ok()) {
        result.error = shownName + ": " + result.error;
    }
    return result;
}

} // namespace velmora
