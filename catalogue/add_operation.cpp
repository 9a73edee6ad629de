#include "catalogue/add_operation.h"

#include "catalogue/catalogue_database.h"
#include "catalogue/copy_progress.h"
#include "catalogue/entry_checks.h"
#include "catalogue/failure.h"
#include "catalogue/file_copy.h"
#include "catalogue/folder_name_limit.h"
#include "catalogue/program_folder.h"

#include <exception>
#include <new>
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
    if (program.size() > folderNameLimit(programFolderPath(applicationFolder, ""))) {
        return texts::kBadProgramName;
    }
    return std::nullopt;
}

// Copies one file into the program folder; a copy that fails is reported and
// the run goes on. A Failure from the progress routine passes to the handler.
void copyIntoFolder(EntryWindow& window, Field sourceField, std::string_view targetName,
                    FileSystem& fs, const std::int32_t* cancel) {
    const std::string source = window.fieldText(sourceField);
    const std::string folder = window.applicationFolder();
    const std::string target =
        targetPath(programFolderPath(folder, window.fieldText(Field::Program)), targetName);
    window.copyStarting(targetName);
    const FileResult result = CopyFileExA(source, target, &CopyFileModul::CopyProgressRoutine,
                                          &window, cancel, COPY_FILE_RESTARTABLE, fs);
    if (!result.ok()) {
        window.messageBox(std::string(texts::kCopyFailed) + kCrLf + source + " -> " + target +
                              kCrLf + result.reason(),
                          texts::kTitleGreska);
    }
}

// Steps 4 to 10 of a run. The connection and the statement live in this frame,
// so they are closed and released on every way out of it.
void storeAndDeploy(EntryWindow& window, const std::string& databasePathText,
                    const AddEnvironment& environment) {
    CatalogueConnection connection(databasePathText, environment.sqliteVfs);
    InsertStatement statement(connection);
    {
        const std::string kategorija = window.fieldText(Field::Kategorija);
        const std::string program = window.fieldText(Field::Program);
        const std::string opis = window.fieldText(Field::Opis);
        statement.run(kategorija, program, opis);
    }

    FileSystem& fs =
        environment.fileSystem != nullptr ? *environment.fileSystem : FileSystem::real();
    // Each read is its own statement: the order of function arguments is not
    // the order in which the fields are read.
    const std::string applicationFolder = window.applicationFolder();
    const std::string folder =
        programFolderPath(applicationFolder, window.fieldText(Field::Program));
    if (const FileResult made = CreateDirectoryA(folder, fs); !made.ok()) {
        window.messageBox(std::string(texts::kFolderNotMade) + kCrLf + folder + kCrLf +
                              made.reason(),
                          texts::kTitleGreska);
        return;
    }
    const std::int32_t* cancel =
        environment.cancel != nullptr ? environment.cancel : &CopyFileModul::kCancel;
    copyIntoFolder(window, Field::Slika, kPictureName, fs, cancel);
    copyIntoFolder(window, Field::Source, kSetupName, fs, cancel);
}

} // namespace

void Dodaj(EntryWindow& window, const AddEnvironment& environment) {
    std::string applicationFolder;
    if (const auto text = refusal(window, applicationFolder)) {
        window.messageBox(*text, texts::kTitleGreska);
        return;
    }

    const std::string path = databasePath(applicationFolder);
    std::optional<Failure> failure;
    try {
        storeAndDeploy(window, path, environment);
    } catch (const Failure& caught) {
        failure = caught;
    } catch (const std::bad_alloc&) {
        failure = Failure{7, "Out of memory"};
    } catch (const std::exception& caught) {
        failure = Failure{-1, caught.what()};
    }
    // The handler runs after the frame above has closed its database objects.
    if (failure) {
        window.messageBox("BROJ: " + std::to_string(failure->number) + kCrLf +
                              "OPIS: " + failure->description,
                          texts::kTitleGRESKA);
        window.messageBox(texts::kDatabaseFailed, texts::kTitleGreska);
    }
}

} // namespace velmora
