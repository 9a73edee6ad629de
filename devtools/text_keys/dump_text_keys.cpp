// Prints every entry of every index on a text or memo column of a Jet 4 file,
// read with the writer's own page reader: one line per entry,
//   TDEF-PAGE <tab> INDEX <tab> COLUMNS <tab> VALUES <tab> KEY
// COLUMNS lists each key column as type:a (ascending) or type:d, and the
// column's sort order (id.version); VALUES gives each column's value (text as
// UTF-16 code units of four hex digits, other values as the row stores them,
// "-" for NULL); KEY is the entry's key in hex, without its row pointer.
// With --check, prints instead each key of an index with a text column in the
// "General" order that the encoder does not give exactly, and a count.
// A measuring tool for the sort order's weights: never part of the build's
// tests.
#include "access/jet_index_key.h"
#include "access/jet_index_tree.h"
#include "access/jet_page_allocator.h"
#include "access/jet_pages.h"
#include "access/jet_row_encoding.h"
#include "access/jet_table_definition.h"
#include "access/jet_text_key.h"
#include "access/jet_values.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

using namespace velmora::jet;

std::string hex(Bytes bytes) {
    std::string out;
    char digits[3];
    for (const unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        out += digits;
    }
    return out;
}

std::string textHex(const std::string& utf8) {
    std::string out;
    char digits[5];
    for (const char16_t unit : utf16FromUtf8(utf8)) {
        std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(unit));
        out += digits;
    }
    return out;
}

// The bytes of one column of a Jet 4 row; nothing for NULL.
std::optional<Bytes> field(Bytes row, const ColumnDefinition& column) {
    const std::size_t count = getLe16(row, 0);
    const std::size_t mask = (count + 7) / 8;
    const Bytes nulls = row.subspan(row.size() - mask);
    if (column.number >= count || ((nulls[column.number / 8] >> (column.number % 8)) & 1U) == 0) {
        return std::nullopt;
    }
    if (column.fixed()) {
        return row.subspan(2 + column.fixedOffset, column.length);
    }
    const std::size_t varCount = getLe16(row, row.size() - mask - 2);
    if (column.varIndex >= varCount) {
        return std::nullopt;
    }
    const auto offset = [&](std::size_t i) { return getLe16(row, row.size() - mask - 4 - 2 * i); };
    const std::size_t from = offset(column.varIndex);
    const std::size_t to = offset(column.varIndex + 1);
    if (from > to || to > row.size()) {
        throw std::runtime_error("a row with impossible offsets");
    }
    return row.subspan(from, to - from);
}

// The row an index entry points to, where an overflow pointer sends it.
Bytes liveRow(PageFile& file, std::uint32_t pageRow) {
    for (int hop = 0; hop < 2; ++hop) {
        const Page& page = file.page(pageRow >> 8, "a row");
        const auto span = rowSpan(kJet4Format, page, pageRow & 0xFF);
        if (!span || ((span->flags & kDeletedRow) != 0 && (span->flags & kOverflowRow) == 0)) {
            break;
        }
        const Bytes row = Bytes(page).subspan(span->start, span->length);
        if ((span->flags & kOverflowRow) == 0) {
            return row;
        }
        pageRow = getLe32(row, 0);
    }
    throw std::runtime_error("an index entry names no row");
}

struct Tally {
    bool check = false;
    long same = 0;
    long differ = 0;
    long unknown = 0;
};

// One key column of a row, for the encoder: its type, order and value.
struct KeyPart {
    unsigned type = 0;
    bool ascending = true;
    std::optional<std::vector<unsigned char>> bytes; // as the row stores it
    std::optional<std::string> text;                 // text and memo, UTF-8
    bool generalOrder = true;
};

// Compares the key of an entry with the one the encoder gives its row.
void checkKey(Tally& tally, const std::vector<KeyPart>& parts, Bytes key) {
    std::vector<unsigned char> expected;
    std::string shown;
    for (const KeyPart& part : parts) {
        if (part.type == kBoolean || !part.generalOrder) {
            return;
        }
        if (part.type == kText || part.type == kMemo) {
            std::optional<std::u16string> text;
            if (part.text) {
                text = utf16FromUtf8(*part.text);
                shown += (shown.empty() ? "" : ",") + textHex(*part.text);
            }
            if (appendTextKeyColumn(expected, text, part.ascending)) {
                ++tally.unknown;
                return;
            }
        } else {
            appendKeyColumn(expected, part.type,
                            part.bytes ? FieldValue::of(*part.bytes) : FieldValue{},
                            part.ascending);
        }
    }
    if (std::equal(expected.begin(), expected.end(), key.begin(), key.end())) {
        ++tally.same;
    } else {
        ++tally.differ;
        std::printf("differs\t%s\t%s\t%s\n", shown.c_str(), hex(key).c_str(),
                    hex(expected).c_str());
    }
}

void dumpTable(PageFile& file, std::uint32_t tdef, Tally& tally) {
    const PageSource source = [&file](std::uint32_t number) {
        return std::span<const unsigned char>(file.page(number, "a page"));
    };
    TableDefinition table =
        readTableDefinition(kJet4Format, file.pageCount(), tdef, source, "a table");
    readIndexDefinitions(kJet4Format, table, "a table");
    PageAllocator allocator(file);
    for (std::size_t i = 0; i < table.realIndexes.size(); ++i) {
        const RealIndex& index = table.realIndexes[i];
        std::vector<const ColumnDefinition*> parts;
        bool text = false;
        std::string described;
        for (const IndexColumn& part : index.columns) {
            for (const ColumnDefinition& column : table.columns) {
                if (column.number == part.column) {
                    parts.push_back(&column);
                    text = text || column.type == kText || column.type == kMemo;
                    described += (described.empty() ? "" : ",") + std::to_string(column.type) +
                                 (part.ascending ? ":a:" : ":d:") +
                                 std::to_string(column.sortOrder) + "." +
                                 std::to_string(column.sortVersion);
                }
            }
        }
        if (!text || parts.size() != index.columns.size()) {
            continue;
        }
        IndexTree tree(file, table, i, allocator);
        for (const auto& entry : tree.entries()) {
            const std::uint32_t pageRow = getBe(entry, entry.size() - 4, 3) << 8 | entry.back();
            Bytes row = liveRow(file, pageRow);
            std::string values;
            std::vector<KeyPart> keyParts;
            for (std::size_t k = 0; k < parts.size(); ++k) {
                const ColumnDefinition* column = parts[k];
                std::string lastText;
                const std::optional<Bytes> bytes = field(row, *column);
                std::string value = "-";
                if (bytes && column->type == kText) {
                    lastText = utf8FromJetText(*bytes);
                    value = textHex(lastText);
                } else if (bytes && column->type == kMemo) {
                    const std::string memo =
                        readLongValue(kJet4Format, file.pageCount(), *bytes, source, "a memo");
                    lastText = utf8FromJetText(std::span<const unsigned char>(
                        reinterpret_cast<const unsigned char*>(memo.data()), memo.size()));
                    value = textHex(lastText);
                } else if (bytes) {
                    value = hex(*bytes);
                }
                values += (values.empty() ? "" : ",") + value;
                KeyPart part{column->type, index.columns[k].ascending, std::nullopt, std::nullopt,
                             column->sortOrder == kGeneralSortOrder &&
                                 column->sortVersion == kGeneralSortVersion};
                if (bytes) {
                    part.bytes.emplace(bytes->begin(), bytes->end());
                    if (column->type == kText || column->type == kMemo) {
                        part.text = lastText;
                    }
                }
                keyParts.push_back(std::move(part));
            }
            if (tally.check) {
                checkKey(tally, keyParts, Bytes(entry).first(entry.size() - 4));
                continue;
            }
            std::printf("%u\t%zu\t%s\t%s\t%s\n", tdef, i, described.c_str(), values.c_str(),
                        hex(Bytes(entry).first(entry.size() - 4)).c_str());
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    Tally tally;
    tally.check = argc == 3 && std::string(argv[1]) == "--check";
    if (argc != 2 && !tally.check) {
        std::fprintf(stderr, "usage: dump_text_keys [--check] FILE.mdb\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    PageFile file(fd, kJet4Format, path);
    for (std::uint32_t page = 1; page < file.pageCount(); ++page) {
        const Page& raw = file.page(page, "a page");
        // A table definition's page; a continuation fails to read as a whole one.
        if (raw[0] != 0x02) {
            continue;
        }
        try {
            dumpTable(file, page, tally);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "page %u: %s\n", page, error.what());
        }
    }
    ::close(fd);
    if (tally.check) {
        std::printf("%ld keys as measured, %ld differ, %ld with unknown characters\n", tally.same,
                    tally.differ, tally.unknown);
        return tally.differ == 0 ? 0 : 1;
    }
    return 0;
}
