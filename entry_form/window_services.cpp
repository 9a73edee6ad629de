#include "entry_form/window_services.h"

#include "catalogue/application_folder.h"

#include <QMessageBox>

namespace velmora {

void PlatformWindowServices::messageBox(QWidget* parent, const QString& text,
                                        const QString& title) {
    // The add's texts break lines with CR LF; a label shows a bare CR as a glyph.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(QMessageBox::Critical, title, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::string PlatformWindowServices::applicationFolder() {
    return executableFolder();
}

} // namespace velmora
