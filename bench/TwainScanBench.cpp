// A 300 dpi colour A4 page from SANE's test backend: through the scanner component, the project's
// manager and its dialog (driven by its controls) until the picture is delivered and stored as
// JPEG quality 75, against reading the same page straight from SANE plus one JPEG encoding.
// Not a test; run build/bench/tenemark-bench-twainscan and read the last line,
// "scan/read ratio: R".

#include "AppPaths.h"
#include "JpegCodec.h"
#include "TTWAIN.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int Runs = 5;
constexpr int Dpi = 300;

bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void setOption(SANE_Handle h, const char* name, void* value) {
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d)
            qFatal("option %s missing", name);
        if (d->name && std::strcmp(d->name, name) == 0) {
            if (sane_control_option(h, i, SANE_ACTION_SET_VALUE, value, nullptr) != SANE_STATUS_GOOD)
                qFatal("option %s refused", name);
            return;
        }
    }
}

// Init, open, read the page, close, exit; then one JPEG encoding. Returns the JPEG size.
qsizetype readDirectly() {
    SANE_Int version = 0;
    SANE_Handle h = nullptr;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD || sane_open("test:0", &h) != SANE_STATUS_GOOD)
        qFatal("SANE test device not available");
    char mode[32] = "Color";
    setOption(h, SANE_NAME_SCAN_MODE, mode);
    SANE_Word depth = 8, res = SANE_FIX(Dpi), tl = 0, brx = SANE_FIX(210), bry = SANE_FIX(297);
    setOption(h, SANE_NAME_BIT_DEPTH, &depth);
    setOption(h, SANE_NAME_SCAN_RESOLUTION, &res);
    setOption(h, SANE_NAME_SCAN_TL_X, &tl);
    setOption(h, SANE_NAME_SCAN_TL_Y, &tl);
    setOption(h, SANE_NAME_SCAN_BR_X, &brx);
    setOption(h, SANE_NAME_SCAN_BR_Y, &bry);
    if (sane_start(h) != SANE_STATUS_GOOD)
        qFatal("sane_start failed");
    SANE_Parameters p{};
    sane_get_parameters(h, &p);
    std::vector<unsigned char> data(std::size_t(p.bytes_per_line) * std::size_t(p.lines));
    std::size_t filled = 0;
    for (;;) {
        SANE_Int length = 0;
        const SANE_Status s = sane_read(h, data.data() + filled, SANE_Int(data.size() - filled), &length);
        if (s != SANE_STATUS_GOOD || filled + std::size_t(length) == data.size()) {
            filled += std::size_t(length);
            break;
        }
        filled += std::size_t(length);
    }
    sane_cancel(h);
    sane_close(h);
    sane_exit();
    QImage image(p.pixels_per_line, p.lines, QImage::Format_RGB888);
    for (int y = 0; y < p.lines; ++y)
        std::memcpy(image.scanLine(y), data.data() + std::size_t(y) * std::size_t(p.bytes_per_line),
                    std::size_t(p.pixels_per_line) * 3);
    return JpegCodec::encode(image, 75).size();
}

QDialog* sourceDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"TwainSourceDialog"_s && w->isVisible())
            return qobject_cast<QDialog*>(w);
    return nullptr;
}

void choose(QDialog* dialog, const char* name, const QVariant& data) {
    auto* combo = dialog->findChild<QComboBox*>(QLatin1StringView(name));
    const int index = combo ? combo->findData(data) : -1;
    if (index < 0)
        qFatal("cannot choose in %s", name);
    combo->setCurrentIndex(index);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    {
        QFile dll(config.filePath(u"dll.conf"_s));
        QFile test(config.filePath(u"test.conf"_s));
        if (!dll.open(QIODevice::WriteOnly) || !test.open(QIODevice::WriteOnly))
            qFatal("cannot write the SANE configuration");
        dll.write("test\n");
        test.write("number_of_devices 1\nmode Color\ndepth 8\nresolution_min 1.0\nresolution_max 1200.0\n"
                   "resolution_quant 1.0\nresolution 300.0\ntest-picture \"Color pattern\"\n"
                   "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
                   "tl_x 0.0\ntl_y 0.0\nbr_x 210.0\nbr_y 297.0\n");
    }
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));

    std::vector<double> direct;
    qsizetype directJpeg = 0;
    for (int i = 0; i < Runs; ++i) {
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
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer t;
        t.start();
        twain.Acquire(&bitmap);
        QDialog* dialog = nullptr;
        if (!waitFor([&] {
                dialog = sourceDialog();
                auto* scan = dialog ? dialog->findChild<QPushButton*>(u"ScanBtn"_s) : nullptr;
                return scan && scan->isEnabled();
            }))
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
