#include "entry_form/form_accessibility.h"

#include "entry_form/form_add.h"
#include "entry_form/separator_line.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLineEdit>

namespace velmora {
namespace {

// A combo box as Qt presents it (its list and its text field as children, its
// text as value, the action that opens the list), but named by its accessible
// name when it has one. Qt's own class for this is private, so it cannot be
// derived from; this keeps to what that class does.
class NamedComboBox final : public QAccessibleWidget {
public:
    explicit NamedComboBox(QComboBox* box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    int childCount() const override { return comboBox()->isEditable() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override {
        if (index == 0) {
            return QAccessible::queryAccessibleInterface(comboBox()->view());
        }
        if (index == 1 && comboBox()->isEditable()) {
            return QAccessible::queryAccessibleInterface(comboBox()->lineEdit());
        }
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (child->object() == comboBox()->view()) {
            return 0;
        }
        if (comboBox()->isEditable() && child->object() == comboBox()->lineEdit()) {
            return 1;
        }
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override {
        if (comboBox()->isEditable() && comboBox()->lineEdit()->rect().contains(
                                            comboBox()->lineEdit()->mapFromGlobal(QPoint(x, y)))) {
            return child(1);
        }
        return nullptr;
    }

    QString text(QAccessible::Text t) const override {
        switch (t) {
        case QAccessible::Name:
            return comboBox()->accessibleName().isEmpty() ? value() : comboBox()->accessibleName();
        case QAccessible::Value:
            return value();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = comboBox()->view()->isVisible();
        s.editable = comboBox()->isEditable();
        return s;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }

    void doAction(const QString& actionName) override {
        if (actionName != showMenuAction() && actionName != pressAction()) {
            return;
        }
        if (comboBox()->view()->isVisible()) {
            comboBox()->hidePopup();
        } else {
            comboBox()->showPopup();
        }
    }

    QStringList keyBindingsForAction(const QString& /*actionName*/) const override { return {}; }

private:
    QComboBox* comboBox() const { return static_cast<QComboBox*>(widget()); }
    QString value() const {
        return comboBox()->isEditable() ? comboBox()->lineEdit()->text()
                                        : comboBox()->currentText();
    }
};

QAccessibleInterface* formInterface(const QString& className, QObject* object) {
    auto* const widget = qobject_cast<QWidget*>(object);
    if (widget == nullptr) {
        return nullptr;
    }
    if (className == QLatin1String(FormAdd::staticMetaObject.className())) {
        // Named by its caption, as Qt names any window without an accessible name.
        return new QAccessibleWidget(widget, QAccessible::Window);
    }
    if (className == QLatin1String(SeparatorLine::staticMetaObject.className())) {
        return new QAccessibleWidget(widget, QAccessible::Separator);
    }
    if (className == QLatin1String(QComboBox::staticMetaObject.className())) {
        return new NamedComboBox(static_cast<QComboBox*>(widget));
    }
    // Anything else: Qt's own interfaces.
    return nullptr;
}

} // namespace

void installFormAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(formInterface);
        return true;
    }();
    static_cast<void>(installed);
}

} // namespace velmora
