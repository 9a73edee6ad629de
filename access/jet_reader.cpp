#include "access/jet_reader.h"

#include "access/jet_bytes.h"
#include "access/jet_pages.h"
#include "access/jet_table_definition.h"
#include "access/jet_values.h"

// mdbtools.h includes <glib.h> inside its extern "C" block; glib's C++
// templates must come first.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <glib.h>
#include <iconv.h>
#include <mdbtools.h>
#include <mutex>
#include <optional>
#include <string_view>
#include <sys/stat.h>

namespace velmora::jet {
namespace {

// The row-slot rule and its flags are jet_pages.h's (libmdb 1.0.0 returns
// the moved copies that kDeletedRow marks; they are skipped here).

// The catalogue (MSysObjects) is defined on page 2 in Jet 3 and Jet 4.
constexpr unsigned long kCatalogueTablePage = 2;
// Catalogue flags that mark a system table (as libmdb's mdb_is_system_table).
constexpr std::uint32_t kSystemObjectFlags = 0x80000002U;
// The most digits after the point a decimal can have.
constexpr unsigned kMaxDecimalScale = 28;

struct HandleCloser {
    void operator()(MdbHandle* mdb) const noexcept { mdb_close(mdb); }
};
struct TableFreer {
    void operator()(MdbTableDef* table) const noexcept { mdb_free_tabledef(table); }
};
struct GFreer {
    void operator()(char* text) const noexcept { g_free(text); }
};
struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using TableDef = std::unique_ptr<MdbTableDef, TableFreer>;

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

// libmdb writes its warnings to stderr and some notes to stdout, and has no
// handler to take them; a refusal must be our one line. While libmdb runs,
// both streams are a stream that drops what is written (glibc lets stdout and
// stderr be assigned). One lock for the process: the streams are shared.
std::mutex& libmdbOutputLock() {
    static std::mutex lock;
    return lock;
}

class LibmdbSilence {
public:
    explicit LibmdbSilence(std::FILE* sink) : m_lock(libmdbOutputLock()), m_sink(sink) {
        if (m_sink != nullptr) {
            std::fflush(stdout);
            m_out = stdout;
            m_err = stderr;
            stdout = m_sink;
            stderr = m_sink;
        }
    }
    ~LibmdbSilence() {
        if (m_sink != nullptr) {
            stdout = m_out;
            stderr = m_err;
        }
    }
    LibmdbSilence(const LibmdbSilence&) = delete;
    LibmdbSilence& operator=(const LibmdbSilence&) = delete;

private:
    std::lock_guard<std::mutex> m_lock;
    std::FILE* m_sink;
    std::FILE* m_out = nullptr;
    std::FILE* m_err = nullptr;
};

std::FILE* discardingStream() {
    cookie_io_functions_t functions{};
    functions.write = [](void*, const char*, std::size_t size) -> ssize_t {
        return static_cast<ssize_t>(size);
    };
    return fopencookie(nullptr, "w", functions);
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
        // Converters such as CP1255 and CP1258 hold a character back until
        // they know no combining mark follows: the end of the value says so.
        iconv(m_iconv, nullptr, nullptr, &outPtr, &outLeft);
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
    // Declared first, so it outlives the handle whose output it takes.
    std::unique_ptr<std::FILE, FileCloser> libmdbSink{discardingStream()};
    std::unique_ptr<MdbHandle, HandleCloser> mdb;
    AccessFormat format = AccessFormat::None;
    const JetFormat* layout = &kJet4Format;
    std::uint32_t pageCount = 0;
    std::optional<CodePageText> codePage; // Jet 3 only
    std::vector<Table> tables;
    std::deque<MdbCatalogEntry> catalogue; // libmdb's table definitions point here
    std::vector<MdbCatalogEntry*> entries; // one per table
    // The pages each table's usage map names (nothing: every page), per table.
    std::vector<std::optional<std::vector<std::uint32_t>>> tablePages;
    // The pages of the definitions read so far: no two tables share one, so
    // the tables together read each definition page once.
    std::vector<bool> definitionPages;

    // Runs `call` into libmdb with its output taken away.
    template <class Call> decltype(auto) quiet(const Call& call) {
        const LibmdbSilence silence(libmdbSink.get());
        return call();
    }

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

    std::size_t pageSize() const { return layout->pageSize; }

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
        const ssize_t got = quiet([&] {
            return alternate ? mdb_read_alt_pg(mdb.get(), page) : mdb_read_pg(mdb.get(), page);
        });
        if (got != mdb->fmt->pg_size) {
            damaged("page " + std::to_string(page) + " cannot be read");
        }
        return alternate ? mdb->alt_pg_buf : mdb->pg_buf;
    }

    // The bounded walks read through libmdb's second buffer, so the data page
    // being scanned stays in the first.
    PageSource alternatePages() {
        return [this](std::uint32_t page) {
            return std::span<const unsigned char>(
                readPage(page, true, [] { return std::string("a walk"); }), pageSize());
        };
    }

    std::string text(std::span<const unsigned char> bytes) const {
        return codePage ? codePage->utf8(bytes) : utf8FromJetText(bytes);
    }

    // What libmdb is about to read of a table, checked first: the definition
    // with its continuation pages, its columns and their names, and the usage
    // and free-space maps (libmdb reads them with no check on where they point,
    // and ends the process on a map page it cannot read). Gives the definition
    // and the pages the usage map names.
    std::pair<TableDefinition, std::optional<std::vector<std::uint32_t>>>
    checkTableDefinition(unsigned long tablePage, const std::string& name) {
        const std::string table = "table " + name;
        const PageSource pages = alternatePages();
        TableDefinition definition = readTableDefinition(
            *layout, pageCount, static_cast<std::uint32_t>(tablePage), pages, table);
        definitionPages.resize(pageCount, false);
        for (const std::uint32_t page : definition.pages) {
            if (definitionPages[page]) {
                throw JetError("the definition of " + table + " is damaged: its page " +
                               std::to_string(page) + " belongs to another table");
            }
            definitionPages[page] = true;
        }
        std::vector<bool> numbered(0x10000, false);
        for (const ColumnDefinition& column : definition.columns) {
            if (numbered[column.number]) {
                throw JetError("the definition of " + table + " is damaged: two columns have " +
                               "number " + std::to_string(column.number));
            }
            numbered[column.number] = true;
            if (column.type == MDB_NUMERIC && column.decimalScale > kMaxDecimalScale) {
                throw JetError("the definition of " + table + " is damaged: decimal column " +
                               text(column.nameBytes) + " claims " +
                               std::to_string(column.decimalScale) +
                               " digits after the point (at most 28)");
            }
        }
        const std::string map = "the page map of " + table;
        rowAt(*layout, pageCount, definition.freeSpaceMap, pages, map);
        const std::span<const unsigned char> usage =
            rowAt(*layout, pageCount, definition.usedPagesMap, pages, map);
        // Copied: the walk over a map of pages reads into the same buffer.
        const std::vector<unsigned char> usageMap(usage.begin(), usage.end());
        auto usedPages = usageMapPages(*layout, pageCount, usageMap, pages, map);
        return {std::move(definition), std::move(usedPages)};
    }

    // Reads a checked definition through libmdb, with the column names
    // decoded here: libmdb's conversion of Jet 3 names loses the last
    // character in code pages whose converters hold one back.
    std::pair<TableDef, std::vector<std::string>> readDefinition(MdbCatalogEntry* found,
                                                                 const TableDefinition& checked,
                                                                 const std::string& name) {
        TableDef def(quiet([&] { return mdb_read_table(found); }));
        if (!def || quiet([&] { return mdb_read_columns(def.get()); }) == nullptr ||
            def->num_cols != checked.columns.size()) {
            damaged("the definition of table " + name + " cannot be read");
        }
        std::vector<std::string> names(def->num_cols);
        for (unsigned i = 0; i < def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(def->columns, i));
            for (const ColumnDefinition& defined : checked.columns) {
                if (defined.number == static_cast<unsigned>(column->col_num)) {
                    names[i] = text(defined.nameBytes);
                }
            }
        }
        return {std::move(def), std::move(names)};
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
        const auto longValue = [&] {
            return readLongValue(*layout, pageCount, bytes, alternatePages(),
                                 where.text() + "'s long value");
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
            const std::string stored = longValue();
            setText(text({reinterpret_cast<const unsigned char*>(stored.data()), stored.size()}));
            break;
        }
        case MDB_REPID: {
            fixed(16);
            // libmdb's default text groups the hex digits 8-4-4-16; Access
            // shows a GUID as {8-4-4-4-12}, which this format gives inside braces.
            const std::unique_ptr<char, GFreer> guid(quiet(
                [&] { return mdb_uuid_to_string_fmt(page, field.start, MDB_NOBRACES_4_2_2_2_6); }));
            setText("{" +
                    formattedText(guid.get(), [&] { return where.text() + ", a replication ID"; }) +
                    "}");
            break;
        }
        case MDB_NUMERIC: {
            fixed(17);
            // libmdb formats from its own page buffer, which holds this row.
            // Its names are crossed: col_scale holds the precision and
            // col_prec the scale, and the function takes them in that order.
            const std::unique_ptr<char, GFreer> number(quiet([&] {
                return mdb_numeric_to_string(mdb.get(), field.start, column.col_scale,
                                             column.col_prec);
            }));
            setText(formattedText(number.get(), [&] { return where.text() + ", a decimal"; }));
            break;
        }
        case MDB_OLE:
            value.type = Value::Type::Blob;
            value.bytes = longValue();
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
        const int cracked = quiet([&] {
            return mdb_crack_row(def, static_cast<int>(span.start), span.length, fields.data());
        });
        if (cracked < static_cast<int>(def->num_cols)) {
            damaged(where.text() + " cannot be taken apart");
        }
        for (unsigned i = 0; i < def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(def->columns, i));
            values[i] = field(*column, fields[i], mdb->pg_buf, where);
        }
    }

    // Every live row of a table, in the order of its pages and their rows.
    // `pages`: the pages its usage map names, each once (nothing: every page).
    std::uint64_t scan(MdbTableDef* def, const std::string& name,
                       const std::optional<std::vector<std::uint32_t>>& pages,
                       const RowSink& onRow) {
        const std::uint32_t owner = static_cast<std::uint32_t>(def->entry->table_pg);
        std::vector<MdbField> fields(std::max<std::size_t>(def->num_cols, 1));
        std::vector<Value> values(def->num_cols);
        std::uint64_t count = 0;
        const std::size_t candidates = pages ? pages->size() : pageCount;
        const PageSource source = [&](std::uint32_t page) {
            return std::span<const unsigned char>(
                readPage(page, false, [&] { return "the page map of table " + name; }), pageSize());
        };
        for (std::size_t next = pages ? 0 : 1; next < candidates; ++next) {
            const std::uint32_t page = pages ? (*pages)[next] : static_cast<std::uint32_t>(next);
            forEachLiveRow(
                *layout, pageCount, owner, page, source, "table " + name,
                [&](std::span<const unsigned char> row, unsigned slot) {
                    // libmdb takes a row apart in its page buffer:
                    // the row is moved to the buffer's start, and
                    // libmdb told that the buffer holds no page
                    // (it would not read the page again).
                    std::memmove(mdb->pg_buf, row.data(), row.size());
                    mdb->cur_pg = 0;
                    decodeRow(def, {0, row.size(), 0}, fields, values, Place{name, page, slot});
                    onRow(values);
                    ++count;
                });
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
        if (size / pageSize() > UINT32_MAX) {
            damaged("it is larger than a Jet file can be");
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
    s.layout = &jetFormat(s.format);
    s.mdb.reset(s.quiet([&] { return mdb_open(path.c_str(), MDB_NOFLAGS); }));
    if (!s.mdb) {
        throw JetError("libmdb cannot open it");
    }
    MdbHandle* mdb = s.mdb.get();
    if (static_cast<std::size_t>(mdb->fmt->pg_size) != s.layout->pageSize) {
        s.damaged("its pages are not of the size its version has");
    }
    s.pageCount = s.readPageCount();
    // libmdb converts names with iconv from UCS-2, which turns characters
    // outside the Basic Multilingual Plane into "??", and takes the target
    // character set from MDBICONV in the environment: replace its converters
    // with fixed ones. Field text and column names are decoded by this reader.
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
    const auto [objectsChecked, objectsPages] =
        s.checkTableDefinition(kCatalogueTablePage, "MSysObjects");
    const auto [objectsDef, objectsNames] =
        s.readDefinition(objects, objectsChecked, "MSysObjects");
    int idColumn = -1, nameColumn = -1, typeColumn = -1, flagsColumn = -1;
    for (std::size_t i = 0; i < objectsNames.size(); ++i) {
        const std::string_view name(objectsNames[i]);
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
    s.scan(objectsDef.get(), "MSysObjects", objectsPages, [&](std::span<const Value> row) {
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
        auto [checked, pages] = s.checkTableDefinition(found->table_pg, table.name);
        const auto [def, names] = s.readDefinition(found, checked, table.name);
        Table t;
        t.name = table.name;
        t.recordedRows = def->num_rows;
        t.lastAutonumber = checked.lastAutonumber;
        for (unsigned i = 0; i < def->num_cols; ++i) {
            const auto* column = static_cast<const MdbColumn*>(g_ptr_array_index(def->columns, i));
            t.columns.push_back(
                Column{names[i], column->col_type, storageOf(column->col_type),
                       column->is_long_auto != 0 && column->col_type == MDB_LONGINT});
        }
        s.tables.push_back(std::move(t));
        s.entries.push_back(found);
        s.tablePages.push_back(std::move(pages));
    }
}

JetReader::~JetReader() = default;

bool JetReader::encrypted() const {
    return m_state->mdb->f->db_key != 0;
}

const std::vector<Table>& JetReader::tables() const {
    return m_state->tables;
}

std::uint64_t JetReader::readRows(std::size_t index, const RowSink& onRow) {
    State& s = *m_state;
    const std::string& name = s.tables.at(index).name;
    const TableDef def(s.quiet([&] { return mdb_read_table(s.entries.at(index)); }));
    if (!def || s.quiet([&] { return mdb_read_columns(def.get()); }) == nullptr) {
        s.damaged("the definition of table " + name + " cannot be read");
    }
    return s.scan(def.get(), name, s.tablePages.at(index), onRow);
}

} // namespace velmora::jet
