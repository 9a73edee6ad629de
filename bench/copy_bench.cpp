// Copies one file through the real copy layer and progress routine onto an
// offscreen window, alternating with cp of the same file, and prints the
// medians, their ratio, the longest gap between progress calls, the number
// of calls and the resident memory during the copy against the idle figure.
//
//   copy_bench SOURCE TARGET [RUNS]
#include "catalogue/copy_progress.h"
#include "catalogue/entry_window.h"
#include "catalogue/file_copy.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
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

// The caption and event loop of a real window, without the form.
class BenchWindow : public velmora::EntryWindow {
public:
    std::string fieldText(velmora::Field) override { return {}; }
    void setCaption(std::string_view text) override {
        m_widget.setWindowTitle(
            QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }
    void messageBox(std::string_view, std::string_view) override {}
    void processPendingEvents() override { QCoreApplication::processEvents(); }
    std::string applicationFolder() override { return {}; }
    void show() { m_widget.show(); }

private:
    QWidget m_widget;
};

struct Measure {
    BenchWindow* window;
    std::vector<Clock::time_point> calls;
    long peakKiB = 0;
};

std::uint32_t measuredRoutine(std::int64_t total, std::int64_t done, std::int64_t streamSize,
                              std::int64_t streamDone, std::uint32_t stream, std::uint32_t reason,
                              velmora::FileHandle source, velmora::FileHandle target, void* data) {
    auto& measure = *static_cast<Measure*>(data);
    measure.calls.push_back(Clock::now());
    measure.peakKiB = std::max(measure.peakKiB, residentKiB());
    return velmora::CopyFileModul::CopyProgressRoutine(total, done, streamSize, streamDone, stream,
                                                       reason, source, target, measure.window);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timeCp(const std::string& source, const std::string& target) {
    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execlp("cp", "cp", source.c_str(), target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double taken = seconds(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cp failed\n");
        std::exit(1);
    }
    return taken;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: copy_bench SOURCE TARGET [RUNS]\n");
        return 2;
    }
    const std::string source = argv[1];
    const std::string target = argv[2];
    const int runs = argc > 3 ? std::atoi(argv[3]) : 5;

    QApplication app(argc, argv);
    BenchWindow window;
    window.show();
    QCoreApplication::processEvents();
    const long idleKiB = residentKiB();

    std::vector<double> ours, theirs;
    Clock::duration longestGap{0};
    std::size_t calls = 0;
    long peakKiB = 0;
    for (int run = 0; run < runs; ++run) {
        // Each copy starts with no write-back of the one before still going.
        unlink(target.c_str());
        sync();
        theirs.push_back(timeCp(source, target));
        unlink(target.c_str());
        sync();

        Measure measure{&window, {}, 0};
        const Clock::time_point start = Clock::now();
        const velmora::FileResult result =
            velmora::CopyFileExA(source, target, &measuredRoutine, &measure,
                                 &velmora::CopyFileModul::kCancel, velmora::COPY_FILE_RESTARTABLE);
        ours.push_back(seconds(Clock::now() - start));
        if (!result.ok()) {
            std::fprintf(stderr, "copy failed: %s\n", result.reason().c_str());
            return 1;
        }
        for (std::size_t i = 1; i < measure.calls.size(); ++i) {
            longestGap = std::max(longestGap, measure.calls[i] - measure.calls[i - 1]);
        }
        calls = std::max(calls, measure.calls.size());
        peakKiB = std::max(peakKiB, measure.peakKiB);
        std::printf("run %d: cp %.3f s, ours %.3f s, %zu calls\n", run + 1, theirs.back(),
                    ours.back(), measure.calls.size());
    }
    unlink(target.c_str());

    const double oursMedian = median(ours);
    const double cpMedian = median(theirs);
    std::printf("median cp %.3f s, ours %.3f s, ratio %.3f\n", cpMedian, oursMedian,
                oursMedian / cpMedian);
    std::printf("longest gap between progress calls %.1f ms, most calls in one copy %zu\n",
                std::chrono::duration<double, std::milli>(longestGap).count(), calls);
    std::printf("resident idle %ld KiB, during copy at most %ld KiB (+%ld KiB)\n", idleKiB, peakKiB,
                peakKiB - idleKiB);
    return 0;
}
