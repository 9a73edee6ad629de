#include "entry_form/file_dialog.h"

#include <QFileDialog>

namespace velmora {

QString PlatformFileDialog::getOpenFileName(QWidget* parent, const QString& startAt,
                                            const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), startAt, filter);
}

} // namespace velmora
