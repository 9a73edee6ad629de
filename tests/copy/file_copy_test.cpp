#include "catalogue/failure.h"
#include "catalogue/file_copy.h"
#include "tests/catalogue/temp_collection.h"
#include "tests/copy/faulty_file_system.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::int64_t MiB = 1024 * 1024;

// Records every call of the progress routine; `onCall` may answer, set the
// cancel flag or throw.
struct Recorder {
    struct Call {
        std::int64_t total, done, streamSize, streamDone;
        std::uint32_t stream, reason;
        FileHandle source, target;
        std::chrono::steady_clock::time_point at;
    };
    FileSystem* clock = &FileSystem::real();
    std::vector<Call> calls;
    std::function<std::uint32_t(std::size_t)> onCall;

    static std::uint32_t routine(std::int64_t total, std::int64_t done, std::int64_t streamSize,
                                 std::int64_t streamDone, std::uint32_t stream,
                                 std::uint32_t reason, FileHandle source, FileHandle target,
                                 void* data) {
        auto& self = *static_cast<Recorder*>(data);
        self.calls.push_back({total, done, streamSize, streamDone, stream, reason, source, target,
                              self.clock->now()});
        return self.onCall ? self.onCall(self.calls.size() - 1) : PROGRESS_CONTINUE;
    }

    std::chrono::steady_clock::duration longestGap() const {
        std::chrono::steady_clock::duration longest{0};
        for (std::size_t i = 1; i < calls.size(); ++i) {
            longest = std::max(longest, calls[i].at - calls[i - 1].at);
        }
        return longest;
    }
};

class FileCopyTest : public ::testing::Test {
protected:
    FileCopyTest() { faulty.refuseKernelCopy = 0; }

    fs::path source() const { return dir.path() / "source.bin"; }
    fs::path target() const { return dir.path() / "target" / "Setup.exe"; }

    FileResult copy(FileSystem& with, std::uint32_t flags = COPY_FILE_RESTARTABLE) {
        recorder.clock = &with;
        return CopyFileExA(source().string(), target().string(), &Recorder::routine, &recorder,
                           &cancel, flags, with);
    }

    // A copy that failed left the previous target and nothing else.
    void expectPreviousKept(const std::string& previous) const {
        EXPECT_EQ(readFile(target()), previous);
        EXPECT_EQ(folderEntries(target().parent_path()), std::set<std::string>{"Setup.exe"});
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }

    void SetUp() override {
        fs::create_directory(dir.path() / "target");
        descriptorsBefore = openDescriptorCount();
    }

    TempDir dir;
    FaultyFileSystem faulty;
    Recorder recorder;
    std::int32_t cancel = 0;
    int descriptorsBefore = 0;
};

TEST_F(FileCopyTest, CopiesBytesPermissionsAndTimesWithProgressInOrder) {
    const std::string bytes = patternBytes(3 * MiB + 123);
    writeFile(source(), bytes);
    fs::permissions(source(), fs::perms(0754));
    const struct timespec times[2] = {{1000000000, 111}, {1200000000, 222222}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source().c_str(), times, 0), 0);
    faulty.perMiB = 40ms; // several chunks

    const FileResult result = copy(faulty);

    ASSERT_TRUE(result.ok()) << result.reason();
    EXPECT_EQ(readFile(target()), bytes);
    struct stat copied {};
    ASSERT_EQ(::stat(target().c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mode & 07777, 0754u);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 222222);
    EXPECT_EQ(folderEntries(target().parent_path()), std::set<std::string>{"Setup.exe"});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

    const auto& calls = recorder.calls;
    ASSERT_GE(calls.size(), 3u);
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(calls.front().reason, CALLBACK_STREAM_SWITCH);
    EXPECT_EQ(calls.front().done, 0);
    EXPECT_EQ(calls.back().done, size);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].total, size);
        EXPECT_EQ(calls[i].streamSize, size);
        EXPECT_EQ(calls[i].streamDone, calls[i].done);
        EXPECT_EQ(calls[i].stream, 1u);
        EXPECT_GE(calls[i].source, 0);
        EXPECT_GE(calls[i].target, 0);
        EXPECT_NE(calls[i].source, calls[i].target);
        if (i > 0) {
            EXPECT_EQ(calls[i].reason, CALLBACK_CHUNK_FINISHED);
            EXPECT_GT(calls[i].done, calls[i - 1].done);
        }
    }
}

TEST_F(FileCopyTest, ReplacesAnExistingTargetAndFlushesOnlyThen) {
    writeFile(source(), patternBytes(100000));
    ASSERT_TRUE(copy(faulty).ok());
    EXPECT_EQ(faulty.fsyncCalls, 0);

    writeFile(source(), patternBytes(5000, 7));
    ASSERT_TRUE(copy(faulty).ok());
    EXPECT_EQ(readFile(target()), patternBytes(5000, 7));
    EXPECT_EQ(faulty.fsyncCalls, 1);
    EXPECT_EQ(folderEntries(target().parent_path()), std::set<std::string>{"Setup.exe"});
}

TEST_F(FileCopyTest, EmptySourceIsCopiedWithOneCompleteReport) {
    writeFile(source(), "");
    ASSERT_TRUE(copy(FileSystem::real()).ok());
    EXPECT_TRUE(fs::exists(target()));
    EXPECT_EQ(fs::file_size(target()), 0u);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].total, 0);
    EXPECT_EQ(recorder.calls[0].done, 0);
}

TEST_F(FileCopyTest, RefusedKernelCopyFallsBackToReadAndWrite) {
    const std::string bytes = patternBytes(2 * MiB + 5);
    writeFile(source(), bytes);
    ASSERT_TRUE(copy(faulty).ok());
    EXPECT_LE(faulty.readCalls, 1) << "the kernel copy was not used";

    for (const int refusal : {EXDEV, EINVAL, ENOSYS, EOPNOTSUPP}) {
        SCOPED_TRACE(refusal);
        FaultyFileSystem refusing;
        refusing.refuseKernelCopy = refusal;
        const FileResult result = copy(refusing);
        ASSERT_TRUE(result.ok()) << result.reason();
        EXPECT_EQ(readFile(target()), bytes);
        EXPECT_EQ(refusing.kernelCopyCalls, 1);
        EXPECT_GT(refusing.readCalls, 2);
    }
}

// Each fault, on the kernel copy and on the read/write path where it applies:
// the call reports the system's error and the previous target survives.
TEST_F(FileCopyTest, FaultsFailTheCopyAndKeepThePreviousTarget) {
    struct Case {
        const char* name;
        std::function<void(FaultyFileSystem&)> arrange;
        int error;
    };
    const std::vector<Case> cases = {
        {"disk full",
         [](auto& f) {
             f.writeFault = {{ENOSPC, MiB}};
         },
         ENOSPC},
        {"disk full, read/write",
         [](auto& f) {
             f.refuseKernelCopy = EXDEV;
             f.writeFault = {{ENOSPC, MiB + 17}};
         },
         ENOSPC},
        {"read error",
         [](auto& f) {
             f.readFault = {{EIO, MiB}};
         },
         EIO},
        {"read error, read/write",
         [](auto& f) {
             f.refuseKernelCopy = EXDEV;
             f.readFault = {{EIO, 3 * MiB / 2}};
         },
         EIO},
        {"rename refused", [](auto& f) { f.renameError = EACCES; }, EACCES},
        {"flush fails", [](auto& f) { f.fsyncError = EIO; }, EIO},
        {"close reports lost write-back", [](auto& f) { f.closeCreatedError = EIO; }, EIO},
        {"source unreadable",
         [this](auto& f) {
             f.failOpenPath = source().string();
             f.openError = EACCES;
         },
         EACCES},
    };
    const std::string previous = "previous good setup";
    writeFile(source(), patternBytes(3 * MiB));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(target(), previous);
        FaultyFileSystem failing;
        c.arrange(failing);
        EXPECT_EQ(copy(failing).error, c.error);
        expectPreviousKept(previous);
    }
}

TEST_F(FileCopyTest, RoutineOrCancelFlagStopsTheCopy) {
    const std::string previous = "previous";
    writeFile(source(), patternBytes(2 * MiB));
    faulty.perMiB = 100ms;
    struct Case {
        const char* name;
        std::function<std::uint32_t(std::size_t)> onCall;
    };
    const std::vector<Case> cases = {
        {"cancel answer", [](std::size_t i) { return i == 1 ? 1u : PROGRESS_CONTINUE; }},
        {"stop answer at the start", [](std::size_t) { return 2u; }},
        {"cancel flag",
         [this](std::size_t i) {
             cancel = i == 1 ? 1 : 0;
             return PROGRESS_CONTINUE;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(target(), previous);
        recorder = {};
        recorder.onCall = c.onCall;
        EXPECT_EQ(copy(faulty).error, ECANCELED);
        expectPreviousKept(previous);
        cancel = 0;
    }
}

TEST_F(FileCopyTest, RoutineThatThrowsEndsTheCopyAndTheFailurePassesOn) {
    const std::string previous = "previous";
    writeFile(target(), previous);
    writeFile(source(), patternBytes(2 * MiB));
    faulty.perMiB = 100ms;
    recorder.onCall = [](std::size_t i) -> std::uint32_t {
        if (i == 1) {
            throw Failure{6, "Overflow"};
        }
        return PROGRESS_CONTINUE;
    };
    try {
        copy(faulty);
        ADD_FAILURE() << "the failure did not pass";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.number, 6);
    }
    ASSERT_EQ(recorder.calls.size(), 2u);
    EXPECT_LT(recorder.calls[1].done, 2 * MiB);
    expectPreviousKept(previous);
}

// The clock of the double runs with the bytes moved, so these are devices of
// the given speeds, without any waiting.
TEST_F(FileCopyTest, ReportsComeWithinAHundredMillisecondsWhateverTheSpeed) {
    const std::string bytes = patternBytes(40 * MiB);
    writeFile(source(), bytes);
    struct Case {
        const char* name;
        std::chrono::nanoseconds perMiB;
        std::chrono::nanoseconds slowedTo; // after 20 MiB
    };
    const std::vector<Case> cases = {
        {"1 MiB/s", 1s, 1s},
        {"page cache", 200us, 200us},
        {"page cache, then 60 MiB/s", 200us, 16ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyFileSystem device;
        device.perMiB = c.perMiB;
        device.slowDownAfter = 20 * MiB;
        device.slowPerMiB = c.slowedTo;
        recorder = {};
        ASSERT_TRUE(copy(device).ok());
        EXPECT_LE(recorder.longestGap(), 100ms);
        // Not a report per system call either: at most one per 20 ms.
        const auto copying = recorder.calls.back().at - recorder.calls.front().at;
        EXPECT_LE(static_cast<std::int64_t>(recorder.calls.size()), 2 + copying / 20ms);
        EXPECT_TRUE(readFile(target()) == bytes);
    }
}

TEST_F(FileCopyTest, SourceThatGrowsOrShrinksIsCopiedToItsEnd) {
    faulty.perMiB = 100ms;
    const std::string first = patternBytes(2 * MiB);
    const std::string more = patternBytes(MiB, 3);

    writeFile(source(), first);
    recorder.onCall = [&](std::size_t i) {
        if (i == 1) {
            writeFile(source(), first + more);
        }
        return PROGRESS_CONTINUE;
    };
    ASSERT_TRUE(copy(faulty).ok());
    EXPECT_EQ(readFile(target()), first + more);
    EXPECT_EQ(recorder.calls.back().done, 3 * MiB);
    EXPECT_EQ(recorder.calls.back().total, 3 * MiB);

    writeFile(source(), first);
    recorder = {};
    recorder.onCall = [&](std::size_t i) {
        if (i == 1) {
            fs::resize_file(source(), 3 * MiB / 2);
        }
        return PROGRESS_CONTINUE;
    };
    FaultyFileSystem again;
    again.perMiB = 100ms;
    ASSERT_TRUE(copy(again).ok());
    EXPECT_EQ(readFile(target()), first.substr(0, 3 * MiB / 2));
    EXPECT_EQ(recorder.calls.back().done, 3 * MiB / 2);
    EXPECT_EQ(recorder.calls.back().total, 3 * MiB / 2);
}

TEST_F(FileCopyTest, SourcesThatAreNoFileOrTargetsWithoutFolderFail) {
    const std::string folderOnly = target().parent_path().string();
    EXPECT_EQ(CopyFileExA(dir.str(), target().string(), nullptr, nullptr, nullptr, 0).error,
              EISDIR);
    EXPECT_EQ(CopyFileExA((dir.path() / "missing").string(), target().string(), nullptr, nullptr,
                          nullptr, 0)
                  .error,
              ENOENT);
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(CopyFileExA(fifo.string(), target().string(), nullptr, nullptr, nullptr, 0).error,
              EINVAL);
    writeFile(source(), "data");
    EXPECT_EQ(CopyFileExA(source().string(), (dir.path() / "none" / "Setup.exe").string(), nullptr,
                          nullptr, nullptr, 0)
                  .error,
              ENOENT);
    // Failing if the target exists is not supported, so it is not pretended.
    EXPECT_EQ(copy(FileSystem::real(), 1).error, EINVAL);
    // A NUL would cut the path short and name another file than the one given.
    const std::string cutShort = source().string() + std::string("\0.extra", 7);
    EXPECT_EQ(CopyFileExA(cutShort, target().string(), nullptr, nullptr, nullptr, 0).error, EINVAL);
    EXPECT_EQ(CopyFileExA(source().string(), target().string() + std::string("\0x", 2), nullptr,
                          nullptr, nullptr, 0)
                  .error,
              EINVAL);
    EXPECT_TRUE(fs::is_empty(folderOnly));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST(CreateDirectoryTest, MakesOneLevelAndAcceptsOnlyAnExistingFolder) {
    TempDir dir;
    const std::string folder = (dir.path() / "Tool").string();
    ASSERT_TRUE(CreateDirectoryA(folder).ok());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(CreateDirectoryA(folder).ok());

    writeFile(dir.path() / "file", "x");
    EXPECT_EQ(CreateDirectoryA((dir.path() / "file").string()).error, ENOTDIR);
    EXPECT_EQ(CreateDirectoryA((dir.path() / "a" / "b").string()).error, ENOENT);
    EXPECT_EQ(CreateDirectoryA(folder + std::string("\0/x", 3)).error, EINVAL);
    EXPECT_EQ(FileResult{ENOENT}.reason(), "No such file or directory");
}

} // namespace
} // namespace velmora::testing
