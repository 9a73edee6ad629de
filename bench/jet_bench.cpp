// Conversion benchmark: velmora2-init converting a Jet catalogue, against
// mdb-export writing the same table into a file, alternating in one run.
// Prints both medians, their ratio, and the peak resident memory of each.
//   jet_bench VELMORA2_INIT SOURCE.db WORK_FOLDER [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Sample {
    double seconds = 0;
    long peakKiB = 0;
};

// Runs a program with standard output into `output` and returns its wall time
// and peak resident memory (from wait4, so nothing else is counted).
Sample run(const std::vector<std::string>& arguments, const std::string& output) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    const auto end = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", arguments[0].c_str());
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fputs("usage: jet_bench VELMORA2_INIT SOURCE.db WORK_FOLDER [RUNS]\n", stderr);
        return 2;
    }
    const std::string init = argv[1];
    const fs::path source = argv[2];
    const fs::path work = argv[3];
    const int runs = argc > 4 ? std::max(3, std::atoi(argv[4])) : 5;
    const fs::path collection = work / "collection";

    std::vector<double> ours, theirs;
    long oursPeak = 0, theirsPeak = 0;
    for (int i = 0; i < runs; ++i) {
        fs::remove_all(collection);
        fs::create_directories(collection);
        fs::copy_file(source, collection / "Velmora2.db");
        const Sample converted = run({init, collection.string()}, (work / "init.out").string());
        const Sample exported =
            run({"mdb-export", source.string(), "CD"}, (work / "export.csv").string());
        ours.push_back(converted.seconds);
        theirs.push_back(exported.seconds);
        oursPeak = std::max(oursPeak, converted.peakKiB);
        theirsPeak = std::max(theirsPeak, exported.peakKiB);
    }
    fs::remove_all(collection);
    const double ratio = median(ours) / median(theirs);
    std::printf("runs: %d, source %.1f MiB\n", runs,
                static_cast<double>(fs::file_size(source)) / (1024.0 * 1024.0));
    std::printf("velmora2-init (convert, flush, check, keep, rename): median %.3f s, peak RSS "
                "%.1f MiB\n",
                median(ours), static_cast<double>(oursPeak) / 1024.0);
    std::printf("mdb-export CD > file:                                 median %.3f s, peak RSS "
                "%.1f MiB\n",
                median(theirs), static_cast<double>(theirsPeak) / 1024.0);
    std::printf("ratio ours/mdb-export: %.2f (target <= 1.50); peak RSS target < 64 MiB\n", ratio);
    return ratio <= 1.5 && oursPeak < 64 * 1024 ? 0 : 3;
}
