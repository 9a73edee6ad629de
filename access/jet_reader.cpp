#include "access/jet_reader.h"

#include "access/jet_values.h"

// mdbtools.h includes <glib.h> inside its extern "C" block; glib's C++
// templates must come first.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <deque>
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace velmora::jet {
namespace {

// A row offset keeps the row's start in its low 13 bits and two flags above.
constexpr unsigned kOffsetMask = 0x1FFF;
// A deleted row, or the relocated copy of a row that is read through the
// overflow pointer left in its old place (libmdb 1.0.0 returns these rows).
constexpr unsigned kDeletedRow = 0x8000;
// An overflow pointer: the row lives on another page (1 byte row, 3 bytes page).
constexpr unsigned kOverflowRow = 0x4000;

constexpr unsigned char kDataPage = 0x01;
constexpr unsigned char kTablePage = 0x02;
// The catalogue (MSysObjects) is defined on page 2 in Jet 3 and Jet 4.
constexpr unsigned long kCatalogueTablePage = 2;
// Usage map type 1 lists the pages that hold the map's bitmaps.
constexpr unsigned char kUsageMapOfPages = 1;
// Catalogue flags that mark a system table (as libmdb's mdb_is_system_table).
constexpr std::uint32_t kSystemObjectFlags = 0x80000002U;

// The memo/OLE field header: length and kind, then where the data lies.
constexpr std::size_t kLongValueHeader = 12;
constexpr std::uint32_t kLongValueInline = 0x80000000U;
constexpr std::uint32_t kLongValueSingle = 0x40000000U;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFFU;

struct HandleCloser {
    void operator()(MdbHandle* mdb) const noexcept { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
};
struct GFreer {
    void operator()(char* text) const noexcept { g_free(text); }
};
using TableDef = std::unique_ptr<MdbTableDef, TableFreer>;

std::uint32_t le16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8;
}
std::uint32_t le32(const unsigned char* p) {
    return le16(p) | le16(p + 2) << 16;
}

Storage storageOf(int jetType) {
    switch (jetType) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
        return Storage::Integer;
    case MDB_FLOAT:
    case MDB_DOUBLE:
        return Storage::Real;
    case MDB_MONEY:    // exact decimal text, never a rounded real
    case MDB_NUMERIC:  // likewise
    case MDB_DATETIME: // "YYYY-MM-DD HH:MM:SS"
    case MDB_TEXT:
    case MDB_MEMO:
    case MDB_REPID: // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
        return Storage::Text;
    default: // binary, OLE, and any type this reader does not know: the bytes
        return Storage::Blob;
    }
}

bool hasSystemPrefix(std::string_view name) {
    return name.size() >= 4 && g_ascii_strncasecmp(name.data(), "MSys", 4) == 0;
}

// Jet 3 text is in the database's code page; glibc's iconv turns it into UTF-8.
class CodePageText {
public:
    explicit CodePageText(unsigned codePage) {
        const std::string name = "CP" + std::to_string(codePage == 0 ? 1252 : codePage);
        m_iconv = iconv_open("UTF-8", name.c_str());
        if (m_iconv == reinterpret_cast<iconv_t>(-1)) {
            throw JetError("its code page " + name + " is not known to this system");
        }
    }
    ~CodePageText() { iconv_close(m_iconv); }
    CodePageText(const CodePageText&) = delete;
    CodePageText& operator=(const CodePageText&) = delete;

    std::string utf8(std::span<const unsigned char> bytes) const {
        iconv(m_iconv, nullptr, nullptr, nullptr, nullptr);
        std::string out(bytes.size() * 3 + 4, '\0');
        char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        std::size_t inLeft = bytes.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(m_iconv, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
                break;
            }
            if (errno != EILSEQ && errno != EINVAL) {
                break;
            }
            // A byte the code page does not define: U+FFFD, then go on.
            constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
            if (outLeft < kReplacement.size()) {
                break;
            }
            std::memcpy(outPtr, kReplacement.data(), kReplacement.size());
            outPtr += kReplacement.size();
            outLeft -= kReplacement.size();
            ++in;
            --inLeft;
        }
        out.resize(static_cast<std::size_t>(outPtr - out.data()));
        return out;
    }

private:
    iconv_t m_iconv;
};

// Where a row lies, for messages; turned into words only when one is needed.
struct Place {
    const std::string& table;
    std::uint32_t page = 0;
    unsigned row = 0;
    std::string text() const {
        return "row " + std::to_string(row) + " of page " + std::to_string(page) + " in table " +
               table;
    }
};

} // namespace

struct JetReader::State {
    std::unique_ptr<MdbHandle, HandleCloser> mdb;
    AccessFormat format = AccessFormat::None;
    std::uint32_t pageCount = 0;
    std::optional<CodePageText> codePage; // Jet 3 only
    std::vector<Table> tables;
    std::deque<MdbCatalogEntry> catalogue; // libmdb's table definitions point here
    std::vector<MdbCatalogEntry*> entries; // one per table

    // A catalogue entry as libmdb's own catalogue would hold it: enough for
    // mdb_read_table, without the object's properties (which are not converted).
    MdbCatalogEntry* entry(const std::string& name, unsigned long tablePage) {
        MdbCatalogEntry& made = catalogue.emplace_back();
        made.mdb = mdb.get();
        name.copy(made.object_name, MDB_MAX_OBJ_NAME);
        made.object_type = MDB_TABLE;
        made.table_pg = tablePage;
        return &made;
    }

    std::size_t pageSize() const { return static_cast<std::size_t>(mdb->fmt->pg_size); }

    [[noreturn]] void damaged(const std::string& what) const {
        throw JetError("it is damaged: " + what);
    }

    // Reads `page` into libmdb's page buffer (`alternate`: its second buffer);
    // `what()` names what pointed there, for the message.
    template <class What>
    const unsigned char* readPage(std::uint32_t page, bool alternate, const What& what) {
        if (page == 0 || page >= pageCount) {
            damaged(what() + " points to page " + std::to_string(page) + " of " +
                    std::to_string(pageCount));
        }
        const ssize_t got =
            alternate ? mdb_read_alt_pg(mdb.get(), page) : mdb_read_pg(mdb.get(), page);
        if (got != mdb->fmt->pg_size) {
            damaged("page " + std::to_string(page) + " cannot be read");
        }
        return alternate ? mdb->alt_pg_buf : mdb->pg_buf;
    }

    struct RowSpan {
        std::size_t start = 0;
        std::size_t length = 0;
        unsigned flags = 0;
    };

    // Where row `row` of a data page lies. Rows are stored from the end of the
    // page backwards: a row ends where the one before it starts.
    std::optional<RowSpan> rowSpan(const unsigned char* page, unsigned row) const {
        const std::size_t countOffset = mdb->fmt->row_count_offset;
        const unsigned rows = le16(page + countOffset);
        const std::size_t table = countOffset + 2;
        if (row >= rows || table + 2 * static_cast<std::size_t>(rows) > pageSize()) {
            return std::nullopt;
        }
        const unsigned raw = le16(page + table + 2 * row);
        const std::size_t start = raw & kOffsetMask;
        const std::size_t end =
            row == 0 ? pageSize() : le16(page + table + 2 * (row - 1)) & kOffsetMask;
        if (start < table + 2 * rows || start > end || end > pageSize()) {
            return std::nullopt;
        }
        return RowSpan{start, end - start, raw & (kDeletedRow | kOverflowRow)};
    }

    // libmdb reads a table's usage maps with no check on where they point, and
    // ends the process on a map page it cannot read; so each is checked first.
    void checkTableDefinition(unsigned long tablePage, const std::string& name) {
        const auto what = [&] { return "the definition of table " + name; };
        const unsigned char* tdef = readPage(static_cast<std::uint32_t>(tablePage), false, what);
        if (tdef[0] != kTablePage) {
            damaged(what() + " is not on page " + std::to_string(tablePage));
        }
        const auto* fmt = mdb->fmt;
        const std::uint32_t maps[] = {le32(tdef + fmt->tab_usage_map_offset),
                                      le32(tdef + fmt->tab_free_map_offset)};
        const auto map = [&] { return "the page map of " + name; };
        for (const std::uint32_t pageRow : maps) {
            const unsigned char* page = readPage(pageRow >> 8, true, map);
            const auto span = rowSpan(page, pageRow & 0xFF);
            if (!span || span->length < 1) {
                damaged("the page map of " + name + " cannot be found");
            }
            const unsigned char* bitmap = page + span->start;
            if (bitmap[0] == kUsageMapOfPages) {
                std::vector<std::uint32_t> mapPages;
                for (std::size_t at = 1; at + 4 <= span->length; at += 4) {
                    if (const std::uint32_t mapPage = le32(bitmap + at); mapPage != 0) {
                        mapPages.push_back(mapPage);
                    }
                }
                for (const std::uint32_t mapPage : mapPages) {
                    readPage(mapPage, true, map);
                }
            }
        }
    }

    std::string text(std::span<const unsigned char> bytes) const {
        return codePage ? codePage->utf8(bytes) : utf8FromJetText(bytes);
    }

    // The bytes of a memo or OLE field, whose 12-byte header says where they
    // lie: in the row itself, in one row of a long-value page, or in a chain
    // of such rows, each starting with a pointer to the next.
    std::string longValue(std::span<const unsigned char> field, const Place& where) {
        if (field.size() < kLongValueHeader) {
            damaged(where.text() + " has a broken memo");
        }
        const std::uint32_t word = le32(field.data());
        const std::size_t length = word & kLongValueLengthMask;
        std::uint32_t pageRow = le32(field.data() + 4);
        if (word & kLongValueInline) {
            if (kLongValueHeader + length > field.size()) {
                damaged(where.text() + " has a broken memo");
            }
            const auto* data = reinterpret_cast<const char*>(field.data()) + kLongValueHeader;
            return std::string(data, length);
        }
        const bool single = (word & kLongValueSingle) != 0;
        std::string value;
        value.reserve(std::min<std::size_t>(length, std::size_t{1} << 26));
        // Each step adds at least one byte, so a chain that loops ends here too.
        while (value.size() < length) {
            const unsigned char* page =
                readPage(pageRow >> 8, true, [&] { return where.text() + "'s memo"; });
            const auto span = rowSpan(page, pageRow & 0xFF);
            const std::size_t skip = single ? 0 : 4;
            if (!span || span->length <= skip) {
                damaged(where.text() + "'s memo cannot be found");
            }
            const unsigned char* row = page + span->start;
            value.append(reinterpret_cast<const char*>(row) + skip, span->length - skip);
            if (single) {
                break;
            }
            pageRow = le32(row);
            if (pageRow == 0) {
                break;
            }
        }
        if (value.size() < length) {
            damaged(where.text() + "'s memo is shorter than it says");
        }
        value.resize(length);
        return value;
    }

    Value field(const MdbColumn& column, const MdbField& field, const unsigned char* page,
                const Place& where) {
        Value value;
        if (column.col_type == MDB_BOOL) {
            // Yes/No lives in the null mask: a set bit is Yes. It is never NULL.
            value.type = Value::Type::Integer;
            value.integer = field.is_null ? 0 : 1;
            return value;
        }
        if (field.is_null) {
            return value;
        }
        if (field.start < 0 || field.siz < 0 ||
            static_cast<std::size_t>(field.start) + static_cast<std::size_t>(field.siz) >
                pageSize()) {
            damaged(where.text() + " lies outside its page");
        }
        const std::span<const unsigned char> bytes(page + field.start,
                                                   static_cast<std::size_t>(field.siz));
        const auto fixed = [&](std::size_t size) {
            if (bytes.size() < size) {
                damaged(where.text() + " is shorter than its column " + column.name);
            }
            return bytes.first(size);
        };
        const auto setText = [&](std::string text) {
            value.type = Value::Type::Text;
            value.bytes = std::move(text);
        };
        const auto setReal = [&](double real) {
            // SQLite would store NaN as NULL.
            if (std::isnan(real)) {
                setText("NaN");
                return;
            }
            value.type = Value::Type::Real;
            value.real = real;
        };
        switch (column.col_type) {
        case MDB_BYTE:
        case MDB_INT:
        case MDB_LONGINT: {
            const std::size_t size = column.col_type == MDB_BYTE  ? 1
                                     : column.col_type == MDB_INT ? 2
                                                                  : 4;
            value.type = Value::Type::Integer;
            value.integer = readSigned(fixed(size));
            break;
        }
        case MDB_MONEY:
            setText(currencyText(readSigned(fixed(8))));
            break;
        case MDB_FLOAT:
            setReal(readFloat(fixed(4)));
            break;
        case MDB_DOUBLE:
            setReal(readDouble(fixed(8)));
            break;
        case MDB_DATETIME: {
            const double days = readDouble(fixed(8));
            if (auto dateText = dateTimeText(days)) {
                setText(std::move(*dateText));
            } else {
                setReal(days); // outside the years 1 to 9999: the value as stored
            }
            break;
        }
        case MDB_TEXT:
            setText(text(bytes));
            break;
        case MDB_MEMO: {
            const std::string stored = longValue(bytes, where);
            setText(text({reinterpret_cast<const unsigned char*>(stored.data()), stored.size()}));
            break;
        }
        case MDB_REPID: {
            fixed(16);
            // libmdb's default text groups the hex digits 8-4-4-16; Access
            // shows a GUID as {8-4-4-4-12}, which this format gives inside braces.
            const std::unique_ptr<char, GFreer> guid(
                mdb_uuid_to_string_fmt(page, field.start, MDB_NOBRACES_4_2_2_2_6));
            setText(guid ? "{" + std::string(guid.get()) + "}" : "");
            break;
        }
        case MDB_NUMERIC: {
            fixed(17);
            // libmdb formats from its own page buffer, which holds this row.
            const std::unique_ptr<char, GFreer> number(
                mdb_numeric_to_string(mdb.get(), field.start, column.col_scale, column.col_prec));
            setText(number ? number.get() : "");
            break;
        }
        case MDB_OLE:
            value.type = Value::Type::Blob;
            value.bytes = longValue(bytes, where);
            break;
        default: // binary and any type this reader does not know: the bytes
            value.type = Value::Type::Blob;
            value.bytes.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            break;
        }
        return value;
    }

    // Decodes the row at `span` of the page in libmdb's page buffer.
    void decodeRow(MdbTableDef* def, const RowSpan& span, std::vector<MdbField>& fields,
                   std::vector<Value>& values, const Place& where) {
        const int cracked =
            mdb_crack_row(def, static_cast<int>(span.start), span.length, fields.data());
        if (cracked < static_cast<int>(def->num_cols)) {
            damaged(where.text() + " cannot be taken apart");
        }
        for (unsigned i = 0; i < def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(def->columns, i));
            values[i] = field(*column, fields[i], mdb->pg_buf, where);
        }
    }

    // Every live row of a table, in the order of its pages and their rows.
    std::uint64_t scan(MdbTableDef* def, const std::string& name, const RowSink& onRow) {
        const std::uint32_t owner = static_cast<std::uint32_t>(def->entry->table_pg);
        std::vector<MdbField> fields(std::max<std::size_t>(def->num_cols, 1));
        std::vector<Value> values(def->num_cols);
        std::uint64_t count = 0;
        // A map of a kind libmdb does not know: every page is looked at.
        const bool everyPage = mdb_map_find_next(mdb.get(), def->usage_map, def->map_sz, 0) < 0;
        std::uint32_t page = 0;
        for (;;) {
            if (everyPage) {
                if (++page >= pageCount) {
                    break;
                }
            } else {
                const gint32 next = mdb_map_find_next(mdb.get(), def->usage_map, def->map_sz, page);
                if (next <= 0) {
                    break;
                }
                page = static_cast<std::uint32_t>(next);
            }
            const unsigned char* buffer =
                readPage(page, false, [&] { return "the page map of " + name; });
            // A map may name a page that now belongs to another table.
            if (buffer[0] != kDataPage || le32(buffer + 4) != owner) {
                continue;
            }
            const unsigned rows = le16(buffer + mdb->fmt->row_count_offset);
            for (unsigned row = 0; row < rows; ++row) {
                const Place where{name, page, row};
                auto span = rowSpan(mdb->pg_buf, row);
                if (!span) {
                    damaged(where.text() + " lies outside its page");
                }
                if (span->flags & kDeletedRow) {
                    continue;
                }
                if (span->flags & kOverflowRow) {
                    if (span->length < 4) {
                        damaged(where.text() + " is a broken overflow pointer");
                    }
                    const unsigned char* pointer = mdb->pg_buf + span->start;
                    const unsigned targetRow = pointer[0];
                    const std::uint32_t targetPage = le32(pointer) >> 8;
                    const auto here = [&] { return where.text(); };
                    const unsigned char* target = readPage(targetPage, false, here);
                    span = rowSpan(target, targetRow);
                    if (target[0] != kDataPage || le32(target + 4) != owner || !span ||
                        (span->flags & kOverflowRow)) {
                        damaged(where.text() + " points to a row that is not there");
                    }
                    decodeRow(def, *span, fields, values, where);
                    readPage(page, false, here); // back to the page being scanned
                } else {
                    decodeRow(def, *span, fields, values, where);
                }
                onRow(values);
                ++count;
            }
        }
        return count;
    }

    std::uint32_t readPageCount() const {
        struct stat status {};
        if (fstat(fileno(mdb->f->stream), &status) != 0) {
            throw JetError(std::string("it cannot be measured (") + std::strerror(errno) + ")");
        }
        const auto size = static_cast<std::size_t>(status.st_size);
        if (size % pageSize() != 0) {
            damaged("its size is not a whole number of pages");
        }
        return static_cast<std::uint32_t>(size / pageSize());
    }
};

JetReader::JetReader(const std::string& path) : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.format = accessFormatOfFile(path);
    if (s.format != AccessFormat::Jet3 && s.format != AccessFormat::Jet4) {
        throw JetError("it is not a Jet 3 or Jet 4 database");
    }
    s.mdb.reset(mdb_open(path.c_str(), MDB_NOFLAGS));
    if (!s.mdb) {
        throw JetError("libmdb cannot open it");
    }
    MdbHandle* mdb = s.mdb.get();
    s.pageCount = s.readPageCount();
    // libmdb converts names with iconv from UCS-2, which turns characters
    // outside the Basic Multilingual Plane into "??", and takes the target
    // character set from MDBICONV in the environment: replace its converters
    // with fixed ones. Field text is decoded by this reader itself.
    const bool jet3 = s.format == AccessFormat::Jet3;
    const std::string source =
        jet3 ? "CP" + std::to_string(mdb->f->code_page == 0 ? 1252 : mdb->f->code_page)
             : "UTF-16LE";
    mdb_iconv_close(mdb);
    mdb->iconv_in = iconv_open("UTF-8", source.c_str());
    mdb->iconv_out = iconv_open(source.c_str(), "UTF-8");
    if (jet3) {
        s.codePage.emplace(mdb->f->code_page);
    }
    if (mdb->f->db_key != 0) {
        return; // encrypted: refused by the caller before anything is read
    }

    // The catalogue is read here rather than by mdb_read_catalog, which also
    // lists tables whose catalogue row was deleted and misses rows that moved
    // to another page; libmdb is handed an entry for each live table instead.
    MdbCatalogEntry* objects = s.entry("MSysObjects", kCatalogueTablePage);
    s.checkTableDefinition(kCatalogueTablePage, "MSysObjects");
    const TableDef objectsDef(mdb_read_table(objects));
    if (!objectsDef || mdb_read_columns(objectsDef.get()) == nullptr) {
        s.damaged("its catalogue (MSysObjects) cannot be read");
    }
    int idColumn = -1, nameColumn = -1, typeColumn = -1, flagsColumn = -1;
    for (unsigned i = 0; i < objectsDef->num_cols; ++i) {
        const auto* column =
            static_cast<const MdbColumn*>(g_ptr_array_index(objectsDef->columns, i));
        const std::string_view name(column->name);
        const int index = static_cast<int>(i);
        idColumn = name == "Id" ? index : idColumn;
        nameColumn = name == "Name" ? index : nameColumn;
        typeColumn = name == "Type" ? index : typeColumn;
        flagsColumn = name == "Flags" ? index : flagsColumn;
    }
    if (idColumn < 0 || nameColumn < 0 || typeColumn < 0 || flagsColumn < 0) {
        s.damaged("its catalogue (MSysObjects) lacks a column");
    }
    struct LiveTable {
        std::string name;
        unsigned long page;
    };
    std::vector<LiveTable> live;
    s.scan(objectsDef.get(), "MSysObjects", [&](std::span<const Value> row) {
        const Value& type = row[static_cast<std::size_t>(typeColumn)];
        const Value& flags = row[static_cast<std::size_t>(flagsColumn)];
        const Value& id = row[static_cast<std::size_t>(idColumn)];
        const Value& name = row[static_cast<std::size_t>(nameColumn)];
        if (type.type != Value::Type::Integer || (type.integer & 0x7F) != MDB_TABLE ||
            id.type != Value::Type::Integer || name.type != Value::Type::Text) {
            return;
        }
        const auto flagBits =
            flags.type == Value::Type::Integer ? static_cast<std::uint32_t>(flags.integer) : 0U;
        if ((flagBits & kSystemObjectFlags) != 0 || hasSystemPrefix(name.bytes)) {
            return;
        }
        live.push_back({name.bytes, static_cast<unsigned long>(id.integer & 0x00FFFFFF)});
    });

    for (const LiveTable& table : live) {
        MdbCatalogEntry* found = s.entry(table.name, table.page);
        s.checkTableDefinition(found->table_pg, table.name);
        const TableDef def(mdb_read_table(found));
        if (!def || mdb_read_columns(def.get()) == nullptr) {
            s.damaged("the definition of table " + table.name + " cannot be read");
        }
        Table t;
        t.name = table.name;
        t.recordedRows = def->num_rows;
        const unsigned char* tdef =
            s.readPage(static_cast<std::uint32_t>(found->table_pg), false,
                       [&] { return "the definition of table " + table.name; });
        t.lastAutonumber = le32(tdef + mdb->fmt->tab_num_rows_offset + 4);
        for (unsigned i = 0; i < def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(def->columns, i));
            t.columns.push_back(
                Column{column->name, column->col_type, storageOf(column->col_type),
                       column->is_long_auto != 0 && column->col_type == MDB_LONGINT});
        }
        s.tables.push_back(std::move(t));
        s.entries.push_back(found);
    }
}

JetReader::~JetReader() = default;

AccessFormat JetReader::format() const {
    return m_state->format;
}

bool JetReader::encrypted() const {
    return m_state->mdb->f->db_key != 0;
}

const std::vector<Table>& JetReader::tables() const {
    return m_state->tables;
}

std::uint64_t JetReader::readRows(std::size_t index, const RowSink& onRow) {
    State& s = *m_state;
    const TableDef def(mdb_read_table(s.entries.at(index)));
    const std::string& name = s.tables.at(index).name;
    if (!def || mdb_read_columns(def.get()) == nullptr) {
        s.damaged("the definition of table " + name + " cannot be read");
    }
    return s.scan(def.get(), name, onRow);
}

} // namespace velmora::jet
