// Listing benchmark: velmora2-list of one catalogue in its three forms against
// the tool a user would otherwise reach for on the same file (sqlite3 -csv for
// SQLite, mdb-export for Access), every command once per round, alternating,
// in one run. Prints each median, peak resident memory, and the ratios.
//   list_bench RUNS VELMORA2_LIST SQLITE_COLLECTION ACCESS_COLLECTION
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Command {
    std::string name;
    std::vector<std::string> arguments;
    std::vector<double> seconds = {};
    std::vector<double> cpuSeconds = {}; // user and system: what a loaded machine distorts least
    long peakKiB = 0;
};

// Runs the command with standard output into /dev/null; its wall time and
// peak resident memory (from wait4, so nothing else is counted).
void runOnce(Command& command) {
    std::vector<char*> argv;
    for (std::string& argument : command.arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open("/dev/null", O_WRONLY);
        dup2(out, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", command.name.c_str());
        std::exit(1);
    }
    command.seconds.push_back(std::chrono::duration<double>(end - start).count());
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    command.cpuSeconds.push_back(seconds(usage.ru_utime) + seconds(usage.ru_stime));
    command.peakKiB = std::max(command.peakKiB, usage.ru_maxrss);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: list_bench RUNS VELMORA2_LIST SQLITE_COLLECTION ACCESS_COLLECTION\n",
                   stderr);
        return 2;
    }
    const int runs = std::max(3, std::atoi(argv[1]));
    const std::string list = argv[2];
    const std::string sqlite = argv[3];
    const std::string access = argv[4];
    std::vector<Command> commands = {
        {"sqlite3 -csv -header",
         {"sqlite3", "-csv", "-header", sqlite + "/Velmora2.db",
          "SELECT Kategorija,Program,Opis FROM CD"}},
        {"velmora2-list --csv (SQLite)", {list, "--collection", sqlite, "--csv"}},
        {"velmora2-list --json (SQLite)", {list, "--collection", sqlite, "--json"}},
        {"velmora2-list (text, SQLite)", {list, "--collection", sqlite}},
        {"velmora2-list --count x (SQLite)", {list, "--collection", sqlite, "--count", "x"}},
        {"mdb-export CD", {"mdb-export", access + "/Velmora2.db", "CD"}},
        {"velmora2-list --csv (Access)", {list, "--collection", access, "--csv"}},
        {"velmora2-list --json (Access)", {list, "--collection", access, "--json"}},
    };
    for (Command& command : commands) { // warm the page cache and the libraries
        runOnce(command);
        command.seconds.clear();
        command.cpuSeconds.clear();
    }
    for (int round = 0; round < runs; ++round) {
        for (Command& command : commands) {
            runOnce(command);
        }
    }
    std::printf("runs: %d\n", runs);
    for (const Command& command : commands) {
        std::printf("%-34s median %7.1f ms (CPU %6.1f ms), peak RSS %6.1f MiB\n",
                    command.name.c_str(), median(command.seconds) * 1000.0,
                    median(command.cpuSeconds) * 1000.0,
                    static_cast<double>(command.peakKiB) / 1024.0);
    }
    const double sqliteRatio = median(commands[1].seconds) / median(commands[0].seconds);
    const double accessRatio = median(commands[6].seconds) / median(commands[5].seconds);
    std::printf("ratio velmora2-list --csv / sqlite3 -csv: %.2f; / mdb-export: %.2f (goal <= 1)\n",
                sqliteRatio, accessRatio);
    std::printf("CPU ratio: %.2f; %.2f\n",
                median(commands[1].cpuSeconds) / median(commands[0].cpuSeconds),
                median(commands[6].cpuSeconds) / median(commands[5].cpuSeconds));
    return 0;
}
