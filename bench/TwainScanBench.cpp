// A 300 dpi colour A4 page from SANE's test backend: through the scanner component, the project's
// manager and its dialog (driven by its controls) until the picture is delivered and stored as
// JPEG quality 75, against reading the same page straight from SANE plus one JPEG encoding.
// Not a test; run build/bench/tenemark-bench-twainscan and read the last line,
// "scan/read ratio: R".

#include "JpegCodec.h"
#include "SaneTestSupport.h"
#include "ScanBenchSupport.h"
#include "TTWAIN.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

using namespace ScanBench;

int main(int argc, char** argv) {
    const Process process(argc, argv);

    std::vector<double> direct;
    qsizetype directJpeg = 0;
    for (int i = 0; i < WarmUps + Runs; ++i) {
        QElapsedTimer t;
        t.start();
        directJpeg = readDirectly();
        direct.push_back(double(t.nsecsElapsed()) / 1e6);
    }

    TTWAIN twain;
    QImage bitmap;
    int ready = 0;
    twain.setOnScanReady([&](TTWAIN*) { ++ready; });
    twain.Initialize();
    std::vector<double> through;
    qsizetype componentJpeg = 0;
    QSize size;
    for (int i = 0; i < WarmUps + Runs; ++i) {
        QElapsedTimer t;
        t.start();
        twain.Acquire(&bitmap);
        QDialog* dialog = nullptr;
        if (!waitFor([&] { return (dialog = readySourceDialog()) != nullptr; }))
            qFatal("the source's dialog did not get ready");
        choose(dialog, "ModeCB", true);
        choose(dialog, "ResolutionCB", Dpi);
        dialog->findChild<QComboBox*>(u"PaperCB"_s)->setCurrentIndex(0); // A4
        dialog->findChild<QPushButton*>(u"ScanBtn"_s)->click();
        const int expected = i + 1;
        if (!waitFor([&] { return ready == expected; }) || !twain.imageTransferred())
            qFatal("no picture delivered");
        componentJpeg = JpegCodec::encode(bitmap, 75).size();
        through.push_back(double(t.nsecsElapsed()) / 1e6);
        size = bitmap.size();
    }

    const double d = median(direct);
    const double c = median(through);
    std::printf("page: %d x %d pixels, colour, %d dpi; JPEG q75 %lld bytes (direct %lld bytes)\n",
                size.width(), size.height(), Dpi, static_cast<long long>(componentJpeg),
                static_cast<long long>(directJpeg));
    std::printf("SANE read + JPEG encode:            median %.1f ms of %d runs\n", d, Runs);
    std::printf("component, manager, dialog + JPEG:  median %.1f ms of %d runs\n", c, Runs);
    std::printf("scan/read ratio: %.2f\n", c / d);
    return 0;
}
