#include "catalogue/add_operation.h"
#include "catalogue/copy/descriptor.h"
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
#include <sys/file.h>
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

std::string sourceRefused(const std::string& source, const std::string& reason) {
    return "Datoteka nije dostupna!\r\n" + source + "\r\n" + reason;
}

// Both sources are opened before anything is written: one that is missing,
// unreadable or no regular file is refused in a box that names it and the
// system's reason, and no row, folder or file is written, so running the same
// entry again once the path is mended adds one row, not two.
TEST_F(AddFilesTest, SourceThatCannotBeOpenedIsRefusedBeforeTheRow) {
    addOnce();
    const std::string oldPicture = readFile(pictureTarget());
    const std::string oldSetup = readFile(setupTarget());
    const fs::path fifo = sources.path() / "fifo.exe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        const char* name;
        Field field;
        std::string path;
        int openError; // injected on opening `path`; 0: none
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"picture missing", Field::Slika, (sources.path() / "gone.bmp").string(), 0,
         "No such file or directory"},
        {"setup missing", Field::Source, (sources.path() / "gone.exe").string(), 0,
         "No such file or directory"},
        {"setup unreadable", Field::Source, setup().string(), EACCES, "Permission denied"},
        {"picture is a folder", Field::Slika, sources.str(), 0, "Is a directory"},
        {"setup is a FIFO", Field::Source, fifo.string(), 0, "Source is not a regular file"},
        {"picture is a device", Field::Slika, "/dev/zero", 0, "Source is not a regular file"},
        {"picture made by the kernel", Field::Slika, "/proc/self/status", 0,
         "Source is not a file on a disk (the kernel makes it as it is read)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FaultyFileSystem refusing;
        if (c.openError != 0) {
            refusing.failOpenPath = c.path;
            refusing.openError = c.openError;
        }
        RecordingWindow refused(collection.str());
        refused.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
        refused.set(c.field, c.path);
        EXPECT_EQ(Dodaj(refused, {&refusing, nullptr}), AddOutcome::Refused);
        EXPECT_EQ(refused.boxes(), (std::vector<Box>{{sourceRefused(c.path, c.reason), "Greška"}}));
        EXPECT_TRUE(refused.captions().empty());
        EXPECT_EQ(collection.rows(), rows(1));
        expectFiles(oldPicture, oldSetup);
        EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    }
    // Every file that cannot be used is named, not only the first.
    RecordingWindow both(collection.str());
    const std::string gonePicture = (sources.path() / "gone.bmp").string();
    both.setEntry("CDDVD", "Tool", "Small tool", fifo.string(), gonePicture);
    EXPECT_EQ(Dodaj(both), AddOutcome::Refused);
    EXPECT_EQ(both.boxes(),
              (std::vector<Box>{{sourceRefused(gonePicture, "No such file or directory") + "\r\n" +
                                     fifo.string() + "\r\nSource is not a regular file",
                                 "Greška"}}));
    EXPECT_EQ(collection.rows(), rows(1));
}

// Windows compares names without regard to case: an add whose name differs
// from an existing program's only in case goes into that program's folder,
// as it would on Windows (and as it must on exFAT, where both names are one
// folder), never into a second folder beside it. Inside it the same: the
// file that Windows takes for Picture.bmp or Setup.exe ("SETUP.EXE", put
// there by another program) is the one replaced, and keeps its name.
TEST_F(AddFilesTest, NameInAnotherCaseGoesIntoTheFolderThatHoldsIt) {
    struct Case {
        std::string existing;
        std::string added;
        std::string pictureAs; // the name the folder's picture has before the second add
        std::string setupAs;
    };
    for (const Case& c :
         std::vector<Case>{{"Tool", "tool", "Picture.bmp", "Setup.exe"},
                           {"Tool", "TOOL", "picture.bmp", "SETUP.EXE"},
                           {"Čarobnjak Σ", "čAROBNJAK σ", "PICTURE.BMP", "setup.exe"},
                           {"Ελληνικά", "ΕΛΛΗΝΙΚΆ", "Picture.BMP", "Setup.exe"}}) {
        SCOPED_TRACE(c.added);
        const TempCollection fresh;
        RecordingWindow first(fresh.str());
        first.setEntry("CDDVD", c.existing, "Small tool", setup().string(), picture().string());
        ASSERT_EQ(Dodaj(first), AddOutcome::Added);
        const fs::path folder = fresh.programFolder(c.existing);
        fs::rename(folder / "Picture.bmp", folder / c.pictureAs);
        fs::rename(folder / "Setup.exe", folder / c.setupAs);
        RecordingWindow second(fresh.str());
        second.setEntry("CDDVD", c.added, "Small tool", setup().string(), picture().string());
        writeFile(picture(), "a new picture");
        writeFile(setup(), "a new setup");
        EXPECT_EQ(Dodaj(second), AddOutcome::Added);
        EXPECT_EQ(folderEntries(fresh.path() / "Programi"), (std::set<std::string>{c.existing}));
        EXPECT_EQ(folderEntries(folder), (std::set<std::string>{c.pictureAs, c.setupAs}));
        EXPECT_TRUE(readFile(folder / c.pictureAs) == "a new picture");
        EXPECT_TRUE(readFile(folder / c.setupAs) == "a new setup");
        writeFile(picture(), patternBytes(MiB + 3, 1));
        writeFile(setup(), patternBytes(2 * MiB + 5, 2));
    }
    // A link that stands for Setup.exe is replaced, never followed; where
    // the exact name stands, that file is replaced, and no other spelling of
    // it is removed.
    const fs::path outside = sources.path() / "outside.exe";
    writeFile(outside, "outside");
    addOnce();
    fs::remove(setupTarget());
    fs::create_symlink(outside, folder() / "setup.EXE");
    writeFile(folder() / "PICTURE.BMP", "someone's picture");
    writeFile(picture(), "a new picture");
    writeFile(setup(), "a new setup");
    EXPECT_EQ(Dodaj(window), AddOutcome::Added);
    EXPECT_EQ(folderEntries(folder()),
              (std::set<std::string>{"Picture.bmp", "PICTURE.BMP", "setup.EXE"}));
    EXPECT_FALSE(fs::is_symlink(folder() / "setup.EXE"));
    EXPECT_TRUE(readFile(folder() / "setup.EXE") == "a new setup");
    EXPECT_EQ(readFile(outside), "outside");
    EXPECT_TRUE(readFile(pictureTarget()) == "a new picture");
    EXPECT_EQ(readFile(folder() / "PICTURE.BMP"), "someone's picture");
    // Letters that only look alike, or that fold only beyond simple upper
    // case, stay apart: "ß" is not "SS".
    const TempCollection apart;
    for (const std::string name : {"Straße", "STRASSE"}) {
        RecordingWindow add(apart.str());
        add.setEntry("CDDVD", name, "Small tool", setup().string(), picture().string());
        EXPECT_EQ(Dodaj(add), AddOutcome::Added);
    }
    EXPECT_EQ(folderEntries(apart.path() / "Programi"),
              (std::set<std::string>{"Straße", "STRASSE"}));
}

// One add of a program at a time: a second add of the same program waits
// until the first has its files (here: until the test lets go of the
// folder's lock), then runs, so the folder never holds one add's picture
// beside another's setup file.
TEST_F(AddFilesTest, SecondAddOfTheSameProgramWaitsForTheFirst) {
    addOnce();
    const Descriptor held(FileSystem::real(), ::open(folder().c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
    writeFile(picture(), "second picture");
    int waits = 0;
    bool copiedWhileHeld = false;
    window.onPendingEvents = [&] {
        if (++waits == 8) {
            copiedWhileHeld = !window.captions().empty();
            ::flock(held.get(), LOCK_UN);
        }
    };
    EXPECT_EQ(Dodaj(window), AddOutcome::Added);
    EXPECT_GE(waits, 8);
    EXPECT_FALSE(copiedWhileHeld);
    EXPECT_EQ(readFile(pictureTarget()), "second picture");
    EXPECT_EQ(collection.rows(), rows(2));

    // A cancel (the session ends) while waiting ends the add without a copy.
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);
    std::int32_t cancel = 0;
    RecordingWindow cancelled(collection.str());
    cancelled.setEntry("CDDVD", "Tool", "Small tool", setup().string(), picture().string());
    cancelled.onPendingEvents = [&] { cancel = 1; };
    EXPECT_EQ(Dodaj(cancelled, {nullptr, nullptr, &cancel}), AddOutcome::Cancelled);
    EXPECT_TRUE(cancelled.captions().empty());
}

// The copies read the files that were opened before the row: a source
// replaced or removed by its path meanwhile is still copied as it was.
TEST_F(AddFilesTest, CopiesReadTheFilesOpenedBeforeTheRow) {
    const std::string pictureBytes = readFile(picture());
    const std::string setupBytes = readFile(setup());
    FaultyFileSystem changing;
    changing.before = [&](std::string_view call, std::string_view) {
        if (call == "mkdirAt") {
            fs::remove(picture());
            writeFile(sources.path() / "other.exe", "another setup");
            fs::rename(sources.path() / "other.exe", setup());
        }
    };
    EXPECT_EQ(Dodaj(window, {&changing, nullptr}), AddOutcome::Added);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_EQ(collection.rows(), rows(1));
    expectFiles(pictureBytes, setupBytes);
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

// A cancel flag set before the copies (the session ends while the row is
// stored): the row stays, no copy is started or reported, nothing is left in
// the folder, and the add says it was cancelled.
TEST_F(AddFilesTest, CancelFlagStartsNoCopyAndTheAddSaysCancelled) {
    const std::int32_t cancel = 1;
    EXPECT_EQ(Dodaj(window, {nullptr, nullptr, &cancel}), AddOutcome::Cancelled);
    EXPECT_TRUE(window.boxes().empty());
    EXPECT_TRUE(window.captions().empty());
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
    // The row is stored: the failure is the copy's, never the database's.
    EXPECT_EQ(Dodaj(window, {&held, nullptr}), AddOutcome::FileStepFailed);
    EXPECT_EQ(window.boxes(),
              (std::vector<Box>{{"BROJ: 6\r\nOPIS: Overflow", "GRESKA"},
                                {"Kopiranje nije uspjelo!\r\n" + picture().string() + " -> " +
                                     pictureTarget().string(),
                                 "Greška"}}));
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
