// While an add runs the window repaints and shows its caption, but takes no
// input; a close asked for meanwhile happens when the add has returned.
#include "catalogue/add_operation.h"
#include "cli/init/collection_init.h"
#include "entry_form/form_add.h"
#include "entry_form/session_end_watch.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/files.h"
#include "tests/support/form_fixture.h"
#include "tests/support/typing.h"

#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <optional>

using namespace velmora;
using velmora::testing::Click;
using velmora::testing::FormFixture;
using velmora::testing::postClick;
using velmora::testing::postTyping;
using velmora::testing::readFile;
using velmora::testing::writeFile;

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
        }
        return false;
    }
};

} // namespace

class AddReentryTest : public QObject, private FormFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void postedInputWorksOutsideAnAdd();
    void inputDuringAnAddChangesNothing();
    void sessionEndDuringAnAddCancelsItAndCloses_data();
    void sessionEndDuringAnAddCancelsItAndCloses();
    void windowRepaintsDuringAnAdd();
    void closeDuringAnAddWaitsForItsEnd_data();
    void closeDuringAnAddWaitsForItsEnd();
    void realCopyIgnoresInputMeanwhile();
    void clickAfterTheLastEventPassStartsNoSecondAdd();
    void clickDuringTheFinalFlushStartsNoSecondAdd();

private:
    // A form whose "Dodaj" counts the adds and runs `add`.
    void makeForm(AddAction add);
    // Posts a click on every button but Izlaz and typing into every field.
    void postEverything();

    int m_adds = 0;
};

void AddReentryTest::init() {
    setUp();
    m_adds = 0;
}

void AddReentryTest::cleanup() {
    tearDown();
}

void AddReentryTest::makeForm(AddAction add) {
    FormFixture::makeForm([this, add = std::move(add)](EntryWindow& window) {
        ++m_adds;
        add(window);
    });
}

void AddReentryTest::postEverything() {
    for (const char* name : {"ButtonADD", "Command3", "Command4", "Command5"}) {
        postClick(child<QWidget>(name));
    }
    for (const char* name : {"Program", "Opis", "Source", "Slika"}) {
        postTyping(child<QWidget>(name), QStringLiteral("x"));
    }
    postTyping(child<QComboBox>("Kategorija")->lineEdit(), QStringLiteral("x"));
}

// The posted events themselves do reach the controls when no add runs, so the
// tests below see the blocking, not a fault of the events.
void AddReentryTest::postedInputWorksOutsideAnAdd() {
    makeForm([](EntryWindow&) {});
    m_form->setCaption("100% Complete");
    postTyping(child<QWidget>("Opis"), QStringLiteral("ab"));
    QCoreApplication::processEvents();
    QCOMPARE(child<QLineEdit>("Opis")->text(), QStringLiteral("ab"));
    postClick(child<QWidget>("Command3"));
    QCoreApplication::processEvents();
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Velmora 2.0 ADD New Program"));
    postClick(child<QWidget>("ButtonADD"));
    QCoreApplication::processEvents();
    QCOMPARE(m_adds, 1);
}

void AddReentryTest::inputDuringAnAddChangesNothing() {
    QString captionDuring;
    makeForm([&](EntryWindow& window) {
        postEverything();
        // Clicks as the window system delivers them, which would give focus
        // before any filter sees them.
        for (const char* name : {"Program", "Opis", "Kategorija", "Slika", "Command3"}) {
            QTest::mouseClick(child<QWidget>(name), Qt::LeftButton);
        }
        window.setCaption("42% Complete");
        window.processPendingEvents();
        captionDuring = m_form->windowTitle();
    });
    child<QLineEdit>("Program")->setText(QStringLiteral("Arhiver"));

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);

    QCOMPARE(m_adds, 1);
    QCOMPARE(captionDuring, QStringLiteral("42% Complete"));
    // Novi did not run, no dialog opened, nothing typed.
    QCOMPARE(m_form->windowTitle(), QStringLiteral("42% Complete"));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_dialog->calls().isEmpty());
    QCOMPARE(child<QLineEdit>("Program")->text(), QStringLiteral("Arhiver"));
    for (const char* name : {"Opis", "Source", "Slika"}) {
        QVERIFY2(child<QLineEdit>(name)->text().isEmpty(), name);
    }
    QCOMPARE(child<QComboBox>("Kategorija")->currentText(), QStringLiteral("CDDVD"));
    // The focus stayed on the button that started the add.
    QCOMPARE(m_form->focusWidget(), child<QWidget>("ButtonADD"));
    // Nothing was greyed out, and input works again afterwards.
    QVERIFY(child<QWidget>("ButtonADD")->isEnabled());
    QTest::keyClicks(child<QLineEdit>("Opis"), QStringLiteral("ok"));
    QCOMPARE(child<QLineEdit>("Opis")->text(), QStringLiteral("ok"));
    QTest::mouseClick(child<QWidget>("Slika"), Qt::LeftButton);
    QCOMPARE(m_form->focusWidget(), child<QWidget>("Slika"));
    QVERIFY(!m_form->isAddRunning());
}

// A signal that ends the session (SIGTERM, SIGHUP, Ctrl-C's SIGINT, Ctrl-\'s
// SIGQUIT, any other that would end the program) during an add reaches the
// window through its events: the
// copies' cancel flag is set, a box the add shows then goes unseen, and the
// window closes once the add has returned.
void AddReentryTest::sessionEndDuringAnAddCancelsItAndCloses_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGQUIT") << SIGQUIT;
    QTest::newRow("SIGUSR1") << SIGUSR1;
}

void AddReentryTest::sessionEndDuringAnAddCancelsItAndCloses() {
    QFETCH(int, signal);
    SessionEndWatch watch;
    bool cancelled = false;
    makeForm([&](EntryWindow& window) {
        ::raise(signal);
        for (int i = 0; i < 100 && m_form->cancelFlag() == 0; ++i) {
            window.processPendingEvents();
        }
        cancelled = m_form->cancelFlag() != 0;
        window.messageBox("Kopiranje nije uspjelo!", "Greška");
    });
    connect(&watch, &SessionEndWatch::ended, m_form.get(), &FormAdd::endSession);

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);

    QVERIFY(cancelled);
    QCOMPARE(watch.received(), signal);
    QVERIFY(m_services->boxes().isEmpty());
    QVERIFY(!m_form->isVisible());
}

void AddReentryTest::windowRepaintsDuringAnAdd() {
    PaintCounter counter;
    makeForm([&](EntryWindow& window) {
        child<QWidget>("Program")->installEventFilter(&counter);
        child<QWidget>("Program")->update();
        window.processPendingEvents();
        child<QWidget>("Program")->removeEventFilter(&counter);
    });
    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);
    QVERIFY(counter.count > 0);
}

// A close asked for by the window system, or by a click on Izlaz, during the
// add leaves the window standing until the add returns, then closes it: one
// request, one outcome.
void AddReentryTest::closeDuringAnAddWaitsForItsEnd_data() {
    QTest::addColumn<bool>("byIzlaz");
    QTest::newRow("title bar") << false;
    QTest::newRow("Izlaz") << true;
}

void AddReentryTest::closeDuringAnAddWaitsForItsEnd() {
    QFETCH(bool, byIzlaz);
    bool visibleAfterClose = false;
    makeForm([&](EntryWindow& window) {
        if (byIzlaz) {
            postClick(child<QWidget>("Command2"));
        } else {
            QMetaObject::invokeMethod(m_form.get(), &QWidget::close, Qt::QueuedConnection);
        }
        window.processPendingEvents();
        visibleAfterClose = m_form->isVisible();
    });
    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);
    QVERIFY(visibleAfterClose);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_adds, 1);
}

// The real add with a copy that reports after every small chunk: Novi, typing
// and a second Dodaj posted during the picture copy are not seen, so the setup
// file lands beside the picture, in the folder of the stored row.
void AddReentryTest::realCopyIgnoresInputMeanwhile() {
    QVERIFY(initCollection(m_collection->path().toStdString()).ok());
    const QString sources = m_collection->filePath(QStringLiteral("izvor"));
    QVERIFY(QDir().mkpath(sources));
    const std::string setup(200000, 's');
    const std::string picture(50000, 'b');
    writeFile((sources + "/setup.exe").toStdString(), setup);
    writeFile((sources + "/slika.bmp").toStdString(), picture);

    // The picture's data waits until the input posted at its start has had
    // its chance to arrive.
    testing::FaultyFileSystem fileSystem;
    fileSystem.holdCall = "copyFileRange";
    std::atomic<bool> posted{false};
    fileSystem.before = [&](std::string_view call, std::string_view) {
        if (call == "copyFileRange" && !posted.exchange(true)) {
            QMetaObject::invokeMethod(this, [this] { postEverything(); });
        }
    };
    QStringList captions;
    makeForm([&](EntryWindow& window) {
        QTimer::singleShot(150, [&] { fileSystem.release(); });
        Dodaj(window, AddEnvironment{&fileSystem, nullptr});
    });
    connect(m_form.get(), &QWidget::windowTitleChanged, this,
            [&](const QString& title) { captions.append(title); });
    child<QLineEdit>("Program")->setText(QStringLiteral("Arhiver"));
    child<QLineEdit>("Opis")->setText(QStringLiteral("Sažima"));
    child<QLineEdit>("Source")->setText(sources + "/setup.exe");
    child<QLineEdit>("Slika")->setText(sources + "/slika.bmp");

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);

    QCOMPARE(m_adds, 1);
    QVERIFY(m_services->boxes().isEmpty());
    QVERIFY(m_form->isVisible());
    QVERIFY(captions.size() >= 4);
    QVERIFY(!captions.contains(QStringLiteral("Velmora 2.0 ADD New Program")));
    QCOMPARE(captions.last(), QStringLiteral("100% Complete"));
    QCOMPARE(child<QLineEdit>("Program")->text(), QStringLiteral("Arhiver"));
    const QString folder = m_collection->filePath(QStringLiteral("Programi/Arhiver"));
    QVERIFY(readFile((folder + "/Setup.exe").toStdString()) == setup);
    QVERIFY(readFile((folder + "/Picture.bmp").toStdString()) == picture);
    QCOMPARE(QDir(m_collection->filePath(QStringLiteral("Programi")))
                 .entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Arhiver")});
}

// A click that the window system delivers after the add's last pass through
// the events is drained while input is still blocked, never delivered after.
void AddReentryTest::clickAfterTheLastEventPassStartsNoSecondAdd() {
    makeForm([this](EntryWindow& window) {
        window.processPendingEvents();
        postClick(child<QWidget>("ButtonADD"));
    });
    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(m_adds, 1);
}

// A click on "Dodaj" while a replacing copy is flushed to the disk: the
// window goes on answering, and the click starts no second add.
void AddReentryTest::clickDuringTheFinalFlushStartsNoSecondAdd() {
    const QString collection = m_collection->path();
    QVERIFY(initCollection(collection.toStdString()).ok());
    QVERIFY(QDir(collection).mkpath(QStringLiteral("Programi/Tool")));
    for (const char* name :
         {"/Programi/Tool/Setup.exe", "/Programi/Tool/Picture.bmp", "/setup.exe", "/slika.bmp"}) {
        writeFile((collection + QLatin1String(name)).toStdString(), std::string(100000, name[1]));
    }
    testing::FaultyFileSystem fileSystem;
    std::optional<Click> click;
    std::atomic<int> clicks{0};
    fileSystem.before = [&](std::string_view call, std::string_view) {
        if (call == "fsync") {
            click->post();
            ++clicks;
        }
    };
    makeForm([&](EntryWindow& window) { Dodaj(window, AddEnvironment{&fileSystem, nullptr}); });
    click.emplace(child<QWidget>("ButtonADD"));
    child<QLineEdit>("Program")->setText(QStringLiteral("Tool"));
    child<QLineEdit>("Source")->setText(collection + "/setup.exe");
    child<QLineEdit>("Slika")->setText(collection + "/slika.bmp");

    QTest::mouseClick(child<QPushButton>("ButtonADD"), Qt::LeftButton);
    QCoreApplication::processEvents();

    QCOMPARE(clicks.load(), 2);
    QCOMPARE(m_adds, 1);
    QVERIFY(m_services->boxes().isEmpty());
    QCOMPARE(m_form->windowTitle(), QStringLiteral("100% Complete"));
}

QTEST_MAIN(AddReentryTest)
#include "add_reentry_test.moc"
