// Every fault and bad input we can make, run through the whole add over an
// existing program: what the user is shown, what happens to the rows, to the
// previous Picture.bmp and Setup.exe, to temporary files and to handles. The
// observed table must equal the one in docs/reliability.md (run with
// VELMORA_UPDATE_DOCS=1 to rewrite it after a deliberate change).
#include "catalogue/add_operation.h"
#include "catalogue/catalogue_database.h"
#include "catalogue/copy/temporary_file.h"
#include "tests/faults/readonly_vfs.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmora::testing {
namespace {

namespace fs = std::filesystem;

const std::string kOldPicture = "old picture bytes";
const std::string kOldSetup = "old setup bytes";
constexpr std::size_t kSourceSize = 2 << 20;

// Another process that holds the catalogue's write lock until released.
class LockHolder {
public:
    explicit LockHolder(const std::string& database) {
        int toChild[2];
        int toParent[2];
        if (pipe(toChild) != 0 || pipe(toParent) != 0) {
            throw std::runtime_error("pipe");
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(toChild[1]);
            close(toParent[0]);
            sqlite3* db = nullptr;
            sqlite3_open(database.c_str(), &db);
            const char ready =
                sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK ? 'y'
                                                                                            : 'n';
            [[maybe_unused]] auto written = write(toParent[1], &ready, 1);
            char ignored = 0;
            [[maybe_unused]] auto got = read(toChild[0], &ignored, 1); // until released
            _exit(0);
        }
        close(toChild[0]);
        close(toParent[1]);
        m_release = toChild[1];
        char ready = 'n';
        [[maybe_unused]] auto got = read(toParent[0], &ready, 1);
        close(toParent[0]);
        if (ready != 'y') {
            throw std::runtime_error("the other process could not lock the catalogue");
        }
    }
    ~LockHolder() {
        close(m_release);
        int status = 0;
        waitpid(m_pid, &status, 0);
    }
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

enum class Previous { Kept, Replaced, Missing };

const char* describe(Previous state) {
    switch (state) {
    case Previous::Kept:
        return "previous kept";
    case Previous::Replaced:
        return "replaced by the new file";
    case Previous::Missing:
        return "none";
    }
    return "?";
}

// A collection holding one row and the program "Tool" with its two files, and
// new sources of 2 MiB each; the window's entry adds "Tool" again.
struct Stage {
    TempCollection collection;
    TempDir sources;
    RecordingWindow window{collection.str()};
    FaultyFileSystem fileSystem;
    AddEnvironment environment{&fileSystem, nullptr};
    std::unique_ptr<LockHolder> lock;

    Stage() {
        collection.addRows(1, {"Igre", "Tool", "first version"});
        fs::create_directory(collection.programFolder("Tool"));
        writeFile(collection.programFolder("Tool") / "Picture.bmp", kOldPicture);
        writeFile(collection.programFolder("Tool") / "Setup.exe", kOldSetup);
        writeFile(picture(), std::string(kSourceSize, 'P'));
        writeFile(setup(), std::string(kSourceSize, 'S'));
        window.setEntry("CDDVD", "Tool", "Nova verzija", setup().string(), picture().string());
    }
    fs::path picture() const { return sources.path() / "picture.bmp"; }
    fs::path setup() const { return sources.path() / "setup.exe"; }
};

struct Scenario {
    const char* fault;
    std::function<void(Stage&)> arrange;
    int newRows;
    Previous picture;
    Previous setup;
};

const std::vector<Scenario>& scenarios() {
    static const std::vector<Scenario> all = {
        {"Nothing wrong: the same program added again", [](Stage&) {}, 1, Previous::Replaced,
         Previous::Replaced},
        {"Disk full while Setup.exe is written (ENOSPC after 64 KiB)",
         [](Stage& s) {
             s.fileSystem.writeFault = {{ENOSPC, 64 << 10}};
             s.fileSystem.writeFaultFile = 2;
         },
         1, Previous::Replaced, Previous::Kept},
        {"Disk full while Picture.bmp is written (ENOSPC after 1 byte)",
         [](Stage& s) {
             s.fileSystem.writeFault = {{ENOSPC, 1}};
             s.fileSystem.writeFaultFile = 1;
         },
         1, Previous::Kept, Previous::Replaced},
        {"Read error in the middle of the setup file (EIO after 1 MiB)",
         [](Stage& s) {
             s.fileSystem.readFault = {{EIO, 1 << 20}};
             s.fileSystem.readFaultPath = s.setup().string();
         },
         1, Previous::Replaced, Previous::Kept},
        {"Rename over the targets refused (EACCES)",
         [](Stage& s) { s.fileSystem.renameError = EACCES; }, 1, Previous::Kept, Previous::Kept},
        {"Picture file missing",
         [](Stage& s) { s.window.set(Field::Slika, (s.sources.path() / "none.bmp").string()); }, 0,
         Previous::Kept, Previous::Kept},
        {"Picture made by the kernel as it is read (/proc/self/status)",
         [](Stage& s) { s.window.set(Field::Slika, "/proc/self/status"); }, 0, Previous::Kept,
         Previous::Kept},
        {"Program name in another case (\"tOOL\" for \"Tool\")",
         [](Stage& s) { s.window.set(Field::Program, "tOOL"); }, 1, Previous::Replaced,
         Previous::Replaced},
        {"Program name of a console device (\"CONOUT$\")",
         [](Stage& s) { s.window.set(Field::Program, "CONOUT$"); }, 0, Previous::Kept,
         Previous::Kept},
        {"Setup path names a folder",
         [](Stage& s) { s.window.set(Field::Source, s.sources.str()); }, 0, Previous::Kept,
         Previous::Kept},
        {"Zero-byte picture", [](Stage& s) { writeFile(s.picture(), ""); }, 1, Previous::Replaced,
         Previous::Replaced},
        {"Program folder cannot be made (EACCES)",
         [](Stage& s) {
             s.fileSystem.mkdirError = EACCES;
             s.window.set(Field::Program, "Fresh");
         },
         1, Previous::Kept, Previous::Kept},
        {"Programi folder missing",
         [](Stage& s) { fs::remove_all(s.collection.path() / "Programi"); }, 1, Previous::Missing,
         Previous::Missing},
        {"Program folder is a symbolic link to a folder elsewhere",
         [](Stage& s) {
             const fs::path elsewhere = s.sources.path() / "elsewhere";
             fs::rename(s.collection.programFolder("Tool"), elsewhere);
             fs::create_directory_symlink(elsewhere, s.collection.programFolder("Tool"));
         },
         1, Previous::Kept, Previous::Kept},
        {"Setup file grows while it is copied",
         [](Stage& s) {
             s.fileSystem.before = [&s](std::string_view call, std::string_view path) {
                 if (call == "fstatAt" && path == "Setup.exe") {
                     std::ofstream(s.setup(), std::ios::binary | std::ios::app) << "more";
                 }
             };
         },
         1, Previous::Replaced, Previous::Kept},
        {"Catalogue read-only", [](Stage& s) { s.environment.sqliteVfs = readOnlyVfs(); }, 0,
         Previous::Kept, Previous::Kept},
        {"Catalogue locked by another process past the busy timeout",
         [](Stage& s) { s.lock = std::make_unique<LockHolder>(s.collection.database()); }, 0,
         Previous::Kept, Previous::Kept},
        {"Catalogue corrupt (table page overwritten)",
         [](Stage& s) {
             std::fstream file(s.collection.database(),
                               std::ios::in | std::ios::out | std::ios::binary);
             file.seekp(4096);
             file << std::string(4096, '\xAB');
         },
         0, Previous::Kept, Previous::Kept},
        {"Catalogue missing", [](Stage& s) { fs::remove(s.collection.database()); }, 0,
         Previous::Kept, Previous::Kept},
        {"Description of 50 characters",
         [](Stage& s) { s.window.set(Field::Opis, std::string(50, 'x')); }, 0, Previous::Kept,
         Previous::Kept},
        {"Program name blank", [](Stage& s) { s.window.set(Field::Program, "  "); }, 0,
         Previous::Kept, Previous::Kept},
        {"Program name \"..\"", [](Stage& s) { s.window.set(Field::Program, ".."); }, 0,
         Previous::Kept, Previous::Kept},
        {"Program name holding \"/\"",
         [](Stage& s) { s.window.set(Field::Program, "../../outside"); }, 0, Previous::Kept,
         Previous::Kept},
        {"Program name of 256 bytes, one more than a folder name holds",
         [](Stage& s) { s.window.set(Field::Program, std::string(256, 'n')); }, 0, Previous::Kept,
         Previous::Kept},
        {"Program name of no-break, zero-width and ideographic spaces",
         [](Stage& s) { s.window.set(Field::Program, "\u00A0\u200B\u3000"); }, 0, Previous::Kept,
         Previous::Kept},
        {"Insert ignored by a trigger (RAISE(IGNORE))",
         [](Stage&) {
             // The trigger is made on the add's own connection, the next one
             // opened, as a TEMP trigger: the catalogue file stays as it was.
             struct IgnoreInserts {
                 static int install(sqlite3* db, const char**, const sqlite3_api_routines*) {
                     sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&install));
                     sqlite3_exec(db,
                                  "CREATE TEMP TRIGGER Ignore BEFORE INSERT ON main.CD "
                                  "BEGIN SELECT RAISE(IGNORE); END",
                                  nullptr, nullptr, nullptr);
                     return SQLITE_OK;
                 }
             };
             sqlite3_auto_extension(reinterpret_cast<void (*)()>(&IgnoreInserts::install));
         },
         0, Previous::Kept, Previous::Kept},
    };
    return all;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

Previous stateOf(const fs::path& file, const std::string& oldBytes, std::size_t newSize) {
    if (!fs::exists(file)) {
        return Previous::Missing;
    }
    const std::string bytes = readFile(file);
    if (bytes == oldBytes) {
        return Previous::Kept;
    }
    // The new sources are uniform, so their size and first byte identify them.
    return bytes.size() == newSize ? Previous::Replaced : Previous::Missing;
}

std::string rowCount(const std::string& database) {
    if (!fs::exists(database)) {
        return "no catalogue";
    }
    try {
        return std::to_string(readRows(database).size());
    } catch (const std::exception&) {
        return "unreadable";
    }
}

int temporaryFiles(const fs::path& programi) {
    int count = 0;
    if (fs::exists(programi)) {
        for (const auto& entry : fs::recursive_directory_iterator(programi)) {
            const std::string name = entry.path().filename().string();
            count += isTemporaryName(name, "Picture.bmp") || isTemporaryName(name, "Setup.exe");
        }
    }
    return count;
}

std::string markdownTable(const std::vector<std::string>& rows) {
    std::string table = "| Fault or input | What the user sees | Rows in CD | Picture.bmp | "
                        "Setup.exe | Temporary files left | Handles left open |\n"
                        "|---|---|---|---|---|---|---|\n";
    for (const auto& row : rows) {
        table += row + "\n";
    }
    return table;
}

const char* const kTableStart = "<!-- table: written by reliability_tests -->\n";
const char* const kTableEnd = "<!-- end of table -->";

TEST(ReliabilityTest, EveryFaultEndsInAWholeAddOrAClearReportAndLosesNothing) {
    std::vector<std::string> rows;
    for (const Scenario& scenario : scenarios()) {
        SCOPED_TRACE(scenario.fault);
        Stage stage;
        const std::string rowsBefore = rowCount(stage.collection.database());
        const std::string databaseBefore = readFile(stage.collection.database());
        const int handlesBefore = openDescriptorCount();
        scenario.arrange(stage);
        const bool corrupt = fs::exists(stage.collection.database()) &&
                             readFile(stage.collection.database()) != databaseBefore;

        Dodaj(stage.window, stage.environment);
        stage.lock.reset();

        const std::string rowsAfter = rowCount(stage.collection.database());
        const fs::path folder = stage.collection.programFolder("Tool");
        const Previous picture =
            stateOf(folder / "Picture.bmp", kOldPicture, fs::file_size(stage.picture()));
        const Previous setup = stateOf(folder / "Setup.exe", kOldSetup, kSourceSize);
        const int temporary = temporaryFiles(stage.collection.path() / "Programi");
        const int handlesLeft = openDescriptorCount() - handlesBefore;

        EXPECT_EQ(picture, scenario.picture);
        EXPECT_EQ(setup, scenario.setup);
        EXPECT_EQ(temporary, 0);
        EXPECT_EQ(handlesLeft, 0);
        if (corrupt) {
            EXPECT_EQ(rowsAfter, "unreadable");
        } else if (rowsAfter != "no catalogue") {
            EXPECT_EQ(std::stoi(rowsAfter), std::stoi(rowsBefore) + scenario.newRows);
        }
        if (scenario.newRows == 1) {
            EXPECT_EQ(readRows(stage.collection.database()).back().opis, "Nova verzija");
        }

        std::string seen;
        for (const auto& box : stage.window.boxes()) {
            seen +=
                (seen.empty() ? "" : "<br>") + std::string("**") + box.title + "**: " + box.text;
        }
        if (seen.empty()) {
            seen = "no box; caption \"" + stage.window.captions().back() + "\"";
        }
        seen = replaceAll(seen, "\r\n", " / ");
        seen = replaceAll(seen, stage.collection.str(), "COLLECTION");
        seen = replaceAll(seen, stage.sources.str(), "SOURCES");
        seen = replaceAll(seen, "|", "\\|");
        std::ostringstream row;
        row << "| " << scenario.fault << " | " << seen << " | " << rowsBefore << " → " << rowsAfter
            << " | " << describe(picture) << " | " << describe(setup) << " | " << temporary << " | "
            << handlesLeft << " |";
        rows.push_back(row.str());
    }

    const fs::path doc = fs::path(VELMORA_SOURCE_DIR) / "docs" / "reliability.md";
    std::string text = readFile(doc);
    const std::size_t start = text.find(kTableStart);
    const std::size_t end = text.find(kTableEnd);
    ASSERT_NE(start, std::string::npos);
    ASSERT_NE(end, std::string::npos);
    const std::size_t from = start + std::string(kTableStart).size();
    const std::string observed = markdownTable(rows);
    if (std::getenv("VELMORA_UPDATE_DOCS") != nullptr) {
        text.replace(from, end - from, observed);
        writeFile(doc, text);
        return;
    }
    EXPECT_EQ(text.substr(from, end - from), observed)
        << "docs/reliability.md differs from what the tests observed";
}

} // namespace
} // namespace velmora::testing
