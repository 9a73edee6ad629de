#include "cli/list/entry_listing.h"

#include "cli/add/display_width.h"
#include "cli/add/json_text.h"
#include "cli/add/terminal_report.h"

#include <algorithm>
#include <array>

namespace velmora {
namespace {

// The widest a name or category is shown before it is shortened.
constexpr std::size_t kWidestColumn = 40;
constexpr std::size_t kFlushAt = 1 << 16;

// Collects the output and writes it in large pieces.
class Sink {
public:
    explicit Sink(std::FILE* out) : m_out(out) { m_buffer.reserve(kFlushAt * 2); }
    std::string& buffer() { return m_buffer; }
    void lineDone() {
        if (m_buffer.size() >= kFlushAt) {
            flush();
        }
    }
    bool finish() {
        flush();
        return m_ok && std::fflush(m_out) == 0;
    }

private:
    void flush() {
        if (m_ok && std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_out) != m_buffer.size()) {
            m_ok = false;
        }
        m_buffer.clear();
    }
    std::FILE* m_out;
    std::string m_buffer;
    bool m_ok = true;
};

// RFC 4180 as velmora2-add reads it: a field with a separator it might
// choose, a quote or a line break is quoted, its quotes doubled.
void appendCsvField(std::string& out, std::string_view field) {
    const auto special = [](char c) {
        return c == ',' || c == ';' || c == '\t' || c == '"' || c == '\r' || c == '\n';
    };
    if (std::none_of(field.begin(), field.end(), special)) {
        out += field;
        return;
    }
    out += '"';
    for (const char c : field) {
        if (c == '"') {
            out += '"';
        }
        out += c;
    }
    out += '"';
}

void writeText(Sink& sink, const std::vector<StoredEntry>& entries,
               const std::vector<ProgramFiles>& found) {
    struct Shown {
        std::array<std::string, 4> cells;
    };
    std::vector<Shown> rows;
    rows.reserve(entries.size() + 1);
    // The description comes last, so it is never shortened nor padded.
    rows.push_back({{"Kategorija", "Program", "Files", "Opis"}});
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoredEntry& entry = entries[i];
        rows.push_back(
            {{printable(entry.kategorija, kWidestColumn), printable(entry.program, kWidestColumn),
              filesState(found[i]), printable(entry.opis)}});
    }
    std::array<std::size_t, 4> widths{};
    std::vector<std::array<std::size_t, 4>> columns(rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c + 1 < widths.size(); ++c) {
            columns[r][c] = displayWidth(rows[r].cells[c]);
            widths[c] = std::max(widths[c], columns[r][c]);
        }
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::string& out = sink.buffer();
        for (std::size_t c = 0; c < widths.size(); ++c) {
            out += rows[r].cells[c];
            if (c + 1 < widths.size()) {
                out.append(widths[c] - columns[r][c] + 2, ' ');
            }
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        out += '\n';
        sink.lineDone();
    }
}

void writeCsv(Sink& sink, const std::vector<StoredEntry>& entries,
              const std::vector<ProgramFiles>& found, const ProgramFolders& folders) {
    std::string path;
    sink.buffer() += kCsvHeader;
    sink.buffer() += "\r\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoredEntry& entry = entries[i];
        const ProgramFiles& files = found[i];
        std::string& out = sink.buffer();
        appendCsvField(out, entry.kategorija);
        out += ',';
        appendCsvField(out, entry.program);
        out += ',';
        appendCsvField(out, entry.opis);
        out += ',';
        folders.path(path, files, ProgramFile::Setup);
        appendCsvField(out, path);
        out += ',';
        folders.path(path, files, ProgramFile::Picture);
        appendCsvField(out, path);
        out += "\r\n";
        sink.lineDone();
    }
}

void writeJson(Sink& sink, const std::vector<StoredEntry>& entries,
               const std::vector<ProgramFiles>& found, const ProgramFolders& folders) {
    std::string path;
    const auto flag = [](bool value) { return value ? "true" : "false"; };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const StoredEntry& entry = entries[i];
        const ProgramFiles& files = found[i];
        std::string& out = sink.buffer();
        out += "{\"kategorija\":";
        appendJsonString(out, entry.kategorija);
        out += ",\"program\":";
        appendJsonString(out, entry.program);
        out += ",\"opis\":";
        appendJsonString(out, entry.opis);
        out += ",\"folder\":";
        folders.path(path, files);
        appendJsonString(out, path);
        out += ",\"folderFound\":";
        out += flag(files.folderFound);
        out += ",\"setup\":";
        out += flag(files.setup);
        out += ",\"picture\":";
        out += flag(files.picture);
        out += "}\n";
        sink.lineDone();
    }
}

} // namespace

std::string filesState(const ProgramFiles& files) {
    if (!files.folderFound) {
        return "no folder";
    }
    if (files.complete()) {
        return "both";
    }
    if (!files.setup && !files.picture) {
        return "neither file";
    }
    return files.setup ? "no Picture.bmp" : "no Setup.exe";
}

bool writeListing(std::FILE* out, ListFormat format, const std::vector<StoredEntry>& entries,
                  const std::vector<ProgramFiles>& found, const ProgramFolders& folders) {
    Sink sink(out);
    switch (format) {
    case ListFormat::Text:
        writeText(sink, entries, found);
        break;
    case ListFormat::Csv:
        writeCsv(sink, entries, found, folders);
        break;
    case ListFormat::Json:
        writeJson(sink, entries, found, folders);
        break;
    }
    return sink.finish();
}

} // namespace velmora
