// velmora2-add: the add of Velmora2ADD from a terminal, for one entry given
// as options or for every row of a CSV list. See --help.
#include "catalogue/application_folder.h"
#include "catalogue/failure.h"
#include "catalogue/stored_entries.h"
#include "catalogue/windows_name.h"
#include "cli/add/add_command_line.h"
#include "cli/add/batch_add.h"
#include "cli/add/collection_catalogue.h"
#include "cli/add/csv_entries.h"
#include "cli/add/display_width.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <csignal>
#include <cstdio>
#include <optional>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <utility>

int main(int argc, char** argv) {
    using namespace velmora;
    // A reader that goes away (a closed terminal, "| head") makes writes
    // fail, which the report notices, instead of killing an entry midway.
    std::signal(SIGPIPE, SIG_IGN);
    // Past the file size limit a write fails with EFBIG, which the copy
    // reports and cleans up after, instead of ending the run midway.
    std::signal(SIGXFSZ, SIG_IGN);
    const CommandLine commandLine = parseCommandLine(argc, argv);
    std::fputs(commandLine.output.c_str(), stdout);
    std::fputs(commandLine.errors.c_str(), stderr);
    if (!commandLine.options) {
        return commandLine.exitStatus;
    }
    const AddOptions& options = *commandLine.options;
    if (const std::optional<std::string> missing = missingCatalogue(options.collection)) {
        std::fprintf(stderr, "velmora2-add: %s\n", missing->c_str());
        return kBadArguments;
    }

    // A list's whole form is checked before anything is added: a list with a
    // fault of form adds nothing. Signals keep their default action until
    // then, so Ctrl-C ends a wait on standard input.
    std::optional<CsvList> list;
    if (options.csvFile) {
        list.emplace(*options.csvFile, options.encoding);
        if (!list->ok()) {
            std::fprintf(stderr, "velmora2-add: %s\n", printable(list->error()).c_str());
            return kBadArguments;
        }
    }
    std::optional<AddEntry> single;
    if (!list) {
        single = options.entry;
    }
    const int count = list ? list->size() : 1;
    int handedOut = 0;
    const auto nextEntry = [&]() -> std::optional<AddEntry> {
        std::optional<AddEntry> next = list ? list->next() : std::exchange(single, std::nullopt);
        handedOut += next ? 1 : 0;
        return next;
    };

    BatchSettings settings;
    settings.dryRun = options.dryRun;
    std::unordered_set<std::string> catalogued;
    if (options.skipExisting) {
        const std::string folder =
            options.collection.empty() ? executableFolder() : options.collection;
        try {
            for (const StoredEntry& stored : readStoredEntries(folder)) {
                catalogued.insert(windowsNameKey(stored.program));
            }
        } catch (const Failure& failure) {
            std::fprintf(stderr, "velmora2-add: the catalogue's names cannot be read: %s\n",
                         printable(failure.description).c_str());
            return 1;
        }
        settings.catalogued = &catalogued;
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    const OutputMode mode = options.quiet ? OutputMode::Quiet
                            : terminal    ? OutputMode::Live
                                          : OutputMode::Lines;
    TerminalReport report(stderr, stdout, options.json ? ResultFormat::Json : ResultFormat::Text,
                          mode, count, terminal ? terminalColumns(STDERR_FILENO) : 0);
    // Before the first add, and so before any thread that a copy may start.
    InterruptWatch interrupts;
    const int status =
        addEntries(count, nextEntry, options.collection, report, &interrupts, settings);
    if (list && !list->ok()) {
        std::fprintf(stderr, "velmora2-add: %s\n", printable(list->error()).c_str());
        // Exit status 2 says that nothing was added; once an entry has been
        // tried, a list cut short is a failure among entries.
        if (handedOut == 0) {
            return kBadArguments;
        }
        return status == 0 ? 1 : status;
    }
    return status;
}
