#include "catalogue/stored_entries.h"

#include "access/access_format.h"
#include "access/jet_error.h"
#include "access/jet_reader.h"
#include "access/jet_writer.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/copy/open_file.h"
#include "catalogue/failure.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

constexpr const char* kCatalogueName = "Velmora2.db";
// As long as an add waits for another add.
constexpr auto kLockWait = std::chrono::seconds(10);
constexpr auto kLockRetry = std::chrono::milliseconds(20);

[[noreturn]] void throwErrno(const std::string& what, int error) {
    throw Failure{error, what + ": " + std::strerror(error)};
}

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text != nullptr
               ? std::string(text,
                             static_cast<std::size_t>(sqlite3_column_bytes(statement, column)))
               : std::string();
}

// One read transaction: SQLite's shared lock lasts as long as the statement.
std::vector<StoredEntry> readSqlite(const std::string& path) {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    const auto fail = [&](int code) {
        throw Failure{raw != nullptr ? sqlite3_extended_errcode(raw) : code,
                      raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(code)};
    };
    if (opened != SQLITE_OK) {
        fail(opened);
    }
    sqlite3_busy_timeout(raw, CatalogueConnection::kBusyTimeoutMs);
    // One read transaction for the count and the rows, so they agree.
    if (const int begun = sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
        begun != SQLITE_OK) {
        fail(begun);
    }
    std::vector<StoredEntry> entries;
    sqlite3_stmt* rawCount = nullptr;
    if (sqlite3_prepare_v2(raw, "SELECT count(*) FROM CD", -1, &rawCount, nullptr) == SQLITE_OK) {
        const std::unique_ptr<sqlite3_stmt, StatementFinalizer> count(rawCount);
        if (sqlite3_step(rawCount) == SQLITE_ROW) {
            entries.reserve(static_cast<std::size_t>(sqlite3_column_int64(rawCount, 0)));
        }
    }
    sqlite3_stmt* rawStatement = nullptr;
    const int prepared = sqlite3_prepare_v2(raw, "SELECT Kategorija,Program,Opis FROM CD", -1,
                                            &rawStatement, nullptr);
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
    if (prepared != SQLITE_OK) {
        fail(prepared);
    }
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(rawStatement)) == SQLITE_ROW) {
        entries.push_back({columnText(rawStatement, 0), columnText(rawStatement, 1),
                           columnText(rawStatement, 2)});
    }
    if (step != SQLITE_DONE) {
        fail(step);
    }
    return entries;
}

std::string valueText(const jet::Value& value) {
    switch (value.type) {
    case jet::Value::Type::Null:
        return {};
    case jet::Value::Type::Integer:
        return std::to_string(value.integer);
    case jet::Value::Type::Real:
        return std::to_string(value.real);
    case jet::Value::Type::Text:
    case jet::Value::Type::Blob:
        return value.bytes;
    }
    return {};
}

// Shares the lock that an add into the Access file holds for its whole
// length, so no page is read while an add is writing it. A file system
// without locks goes unlocked.
bool lockForReading(int fd, const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) {
            return false;
        }
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            throwErrno("cannot lock " + path + " (an add may be running)", errno);
        }
        std::this_thread::sleep_for(kLockRetry);
    }
    return true;
}

std::vector<StoredEntry> readJetRows(const std::string& path, int fd) {
    jet::JetReader reader(descriptorPath(fd));
    if (reader.encrypted()) {
        throw Failure{-1, path + ": an encrypted Access catalogue; decrypt it in Access first"};
    }
    const std::vector<jet::Table>& tables = reader.tables();
    for (std::size_t t = 0; t < tables.size(); ++t) {
        if (sqlite3_stricmp(tables[t].name.c_str(), "CD") != 0) {
            continue;
        }
        std::array<std::optional<std::size_t>, 3> columns;
        const std::array<const char*, 3> names = {"Kategorija", "Program", "Opis"};
        for (std::size_t c = 0; c < tables[t].columns.size(); ++c) {
            for (std::size_t n = 0; n < names.size(); ++n) {
                if (sqlite3_stricmp(tables[t].columns[c].name.c_str(), names[n]) == 0) {
                    columns[n] = c;
                }
            }
        }
        for (std::size_t n = 0; n < names.size(); ++n) {
            if (!columns[n]) {
                throw Failure{-1, path + ": table CD has no column " + names[n]};
            }
        }
        std::vector<StoredEntry> entries;
        entries.reserve(tables[t].recordedRows);
        reader.readRows(t, [&](std::span<const jet::Value> row) {
            entries.push_back({valueText(row[*columns[0]]), valueText(row[*columns[1]]),
                               valueText(row[*columns[2]])});
        });
        return entries;
    }
    throw Failure{-1, path + ": an Access catalogue without table CD"};
}

std::vector<StoredEntry> readAccess(const std::string& folder, const std::string& path) {
    const Descriptor dir(FileSystem::real(),
                         ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        throwErrno(folder, errno);
    }
    const std::string journal = jet::journalName(kCatalogueName);
    for (int attempt = 0;; ++attempt) {
        // Never waits on a FIFO: its type is refused below.
        const Descriptor file(
            FileSystem::real(),
            ::openat(dir.get(), kCatalogueName, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
        struct stat status {};
        if (!file.valid() || ::fstat(file.get(), &status) != 0) {
            throwErrno(path, errno);
        }
        if (!S_ISREG(status.st_mode)) {
            throw Failure{EINVAL, path + ": not a plain file, so not a catalogue"};
        }
        const bool locked = lockForReading(file.get(), path);
        // Under the shared lock no add is running, so a journal is one that
        // an interrupted add left: its pages go back before anything is read.
        const bool interrupted =
            ::faccessat(dir.get(), journal.c_str(), F_OK, AT_SYMLINK_NOFOLLOW) == 0;
        if (!interrupted || !locked || attempt > 0) {
            try {
                return readJetRows(path, file.get());
            } catch (const jet::JetError& error) {
                throw Failure{-1, path + ": " + error.what()};
            }
        }
        try {
            jet::recoverInterruptedInsert(dir.get(), kCatalogueName);
        } catch (const jet::JetWriteError& error) {
            throw Failure{error.number(), path + ": an interrupted add cannot be rolled back (" +
                                              error.what() + ")"};
        }
    }
}

} // namespace

std::vector<StoredEntry> readStoredEntries(const std::string& folder) {
    const std::string path = databasePath(folder);
    const AccessFormat format = accessFormatOfFile(path);
    if (format == AccessFormat::Jet3 || format == AccessFormat::Jet4) {
        return readAccess(folder, path);
    }
    if (format != AccessFormat::None) {
        throw Failure{-1, accessCatalogueDescription(format)};
    }
    return readSqlite(path);
}

} // namespace velmora
