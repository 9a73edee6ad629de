#include "tests/support/jet_fixture.h"

#include "access/jet_journal.h"
#include "access/jet_writer.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/descriptor.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_collection.h"

#include <algorithm>
#include <fcntl.h>
#include <memory>
#include <sqlite3.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace velmora::testing {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

} // namespace

void makeJet(const fs::path& path, const std::vector<std::string>& arguments,
             const fs::path& expectedDb) {
    std::vector<std::string> command = {VELMORA_PYTHON, VELMORA_MAKE_JET4, path.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    if (!expectedDb.empty()) {
        command.insert(command.end(), {"--expected-db", expectedDb.string()});
    }
    const ChildResult result = runChild(command);
    if (result.status != 0) {
        throw std::runtime_error("fixture failed: " + result.errors);
    }
}

InitOutcome runInit(const fs::path& folder, const std::vector<std::string>& environment,
                    bool unprivileged, const std::vector<std::string>& options) {
    // A run that would never end is killed after a minute (status 137).
    std::vector<std::string> command = {"timeout", "-s", "KILL", "60"};
    if (unprivileged && geteuid() == 0) {
        command.insert(command.end(),
                       {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"});
    }
    command.insert(command.end(), {VELMORA_INIT_EXE, "--convert", folder.string()});
    command.insert(command.end(), options.begin(), options.end());
    const ChildResult result = runChild(command, "/dev/null", environment);
    return {result.status, lines(result.output), lines(result.errors)};
}

std::vector<std::string> jetPageFaults(const fs::path& path, const fs::path& before) {
    std::vector<std::string> command = {VELMORA_PYTHON, VELMORA_JET4_INVARIANTS, path.string()};
    if (!before.empty()) {
        command.insert(command.end(), {"--since", before.string()});
    }
    const ChildResult result = runChild(command);
    std::vector<std::string> faults = lines(result.output + result.errors);
    if (result.status != 0 && faults.empty()) {
        faults.push_back("jet4_invariants.py exited " + std::to_string(result.status));
    }
    return faults;
}

void interruptAdd(const fs::path& folder) {
    const fs::path file = folder / "Velmora2.db";
    const std::string before = readFile(file);
    const Descriptor dir(FileSystem::real(), ::open(folder.c_str(), O_RDONLY | O_DIRECTORY));
    jet::insertCatalogueRow(dir.get(), "Velmora2.db", {"CDDVD", "Prekinut", "cut off"});
    const std::string after = readFile(file);
    // The journal the add wrote before its first page changed: the pages that
    // differ, with their bytes before and after.
    const std::size_t count = after.size() / jet::kJetPageSize;
    std::vector<jet::Page> pages(2 * count);
    jet::JournalPlan plan{before.size(), after.size(), {}, {}};
    for (std::size_t at = 0; at < after.size(); at += jet::kJetPageSize) {
        const auto number = static_cast<std::uint32_t>(at / jet::kJetPageSize);
        if (at < before.size() &&
            before.compare(at, jet::kJetPageSize, after, at, jet::kJetPageSize) == 0) {
            continue;
        }
        if (at < before.size()) {
            jet::Page& original = pages[number];
            std::copy_n(before.begin() + static_cast<std::ptrdiff_t>(at), original.size(),
                        original.begin());
            plan.originals.emplace_back(number, &original);
        }
        jet::Page& written = pages[count + number];
        std::copy_n(after.begin() + static_cast<std::ptrdiff_t>(at), written.size(),
                    written.begin());
        plan.written.emplace_back(number, &written);
    }
    const Descriptor fd(FileSystem::real(), ::open(file.c_str(), O_RDONLY));
    jet::writeJournal(dir.get(), jet::journalName("Velmora2.db"), fd.get(), plan);
}

std::map<std::string, TableContents> readTables(const fs::path& database) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(database.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(raw);
        throw std::runtime_error("cannot open " + database.string());
    }
    const std::unique_ptr<sqlite3, ConnectionCloser> db(raw);
    const auto query = [&](const std::string& sql, auto&& onRow) {
        sqlite3_stmt* rawStatement = nullptr;
        if (sqlite3_prepare_v2(raw, sql.c_str(), -1, &rawStatement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(raw));
        }
        const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
        while (sqlite3_step(rawStatement) == SQLITE_ROW) {
            onRow(rawStatement);
        }
    };
    const auto text = [](sqlite3_stmt* statement, int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, column));
        return std::string(bytes != nullptr ? bytes : "",
                           static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
    };
    std::vector<std::string> names;
    query("SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
          "ESCAPE '\\' ORDER BY name",
          [&](sqlite3_stmt* statement) { names.push_back(text(statement, 0)); });
    std::map<std::string, TableContents> tables;
    for (const std::string& name : names) {
        std::string quotedName = "\"";
        for (const char c : name) {
            quotedName += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        quotedName += "\"";
        TableContents& contents = tables[name];
        query("PRAGMA table_info(" + quotedName + ")",
              [&](sqlite3_stmt* statement) { contents.columns.push_back(text(statement, 1)); });
        query("SELECT * FROM " + quotedName + " ORDER BY rowid", [&](sqlite3_stmt* statement) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                switch (sqlite3_column_type(statement, i)) {
                case SQLITE_NULL:
                    row.emplace_back("NULL");
                    break;
                case SQLITE_INTEGER:
                    row.push_back("i:" + std::to_string(sqlite3_column_int64(statement, i)));
                    break;
                case SQLITE_FLOAT: {
                    char number[64];
                    std::snprintf(number, sizeof number, "r:%.17g",
                                  sqlite3_column_double(statement, i));
                    row.emplace_back(number);
                    break;
                }
                case SQLITE_TEXT:
                    row.push_back("t:" + text(statement, i));
                    break;
                default: {
                    std::string hex = "b:";
                    for (const unsigned char byte : text(statement, i)) {
                        constexpr char kDigits[] = "0123456789abcdef";
                        hex += kDigits[byte >> 4];
                        hex += kDigits[byte & 15];
                    }
                    row.push_back(hex);
                }
                }
            }
            contents.rows.push_back(std::move(row));
        });
    }
    return tables;
}

} // namespace velmora::testing
