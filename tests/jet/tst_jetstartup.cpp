#include "Database.h"
#include "Dialogs.h"
#include "ItemListModel.h"
#include "Program.h"
#include "TMainForm.h"
#include "TestSupport.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

// Start-up on a db.MyDB kept in the Jet format: the question, then the converted catalogue, the
// end of the program, or the reason the file cannot be converted.
class JetStartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }

    void startUp_data() {
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("zeroedPage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("yes converts") << true << -1 << QString();
        QTest::newRow("no ends") << false << -1 << QString();
        // Page 55 of the file holds rows of items.
        QTest::newRow("unreadable file")
            << true << 55 << u"в таблице items прочитано строк: 41, а в её описании записано: 50"_s;
    }

    void startUp() {
        QFETCH(bool, yes);
        QFETCH(int, zeroedPage);
        QFETCH(QString, reason);
        if (TestStore::isServer())
            QSKIP("a Jet file is met only where the catalogue is a file");
        TempCatalogue cat(false);
        QFile fixture(QStringLiteral(TENEMARK_JET_TEST_DATA "/catalogue-jet4.MyDB"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        QByteArray jet = fixture.readAll();
        if (zeroedPage >= 0)
            jet.replace(zeroedPage * 4096, 4096, QByteArray(4096, '\0'));
        QVERIFY(QFile::remove(cat.databasePath()));
        cat.writeFile(u"db.MyDB"_s, jet);
        cat.writeFile(u"fields.ini"_s, "[Checked]\nField2=1\n");
        DialogsTestSeam::queueAnswer(yes ? Dialogs::Answer::Yes : Dialogs::Answer::No);
        DialogsTestSeam::queueAnswer(Dialogs::Answer::Ok);

        Program program;
        QCOMPARE(program.start(), yes && reason.isEmpty());
        const auto shown = DialogsTestSeam::shown();
        QCOMPARE(shown.first().kind, Dialogs::Kind::Confirmation);
        QCOMPARE(shown.first().text,
                 u"Файл базы данных записан в формате Jet (Microsoft Access). Преобразовать его в "
                 u"формат этой программы? Исходный файл сохранится как db.MyDB.jet."_s);
        QVERIFY(!QFile::exists(cat.path(u"db.MyDB.converting"_s)));
        if (yes && reason.isEmpty()) {
            QCOMPARE(shown.size(), 1);
            QCOMPARE(cat.readFile(u"db.MyDB.jet"_s), jet);
            QCOMPARE(Database::connection().databaseName(), cat.databasePath());
            const ItemListModel* list = program.mainForm()->itemModel();
            QCOMPARE(list->rowCount(), 50);
            QStringList districts;
            for (int row = 0; row < list->rowCount(); ++row)
                districts << list->data(list->index(row, 0)).toString();
            QCOMPARE(districts.count(u"Старый район (переименован)"_s), 1);
            return;
        }
        // Nothing changed.
        QCOMPARE(cat.readFile(u"db.MyDB"_s), jet);
        QVERIFY(!QFile::exists(cat.path(u"db.MyDB.jet"_s)));
        QVERIFY(!Database::isOpen());
        QCOMPARE(shown.size(), reason.isEmpty() ? 1 : 2);
        if (!reason.isEmpty()) {
            QCOMPARE(shown.last().kind, Dialogs::Kind::Stop);
            QVERIFY2(shown.last().text.contains(reason), qPrintable(shown.last().text));
        }
    }
};

QTEST_MAIN(JetStartupTest)
#include "tst_jetstartup.moc"
