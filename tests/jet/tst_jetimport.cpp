#include "AppError.h"
#include "JetFile.h"
#include "JetImport.h"
#include "JetValues.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString data(const QString& name) {
    return QStringLiteral(TENEMARK_JET_TEST_DATA "/") + name;
}

QByteArray sha1(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

// A copy of a test file with some of its bytes changed.
QString damagedCopy(const QTemporaryDir& dir, const QString& name, qsizetype at, const QByteArray& bytes,
                    qsizetype keep = -1) {
    static int copies = 0;
    QFile source(data(name));
    QByteArray content = source.open(QIODevice::ReadOnly) ? source.readAll() : QByteArray();
    content.replace(at, bytes.size(), bytes);
    const QString path = dir.filePath(u"copy%1.mdb"_s.arg(++copies));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(keep < 0 ? content : content.left(keep)) < 0)
        qFatal("cannot write the damaged copy");
    return path;
}

} // namespace

class JetImportTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    JetImportReport m_edges;

private Q_SLOTS:
    // Both catalogues converted once; the tests read what the new files hold. The edges' items
    // had numbers up to 500 given out once (page 6 is their definition).
    void initTestCase() {
        const QString edges =
            damagedCopy(m_dir, u"edges-jet4.MyDB"_s, 6 * 4096 + 20, QByteArray("\xf4\x01\0\0", 4));
        for (const QString& name : {u"catalogue"_s, u"edges"_s}) {
            JetImport conversion(name == u"edges" ? edges : data(name + u"-jet4.MyDB"_s),
                                 m_dir.filePath(name + u".db"_s));
            const JetImportReport report = conversion.run();
            if (name == u"edges")
                m_edges = report;
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
            db.setDatabaseName(m_dir.filePath(name + u".db"_s));
            QVERIFY(db.open());
        }
    }

    void values_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("select");
        QTest::addColumn<QVariant>("expected"); // a picture: the SHA-1 of its bytes
        const auto row = [](const char* name, const QString& file, const QString& select,
                            const QVariant& expected) { QTest::newRow(name) << file << select << expected; };
        const QString c = u"catalogue"_s, e = u"edges"_s;
        row("row counts", c,
            u"select (select count(*) from items) || ' ' || (select count(*) from rooms) || ' ' || "
            u"(select count(*) from komnaty)"_s,
            u"50 87 5"_s);
        row("Cyrillic text", c, u"select grupa || '/' || rajon from items where id = 21"_s,
            u"Аренда/Старый район (переименован)"_s);
        row("memo over pages", c,
            u"select length(kontakt_inf) || ' ' || substr(kontakt_inf, -24) from items where id = 31"_s,
            u"50998 родственников и соседей."_s);
        row("NULL and empty note", c,
            u"select quote(notes) || quote((select notes from slides where id = 2)) from slides where id = 1"_s,
            u"NULL''"_s);
        row("money", c, u"select stoim || ' ' || dolg from items where id = 31"_s, u"2895000 1520.5"_s);
        row("no date", c, u"select quote(date_reg) from items where id = 8"_s, u"NULL"_s);
        row("picture in the row", c, u"select picture from slides where id = 1"_s,
            u"f1c41dd4cc27bce8a28dea660fe930685ccd9d9f"_s);
        row("JPEG over pages", c, u"select picture from slides where id = 6"_s,
            u"932e44deab88d301483df023ccab162c63374d09"_s);
        row("BMP over pages", c, u"select picture from slides where id = 4"_s,
            u"29e7d45bee3967a3848058c348db3eab996c388d"_s);
        row("password", c, u"select pwl_value from pwl_cell"_s, u"секрет2005"_s);
        row("emoji", e, u"select grupa from items where id = 1"_s, u"Продажа 🏠"_s);
        row("empty text and memo", e,
            u"select quote(rajon) || quote(sost) || quote(osob) from items where id = 1"_s, u"''''NULL"_s);
        row("huge memo", e,
            u"select length(kontakt_inf) || substr(kontakt_inf, 1, 1) || substr(kontakt_inf, -1) "
            u"from items where id = 1"_s,
            u"123002😀🔑"_s);
        row("largest money", e, u"select stoim from items where id = 1"_s, 922337203685477.625);
        row("smallest money", e, u"select dolg from items where id = 1"_s, -922337203685477.625);
        row("a ten-thousandth", e, u"select stoim from items where id = 100"_s, 0.0001);
        row("first date", e, u"select date_reg from items where id = 1"_s, u"1899-12-30 00:00:00"_s);
        row("last date", e, u"select date_reg from items where id = 100"_s, u"2100-01-01 00:00:00"_s);
        row("negative date", e, u"select date_reg from items where id = 101"_s, u"1899-12-29 06:00:00"_s);
        row("date out of range", e, u"select quote(date_reg) from items where id = 102"_s, u"NULL"_s);
        row("half a second", e, u"select date_reg from items where id = 103"_s, u"2004-05-06 07:08:10"_s);
        row("number in a text column", e, u"select etazh from items where id = 1"_s, 5);
        row("word in a text column", e, u"select quote(etazh) from items where id = 100"_s, u"NULL"_s);
        row("Single", e, u"select p from rooms where id = 1"_s, 18.3);
        row("rooms numbered", e, u"select group_concat(id || ':' || items_id) from rooms"_s,
            u"1:1,2:1,3:100"_s);
        row("ids go on", e, u"select seq from sqlite_sequence where name = 'items'"_s, 500);
        row("64-byte picture", e, u"select picture from slides where id = 1"_s,
            u"aec4b7f13a2b75ec13bc0c3f13fa55caf97e621d"_s);
        row("4080-byte picture", e, u"select picture from slides where id = 2"_s,
            u"7e808b5b7c6b0c143f453d6e106ac465d83a4710"_s);
        row("4081-byte picture", e, u"select picture from slides where id = 3"_s,
            u"a2e0398262269dd41ad5b96155b1e4a257c3e11f"_s);
        row("300 KB picture", e, u"select picture from slides where id = 4"_s,
            u"27c66eb796d3be511e50b9ad2c1df4d17ed521c0"_s);
        row("emoji note", e, u"select notes from slides where id = 3"_s, u"Вид 🌅"_s);
    }

    void values() {
        QFETCH(QString, file);
        QFETCH(QString, select);
        QFETCH(QVariant, expected);
        QSqlQuery q(QSqlDatabase::database(file));
        QVERIFY2(q.exec(select) && q.next(), qPrintable(select));
        const QVariant value = q.value(0);
        if (value.typeId() == QMetaType::QByteArray)
            QCOMPARE(QString::fromLatin1(sha1(value.toByteArray())), expected.toString());
        else if (expected.typeId() == QMetaType::Double)
            QCOMPARE(value.toDouble(), expected.toDouble());
        else
            QCOMPARE(value.toString(), expected.toString());
    }

    void notesOfTheEdges() {
        QCOMPARE(
            m_edges.notes,
            QStringList(
                {u"table \"zayavki\": not part of the catalogue; left out"_s,
                 u"items, column \"foto_url\": not part of the catalogue; left out"_s,
                 u"items 1, stoim: \"922337203685477.5807\" is more exact than the catalogue keeps money; "
                 u"stored as the nearest, 922337203685477.625"_s,
                 u"items 1, dolg: \"-922337203685477.5807\" is more exact than the catalogue keeps money; "
                 u"stored as the nearest, -922337203685477.625"_s,
                 u"items 100, etazh: \"пятый\" is not a number; stored as empty"_s,
                 u"items 102, date_reg: \"date 3000000.5\" is no date of the years 100 to 9999; stored as empty"_s,
                 u"items 103, date_reg: \"date 38113.297332175927\" has a fraction of a second; "
                 u"stored as 2004-05-06 07:08:10"_s}));
        QCOMPARE(m_edges.pictures, 4);
    }

    // The edge values of every type, as the reader gives them.
    void readerValues_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("255 Cyrillic letters") << 3 << u"t"_s << QVariant(255);
        QTest::newRow("51,250-character memo") << 3 << u"m"_s << QVariant(51250);
        QTest::newRow("1 MB OLE value") << 3 << u"o"_s << QVariant(1048576);
        QTest::newRow("largest currency") << 2 << u"c"_s << QVariant(Q_INT64_C(9223372036854775807));
        QTest::newRow("smallest currency") << 3 << u"c"_s << QVariant(-Q_INT64_C(9223372036854775807));
        QTest::newRow("smallest long") << 3 << u"l"_s << QVariant(qlonglong(-2147483648LL));
        QTest::newRow("largest single") << 2 << u"s"_s << QVariant(3.4028235e38);
        QTest::newRow("first date") << 2 << u"dt"_s << QVariant(u"1899-12-30 00:00:00"_s);
        QTest::newRow("date 2100") << 3 << u"dt"_s << QVariant(u"2100-01-01 00:00:00"_s);
        QTest::newRow("NULL text") << 4 << u"t"_s << QVariant();
        QTest::newRow("empty text") << 2 << u"t"_s << QVariant(u""_s);
        QTest::newRow("no") << 4 << u"b"_s << QVariant(0);
        QTest::newRow("explicit id") << 6 << u"id"_s << QVariant(100);
    }

    void readerValues() {
        QFETCH(int, row);
        QFETCH(QString, column);
        QFETCH(QVariant, expected);
        JetFile file(data(u"types-jet4.MyDB"_s));
        const auto table = file.table(u"ALLTYPES"_s);
        QVERIFY(table);
        while (table->rowNumber() < row)
            QVERIFY(table->next());
        const int c = table->columnIndex(column);
        const QVariant value = table->value(c);
        QCOMPARE(value.isNull(), expected.isNull());
        if (expected.isNull())
            return;
        if (table->columnType(c) == JetFile::Type::DateTime) {
            bool whole = false;
            QCOMPARE(JetValues::dateText(value.toDouble(), &whole), expected.toString());
            QVERIFY(whole);
        } else if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
            QCOMPARE(value.typeId() == QMetaType::QString ? value.toString().size()
                                                          : value.toByteArray().size(),
                     expected.typeId() == QMetaType::QString ? expected.toString().size() : expected.toInt());
        } else {
            QCOMPARE(value,
                     expected.typeId() == QMetaType::Double ? expected : QVariant(expected.toLongLong()));
        }
    }

    // A file that cannot be converted: the reason, no new file, the old one as it was.
    void failures_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qsizetype>("at");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<qsizetype>("keep");
        QTest::addColumn<QString>("reason");
        const QString c = u"catalogue-jet4.MyDB"_s;
        QTest::newRow("missing tables") << u"missing-tables-jet4.MyDB"_s << qsizetype(0) << QByteArray()
                                        << qsizetype(-1) << u"нет таблиц каталога: rooms, komnaty"_s;
        QTest::newRow("unknown version")
            << c << qsizetype(0x14) << QByteArray("\x07") << qsizetype(-1) << u"не читается как файл Jet"_s;
        // Page 55 holds rows of items.
        QTest::newRow("rows lost") << c << qsizetype(55 * 4096) << QByteArray(4096, '\0') << qsizetype(-1)
                                   << u"в таблице items прочитано строк: 41, а в её описании записано: 50"_s;
        // Page 100 holds a piece of slide 4's picture; its one record made two bytes long.
        QTest::newRow("record shorter than its link")
            << c << qsizetype(100 * 4096 + 14) << QByteArray("\xfe\x0f", 2) << qsizetype(-1)
            << u"slides, строка 4, столбец picture: длинное "
               u"значение прочитано не полностью"_s;
        QTest::newRow("cut short") << c << qsizetype(0) << QByteArray() << qsizetype(150 * 4096)
                                   << u"в таблице slides прочитано строк: 0"_s;
        QTest::newRow("cancelled") << c << qsizetype(0) << QByteArray() << qsizetype(-1)
                                   << u"Преобразование отменено"_s;
    }

    void failures() {
        QFETCH(QString, file);
        QFETCH(qsizetype, at);
        QFETCH(QByteArray, bytes);
        QFETCH(qsizetype, keep);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString source = damagedCopy(dir, file, at, bytes, keep);
        QFile original(source);
        QVERIFY(original.open(QIODevice::ReadOnly));
        const QByteArray content = original.readAll();
        const QString target = dir.filePath(u"new.db"_s);
        JetImport conversion(source, target);
        conversion.setCancelCheck([&] { return QTest::currentDataTag() == QByteArray("cancelled"); });
        QString text;
        try {
            conversion.run();
        } catch (const AppError& e) {
            text = e.text();
        }
        QVERIFY2(text.contains(reason), qPrintable(text));
        QVERIFY(!QFile::exists(target));
        QVERIFY(!QFile::exists(target + u"-journal"_s));
        original.seek(0);
        QCOMPARE(original.readAll(), content);
    }

    // The database tool's command: a line per table, the values not kept, exit status 0; a new file
    // that exists already is refused.
    void tool() {
        QProcess p;
        const QString target = m_dir.filePath(u"tool.db"_s);
        p.start(QStringLiteral(TENEMARK_DB_TOOL), {u"import"_s, data(u"edges-jet4.MyDB"_s), target});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 0);
        const QStringList lines =
            QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.mid(0, 3), QStringList({u"items: 5"_s, u"slides: 4"_s, u"rooms: 3"_s}));
        QCOMPARE(lines.filter(u"not kept as it was: "_s).size(), m_edges.notes.size());
        QVERIFY(lines.last().endsWith(u"converted, 7 value(s) not kept as they were (listed above)"_s));
        p.start(QStringLiteral(TENEMARK_DB_TOOL), {u"import"_s, data(u"edges-jet4.MyDB"_s), target});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError())
                    .contains(u"уже существует; он оставлен как есть"_s));
    }
};

QTEST_GUILESS_MAIN(JetImportTest)
#include "tst_jetimport.moc"
