// Scanning a slide on the item card: a 300 dpi colour A4 page from SANE's test backend, from the
// press of "Сканировать" (and, separately, from the source dialog's "Scan") until the stored JPEG
// slide is shown in the card's strip, on an item without other slides; against reading the same
// page straight from SANE plus one JPEG encoding at quality 75.
// Not a test; run build/bench/tenemark-bench-cardscan and read the last line, "card scan/read ratio: R".

#include "AppPaths.h"
#include "Database.h"
#include "JpegCodec.h"
#include "SaneTestSupport.h"
#include "ScanBenchSupport.h"
#include "SlideStore.h"
#include "SlideStrip.h"
#include "SlidesPage.h"
#include "TDirectoryForm.h"
#include "TKvartaEditForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

using namespace ScanBench;

int main(int argc, char** argv) {
    const Process process(argc, argv);

    std::vector<double> direct;
    for (int i = 0; i < WarmUps + Runs; ++i) {
        QElapsedTimer t;
        t.start();
        readDirectly();
        direct.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    // A catalogue of one item, and the card on it.
    QTemporaryDir folder;
    AppPaths::setExecutableFolderOverride(folder.path());
    const QString path = folder.filePath(u"db.MyDB"_s);
    Database::createSchema(path);
    Database::open(path);
    int itemId = 0;
    {
        QSqlQuery q(Database::connection());
        if (!q.exec(
                u"insert into items (etazh, etazhnost, obsh_plosh, stoim, dolg) values (1, 9, 40, 0, 0)"_s) ||
            !q.exec(u"select max(id) from items"_s) || !q.next())
            qFatal("cannot create the item");
        itemId = q.value(0).toInt();
    }

    std::vector<double> fromPress, fromScan, stored;
    qsizetype jpegSize = 0;
    QSize pictureSize;
    {
        TDirectoryForm directory;
        TKvartaEditForm card(&directory);
        QTimer::singleShot(0, &card, [&] {
            if (!waitFor([&] { return card.isVisible(); }))
                qFatal("the card did not open");
            card.findChild<QTabWidget*>(u"PageControl1"_s)->setCurrentIndex(4);
            SlideStrip* strip = card.slidesPage()->strip();
            auto* scanButton = card.findChild<QPushButton*>(u"BitBtn2"_s);
            StoreQuery query;
            for (int i = 0; i < WarmUps + Runs; ++i) {
                QElapsedTimer press;
                press.start();
                scanButton->click();
                QDialog* dialog = nullptr;
                if (!waitFor([&] { return (dialog = readySourceDialog()) != nullptr; }))
                    qFatal("the source's dialog did not get ready");
                choose(dialog, "ModeCB", true);
                choose(dialog, "ResolutionCB", Dpi);
                dialog->findChild<QComboBox*>(u"PaperCB"_s)->setCurrentIndex(0); // A4
                QElapsedTimer scan;
                scan.start();
                dialog->findChild<QPushButton*>(u"ScanBtn"_s)->click();
                // Stored: the strip has its cell; shown: the cell's picture is decoded.
                if (!waitFor([&] { return strip->count() == 1; }))
                    qFatal("the scan was not stored");
                stored.push_back(double(scan.nsecsElapsed()) / 1e6);
                if (!waitFor([&] { return !strip->isLoading(); }))
                    qFatal("the scan was not shown");
                fromScan.push_back(double(scan.nsecsElapsed()) / 1e6);
                fromPress.push_back(double(press.nsecsElapsed()) / 1e6);

                // The item has no other slides for the next run.
                const QList<SlideRecord> slides = SlideStore::loadSlides(query, itemId);
                if (slides.size() != 1)
                    qFatal("expected one stored slide");
                jpegSize = slides.front().picture.size();
                pictureSize = JpegCodec::readHeader(slides.front().picture).size;
                SlideStore::deleteSlide(query, slides.front().id);
                card.LoadSlides();
            }
            card.reject();
        });
        card.OpenForEdit(itemId);
    }
    Database::close();

    const double d = median(direct);
    const double s = median(fromScan);
    const double p = median(fromPress);
    std::printf("page: %d x %d pixels, colour, %d dpi; stored JPEG q75 %lld bytes\n", pictureSize.width(),
                pictureSize.height(), Dpi, static_cast<long long>(jpegSize));
    std::printf("SANE read + JPEG encode:                         median %.1f ms of %d runs\n", d, Runs);
    std::printf("card, \"Сканировать\" to the slide in the strip:   median %.1f ms of %d runs\n", p, Runs);
    std::printf("card, dialog's \"Scan\" to the slide stored:       median %.1f ms of %d runs\n",
                median(stored), Runs);
    std::printf("card, dialog's \"Scan\" to the slide in the strip: median %.1f ms of %d runs\n", s, Runs);
    std::printf("card press/read ratio: %.2f\n", p / d);
    std::printf("card scan/read ratio: %.2f\n", s / d);
    return 0;
}
