#include "AccessibleNames.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace {

bool isField(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w);
}

void nameChildren(QWidget* parent) {
    QLabel* label = nullptr;
    for (QObject* object : parent->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (!child)
            continue;
        if (auto* l = qobject_cast<QLabel*>(child)) {
            label = l->buddy() ? nullptr : l;
            continue;
        }
        if (isField(child)) {
            if (label && child->accessibleName().isEmpty())
                label->setBuddy(child);
            label = nullptr;
            continue;
        }
        if (auto* button = qobject_cast<QAbstractButton*>(child);
            button && button->text().isEmpty() && button->accessibleName().isEmpty())
            button->setAccessibleName(button->toolTip());
        nameChildren(child);
    }
}

} // namespace

namespace AccessibleNames {

void nameControls(QWidget* window) {
    nameChildren(window);
}

QString lookupButtonName(const QString& label) {
    QString name = label.trimmed();
    if (name.endsWith(u':'))
        name.chop(1);
    return QStringLiteral("Справочник «%1»").arg(name);
}

} // namespace AccessibleNames
