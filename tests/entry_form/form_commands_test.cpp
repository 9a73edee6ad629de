// The five commands: Novi, the two file pickers, Izlaz, and Dodaj into a real
// temporary collection.
#include "catalogue/add_operation.h"
#include "cli/init/collection_init.h"
#include "entry_form/file_picker.h"
#include "entry_form/form_add.h"
#include "tests/support/form_fixture.h"
#include "tests/support/temp_collection.h"
#include "tests/support/typing.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

using namespace velmora;
using velmora::testing::FormFixture;
using velmora::testing::readFile;
using velmora::testing::readRows;
using velmora::testing::Row;
using velmora::testing::typeInto;
using velmora::testing::writeFile;

namespace {

// The rows of the catalogue in `folder`.
std::vector<Row> catalogueRows(const QString& folder) {
    return readRows(QDir(folder).filePath(QStringLiteral("Velmora2.db")).toStdString());
}

} // namespace

class FormCommandsTest : public QObject, private FormFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void filterConversion_data();
    void filterConversion();
    void pickerRemembersItsOwnFile();

    void noviRestoresTheStart();
    void pickWritesTheChosenPath_data();
    void pickWritesTheChosenPath();
    void cancelKeepsTheBox_data();
    void cancelKeepsTheBox();
    void izlazClosesTheWindow();

    void dodajStoresTheTypedEntry();
    void dodajShowsTheAddsMessage();
};

void FormCommandsTest::init() {
    setUp();
    QVERIFY(initCollection(m_collection->path().toStdString()).ok());
    makeForm();
}

void FormCommandsTest::cleanup() {
    tearDown();
}

void FormCommandsTest::filterConversion_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("qt");
    QTest::newRow("setup") << "Programs (*.exe)|*.exe"
                           << "Programs (*.exe)";
    QTest::newRow("picture") << "Windows Bitmap (*.bmp)|*.bmp"
                             << "Windows Bitmap (*.bmp)";
    QTest::newRow("description without patterns") << "Programs|*.exe"
                                                  << "Programs (*.exe)";
    QTest::newRow("several patterns") << "Pictures|*.bmp;*.dib"
                                      << "Pictures (*.bmp *.dib)";
    QTest::newRow("two entries") << "Programs (*.exe)|*.exe|All files|*.*"
                                 << "Programs (*.exe);;All files (*.*)";
    QTest::newRow("other patterns in the text") << "Programs (*.com)|*.exe"
                                                << "Programs (*.com) (*.exe)";
    QTest::newRow("empty") << ""
                           << "";
}

void FormCommandsTest::filterConversion() {
    QFETCH(QString, filter);
    QFETCH(QString, qt);
    QCOMPARE(toQtFilter(filter), qt);
}

// Opens at the last file chosen; a cancel neither returns nor forgets it.
void FormCommandsTest::pickerRemembersItsOwnFile() {
    FilePicker picker(*m_dialog);
    picker.setFilter(QStringLiteral("Programs (*.exe)|*.exe"));
    m_dialog->answer(QStringLiteral("/media/cd/setup.exe"));
    QCOMPARE(picker.showOpen(nullptr),
             std::optional<QString>(QStringLiteral("/media/cd/setup.exe")));
    m_dialog->answer(QString());
    QCOMPARE(picker.showOpen(nullptr), std::nullopt);
    QCOMPARE(picker.fileName(), QStringLiteral("/media/cd/setup.exe"));

    QCOMPARE(m_dialog->calls().size(), 2);
    QCOMPARE(m_dialog->calls()[0].startAt, QString());
    QCOMPARE(m_dialog->calls()[0].filter, QStringLiteral("Programs (*.exe)"));
    QCOMPARE(m_dialog->calls()[1].startAt, QStringLiteral("/media/cd/setup.exe"));
}

void FormCommandsTest::noviRestoresTheStart() {
    typeInto(child<QLineEdit>("Program"), QStringLiteral("Arhiver"));
    typeInto(child<QLineEdit>("Opis"), QStringLiteral("Sažima datoteke"));
    typeInto(child<QLineEdit>("Source"), QStringLiteral("/a/setup.exe"));
    typeInto(child<QLineEdit>("Slika"), QStringLiteral("/a/slika.bmp"));
    typeInto(child<QLineEdit>("OS"), QStringLiteral("skriveno"));
    child<QComboBox>("Kategorija")->setCurrentIndex(4);
    typeInto(child<QComboBox>("Kategorija")->lineEdit(), QStringLiteral("x"));
    m_form->setCaption("100% Complete");

    QTest::mouseClick(child<QPushButton>("Command3"), Qt::LeftButton);

    QCOMPARE(m_form->windowTitle(), QStringLiteral("Velmora 2.0 ADD New Program"));
    for (const char* name : {"Program", "Opis", "Source", "Slika"}) {
        QVERIFY2(child<QLineEdit>(name)->text().isEmpty(), name);
    }
    QCOMPARE(child<QComboBox>("Kategorija")->currentText(), QStringLiteral("CDDVD"));
    QCOMPARE(child<QLineEdit>("OS")->text(), QStringLiteral("skriveno"));
}

void FormCommandsTest::pickWritesTheChosenPath_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("filter");
    QTest::newRow("setup") << "Command4"
                           << "Source"
                           << "Programs (*.exe)";
    QTest::newRow("picture") << "Command5"
                             << "Slika"
                             << "Windows Bitmap (*.bmp)";
}

// The chosen path goes into its box unchanged; each button remembers its own.
void FormCommandsTest::pickWritesTheChosenPath() {
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, filter);
    const QString chosen = QStringLiteral("/mnt/cd/Moj program/Šifra 1.dat");
    m_dialog->answer(chosen);
    QTest::mouseClick(m_form->findChild<QPushButton*>(button), Qt::LeftButton);
    QCOMPARE(m_form->findChild<QLineEdit*>(box)->text(), chosen);
    QCOMPARE(m_dialog->calls().size(), 1);
    QCOMPARE(m_dialog->calls()[0].filter, filter);

    // The other button has not seen this file.
    const char* other = button == QLatin1String("Command4") ? "Command5" : "Command4";
    QTest::mouseClick(child<QPushButton>(other), Qt::LeftButton);
    QCOMPARE(m_dialog->calls()[1].startAt, QString());
    QTest::mouseClick(m_form->findChild<QPushButton*>(button), Qt::LeftButton);
    QCOMPARE(m_dialog->calls()[2].startAt, chosen);
}

void FormCommandsTest::cancelKeepsTheBox_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("chosenBefore");
    QTest::newRow("setup, first use") << "Command4"
                                      << "Source" << false;
    QTest::newRow("setup, after a choice") << "Command4"
                                           << "Source" << true;
    QTest::newRow("picture, first use") << "Command5"
                                        << "Slika" << false;
    QTest::newRow("picture, after a choice") << "Command5"
                                             << "Slika" << true;
}

// What stands in the box (typed since the last choice) survives a cancel.
void FormCommandsTest::cancelKeepsTheBox() {
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(bool, chosenBefore);
    auto* pick = m_form->findChild<QPushButton*>(button);
    auto* edit = m_form->findChild<QLineEdit*>(box);
    if (chosenBefore) {
        m_dialog->answer(QStringLiteral("/first/choice"));
        QTest::mouseClick(pick, Qt::LeftButton);
    }
    edit->clear();
    typeInto(edit, QStringLiteral("/typed/by hand"));
    m_dialog->answer(QString());
    QTest::mouseClick(pick, Qt::LeftButton);
    QCOMPARE(edit->text(), QStringLiteral("/typed/by hand"));
}

void FormCommandsTest::izlazClosesTheWindow() {
    QTest::mouseClick(child<QPushButton>("Command2"), Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
    QVERIFY(m_services->boxes().isEmpty());
}

// Typed, not set: the row holds what the keys made, the files are copied, the
// fields keep their text and the caption the last percentage.
void FormCommandsTest::dodajStoresTheTypedEntry() {
    const QString sources = m_collection->filePath(QStringLiteral("izvor"));
    QVERIFY(QDir().mkpath(sources));
    writeFile((sources + "/setup.exe").toStdString(), std::string(70001, 's'));
    writeFile((sources + "/slika.bmp").toStdString(), std::string(3001, 'b'));

    typeInto(child<QLineEdit>("Program"), QStringLiteral("Čitač 2"));
    typeInto(child<QLineEdit>("Opis"), QStringLiteral("Čita sve, brzo"));
    typeInto(child<QLineEdit>("Source"), sources + "/setup.exe");
    typeInto(child<QLineEdit>("Slika"), sources + "/slika.bmp");
    QLineEdit* category = child<QComboBox>("Kategorija")->lineEdit();
    category->selectAll();
    typeInto(category, QStringLiteral("Uslužni"));

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);

    QVERIFY(m_services->boxes().isEmpty());
    const std::vector<Row> expected = {{"Uslužni", "Čitač 2", "Čita sve, brzo"}};
    QVERIFY(catalogueRows(m_collection->path()) == expected);
    const QString folder = m_collection->filePath(QStringLiteral("Programi/Čitač 2"));
    QVERIFY(readFile((folder + "/Setup.exe").toStdString()) == std::string(70001, 's'));
    QVERIFY(readFile((folder + "/Picture.bmp").toStdString()) == std::string(3001, 'b'));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("100% Complete"));
    QCOMPARE(child<QLineEdit>("Program")->text(), QStringLiteral("Čitač 2"));
    QVERIFY(!m_form->isAddRunning());
}

// The add's refusal of a long description reaches the user as a critical box
// through the window, and nothing is stored.
void FormCommandsTest::dodajShowsTheAddsMessage() {
    child<QLineEdit>("Program")->setText(QStringLiteral("Program"));
    child<QLineEdit>("Opis")->setText(QString(50, QChar(u'ž')));
    child<QLineEdit>("Source")->setText(QStringLiteral("/a/setup.exe"));
    child<QLineEdit>("Slika")->setText(QStringLiteral("/a/slika.bmp"));

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);

    QCOMPARE(m_services->boxes().size(), 1);
    QCOMPARE(m_services->boxes()[0].title, QStringLiteral("Greška"));
    QCOMPARE(m_services->boxes()[0].text,
             QStringLiteral("Molimo skratite opis. Maksimalno 49 karaktera!"));
    QVERIFY(catalogueRows(m_collection->path()).empty());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Velmora 2.0 ADD New Program"));
}

QTEST_MAIN(FormCommandsTest)
#include "form_commands_test.moc"
