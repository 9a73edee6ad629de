#pragma once

#include "cli/add/add_entry.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/progress_report.h"

#include <string>
#include <vector>

namespace velmora {

// The exit status when the report could not be written to the end.
inline constexpr int kReportLost = 3;

// Runs the add operation once per entry, in order, into `collection` (empty:
// the folder that holds the executable), reporting each entry and then the
// summary. A refused or failed entry does not stop the rest; SIGINT, SIGTERM
// or SIGHUP seen by `interrupts` cancels the copy under way and skips the
// rest; a report that can no longer be written skips the rest once the entry
// under way is finished. Returns the exit status: 0 when every entry was added
// without a message, 1 when any was refused or failed, kReportLost when the
// report was lost, 128 + the signal's number when interrupted.
int addEntries(const std::vector<AddEntry>& entries, const std::string& collection,
               ProgressReport& report, InterruptWatch* interrupts);

} // namespace velmora
