#include "AppError.h"
#include "GeneralReport.h"
#include "HtmlPage.h"
#include "ReportFileName.h"
#include "ReportListModel.h"
#include "ReportTestData.h"
#include "ShellLaunch.h"
#include "SpreadsheetCells.h"
#include "TestSupport.h"
#include "Windows1251.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString lines(const QStringList& l) {
    return l.join(u"\r\n"_s) + u"\r\n"_s;
}

// The title in references, the rest of the page in the code page.
const QString Head =
    u"<HTML><HEAD><Title>&#1054;&#1073;&#1097;&#1080;&#1081; "
    u"&#1086;&#1090;&#1095;&#1077;&#1090;</Title><meta http-equiv=\"Content-Type\" "
    u"content=\"text/html; charset=windows-1251\"><style>td[sdnum]:before{content:\"\\00A0\"}"
    u"</style></Head><Body><H3 align=center>"_s;

QStringList headerLines(const QStringList& captions) {
    QStringList l{Head, u"Общий отчет</H3><br>"_s,
                  u"<Table align=center width=95% border=1 cellspacing=\"0\">"_s, u"<tr>"_s,
                  u"<td align=\"center\" valign=\"middle\">№ п/п</td>"_s};
    for (const QString& c : captions)
        l << u"<td align=\"center\" valign=\"middle\">"_s + c + u"</td>"_s;
    l << u"</tr>"_s;
    return l;
}

QStringList rowLines(int number, const QStringList& texts) {
    QStringList l{u"<tr>"_s,
                  u"<td align=\"right\" valign=\"middle\">&nbsp;"_s + QString::number(number) + u"</td>"_s};
    for (const QString& t : texts)
        l << u"<td align=\"justiful\" valign=\"middle\" sdnum=\"1033;0;@\">"_s + t + u"</td>"_s;
    l << u"</tr>"_s;
    return l;
}

const QStringList Closing{u"</table>"_s, u"</Body></Html>"_s};

} // namespace

class TestGeneralReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
    }

    void copyIsWholeAndIndependent() {
        auto source = makeSourceList({u"Район"_s, u"Цена"_s},
                                     {{u"Центральный"_s, u"100"_s}, {u"Заречный"_s, u""_s}}, {7, 3});
        source->setHeaderData(1, Qt::Horizontal, int(Qt::AlignRight | Qt::AlignVCenter),
                              Qt::TextAlignmentRole);
        ReportListModel list;
        QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
        list.copyFrom(*source, {120});
        QCOMPARE(list.rowCount(), 2);
        QCOMPARE(list.columnCount(), 2);
        QCOMPARE(list.columns().at(0).caption, u"Район"_s);
        QCOMPARE(list.columns().at(0).width, 120);
        QCOMPARE(list.columns().at(1).width, ReportListModel::DefaultWidth);
        QCOMPARE(list.columns().at(1).alignment, Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(list.headerData(1, Qt::Horizontal, Qt::TextAlignmentRole).toInt(),
                 int(Qt::AlignRight | Qt::AlignVCenter));
        // The whole text, never the shortened one the source paints.
        QCOMPARE(list.cellText(0, 0), u"Центральный"_s);
        QCOMPARE(list.index(0, 0).data().toString(), u"Центральный"_s);
        QCOMPARE(list.cellText(1, 1), QString());
        QCOMPARE(list.itemId(0), 7);
        QCOMPARE(list.index(1, 1).data(ListRoles::ItemId).toInt(), 3);
        QCOMPARE(list.index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(list.checkedCount(), 2);
        // Only the first column is editable and carries the tick.
        QVERIFY(list.flags(list.index(0, 0)) & Qt::ItemIsEditable);
        QVERIFY(list.flags(list.index(0, 0)) & Qt::ItemIsUserCheckable);
        QCOMPARE(list.flags(list.index(0, 1)) & (Qt::ItemIsEditable | Qt::ItemIsUserCheckable),
                 Qt::ItemFlags());
        QVERIFY(!list.setData(list.index(0, 1), u"x"_s));
        QVERIFY(!list.index(0, 1).data(Qt::CheckStateRole).isValid());

        // Editing and ticking the copy leaves the source as it was, and the other way round.
        QVERIFY(list.setData(list.index(0, 0), u"Центр (ред.)"_s));
        QVERIFY(list.setData(list.index(1, 0), int(Qt::Unchecked), Qt::CheckStateRole));
        QCOMPARE(source->index(0, 0).data(ListRoles::FullText).toString(), u"Центральный"_s);
        source->setData(source->index(1, 0), u"Другой"_s, ListRoles::FullText);
        source->removeRow(0);
        QCOMPARE(list.cellText(0, 0), u"Центр (ред.)"_s);
        QCOMPARE(list.cellText(1, 0), u"Заречный"_s);
        QVERIFY(!list.isChecked(1));
        QCOMPARE(list.checkedCount(), 1);

        // A fresh copy starts over: every row ticked again.
        list.copyFrom(*source, {});
        QCOMPARE(list.rowCount(), 1);
        QCOMPARE(list.cellText(0, 0), u"Другой"_s);
        QVERIFY(list.isChecked(0));
        list.setAllChecked(false);
        QCOMPARE(list.checkedCount(), 0);
        list.setAllChecked(true);
        QCOMPARE(list.checkedCount(), 1);
    }

    void documentLineByLine() {
        TempCatalogue cat(false);
        auto source = makeSourceList({u"Район"_s, u"Комнаты"_s, u"Цена"_s},
                                     {{u"Центр"_s, u"2"_s, u"100"_s},
                                      {u"Север"_s, u"3"_s, u"200"_s},
                                      {u"Юг"_s, u""_s, u"300"_s},
                                      {u"Запад"_s, u"1"_s, u"400"_s}},
                                     {1, 2, 3, 4});
        ReportListModel list;
        list.copyFrom(*source, {});
        list.setChecked(1, false);
        list.setData(list.index(2, 0), u"Юг, правлено"_s);
        const QString path = cat.path(u"r.htm"_s);
        GeneralReport::write(list, path);

        QStringList expected = headerLines({u"Район"_s, u"Комнаты"_s, u"Цена"_s});
        // Numbers count the ticked rows only; an empty value still has its cell.
        expected << rowLines(1, {u"Центр"_s, u"2"_s, u"100"_s})
                 << rowLines(2, {u"Юг, правлено"_s, u""_s, u"300"_s})
                 << rowLines(3, {u"Запад"_s, u"1"_s, u"400"_s}) << Closing;
        const QByteArray bytes = readAll(path);
        QCOMPARE(Windows1251::decode(bytes), lines(expected));
        // Stored in windows-1251, every line ended by CR LF and no bare LF anywhere.
        QVERIFY(bytes.contains("\r\n\xCE\xE1\xF9\xE8\xE9 \xEE\xF2\xF7\xE5\xF2</H3><br>\r\n"));
        QVERIFY(bytes.contains("<td align=\"center\" valign=\"middle\">\xB9 \xEF/\xEF</td>\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        QCOMPARE(bytes.count("\r\n"), qsizetype(expected.size()));
        QVERIFY(bytes.endsWith("</Body></Html>\r\n"));
        QCOMPARE(bytes.indexOf("\xEF\xBB\xBF"), -1);
    }

    void largeReportWrittenInPieces() {
        // Several megabytes, so the page reaches the file in many pieces.
        TempCatalogue cat(false);
        const QStringList captions{u"Район"_s, u"Цена"_s, u"Особенности"_s};
        QList<QStringList> rows;
        QList<int> ids;
        for (int r = 0; r < 20000; ++r) {
            rows.append({u"Район №%1"_s.arg(r), QString::number(r * 1000),
                         u"Угловая квартира, окна во двор, рядом школа и парк, %1"_s.arg(r % 97)});
            ids.append(r + 1);
        }
        auto source = makeSourceList(captions, rows, ids);
        ReportListModel list;
        list.copyFrom(*source, {});
        for (int r = 0; r < rows.size(); r += 3)
            list.setChecked(r, false);
        GeneralReport::write(list, cat.path(u"big.htm"_s));

        QStringList expected = headerLines(captions);
        int number = 0;
        for (int r = 0; r < rows.size(); ++r) {
            if (r % 3 != 0)
                expected << rowLines(++number, rows.at(r));
        }
        expected << Closing;
        const QByteArray bytes = cat.readFile(u"big.htm"_s);
        QVERIFY(bytes.size() > 3 * 1024 * 1024);
        QCOMPARE(Windows1251::decode(bytes), lines(expected));
    }

    void failureWhileWritingIsReported() {
        TempCatalogue cat(false);
        auto source = makeSourceList({u"Район"_s}, {{u"Центр"_s}}, {1});
        ReportListModel list;
        list.copyFrom(*source, {});
        // A disk that fills up: the file begun is removed again, an earlier report stays.
        const QString earlier = GeneralReport::run(list);
        {
            FileSizeLimit limit(16);
            QVERIFY_THROWS_EXCEPTION(AppError, GeneralReport::run(list));
        }
        QCOMPARE(QDir(cat.path(u"RepTmp"_s)).entryList(QDir::Files),
                 QStringList{QFileInfo(earlier).fileName()});

        // A device that takes the file but refuses every byte, as a full disk does.
        const QString full = u"/dev/full"_s;
        if (!QFileInfo::exists(full))
            QSKIP("no full device here");
        try {
            GeneralReport::write(list, full);
            QFAIL("the report was written");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), u"Cannot create file \"/dev/full\". No space left on device"_s);
        }
        QVERIFY(QFileInfo(full).exists()); // a device is never removed
    }

    // What a spreadsheet is told about a value cell: the text format, or the value and its format.
    void spreadsheetCellAttributes_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("attributes");
        const QByteArray text = " sdnum=\"1033;0;@\"";
        const QString ru = u"ru_RU"_s;
        QTest::newRow("price") << ru << u"Стоимость"_s << u"-1500000,5"_s
                               << QByteArray(" sdval=\"-1500000.5\" sdnum=\"1033;0;General\"");
        QTest::newRow("area that is no number") << ru << u"Общая площадь"_s << u"54.5"_s << text;
        QTest::newRow("date") << ru << u"Дата рег."_s << u"09.12.2025"_s
                              << QByteArray(" sdval=\"46000\" sdnum=\"1033;0;MM/DD/YYYY\"");
        QTest::newRow("date and time")
            << ru << u"Дата рег."_s << u"09.12.2025 18:00:00"_s
            << QByteArray(" sdval=\"46000.75\" sdnum=\"1033;0;MM/DD/YYYY HH:MM:SS\"");
        QTest::newRow("two-digit year") << u"en_US"_s << u"Дата рег."_s << u"12/9/25"_s
                                        << QByteArray(" sdval=\"46000\" sdnum=\"1033;0;MM/DD/YYYY\"");
        QTest::newRow("no such day") << ru << u"Дата рег."_s << u"31.02.2025"_s << text;
    }
    void spreadsheetCellAttributes() {
        QFETCH(QString, locale);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        QFETCH(QByteArray, attributes);
        const SpreadsheetCells cells{QLocale(locale)};
        QCOMPARE(cells.attributes(text, SpreadsheetCells::kindOfCaption(caption)), attributes);
    }

    // LibreOffice Calc takes every value as the list shows it: text stays text, numbers and dates
    // arrive as such, a value of several lines keeps its lines.
    void spreadsheetReadsTheValuesAsShown() {
        const QString soffice = QStandardPaths::findExecutable(u"soffice"_s);
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed: the spreadsheet's reading is not checked");
        QLocale::setDefault(QLocale(u"ru_RU"_s));
        const auto resetLocale = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
        TempCatalogue cat(false);
        auto source = makeSourceList(
            {u"Дата рег."_s, u"Состояние"_s, u"Особенности"_s, u"Общая площадь"_s, u"Стоимость"_s},
            {{u"09.12.2025"_s, u"007"_s, u"12,5"_s, u"54,5"_s, u"1500000"_s},
             {u"09.12.2025 12:30:00"_s, u"a<b"_s, u"две\r\nстроки"_s, QString(), u"0,25"_s}},
            {1, 2});
        ReportListModel list;
        list.copyFrom(*source, {});
        GeneralReport::write(list, cat.path(u"calc.htm"_s));

        // ';' between the fields, text cells quoted, UTF-8, the cells as shown, in Russian.
        QCOMPARE(QProcess::execute(
                     u"env"_s,
                     {u"LC_ALL=ru_RU.UTF-8"_s, u"LANG=ru_RU.UTF-8"_s, soffice,
                      u"-env:UserInstallation="_s + QUrl::fromLocalFile(cat.path(u"profile"_s)).toString(),
                      u"--headless"_s, u"--infilter=HTML (StarCalc)"_s, u"--convert-to"_s,
                      u"csv:Text - txt - csv (StarCalc):59,34,76,1,,0,true,true,true"_s, u"--outdir"_s,
                      cat.folder(), cat.path(u"calc.htm"_s)}),
                 0);
        const QByteArray csv = cat.readFile(u"calc.csv"_s);
        QVERIFY2(csv.endsWith("\"№ п/п\";\"Дата рег.\";\"Состояние\";\"Особенности\";\"Общая площадь\";"
                              "\"Стоимость\"\n"
                              "1;09.12.2025;\"007\";\"12,5\";54,5;1500000\n"
                              "2;09.12.2025 12:30:00;\"a<b\";\"две\nстроки\";;0,25\n"),
                 csv.constData());
    }

    void headerOnlyTables() {
        TempCatalogue cat(false);
        ReportListModel list;
        // No row ticked.
        auto source = makeSourceList({u"Район"_s}, {{u"Центр"_s}}, {1});
        list.copyFrom(*source, {});
        list.setAllChecked(false);
        GeneralReport::write(list, cat.path(u"a.htm"_s));
        QCOMPARE(Windows1251::decode(readAll(cat.path(u"a.htm"_s))),
                 lines(headerLines({u"Район"_s}) + Closing));
        // An empty main list.
        QStandardItemModel empty(0, 2);
        empty.setHeaderData(0, Qt::Horizontal, u"Район"_s);
        empty.setHeaderData(1, Qt::Horizontal, u"Цена"_s);
        list.copyFrom(empty, {});
        QCOMPARE(list.rowCount(), 0);
        GeneralReport::write(list, cat.path(u"b.htm"_s));
        QCOMPARE(Windows1251::decode(readAll(cat.path(u"b.htm"_s))),
                 lines(headerLines({u"Район"_s, u"Цена"_s}) + Closing));
    }

    void valuesAreEscapedAndNothingIsLost() {
        TempCatalogue cat(false);
        auto source = makeSourceList({u"<b>Район</b>"_s, u"Особенности"_s},
                                     {{u"A<B & C\r\nD\nE\rF"_s, u"Café 😀 \"x\" </td></table>"_s}}, {5});
        ReportListModel list;
        list.copyFrom(*source, {});
        GeneralReport::write(list, cat.path(u"e.htm"_s));
        const QByteArray bytes = readAll(cat.path(u"e.htm"_s));
        QVERIFY(bytes.contains(
            "<td align=\"center\" valign=\"middle\">&lt;b&gt;\xD0\xE0\xE9\xEE\xED&lt;/b&gt;</td>\r\n"));
        QVERIFY(bytes.contains("<td align=\"justiful\" valign=\"middle\" sdnum=\"1033;0;@\">A&lt;B &amp; "
                               "C<br>D<br>E<br>F</td>\r\n"));
        QVERIFY(bytes.contains(
            "<td align=\"justiful\" valign=\"middle\" sdnum=\"1033;0;@\">Caf&eacute; &#128512; "
            "\"x\" &lt;/td&gt;&lt;/table&gt;</td>\r\n"));
        QCOMPARE(bytes.count("</table>"), 1);
        QVERIFY(!bytes.contains('?'));
    }

    void fileNamesOnOneDay() {
        TempCatalogue cat(false);
        const QString base = QString::fromUtf16(GeneralReport::BaseText);
        const QString folder = cat.path(u"RepTmp/"_s);
        QCOMPARE(ReportFolder(), folder);
        QVERIFY(QDir(folder).exists());
        const QString first = ReportFileName(base, u"08.12.2026"_s);
        QCOMPARE(first, folder + u"Общий отчет 08.12.2026.htm"_s);
        cat.writeFile(u"RepTmp/Общий отчет 08.12.2026.htm"_s, "x");
        const QString second = ReportFileName(base, u"08.12.2026"_s);
        QCOMPARE(second, folder + u"Общий отчет 08.12.2026 (1).htm"_s);
        cat.writeFile(u"RepTmp/Общий отчет 08.12.2026 (1).htm"_s, "x");
        QCOMPARE(ReportFileName(base, u"08.12.2026"_s), folder + u"Общий отчет 08.12.2026 (2).htm"_s);
        // The first one deleted: its name is free again.
        QVERIFY(QFile::remove(first));
        QCOMPARE(ReportFileName(base, u"08.12.2026"_s), first);
        // Another base text does not collide; another day starts without a counter.
        QCOMPARE(ReportFileName(u"Детальный отчет "_s, u"08.12.2026"_s),
                 folder + u"Детальный отчет 08.12.2026.htm"_s);
        QCOMPARE(ReportFileName(base, u"09.12.2026"_s), folder + u"Общий отчет 09.12.2026.htm"_s);
    }

    void datesWithSeparatorsGiveOneFileName() {
        TempCatalogue cat(false);
        const QLocale us(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(ReportFileDate(QDate(2026, 12, 8), us), u"12-8-26"_s);
        QCOMPARE(ReportFileDate(QDate(2026, 12, 8), QLocale(QLocale::Russian, QLocale::Russia)),
                 u"08.12.2026"_s);
        QCOMPARE(FileNameSafeText(u"12/8/26 10:30 a\\b*?\"<>|\tc"_s), u"12-8-26 10-30 a-b-------c"_s);

        // Today's date in the test's own locale, whatever separators it has, stays inside RepTmp.
        const QString today = ReportFileName(QString::fromUtf16(GeneralReport::BaseText));
        QCOMPARE(QFileInfo(today).absolutePath() + u'/', cat.path(u"RepTmp/"_s));
        QCOMPARE(QFileInfo(today).fileName(),
                 u"Общий отчет "_s + ReportFileDate(QDate::currentDate()) + u".htm"_s);
        ReportListModel list;
        const QString written = GeneralReport::run(list);
        QCOMPARE(written, today);
        QVERIFY(QFile::exists(written));
        QCOMPARE(QDir(cat.path(u"RepTmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(today).fileName()});
    }

    void runWritesAndHandsToTheSpreadsheet() {
        TempCatalogue cat(false);
        auto source = makeSourceList({u"Район"_s}, {{u"Центр"_s}}, {1});
        ReportListModel list;
        list.copyFrom(*source, {});
        const QString first = GeneralReport::run(list);
        const QString second = GeneralReport::run(list);
        QCOMPARE(QFileInfo(second).fileName(),
                 u"Общий отчет "_s + ReportFileDate(QDate::currentDate()) + u" (1).htm"_s);
        QCOMPARE(readAll(first), readAll(second));
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 2);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).opener, ShellLaunch::Opener::Spreadsheet);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).target, first);
        QCOMPARE(ShellLaunchTestSeam::launches().at(1).target, second);
    }

    void unwritableFileIsReportedAndNotOpened() {
        TempCatalogue cat(false);
        // RepTmp cannot be made: a file stands in its place.
        cat.writeFile(u"RepTmp"_s, "not a folder");
        ReportListModel list;
        const QString expectedPath =
            cat.path(u"RepTmp/Общий отчет "_s) + ReportFileDate(QDate::currentDate()) + u".htm"_s;
        try {
            GeneralReport::run(list);
            QFAIL("the report was written");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), u"Cannot create file \"%1\". Not a directory"_s.arg(expectedPath));
        }
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }
};

QTEST_MAIN(TestGeneralReport)
#include "tst_generalreport.moc"
