#include "catalogue/copy/copy_error.h"
#include "catalogue/copy_file_modul.h"
#include "catalogue/failure.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

struct ProgressCase {
    std::int64_t total;
    std::int64_t transferred;
    const char* caption;
    // CTest names each case by this: "<transferred> of <total>".
    friend void PrintTo(const ProgressCase& c, std::ostream* out) {
        *out << c.transferred << " of " << c.total;
    }
};

class ProgressTextTest : public ::testing::TestWithParam<ProgressCase> {};

// The ratio is taken in double precision first and then multiplied by 100,
// so 29/100 and 57/100 fall just below the whole number.
INSTANTIATE_TEST_SUITE_P(Cases, ProgressTextTest,
                         ::testing::Values(ProgressCase{3, 0, "0% Complete"},
                                           ProgressCase{3, 1, "33% Complete"},
                                           ProgressCase{3, 2, "66% Complete"},
                                           ProgressCase{100, 29, "28% Complete"},
                                           ProgressCase{100, 57, "56% Complete"},
                                           ProgressCase{1000, 999, "99% Complete"},
                                           ProgressCase{1000, 1000, "100% Complete"},
                                           ProgressCase{0, 0, "100% Complete"},
                                           ProgressCase{4LL << 30, (4LL << 30) - 1, "99% Complete"},
                                           ProgressCase{4LL << 30, 4LL << 30, "100% Complete"}));

TEST_P(ProgressTextTest, RoutineSetsCaptionLetsEventsRunAndContinues) {
    const ProgressCase& c = GetParam();
    EXPECT_EQ(CopyFileModul::progressText(c.total, c.transferred), c.caption);

    RecordingWindow window;
    bool captionSetBeforeEvents = false;
    window.onPendingEvents = [&] { captionSetBeforeEvents = window.captions().size() == 1; };
    EXPECT_EQ(CopyFileModul::CopyProgressRoutine(c.total, c.transferred, c.total, c.transferred, 1,
                                                 CALLBACK_CHUNK_FINISHED, 3, 4, &window),
              PROGRESS_CONTINUE);
    EXPECT_EQ(window.captions(), std::vector<std::string>{c.caption});
    EXPECT_TRUE(captionSetBeforeEvents);
    EXPECT_EQ(window.pendingEventCalls(), 1);
}

TEST(ProgressRoutineTest, ImpossibleRatioIsAFailureAndLeavesTheCaption) {
    RecordingWindow window;
    EXPECT_THROW(CopyFileModul::CopyProgressRoutine(0, 5, 0, 5, 1, 0, 3, 4, &window), Failure);
    EXPECT_TRUE(window.captions().empty());
}

// The window of one copy whose data waits in its first transfer until the
// window's events have run once the copy was asked to stop.
struct HeldWindow : RecordingWindow {
    FaultyFileSystem held;
    std::int32_t cancel = 0;
};

std::uint32_t stopWhileHeld(std::int64_t, std::int64_t, std::int64_t, std::int64_t, std::uint32_t,
                            std::uint32_t, FileHandle, FileHandle, void* lpData) {
    auto& window = static_cast<HeldWindow&>(*static_cast<EntryWindow*>(lpData));
    return window.held.holding() ? 1 : PROGRESS_CONTINUE;
}

// The routine's answer and the cancel flag each stop the copy in the middle,
// leaving the previous file; flags other than COPY_FILE_RESTARTABLE are
// refused before anything is touched.
TEST(CopyFileExATest, RoutineAnswerOrCancelFlagStopsTheCopy) {
    TempDir dir;
    writeFile(dir.path() / "source.bin", patternBytes(4 << 20));
    const Descriptor folder(FileSystem::real(),
                            ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const bool byFlag : {false, true}) {
        SCOPED_TRACE(byFlag ? "cancel flag" : "routine answer");
        writeFile(dir.path() / "Setup.exe", "previous");
        HeldWindow window;
        window.held.holdCall = "copyFileRange";
        bool stopAsked = false;
        window.onPendingEvents = [&] {
            if (!window.held.holding()) {
                return;
            }
            if (stopAsked || !byFlag) {
                window.held.release();
            }
            window.cancel = byFlag ? 1 : 0;
            stopAsked = true;
        };
        const ProgressRoutine routine =
            byFlag ? &CopyFileModul::CopyProgressRoutine : &stopWhileHeld;
        EXPECT_EQ(CopyFileExA((dir.path() / "source.bin").string(), {folder.get(), "Setup.exe"},
                              routine, static_cast<EntryWindow*>(&window), &window.cancel,
                              COPY_FILE_RESTARTABLE, window.held),
                  systemError(ECANCELED));
        EXPECT_EQ(readFile(dir.path() / "Setup.exe"), "previous");
    }
    EXPECT_EQ(CopyFileExA((dir.path() / "source.bin").string(), {folder.get(), "Other.exe"},
                          nullptr, nullptr, nullptr, 1, FileSystem::real()),
              systemError(EINVAL));
    EXPECT_EQ(folderEntries(dir.path()), (std::set<std::string>{"Setup.exe", "source.bin"}));
}

} // namespace
} // namespace velmora::testing
