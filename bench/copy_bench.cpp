// Runs whole adds through the real add operation on an offscreen window, each
// with a small picture and a large setup file, alternating with cp of the same
// setup file, and prints the medians, their ratio, the longest time the
// window's thread went without an event pass during an add, and the resident
// memory during the adds against the idle figure.
//
//   copy_bench first|replace SETUP COLLECTION [RUNS]
//
// "first": every add is of a new program, so its copies are first copies,
// against `cp SETUP NEW`. "replace": every add is of the same program, so its
// copies replace the previous files, against `cp SETUP OLD && sync OLD`.
#include "catalogue/add_operation.h"
#include "catalogue/entry_window.h"
#include "cli/init/collection_init.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// A real window's caption and event loop with a fixed entry, noting the time
// of every event pass and the resident memory there.
class BenchWindow : public velmora::EntryWindow {
public:
    BenchWindow(std::string collection, std::string picture, std::string setup)
        : m_collection(std::move(collection)), m_picture(std::move(picture)),
          m_setup(std::move(setup)) {
        m_widget.show();
    }

    std::string program;
    std::vector<Clock::time_point> passes;
    long peakKiB = 0;
    int boxes = 0;

    std::string fieldText(velmora::Field field) override {
        switch (field) {
        case velmora::Field::Program:
            return program;
        case velmora::Field::Opis:
            return "bench";
        case velmora::Field::Kategorija:
            return "Ostalo";
        case velmora::Field::Source:
            return m_setup;
        case velmora::Field::Slika:
            return m_picture;
        }
        return {};
    }
    void setCaption(std::string_view text) override {
        m_widget.setWindowTitle(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    void messageBox(std::string_view text, std::string_view) override {
        std::fprintf(stderr, "box: %.*s\n", static_cast<int>(text.size()), text.data());
        ++boxes;
    }
    void processPendingEvents() override {
        passes.push_back(Clock::now());
        peakKiB = std::max(peakKiB, residentKiB());
        QCoreApplication::processEvents();
    }
    std::string applicationFolder() override { return m_collection; }

private:
    QWidget m_widget;
    std::string m_collection;
    std::string m_picture;
    std::string m_setup;
};

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The processor time (user and system) this process, or its children, has
// used so far: what a copy costs, whatever else the machine is doing.
double processorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto toSeconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool run(const std::vector<const char*>& command) {
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> args;
        for (const char* arg : command) {
            args.push_back(const_cast<char*>(arg));
        }
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (std::string(argv[1]) != "first" && std::string(argv[1]) != "replace")) {
        std::fprintf(stderr, "usage: copy_bench first|replace SETUP COLLECTION [RUNS]\n");
        return 2;
    }
    const bool replace = std::string(argv[1]) == "replace";
    const std::string setup = argv[2];
    const std::string collection = argv[3];
    const int runs = argc > 4 ? std::atoi(argv[4]) : 5;
    if (!velmora::initCollection(collection).ok()) {
        std::fprintf(stderr, "cannot make the collection %s\n", collection.c_str());
        return 1;
    }
    const std::string picture = collection + "/bench-picture.bmp";
    std::ofstream(picture) << "BM picture";
    // cp's target: one file replaced every run, or for first copies a file in
    // a folder made anew every run, as an add makes the program's folder (a
    // new folder's data may be placed elsewhere on the disk than an old one's).
    const std::string cpFolder = collection + "/cp";
    std::filesystem::create_directory(cpFolder);
    std::string theirs = cpFolder + "/Setup.exe";

    QApplication app(argc, argv);
    BenchWindow window(collection, picture, setup);
    QCoreApplication::processEvents();
    const long idleKiB = residentKiB();

    if (replace) {
        // The files that every run replaces.
        window.program = "Replaced";
        velmora::Dodaj(window);
        run({"cp", setup.c_str(), theirs.c_str()});
    }
    std::vector<double> ours, cps, oursCpu, cpsCpu;
    Clock::duration longestGap{0};
    for (int i = 0; i < runs; ++i) {
        // Each copy starts with no write-back of the one before still going,
        // and a first copy with the other side's target gone, so that neither
        // has to make room in the page cache for the other's copy.
        if (!replace) {
            std::filesystem::remove_all(cpFolder);
            std::filesystem::remove_all(collection + "/Programi/First " + std::to_string(i - 1));
            std::filesystem::create_directories(cpFolder + "/First " + std::to_string(i));
            theirs = cpFolder + "/First " + std::to_string(i) + "/Setup.exe";
        }
        sync();
        const double cpCpuBefore = processorSeconds(RUSAGE_CHILDREN);
        const Clock::time_point cpStart = Clock::now();
        const bool copied = run({"cp", setup.c_str(), theirs.c_str()}) &&
                            (!replace || run({"sync", theirs.c_str()}));
        cps.push_back(seconds(Clock::now() - cpStart));
        cpsCpu.push_back(processorSeconds(RUSAGE_CHILDREN) - cpCpuBefore);
        if (!copied) {
            std::fprintf(stderr, "cp failed\n");
            return 1;
        }
        if (!replace) {
            std::filesystem::remove_all(cpFolder);
        }
        sync();

        window.program = replace ? "Replaced" : "First " + std::to_string(i);
        window.passes.clear();
        const double cpuBefore = processorSeconds(RUSAGE_SELF);
        const Clock::time_point start = Clock::now();
        velmora::Dodaj(window);
        const Clock::time_point end = Clock::now();
        ours.push_back(seconds(end - start));
        oursCpu.push_back(processorSeconds(RUSAGE_SELF) - cpuBefore);
        if (window.boxes != 0) {
            return 1;
        }
        Clock::time_point last = start;
        Clock::duration gap{0};
        for (const Clock::time_point pass : window.passes) {
            gap = std::max(gap, pass - last);
            last = pass;
        }
        gap = std::max(gap, end - last);
        longestGap = std::max(longestGap, gap);
        std::printf("run %d: cp%s %.3f s, add %.3f s, %zu event passes, longest gap %.1f ms\n",
                    i + 1, replace ? "+sync" : "", cps.back(), ours.back(), window.passes.size(),
                    milliseconds(gap));
        std::fflush(stdout);
    }

    const double oursMedian = median(ours);
    const double cpMedian = median(cps);
    std::printf("median cp%s %.3f s, add %.3f s, ratio %.3f; processor time cp %.3f s, add %.3f "
                "s, ratio %.3f\n",
                replace ? "+sync" : "", cpMedian, oursMedian, oursMedian / cpMedian, median(cpsCpu),
                median(oursCpu), median(oursCpu) / median(cpsCpu));
    std::printf("longest gap between event passes during an add: %.1f ms\n",
                milliseconds(longestGap));
    std::printf("resident idle %ld KiB, during the adds at most %ld KiB (+%ld KiB)\n", idleKiB,
                window.peakKiB, window.peakKiB - idleKiB);
    return 0;
}
