#pragma once

#include "entry_form/file_dialog.h"
#include "entry_form/window_services.h"

#include <QList>
#include <QString>
#include <functional>

namespace velmora::testing {

// Answers every message box at once and keeps what it showed.
class AnsweringServices final : public WindowServices {
public:
    struct Box {
        QString text;
        QString title;
        bool operator==(const Box&) const = default;
    };

    explicit AnsweringServices(QString folder = {}) : m_folder(std::move(folder)) {}

    void messageBox(QWidget* /*parent*/, const QString& text, const QString& title) override {
        m_boxes.append({text, title});
    }
    std::string applicationFolder() override { return m_folder.toStdString(); }

    const QList<Box>& boxes() const { return m_boxes; }

private:
    QString m_folder;
    QList<Box> m_boxes;
};

// An open-file dialog that returns the answers queued for it (an empty answer
// is a cancel) and keeps where it was asked to open and with which filter.
class AnsweringFileDialog final : public FileDialog {
public:
    struct Call {
        QString startAt;
        QString filter;
    };

    void answer(QString path) { m_answers.append(std::move(path)); }

    QString getOpenFileName(QWidget* /*parent*/, const QString& startAt,
                            const QString& filter) override {
        m_calls.append({startAt, filter});
        return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
    }

    const QList<Call>& calls() const { return m_calls; }

private:
    QList<QString> m_answers;
    QList<Call> m_calls;
};

} // namespace velmora::testing
