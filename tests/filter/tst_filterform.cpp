#include "Dialogs.h"
#include "Schema.h"
#include "TDirectoryForm.h"
#include "TKvartaFilterForm.h"
#include "TestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <memory>

using namespace Qt::StringLiterals;
using Dialogs::Answer;

namespace {

const QString Marker = u"<Не фильтровать>"_s;

struct Fixture {
    TempCatalogue catalogue;
    std::unique_ptr<TDirectoryForm> directory;
    std::unique_ptr<TKvartaFilterForm> filter;

    Fixture() {
        DialogsTestSeam::clear();
        catalogue.addEntries(u"rajony"_s, {u"Центр"_s, u"Север"_s});
        catalogue.addEntries(u"grupy"_s, {u"Эконом"_s, u"Элит"_s});
        catalogue.addEntries(u"komnaty"_s, {u"2"_s, u"1"_s});
        directory = std::make_unique<TDirectoryForm>();
        filter = std::make_unique<TKvartaFilterForm>(directory.get());
    }
    ~Fixture() {
        filter.reset();
        directory.reset();
        DialogsTestSeam::clear();
    }

    QComboBox* combo(const QString& name) const { return filter->findChild<QComboBox*>(name); }
    QAbstractButton* button(QWidget* window, const QString& name) const {
        return window->findChild<QAbstractButton*>(name);
    }
    QString criterion(const QString& key) const { return filter->criteria().GetCriterion(key); }
    // Opens the window; `inside` runs while it is shown and must close it.
    bool open(const std::function<void(QWidget*)>& inside) {
        onNextModal(inside);
        return filter->EditCriteria();
    }
    void choose(const QString& comboName, const QString& text) const {
        QComboBox* c = combo(comboName);
        c->setCurrentIndex(c->findText(text));
    }
};

QStringList items(const QComboBox* c) {
    QStringList texts;
    for (int i = 0; i < c->count(); ++i)
        texts << c->itemText(i);
    return texts;
}

} // namespace

class TestFilterForm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowAsDesigned() {
        Fixture f;
        QCOMPARE(f.filter->windowTitle(), u"Карточка элемента"_s);
        QCOMPARE(f.filter->size(), QSize(504, 505));
        QVERIFY(!(f.filter->windowFlags() & Qt::WindowMaximizeButtonHint));
        auto* pages = f.filter->findChild<QTabWidget*>();
        QCOMPARE(pages->count(), 4);
        QCOMPARE(pages->currentIndex(), 0);
        for (const LookupBinding& b : LookupBindings) {
            QVERIFY(f.combo(QString::fromLatin1(b.control)));
            QVERIFY(!f.combo(QString::fromLatin1(b.control))->isEditable());
            QVERIFY(f.button(f.filter.get(), QString::fromLatin1(b.button)));
        }
        for (const char* name : {"PloshadEdit", "EtazhEdit", "EtazhnostEdit", "StoimostEdit", "DolgEdit"})
            QVERIFY(!f.filter->findChild<QLineEdit*>(QLatin1StringView(name))->isEnabled());
        QCOMPARE(f.filter->criteria().BuildWhereClause(), QString());
    }

    void okStoresShownTextsAndReopenShowsThem() {
        Fixture f;
        QStringList rajonRows;
        QVERIFY(f.open([&](QWidget* w) {
            rajonRows = items(f.combo(u"RajonCB"_s));
            f.choose(u"RajonCB"_s, u"Север"_s);
            f.choose(u"KomnataCB"_s, u"2"_s);
            f.button(w, u"OkBtn"_s)->click();
        }));
        QCOMPARE(rajonRows, QStringList({Marker, u"Север"_s, u"Центр"_s}));
        QCOMPARE(f.criterion(u"rajon"_s), u"Север"_s);
        QCOMPARE(f.criterion(u"komnoty"_s), u"2"_s);
        QCOMPARE(f.criterion(u"grupa"_s), Marker);
        QCOMPARE(f.filter->criteria().BuildWhereClause(), u" where  rajon=:rajon  and  komnoty=:komnoty "_s);

        QString shown;
        QVERIFY(f.open([&](QWidget* w) {
            shown = f.combo(u"RajonCB"_s)->currentText() + u'|' + f.combo(u"KomnataCB"_s)->currentText() +
                    u'|' + f.combo(u"GrupaCB"_s)->currentText();
            f.button(w, u"OkBtn"_s)->click();
        }));
        QCOMPARE(shown, u"Север|2|"_s + Marker);
    }

    void cancelKeepsCriteria_data() {
        QTest::addColumn<int>("how");
        QTest::newRow("button") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }
    void cancelKeepsCriteria() {
        QFETCH(int, how);
        Fixture f;
        f.filter->criteria().SetCriterion(u"grupa"_s, u"Элит"_s);
        QVERIFY(!f.open([&](QWidget* w) {
            f.choose(u"GrupaCB"_s, u"Эконом"_s);
            f.choose(u"RajonCB"_s, u"Центр"_s);
            if (how == 0)
                f.button(w, u"CancelBtn"_s)->click();
            else if (how == 1)
                pressInActiveWindow(w, Qt::Key_Escape);
            else
                w->close();
        }));
        QCOMPARE(f.criterion(u"grupa"_s), u"Элит"_s);
        QCOMPARE(f.criterion(u"rajon"_s), Marker);
    }

    void resetThenOkDropsEverything() {
        Fixture f;
        f.filter->criteria().SetCriterion(u"grupa"_s, u"Элит"_s);
        f.filter->criteria().SetCriterion(u"rajon"_s, u"Центр"_s);
        QString grupaShown;
        QVERIFY(!f.open([&](QWidget* w) {
            grupaShown = f.combo(u"GrupaCB"_s)->currentText();
            f.button(w, u"BitBtn1"_s)->click();
            f.button(w, u"CancelBtn"_s)->click();
        }));
        QCOMPARE(grupaShown, u"Элит"_s);
        QCOMPARE(f.filter->criteria().BuildWhereClause(), u" where  rajon=:rajon  and  grupa=:grupa "_s);

        QVERIFY(f.open([&](QWidget* w) {
            f.button(w, u"BitBtn1"_s)->click();
            f.button(w, u"OkBtn"_s)->click();
        }));
        QCOMPARE(f.filter->criteria().BuildWhereClause(), QString());
    }

    void storedValueInOtherCaseSelectsEntry() {
        Fixture f;
        f.catalogue.addEntries(u"rajony"_s, {u"Ёлкино"_s});
        f.filter->criteria().SetCriterion(u"rajon"_s, u"ЁЛКИНО"_s);
        f.filter->criteria().SetCriterion(u"grupa"_s, u"элит"_s);
        QString shown;
        QVERIFY(f.open([&](QWidget* w) {
            shown = f.combo(u"RajonCB"_s)->currentText() + u'|' + f.combo(u"GrupaCB"_s)->currentText();
            f.button(w, u"OkBtn"_s)->click();
        }));
        QCOMPARE(shown, u"Ёлкино|Элит"_s);
        QCOMPARE(f.criterion(u"rajon"_s), u"Ёлкино"_s);
        QCOMPARE(f.criterion(u"grupa"_s), u"Элит"_s);
    }

    void vanishedValueShowsMarkerAndOkClearsIt() {
        Fixture f;
        f.filter->criteria().SetCriterion(u"rajon"_s, u"Исчезнувший"_s);
        QString shown;
        QVERIFY(f.open([&](QWidget* w) {
            shown = f.combo(u"RajonCB"_s)->currentText();
            f.button(w, u"OkBtn"_s)->click();
        }));
        QCOMPARE(shown, Marker);
        QCOMPARE(f.criterion(u"rajon"_s), Marker);
    }

    // The lookup button opens the directory editor on its table and reselects the former text.
    void editLookupReselectsExactText() {
        Fixture f;
        QString chapter, afterAdd, afterRename;
        QStringList rowsAfterAdd;
        QVERIFY(!f.open([&](QWidget* w) {
            f.choose(u"RajonCB"_s, u"Север"_s);
            onNextModal([&](QWidget* editor) {
                chapter = editor->findChild<QLabel*>(u"ChapterLabel"_s)->text();
                DialogsTestSeam::queueAnswer(Answer::Ok, u"Запад"_s);
                editor->findChild<QAbstractButton*>(u"AddBtn"_s)->click();
                pressInActiveWindow(editor, Qt::Key_Escape);
            });
            f.button(w, u"SpeedButton1"_s)->click();
            afterAdd = f.combo(u"RajonCB"_s)->currentText();
            rowsAfterAdd = items(f.combo(u"RajonCB"_s));

            // Changing only the letter case loses the selection.
            f.catalogue.exec(u"update rajony set naimen='север' where naimen='Север'"_s);
            onNextModal([](QWidget* editor) { editor->findChild<QAbstractButton*>(u"OkBtn"_s)->click(); });
            f.button(w, u"SpeedButton1"_s)->click();
            afterRename = f.combo(u"RajonCB"_s)->currentText();
            f.button(w, u"CancelBtn"_s)->click();
        }));
        QCOMPARE(chapter, u"Районы"_s);
        QCOMPARE(afterAdd, u"Север"_s);
        QCOMPARE(rowsAfterAdd, QStringList({Marker, u"Запад"_s, u"Север"_s, u"Центр"_s}));
        QCOMPARE(afterRename, Marker);
        QCOMPARE(f.criterion(u"rajon"_s), Marker);
    }

    void ctrlEnterActsAsOk() {
        Fixture f;
        QVERIFY(f.open([&](QWidget*) {
            f.choose(u"GrupaCB"_s, u"Эконом"_s);
            f.combo(u"GrupaCB"_s)->setFocus();
            QTest::keyClick(f.combo(u"GrupaCB"_s), Qt::Key_Return, Qt::ControlModifier);
        }));
        QCOMPARE(f.criterion(u"grupa"_s), u"Эконом"_s);
    }

    void failedNumberCheckKeepsWindowOpen() {
        Fixture f;
        bool stillOpen = false;
        QVERIFY(!f.open([&](QWidget* w) {
            w->findChild<QLineEdit*>(u"EtazhnostEdit"_s)->setText(u"девять"_s);
            w->findChild<QLineEdit*>(u"DolgEdit"_s)->setText(u"x"_s);
            f.choose(u"GrupaCB"_s, u"Эконом"_s);
            DialogsTestSeam::queueAnswer(Answer::Ok);
            f.button(w, u"OkBtn"_s)->click();
            stillOpen = w->isVisible();
            f.button(w, u"CancelBtn"_s)->click();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Error);
        QCOMPARE(DialogsTestSeam::last().text, u"Этажность не является числом."_s);
        QCOMPARE(f.criterion(u"grupa"_s), Marker);
        // The next opening presets the fields again, so OK passes.
        QVERIFY(f.open([&](QWidget* w) { f.button(w, u"OkBtn"_s)->click(); }));
    }

    void pageIsKeptBetweenOpenings() {
        Fixture f;
        auto* pages = f.filter->findChild<QTabWidget*>();
        QVERIFY(!f.open([&](QWidget* w) {
            pages->setCurrentIndex(2);
            f.button(w, u"CancelBtn"_s)->click();
        }));
        int shownPage = -1;
        QVERIFY(!f.open([&](QWidget* w) {
            shownPage = pages->currentIndex();
            f.button(w, u"CancelBtn"_s)->click();
        }));
        QCOMPARE(shownPage, 2);
    }

    void refusedLookupIsReportedAndWindowStaysClosed() {
        Fixture f;
        f.filter->criteria().SetCriterion(u"gaz"_s, u"Есть"_s);
        f.catalogue.exec(u"drop table gazy"_s);
        DialogsTestSeam::queueAnswer(Answer::Ok);
        // A window shown here would be an unexpected modal window: the test support fails on it.
        QVERIFY(!f.filter->EditCriteria());
        QVERIFY(!f.filter->isVisible());
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(f.criterion(u"gaz"_s), u"Есть"_s);
    }
};

QTEST_MAIN(TestFilterForm)
#include "tst_filterform.moc"
