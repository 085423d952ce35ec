#include "Dialogs.h"
#include "ItemDetailsPanel.h"
#include "ItemListModel.h"
#include "JpegCodec.h"
#include "PictureLoader.h"
#include "PictureService.h"
#include "PictureView.h"
#include "Program.h"
#include "SlideStrip.h"
#include "TMainForm.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

using namespace Qt::StringLiterals;

namespace {

// Columns: Группа, Район.
const QByteArray TwoColumns = "[Checked]\nField1=1\nField2=1\n[Width]\nField1=90\nField2=90\n";

QImage filled(QSize size, const QColor& colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

QByteArray jpeg(const QColor& colour, QSize size = QSize(320, 240)) {
    return JpegCodec::encode(filled(size, colour), 90);
}

QByteArray saved(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        qFatal("cannot write %s", format);
    return bytes;
}

bool near(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) < 24 && qAbs(qGreen(a) - qGreen(b)) < 24 && qAbs(qBlue(a) - qBlue(b)) < 24;
}

const QColor Red(220, 30, 30);
const QColor Blue(30, 40, 220);
const QColor Green(30, 170, 40);

struct Fixture {
    TempCatalogue cat;
    Program program;

    Fixture() { cat.writeFile(u"fields.ini"_s, TwoColumns); }
    void start() {
        DialogsTestSeam::clear();
        if (!program.start())
            qFatal("the program did not start");
    }
    int addSlide(int item, const QString& ext, const QByteArray& picture,
                 const QVariant& notes = QVariant()) {
        cat.exec(u"insert into slides (parent_id, ext, picture, notes) values (?, ?, ?, ?)"_s,
                 {item, ext, picture, notes});
        return cat.scalar(u"select max(id) from slides"_s).toInt();
    }

    TMainForm& main() { return *program.mainForm(); }
    QTableView& list() { return *main().itemList(); }
    QLabel& text() { return *main().findChild<QLabel*>(u"StaticText1"_s); }
    SlideStrip& strip() { return *main().findChild<SlideStrip*>(u"ScrollBox1"_s); }
    QTabWidget& pages() {
        return *main().findChild<ItemDetailsPanel*>(u"Panel2"_s)->findChild<QTabWidget*>();
    }

    int rowOf(int id) { return main().itemModel()->rowOfId(id); }
    void clickRow(int row) {
        const QRect r = list().visualRect(main().itemModel()->index(row, 0));
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, r.center());
    }
    void clickItem(int id) { clickRow(rowOf(id)); }
    void clickEmptyArea() {
        const QPoint below(10, list().viewport()->height() - 4);
        QVERIFY(!list().indexAt(below).isValid());
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, below);
    }
    bool waitForPictures() { return strip().pictureService().waitForBatch(30000); }

    QStringList captions() {
        QStringList r;
        for (int i = 0; i < strip().count(); ++i)
            r.append(strip().cell(i)->caption()->text());
        return r;
    }
    QList<QRgb> centreColours() {
        QList<QRgb> r;
        for (int i = 0; i < strip().count(); ++i) {
            const QImage& image = strip().cell(i)->picture()->image();
            r.append(image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2));
        }
        return r;
    }
};

QString expectedText(const QStringList& values) {
    const QStringList labels = {
        u"Район: "_s, u"Группа: "_s,       u"Санузел: "_s,     u"Тип кв.: "_s,     u"Печка: "_s,
        u"Дверь: "_s, u"Перигородка: "_s,  u"Газ: "_s,         u"Конализация: "_s, u"Гараж: "_s,
        u"Вода: "_s,  u"Тип строения: "_s, u"Колонка: "_s,     u"Комноты: "_s,     u"Площадь: "_s,
        u"Этаж: "_s,  u"Этажность: "_s,    u"Особенности: "_s, u"Стоимость: "_s,   u"Долг: "_s};
    QStringList lines;
    for (int i = 0; i < labels.size(); ++i)
        lines.append(labels[i] + values.value(i));
    return lines.join(u"\r\n"_s);
}

} // namespace

class ItemDetailsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { DialogsTestSeam::clear(); }

    void textHasTheTwentyLinesInOrder() {
        Fixture f;
        const int full = f.cat.addItem({{u"rajon"_s, u"Центр"_s},
                                        {u"grupa"_s, u"Продажа"_s},
                                        {u"sanuzel"_s, u"Раздельный"_s},
                                        {u"tip_kv"_s, u"Хрущёвка"_s},
                                        {u"pech"_s, u"Нет"_s},
                                        {u"dver"_s, u"Железная"_s},
                                        {u"perigorodka"_s, u"Кирпич"_s},
                                        {u"gaz"_s, u"Есть"_s},
                                        {u"konaliz"_s, u"Центральная"_s},
                                        {u"garazh"_s, u"Нет"_s},
                                        {u"voda"_s, u"Горячая"_s},
                                        {u"tip_stroen"_s, u"Панель"_s},
                                        {u"kolonka"_s, u"Газовая"_s},
                                        {u"komnoty"_s, u"3"_s},
                                        {u"obsh_plosh"_s, 45.5},
                                        {u"etazh"_s, 3},
                                        {u"etazhnost"_s, 9},
                                        {u"osob"_s, u"Балкон\r\nЛоджия <b>застеклена</b>"_s},
                                        {u"stoim"_s, 1000},
                                        {u"dolg"_s, 0},
                                        {u"sost"_s, u"Хорошее"_s},
                                        {u"kontakt_inf"_s, u"тел. 123"_s},
                                        {u"date_reg"_s, u"2024-03-05 00:00:00"_s}});
        const int bare = f.cat.addItem({{u"grupa"_s, u"Обмен"_s}});
        f.start();

        f.clickItem(full);
        QCOMPARE(f.text().text(),
                 expectedText({u"Центр"_s,    u"Продажа"_s, u"Раздельный"_s,
                               u"Хрущёвка"_s, u"Нет"_s,     u"Железная"_s,
                               u"Кирпич"_s,   u"Есть"_s,    u"Центральная"_s,
                               u"Нет"_s,      u"Горячая"_s, u"Панель"_s,
                               u"Газовая"_s,  u"3"_s,       u"45.5"_s,
                               u"3"_s,        u"9"_s,       u"Балкон\r\nЛоджия <b>застеклена</b>"_s,
                               u"1000"_s,     u"0"_s}));
        // The features span their own lines between "Особенности: " and "Стоимость: ".
        QVERIFY(f.text().text().contains(
            u"\r\nОсобенности: Балкон\r\nЛоджия <b>застеклена</b>\r\nСтоимость: "_s));
        QVERIFY(!f.text().text().endsWith(u'\n'));
        // Shown as typed, not as markup, and readable by assistive technology as a label.
        QCOMPARE(f.text().textFormat(), Qt::PlainText);

        // Null values leave their labels alone.
        f.clickItem(bare);
        QCOMPARE(f.text().text(), expectedText({QString(), u"Обмен"_s}));
    }

    void onlyMouseClicksFillThePanel() {
        Fixture f;
        f.cat.addEntries(u"grupy"_s, {u"А"_s, u"Б"_s});
        const int first = f.cat.addItem({{u"grupa"_s, u"А"_s}, {u"rajon"_s, u"Первый"_s}});
        const int second = f.cat.addItem({{u"grupa"_s, u"Б"_s}, {u"rajon"_s, u"Второй"_s}});
        f.addSlide(first, u".jpg"_s, jpeg(Red), u"первый"_s);
        f.addSlide(second, u".jpg"_s, jpeg(Blue), u"второй"_s);
        f.start();
        // The program's own first selection does not fill it.
        QCOMPARE(f.main().selectedItemId(), first);
        QVERIFY(f.text().text().isEmpty());
        QCOMPARE(f.strip().count(), 0);

        f.clickItem(first);
        QVERIFY(f.waitForPictures());
        const QString firstText = f.text().text();
        QVERIFY(firstText.startsWith(u"Район: Первый\r\nГруппа: А\r\n"_s));
        QCOMPARE(f.captions(), QStringList{u"Примечание: первый"_s});

        // Keyboard moves select without filling.
        f.list().setFocus();
        QTest::keyClick(&f.list(), Qt::Key_Down);
        QCOMPARE(f.main().selectedItemId(), second);
        QCOMPARE(f.text().text(), firstText);
        QCOMPARE(f.captions(), QStringList{u"Примечание: первый"_s});

        // Refresh, sort and filter leave the panel as it is.
        f.main().findChild<QToolButton*>(u"SpeedButton7"_s)->click();
        QHeaderView* header = f.list().horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(1) + 10, header->height() / 2));
        QCOMPARE(f.main().sortColumn(), 1);
        auto* group = f.main().findChild<QComboBox*>(u"GroupCB"_s);
        group->setCurrentIndex(group->findText(u"Б"_s));
        QCOMPARE(f.main().itemModel()->rowCount(), 1);
        QCOMPARE(f.text().text(), firstText);
        QCOMPARE(f.captions(), QStringList{u"Примечание: первый"_s});
        QVERIFY(near(f.centreColours().value(0), Red.rgb()));

        // A click fills it.
        f.clickItem(second);
        QVERIFY(f.waitForPictures());
        QVERIFY(f.text().text().startsWith(u"Район: Второй\r\nГруппа: Б\r\n"_s));
        QCOMPARE(f.captions(), QStringList{u"Примечание: второй"_s});
        QVERIFY(near(f.centreColours().value(0), Blue.rgb()));
        QVERIFY(DialogsTestSeam::shown().isEmpty());
    }

    void clickOnEmptyAreaEmptiesTheTextAndKeepsThePhotos() {
        Fixture f;
        const int item = f.cat.addItem({{u"rajon"_s, u"Центр"_s}});
        f.addSlide(item, u".jpg"_s, jpeg(Red), u"один"_s);
        f.addSlide(item, u".jpg"_s, jpeg(Green), u"два"_s);
        f.start();
        f.clickItem(item);
        QVERIFY(f.waitForPictures());
        QVERIFY(f.text().text().startsWith(u"Район: Центр\r\n"_s));

        f.clickEmptyArea();
        QVERIFY(!f.main().selectedItemId());
        QCOMPARE(f.text().text(), QString());
        QCOMPARE(f.captions(), (QStringList{u"Примечание: один"_s, u"Примечание: два"_s}));
        QVERIFY(near(f.centreColours().value(0), Red.rgb()));
        QVERIFY(near(f.centreColours().value(1), Green.rgb()));
    }

    void deleteLeavesTheDeletedItemShown() {
        Fixture f;
        const int item = f.cat.addItem({{u"rajon"_s, u"Центр"_s}});
        f.cat.addItem({{u"rajon"_s, u"Север"_s}});
        f.addSlide(item, u".jpg"_s, jpeg(Red), u"фото"_s);
        f.start();
        f.clickItem(item);
        QVERIFY(f.waitForPictures());
        const QString text = f.text().text();

        DialogsTestSeam::queueAnswer(Dialogs::Answer::Yes);
        f.main().SpeedButton6Click();
        QCOMPARE(f.cat.scalar(u"select count(*) from items where id=?"_s, {item}).toInt(), 0);
        QCOMPARE(f.text().text(), text);
        QCOMPARE(f.captions(), QStringList{u"Примечание: фото"_s});
        QCOMPARE(f.strip().cell(0)->picture()->state(), PictureView::State::Shown);
    }

    void itemWithoutPhotosEmptiesTheStrip() {
        Fixture f;
        const int with = f.cat.addItem({{u"rajon"_s, u"А"_s}});
        const int without = f.cat.addItem({{u"rajon"_s, u"Б"_s}});
        f.addSlide(with, u".jpg"_s, jpeg(Red));
        f.start();
        f.clickItem(with);
        QVERIFY(f.waitForPictures());
        QCOMPARE(f.strip().count(), 1);
        f.clickItem(without);
        QCOMPARE(f.strip().count(), 0);
        QVERIFY(f.text().text().startsWith(u"Район: Б\r\n"_s));
        QVERIFY(!f.strip().isLoading());
    }

    void slidesAreStackedFittedAndCentred() {
        Fixture f;
        const int item = f.cat.addItem({{u"rajon"_s, u"А"_s}});
        // Wide, tall, upper-case extension, a bitmap and an icon; a null and an empty note.
        f.addSlide(item, u".jpg"_s, jpeg(Red, QSize(800, 200)), u"широкий"_s);
        f.addSlide(item, u".JPG"_s, jpeg(Blue, QSize(150, 600)), QVariant());
        f.addSlide(item, u".bmp"_s, saved(filled(QSize(90, 60), Green), "BMP"), u""_s);
        f.addSlide(item, u".Ico"_s, saved(filled(QSize(32, 32), Red), "ICO"), u"значок"_s);
        f.start();
        f.clickItem(item);
        // Entries are in place, at their final size, before any picture arrives.
        QCOMPARE(f.strip().count(), 4);
        f.pages().setCurrentIndex(1);
        QVERIFY(QTest::qWaitForWindowExposed(&f.main()));
        QVERIFY(f.waitForPictures());

        QCOMPARE(f.captions(), (QStringList{u"Примечание: широкий"_s, u"Примечание: "_s, u"Примечание: "_s,
                                            u"Примечание: значок"_s}));
        const QList<QRgb> colours = f.centreColours();
        const QList<QRgb> expected = {Red.rgb(), Blue.rgb(), Green.rgb(), Red.rgb()};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(near(colours[i], expected[i]), qPrintable(QString::number(i)));

        const int stripWidth = f.strip().width();
        int top = 0;
        for (int i = 0; i < 4; ++i) {
            SlideCell* cell = f.strip().cell(i);
            QCOMPARE(cell->height(), stripWidth - 20);
            QCOMPARE(cell->width(), f.strip().viewport()->width());
            QCOMPARE(cell->y(), top); // one below the other
            top += cell->height();
            QCOMPARE(cell->caption()->height(), 30);
            QCOMPARE(cell->caption()->geometry().bottom(), cell->height() - 1);
            PictureView* picture = cell->picture();
            QCOMPARE(picture->state(), PictureView::State::Shown);
            // The size asked for is the area's size.
            QCOMPARE(picture->size(), f.strip().pictureSize());
            // Fitted and centred: touching two opposite sides, equal margins on the others.
            const QRect shown = picture->pictureRect();
            const QRect area = picture->rect();
            const bool fullWidth = shown.width() == area.width();
            QVERIFY(fullWidth || shown.height() == area.height());
            if (fullWidth)
                QVERIFY(qAbs(shown.top() - (area.height() - shown.bottom() - 1)) <= 1);
            else
                QVERIFY(qAbs(shown.left() - (area.width() - shown.right() - 1)) <= 1);
        }
        // Proportions kept: the wide one is four times as wide as high.
        const QRect wide = f.strip().cell(0)->picture()->pictureRect();
        QVERIFY(qAbs(wide.width() - 4 * wide.height()) <= 4);
        // Pictures are decoded at the area's size, never larger.
        const QSize decoded = f.strip().cell(1)->picture()->image().size();
        QVERIFY(decoded.height() <= f.strip().pictureSize().height());
    }

    void aSlideThatFailsDoesNotStopTheOthers() {
        Fixture f;
        const int item = f.cat.addItem({{u"rajon"_s, u"А"_s}});
        const QByteArray good = jpeg(Red, QSize(400, 300));
        QByteArray truncated = jpeg(Blue, QSize(400, 300));
        truncated.truncate(truncated.size() / 2);
        const QByteArray text = "not a picture at all";
        f.addSlide(item, u".jpg"_s, good, u"1"_s);
        f.addSlide(item, u".xyz"_s, good, u"2"_s);
        f.addSlide(item, u".jpg"_s, text, u"3"_s);
        f.addSlide(item, u""_s, good, u"4"_s);
        f.addSlide(item, u".jpeg"_s, truncated, u"5"_s);
        f.addSlide(item, u".bmp"_s, saved(filled(QSize(40, 40), Green), "BMP"), u"6"_s);
        f.start();
        f.clickItem(item);
        QVERIFY(f.waitForPictures());
        QVERIFY(DialogsTestSeam::shown().isEmpty());

        QCOMPARE(f.strip().count(), 6);
        const QSize target = f.strip().pictureSize();
        const auto reason = [&](const QByteArray& bytes, const QString& ext) {
            return PictureLoader::load(bytes, ext, target).failure;
        };
        const auto view = [&](int i) { return f.strip().cell(i)->picture(); };
        QCOMPARE(view(0)->state(), PictureView::State::Shown);
        QCOMPARE(view(1)->state(), PictureView::State::Failed);
        QCOMPARE(view(1)->failure(), reason(good, u".xyz"_s));
        QCOMPARE(view(2)->state(), PictureView::State::Failed);
        QCOMPARE(view(2)->failure(), reason(text, u".jpg"_s));
        QCOMPARE(view(3)->state(), PictureView::State::Failed);
        QCOMPARE(view(3)->failure(), reason(good, QString()));
        QVERIFY(!view(1)->failure().isEmpty());
        QVERIFY(view(1)->failure() != view(2)->failure());
        // Part of a damaged picture is shown, with its mark.
        QCOMPARE(view(4)->state(), PictureView::State::Shown);
        QVERIFY(view(4)->isIncomplete());
        QCOMPARE(view(5)->state(), PictureView::State::Shown);
        QVERIFY(near(f.centreColours()[5], Green.rgb()));
    }

    void aSecondClickAbandonsTheRunningFill() {
        Fixture f;
        const int first = f.cat.addItem({{u"rajon"_s, u"А"_s}});
        const int second = f.cat.addItem({{u"rajon"_s, u"Б"_s}});
        const QByteArray large = jpeg(Red, QSize(3000, 2000));
        for (int i = 0; i < 8; ++i)
            f.addSlide(first, u".jpg"_s, large, u"первый %1"_s.arg(i));
        f.addSlide(second, u".jpg"_s, jpeg(Blue), u"второй 0"_s);
        f.addSlide(second, u".jpg"_s, jpeg(Blue), u"второй 1"_s);
        f.start();

        f.clickItem(first);
        f.clickItem(second);
        QVERIFY(f.waitForPictures());
        // Late pictures of the first item would arrive by now.
        QTest::qWait(300);
        QCOMPARE(f.captions(), (QStringList{u"Примечание: второй 0"_s, u"Примечание: второй 1"_s}));
        const QList<QRgb> colours = f.centreColours();
        QVERIFY(near(colours[0], Blue.rgb()));
        QVERIFY(near(colours[1], Blue.rgb()));
        QCOMPARE(f.strip().widget()->findChildren<SlideCell*>().size(), 2);
        QVERIFY(f.text().text().startsWith(u"Район: Б\r\n"_s));
    }
};

QTEST_MAIN(ItemDetailsTest)
#include "ItemDetailsTest.moc"
