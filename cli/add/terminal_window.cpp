#include "cli/add/terminal_window.h"

#include "catalogue/application_folder.h"

namespace velmora {

TerminalWindow::TerminalWindow(const AddEntry& entry, std::string collection,
                               ProgressReport& report, InterruptWatch* interrupts,
                               std::int32_t& cancel)
    : m_entry(entry), m_collection(std::move(collection)), m_report(report),
      m_interrupts(interrupts), m_cancel(cancel) {}

std::string TerminalWindow::fieldText(Field field) {
    return m_entry.text(field);
}

void TerminalWindow::setCaption(std::string_view text) {
    m_report.caption(text);
}

void TerminalWindow::messageBox(std::string_view text, std::string_view title) {
    m_report.message(title, text);
}

void TerminalWindow::processPendingEvents() {
    if (m_interrupts != nullptr && m_interrupts->poll() != 0) {
        m_cancel = 1;
    }
}

std::string TerminalWindow::applicationFolder() {
    return m_collection.empty() ? executableFolder() : m_collection;
}

void TerminalWindow::copyStarting(std::string_view targetName) {
    m_report.copyStarting(targetName);
}

} // namespace velmora
