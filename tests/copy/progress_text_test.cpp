#include "catalogue/copy/copy_progress.h"
#include "catalogue/failure.h"
#include "tests/support/recording_window.h"

#include <gtest/gtest.h>
#include <ostream>
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

TEST(ProgressRoutineTest, OnlyTheTwoTotalsMatter) {
    RecordingWindow window;
    CopyFileModul::CopyProgressRoutine(100, 29, 0, 0, 1, CALLBACK_STREAM_SWITCH, -1, -1, &window);
    CopyFileModul::CopyProgressRoutine(100, 29, 7, 7, 9, CALLBACK_CHUNK_FINISHED, 5, 6, &window);
    CopyFileModul::CopyProgressRoutine(100, 29, 100, 100, 0, 77, 0, 0, &window);
    EXPECT_EQ(window.captions(),
              (std::vector<std::string>{"28% Complete", "28% Complete", "28% Complete"}));
}

TEST(ProgressRoutineTest, ImpossibleRatioIsAFailureAndLeavesTheCaption) {
    RecordingWindow window;
    EXPECT_THROW(CopyFileModul::CopyProgressRoutine(0, 5, 0, 5, 1, 0, 3, 4, &window), Failure);
    EXPECT_TRUE(window.captions().empty());
}

} // namespace
} // namespace velmora::testing
