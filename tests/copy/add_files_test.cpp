#include "catalogue/add_operation.h"
#include "catalogue/failure.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

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
using Box = RecordingWindow::Box;

constexpr std::int64_t MiB = 1024 * 1024;

struct stat statOf(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

// The captions split into one run per copy, each checked to start at 0%,
// never to go back, and to end at 100%.
std::vector<std::vector<int>> captionRuns(const std::vector<std::string>& captions) {
    std::vector<std::vector<int>> runs;
    for (const std::string& caption : captions) {
        const int percent = std::stoi(caption);
        EXPECT_EQ(caption, std::to_string(percent) + "% Complete");
        if (runs.empty() || percent < runs.back().back()) {
            runs.emplace_back();
        }
        runs.back().push_back(percent);
    }
    for (const auto& run : runs) {
        EXPECT_EQ(run.front(), 0);
        EXPECT_EQ(run.back(), 100);
    }
    return runs;
}

std::string copyFailed(const std::string& source, const fs::path& target,
                       const std::string& reason) {
    return "Kopiranje nije uspjelo!\r\n" + source + " -> " + target.string() + "\r\n" + reason;
}

class AddFilesTest : public ::testing::Test {
protected:
    AddFilesTest() : window(collection.str()) {
        writeFile(picture(), patternBytes(MiB + 3, 1));
        writeFile(setup(), patternBytes(2 * MiB + 5, 2));
        fs::permissions(setup(), fs::perms(0750));
        const struct timespec times[2] = {{1500000000, 0}, {1600000000, 123456789}};
        EXPECT_EQ(::utimensat(AT_FDCWD, setup().c_str(), times, 0), 0);
        window.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
        descriptorsBefore = openDescriptorCount();
    }

    fs::path picture() const { return sources.path() / "picture.bmp"; }
    fs::path setup() const { return sources.path() / "setup.exe"; }
    fs::path folder() const { return collection.programFolder("Tool"); }
    fs::path pictureTarget() const { return folder() / "Picture.bmp"; }
    fs::path setupTarget() const { return folder() / "Setup.exe"; }

    // A first, good add, whose two files later failures must not harm.
    void addOnce() {
        RecordingWindow first(collection.str());
        first.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
        Dodaj(first);
        ASSERT_TRUE(first.boxes().empty());
    }

    void expectFiles(const std::string& pictureBytes, const std::string& setupBytes) const {
        EXPECT_EQ(folderEntries(folder()), (std::set<std::string>{"Picture.bmp", "Setup.exe"}));
        EXPECT_TRUE(readFile(pictureTarget()) == pictureBytes);
        EXPECT_TRUE(readFile(setupTarget()) == setupBytes);
    }

    std::vector<Row> rows(int count) const {
        return std::vector<Row>(static_cast<std::size_t>(count), {"CDDVD", "Tool", "Small tool"});
    }

    TempCollection collection;
    TempDir sources;
    RecordingWindow window;
    int descriptorsBefore = 0;
};

TEST_F(AddFilesTest, AddMakesTheFolderWithBothFilesAndShowsBothCopies) {
    EXPECT_EQ(Dodaj(window), AddOutcome::Added);

    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(collection.rows(), rows(1));
    expectFiles(readFile(picture()), readFile(setup()));
    const struct stat source = statOf(setup());
    const struct stat copied = statOf(setupTarget());
    EXPECT_EQ(copied.st_mode & 07777, 0750u);
    EXPECT_EQ(copied.st_mtim.tv_sec, source.st_mtim.tv_sec);
    EXPECT_EQ(copied.st_mtim.tv_nsec, source.st_mtim.tv_nsec);
    EXPECT_EQ(statOf(pictureTarget()).st_mode & 07777, statOf(picture()).st_mode & 07777);
    EXPECT_EQ(captionRuns(window.captions()).size(), 2u);
    EXPECT_GE(window.pendingEventCalls(), static_cast<int>(window.captions().size()));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST_F(AddFilesTest, SameNameAgainUsesTheFolderReplacesBothFilesAndAddsARow) {
    addOnce();
    writeFile(picture(), patternBytes(1000, 5));
    writeFile(setup(), patternBytes(3000, 6));
    Dodaj(window);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(collection.rows(), rows(2));
    expectFiles(patternBytes(1000, 5), patternBytes(3000, 6));
}

TEST_F(AddFilesTest, FolderMadeBeforeIsUsed) {
    fs::create_directory(folder());
    writeFile(folder() / "readme.txt", "kept");
    Dodaj(window);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(folderEntries(folder()),
              (std::set<std::string>{"Picture.bmp", "Setup.exe", "readme.txt"}));
}

TEST_F(AddFilesTest, ZeroBytePictureAndSetupAreCopiedAsComplete) {
    writeFile(picture(), "");
    writeFile(setup(), "");
    Dodaj(window);
    EXPECT_TRUE(window.boxes().empty());
    expectFiles("", "");
    EXPECT_EQ(window.captions(), (std::vector<std::string>{"100% Complete", "100% Complete"}));
}

// The program folder is made and opened inside "Programi" (which may itself be
// a link the user made) and never through a link: a link, or anything else
// that is not a real folder, is refused with one box and nothing is written
// or removed anywhere, inside the collection or out.
TEST_F(AddFilesTest, ProgramFolderThatIsNoRealFolderIsRefusedAndNothingWritten) {
    const fs::path programi = collection.path() / "Programi";
    const fs::path elsewhere = sources.path() / "elsewhere";
    struct Case {
        const char* name;
        std::function<void()> arrange;
        const char* reason; // nullptr: the add succeeds
    };
    const std::vector<Case> cases = {
        {"Programi missing", [&] { fs::remove_all(programi); }, "No such file or directory"},
        {"program folder is a link to a folder elsewhere",
         [&] { fs::create_directory_symlink(elsewhere, folder()); },
         "Program folder is a symbolic link"},
        {"program folder is a dangling link",
         [&] { fs::create_directory_symlink(sources.path() / "nowhere", folder()); },
         "Program folder is a symbolic link"},
        {"program folder is a file", [&] { writeFile(folder(), "a file"); }, "Not a directory"},
        {"Programi is a link to another disk",
         [&] {
             fs::remove_all(programi);
             fs::create_directory_symlink(elsewhere, programi);
         },
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(programi);
        fs::create_directory(programi);
        fs::remove_all(elsewhere);
        fs::create_directory(elsewhere);
        writeFile(elsewhere / "Setup.exe", "outside setup");
        writeFile(elsewhere / ".Setup.exe.backup", "outside backup");
        c.arrange();
        const std::set<std::string> outside = folderEntries(elsewhere);
        RecordingWindow added(collection.str());
        added.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());

        const AddOutcome outcome = Dodaj(added);

        if (c.reason == nullptr) {
            EXPECT_EQ(outcome, AddOutcome::Added);
            EXPECT_TRUE(added.boxes().empty());
            EXPECT_TRUE(readFile(elsewhere / "Tool" / "Setup.exe") == readFile(setup()));
            continue;
        }
        EXPECT_EQ(outcome, AddOutcome::FileStepFailed);
        EXPECT_EQ(added.boxes(), (std::vector<Box>{{"Folder programa nije napravljen!\r\n" +
                                                        folder().string() + "\r\n" + c.reason,
                                                    "Greška"}}));
        EXPECT_TRUE(added.captions().empty());
        EXPECT_EQ(folderEntries(elsewhere), outside);
        EXPECT_EQ(readFile(elsewhere / "Setup.exe"), "outside setup");
        EXPECT_EQ(readFile(elsewhere / ".Setup.exe.backup"), "outside backup");
    }
    EXPECT_EQ(collection.rows(), rows(static_cast<int>(cases.size())));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

// Sources that cannot be copied: each copy is reported on its own, the other
// one still runs, the row stays and the previous file is untouched.
TEST_F(AddFilesTest, SourceThatCannotBeReadIsReportedAndTheOtherCopyRuns) {
    addOnce();
    const std::string oldPicture = readFile(pictureTarget());
    writeFile(setup(), patternBytes(4000, 9));
    writeFile(picture(), patternBytes(5000, 8));

    const std::string missing = (sources.path() / "gone.bmp").string();
    window.set(Field::Slika, missing);
    EXPECT_EQ(Dodaj(window), AddOutcome::FileStepFailed);
    EXPECT_EQ(window.boxes(),
              (std::vector<Box>{
                  {copyFailed(missing, pictureTarget(), "No such file or directory"), "Greška"}}));
    expectFiles(oldPicture, patternBytes(4000, 9));

    RecordingWindow second(collection.str());
    second.setEntry("CDDVD", "Tool", "Small tool", sources.str(), picture().string());
    Dodaj(second);
    EXPECT_EQ(
        second.boxes(),
        (std::vector<Box>{{copyFailed(sources.str(), setupTarget(), "Is a directory"), "Greška"}}));
    expectFiles(patternBytes(5000, 8), patternBytes(4000, 9));

    FaultyFileSystem refusing;
    refusing.failOpenPath = setup().string();
    refusing.openError = EACCES;
    RecordingWindow third(collection.str());
    third.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
    Dodaj(third, {&refusing, nullptr});
    EXPECT_EQ(third.boxes(),
              (std::vector<Box>{
                  {copyFailed(setup().string(), setupTarget(), "Permission denied"), "Greška"}}));
    expectFiles(patternBytes(5000, 8), patternBytes(4000, 9));
    EXPECT_EQ(collection.rows(), rows(4));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

// Faults of the device part-way through a copy, on the kernel copy and on the
// read/write path: one box with the system's reason, nothing lost.
TEST_F(AddFilesTest, DeviceFaultsAreReportedAndLoseNothing) {
    addOnce();
    const std::string oldPicture = readFile(pictureTarget());
    const std::string oldSetup = readFile(setupTarget());
    writeFile(setup(), patternBytes(2 * MiB, 4));
    struct Case {
        const char* name;
        FaultyFileSystem::Fault writeFault, readFault;
        int refuseKernelCopy, renameError;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"disk full", {ENOSPC, MiB / 2}, {}, 0, 0, "No space left on device"},
        {"disk full, read/write", {ENOSPC, MiB / 2}, {}, EXDEV, 0, "No space left on device"},
        {"read error", {}, {EIO, MiB / 2}, 0, 0, "Input/output error"},
        {"read error, read/write", {}, {EIO, MiB / 2}, EOPNOTSUPP, 0, "Input/output error"},
        {"rename refused", {}, {}, 0, EACCES, "Permission denied"},
    };
    int expectedRows = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyFileSystem failing;
        if (c.writeFault.error != 0) {
            failing.writeFault = c.writeFault;
        }
        if (c.readFault.error != 0) {
            failing.readFault = c.readFault;
        }
        failing.refuseKernelCopy = c.refuseKernelCopy;
        failing.renameError = c.renameError;
        RecordingWindow failed(collection.str());
        failed.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
        EXPECT_EQ(Dodaj(failed, {&failing, nullptr}), AddOutcome::FileStepFailed);
        ++expectedRows;
        // The picture comes first; a fault that strikes the bytes stays struck
        // for the setup copy, a refused rename refuses both.
        ASSERT_EQ(failed.boxes().size(), 2u);
        EXPECT_EQ(failed.boxes().front(),
                  (Box{copyFailed(picture().string(), pictureTarget(), c.reason), "Greška"}));
        EXPECT_EQ(failed.boxes().back(),
                  (Box{copyFailed(setup().string(), setupTarget(), c.reason), "Greška"}));
        expectFiles(oldPicture, oldSetup);
        EXPECT_EQ(collection.rows(), rows(expectedRows));
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }
}

// A cancel flag set before the copies: the row is stored, neither copy
// touches the folder, both are reported, and the add says it was cancelled.
TEST_F(AddFilesTest, CancelFlagStopsBothCopiesAndTheAddSaysCancelled) {
    const std::int32_t cancel = 1;
    EXPECT_EQ(Dodaj(window, {nullptr, nullptr, &cancel}), AddOutcome::Cancelled);
    EXPECT_EQ(window.boxes(),
              (std::vector<Box>{
                  {copyFailed(picture().string(), pictureTarget(), "Operation canceled"), "Greška"},
                  {copyFailed(setup().string(), setupTarget(), "Operation canceled"), "Greška"}}));
    EXPECT_TRUE(folderEntries(folder()).empty());
    EXPECT_EQ(collection.rows(), rows(1));
}

TEST_F(AddFilesTest, FailureRaisedInTheRoutineEndsTheAddAndKeepsTheFiles) {
    addOnce();
    const std::string oldPicture = readFile(pictureTarget());
    const std::string oldSetup = readFile(setupTarget());
    writeFile(picture(), patternBytes(2 * MiB, 3));
    // The picture's data waits until the routine has run twice.
    FaultyFileSystem held;
    held.holdCall = "copyFileRange";
    int calls = 0;
    window.onPendingEvents = [&] {
        if (window.captions().size() == 2 && ++calls == 1) {
            held.release();
            throw Failure{6, "Overflow"};
        }
    };
    EXPECT_EQ(Dodaj(window, {&held, nullptr}), AddOutcome::DatabaseFailed);
    EXPECT_EQ(window.boxes(), (std::vector<Box>{{"BROJ: 6\r\nOPIS: Overflow", "GRESKA"},
                                                {"Greška sa bazom!", "Greška"}}));
    // Interrupted after the first chunk of the picture; no setup copy.
    ASSERT_EQ(window.captions().size(), 2u);
    EXPECT_EQ(window.captions()[0], "0% Complete");
    EXPECT_NE(window.captions()[1], "100% Complete");
    expectFiles(oldPicture, oldSetup);
    EXPECT_EQ(collection.rows(), rows(2));
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

} // namespace
} // namespace velmora::testing
