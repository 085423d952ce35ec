#pragma once

// Helpers shared by the item card's suites: the card and its directory editor on a fresh
// catalogue, finding controls, and typing as the operator does.

#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

namespace CardTest {

template <class T> T* control(QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QLatin1StringView(name));
    if (!widget)
        qFatal("control %s not found", name);
    return widget;
}

// Key clicks for any characters, Cyrillic included.
inline void typeText(QWidget* widget, const QString& text) {
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Types into a field as the operator would: select everything, then type over it.
inline void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    if (text.isEmpty())
        QTest::keyClick(field, Qt::Key_Delete);
    else
        typeText(field, text);
}

inline void clickButton(QWidget* window, const char* name) {
    QTest::mouseClick(control<QPushButton>(window, name), Qt::LeftButton);
}

struct Card {
    TempCatalogue catalogue;
    std::unique_ptr<TDirectoryForm> directory;
    std::unique_ptr<TKvartaEditForm> card;

    Card() {
        directory = std::make_unique<TDirectoryForm>();
        card = std::make_unique<TKvartaEditForm>(directory.get());
    }
    ~Card() {
        card.reset();
        directory.reset();
    }

    // An item whose numeric fields pass the card's checks.
    int addItem(QVariantMap columns = {}) {
        const QVariantMap numbers{{QStringLiteral("etazh"), 1},
                                  {QStringLiteral("etazhnost"), 9},
                                  {QStringLiteral("obsh_plosh"), 40.0},
                                  {QStringLiteral("stoim"), 0},
                                  {QStringLiteral("dolg"), 0}};
        for (auto it = numbers.begin(); it != numbers.end(); ++it)
            if (!columns.contains(it.key()))
                columns.insert(it.key(), it.value());
        return catalogue.addItem(columns);
    }
    QVariant scalar(const QString& sql, const QVariantList& values = {}) {
        return catalogue.scalar(sql, values);
    }

    // Opens the card on `id`, runs `action` while it shows; the action closes the card itself
    // unless `closeWithCancel`. Returns OpenForEdit's result.
    bool whileEditing(int id, const std::function<void(QWidget*)>& action, bool closeWithCancel = true) {
        bool ran = false;
        onNextModal([&](QWidget* w) {
            action(w);
            ran = true;
            if (closeWithCancel && w->isVisible())
                clickButton(w, "CancelBtn");
        });
        const bool saved = card->OpenForEdit(id);
        if (!ran)
            qFatal("the card did not open");
        return saved;
    }
    bool whileNew(const std::function<void(QWidget*)>& action, bool closeWithCancel = true) {
        bool ran = false;
        onNextModal([&](QWidget* w) {
            action(w);
            ran = true;
            if (closeWithCancel && w->isVisible())
                clickButton(w, "CancelBtn");
        });
        const bool saved = card->OpenForNew();
        if (!ran)
            qFatal("the card did not open");
        return saved;
    }
};

} // namespace CardTest
