#pragma once

#include <QString>

class QWidget;

namespace velmora {

// The modal open-file dialog behind the two "..." buttons; a test answers it.
class FileDialog {
public:
    virtual ~FileDialog() = default;

    // Shows the dialog opened at `startAt` (a file or folder, empty for the
    // platform's choice) with a filter in Qt's "Programs (*.exe)" form. Returns
    // the chosen file's full path, or an empty string when cancelled.
    virtual QString getOpenFileName(QWidget* parent, const QString& startAt,
                                    const QString& filter) = 0;
};

// The platform's dialog, through QFileDialog.
class PlatformFileDialog final : public FileDialog {
public:
    QString getOpenFileName(QWidget* parent, const QString& startAt,
                            const QString& filter) override;
};

} // namespace velmora
