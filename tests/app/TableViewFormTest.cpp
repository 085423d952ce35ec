#include "IniFile.h"
#include "TTableViewForm.h"
#include "TestSupport.h"

#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

class TableViewFormTest : public QObject {
    Q_OBJECT

    static QListWidget* list(TTableViewForm& f) { return f.findChild<QListWidget*>(u"CheckListBox1"_s); }
    static QToolButton* down(TTableViewForm& f) { return f.findChild<QToolButton*>(u"SpeedButton1"_s); }
    static QToolButton* up(TTableViewForm& f) { return f.findChild<QToolButton*>(u"SpeedButton2"_s); }
    static void select(TTableViewForm& f, int row) {
        QListWidget* l = list(f);
        QTest::mouseClick(l->viewport(), Qt::LeftButton, {}, l->visualItemRect(l->item(row)).center());
    }

private Q_SLOTS:
    void windowAsLaidOut() {
        TempCatalogue cat(false);
        TTableViewForm f;
        QCOMPARE(f.windowTitle(), u"Настройка вида таблицы"_s);
        QCOMPARE(f.size(), QSize(337, 370));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QCOMPARE(list(f)->geometry(), QRect(8, 8, 281, 313));
        QCOMPARE(down(f)->toolTip(), u"Переместить вниз"_s);
        QCOMPARE(up(f)->toolTip(), u"Перемистить вверх"_s);
        auto* ok = f.findChild<QPushButton*>(u"OkBtn"_s);
        auto* cancel = f.findChild<QPushButton*>(u"CancelBtn"_s);
        QCOMPARE(ok->text(), u"OK"_s);
        QCOMPARE(ok->toolTip(), u"Ctrl + Enter"_s);
        QCOMPARE(cancel->text(), u"Отмена"_s);
        QCOMPARE(cancel->toolTip(), u"Esc"_s);
        QCOMPARE(ok->geometry(), QRect(32, 328, 105, 33));
        QCOMPARE(cancel->geometry(), QRect(176, 328, 105, 33));
    }

    void withoutFileOffersAllUntickedAndMoveRulesHold() {
        TempCatalogue cat(false);
        TTableViewForm f;
        bool accepted = true;
        onNextModal([&](QWidget* w) {
            auto* form = qobject_cast<TTableViewForm*>(w);
            QVERIFY(form);
            QListWidget* l = list(*form);
            QCOMPARE(l->count(), 22);
            QCOMPARE(l->item(0)->text(), u"Дата рег."_s);
            QCOMPARE(l->item(21)->text(), u"Долг"_s);
            for (int i = 0; i < 22; ++i)
                QCOMPARE(l->item(i)->checkState(), Qt::Unchecked);
            QVERIFY(!up(*form)->isEnabled());
            QVERIFY(!down(*form)->isEnabled());
            select(*form, 0);
            QVERIFY(!up(*form)->isEnabled());
            QVERIFY(down(*form)->isEnabled());
            select(*form, 21);
            QVERIFY(up(*form)->isEnabled());
            QVERIFY(!down(*form)->isEnabled());
            select(*form, 10);
            QVERIFY(up(*form)->isEnabled());
            QVERIFY(down(*form)->isEnabled());
            form->findChild<QPushButton*>(u"CancelBtn"_s)->click();
        });
        accepted = f.EditLayout();
        QVERIFY(!accepted);
        QVERIFY(!QFile::exists(cat.path(u"fields.ini"_s)));
    }

    void movingCarriesTickAndIndexAndOkWrites() {
        TempCatalogue cat(false);
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField20=1\nField2=1\n[Width]\nField20=123\n");
        TTableViewForm f;
        onNextModal([&](QWidget* w) {
            auto& form = *qobject_cast<TTableViewForm*>(w);
            QListWidget* l = list(form);
            QCOMPARE(l->item(20)->checkState(), Qt::Checked);
            select(form, 20);
            // "Стоимость" up to the top, one step at a time.
            for (int i = 0; i < 20; ++i)
                up(form)->click();
            QCOMPARE(l->item(0)->text(), u"Стоимость"_s);
            QCOMPARE(l->item(0)->checkState(), Qt::Checked);
            QCOMPARE(l->currentRow(), 0);
            QVERIFY(!up(form)->isEnabled());
            QCOMPARE(l->item(1)->text(), u"Дата рег."_s);
            // And one down again, then tick "Долг".
            down(form)->click();
            QCOMPARE(l->item(1)->text(), u"Стоимость"_s);
            QCOMPARE(l->currentRow(), 1);
            l->item(21)->setCheckState(Qt::Checked);
            form.findChild<QPushButton*>(u"OkBtn"_s)->click();
        });
        QVERIFY(f.EditLayout());
        const IniFile ini(cat.path(u"fields.ini"_s));
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num0"_s, -1), 0);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num1"_s, -1), 20);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num2"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num21"_s, -1), 21);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field20"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field2"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field21"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field0"_s, -1), 0);
        QCOMPARE(ini.readInteger(u"Width"_s, u"Field20"_s, -1), 123); // widths untouched
    }

    void reopeningRefillsFromTheFile() {
        TempCatalogue cat(false);
        cat.writeFile(u"fields.ini"_s, "[Position]\nNum0=5\nNum5=0\n[Checked]\nField5=1\n");
        TTableViewForm f;
        onNextModal([&](QWidget* w) {
            auto& form = *qobject_cast<TTableViewForm*>(w);
            list(form)->item(3)->setCheckState(Qt::Checked);
            select(form, 0);
            down(form)->click();
            QTest::keyClick(list(form), Qt::Key_Escape);
        });
        QVERIFY(!f.EditLayout());
        QVERIFY(!f.isVisible());
        onNextModal([&](QWidget* w) {
            auto& form = *qobject_cast<TTableViewForm*>(w);
            QListWidget* l = list(form);
            QCOMPARE(l->item(0)->text(), u"Комноты"_s);
            QCOMPARE(l->item(0)->checkState(), Qt::Checked);
            QCOMPARE(l->item(3)->checkState(), Qt::Unchecked);
            QCOMPARE(l->item(5)->text(), u"Дата рег."_s);
            QVERIFY(!up(form)->isEnabled());
            QVERIFY(!down(form)->isEnabled());
            form.reject();
        });
        QVERIFY(!f.EditLayout());
        QCOMPARE(cat.readFile(u"fields.ini"_s),
                 QByteArray("[Position]\nNum0=5\nNum5=0\n[Checked]\nField5=1\n"));
    }

    void ctrlEnterSavesLikeOk() {
        TempCatalogue cat(false);
        TTableViewForm f;
        onNextModal([&](QWidget* w) {
            auto& form = *qobject_cast<TTableViewForm*>(w);
            list(form)->item(7)->setCheckState(Qt::Checked);
            QTest::keyClick(list(form), Qt::Key_Return, Qt::ControlModifier);
        });
        QVERIFY(f.EditLayout());
        const IniFile ini(cat.path(u"fields.ini"_s));
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field7"_s, -1), 1);
        QCOMPARE(ini.readInteger(u"Checked"_s, u"Field8"_s, -1), 0);
        QCOMPARE(ini.readInteger(u"Position"_s, u"Num13"_s, -1), 13);
    }
};

QTEST_MAIN(TableViewFormTest)
#include "TableViewFormTest.moc"
