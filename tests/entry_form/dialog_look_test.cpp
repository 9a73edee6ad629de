// The program's own message boxes and file dialog, as the real application
// shows them: in the form's font, with buttons that carry no icon.
#include "entry_form/entry_application.h"
#include "entry_form/file_dialog.h"
#include "entry_form/form_font.h"
#include "entry_form/window_services.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace velmora;

namespace {

// What a modal dialog looked like while it was open.
struct Look {
    QString dialogClass;
    QFont font;
    QFont textFont;
    QStringList buttons;
    int buttonsWithIcons = 0;
};

// Runs `show`, which opens a modal dialog and waits for it; notes the
// dialog's look and closes it, so nothing waits for a user.
Look lookOfModal(const std::function<void()>& show, const char* textName) {
    Look look;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        poll.stop();
        look.dialogClass = QString::fromLatin1(dialog->metaObject()->className());
        look.font = dialog->font();
        if (auto* text = dialog->findChild<QWidget*>(QString::fromLatin1(textName))) {
            look.textFont = text->font();
        }
        for (auto* box : dialog->findChildren<QDialogButtonBox*>()) {
            for (auto* button : box->buttons()) {
                look.buttons.append(button->text());
                look.buttonsWithIcons += button->icon().isNull() ? 0 : 1;
            }
        }
        dialog->reject();
    });
    poll.start(10);
    show();
    return look;
}

void verifyFormFont(const QFont& font) {
    QCOMPARE(font.family(), QStringLiteral("Tahoma"));
    QCOMPARE(font.pointSizeF(), 8.25);
    QCOMPARE(font.weight(), QFont::Normal);
    if (QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
    }
}

} // namespace

class DialogLookTest : public QObject {
    Q_OBJECT

private slots:
    void messageBox();
    void fileDialog();
};

void DialogLookTest::messageBox() {
    PlatformWindowServices services;
    const Look look = lookOfModal(
        [&] {
            services.messageBox(nullptr, QStringLiteral("BROJ: 5\r\nOPIS: database is locked"),
                                QStringLiteral("GRESKA"));
        },
        "qt_msgbox_label");
    QCOMPARE(look.dialogClass, QStringLiteral("QMessageBox"));
    verifyFormFont(look.font);
    verifyFormFont(look.textFont);
    QCOMPARE(look.buttons.size(), 1);
    QCOMPARE(look.buttonsWithIcons, 0);
}

void DialogLookTest::fileDialog() {
    PlatformFileDialog dialog;
    const Look look = lookOfModal(
        [&] { dialog.getOpenFileName(nullptr, QString(), QStringLiteral("Programs (*.exe)")); },
        "fileNameLabel");
    QCOMPARE(look.dialogClass, QStringLiteral("QFileDialog"));
    verifyFormFont(look.font);
    verifyFormFont(look.textFont);
    QCOMPARE(look.buttons.size(), 2);
    QCOMPARE(look.buttonsWithIcons, 0);
}

// The application object is the program's own, which sets font and style.
int main(int argc, char** argv) {
    EntryApplication application(argc, argv);
    DialogLookTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "dialog_look_test.moc"
