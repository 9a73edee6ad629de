#pragma once

#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// The catalogue's path: the application folder, "/", "Velmora2.db", joined as
// they stand.
std::string databasePath(std::string_view applicationFolder);

struct ConnectionCloser {
    void operator()(sqlite3* db) const noexcept;
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const noexcept;
};

// One connection to the catalogue, opened read-write on an existing file only:
// an add never creates a catalogue. Failures are thrown as Failure with
// SQLite's extended result code and message; closing never throws.
class CatalogueConnection {
public:
    // How long a catalogue held by another program is waited for.
    static constexpr int kBusyTimeoutMs = 1500;

    // `vfs` names an SQLite VFS; null is the default one.
    explicit CatalogueConnection(const std::string& path, const char* vfs = nullptr);

    sqlite3* handle() const noexcept { return m_db.get(); }

private:
    std::unique_ptr<sqlite3, ConnectionCloser> m_db;
};

// The one statement of an add. Its text is fixed, with parameters in place of
// the three values, so any text is stored exactly as given and none can become
// a statement of its own.
class InsertStatement {
public:
    static constexpr std::string_view kText =
        "Insert into CD(Kategorija,Program,Opis)Values (?,?,?);";

    explicit InsertStatement(const CatalogueConnection& connection);

    // The description of an insert that ran but stored no row.
    static constexpr const char* kNoRowStored = "the database stored no row";

    // Binds the three texts and runs the insert once: afterwards the row
    // stands, or a Failure was thrown.
    void run(std::string_view kategorija, std::string_view program, std::string_view opis);

private:
    sqlite3* m_db;
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> m_statement;
};

// Runs the add's insert inside a transaction that is then rolled back: every
// check SQLite makes (the file writable and not locked by another writer, the
// table's constraints and triggers) without a byte of the catalogue changed.
// The journal stays in memory, so no file appears beside the catalogue
// either. Throws Failure as InsertStatement::run does.
void checkInsert(const CatalogueConnection& connection, std::string_view kategorija,
                 std::string_view program, std::string_view opis);

} // namespace velmora
