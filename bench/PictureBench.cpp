// Times the decoding of ten 4000 x 3000 photographs (JPEG, quality 85) for the details panel
// (picture areas of about 165 x 145 pixels):
//  (a) the picture service: all ten as one batch, until the last is delivered on the GUI thread;
//  (b) libjpeg at the same DCT scale, one after another on one thread;
//  (c) the straightforward way: full-size decode, then scaling down to the same size.
// Prints the best of a few runs of each, the gain of scaled decoding (c/b) and, last, the ratio
// a/b. It never fails on the numbers.
#include "JpegCodec.h"
#include "PictureLoader.h"
#include "PictureService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QThread>

#include <cstdio>
#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int PhotoCount = 10;
constexpr int Repetitions = 3;
const QSize PhotoSize(4000, 3000);
const QSize Panel(165, 145);

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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);

    std::printf("building %d photographs of %d x %d at quality 85...\n", PhotoCount, PhotoSize.width(),
                PhotoSize.height());
    std::fflush(stdout);
    QList<QByteArray> photos;
    qint64 bytes = 0;
    for (int i = 0; i < PhotoCount; ++i) {
        photos.append(photo(i));
        bytes += photos.last().size();
    }
    const QSize fit = PictureLoader::fitSize(PhotoSize, Panel);
    const int denominator = PictureLoader::jpegDenominator(PhotoSize, Panel);
    std::printf("%.1f MB of JPEG; panel picture %d x %d, DCT scale 1/%d; %d cores\n", double(bytes) / 1e6,
                fit.width(), fit.height(), denominator, QThread::idealThreadCount());

    PictureService service;
    QList<PictureJob> jobs;
    for (int i = 0; i < PhotoCount; ++i)
        jobs.append({i, photos[i], u".jpg"_s, Panel});
    int delivered = 0;
    QObject::connect(&service, &PictureService::pictureReady, &service, [&](int, const PictureResult& r) {
        if (r.image.size() != fit)
            qFatal("unexpected picture size");
        ++delivered;
    });
    const auto panel = [&] {
        delivered = 0;
        service.start(jobs);
        if (!service.waitForBatch(600000) || delivered != PhotoCount)
            qFatal("the batch did not finish");
    };
    panel(); // threads started, code paged in

    const qint64 a = bestOf(panel);
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

    std::printf("(a) picture service, %d photos to the panel:        %6lld ms  (%.1f ms a photo)\n",
                PhotoCount, static_cast<long long>(a), double(a) / PhotoCount);
    std::printf("(b) libjpeg at 1/%d, one thread:                     %6lld ms  (%.1f ms a photo)\n",
                denominator, static_cast<long long>(b), double(b) / PhotoCount);
    std::printf("(c) full-size decode, then scaled down, one thread: %6lld ms  (%.1f ms a photo)\n",
                static_cast<long long>(c), double(c) / PhotoCount);
    std::printf("scaled decoding gain (c/b): %.1fx (goal >= 3x)\n", double(c) / double(qMax<qint64>(1, b)));
    std::printf("panel/decode ratio: %.2f\n", double(a) / double(qMax<qint64>(1, b)));
    return 0;
}
