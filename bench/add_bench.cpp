// velmora2-add on a CSV list of 1,000 entries (1 KiB picture, 64 KiB setup
// each) into an empty collection, against 1,000 runs of the database part of
// an add alone (open, insert, close, as db_bench times it), alternating in
// the same run. Prints total and per-entry times (medians over the runs), the
// growth of per-entry time from the first to the last hundred entries, and
// the command's peak resident memory for 1,000 entries and for 100; then one
// line for a list of 10^6 rows: time and peak memory against cat.
//   add_bench VELMORA2_ADD [RUNS] [FOLDER]
#include "catalogue/catalogue_database.h"
#include "cli/init/collection_init.h"

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

constexpr int kEntries = 1000;
constexpr int kHundred = 100;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void writeBytes(const fs::path& path, std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 131 + i / 4096 + static_cast<std::size_t>(seed));
    }
    std::ofstream(path, std::ios::binary) << bytes;
}

fs::path freshCollection(const fs::path& work, const std::string& name) {
    const fs::path folder = work / name;
    fs::remove_all(folder);
    if (const auto made = velmora::initCollection(folder.string()); !made.ok()) {
        throw std::runtime_error(made.error);
    }
    return folder;
}

// The database part of `count` adds: the baseline. Returns each add's time.
std::vector<double> databaseOnly(const fs::path& collection, int count) {
    const std::string database = velmora::databasePath(collection.string());
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = Clock::now();
        {
            const velmora::CatalogueConnection connection(database);
            velmora::InsertStatement statement(connection);
            statement.run("Ostalo", "Program " + std::to_string(i), "Bench entry");
        }
        times.push_back(milliseconds(Clock::now() - start));
    }
    return times;
}

struct CommandRun {
    double totalMs = 0;
    double cpuMs = 0;            // user and system
    std::vector<double> entryMs; // from one finished entry to the next, when timed
    std::size_t finished = 0;    // entries
    long peakKiB = 0;
    int status = -1;
};

// Runs velmora2-add on the list with standard output on a pipe, timing each
// result line as it arrives: one per finished entry.
// The child's peak memory (ru_maxrss) counts this process's own peak too, as
// the spawn runs in this process's memory until the exec; so nothing big is
// held here: huge lists are written a piece at a time, and `timeEntries`
// false counts the entries without keeping their times.
CommandRun runCommand(const std::string& command, const fs::path& list, const fs::path& into,
                      bool timeEntries = true) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string listText = list.string();
    const std::string intoText = into.string();
    std::array<const char*, 6> argv = {command.c_str(), "--csv",          listText.c_str(),
                                       "--collection",  intoText.c_str(), nullptr};
    pid_t pid = -1;
    const auto start = Clock::now();
    const int spawned = posix_spawn(&pid, command.c_str(), &actions, nullptr,
                                    const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        throw std::runtime_error("cannot start " + command);
    }
    CommandRun run;
    Clock::time_point last = start;
    std::array<char, 4096> buffer{};
    bool lineStart = true;
    for (ssize_t got; (got = read(ends[0], buffer.data(), buffer.size())) > 0;) {
        const auto now = Clock::now();
        for (ssize_t i = 0; i < got; ++i) {
            if (lineStart) {
                ++run.finished;
                if (timeEntries) {
                    run.entryMs.push_back(milliseconds(now - last));
                }
                last = now;
            }
            lineStart = buffer[static_cast<std::size_t>(i)] == '\n';
        }
    }
    close(ends[0]);
    int raw = 0;
    rusage usage{};
    wait4(pid, &raw, 0, &usage);
    run.totalMs = milliseconds(Clock::now() - start);
    run.peakKiB = usage.ru_maxrss;
    const auto toMs = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
    };
    run.cpuMs = toMs(usage.ru_utime) + toMs(usage.ru_stime);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

fs::path writeList(const fs::path& work, int count) {
    const fs::path list = work / ("list-" + std::to_string(count) + ".csv");
    std::ofstream out(list, std::ios::binary);
    out << "Kategorija,Program,Opis,Source,Slika\n";
    for (int i = 0; i < count; ++i) {
        out << "Ostalo,Program " << i << ",Bench entry " << i << ",sources/setup-" << i
            << ".exe,sources/picture-" << i << ".bmp\n";
    }
    return list;
}

// A list of `rows` entries that the add refuses before it opens anything
// (descriptions of 50 characters), then `tail`, then a row whose Source is
// `wideField` bytes long. With `missingSetup`, each entry is refused later,
// for a setup file that does not exist, once its picture has been opened.
fs::path writeRefusedList(const fs::path& work, const std::string& name, int rows,
                          const std::string& tail, std::size_t wideField = 0,
                          bool missingSetup = false) {
    const fs::path list = work / name;
    std::ofstream out(list, std::ios::binary);
    out << "Kategorija;Program;Opis;Source;Slika\r\n";
    const std::string description = missingSetup ? "d" : std::string(50, 'x');
    const std::string setup = missingSetup ? ";sources/missing-" : ";sources/setup-";
    for (int i = 0; i < rows; ++i) {
        out << "Ostalo;Program " << i << ";" << description << setup << i << ".exe;sources/picture-"
            << i % kEntries << ".bmp\r\n";
    }
    out << tail;
    if (wideField > 0) {
        out << "Ostalo;Wide;d;";
        const std::string piece(1 << 20, 's');
        for (std::size_t left = wideField; left > 0;) {
            const std::size_t now = std::min(left, piece.size());
            out.write(piece.data(), static_cast<std::streamsize>(now));
            left -= now;
        }
        out << ";p.bmp\r\n";
    }
    return list;
}

// The time `cat` takes to read `list` into /dev/null: the floor for any reading of it.
double catMs(const fs::path& list) {
    const std::string path = list.string();
    std::array<const char*, 3> argv = {"cat", path.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const auto start = Clock::now();
    const int spawned = posix_spawnp(&pid, "cat", &actions, nullptr,
                                     const_cast<char* const*>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start cat");
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    return milliseconds(Clock::now() - start);
}

constexpr int kMillion = 1'000'000;
constexpr double kMemoryTargetMiB = 64;

// 10^6 rows through both passes and the add's checks; the first pass alone (a
// fault of form on the last line adds nothing); one field of 100 MB. Prints
// one line; returns whether every peak stayed under the target.
bool millionRows(const std::string& command, const fs::path& work) {
    const fs::path list = writeRefusedList(work, "million.csv", kMillion, "");
    const CommandRun run = runCommand(command, list, freshCollection(work, "million"), false);
    const double cat = catMs(list);
    fs::remove(list);
    const fs::path faulty = writeRefusedList(work, "faulty.csv", kMillion, "Ostalo;Short\r\n");
    const CommandRun check = runCommand(command, faulty, freshCollection(work, "faulty"), false);
    fs::remove(faulty);
    const fs::path wide = writeRefusedList(work, "wide.csv", 1, "", 100'000'000);
    const CommandRun field = runCommand(command, wide, freshCollection(work, "wide"), false);
    fs::remove(wide);
    const fs::path missing = writeRefusedList(work, "missing.csv", kMillion, "", 0, true);
    const CommandRun unusable =
        runCommand(command, missing, freshCollection(work, "missing"), false);
    fs::remove(missing);
    if (run.status != 1 || run.finished != static_cast<std::size_t>(kMillion) ||
        check.status != 2 || field.status != 1 || unusable.status != 1) {
        std::fprintf(stderr, "velmora2-add exited %d, %d, %d, %d\n", run.status, check.status,
                     field.status, unusable.status);
        return false;
    }
    std::printf("velmora2-add --csv, 10^6 rows whose setup file is missing: total %.0f ms "
                "(%.1f us a row), %.1f x the rows refused for their description\n",
                unusable.totalMs, unusable.totalMs * 1000.0 / kMillion,
                unusable.totalMs / run.totalMs);
    const double peak = static_cast<double>(run.peakKiB) / 1024.0;
    const double checkPeak = static_cast<double>(check.peakKiB) / 1024.0;
    const double fieldPeak = static_cast<double>(field.peakKiB) / 1024.0;
    std::printf("velmora2-add --csv, 10^6 rows (each refused by the add): total %.0f ms (CPU "
                "%.0f ms), peak %.1f MiB; the form check alone %.0f ms (%.1f x cat of the list, "
                "%.0f ms), peak %.1f MiB; one 100 MB field: peak %.1f MiB (target < %.0f MiB)\n",
                run.totalMs, run.cpuMs, peak, check.totalMs, check.totalMs / cat, cat, checkPeak,
                fieldPeak, kMemoryTargetMiB);
    return peak < kMemoryTargetMiB && checkPeak < kMemoryTargetMiB && fieldPeak < kMemoryTargetMiB;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: add_bench VELMORA2_ADD [RUNS] [FOLDER]\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::string pattern = std::string(argc > 3 ? argv[3] : "/tmp") + "/velmora-add-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path work = pattern;
    fs::create_directory(work / "sources");
    for (int i = 0; i < kEntries; ++i) {
        writeBytes(work / "sources" / ("picture-" + std::to_string(i) + ".bmp"), 1024, i);
        writeBytes(work / "sources" / ("setup-" + std::to_string(i) + ".exe"), 64 * 1024, i);
    }
    const fs::path list = writeList(work, kEntries);
    const fs::path shortList = writeList(work, kHundred);

    std::vector<double> databaseTotals;
    std::vector<double> databaseMedians;
    std::vector<double> commandTotals;
    std::vector<double> commandMedians;
    std::vector<double> growth;
    std::vector<double> peaks;
    for (int r = 0; r < runs; ++r) {
        const std::vector<double> database = databaseOnly(freshCollection(work, "db"), kEntries);
        double sum = 0;
        for (const double ms : database) {
            sum += ms;
        }
        databaseTotals.push_back(sum);
        databaseMedians.push_back(median(database));

        const CommandRun run = runCommand(command, list, freshCollection(work, "cli"));
        if (run.status != 0 || run.entryMs.size() != static_cast<std::size_t>(kEntries)) {
            std::fprintf(stderr, "velmora2-add exited %d after %zu entries\n", run.status,
                         run.entryMs.size());
            return 1;
        }
        commandTotals.push_back(run.totalMs);
        commandMedians.push_back(median(run.entryMs));
        const std::vector<double> first(run.entryMs.begin(), run.entryMs.begin() + kHundred);
        const std::vector<double> last(run.entryMs.end() - kHundred, run.entryMs.end());
        growth.push_back(median(last) / median(first));
        peaks.push_back(static_cast<double>(run.peakKiB));
    }
    const CommandRun shortRun = runCommand(command, shortList, freshCollection(work, "short"));
    const bool millionWithinTarget = millionRows(command, work);
    fs::remove_all(work);

    const double peakMiB = median(peaks) / 1024.0;
    const double memoryRatio = median(peaks) / static_cast<double>(shortRun.peakKiB);
    std::printf("runs: %d, each 1,000 entries (1 KiB picture, 64 KiB setup)\n", runs);
    std::printf("database part alone, 1,000 adds: total %.0f ms, median %.3f ms per add\n",
                median(databaseTotals), median(databaseMedians));
    std::printf("velmora2-add --csv, 1,000 entries: total %.0f ms, median %.3f ms per entry\n",
                median(commandTotals), median(commandMedians));
    std::printf("ratio per entry, command / database part: %.2f\n",
                median(commandMedians) / median(databaseMedians));
    std::printf("per-entry median, last hundred / first hundred: %.2f (target <= 1.50)\n",
                median(growth));
    std::printf("peak resident memory: %.1f MiB for 1,000 entries, %.1f MiB for 100: ratio "
                "%.2f (target < 32 MiB, flat)\n",
                peakMiB, static_cast<double>(shortRun.peakKiB) / 1024.0, memoryRatio);
    return median(growth) <= 1.5 && peakMiB < 32 && millionWithinTarget ? 0 : 3;
}
