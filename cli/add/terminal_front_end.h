#pragma once

#include "catalogue/entry_window.h"
#include "cli/add/add_entry.h"
#include "cli/add/interrupt_watch.h"
#include "cli/add/terminal_report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// The add's window on a terminal: the fields are one entry's texts, the
// caption and the message boxes go to the progress report, and letting
// pending events run means looking for an ending signal, which sets the
// cancel flag that the copies read, and following the terminal's width
// (SIGWINCH). A refused path that holds "\" gets a hint: lists made on
// Windows separate folders with it.
class TerminalFrontEnd final : public EntryWindow {
public:
    // `collection` empty: the folder that holds the executable, read anew at
    // each use as the window reads it. `interrupts` may be null.
    TerminalFrontEnd(const AddEntry& entry, std::string collection, TerminalReport& report,
                     InterruptWatch* interrupts, std::int32_t& cancel);

    std::string fieldText(Field field) override;
    void setCaption(std::string_view text) override;
    void messageBox(std::string_view text, std::string_view title) override;
    void processPendingEvents() override;
    std::string applicationFolder() override;
    void copyStarting(std::string_view targetName) override;

private:
    const AddEntry& m_entry;
    std::string m_collection;
    TerminalReport& m_report;
    InterruptWatch* m_interrupts;
    std::int32_t& m_cancel;
};

} // namespace velmora
