// velmora2-add: the add of Velmora2ADD from a terminal, for one entry given
// as options or for every row of a CSV list. See --help.
#include "cli/add/add_command_line.h"
#include "cli/add/batch_add.h"
#include "cli/add/csv_entries.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

std::size_t terminalWidth() {
    winsize size{};
    return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    const CommandLine commandLine = parseCommandLine(argc, argv);
    std::fputs(commandLine.output.c_str(), stdout);
    std::fputs(commandLine.errors.c_str(), stderr);
    if (!commandLine.options) {
        return commandLine.exitStatus;
    }
    const AddOptions& options = *commandLine.options;

    std::vector<AddEntry> entries;
    if (options.csvFile) {
        // Read whole before anything is added: a list with a fault of form
        // adds nothing. Signals keep their default action until then, so
        // Ctrl-C ends a wait on standard input.
        CsvEntries list = readCsvEntries(*options.csvFile);
        if (!list.ok()) {
            std::fprintf(stderr, "velmora2-add: %s\n", printable(list.error).c_str());
            return kBadArguments;
        }
        entries = std::move(list.entries);
    } else {
        entries.push_back(options.entry);
    }

    const bool terminal = isatty(STDERR_FILENO) != 0;
    const OutputMode mode = options.quiet ? OutputMode::Quiet
                            : terminal    ? OutputMode::Live
                                          : OutputMode::Lines;
    TerminalReport report(stderr, mode, static_cast<int>(entries.size()),
                          terminal ? terminalWidth() : 0);
    // Before the first add, and so before any thread that a copy may start.
    InterruptWatch interrupts;
    return addEntries(entries, options.collection, report, &interrupts);
}
