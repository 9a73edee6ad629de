#include "cli/add/terminal_front_end.h"

#include "catalogue/application_folder.h"

namespace velmora {

TerminalFrontEnd::TerminalFrontEnd(const AddEntry& entry, std::string collection,
                                   TerminalReport& report, InterruptWatch* interrupts,
                                   std::int32_t& cancel)
    : m_entry(entry), m_collection(std::move(collection)), m_report(report),
      m_interrupts(interrupts), m_cancel(cancel) {}

std::string TerminalFrontEnd::fieldText(Field field) {
    return m_entry.text(field);
}

void TerminalFrontEnd::setCaption(std::string_view text) {
    m_report.caption(text);
}

void TerminalFrontEnd::messageBox(std::string_view text, std::string_view title) {
    m_report.message(title, text);
}

void TerminalFrontEnd::processPendingEvents() {
    if (m_interrupts != nullptr && m_interrupts->poll() != 0) {
        m_cancel = 1;
    }
}

std::string TerminalFrontEnd::applicationFolder() {
    return m_collection.empty() ? executableFolder() : m_collection;
}

void TerminalFrontEnd::copyStarting(std::string_view targetName) {
    m_report.copyStarting(targetName);
}

} // namespace velmora
