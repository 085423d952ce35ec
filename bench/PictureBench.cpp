// Times the details panel on an item with ten 4000 x 3000 photographs (JPEG, quality 85):
//  (a) the real thing: the main window on a temporary catalogue (offscreen), from the mouse
//      click on the item's row until the last picture is shown on the page "Слайды";
//  (b) libjpeg at the same DCT scale, the ten photographs one after another on one thread;
//  (c) the straightforward way: full-size decode, then scaling down to the same size;
//  (d) the item card's strip on an item with thirty of the photographs: how long the window is
//      busy (rows read, cells laid out) and when the last picture is shown.
// Prints the best of a few runs of each, the gain of scaled decoding (c/b) and, last, the ratio
// a/b. It never fails on the numbers.
#include "AppPaths.h"
#include "Database.h"
#include "ItemDetailsPanel.h"
#include "ItemListModel.h"
#include "JpegCodec.h"
#include "PictureLoader.h"
#include "PictureService.h"
#include "Program.h"
#include "SlideStore.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "TKvartaEditForm.h"
#include "TMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int PhotoCount = 10;
constexpr int CardSlideCount = 30;
constexpr int Repetitions = 3;
const QSize PhotoSize(4000, 3000);

qint64 bestOf(const std::function<void()>& run) {
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < Repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = qMin(best, timer.elapsed());
    }
    return best;
}

// Shapes, gradients and fine lines with sensor-like noise on top, so that the encoder has as
// much to do as with a real photograph.
QByteArray photo(int seed) {
    QRandomGenerator random(quint32(seed) * 7919u + 17u);
    QImage image(PhotoSize, QImage::Format_RGB32);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, PhotoSize.height());
        sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 90, 230));
        sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 140, 120));
        p.fillRect(image.rect(), sky);
        for (int i = 0; i < 400; ++i) {
            const QColor c =
                QColor::fromHsv(random.bounded(360), random.bounded(40, 220), random.bounded(40, 255));
            const QRectF r(random.bounded(PhotoSize.width()), random.bounded(PhotoSize.height()),
                           random.bounded(20, 900), random.bounded(20, 700));
            QLinearGradient g(r.topLeft(), r.bottomRight());
            g.setColorAt(0, c);
            g.setColorAt(1, c.darker(random.bounded(110, 250)));
            p.setPen(Qt::NoPen);
            p.setBrush(g);
            if (i % 3 == 0)
                p.drawEllipse(r);
            else
                p.drawRect(r);
        }
        for (int i = 0; i < 3000; ++i) {
            p.setPen(
                QPen(QColor::fromHsv(random.bounded(360), 60, random.bounded(256)), random.bounded(1, 4)));
            const QPoint a(random.bounded(PhotoSize.width()), random.bounded(PhotoSize.height()));
            p.drawLine(a, a + QPoint(random.bounded(-120, 120), random.bounded(-120, 120)));
        }
    }
    quint32 state = quint32(seed) + 1;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int(state >> 27) - 16; // -16..15
            const QRgb c = line[x];
            line[x] = qRgb(qBound(0, qRed(c) + n, 255), qBound(0, qGreen(c) + n, 255),
                           qBound(0, qBlue(c) + n, 255));
        }
    }
    return JpegCodec::encode(image, 85);
}

void run(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q(Database::connection());
    q.prepare(sql);
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        qFatal("statement failed: %s", qPrintable(sql));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    std::printf("building %d photographs of %d x %d at quality 85...\n", PhotoCount, PhotoSize.width(),
                PhotoSize.height());
    std::fflush(stdout);
    QList<QByteArray> photos;
    qint64 bytes = 0;
    for (int i = 0; i < PhotoCount; ++i) {
        photos.append(photo(i));
        bytes += photos.last().size();
    }

    // A catalogue with the item and its photographs, beside a stand-in for the program.
    QTemporaryDir folder;
    AppPaths::setExecutableFolderOverride(folder.path());
    const QString database = folder.filePath(u"db.MyDB"_s);
    Database::createSchema(database);
    Database::open(database);
    run(u"insert into items (rajon, grupa) values ('Центр', 'Продажа')"_s);
    for (int i = 0; i < PhotoCount; ++i)
        run(u"insert into slides (parent_id, ext, picture, notes) values (1, '.jpg', ?, ?)"_s,
            {photos[i], u"Фото %1"_s.arg(i + 1)});
    run(u"insert into items (rajon, grupa) values ('Север', 'Обмен')"_s);
    for (int i = 0; i < CardSlideCount; ++i)
        run(u"insert into slides (parent_id, ext, picture, notes) values (2, '.jpg', ?, ?)"_s,
            {photos[i % PhotoCount], u"Фото %1"_s.arg(i + 1)});
    Database::close();
    QFile layout(folder.filePath(u"fields.ini"_s));
    if (!layout.open(QIODevice::WriteOnly) || layout.write("[Checked]\nField1=1\nField2=1\n") < 0)
        qFatal("cannot write the column layout");
    layout.close();

    Program program;
    if (!program.start())
        qFatal("the program did not start");
    TMainForm& main = *program.mainForm();
    if (!QTest::qWaitForWindowExposed(&main))
        qFatal("the main window is not shown");
    auto* panel = main.findChild<ItemDetailsPanel*>(u"Panel2"_s);
    panel->findChild<QTabWidget*>()->setCurrentIndex(1);
    SlideStrip& strip = *panel->slideStrip();
    QTableView& list = *main.itemList();
    const QPoint row = list.visualRect(list.model()->index(main.itemModel()->rowOfId(1), 0)).center();

    const auto click = [&] {
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, row);
        if (strip.count() != PhotoCount || !strip.pictureService().waitForBatch(600000))
            qFatal("the panel did not fill");
        // Shown: painted on the screen, not only handed over.
        strip.viewport()->repaint();
    };
    click(); // threads started, code paged in

    const QSize target = strip.pictureSize() * strip.devicePixelRatio();
    const QSize fit = PictureLoader::fitSize(PhotoSize, target);
    const int denominator = PictureLoader::jpegDenominator(PhotoSize, target);
    std::printf("%.1f MB of JPEG; panel picture area %d x %d, picture %d x %d, DCT scale 1/%d; %d cores\n",
                double(bytes) / 1e6, target.width(), target.height(), fit.width(), fit.height(), denominator,
                QThread::idealThreadCount());

    const qint64 a = bestOf(click);
    const qint64 b = bestOf([&] {
        for (const QByteArray& p : photos)
            if (JpegCodec::decodeScaled(p, denominator).image.isNull())
                qFatal("decode failed");
    });
    const qint64 c = bestOf([&] {
        for (const QByteArray& p : photos) {
            const QImage full = JpegCodec::decode(p);
            if (full.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).isNull())
                qFatal("decode failed");
        }
    });

    // (d): the card shown (not modal, so that the bench can drive it) on its page "Слайды".
    TKvartaEditForm& card = *program.editForm();
    SlidesPage& page = *card.slidesPage();
    card.findChild<QTabWidget*>(u"PageControl1"_s)->setCurrentWidget(&page);
    card.show();
    if (!QTest::qWaitForWindowExposed(&card))
        qFatal("the card is not shown");
    page.setItemId(2);
    qint64 cardBusy = std::numeric_limits<qint64>::max();
    qint64 cardShown = std::numeric_limits<qint64>::max();
    for (int i = 0; i < Repetitions + 1; ++i) {
        QElapsedTimer timer;
        timer.start();
        page.LoadSlides();
        const qint64 busy = timer.elapsed();
        if (page.strip()->count() != CardSlideCount || !page.strip()->pictureService().waitForBatch(600000))
            qFatal("the card's strip did not fill");
        page.strip()->viewport()->repaint();
        if (i > 0) { // the first run starts the threads
            cardBusy = qMin(cardBusy, busy);
            cardShown = qMin(cardShown, timer.elapsed());
        }
    }
    card.hide();
    // The part of the busy time that reads the rows.
    qint64 cardRead = std::numeric_limits<qint64>::max();
    StoreQuery query;
    for (int i = 0; i < Repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (SlideStore::loadSlides(query, 2).size() != CardSlideCount)
            qFatal("the slides were not read");
        cardRead = qMin(cardRead, timer.elapsed());
    }

    std::printf("(a) click on the row until the last of %d photos is shown: %6lld ms  (%.1f ms a photo)\n",
                PhotoCount, static_cast<long long>(a), double(a) / PhotoCount);
    std::printf("(b) libjpeg at 1/%d, one thread:                           %6lld ms  (%.1f ms a photo)\n",
                denominator, static_cast<long long>(b), double(b) / PhotoCount);
    std::printf("(c) full-size decode, then scaled down, one thread:       %6lld ms  (%.1f ms a photo)\n",
                static_cast<long long>(c), double(c) / PhotoCount);
    std::printf("(d) card strip, %d photos: window busy %lld ms (rows read in %lld ms, cells laid out), last "
                "picture shown at %lld ms\n",
                CardSlideCount, static_cast<long long>(cardBusy), static_cast<long long>(cardRead),
                static_cast<long long>(cardShown));
    std::printf("scaled decoding gain (c/b): %.1fx (goal >= 3x)\n", double(c) / double(qMax<qint64>(1, b)));
    std::printf("panel/decode ratio: %.2f\n", double(a) / double(qMax<qint64>(1, b)));
    return 0;
}
