#pragma once

#include <QString>
#include <QStringView>
#include <optional>

class QWidget;

namespace velmora {

class FileDialog;

// Turns a filter of "description|pattern" pairs ("Programs (*.exe)|*.exe",
// several patterns joined by ";") into Qt's "Programs (*.exe)" form, pairs
// joined by ";;".
QString toQtFilter(QStringView filter);

// One file picker of the window: holds its filter and the last file chosen
// with it, and opens there the next time. Lives as long as the window.
class FilePicker {
public:
    explicit FilePicker(FileDialog& dialog) : m_dialog(dialog) {}

    void setFilter(const QString& filter) { m_filter = filter; }

    // Shows the dialog; the chosen file, or nothing when cancelled. A cancel
    // keeps the remembered file.
    std::optional<QString> showOpen(QWidget* parent);
    // The last file chosen, empty until the first choice.
    const QString& fileName() const { return m_fileName; }

private:
    FileDialog& m_dialog;
    QString m_filter;
    QString m_fileName;
};

} // namespace velmora
