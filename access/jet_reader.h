#pragma once

#include "access/access_format.h"
#include "access/jet_error.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

// Reading the user tables of an Access (Jet 3 or Jet 4) database, row by row,
// through libmdb. libmdb and glib stay inside jet_reader.cpp; every walk over
// pages is bounded (access/jet_pages.h), and nothing libmdb prints reaches the
// terminal.
namespace velmora::jet {

// The SQLite storage class a column's values take.
enum class Storage { Integer, Real, Text, Blob };

struct Column {
    std::string name; // UTF-8
    int jetType = 0;  // libmdb's MDB_* type number
    Storage storage = Storage::Blob;
    bool autonumber = false; // a long-integer autonumber
};

struct Table {
    std::string name; // UTF-8
    std::vector<Column> columns;
    std::uint32_t recordedRows = 0; // the row count the table definition records
    // The last autonumber the engine gave, as the table definition records
    // it (files Access wrote show the largest number given, not the next).
    std::int64_t lastAutonumber = 0;
};

// One field of a row, decoded: NULL, an integer, a real, UTF-8 text or bytes.
struct Value {
    enum class Type { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes; // the text or the blob
};

class JetReader {
public:
    // Opens the database at `path` (a name under /proc/self/fd reads exactly
    // the file a caller holds open) and reads its table definitions. Throws
    // JetError for a file that libmdb cannot open or whose catalogue or table
    // definitions are damaged.
    explicit JetReader(const std::string& path);
    ~JetReader();
    JetReader(const JetReader&) = delete;
    JetReader& operator=(const JetReader&) = delete;

    // Encrypted with a database key: libmdb would unmask its pages, but no
    // file of ours shows that it does so correctly, so such a file is refused.
    bool encrypted() const;
    // The user tables, in the order of the database's catalogue; system tables
    // (MSys*) are left out.
    const std::vector<Table>& tables() const;

    using RowSink = std::function<void(std::span<const Value>)>;
    // Calls `onRow` for every live row of tables()[index], in the file's order,
    // and returns how many there were. Deleted rows are skipped; a row moved to
    // another page is read where its overflow pointer stands. Throws JetError
    // when a page, row or long value cannot be read.
    std::uint64_t readRows(std::size_t index, const RowSink& onRow);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace velmora::jet
