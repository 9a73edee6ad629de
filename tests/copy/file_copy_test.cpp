#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/file_copy.h"
#include "catalogue/copy/temporary_file.h"
#include "catalogue/failure.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/temp_collection.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::int64_t MiB = 1024 * 1024;

// Records every progress report; `onCall` (with the report's index) and
// `onWaiting` may ask to stop or throw. Called only on the thread that runs
// the copy.
struct RecordingSink final : CopySink {
    struct Call {
        std::int64_t total, done;
    };
    std::vector<Call> calls;
    std::function<void(std::size_t)> onCall;
    std::function<void()> onWaiting;

    void progress(std::int64_t size, std::int64_t copied) override {
        calls.push_back({size, copied});
        if (onCall) {
            onCall(calls.size() - 1);
        }
    }
    void waiting() override {
        if (onWaiting) {
            onWaiting();
        }
    }
};

class FileCopyTest : public ::testing::Test {
protected:
    fs::path folder() const { return dir.path() / "target"; }
    fs::path source() const { return dir.path() / "source.bin"; }
    fs::path target() const { return folder() / "Setup.exe"; }

    std::error_code copy(FileSystem& with) {
        const int fd = ::open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        const Descriptor open(FileSystem::real(), fd);
        return copyFile(source().string(), {fd, "Setup.exe"}, recorder, cancel.get_token(), with);
    }

    // A copy that failed left the previous target and nothing else.
    void expectPreviousKept(const std::string& previous) const {
        EXPECT_EQ(readFile(target()), previous);
        EXPECT_EQ(folderEntries(folder()), std::set<std::string>{"Setup.exe"});
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }

    void SetUp() override {
        fs::create_directory(folder());
        descriptorsBefore = openDescriptorCount();
    }

    TempDir dir;
    FaultyFileSystem faulty;
    RecordingSink recorder;
    std::stop_source cancel;
    int descriptorsBefore = 0;
};

TEST_F(FileCopyTest, CopiesBytesPermissionsAndTimesWithProgressInOrder) {
    const std::string bytes = patternBytes(3 * MiB + 123);
    writeFile(source(), bytes);
    fs::permissions(source(), fs::perms(0754));
    const struct timespec times[2] = {{1000000000, 111}, {1200000000, 222222}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source().c_str(), times, 0), 0);
    // The worker waits in its first transfer for a report in between.
    faulty.holdCall = "copyFileRange";
    recorder.onCall = [this](std::size_t i) {
        if (i == 1) {
            faulty.release();
        }
    };

    ASSERT_FALSE(copy(faulty));

    EXPECT_EQ(readFile(target()), bytes);
    struct stat copied {};
    ASSERT_EQ(::stat(target().c_str(), &copied), 0);
    EXPECT_EQ(copied.st_mode & 07777, 0754u);
    EXPECT_EQ(copied.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 222222);
    EXPECT_EQ(folderEntries(folder()), std::set<std::string>{"Setup.exe"});
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);

    const auto& calls = recorder.calls;
    ASSERT_GE(calls.size(), 3u);
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(calls.front().done, 0);
    EXPECT_EQ(calls.back().done, size);
    for (std::size_t i = 0; i < calls.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].total, size);
        if (i > 0) {
            EXPECT_GE(calls[i].done, calls[i - 1].done);
        }
    }
}

// A first copy is left to the page cache, as cp leaves it; a replacing copy
// keeps its unwritten data bounded as it goes and is flushed before the rename.
TEST_F(FileCopyTest, ReplacingCopyIsFlushedAndFirstCopyIsNot) {
    std::atomic<int> waits{0};
    faulty.before = [&](std::string_view call, std::string_view) {
        waits += call == "syncFileRange";
    };
    writeFile(source(), patternBytes(100 * MiB));
    ASSERT_FALSE(copy(faulty));
    EXPECT_EQ(faulty.fsyncCalls, 0);
    EXPECT_EQ(waits, 0);

    writeFile(source(), patternBytes(100 * MiB, 7));
    ASSERT_FALSE(copy(faulty));
    EXPECT_TRUE(readFile(target()) == patternBytes(100 * MiB, 7));
    EXPECT_EQ(faulty.fsyncCalls, 1);
    EXPECT_GE(waits, 3);
    EXPECT_EQ(folderEntries(folder()), std::set<std::string>{"Setup.exe"});
}

TEST_F(FileCopyTest, EmptySourceIsCopiedWithOneCompleteReport) {
    writeFile(source(), "");
    ASSERT_FALSE(copy(FileSystem::real()));
    EXPECT_TRUE(fs::exists(target()));
    EXPECT_EQ(fs::file_size(target()), 0u);
    ASSERT_EQ(recorder.calls.size(), 1u);
    EXPECT_EQ(recorder.calls[0].total, 0);
    EXPECT_EQ(recorder.calls[0].done, 0);
}

TEST_F(FileCopyTest, RefusedKernelCopyFallsBackToReadAndWrite) {
    const std::string bytes = patternBytes(2 * MiB + 5);
    writeFile(source(), bytes);
    ASSERT_FALSE(copy(faulty));
    EXPECT_LE(faulty.readCalls, 1) << "the kernel copy was not used";

    for (const int refusal : {EXDEV, EINVAL, ENOSYS, EOPNOTSUPP}) {
        SCOPED_TRACE(refusal);
        FaultyFileSystem refusing;
        refusing.refuseKernelCopy = refusal;
        ASSERT_FALSE(copy(refusing));
        EXPECT_EQ(readFile(target()), bytes);
        EXPECT_EQ(refusing.kernelCopyCalls, 1);
        EXPECT_GT(refusing.readCalls, 2);
    }
}

// Each fault, on the kernel copy and on the read/write path where it applies,
// into an unnamed temporary file and into the named one of file systems
// without: the call reports the system's error, the previous target survives
// and nothing temporary is left.
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
    for (const int unnamedRefused : {0, EOPNOTSUPP}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (unnamedRefused != 0 ? ", named" : ", unnamed"));
            writeFile(target(), previous);
            FaultyFileSystem failing;
            failing.refuseUnnamedFiles = unnamedRefused;
            c.arrange(failing);
            EXPECT_EQ(copy(failing), systemError(c.error));
            expectPreviousKept(previous);
        }
    }
}

// Where the worker is held (opening the source, moving the data, flushing
// before the rename), the thread that runs the copy goes on calling the
// sink: progress, or waiting before the data moves: its window never waits
// on the disk. The third call during the hold lets the worker go.
TEST_F(FileCopyTest, CallingThreadKeepsReportingWhileTheWorkerWaits) {
    struct Case {
        const char* call;
        bool replacing;
        bool beforeTheData;
    };
    for (const Case& c : {Case{"openAt", false, true}, Case{"copyFileRange", false, false},
                          Case{"fsync", true, false}}) {
        SCOPED_TRACE(c.call);
        fs::remove(target());
        if (c.replacing) {
            writeFile(target(), "previous");
        }
        writeFile(source(), patternBytes(MiB));
        FaultyFileSystem held;
        held.holdCall = c.call;
        int callsWhileHeld = 0;
        const auto count = [&] {
            if (held.holding() && ++callsWhileHeld == 3) {
                held.release();
            }
        };
        recorder = {};
        recorder.onCall = [&](std::size_t) { count(); };
        int waitingCalls = 0;
        recorder.onWaiting = [&] {
            ++waitingCalls;
            count();
        };
        ASSERT_FALSE(copy(held));
        EXPECT_GE(callsWhileHeld, 3);
        if (c.beforeTheData) {
            EXPECT_GT(waitingCalls, 0);
        }
        EXPECT_EQ(recorder.calls.back().done, MiB);
        EXPECT_TRUE(readFile(target()) == patternBytes(MiB));
    }
}

// A stop asked for in the middle or at the start, and a failure thrown by the
// sink, each stop the worker; the previous target stays and nothing is left.
TEST_F(FileCopyTest, CancelOrThrownFailureStopsTheCopy) {
    const std::string previous = "previous";
    writeFile(source(), patternBytes(4 * MiB));
    struct Case {
        const char* name;
        std::function<void(std::size_t)> onCall;
        bool throws;
    };
    const std::vector<Case> cases = {
        {"cancel in the middle",
         [this](std::size_t i) {
             if (i == 1) {
                 cancel.request_stop();
             }
         },
         false},
        {"cancel at the start", [this](std::size_t) { cancel.request_stop(); }, false},
        {"sink throws",
         [](std::size_t i) {
             if (i == 1) {
                 throw Failure{6, "Overflow"};
             }
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(target(), previous);
        // The worker waits in its first transfer until the routine has
        // answered twice, so the stop reaches it in the middle of the data.
        FaultyFileSystem held;
        held.holdCall = "copyFileRange";
        recorder = {};
        recorder.onCall = [&](std::size_t i) {
            if (i >= 1) {
                held.release();
            }
            c.onCall(i);
        };
        recorder.onWaiting = [&] { held.release(); };
        if (c.throws) {
            try {
                copy(held);
                ADD_FAILURE() << "the failure did not pass";
            } catch (const Failure& failure) {
                EXPECT_EQ(failure.number, 6);
            }
        } else {
            EXPECT_EQ(copy(held), systemError(ECANCELED));
        }
        EXPECT_LE(recorder.calls.size(), 2u);
        expectPreviousKept(previous);
        cancel = {};
    }
    // Asked to stop before it starts, a copy touches nothing.
    cancel.request_stop();
    writeFile(target(), previous);
    recorder = {};
    EXPECT_EQ(copy(faulty), systemError(ECANCELED));
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(faulty.namedFiles + faulty.unnamedFiles, 0);
    expectPreviousKept(previous);
}

// A source that changes while it is copied fails the copy with its own
// reason, and the previous target stays.
TEST_F(FileCopyTest, SourceThatChangesWhileCopiedFailsTheCopy) {
    const std::string first = patternBytes(2 * MiB);
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const std::vector<Case> cases = {
        {"shrinks", [&] { fs::resize_file(source(), MiB / 2); }},
        {"grows",
         [&] {
             std::ofstream(source(), std::ios::binary | std::ios::app) << patternBytes(MiB, 3);
         }},
        {"rewritten in place, same size",
         [&] {
             std::fstream file(source(), std::ios::binary | std::ios::in | std::ios::out);
             file.seekp(10);
             file << "changed";
             file.close();
             const struct timespec later[2] = {{0, UTIME_OMIT}, {2000000000, 0}};
             ::utimensat(AT_FDCWD, source().c_str(), later, 0);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string previous = "previous setup";
        writeFile(target(), previous);
        writeFile(source(), first);
        std::atomic<bool> once{true};
        FaultyFileSystem changing;
        changing.refuseKernelCopy = EXDEV; // steps of at most 1 MiB
        changing.before = [&](std::string_view call, std::string_view) {
            if (call == "read" && once.exchange(false)) {
                c.change();
            }
        };
        const std::error_code result = copy(changing);
        EXPECT_EQ(result, CopyError::SourceChanged);
        EXPECT_EQ(result.message(), "Source file changed during the copy");
        expectPreviousKept(previous);
    }
}

TEST_F(FileCopyTest, SourcesThatAreNoFileOrBadNamesFail) {
    const auto copyTo = [&](const std::string& from, const std::string& name) {
        const Descriptor open(FileSystem::real(),
                              ::open(folder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        return copyFile(from, {open.get(), name}, recorder);
    };
    EXPECT_EQ(copyTo(dir.str(), "Setup.exe"), systemError(EISDIR));
    EXPECT_EQ(copyTo((dir.path() / "missing").string(), "Setup.exe"), systemError(ENOENT));
    const fs::path fifo = dir.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(copyTo(fifo.string(), "Setup.exe"), CopyError::SourceNotAFile);
    EXPECT_EQ(copyTo("/dev/zero", "Setup.exe"), CopyError::SourceNotAFile);
    writeFile(source(), "data");
    // A NUL would cut a path short and name another file than the one given;
    // a name with "/" or a dot name would lead out of the folder.
    EXPECT_EQ(copyTo(source().string() + std::string("\0.extra", 7), "Setup.exe"),
              systemError(EINVAL));
    for (const std::string& name :
         std::vector<std::string>{"../Setup.exe", "a/b", "..", ".", "", std::string("S\0x", 3)}) {
        EXPECT_EQ(copyTo(source().string(), name), systemError(EINVAL)) << name;
    }
    EXPECT_TRUE(fs::is_empty(folder()));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

// Files that merely look like a copy's temporary files belong to others and
// survive a copy: rsync's in-progress file, a user's backups, a hard link, a
// FIFO (which must not hang the clean-up), a link, a folder, and a marked
// file that a running copy still holds. Only a killed copy's leftover goes.
TEST_F(FileCopyTest, CleanUpRemovesOnlyLeftoversOfKilledCopies) {
    const fs::path outside = dir.path() / "outside.txt";
    writeFile(outside, "outside");
    const auto place = [&](const std::string& name,
                           const std::function<void(const fs::path&)>& make) {
        make(folder() / name);
    };
    const auto file = [](const fs::path& path) { writeFile(path, "someone's data"); };
    place(".Setup.exe.AbC123", file);
    place(".Setup.exe.backup", file);
    place(".Setup.exe.velmora2-orig", file);
    place(".Setup.exe.velmora2-Linked", [&](const fs::path& path) {
        writeFile(folder() / "linked-original", "linked");
        fs::create_hard_link(folder() / "linked-original", path);
    });
    place(".Setup.exe.velmora2-aaaaaa", [](const fs::path& path) { ::mkfifo(path.c_str(), 0600); });
    place(".Setup.exe.velmora2-Symlnk",
          [&](const fs::path& path) { fs::create_symlink(outside, path); });
    place(".Setup.exe.velmora2-Folder", [](const fs::path& path) { fs::create_directory(path); });
    place(".Setup.exe.velmora2-Locked", file);
    const Descriptor running(FileSystem::real(),
                             ::open((folder() / ".Setup.exe.velmora2-Locked").c_str(), O_RDONLY));
    ASSERT_EQ(::flock(running.get(), LOCK_EX), 0);
    place(".Setup.exe.velmora2-Killed", file);
    std::set<std::string> survivors = folderEntries(folder());
    survivors.erase(".Setup.exe.velmora2-Killed");
    survivors.insert("Setup.exe");

    writeFile(source(), "new setup");
    ASSERT_FALSE(copy(FileSystem::real()));

    EXPECT_EQ(folderEntries(folder()), survivors);
    EXPECT_EQ(readFile(outside), "outside");
    EXPECT_EQ(readFile(folder() / ".Setup.exe.AbC123"), "someone's data");
    EXPECT_EQ(readFile(folder() / "linked-original"), "linked");
    EXPECT_TRUE(isTemporaryName(".Setup.exe.velmora2-Killed", "Setup.exe"));
    EXPECT_FALSE(isTemporaryName(".Setup.exe.velmora2-orig", "Setup.exe"));
    EXPECT_FALSE(isTemporaryName(".Picture.bmp.velmora2-Killed", "Setup.exe"));
}

// Another add's clean-up running just before a copy's rename cannot take the
// finished file away: the copy holds its lock until after the rename.
TEST_F(FileCopyTest, FinishedCopyCannotBeRemovedByAnotherCleanUpBeforeItsRename) {
    for (const int unnamedRefused : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(unnamedRefused != 0 ? "named" : "unnamed");
        writeFile(target(), "previous");
        writeFile(source(), "the new setup");
        FaultyFileSystem racing;
        racing.refuseUnnamedFiles = unnamedRefused;
        racing.before = [&](std::string_view call, std::string_view) {
            if (call == "renameAt") {
                const Descriptor other(FileSystem::real(),
                                       ::open(folder().c_str(), O_RDONLY | O_DIRECTORY));
                removeAbandonedTemporaries(FileSystem::real(), other.get(), "Setup.exe");
            }
        };
        ASSERT_FALSE(copy(racing));
        EXPECT_EQ(readFile(target()), "the new setup");
        EXPECT_EQ(racing.unnamedFiles, unnamedRefused != 0 ? 0 : 1);
        EXPECT_EQ(folderEntries(folder()), std::set<std::string>{"Setup.exe"});
    }
}

// A copy killed in the middle of its data leaves the previous target. An
// unnamed temporary file leaves nothing at all; a named one is a leftover
// that the next copy of the same target removes.
TEST_F(FileCopyTest, KilledCopyLeavesThePreviousTarget) {
    writeFile(source(), patternBytes(4 * MiB));
    for (const int unnamedRefused : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(unnamedRefused != 0 ? "named" : "unnamed");
        writeFile(target(), "previous");
        FaultyFileSystem dying;
        dying.refuseUnnamedFiles = unnamedRefused;
        dying.refuseKernelCopy = EXDEV;
        std::atomic<int> writes{0};
        dying.before = [&](std::string_view call, std::string_view) {
            if (call == "write" && ++writes == 2) {
                ::raise(SIGKILL);
            }
        };
        EXPECT_EXIT(copy(dying), ::testing::KilledBySignal(SIGKILL), "");
        EXPECT_EQ(readFile(target()), "previous");
        EXPECT_EQ(folderEntries(folder()).size(), unnamedRefused != 0 ? 2u : 1u);
        ASSERT_FALSE(copy(FileSystem::real()));
        EXPECT_EQ(folderEntries(folder()), std::set<std::string>{"Setup.exe"});
    }
}

TEST(MakeFolderTest, MakesOneLevelAndOpensOnlyARealFolder) {
    TempDir dir;
    const Descriptor parent(FileSystem::real(),
                            ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    OpenedFolder made = makeFolder(parent.get(), "Tool");
    ASSERT_FALSE(made.error);
    EXPECT_TRUE(fs::is_directory(dir.path() / "Tool"));
    EXPECT_TRUE(made.folder.valid());
    EXPECT_FALSE(makeFolder(parent.get(), "Tool").error);

    writeFile(dir.path() / "file", "x");
    fs::create_directory(dir.path() / "elsewhere");
    fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "linked");
    fs::create_directory_symlink(dir.path() / "nowhere", dir.path() / "dangling");
    EXPECT_EQ(makeFolder(parent.get(), "file").error, systemError(ENOTDIR));
    EXPECT_EQ(makeFolder(parent.get(), "linked").error, CopyError::FolderIsLink);
    EXPECT_EQ(makeFolder(parent.get(), "dangling").error, CopyError::FolderIsLink);
    EXPECT_FALSE(fs::exists(dir.path() / "nowhere"));
    for (const std::string& name :
         std::vector<std::string>{"a/b", "..", ".", "", std::string("T\0/x", 4)}) {
        EXPECT_EQ(makeFolder(parent.get(), name).error, systemError(EINVAL)) << name;
    }
    EXPECT_EQ(systemError(ENOENT).message(), "No such file or directory");
}

// On a real file system mounted by tests/copy/real_file_systems.sh: a first
// and a replacing copy, and a failed one, through the unnamed temporary file
// where the file system has them and the named one where it has not.
TEST(RealFileSystemTest, CopiesReplaceAndFailCleanly) {
    const char* place = std::getenv("VELMORA_COPY_TEST_DIR");
    if (place == nullptr) {
        GTEST_SKIP() << "run by real_file_systems.sh on a mounted file system";
    }
    const bool unnamed = std::string(std::getenv("VELMORA_EXPECT_UNNAMED")) == "1";
    const fs::path folder = fs::path(place) / "Tool";
    fs::create_directory(folder);
    const fs::path source = fs::path(place) / "source.bin";
    const Descriptor open(FileSystem::real(),
                          ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const auto copy = [&](FileSystem& with) {
        RecordingSink sink;
        return copyFile(source.string(), {open.get(), "Setup.exe"}, sink, {}, with);
    };
    FaultyFileSystem watched;
    for (const int seed : {1, 2}) {
        writeFile(source, patternBytes(3 * MiB + seed, seed));
        ASSERT_FALSE(copy(watched));
        EXPECT_TRUE(readFile(folder / "Setup.exe") == patternBytes(3 * MiB + seed, seed));
    }
    EXPECT_EQ(watched.unnamedFiles, unnamed ? 2 : 0);
    EXPECT_EQ(watched.namedFiles, unnamed ? 0 : 2);

    FaultyFileSystem refusing;
    refusing.renameError = EACCES;
    writeFile(source, "new");
    EXPECT_EQ(copy(refusing), systemError(EACCES));
    EXPECT_TRUE(readFile(folder / "Setup.exe") == patternBytes(3 * MiB + 2, 2));
    EXPECT_EQ(folderEntries(folder), std::set<std::string>{"Setup.exe"});
}

} // namespace
} // namespace velmora::testing
