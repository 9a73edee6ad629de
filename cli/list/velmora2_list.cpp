// velmora2-list: what a collection's catalogue holds, as aligned text, as the
// CSV list velmora2-add reads, or as JSON lines. See --help.
#include "catalogue/application_folder.h"
#include "catalogue/failure.h"
#include "catalogue/program_files.h"
#include "catalogue/stored_entries.h"
#include "cli/add/collection_catalogue.h"
#include "cli/add/terminal_report.h"
#include "cli/list/entry_listing.h"
#include "cli/list/list_command_line.h"
#include "cli/list/search_key.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// The collection's folder as an absolute path, so the CSV form's paths hold
// wherever the list is read.
std::string absoluteFolder(const std::string& collection) {
    if (collection.empty()) {
        return velmora::executableFolder();
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(collection, error);
    std::string folder = error ? collection : absolute.string();
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

bool matches(const velmora::StoredEntry& entry, const std::string& key) {
    return velmora::searchKey(entry.program).find(key) != std::string::npos ||
           velmora::searchKey(entry.kategorija).find(key) != std::string::npos;
}

} // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    const ListCommandLine commandLine = parseListCommandLine(argc, argv);
    std::fputs(commandLine.output.c_str(), stdout);
    std::fputs(commandLine.errors.c_str(), stderr);
    if (!commandLine.options) {
        return commandLine.exitStatus;
    }
    const ListOptions& options = *commandLine.options;
    if (const std::optional<std::string> missing = missingCatalogue(options.collection)) {
        std::fprintf(stderr, "velmora2-list: %s\n", missing->c_str());
        return 2;
    }
    const std::string folder = absoluteFolder(options.collection);

    std::vector<StoredEntry> stored;
    try {
        stored = readStoredEntries(folder);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "velmora2-list: %s\n", printable(failure.description).c_str());
        return 1;
    }
    if (!options.pattern.empty()) {
        const std::string key = searchKey(options.pattern);
        std::erase_if(stored, [&](const StoredEntry& entry) { return !matches(entry, key); });
    }
    if (options.count) {
        std::printf("%zu\n", stored.size());
        return std::fflush(stdout) == 0 ? 0 : 1;
    }

    ProgramFolders folders(folder);
    std::vector<std::string_view> names;
    names.reserve(stored.size());
    for (const StoredEntry& entry : stored) {
        names.push_back(entry.program);
    }
    const std::vector<ProgramFiles> files = folders.findAll(names);
    if (!writeListing(stdout, options.format, stored, files, folders)) {
        std::fputs("velmora2-list: the list could not be written\n", stderr);
        return 1;
    }
    return 0;
}
