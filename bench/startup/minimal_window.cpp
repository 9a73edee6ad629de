// The baseline for the start-up benchmark: the least a Qt Widgets program
// does to show a titled window of the same size.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Minimal Qt Widgets window"));
    window.setFixedSize(281, 281);
    window.show();
    return QApplication::exec();
}
