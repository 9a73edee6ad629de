#include "entry_form/file_picker.h"

#include "entry_form/file_dialog.h"

#include <QStringList>

namespace velmora {
namespace {

// Qt reads a filter's patterns from the last parentheses of its text, so a
// description that already ends in its own patterns is kept as it is.
QString qtFilterEntry(const QString& description, const QString& patterns) {
    QString qtPatterns = patterns.trimmed();
    qtPatterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    if (qtPatterns.isEmpty()) {
        return description;
    }
    const QString ownPatterns = QLatin1Char('(') + qtPatterns + QLatin1Char(')');
    if (description.trimmed().endsWith(ownPatterns)) {
        return description;
    }
    if (description.trimmed().isEmpty()) {
        return ownPatterns;
    }
    return description + QLatin1Char(' ') + ownPatterns;
}

} // namespace

QString toQtFilter(QStringView filter) {
    const QList<QStringView> parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i].toString();
        const QString patterns = i + 1 < parts.size() ? parts[i + 1].toString() : QString();
        if (description.isEmpty() && patterns.isEmpty()) {
            continue;
        }
        entries.append(qtFilterEntry(description, patterns));
    }
    return entries.join(QStringLiteral(";;"));
}

std::optional<QString> FilePicker::showOpen(QWidget* parent) {
    const QString chosen = m_dialog.getOpenFileName(parent, m_fileName, toQtFilter(m_filter));
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    m_fileName = chosen;
    return chosen;
}

} // namespace velmora
