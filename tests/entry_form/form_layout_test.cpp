// The window as the user first meets it: controls, fonts, focus order and the
// category list.
#include "entry_form/form_add.h"
#include "entry_form/form_font.h"
#include "entry_form/separator_line.h"
#include "tests/support/form_fixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using namespace velmora;
using velmora::testing::FormFixture;

class FormLayoutTest : public QObject, private FormFixture {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshWindow();
    void control_data();
    void control();
    void lines_data();
    void lines();
    void tabVisitsTheOrderAndComesBack();
    void categoryListInStoredOrder();
    void typedCategoryIsKept();
    void enterPressesOnlyAFocusedButton_data();
    void enterPressesOnlyAFocusedButton();
    void osLiesOutsideTheWindow();

private:
    QWidget* focusOwner() const;

    int m_adds = 0;
};

void FormLayoutTest::init() {
    setUp();
    m_adds = 0;
    makeForm([this](EntryWindow&) { ++m_adds; });
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
}

void FormLayoutTest::cleanup() {
    tearDown();
}

// The control that has the focus, the combo box for its own line edit.
QWidget* FormLayoutTest::focusOwner() const {
    QWidget* focus = QApplication::focusWidget();
    if (focus != nullptr && qobject_cast<QComboBox*>(focus->parentWidget()) != nullptr) {
        return focus->parentWidget();
    }
    return focus;
}

void FormLayoutTest::freshWindow() {
    QCOMPARE(m_form->objectName(), QStringLiteral("ADD"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Velmora 2.0 ADD New Program"));
    for (const char* name : {"Program", "Opis", "Source", "Slika", "OS"}) {
        QVERIFY2(child<QLineEdit>(name)->text().isEmpty(), name);
    }
    QCOMPARE(child<QComboBox>("Kategorija")->currentText(), QStringLiteral("CDDVD"));
    QCOMPARE(focusOwner(), child<QWidget>("Kategorija"));
    QVERIFY(!m_form->windowIcon().isNull());
    QCOMPARE(m_form->windowIcon().availableSizes().value(0), QSize(16, 16));
}

// The Part's table in twips; the window is laid out at 15 twips a pixel.
void FormLayoutTest::control_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("twips");
    // What a screen reader calls the control.
    QTest::addColumn<QString>("accessibleName");

    const auto row = [](const char* name, const char* kind, const char* text, int left, int top,
                        int width, int height, const char* accessibleName) {
        QTest::newRow(name) << QString::fromLatin1(kind) << QString::fromUtf8(text)
                            << QRect(left, top, width, height) << QString::fromUtf8(accessibleName);
    };
    const char* const button = "velmora::CommandButton";
    row("Label1", "QLabel", "Program:", 120, 120, 735, 255, "Program:");
    row("Program", "QLineEdit", "", 120, 360, 3975, 315, "Program");
    row("Label3", "QLabel", "Opis:", 120, 720, 735, 255, "Opis:");
    row("Opis", "QLineEdit", "", 120, 960, 3975, 315, "Opis");
    row("Label6", "QLabel", "Source:", 120, 1560, 735, 255, "Source:");
    row("Source", "QLineEdit", "", 120, 1800, 3495, 315, "Source");
    row("Command4", button, "...", 3720, 1800, 375, 315, "Izaberi Source");
    row("Label7", "QLabel", "Slika:", 120, 2160, 735, 255, "Slika:");
    row("Slika", "QLineEdit", "", 120, 2400, 3495, 315, "Slika");
    row("Command5", button, "...", 3720, 2400, 375, 315, "Izaberi Sliku");
    row("Label4", "QLabel", "Kategorija:", 120, 2880, 855, 255, "Kategorija:");
    row("Kategorija", "QComboBox", "CDDVD", 120, 3120, 3975, 315, "Kategorija");
    row("Command3", button, "Novi", 120, 3720, 1215, 375, "Novi");
    row("ButtonADD", button, "Dodaj", 1440, 3720, 1335, 375, "Dodaj");
    row("Command2", button, "Izlaz", 2880, 3720, 1215, 375, "Izlaz");
    row("OS", "QLineEdit", "", 120, 5880, 6375, 375, "");
}

void FormLayoutTest::control() {
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QRect, twips);
    QFETCH(QString, accessibleName);

    auto* widget = child<QWidget>(QTest::currentDataTag());
    QVERIFY(widget != nullptr);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible != nullptr);
    if (accessible->role() == QAccessible::ComboBox) {
        // Qt on Unix reports a combo box's value as its name; its text field
        // and its label relation name it.
        QCOMPARE(accessible->relations(QAccessible::Label).value(0).first->text(QAccessible::Name),
                 accessibleName + QLatin1Char(':'));
        for (int i = 0; i < accessible->childCount(); ++i) {
            if (accessible->child(i)->role() == QAccessible::EditableText) {
                accessible = accessible->child(i);
            }
        }
        QCOMPARE(accessible->role(), QAccessible::EditableText);
    }
    QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
    QCOMPARE(widget->geometry(),
             QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        QCOMPARE(label->text(), text);
        QVERIFY(label->alignment().testFlag(Qt::AlignLeft));
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        QCOMPARE(edit->text(), text);
        QVERIFY(!edit->isReadOnly());
        QVERIFY(edit->maxLength() > 100000);
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QCOMPARE(button->text(), text);
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        QCOMPARE(combo->currentText(), text);
        QVERIFY(combo->isEditable());
    }

    const QFont font = widget->font();
    QCOMPARE(font.pointSizeF(), 8.25);
    QCOMPARE(font.weight(), QFont::Normal);
    QVERIFY(!font.italic());
    QVERIFY(!font.underline());
    QVERIFY(!font.strikeOut());
    QCOMPARE(font.family(), QStringLiteral("Tahoma"));
    if (QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) {
        // The face really used, not merely the name asked for.
        QCOMPARE(QFontInfo(font).family(), QStringLiteral("Tahoma"));
    }
}

void FormLayoutTest::lines_data() {
    QTest::addColumn<int>("y");
    QTest::newRow("Line1") << 1440;
    QTest::newRow("Line2") << 3600;
}

// From (120, y) to (4080, y): one pixel high, light grey, drawn.
void FormLayoutTest::lines() {
    QFETCH(int, y);
    auto* line = child<SeparatorLine>(QTest::currentDataTag());
    QVERIFY(line != nullptr);
    QCOMPARE(line->geometry(), QRect(8, y / 15, (4080 - 120) / 15, 1));
    QCOMPARE(line->focusPolicy(), Qt::NoFocus);
    const QImage image = m_form->grab().toImage();
    QCOMPARE(QColor(image.pixel(8, y / 15)), QColor(192, 192, 192));
    QCOMPARE(QColor(image.pixel(271, y / 15)), QColor(192, 192, 192));
    QVERIFY(QColor(image.pixel(272, y / 15)) != QColor(192, 192, 192));
}

void FormLayoutTest::tabVisitsTheOrderAndComesBack() {
    const QStringList order = {"Opis",    "ButtonADD", "Command2",  "Command3",
                               "Source",  "Slika",     "Command4",  "Command5",
                               "Program", "OS",        "Kategorija"};
    for (const QString& expected : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(focusOwner()->objectName(), expected);
    }
    // And back the same way with Shift+Tab.
    for (qsizetype i = order.size() - 2; i >= 0; --i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(focusOwner()->objectName(), order[i]);
    }
}

void FormLayoutTest::categoryListInStoredOrder() {
    auto* combo = child<QComboBox>("Kategorija");
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) {
        entries.append(combo->itemText(i));
    }
    QCOMPARE(entries, (QStringList{"CDDVD", "Igre", "Internet", "Multimedija", "Ostalo",
                                   "Programiranje", "Usluzni", "Sigurnost", "Windows"}));
    QCOMPARE(combo->insertPolicy(), QComboBox::NoInsert);
}

// A category not in the list is taken as typed, never completed to an entry,
// and never joins the list, even after Enter.
void FormLayoutTest::typedCategoryIsKept() {
    auto* combo = child<QComboBox>("Kategorija");
    QLineEdit* edit = combo->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("Win"));
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(combo->currentText(), QStringLiteral("Win"));
    QCOMPARE(m_form->fieldText(Field::Kategorija), std::string("Win"));
    QCOMPARE(combo->count(), 9);
}

// Return and keypad Enter press the button that has the focus, and only it;
// typed in a field they press none.
void FormLayoutTest::enterPressesOnlyAFocusedButton_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("isButton");
    const auto rows = [](const char* control, bool isButton) {
        QTest::newRow(QByteArray(control).append(" Return").constData())
            << static_cast<int>(Qt::Key_Return) << isButton;
        QTest::newRow(QByteArray(control).append(" Enter").constData())
            << static_cast<int>(Qt::Key_Enter) << isButton;
    };
    for (const char* field : {"Program", "Opis", "Source", "Slika", "Kategorija", "OS"}) {
        rows(field, false);
    }
    for (const char* button : {"ButtonADD", "Command2", "Command3", "Command4", "Command5"}) {
        rows(button, true);
    }
}

void FormLayoutTest::enterPressesOnlyAFocusedButton() {
    QFETCH(int, key);
    QFETCH(bool, isButton);
    const QString name = QString::fromLatin1(QTest::currentDataTag()).section(' ', 0, 0);
    QWidget* target = m_form->findChild<QWidget*>(name);
    if (auto* combo = qobject_cast<QComboBox*>(target)) {
        target = combo->lineEdit();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(target)) {
        edit->setText(QStringLiteral("x"));
    }
    target->setFocus();

    QList<std::shared_ptr<QSignalSpy>> spies;
    const QList<QPushButton*> buttons = m_form->findChildren<QPushButton*>();
    for (auto* button : buttons) {
        spies.append(std::make_shared<QSignalSpy>(button, &QPushButton::clicked));
    }
    const Qt::KeyboardModifiers modifiers =
        key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
    QTest::keyClick(target, static_cast<Qt::Key>(key), modifiers);

    for (qsizetype i = 0; i < buttons.size(); ++i) {
        QCOMPARE(spies[i]->count(), buttons[i] == target ? 1 : 0);
    }
    QCOMPARE(m_adds, name == QLatin1String("ButtonADD") ? 1 : 0);
    if (!isButton) {
        QVERIFY(m_form->isVisible());
        QCOMPARE(static_cast<QLineEdit*>(target)->text(), QStringLiteral("x"));
    }
}

// Fixed at 281 x 281: OS starts far below the client area and never shows.
void FormLayoutTest::osLiesOutsideTheWindow() {
    QCOMPARE(m_form->size(), QSize(281, 281));
    QCOMPARE(m_form->minimumSize(), QSize(281, 281));
    QCOMPARE(m_form->maximumSize(), QSize(281, 281));
    QVERIFY(!m_form->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!m_form->rect().intersects(child<QWidget>("OS")->geometry()));
    QVERIFY(child<QWidget>("OS")->visibleRegion().isEmpty());
}

QTEST_MAIN(FormLayoutTest)
#include "form_layout_test.moc"
