#include "catalogue/catalogue_database.h"

#include "access/access_format.h"
#include "catalogue/failure.h"
#include "catalogue/no_catalogue.h"

#include <cerrno>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>

namespace velmora {
namespace {

[[noreturn]] void throwSqlite(sqlite3* db, int code) {
    // A connection that could not even be allocated has no message of its own.
    const char* message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    const int number = db != nullptr ? sqlite3_extended_errcode(db) : code;
    // A catalogue brought from Windows is an Access file, not a damaged one:
    // the failure keeps SQLite's number and says what the file is instead.
    if (number == SQLITE_NOTADB && db != nullptr) {
        const char* file = sqlite3_db_filename(db, "main");
        if (const AccessFormat format =
                file != nullptr ? accessFormatOfFile(file) : AccessFormat::None;
            format != AccessFormat::None) {
            throw Failure{number, accessCatalogueDescription(format)};
        }
    }
    throw Failure{number, message};
}

// Binds one text as UTF-8; SQLITE_TRANSIENT makes SQLite keep its own copy.
void bindText(sqlite3* db, sqlite3_stmt* statement, int index, std::string_view text) {
    const int code = sqlite3_bind_text64(statement, index, text.data(), text.size(),
                                         SQLITE_TRANSIENT, SQLITE_UTF8);
    if (code != SQLITE_OK) {
        throwSqlite(db, code);
    }
}

} // namespace

std::string databasePath(std::string_view applicationFolder) {
    std::string path(applicationFolder);
    path += "/Velmora2.db";
    return path;
}

void ConnectionCloser::operator()(sqlite3* db) const noexcept {
    // sqlite3_close_v2 cannot leave a handle behind: a busy connection becomes
    // a zombie that SQLite frees once its last statement is finalized.
    sqlite3_close_v2(db);
}

void StatementFinalizer::operator()(sqlite3_stmt* statement) const noexcept {
    sqlite3_finalize(statement);
}

CatalogueConnection::CatalogueConnection(const std::string& path, const char* vfs) {
    sqlite3* raw = nullptr;
    // Read-write without SQLITE_OPEN_CREATE: a missing catalogue is a failure.
    const int code =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, vfs);
    m_db.reset(raw);
    if (code != SQLITE_OK) {
        // A folder without a catalogue is named, with how to make one there.
        struct stat status {};
        if ((code & 0xFF) == SQLITE_CANTOPEN && ::stat(path.c_str(), &status) != 0 &&
            errno == ENOENT) {
            const std::size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? "."
                                       : slash == 0               ? "/"
                                                                  : path.substr(0, slash);
            throw Failure{raw != nullptr ? sqlite3_extended_errcode(raw) : code,
                          noCatalogueDescription(folder)};
        }
        throwSqlite(raw, code);
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
}

InsertStatement::InsertStatement(const CatalogueConnection& connection)
    : m_db(connection.handle()) {
    sqlite3_stmt* raw = nullptr;
    // kText is one fixed statement, so there is no tail to look at.
    const int code =
        sqlite3_prepare_v2(m_db, kText.data(), static_cast<int>(kText.size()), &raw, nullptr);
    m_statement.reset(raw);
    if (code != SQLITE_OK) {
        throwSqlite(m_db, code);
    }
}

void InsertStatement::run(std::string_view kategorija, std::string_view program,
                          std::string_view opis) {
    sqlite3_stmt* statement = m_statement.get();
    bindText(m_db, statement, 1, kategorija);
    bindText(m_db, statement, 2, program);
    bindText(m_db, statement, 3, opis);
    const int code = sqlite3_step(statement);
    if (code != SQLITE_DONE) {
        throwSqlite(m_db, code);
    }
    // The statement can succeed and store nothing: a trigger's RAISE(IGNORE)
    // or a conflict clause ON CONFLICT IGNORE declines the row quietly. One
    // row of values makes one change or none, so any other count is a row
    // not stored, reported under SQLite's number for a declined row.
    if (sqlite3_changes64(m_db) != 1) {
        throw Failure{SQLITE_CONSTRAINT, kNoRowStored};
    }
}

void checkInsert(const CatalogueConnection& connection, std::string_view kategorija,
                 std::string_view program, std::string_view opis) {
    sqlite3* db = connection.handle();
    const auto exec = [db](const char* sql) {
        if (const int code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) {
            throwSqlite(db, code);
        }
    };
    // No page may reach the file before the roll-back either. A catalogue in
    // WAL mode keeps it (leaving it would rewrite the file's header); its
    // uncommitted pages go nowhere without a spill.
    exec("PRAGMA cache_spill=OFF;");
    sqlite3_stmt* rawMode = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &rawMode, nullptr) == SQLITE_OK) {
        const std::unique_ptr<sqlite3_stmt, StatementFinalizer> mode(rawMode);
        const unsigned char* name =
            sqlite3_step(rawMode) == SQLITE_ROW ? sqlite3_column_text(rawMode, 0) : nullptr;
        wal = name != nullptr && sqlite3_stricmp(reinterpret_cast<const char*>(name), "wal") == 0;
    }
    if (!wal) {
        exec("PRAGMA journal_mode=MEMORY;");
    }
    if (sqlite3_db_readonly(db, "main") == 1) {
        throw Failure{SQLITE_READONLY, sqlite3_errstr(SQLITE_READONLY)};
    }
    exec("BEGIN IMMEDIATE");
    InsertStatement statement(connection);
    try {
        statement.run(kategorija, program, opis);
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    exec("ROLLBACK");
}

} // namespace velmora
