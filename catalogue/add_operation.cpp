#include "catalogue/add_operation.h"

#include "catalogue/access_catalogue.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/background_task.h"
#include "catalogue/copy_file_modul.h"
#include "catalogue/entry_checks.h"
#include "catalogue/failure.h"
#include "catalogue/folder_name_limit.h"
#include "catalogue/program_folder.h"

#include <exception>
#include <optional>
#include <string>

namespace velmora {
namespace {

constexpr const char* kCrLf = "\r\n";

// The refusals that end a run before anything is written. Returns the text to
// show, or nothing when the entry may be added. The application folder is read
// only once the name has passed the checks that need no folder, and handed back
// for the database path.
std::optional<const char*> refusal(EntryWindow& window, std::string& applicationFolder) {
    if (characterCount(window.fieldText(Field::Opis)) > kMaxDescriptionLength) {
        return texts::kDescriptionTooLong;
    }
    const std::string program = window.fieldText(Field::Program);
    if (isBlank(program) || isBlank(window.fieldText(Field::Kategorija)) ||
        isBlank(window.fieldText(Field::Source)) || isBlank(window.fieldText(Field::Slika))) {
        return texts::kFieldMissing;
    }
    if (!isSingleFolderName(program)) {
        return texts::kBadProgramName;
    }
    // A name the file system cannot take as one folder would leave a row
    // without its folder.
    applicationFolder = window.applicationFolder();
    const std::string programs = programFolderPath(applicationFolder, "");
    const std::size_t limit = runInBackground([&] { return folderNameLimit(programs); },
                                              [&window] { window.processPendingEvents(); });
    if (program.size() > limit) {
        return texts::kBadProgramName;
    }
    return std::nullopt;
}

// Copies one file into the open program folder; a copy that fails is
// reported, and its error returned, and the run goes on. A Failure from the progress routine passes
// to the handler. The window takes no input during an add, so the name read here is the one the
// folder was opened for; the file goes into that folder, whatever the path names by now.
std::error_code copyIntoFolder(EntryWindow& window, Field sourceField, std::string_view targetName,
                               int programFolder, FileSystem& fs, const std::int32_t* cancel) {
    const std::string source = window.fieldText(sourceField);
    const std::string applicationFolder = window.applicationFolder();
    const std::string shown = targetPath(
        programFolderPath(applicationFolder, window.fieldText(Field::Program)), targetName);
    window.copyStarting(targetName);
    const std::error_code result = CopyFileExA(source, {programFolder, std::string(targetName)},
                                               &CopyFileModul::CopyProgressRoutine, &window, cancel,
                                               COPY_FILE_RESTARTABLE, fs);
    if (result) {
        window.messageBox(std::string(texts::kCopyFailed) + kCrLf + source + " -> " + shown +
                              kCrLf + result.message(),
                          texts::kTitleGreska);
    }
    return result;
}

// Steps 4 to 10 of a run. The connection and the statement live in this frame,
// so they are closed and released on every way out of it. Everything that
// waits on the disk runs on a thread of its own, while the window's events go
// on running. An Access (Jet 4) catalogue takes the row in place instead.
AddOutcome storeAndDeploy(EntryWindow& window, const std::string& applicationFolderText,
                          const std::string& databasePathText, const AddEnvironment& environment) {
    const auto keepWindowAlive = [&window] { window.processPendingEvents(); };
    std::optional<CatalogueConnection> connection;
    std::optional<InsertStatement> statement;
    bool access = false;
    runInBackground(
        [&] {
            access = isJet4Catalogue(databasePathText);
            if (!access) {
                connection.emplace(databasePathText, environment.sqliteVfs);
                statement.emplace(*connection);
            }
        },
        keepWindowAlive);
    {
        const std::string kategorija = window.fieldText(Field::Kategorija);
        const std::string program = window.fieldText(Field::Program);
        const std::string opis = window.fieldText(Field::Opis);
        runInBackground(
            [&] {
                if (access) {
                    insertIntoAccessCatalogue(applicationFolderText, kategorija, program, opis);
                } else {
                    statement->run(kategorija, program, opis);
                }
            },
            keepWindowAlive);
    }

    FileSystem& fs =
        environment.fileSystem != nullptr ? *environment.fileSystem : FileSystem::real();
    // Each read is its own statement: the order of function arguments is not
    // the order in which the fields are read.
    const std::string applicationFolder = window.applicationFolder();
    const std::string program = window.fieldText(Field::Program);
    const OpenedFolder opened = runInBackground(
        [&] { return openProgramFolder(applicationFolder, program, fs); }, keepWindowAlive);
    if (opened.error) {
        window.messageBox(std::string(texts::kFolderNotMade) + kCrLf +
                              programFolderPath(applicationFolder, program) + kCrLf +
                              opened.error.message(),
                          texts::kTitleGreska);
        return AddOutcome::FileStepFailed;
    }
    const std::int32_t* cancel =
        environment.cancel != nullptr ? environment.cancel : &CopyFileModul::kCancel;
    const std::error_code picture =
        copyIntoFolder(window, Field::Slika, kPictureName, opened.folder.get(), fs, cancel);
    const std::error_code setup =
        copyIntoFolder(window, Field::Source, kSetupName, opened.folder.get(), fs, cancel);
    const auto stoppedByCancel = [cancel](std::error_code result) {
        return result == std::errc::operation_canceled && *cancel != 0;
    };
    if (stoppedByCancel(picture) || stoppedByCancel(setup)) {
        return AddOutcome::Cancelled;
    }
    return picture || setup ? AddOutcome::FileStepFailed : AddOutcome::Added;
}

} // namespace

AddOutcome Dodaj(EntryWindow& window, const AddEnvironment& environment) {
    std::string applicationFolder;
    if (const auto text = refusal(window, applicationFolder)) {
        window.messageBox(*text, texts::kTitleGreska);
        return AddOutcome::Refused;
    }

    const std::string path = databasePath(applicationFolder);
    std::optional<Failure> failure;
    AddOutcome outcome = AddOutcome::DatabaseFailed;
    try {
        outcome = storeAndDeploy(window, applicationFolder, path, environment);
    } catch (const Failure&) {
        failure = describeFailure(std::current_exception());
    } catch (const std::exception&) {
        failure = describeFailure(std::current_exception());
    }
    // The handler runs after the frame above has closed its database objects.
    if (failure) {
        window.messageBox(failureText(*failure, kCrLf), texts::kTitleGRESKA);
        window.messageBox(texts::kDatabaseFailed, texts::kTitleGreska);
    }
    return outcome;
}

} // namespace velmora
