#pragma once

#include "cli/add/add_entry.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <string>
#include <vector>

namespace velmora {

// Runs the add operation once per entry, in order, into `collection` (empty:
// the folder that holds the executable), reporting each entry and then the
// summary. A refused or failed entry does not stop the rest; SIGINT or SIGTERM
// seen by `interrupts` cancels the copy under way and skips the rest.
// Returns the exit status: 0 when every entry was added without a message, 1
// when any was refused or failed, 128 + the signal's number when interrupted.
int addEntries(const std::vector<AddEntry>& entries, const std::string& collection,
               TerminalReport& report, InterruptWatch* interrupts);

} // namespace velmora
