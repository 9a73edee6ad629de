// Fuzzes the whole add operation: arbitrary bytes become the five fields of an
// entry (invalid UTF-8, NUL bytes, separators and dot names included), run
// against a real collection. Every run must end in exactly one of: a refusal
// with nothing written; one new row equal to the three texts with both files
// equal to their sources; one new row with its file failures reported.
#include "catalogue/add_operation.h"
#include "cli/init/collection_init.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_collection.h"

#include <cstdlib>
#include <filesystem>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using velmora::Field;
using velmora::testing::readFile;
using velmora::testing::RecordingWindow;
using velmora::testing::Row;

// One collection and one folder of sources for the whole run, on a RAM disk
// where there is one, so that SQLite's syncs cost little.
struct Sandbox {
    fs::path root;
    fs::path collection;
    fs::path sources;

    Sandbox() {
        const fs::path base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path();
        std::string pattern = (base / "velmora-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        root = pattern;
        collection = root / "collection";
        sources = root / "sources";
        fs::create_directories(sources);
        if (!velmora::initCollection(collection.string()).ok()) {
            std::abort();
        }
        velmora::testing::writeFile(sources / "empty.bin", "");
        velmora::testing::writeFile(sources / "small.bin", "MZ small setup");
        velmora::testing::writeFile(sources / "large.bin", std::string(300'000, 'L'));
    }
    ~Sandbox() { fs::remove_all(root); }
};

Sandbox& sandbox() {
    static Sandbox instance;
    return instance;
}

// "@0", "@1", "@2" name the prepared sources; anything else is taken as a
// path below the sources folder, so "../" can still lead anywhere.
std::string sourcePath(const std::string& fuzzed) {
    static const std::map<std::string, std::string> named = {
        {"@0", "empty.bin"}, {"@1", "small.bin"}, {"@2", "large.bin"}};
    const auto found = named.find(fuzzed);
    return (sandbox().sources / (found != named.end() ? found->second : fuzzed)).string();
}

// Every file below `root` with its size and modification time.
std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>>
snapshot(const fs::path& root) {
    std::map<std::string, std::pair<std::uintmax_t, fs::file_time_type>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        // A folder's own time changes with every file made and removed in it
        // (SQLite's journal, for one); only files' contents count.
        if (entry.is_regular_file()) {
            files[entry.path().string()] = {entry.file_size(), entry.last_write_time()};
        } else {
            files[entry.path().string()] = {};
        }
    }
    return files;
}

bool isRefusal(const std::string& text) {
    return text == velmora::texts::kDescriptionTooLong || text == velmora::texts::kFieldMissing ||
           text == velmora::texts::kBadProgramName ||
           text.rfind(velmora::texts::kSourceUnusable, 0) == 0;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Sandbox& box = sandbox();
    FuzzedDataProvider provider(data, size);
    const std::string kategorija = provider.ConsumeRandomLengthString(4096);
    const std::string program = provider.ConsumeRandomLengthString(4096);
    const std::string opis = provider.ConsumeRandomLengthString(4096);
    const std::string source = sourcePath(provider.ConsumeRandomLengthString(512));
    const std::string slika = sourcePath(provider.ConsumeRandomLengthString(512));

    const fs::path programi = box.collection / "Programi";
    const std::vector<Row> rowsBefore =
        velmora::testing::readRows((box.collection / "Velmora2.db").string());
    const auto before = snapshot(box.root);

    RecordingWindow window(box.collection.string());
    window.setEntry(kategorija, program, opis, source, slika);
    velmora::Dodaj(window);

    const std::vector<Row> rowsAfter =
        velmora::testing::readRows((box.collection / "Velmora2.db").string());
    const auto after = snapshot(box.root);
    const auto& boxes = window.boxes();

    // Nothing outside Programi changes but the catalogue itself.
    for (const auto& [path, stamp] : after) {
        const bool inProgrami =
            path == programi.string() || startsWith(path, (programi.string() + "/").c_str());
        const bool isCatalogue = path == (box.collection / "Velmora2.db").string();
        if (!inProgrami && !isCatalogue) {
            const auto old = before.find(path);
            if (old == before.end() || old->second != stamp) {
                std::fprintf(stderr, "%s\n", path.c_str());
            }
            check(old != before.end() && old->second == stamp, "a file outside Programi changed");
        }
    }
    for (const auto& [path, stamp] : before) {
        check(after.count(path) == 1, "a file disappeared");
    }

    if (boxes.size() == 1 && isRefusal(boxes[0].text)) {
        check(rowsAfter == rowsBefore, "a refused entry stored a row");
        check(after == before, "a refused entry wrote a file");
        return 0;
    }
    check(rowsAfter.size() == rowsBefore.size() + 1, "not exactly one new row");
    check(rowsAfter.back() == (Row{kategorija, program, opis}), "the row differs from the entry");
    const fs::path folder = programi / program;
    check(folder.parent_path() == programi, "the program folder is not inside Programi");
    if (boxes.empty()) {
        // A path that a NUL cuts short names another file: it must fail.
        check(source.find('\0') == std::string::npos && slika.find('\0') == std::string::npos,
              "a path holding a NUL was copied");
        check(readFile(folder / "Picture.bmp") == readFile(slika), "Picture.bmp differs");
        check(readFile(folder / "Setup.exe") == readFile(source), "Setup.exe differs");
    } else {
        for (const auto& shown : boxes) {
            check(shown.title == "Greška" &&
                      (startsWith(shown.text, velmora::texts::kCopyFailed) ||
                       startsWith(shown.text, velmora::texts::kFolderNotMade)),
                  "an unexpected box");
        }
    }
    for (const auto& entry : fs::directory_iterator(folder.parent_path())) {
        if (entry.is_directory()) {
            for (const auto& file : fs::directory_iterator(entry.path())) {
                const std::string name = file.path().filename().string();
                check(name == "Picture.bmp" || name == "Setup.exe",
                      "a stray file in a program folder");
            }
        }
    }
    // Start every input from an empty Programi.
    for (const auto& entry : fs::directory_iterator(programi)) {
        fs::remove_all(entry.path());
    }
    return 0;
}
