#pragma once

#include "catalogue/copy/file_system.h"
#include "catalogue/entry_window.h"

#include <cstdint>

namespace velmora {

// The seams an add runs on: the real file system and SQLite's default VFS,
// unless a test hands in others; and the cancel flag both copies receive,
// CopyFileModul's own (never set) unless a front end that can be interrupted
// hands in one of its own. The flag is read on the thread that runs the add.
// A front end whose thread has no window to keep alive (a terminal's) sets
// callerMayWait: the checks and steps then run on its own thread, without a
// thread each (a refused entry costs microseconds, not thread starts).
struct AddEnvironment {
    FileSystem* fileSystem = nullptr;
    const char* sqliteVfs = nullptr;
    const std::int32_t* cancel = nullptr;
    bool callerMayWait = false;
    // Every check of an add, the catalogue's and the program folder's
    // included, and nothing written: the outcome is Checked when all pass.
    bool dryRun = false;
};

// What became of one add. The message boxes have already told the user; a
// front end that keeps a tally counts with this, never with their texts.
enum class AddOutcome {
    Added,          // the row and both files, without a message
    Refused,        // by the checks, before anything was written
    DatabaseFailed, // the handler's two boxes; no row is stored
    FileStepFailed, // the row is stored; a later step failed (the folder, a copy, the
                    // catalogue's own work after its row): added with a failure
    Cancelled,      // the row is stored; a copy stopped at the cancel flag
    Checked,        // a dry run found nothing that would stop the add
};

// The add operation: turns the entry standing in the window into one catalogue
// row and one program folder with its two files. Reads each field at the step
// that uses it; opens both source files before anything is written, and the
// copies read through those descriptors. A refused entry and every failure of the database and file
// steps are reported in message boxes and end the add without passing a
// failure on; only a failure of the window itself (reading a field or the folder,
// showing a box) or a lack of memory before the database is opened reaches the
// caller.
AddOutcome Dodaj(EntryWindow& window, const AddEnvironment& environment = {});

// The texts of the add's message boxes.
namespace texts {
inline constexpr const char* kTitleGreska = "Greška";
inline constexpr const char* kTitleGRESKA = "GRESKA";
inline constexpr const char* kDescriptionTooLong = "Molimo skratite opis. Maksimalno 49 karaktera!";
inline constexpr const char* kFieldMissing = "Neko od polja nije ispunjeno!";
inline constexpr const char* kBadProgramName = "Neispravno ime programa!";
inline constexpr const char* kDatabaseFailed = "Greška sa bazom!";
inline constexpr const char* kFolderNotMade = "Folder programa nije napravljen!";
inline constexpr const char* kCopyFailed = "Kopiranje nije uspjelo!";
inline constexpr const char* kSourceUnusable = "Datoteka nije dostupna!";
} // namespace texts

} // namespace velmora
