#include "cli/init/collection_init.h"

#include "access/access_format.h"
#include "access/jet_writer.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/descriptor.h"
#include "catalogue/failure.h"
#include "catalogue/program_files.h"
#include "catalogue/program_folder.h"
#include "catalogue/stored_entries.h"
#include "cli/init/jet_conversion.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmora {
namespace {

namespace fs = std::filesystem;

using Db = std::unique_ptr<sqlite3, ConnectionCloser>;

std::string sqliteError(sqlite3* db, const std::string& path) {
    return path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
}

// Checks that an existing file is an SQLite database holding table CD with the
// three text columns; opened read-only, so a refused file stays as it was.
InitResult checkCatalogue(const std::string& path) {
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const Db db(raw);
    if (code != SQLITE_OK) {
        return {sqliteError(raw, path)};
    }
    sqlite3_stmt* rawStatement = nullptr;
    if (sqlite3_prepare_v2(raw, "SELECT name FROM pragma_table_info('CD')", -1, &rawStatement,
                           nullptr) != SQLITE_OK) {
        return {path + ": not a catalogue (" + sqlite3_errmsg(raw) + ")"};
    }
    const std::unique_ptr<sqlite3_stmt, StatementFinalizer> statement(rawStatement);
    int found = 0;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(rawStatement)) == SQLITE_ROW) {
        const std::string column =
            reinterpret_cast<const char*>(sqlite3_column_text(rawStatement, 0));
        // Names match in any letter case, as in SQL (a converted Access
        // catalogue keeps its own spelling).
        for (const char* name : {"Kategorija", "Program", "Opis"}) {
            found += sqlite3_stricmp(column.c_str(), name) == 0;
        }
    }
    if (step != SQLITE_DONE) {
        return {path + ": not a catalogue (" + sqlite3_errmsg(raw) + ")"};
    }
    if (found != 3) {
        return {path + ": not a catalogue (no table CD with Kategorija, Program, Opis)"};
    }
    return {};
}

// An existing Velmora2.db (or the file a link there names) must be a plain
// file: opening a FIFO to read would wait for a writer for ever, so the file
// is opened without waiting and its type looked at first.
InitResult checkPlainFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENXIO) { // a socket, or a device with nothing behind it
            return {path + ": not a plain file, so not a catalogue"};
        }
        return {}; // a link to nowhere, say: reported when it is opened
    }
    struct stat status {};
    const bool known = fstat(fd, &status) == 0;
    close(fd);
    if (!known || S_ISREG(status.st_mode)) {
        return {};
    }
    const char* kind = S_ISFIFO(status.st_mode)   ? "a FIFO"
                       : S_ISDIR(status.st_mode)  ? "a folder"
                       : S_ISSOCK(status.st_mode) ? "a socket"
                                                  : "a device";
    return {path + ": " + kind + ", not a plain file, so not a catalogue"};
}

InitResult createCatalogue(const std::string& path) {
    sqlite3* raw = nullptr;
    // Reached only when no file of this name exists (checked by the caller).
    const int code =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const Db db(raw);
    if (code != SQLITE_OK) {
        return {sqliteError(raw, path)};
    }
    if (sqlite3_exec(raw, "CREATE TABLE CD (Kategorija TEXT, Program TEXT, Opis TEXT);", nullptr,
                     nullptr, nullptr) != SQLITE_OK) {
        return {sqliteError(raw, path)};
    }
    return {};
}

// The one line that tells a successful run from one that did nothing.
std::string whatWasMade(const std::string& folder, bool madeCatalogue, bool madeProgrami) {
    if (madeCatalogue && madeProgrami) {
        return "Made the collection in " + folder + ": Velmora2.db (table CD) and Programi/";
    }
    if (madeCatalogue) {
        return "Made Velmora2.db (table CD) in " + folder + "; Programi/ was there already";
    }
    if (madeProgrami) {
        return "Made Programi/ in " + folder + "; its catalogue Velmora2.db was there already";
    }
    return folder + " is a collection already; nothing was changed";
}

// An Access catalogue stays as it is when the add can write it in place: an
// interrupted add is rolled back, then the writer's own checks run without
// writing. What it cannot write names --convert.
InitResult keepAccessCatalogue(const std::string& folder, AccessFormat format) {
    if (format != AccessFormat::Jet4) {
        return {accessCatalogueDescription(format)};
    }
    const Descriptor dir(FileSystem::real(),
                         open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
        return {folder + ": cannot open the folder (" + std::strerror(errno) + ")"};
    }
    try {
        std::vector<std::string> lines;
        if (jet::recoverInterruptedInsert(dir.get(), "Velmora2.db")) {
            lines.emplace_back("Velmora2.db: an interrupted add was rolled back");
        }
        jet::checkCatalogueWritable(dir.get(), "Velmora2.db");
        lines.emplace_back("Velmora2.db is an Access (Jet 4) catalogue, ready to add to; it stays "
                           "readable by its Windows programs");
        return {{}, std::move(lines)};
    } catch (const jet::JetWriteError& error) {
        return {error.what()};
    }
}

// "A, B, C and 4 more": the first names of a group.
std::string someNames(const std::vector<std::string>& names) {
    constexpr std::size_t kShown = 3;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < kShown; ++i) {
        text += (i == 0 ? "" : ", ") + names[i];
    }
    if (names.size() > kShown) {
        text += " and " + std::to_string(names.size() - kShown) + " more";
    }
    return text;
}

// What an existing catalogue holds, and whether Programi matches it: entries
// without their folder or one of its two files, folders that no entry names.
std::string contentsLine(const std::string& folder) {
    std::vector<StoredEntry> entries;
    try {
        entries = readStoredEntries(folder);
    } catch (const Failure& failure) {
        return "Velmora2.db: its entries cannot be read (" + failure.description + ")";
    }
    ProgramFolders folders(folder);
    std::vector<std::string_view> names;
    for (const StoredEntry& entry : entries) {
        names.push_back(entry.program);
    }
    std::vector<std::string> withoutFolder;
    std::vector<std::string> withoutFiles;
    for (const ProgramFiles& files : folders.findAll(names)) {
        if (!files.folderFound) {
            withoutFolder.emplace_back(files.program);
        } else if (!files.complete()) {
            withoutFiles.emplace_back(files.program);
        }
    }
    const std::vector<std::string> unnamed = folders.unclaimed();
    std::string line = "Velmora2.db holds " + groupedCount(entries.size()) +
                       (entries.size() == 1 ? " entry" : " entries");
    if (withoutFolder.empty() && withoutFiles.empty() && unnamed.empty()) {
        return line + (entries.empty() ? "; Programi/ holds no program folder"
                                       : "; each has its folder in Programi/ with Setup.exe "
                                         "and Picture.bmp, and no folder is without an entry");
    }
    std::vector<std::string> parts;
    if (!withoutFolder.empty()) {
        parts.push_back(std::to_string(withoutFolder.size()) + " without a folder (" +
                        someNames(withoutFolder) + ")");
    }
    if (!withoutFiles.empty()) {
        parts.push_back(std::to_string(withoutFiles.size()) +
                        " without Setup.exe or Picture.bmp (" + someNames(withoutFiles) + ")");
    }
    if (!unnamed.empty()) {
        parts.push_back(std::to_string(unnamed.size()) +
                        (unnamed.size() == 1 ? " folder" : " folders") +
                        " in Programi/ without an entry (" + someNames(unnamed) + ")");
    }
    line += "; the folders do not match: ";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        line += (i == 0 ? "" : "; ") + parts[i];
    }
    return line + " (velmora2-list shows each entry)";
}

} // namespace

InitResult initCollection(const std::string& folder, const InitOptions& options) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error || !fs::is_directory(folder)) {
        return {folder + ": cannot make the folder" + (error ? " (" + error.message() + ")" : "")};
    }
    const std::string path = databasePath(folder);
    const bool exists = fs::exists(fs::symlink_status(path, error));
    if (exists) {
        if (InitResult plain = checkPlainFile(path); !plain.ok()) {
            return plain;
        }
    }
    std::vector<std::string> lines;
    const AccessFormat format = exists ? accessFormatOfFile(path) : AccessFormat::None;
    if (format != AccessFormat::None && !options.convert) {
        InitResult kept = keepAccessCatalogue(folder, format);
        if (!kept.ok()) {
            return kept;
        }
        lines = std::move(kept.lines);
    } else if (format != AccessFormat::None) {
        ConversionHooks hooks;
        hooks.acceptMissingRows = options.acceptMissingRows;
        ConversionResult converted = convertAccessCatalogue(folder, hooks);
        if (!converted.ok()) {
            return {converted.error, {}};
        }
        lines = std::move(converted.lines);
    } else if (exists) {
        if (InitResult checked = checkCatalogue(path); !checked.ok()) {
            return checked;
        }
    } else if (InitResult created = createCatalogue(path); !created.ok()) {
        return created;
    }
    const fs::path programi = fs::path(folder) / "Programi";
    const bool madeProgrami = fs::create_directory(programi, error);
    if (error || !fs::is_directory(programi)) {
        return {programi.string() + ": cannot make the folder" +
                    (error ? " (" + error.message() + ")" : ""),
                std::move(lines)};
    }
    // What adds killed between writing a file and renaming it left behind.
    const Descriptor programs(FileSystem::real(),
                              ::open(programi.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const std::size_t removed =
        programs.valid() ? removeLeftoverCopiesOfAll(programs.get(), FileSystem::real()) : 0;
    // An Access catalogue, kept or converted, has had its say; otherwise one
    // line says what was made.
    if (format == AccessFormat::None && (!exists || madeProgrami || removed == 0)) {
        lines.push_back(whatWasMade(folder, !exists, madeProgrami));
    }
    if (removed > 0) {
        lines.push_back("Removed " + std::to_string(removed) +
                        (removed == 1 ? " unfinished copy" : " unfinished copies") +
                        " that killed adds left in " + programi.string() + "/");
    }
    // A catalogue that was there already: what it holds.
    if (exists && !(format != AccessFormat::None && options.convert)) {
        lines.push_back(contentsLine(folder));
    }
    return {{}, std::move(lines)};
}

} // namespace velmora
