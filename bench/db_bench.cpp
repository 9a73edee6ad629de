// The database part of one add (open, insert, close), timed against an empty
// catalogue and against one of 1,000,000 rows. Prints medians and their ratio.
#include "catalogue/catalogue_database.h"
#include "cli/init/collection_init.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <stdlib.h>
#include <string>
#include <vector>

namespace {

using velmora::CatalogueConnection;
using velmora::InsertStatement;
using Clock = std::chrono::steady_clock;

double medianMicroseconds(const std::string& database, int runs) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        {
            const CatalogueConnection connection(database);
            InsertStatement statement(connection);
            statement.run("CDDVD", "Bench program " + std::to_string(i), "A small tool");
        }
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

void fill(const std::string& database, int rows) {
    sqlite3* raw = nullptr;
    sqlite3_open(database.c_str(), &raw);
    const std::unique_ptr<sqlite3, velmora::ConnectionCloser> db(raw);
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* rawStatement = nullptr;
    sqlite3_prepare_v2(raw, "INSERT INTO CD VALUES ('Igre', ?, 'Filler row of the catalogue')", -1,
                       &rawStatement, nullptr);
    const std::unique_ptr<sqlite3_stmt, velmora::StatementFinalizer> statement(rawStatement);
    for (int i = 0; i < rows; ++i) {
        const std::string name = "Program " + std::to_string(i);
        sqlite3_bind_text(rawStatement, 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(rawStatement);
        sqlite3_reset(rawStatement);
    }
    sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(20, std::atoi(argv[1])) : 25;
    const char* base = argc > 2 ? argv[2] : "/tmp";
    std::string pattern = std::string(base) + "/velmora-db-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string folder = pattern;
    if (const auto made = velmora::initCollection(folder); !made.ok()) {
        std::fprintf(stderr, "%s\n", made.error.c_str());
        return 1;
    }
    const std::string database = velmora::databasePath(folder);

    const double empty = medianMicroseconds(database, runs);
    fill(database, 1'000'000);
    const double full = medianMicroseconds(database, runs);
    std::printf("runs per case: %d\n", runs);
    std::printf("open+insert+close, empty catalogue:    median %.1f us\n", empty);
    std::printf("open+insert+close, 1,000,000 rows:     median %.1f us\n", full);
    std::printf("ratio full/empty: %.2f (target <= 1.50)\n", full / empty);
    std::filesystem::remove_all(folder);
    return full / empty <= 1.5 ? 0 : 3;
}
