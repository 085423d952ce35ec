#include "AppError.h"
#include "Database.h"
#include "DetailedReport.h"
#include "ReportFileName.h"
#include "ShellLaunch.h"
#include "SlideStore.h"
#include "TestSupport.h"
#include "Windows1251.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString lines(const QStringList& l) {
    return l.join(u"\r\n"_s) + u"\r\n"_s;
}

QString today() {
    return ReportFileDate(QDate::currentDate());
}

QByteArray pngPicture(QColor colour) {
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray everyByte() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes + "\r\n\n\r";
}

const QStringList Head{u"<HTML><HEAD><Title>&#1044;&#1077;&#1090;&#1072;&#1083;&#1100;&#1085;&#1099;&#1081; "
                       u"&#1086;&#1090;&#1095;&#1077;&#1090;</Title><meta http-equiv=\"Content-Type\" "
                       u"content=\"text/html; charset=windows-1251\"></Head><Body><H3 align=center>"_s,
                       u"Детальный отчет</H3><br>"_s};

// The attribute lines of the item that fullItem() makes.
const QStringList FullAttributes{
    u"<p><b>Район:</b> A<B & C<br>"_s, // escaped below
    u"<b>Группа:</b> Продажа<br>"_s,
    u"<b>Санузел:</b> раздельный<br>"_s,
    u"<b>Тип кв.:</b> хрущевка<br>"_s,
    u"<b>Печка:</b> <br>"_s,
    u"<b>Дверь:</b> железная<br>"_s,
    u"<b>Перигородка:</b> кирпич<br>"_s,
    u"<b>Газ:</b> есть<br>"_s,
    u"<b>Конализация:</b> центральная<br>"_s,
    u"<b>Гараж:</b> нет<br>"_s,
    u"<b>Вода:</b> горячая<br>"_s,
    u"<b>Тип строения:</b> панель<br>"_s,
    u"<b>Колонка:</b> Café 😀<br>"_s,
    u"<b>Комноты:</b> 2<br>"_s,
    u"<b>Площадь:</b> 54.5<br>"_s,
    u"<b>Этаж:</b> 3<br>"_s,
    u"<b>Этажность:</b> 9<br>"_s,
    u"<b>Особенности:</b> угловая<br>"_s,
    u"<b>Стоимость:</b> 1500000.5<br>"_s,
    u"<b>Долг:</b> 0<br></p>"_s,
};

QStringList escapedFullAttributes() {
    QStringList l = FullAttributes;
    l[0] = u"<p><b>Район:</b> A&lt;B &amp; C<br>"_s;
    l[12] = u"<b>Колонка:</b> Caf&eacute; &#128512;<br>"_s;
    return l;
}

int fullItem(TempCatalogue& cat) {
    // pech is left null; sost, kontakt_inf and date_reg are never shown.
    return cat.addItem({{u"rajon"_s, u"A<B & C"_s},
                        {u"grupa"_s, u"Продажа"_s},
                        {u"sanuzel"_s, u"раздельный"_s},
                        {u"tip_kv"_s, u"хрущевка"_s},
                        {u"dver"_s, u"железная"_s},
                        {u"perigorodka"_s, u"кирпич"_s},
                        {u"gaz"_s, u"есть"_s},
                        {u"konaliz"_s, u"центральная"_s},
                        {u"garazh"_s, u"нет"_s},
                        {u"voda"_s, u"горячая"_s},
                        {u"tip_stroen"_s, u"панель"_s},
                        {u"kolonka"_s, u"Café 😀"_s},
                        {u"komnoty"_s, u"2"_s},
                        {u"obsh_plosh"_s, 54.5},
                        {u"etazh"_s, 3},
                        {u"etazhnost"_s, 9},
                        {u"osob"_s, u"угловая"_s},
                        {u"stoim"_s, 1500000.5},
                        {u"dolg"_s, 0},
                        {u"sost"_s, u"SOST"_s},
                        {u"kontakt_inf"_s, u"SECRET"_s},
                        {u"date_reg"_s, u"2026-01-02 00:00:00"_s}});
}

int addSlide(TempCatalogue& cat, int itemId, const QString& ext, const QByteArray& picture,
             const QVariant& notes) {
    cat.exec(u"insert into slides (parent_id, ext, picture, notes) values (?, ?, ?, ?)"_s,
             {itemId, ext, picture, notes});
    return cat.scalar(u"select max(id) from slides"_s).toInt();
}

} // namespace

class TestDetailedReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunchTestSeam::clear();
    }

    void pageWithoutPhotos() {
        TempCatalogue cat;
        const int id = fullItem(cat);
        cat.addItem({{u"rajon"_s, u"другой"_s}});
        StoreQuery query;
        const QString page = DetailedReport::run(query, id);
        QCOMPARE(page, cat.path(u"RepTmp/Детальный отчет "_s) + today() + u".htm"_s);
        const QByteArray bytes = readAll(page);
        QCOMPARE(Windows1251::decode(bytes),
                 lines(Head + escapedFullAttributes() + QStringList{u"</Body></Html>"_s}));
        QVERIFY(bytes.contains("\r\n\xC4\xE5\xF2\xE0\xEB\xFC\xED\xFB\xE9 \xEE\xF2\xF7\xE5\xF2</H3><br>\r\n"));
        QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
        QVERIFY(!bytes.contains("SECRET"));
        QVERIFY(!bytes.contains("SOST"));
        // No photo folder; only the page in RepTmp.
        QCOMPARE(QDir(cat.path(u"RepTmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(page).fileName()});
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 1);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).opener, ShellLaunch::Opener::WordProcessor);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).target, page);
        // The query keeps the last statement's result.
        QCOMPARE(query.text(), u"select * from slides where parent_id="_s + QString::number(id));
    }

    void nullAttributesShowLabelsOnly() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        StoreQuery query;
        const QString page = DetailedReport::write(query, id);
        QStringList expected = Head;
        for (QString l : FullAttributes)
            expected << l.left(l.indexOf(u"</b> "_s) + 5) +
                            (l.endsWith(u"</p>"_s) ? u"<br></p>"_s : u"<br>"_s);
        expected << u"</Body></Html>"_s;
        QCOMPARE(expected.at(2), u"<p><b>Район:</b> <br>"_s);
        QCOMPARE(Windows1251::decode(readAll(page)), lines(expected));
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }

    void photosTwoPerRow_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("three leave the last row open") << 3;
    }

    void photosTwoPerRow() {
        QFETCH(int, count);
        TempCatalogue cat;
        const int id = cat.addItem({{u"rajon"_s, u"Центр"_s}});
        const int other = cat.addItem({});
        addSlide(cat, other, u".jpg"_s, "other item", u"чужое"_s);
        const QList<QByteArray> pictures{pngPicture(Qt::red), everyByte(), pngPicture(Qt::blue)};
        const QStringList exts{u".png"_s, u".jpg"_s, u".bmp"_s};
        const QVariantList notes{u"кухня <большая> & светлая"_s, QVariant(), u"вид"_s};
        QList<int> slideIds;
        for (int i = 0; i < count; ++i)
            slideIds << addSlide(cat, id, exts.at(i), pictures.at(i), notes.at(i));

        StoreQuery query;
        const QString page = DetailedReport::run(query, id);
        const QString folderName = u"Детальный отчет "_s + today();
        const QString folder = cat.path(u"RepTmp/"_s) + folderName;
        QCOMPARE(page, folder + u".htm"_s);

        QStringList expected = Head;
        for (QString l : FullAttributes)
            expected << l.left(l.indexOf(u"</b> "_s) + 5) +
                            (l.endsWith(u"</p>"_s) ? u"<br></p>"_s : u"<br>"_s);
        expected[2] = u"<p><b>Район:</b> Центр<br>"_s;
        expected << u"<Table align=center width=95% border=0 cellspacing=\"0\">"_s;
        const QStringList notesHtml{u"кухня &lt;большая&gt; &amp; светлая"_s, QString(), u"вид"_s};
        for (int i = 0; i < count; ++i) {
            expected << (i % 2 == 0 ? u"<tr><td>"_s : u"<td>"_s);
            expected << u"<img  width=250 height=250 src=\""_s + folderName + u'/' +
                            QString::number(slideIds.at(i)) + exts.at(i) + u"\">"_s;
            expected << u"<p><b>Примечание:</b> "_s + notesHtml.at(i) + u"</p>"_s;
            expected << (i % 2 == 0 ? u"</td>"_s : u"</td></tr>"_s);
        }
        expected << u"</table>"_s << u"</Body></Html>"_s;
        QCOMPARE(Windows1251::decode(readAll(page)), lines(expected));

        // One file per photograph of this item, bytes unchanged.
        QStringList files;
        for (int i = 0; i < count; ++i) {
            const QString name = QString::number(slideIds.at(i)) + exts.at(i);
            files << name;
            QCOMPARE(readAll(folder + u'/' + name), pictures.at(i));
        }
        files.sort();
        QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), files);
    }

    void secondReportOfTheDayHasItsOwnFolder() {
        TempCatalogue cat;
        const int id = cat.addItem({{u"rajon"_s, u"Центр"_s}});
        const int slide = addSlide(cat, id, u".jpg"_s, "first bytes", u"n"_s);
        StoreQuery query;
        const QString first = DetailedReport::write(query, id);
        cat.exec(u"update slides set picture = ? where id = ?"_s, {QByteArray("second bytes"), slide});
        const QString second = DetailedReport::write(query, id);
        const QString base = cat.path(u"RepTmp/Детальный отчет "_s) + today();
        QCOMPARE(first, base + u".htm"_s);
        QCOMPARE(second, base + u" (1).htm"_s);
        const QString name = QString::number(slide) + u".jpg"_s;
        QCOMPARE(readAll(base + u'/' + name), QByteArray("first bytes"));
        QCOMPARE(readAll(base + u" (1)/"_s + name), QByteArray("second bytes"));
        QVERIFY(readAll(second).contains("src=\"\xC4\xE5\xF2\xE0\xEB\xFC\xED\xFB\xE9 \xEE\xF2\xF7\xE5\xF2 " +
                                         Windows1251::encodeHtml(today(), Windows1251::Html::Attribute) +
                                         " (1)/" + name.toLatin1() + "\">"));
    }

    void stalePhotoFolderKeepsItsOtherFiles() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        const int slide = addSlide(cat, id, u".jpg"_s, "new", QVariant());
        const QString folder = u"RepTmp/Детальный отчет "_s + today();
        QVERIFY(QDir().mkpath(cat.path(folder)));
        cat.writeFile(folder + u'/' + QString::number(slide) + u".jpg"_s,
                      "old picture, longer than the new one");
        cat.writeFile(folder + u"/keep.txt"_s, "keep");
        StoreQuery query;
        QCOMPARE(DetailedReport::write(query, id), cat.path(folder + u".htm"_s));
        QCOMPARE(cat.readFile(folder + u'/' + QString::number(slide) + u".jpg"_s), QByteArray("new"));
        QCOMPARE(cat.readFile(folder + u"/keep.txt"_s), QByteArray("keep"));
    }

    void storedExtensionStaysInsideTheFolder() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        const int slide = addSlide(cat, id, u"/../x\".jpg"_s, "p", QVariant());
        // 255 bytes a name: a long extension gives way, never by half a letter.
        const QString longExt = u"."_s + QString(200, u'ж');
        const QString other = QString::number(addSlide(cat, id, longExt, "q", QVariant()));
        StoreQuery query;
        const QString page = DetailedReport::write(query, id);
        const QString folder = page.left(page.size() - 4);
        const QString name = QString::number(slide) + u"-..-x-.jpg"_s;
        QCOMPARE(readAll(folder + u'/' + name), QByteArray("p"));
        const QString shortened = other + longExt.left(1 + (254 - other.size()) / 2);
        QCOMPARE(readAll(folder + u'/' + shortened), QByteArray("q"));
        QVERIFY(
            readAll(page).contains('/' + Windows1251::encodeHtml(shortened, Windows1251::Html::Attribute)));
        QCOMPARE(QDir(cat.path(u"RepTmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QFileInfo(folder).fileName(), QFileInfo(page).fileName()}));
    }

    void nothingWithoutSelectionOrItem() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        addSlide(cat, id, u".jpg"_s, "p", QVariant());
        StoreQuery query;
        QCOMPARE(DetailedReport::run(query, std::nullopt), QString());
        QCOMPARE(DetailedReport::run(query, id + 100), QString());
        cat.exec(u"delete from items where id = ?"_s, {id});
        QCOMPARE(DetailedReport::run(query, id), QString());
        QVERIFY(!QFileInfo::exists(cat.path(u"RepTmp"_s)));
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }

    void unwritablePhotoStopsTheReport() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        addSlide(cat, id, u".jpg"_s, "one", QVariant());
        const int second = addSlide(cat, id, u".jpg"_s, "two", QVariant());
        const QString folder = cat.path(u"RepTmp/Детальный отчет "_s) + today();
        // A folder where the second photo's file should go.
        const QString blocked = folder + u'/' + QString::number(second) + u".jpg"_s;
        QVERIFY(QDir().mkpath(blocked));
        StoreQuery query;
        try {
            DetailedReport::run(query, id);
            QFAIL("the report was written");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), u"Cannot create file \"%1\". Is a directory"_s.arg(blocked));
        }
        // The photo this attempt wrote is gone; the folder, there before, stays.
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QFileInfo(blocked).fileName()});
        QVERIFY(!QFileInfo::exists(folder + u".htm"_s));
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }

    // A disk that fills up half-way: the attempt's page, photos and folder go, an earlier report stays.
    void failedReportLeavesNothingOfItsOwn() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        addSlide(cat, id, u".jpg"_s, "one", QVariant());
        addSlide(cat, id, u".jpg"_s, QByteArray(4096, 'p'), QVariant());
        StoreQuery query;
        const QString earlier = DetailedReport::write(query, id);
        {
            FileSizeLimit limit(1024);
            QVERIFY_THROWS_EXCEPTION(AppError, DetailedReport::write(query, id));
        }
        const QString folder = earlier.left(earlier.size() - 4);
        QCOMPARE(QDir(cat.path(u"RepTmp"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 (QStringList{QFileInfo(folder).fileName(), QFileInfo(earlier).fileName()}));
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
    }

    void unwritablePageIsReported() {
        TempCatalogue cat;
        const int id = cat.addItem({});
        cat.writeFile(u"RepTmp"_s, "not a folder");
        StoreQuery query;
        try {
            DetailedReport::run(query, id);
            QFAIL("the report was written");
        } catch (const AppError& e) {
            QCOMPARE(e.text(), u"Cannot create file \"%1\". Not a directory"_s.arg(
                                   cat.path(u"RepTmp/Детальный отчет "_s) + today() + u".htm"_s));
        }
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }
};

QTEST_MAIN(TestDetailedReport)
#include "tst_detailedreport.moc"
