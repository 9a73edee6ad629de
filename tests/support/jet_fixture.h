#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Helpers for tests on Access (Jet) catalogues: fixtures written by
// tests/fixtures/make_jet4.py, velmora2-init run as a program, and SQLite
// tables read back value by value.
namespace velmora::testing {

// Writes a Jet 4 file at `path` with make_jet4.py and `arguments`; when
// `expectedDb` is given, also the SQLite file the conversion is to produce.
void makeJet(const std::filesystem::path& path, const std::vector<std::string>& arguments,
             const std::filesystem::path& expectedDb = {});

struct InitOutcome {
    int status = -1;
    std::vector<std::string> out; // standard output, line by line
    std::vector<std::string> err; // standard error, line by line
};

// Runs velmora2-init --convert on `folder` with `options` after it, as the user
// nobody when `unprivileged` and this process is root (so that permissions
// hold), with `environment` ("NAME=value" each) added to this process's. A run
// that takes longer than a minute is killed (status 137): a hang fails the
// test instead of stalling it.
InitOutcome runInit(const std::filesystem::path& folder,
                    const std::vector<std::string>& environment = {}, bool unprivileged = false,
                    const std::vector<std::string>& options = {});

// What tests/fixtures/jet4_invariants.py finds wrong with the pages of the
// Jet 4 file at `path` (usage maps, row count, index trees) and, against
// `before`, pages changed that are not table CD's own; empty when nothing.
std::vector<std::string> jetPageFaults(const std::filesystem::path& path,
                                       const std::filesystem::path& before = {});

// Leaves `folder` as an add into its Access Velmora2.db that was cut off after
// its pages were written: the row is in the file, and the journal beside it
// holds the pages as they were before.
void interruptAdd(const std::filesystem::path& folder);

// Every value of a table, in rowid order, each as "type:value" (NULL, i:, r:,
// t:, b: with hex), so two databases compare value for value and type for type.
using TableDump = std::vector<std::vector<std::string>>;
struct TableContents {
    std::vector<std::string> columns;
    TableDump rows;
    bool operator==(const TableContents&) const = default;
};
// Every table of an SQLite file but SQLite's own, by name.
std::map<std::string, TableContents> readTables(const std::filesystem::path& database);

} // namespace velmora::testing
