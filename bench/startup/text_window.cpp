// The yardstick for the start-up benchmark: a Qt Widgets window of the same
// size with a label, a line edit and a button, the least a real form shows.
// Its text makes Qt load fonts, as any form's does.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Text window"));
    window.setFixedSize(281, 281);
    auto* label = new QLabel(QStringLiteral("Program:"), &window);
    label->setGeometry(8, 8, 49, 17);
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(8, 24, 265, 21);
    auto* button = new QPushButton(QStringLiteral("Dodaj"), &window);
    button->setGeometry(96, 248, 89, 25);
    window.show();
    return QApplication::exec();
}
