// The database part of an add (open, insert, flush, close) into an Access
// (Jet 4) catalogue in place, against the same into the SQLite catalogue of
// the same rows (velmora2-init --convert of a copy), alternating in one run,
// for 100, 10,000 and 100,000 rows (indexed schema: an autonumber primary key,
// a date index, a unique index, a memo). Prints medians, the Access/SQLite
// ratio at each size, the growth of the Access add from 100 to 100,000 rows,
// and the peak resident memory of velmora2-add adding one entry to each.
//   jet_add_bench PYTHON MAKE_JET4 VELMORA2_ADD VELMORA2_INIT [RUNS] [FOLDER]
#include "catalogue/access_catalogue.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/failure.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::array<int, 3> kSizes = {100, 10'000, 100'000};
// Each fixture starts with this many hand-picked sample rows.
constexpr int kSampleRows = 12;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Spawned {
    int status = -1;
    long peakKiB = 0;
};

// Runs `argv` with its output thrown away; returns its exit status and peak RSS.
Spawned spawn(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + argv[0]);
    }
    int raw = 0;
    rusage usage{};
    wait4(pid, &raw, 0, &usage);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, usage.ru_maxrss};
}

void check(const Spawned& run, const std::string& what) {
    if (run.status != 0) {
        throw std::runtime_error(what + " exited " + std::to_string(run.status));
    }
}

double timeMs(auto&& add) {
    const auto start = Clock::now();
    add();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Size {
    int rows = 0;
    double accessMs = 0;
    double sqliteMs = 0;
    long accessKiB = 0;
    long sqliteKiB = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: jet_add_bench PYTHON MAKE_JET4 VELMORA2_ADD VELMORA2_INIT [RUNS] "
                   "[FOLDER]\n",
                   stderr);
        return 2;
    }
    const std::string python = argv[1];
    const std::string makeJet4 = argv[2];
    const std::string add = argv[3];
    const std::string init = argv[4];
    const int runs = argc > 5 ? std::max(5, std::atoi(argv[5])) : 25;
    std::string pattern = std::string(argc > 6 ? argv[6] : "/tmp") + "/velmora-jet-add-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    std::ofstream(work / "setup.exe", std::ios::binary) << "MZ bench setup";
    std::ofstream(work / "picture.bmp", std::ios::binary) << "BM bench picture";

    std::vector<Size> sizes;
    try {
        for (const int rows : kSizes) {
            const fs::path access = work / ("access-" + std::to_string(rows));
            const fs::path sqlite = work / ("sqlite-" + std::to_string(rows));
            fs::create_directories(access / "Programi");
            fs::create_directories(sqlite);
            check(spawn({python, makeJet4, (access / "Velmora2.db").string(), "--schema", "indexed",
                         "--rows", std::to_string(rows - kSampleRows)}),
                  "make_jet4.py");
            fs::copy_file(access / "Velmora2.db", sqlite / "Velmora2.db");
            check(spawn({init, "--convert", sqlite.string()}), "velmora2-init --convert");
            fs::remove(sqlite / "Velmora2.jet4.db");

            Size size{rows};
            std::vector<double> accessTimes;
            std::vector<double> sqliteTimes;
            const std::string database = velmora::databasePath(sqlite.string());
            for (int r = 0; r < runs; ++r) {
                const std::string program = "Bench " + std::to_string(r);
                const auto intoAccess = [&] {
                    velmora::insertIntoAccessCatalogue(access.string(), "CDDVD", program,
                                                       "A small tool");
                };
                const auto intoSqlite = [&] {
                    const velmora::CatalogueConnection connection(database);
                    velmora::InsertStatement statement(connection);
                    statement.run("CDDVD", program, "A small tool");
                };
                // Alternating which goes first evens out the disk's state.
                if (r % 2 == 0) {
                    accessTimes.push_back(timeMs(intoAccess));
                    sqliteTimes.push_back(timeMs(intoSqlite));
                } else {
                    sqliteTimes.push_back(timeMs(intoSqlite));
                    accessTimes.push_back(timeMs(intoAccess));
                }
            }
            size.accessMs = median(accessTimes);
            size.sqliteMs = median(sqliteTimes);
            const auto command = [&](const fs::path& folder) {
                const Spawned run = spawn(
                    {add, "--quiet", "--collection", folder.string(), "--program", "Memory",
                     "--category", "CDDVD", "--description", "A small tool", "--setup",
                     (work / "setup.exe").string(), "--picture", (work / "picture.bmp").string()});
                check(run, "velmora2-add");
                return run.peakKiB;
            };
            size.accessKiB = command(access);
            size.sqliteKiB = command(sqlite);
            sizes.push_back(size);
            fs::remove_all(access);
            fs::remove_all(sqlite);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "jet_add_bench: %s\n", error.what());
        fs::remove_all(work);
        return 1;
    } catch (const velmora::Failure& failure) {
        std::fprintf(stderr, "jet_add_bench: %d %s\n", failure.number, failure.description.c_str());
        fs::remove_all(work);
        return 1;
    }
    fs::remove_all(work);

    std::printf("runs per size: %d (medians; the database part: open, insert, flush, close)\n",
                runs);
    bool met = true;
    long smallestPeak = sizes.front().accessKiB;
    long largestPeak = sizes.front().accessKiB;
    for (const Size& size : sizes) {
        const double ratio = size.accessMs / size.sqliteMs;
        const double memory =
            static_cast<double>(size.accessKiB) / static_cast<double>(size.sqliteKiB);
        std::printf("%7d rows: Access %.2f ms, SQLite %.2f ms, ratio %.2f; velmora2-add peak RSS "
                    "Access %.1f MiB, SQLite %.1f MiB (%.2fx)\n",
                    size.rows, size.accessMs, size.sqliteMs, ratio,
                    static_cast<double>(size.accessKiB) / 1024.0,
                    static_cast<double>(size.sqliteKiB) / 1024.0, memory);
        met = met && size.accessKiB <= 32 * 1024 && memory <= 1.5;
        smallestPeak = std::min(smallestPeak, size.accessKiB);
        largestPeak = std::max(largestPeak, size.accessKiB);
    }
    const Size& tenThousand = sizes[1];
    const double ratio = tenThousand.accessMs / tenThousand.sqliteMs;
    const double growth = sizes.back().accessMs / sizes.front().accessMs;
    const double memoryGrowth =
        static_cast<double>(largestPeak) / static_cast<double>(smallestPeak);
    std::printf("Access/SQLite at 10,000 rows: %.2f (target <= 1.50)\n", ratio);
    std::printf("Access add, 100,000 rows / 100 rows: %.2f (target <= 1.50)\n", growth);
    std::printf("peak RSS, largest / smallest size: %.2f (target <= 1.50; each under 32 MiB)\n",
                memoryGrowth);
    met = met && ratio <= 1.5 && growth <= 1.5 && memoryGrowth <= 1.5;
    return met ? 0 : 3;
}
