// The last resort: a failure that escapes a command is shown with its number
// and description, and the program ends with a failing status.
#include "catalogue/failure.h"
#include "entry_form/unhandled_failure.h"
#include "tests/support/child_process.h"

#include <QTest>
#include <stdexcept>

using namespace velmora;

class UnhandledFailureTest : public QObject {
    Q_OBJECT

private slots:
    void description_data();
    void description();
    void programEnds_data();
    void programEnds();
};

namespace {

std::exception_ptr thrown(const QString& kind) {
    try {
        if (kind == QLatin1String("failure")) {
            throw Failure{-2147217865, "Tablica ne postoji"};
        }
        if (kind == QLatin1String("standard")) {
            throw std::runtime_error("disk je pun");
        }
        throw 7;
    } catch (...) {
        return std::current_exception();
    }
}

} // namespace

void UnhandledFailureTest::description_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("failure") << "failure"
                             << "BROJ: -2147217865\nOPIS: Tablica ne postoji";
    QTest::newRow("standard")
        << "standard" << QString("BROJ: %1\nOPIS: disk je pun").arg(kStandardExceptionNumber);
    QTest::newRow("other")
        << "other" << QString("BROJ: %1\nOPIS: Nepoznata greška").arg(kUnknownExceptionNumber);
}

void UnhandledFailureTest::description() {
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(failureText(describeFailure(thrown(kind)), "\n")), text);
}

void UnhandledFailureTest::programEnds_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("shown");
    QTest::newRow("failure") << "failure" << kUnhandledFailureExitStatus
                             << "GRESKA\nBROJ: -2147217865\nOPIS: Tablica ne postoji\n";
    QTest::newRow("standard")
        << "standard" << kUnhandledFailureExitStatus
        << QString("GRESKA\nBROJ: %1\nOPIS: disk je pun\n").arg(kStandardExceptionNumber);
    QTest::newRow("other")
        << "other" << kUnhandledFailureExitStatus
        << QString("GRESKA\nBROJ: %1\nOPIS: Nepoznata greška\n").arg(kUnknownExceptionNumber);
    // Izlaz and the title bar's close end the program quietly and well.
    QTest::newRow("izlaz") << "izlaz" << 0 << "";
    QTest::newRow("close") << "close" << 0 << "";
}

void UnhandledFailureTest::programEnds() {
    QFETCH(QString, kind);
    QFETCH(int, status);
    QFETCH(QString, shown);
    const testing::ChildResult probe =
        testing::runChild({VELMORA_FAILURE_PROBE, kind.toStdString(), "-platform", "offscreen"});
    QCOMPARE(probe.status, status);
    QCOMPARE(QString::fromStdString(probe.output), shown);
}

QTEST_GUILESS_MAIN(UnhandledFailureTest)
#include "unhandled_failure_test.moc"
