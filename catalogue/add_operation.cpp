#include "catalogue/add_operation.h"

#include "catalogue/access_catalogue.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/background_task.h"
#include "catalogue/copy/copy_error.h"
#include "catalogue/copy/source_file.h"
#include "catalogue/copy_file_modul.h"
#include "catalogue/entry_checks.h"
#include "catalogue/failure.h"
#include "catalogue/folder_name_limit.h"
#include "catalogue/program_folder.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace velmora {
namespace {

constexpr const char* kCrLf = "\r\n";

FileSystem& fileSystemOf(const AddEnvironment& environment) {
    return environment.fileSystem != nullptr ? *environment.fileSystem : FileSystem::real();
}

// The two files an add copies, opened before anything is written; the copies
// read through these descriptors.
struct OpenedSources {
    Descriptor picture;
    Descriptor setup;
};

// Runs `work`, which may wait on the disk, and returns what it returns: on a
// thread of its own while the window's events go on running, or on the
// calling thread when the front end may wait there itself.
template <typename Work>
std::invoke_result_t<Work> onDisk(EntryWindow& window, const AddEnvironment& environment,
                                  Work&& work) {
    if (environment.callerMayWait) {
        return work();
    }
    return runInBackground(std::forward<Work>(work), [&window] { window.processPendingEvents(); });
}

// The refusals that end a run before anything is written. Returns the text to
// show, or nothing when the entry may be added. The application folder is read
// only once the name has passed the checks that need no folder, and handed back
// for the database path; both sources are opened last, into `sources`, and
// every one that cannot be used is named.
std::optional<std::string> refusal(EntryWindow& window, const AddEnvironment& environment,
                                   std::string& applicationFolder, OpenedSources& sources) {
    if (characterCount(window.fieldText(Field::Opis)) > kMaxDescriptionLength) {
        return texts::kDescriptionTooLong;
    }
    const std::string program = window.fieldText(Field::Program);
    if (isBlank(program) || isBlank(window.fieldText(Field::Kategorija))) {
        return texts::kFieldMissing;
    }
    const std::string setup = window.fieldText(Field::Source);
    const std::string picture = window.fieldText(Field::Slika);
    if (isBlank(setup) || isBlank(picture)) {
        return texts::kFieldMissing;
    }
    // One folder here, and one that Windows can make where the collection travels.
    if (!isSingleFolderName(program) || !isWindowsFolderName(program)) {
        return texts::kBadProgramName;
    }
    // A name the file system cannot take as one folder would leave a row
    // without its folder.
    applicationFolder = window.applicationFolder();
    const std::string programs = programFolderPath(applicationFolder, "");
    const std::size_t limit =
        onDisk(window, environment, [&] { return folderNameLimit(programs); });
    if (program.size() > limit) {
        return texts::kBadProgramName;
    }
    // A source that cannot be read would leave a row without its file, and
    // the same entry added again once mended would store a second row.
    FileSystem& fs = fileSystemOf(environment);
    std::string unusable;
    for (const auto& [path, into] :
         {std::pair{&picture, &sources.picture}, {&setup, &sources.setup}}) {
        OpenedSource opened =
            onDisk(window, environment, [&, path = path] { return openSource(*path, fs); });
        if (opened.error) {
            unusable += kCrLf + *path + kCrLf + opened.error.message();
        }
        *into = std::move(opened.file);
    }
    if (!unusable.empty()) {
        return texts::kSourceUnusable + unusable;
    }
    return std::nullopt;
}

// Copies one file into the open program folder; a copy that fails is
// reported, and its error returned, and the run goes on. A Failure from the progress routine passes
// to the handler, which names the copy by `stepUnderWay`. The window takes no input during an add,
// so the name read here is the one the folder was opened for; the file goes into that folder,
// whatever the path names by now.
std::error_code copyIntoFolder(EntryWindow& window, Field sourceField, int sourceFile,
                               const FileInFolder& target, FileSystem& fs,
                               const std::int32_t* cancel, std::string& stepUnderWay) {
    const std::string source = window.fieldText(sourceField);
    const std::string applicationFolder = window.applicationFolder();
    const std::string shown = targetPath(
        programFolderPath(applicationFolder, window.fieldText(Field::Program)), target.name);
    stepUnderWay = std::string(texts::kCopyFailed) + kCrLf + source + " -> " + shown;
    window.copyStarting(target.name);
    const std::error_code result =
        CopyFileExA(sourceFile, target, &CopyFileModul::CopyProgressRoutine, &window, cancel,
                    COPY_FILE_RESTARTABLE, fs);
    if (result) {
        window.messageBox(std::string(texts::kCopyFailed) + kCrLf + source + " -> " + shown +
                              kCrLf + result.message(),
                          texts::kTitleGreska);
    }
    return result;
}

// How long one try for the program folder's lock lasts before the window's
// events and the cancel flag are looked at again.
constexpr std::chrono::milliseconds kLockSlice{100};

// Steps 4 to 10 of a run. The connection and the statement live in this frame,
// so they are closed and released on every way out of it. Everything that
// waits on the disk runs through onDisk. An Access (Jet 4) catalogue takes the
// row in place instead. Once the row is stored, `stepUnderWay` names the step
// under way, for a failure that ends the run there.
AddOutcome storeAndDeploy(EntryWindow& window, const std::string& applicationFolderText,
                          const std::string& databasePathText, const OpenedSources& sources,
                          const AddEnvironment& environment, std::string& stepUnderWay) {
    std::optional<CatalogueConnection> connection;
    std::optional<InsertStatement> statement;
    bool access = false;
    onDisk(window, environment, [&] {
        access = isJet4Catalogue(databasePathText);
        if (!access) {
            connection.emplace(databasePathText, environment.sqliteVfs);
            statement.emplace(*connection);
        }
    });
    // A failure after the row is stored is no database failure: it is shown
    // for what it is, and the folder and copies go on.
    std::optional<Failure> afterRow;
    {
        const std::string kategorija = window.fieldText(Field::Kategorija);
        const std::string program = window.fieldText(Field::Program);
        const std::string opis = window.fieldText(Field::Opis);
        onDisk(window, environment, [&] {
            if (access) {
                afterRow =
                    insertIntoAccessCatalogue(applicationFolderText, kategorija, program, opis);
            } else {
                statement->run(kategorija, program, opis);
            }
        });
    }
    if (afterRow) {
        window.messageBox(afterRow->description, texts::kTitleGreska);
    }

    FileSystem& fs = fileSystemOf(environment);
    // Each read is its own statement: the order of function arguments is not
    // the order in which the fields are read.
    const std::string applicationFolder = window.applicationFolder();
    const std::string program = window.fieldText(Field::Program);
    const std::string folderText =
        std::string(texts::kFolderNotMade) + kCrLf + programFolderPath(applicationFolder, program);
    stepUnderWay = folderText;
    const OpenedFolder opened = onDisk(
        window, environment, [&] { return openProgramFolder(applicationFolder, program, fs); });
    if (opened.error) {
        window.messageBox(folderText + kCrLf + opened.error.message(), texts::kTitleGreska);
        return AddOutcome::FileStepFailed;
    }
    const std::int32_t* cancel =
        environment.cancel != nullptr ? environment.cancel : &CopyFileModul::kCancel;
    // One add of a program at a time: a second add of the same program (from
    // another window or terminal) waits here until the first has both its
    // files, so the folder never ends with one add's picture and the other's
    // setup file.
    while (!onDisk(window, environment,
                   [&] { return lockProgramFolder(opened.folder.get(), kLockSlice, fs); })) {
        window.processPendingEvents();
        if (*cancel != 0) {
            return AddOutcome::Cancelled;
        }
    }
    // What killed copies of an earlier add left here goes first.
    onDisk(window, environment, [&] { removeLeftoverCopies(opened.folder.get(), fs); });
    // A cancelled add (the session ends) starts no further copy.
    const auto copy = [&](Field field, const Descriptor& source, std::string_view name) {
        if (*cancel != 0) {
            return systemError(ECANCELED);
        }
        // A file the folder holds under another spelling ("setup.exe") is the
        // one Windows would overwrite: the copy replaces it and keeps its
        // name, so the folder never holds two files that Windows takes for one.
        FileInFolder target(opened.folder.get(), std::string(name));
        target.existing = onDisk(window, environment,
                                 [&] { return entryNameFor(opened.folder.get(), name, fs); });
        if (target.existing == name) {
            target.existing.clear();
        }
        return copyIntoFolder(window, field, source.get(), target, fs, cancel, stepUnderWay);
    };
    const std::error_code picture = copy(Field::Slika, sources.picture, kPictureName);
    const std::error_code setup = copy(Field::Source, sources.setup, kSetupName);
    const auto stoppedByCancel = [cancel](std::error_code result) {
        return result == std::errc::operation_canceled && *cancel != 0;
    };
    if (stoppedByCancel(picture) || stoppedByCancel(setup)) {
        return AddOutcome::Cancelled;
    }
    return picture || setup || afterRow ? AddOutcome::FileStepFailed : AddOutcome::Added;
}

// A dry run's steps 4 to 10: the row tried and rolled back (or, in an Access
// catalogue, prepared in memory), and the program folder looked at.
AddOutcome checkWithoutWriting(EntryWindow& window, const std::string& applicationFolder,
                               const std::string& databasePathText,
                               const AddEnvironment& environment) {
    const auto keepWindowAlive = [&window] { window.processPendingEvents(); };
    const std::string kategorija = window.fieldText(Field::Kategorija);
    const std::string program = window.fieldText(Field::Program);
    const std::string opis = window.fieldText(Field::Opis);
    runInBackground(
        [&] {
            if (isJet4Catalogue(databasePathText)) {
                checkAccessCatalogueRow(applicationFolder, kategorija, program, opis);
            } else {
                const CatalogueConnection connection(databasePathText, environment.sqliteVfs);
                checkInsert(connection, kategorija, program, opis);
            }
        },
        keepWindowAlive);
    const std::error_code folder = runInBackground(
        [&] { return checkProgramFolder(applicationFolder, program, fileSystemOf(environment)); },
        keepWindowAlive);
    if (folder) {
        window.messageBox(std::string(texts::kFolderNotMade) + kCrLf +
                              programFolderPath(applicationFolder, program) + kCrLf +
                              folder.message(),
                          texts::kTitleGreska);
        return AddOutcome::FileStepFailed;
    }
    return AddOutcome::Checked;
}

} // namespace

AddOutcome Dodaj(EntryWindow& window, const AddEnvironment& environment) {
    std::string applicationFolder;
    OpenedSources sources;
    if (const auto text = refusal(window, environment, applicationFolder, sources)) {
        window.messageBox(*text, texts::kTitleGreska);
        return AddOutcome::Refused;
    }

    const std::string path = databasePath(applicationFolder);
    std::optional<Failure> failure;
    std::optional<EngineRefusal> refused;
    // Empty until the row is stored; then what the run was doing.
    std::string stepUnderWay;
    AddOutcome outcome = AddOutcome::DatabaseFailed;
    try {
        outcome = environment.dryRun
                      ? checkWithoutWriting(window, applicationFolder, path, environment)
                      : storeAndDeploy(window, applicationFolder, path, sources, environment,
                                       stepUnderWay);
    } catch (const EngineRefusal& refusal) {
        refused = refusal;
    } catch (const Failure&) {
        failure = describeFailure(std::current_exception());
    } catch (const std::exception&) {
        failure = describeFailure(std::current_exception());
    }
    // What the engine refuses is the entry's fault, said in the engine's words,
    // as Access says it; nothing was written.
    if (refused) {
        window.messageBox(refused->text, texts::kTitleGreska);
        return AddOutcome::Refused;
    }
    // The handler runs after the frame above has closed its database objects.
    // A failure once the row is stored is the step's, never the database's.
    if (failure) {
        window.messageBox(failureText(*failure, kCrLf), texts::kTitleGRESKA);
        if (stepUnderWay.empty()) {
            window.messageBox(texts::kDatabaseFailed, texts::kTitleGreska);
        } else {
            window.messageBox(stepUnderWay, texts::kTitleGreska);
            outcome = AddOutcome::FileStepFailed;
        }
    }
    return outcome;
}

} // namespace velmora
