// The item card's saves when they cannot simply be written: another copy of the program changed
// or deleted the item while the card was open, or the database has no room left.

#include "CardTestSupport.h"
#include "Database.h"
#include "Dialogs.h"
#include "JpegCodec.h"
#include "PictureFileDialog.h"

#include <QMessageBox>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>

using namespace Qt::StringLiterals;
using namespace CardTest;

namespace {

const QString Question =
    u"Пока карточка была открыта, этот элемент изменили в другой копии программы.\n\n"
    u"Записать данные карточки поверх этих изменений? Если нет, в карточку будут загружены "
    u"сохранённые данные."_s;
const QString FullText = u"Недостаточно места на диске: изменения не сохранены (database or disk is full)"_s;

// Another copy of the program: a connection of its own to the same file.
class OtherCopy {
public:
    explicit OtherCopy(const QString& path) {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, Name);
        db.setDatabaseName(path);
        db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT=5000"_s);
        if (!db.open())
            qFatal("cannot open the other copy's connection");
    }
    ~OtherCopy() {
        QSqlDatabase::database(Name).close();
        QSqlDatabase::removeDatabase(Name);
    }
    void exec(const QString& sql, const QVariantList& values = {}) {
        QSqlQuery q(QSqlDatabase::database(Name));
        q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            qFatal("other copy: %s", qPrintable(q.lastError().text()));
    }

private:
    static inline const QString Name = u"other-copy"_s;
};

struct Safety : Card {
    QVariant column(int id, const QString& name) {
        return scalar(u"select %1 from items where id=?"_s.arg(name), {id});
    }
    void fillTheDisk() {
        catalogue.exec(u"pragma max_page_count = "_s + scalar(u"pragma page_count"_s).toString());
    }
};

QString withoutBreaks(QString text) {
    return text.remove(QChar(0x200B));
}

} // namespace

class CardSafetyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        DialogsTestSeam::clear();
        Database::setWaitLimits(200, 3000);
    }
    void cleanup() {
        QLocale::setDefault(QLocale::c());
        DialogsTestSeam::clear();
        Database::setWaitLimits(-1, -1);
    }

    // The other copy changed the floor while the card was open: the operator is asked, nothing is
    // written before the answer, and "Yes" writes the card over the other change.
    void changedElsewhereOverwrittenOnYes() {
        Safety f;
        const int item = f.addItem({{u"etazh"_s, 1}, {u"sost"_s, u"как было"_s}});
        OtherCopy other(f.catalogue.databasePath());
        QString asked;
        QVariant floorWhileAsking;
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                other.exec(u"update items set etazh=7, sost='по-другому' where id=?"_s, {item});
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"3"_s);
                onNextModal([&](QWidget* box) {
                    auto* question = qobject_cast<QMessageBox*>(box);
                    QVERIFY(question);
                    asked = question->windowTitle() + u": "_s + withoutBreaks(question->text());
                    floorWhileAsking = f.column(item, u"etazh"_s);
                    for (QAbstractButton* b : question->buttons())
                        if (b->text() == u"&Yes"_s)
                            QTest::mouseClick(b, Qt::LeftButton);
                });
                clickButton(w, "OkBtn");
            },
            false));
        QCOMPARE(asked, u"Confirm: "_s + Question);
        QCOMPARE(floorWhileAsking.toInt(), 7);
        QCOMPARE(f.column(item, u"etazh"_s).toInt(), 3);
        QCOMPARE(f.column(item, u"sost"_s).toString(), u"как было"_s);
    }

    // "No" reloads the card from the database and keeps it open; the next OK writes over the
    // version now shown, without asking again.
    void changedElsewhereReloadedOnNo() {
        Safety f;
        const int item = f.addItem({{u"etazh"_s, 1}, {u"osob"_s, u"балкон"_s}});
        OtherCopy other(f.catalogue.databasePath());
        QStringList shownAfterNo;
        bool openAfterNo = false;
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                other.exec(u"update items set etazh=7, osob='лоджия' where id=?"_s, {item});
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"3"_s);
                DialogsTestSeam::queueAnswer(Dialogs::Answer::No);
                clickButton(w, "OkBtn");
                openAfterNo = w->isVisible();
                shownAfterNo << control<QLineEdit>(w, "EtazhEdit")->text()
                             << control<QPlainTextEdit>(w, "OsobEdit")->toPlainText();
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"4"_s);
                clickButton(w, "OkBtn");
            },
            false));
        QVERIFY(openAfterNo);
        QCOMPARE(shownAfterNo, (QStringList{u"7"_s, u"лоджия"_s}));
        QCOMPARE(DialogsTestSeam::shown().size(), 1);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Confirmation);
        QCOMPARE(DialogsTestSeam::last().text, Question);
        QCOMPARE(f.column(item, u"etazh"_s).toInt(), 4);
        QCOMPARE(f.column(item, u"osob"_s).toString(), u"лоджия"_s);
    }

    void unchangedItemIsSavedWithoutAsking() {
        Safety f;
        const int item = f.addItem({{u"etazh"_s, 1}});
        OtherCopy other(f.catalogue.databasePath());
        // Another item changed elsewhere is no reason to ask.
        const int neighbour = f.addItem();
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                other.exec(u"update items set etazh=9 where id=?"_s, {neighbour});
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"2"_s);
                clickButton(w, "OkBtn");
            },
            false));
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
        QCOMPARE(f.column(item, u"etazh"_s).toInt(), 2);
        // Saved twice in a row by this card: the second save compares with the first one's row.
        QVERIFY(f.whileEditing(
            item,
            [&](QWidget* w) {
                typeInto(control<QLineEdit>(w, "EtazhEdit"), u"5"_s);
                clickButton(w, "OkBtn");
            },
            false));
        QCOMPARE(DialogsTestSeam::shown().size(), 0);
        QCOMPARE(f.column(item, u"etazh"_s).toInt(), 5);
    }

    void deletedElsewhereIsReported() {
        Safety f;
        const int item = f.addItem();
        OtherCopy other(f.catalogue.databasePath());
        bool stillOpen = false;
        QVERIFY(!f.whileEditing(item, [&](QWidget* w) {
            other.exec(u"delete from items where id=?"_s, {item});
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "OkBtn");
            stillOpen = w->isVisible();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(DialogsTestSeam::last().kind, Dialogs::Kind::Stop);
        QCOMPARE(DialogsTestSeam::last().text,
                 u"Пока карточка была открыта, этот элемент удалили в другой копии программы: "
                 u"данные карточки не сохранены."_s);
        QCOMPARE(f.scalar(u"select count(*) from items"_s).toInt(), 0);
    }

    // A database without room refuses each kind of save with the store's message; the card stays
    // open with what was typed.
    void fullDiskRefusesTheInsert() {
        Safety f;
        f.fillTheDisk();
        const QString text = QString(20000, u'я');
        bool stillOpen = false;
        QString kept;
        QVERIFY(!f.whileNew([&](QWidget* w) {
            control<QPlainTextEdit>(w, "SostMemo")->setPlainText(text);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "OkBtn");
            stillOpen = w->isVisible();
            kept = control<QPlainTextEdit>(w, "SostMemo")->toPlainText();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(kept, text);
        QCOMPARE(DialogsTestSeam::last().text, FullText);
        QCOMPARE(f.scalar(u"select count(*) from items"_s).toInt(), 0);
    }

    void fullDiskRefusesTheUpdate() {
        Safety f;
        const int item = f.addItem({{u"sost"_s, u"коротко"_s}});
        f.fillTheDisk();
        const QString text = QString(20000, u'я');
        bool stillOpen = false;
        QString kept;
        QVERIFY(!f.whileEditing(item, [&](QWidget* w) {
            control<QPlainTextEdit>(w, "SostMemo")->setPlainText(text);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "OkBtn");
            stillOpen = w->isVisible();
            kept = control<QPlainTextEdit>(w, "SostMemo")->toPlainText();
        }));
        QVERIFY(stillOpen);
        QCOMPARE(kept, text);
        QCOMPARE(DialogsTestSeam::last().text, FullText);
        QCOMPARE(f.column(item, u"sost"_s).toString(), u"коротко"_s);
    }

    void fullDiskRefusesTheSlideInsert() {
        Safety f;
        const int item = f.addItem();
        // Noise does not compress: the picture needs pages of its own.
        QImage noise(200, 200, QImage::Format_RGB32);
        QRandomGenerator random(7);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, random.generate());
        f.catalogue.writeFile(u"noise.jpg"_s, JpegCodec::encode(noise, 95));
        PictureFileDialogTestSeam::setChooser([&](QWidget*) { return f.catalogue.path(u"noise.jpg"_s); });
        f.fillTheDisk();
        bool stillOpen = false;
        QVERIFY(!f.whileEditing(item, [&](QWidget* w) {
            control<QTabWidget>(w, "PageControl1")->setCurrentIndex(4);
            DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);
            clickButton(w, "BitBtn1");
            stillOpen = w->isVisible();
        }));
        PictureFileDialogTestSeam::setChooser({});
        QVERIFY(stillOpen);
        QCOMPARE(DialogsTestSeam::last().text, FullText);
        QCOMPARE(f.scalar(u"select count(*) from slides"_s).toInt(), 0);
    }
};

QTEST_MAIN(CardSafetyTest)
#include "tst_cardsafety.moc"
