#include "ScanBenchSupport.h"

#include "JpegCodec.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPushButton>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

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

} // namespace

namespace ScanBench {

void configureTestDevice(const QString& folder) {
    QFile dll(folder + u"/dll.conf"_s);
    QFile test(folder + u"/test.conf"_s);
    if (!dll.open(QIODevice::WriteOnly) || !test.open(QIODevice::WriteOnly))
        qFatal("cannot write the SANE configuration");
    dll.write("test\n");
    test.write("number_of_devices 1\nmode Color\ndepth 8\nresolution_min 1.0\nresolution_max 1200.0\n"
               "resolution_quant 1.0\nresolution 300.0\ntest-picture \"Color pattern\"\n"
               "geometry_min 0.0\ngeometry_max 300.0\ngeometry_quant 1.0\n"
               "tl_x 0.0\ntl_y 0.0\nbr_x 210.0\nbr_y 297.0\n");
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(folder));
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
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
        filled += std::size_t(length);
        if (s != SANE_STATUS_GOOD || filled == data.size())
            break;
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

QDialog* readySourceDialog() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"TwainSourceDialog"_s && w->isVisible()) {
            auto* scan = w->findChild<QPushButton*>(u"ScanBtn"_s);
            return scan && scan->isEnabled() ? qobject_cast<QDialog*>(w) : nullptr;
        }
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

} // namespace ScanBench
