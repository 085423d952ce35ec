#include "SaneTestSupport.h"

#include "BackendThreads.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <cstring>

using namespace Qt::StringLiterals;

SaneTestConfig::SaneTestConfig(const QMap<QString, QString>& values) {
    QMap<QString, QString> conf = {
        {u"number_of_devices"_s, u"2"_s},
        {u"mode"_s, u"Color"_s},
        {u"depth"_s, u"8"_s},
        {u"hand-scanner"_s, u"false"_s},
        {u"three-pass"_s, u"false"_s},
        {u"three-pass-order"_s, u"RGB"_s},
        {u"resolution_min"_s, u"1.0"_s},
        {u"resolution_max"_s, u"1200.0"_s},
        {u"resolution_quant"_s, u"1.0"_s},
        {u"resolution"_s, u"50.0"_s},
        {u"test-picture"_s, u"\"Color pattern\""_s},
        {u"invert-endianess"_s, u"false"_s},
        {u"read-limit"_s, u"false"_s},
        {u"read-limit-size"_s, u"1"_s},
        {u"read-delay"_s, u"false"_s},
        {u"read-delay-duration"_s, u"1000"_s},
        {u"read-status-code"_s, u"\"Default\""_s},
        {u"fuzzy-parameters"_s, u"false"_s},
        {u"ppl-loss"_s, u"0"_s},
        {u"non-blocking"_s, u"false"_s},
        {u"select-fd"_s, u"false"_s},
        {u"enable-test-options"_s, u"false"_s},
        {u"geometry_min"_s, u"0.0"_s},
        {u"geometry_max"_s, u"300.0"_s},
        {u"geometry_quant"_s, u"1.0"_s},
        {u"tl_x"_s, u"0.0"_s},
        {u"tl_y"_s, u"0.0"_s},
        {u"br_x"_s, u"80.0"_s},
        {u"br_y"_s, u"100.0"_s},
    };
    for (auto it = values.begin(); it != values.end(); ++it)
        conf[it.key()] = it.value();
    QByteArray text;
    for (auto it = conf.begin(); it != conf.end(); ++it)
        text += (it.key() + u' ' + it.value() + u'\n').toUtf8();
    QFile dll(m_dir.filePath(u"dll.conf"_s));
    QFile test(m_dir.filePath(u"test.conf"_s));
    if (!dll.open(QIODevice::WriteOnly) || !test.open(QIODevice::WriteOnly))
        qFatal("cannot write the SANE configuration");
    dll.write("test\n");
    test.write(text);
    qputenv("SANE_CONFIG_DIR", QFile::encodeName(m_dir.path()));
}

namespace {

SANE_Int optionIndex(SANE_Handle h, const char* name) {
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d)
            qFatal("SANE option %s missing", name);
        if (d->name && std::strcmp(d->name, name) == 0)
            return i;
    }
}

void setOption(SANE_Handle h, const char* name, void* value) {
    if (sane_control_option(h, optionIndex(h, name), SANE_ACTION_SET_VALUE, value, nullptr) !=
        SANE_STATUS_GOOD)
        qFatal("SANE option %s refused", name);
}

} // namespace

SanePage readSanePage(const QString& device, bool colour, int dpi, const QRectF& areaMm,
                      const QString& source) {
    SANE_Int version = 0;
    if (sane_init(&version, nullptr) != SANE_STATUS_GOOD)
        qFatal("sane_init failed");
    SANE_Handle h = nullptr;
    if (sane_open(device.toUtf8().constData(), &h) != SANE_STATUS_GOOD)
        qFatal("sane_open failed");
    QByteArray mode = colour ? "Color" : "Gray";
    mode.resize(32, '\0');
    setOption(h, SANE_NAME_SCAN_MODE, mode.data());
    SANE_Word depth = 8;
    setOption(h, SANE_NAME_BIT_DEPTH, &depth);
    QByteArray src = source.toUtf8();
    src.resize(64, '\0');
    setOption(h, SANE_NAME_SCAN_SOURCE, src.data());
    SANE_Word res = SANE_FIX(dpi);
    setOption(h, SANE_NAME_SCAN_RESOLUTION, &res);
    SANE_Word tlx = SANE_FIX(areaMm.left()), tly = SANE_FIX(areaMm.top());
    SANE_Word brx = SANE_FIX(areaMm.right()), bry = SANE_FIX(areaMm.bottom());
    setOption(h, SANE_NAME_SCAN_TL_X, &tlx);
    setOption(h, SANE_NAME_SCAN_TL_Y, &tly);
    setOption(h, SANE_NAME_SCAN_BR_X, &brx);
    setOption(h, SANE_NAME_SCAN_BR_Y, &bry);
    TwainSane::BackendThreads threads;
    threads.before();
    if (sane_start(h) != SANE_STATUS_GOOD)
        qFatal("sane_start failed");
    threads.after();
    SANE_Parameters p{};
    sane_get_parameters(h, &p);
    QByteArray raw(qsizetype(p.bytes_per_line) * p.lines, '\0');
    qsizetype filled = 0;
    while (filled < raw.size()) {
        // The last byte only once the backend's reading thread has ended.
        const qsizetype left = raw.size() - filled;
        if (left == 1 && !threads.waitUntilEnded(10000))
            qFatal("the backend's reading thread did not end");
        SANE_Int length = 0;
        const SANE_Status status = sane_read(h, reinterpret_cast<SANE_Byte*>(raw.data()) + filled,
                                             SANE_Int(left > 1 ? left - 1 : 1), &length);
        if (status == SANE_STATUS_EOF)
            break;
        if (status != SANE_STATUS_GOOD)
            qFatal("sane_read failed");
        filled += length;
    }
    sane_cancel(h);
    sane_close(h);
    sane_exit();

    SanePage page;
    page.width = p.pixels_per_line;
    page.height = p.lines;
    page.channels = colour ? 3 : 1;
    const qsizetype row = qsizetype(page.width) * page.channels;
    if (p.bytes_per_line == row) {
        page.bytes = std::move(raw);
        return page;
    }
    page.bytes.reserve(row * page.height);
    for (int y = 0; y < page.height; ++y)
        page.bytes.append(raw.constData() + qsizetype(y) * p.bytes_per_line, row);
    return page;
}

namespace SourceDialogDriver {

QDialog* find() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == u"TwainSourceDialog"_s && w->isVisible())
            return qobject_cast<QDialog*>(w);
    return nullptr;
}

QDialog* waitForReady(int timeoutMs) {
    QDialog* dialog = nullptr;
    (void)QTest::qWaitFor(
        [&] {
            dialog = find();
            auto* scan = dialog ? dialog->findChild<QPushButton*>(u"ScanBtn"_s) : nullptr;
            return scan && scan->isEnabled();
        },
        timeoutMs);
    auto* scan = dialog ? dialog->findChild<QPushButton*>(u"ScanBtn"_s) : nullptr;
    return scan && scan->isEnabled() ? dialog : nullptr;
}

bool choose(QDialog* dialog, const char* combo, const QVariant& data) {
    auto* box = dialog->findChild<QComboBox*>(QLatin1StringView(combo));
    if (!box)
        return false;
    const int index = box->findData(data);
    if (index < 0)
        return false;
    box->setCurrentIndex(index);
    return true;
}

void setArea(QDialog* dialog, const QRectF& areaMm) {
    dialog->findChild<QDoubleSpinBox*>(u"LeftSB"_s)->setValue(areaMm.left());
    dialog->findChild<QDoubleSpinBox*>(u"TopSB"_s)->setValue(areaMm.top());
    dialog->findChild<QDoubleSpinBox*>(u"WidthSB"_s)->setValue(areaMm.width());
    dialog->findChild<QDoubleSpinBox*>(u"HeightSB"_s)->setValue(areaMm.height());
}

void click(QDialog* dialog, const char* button) {
    auto* b = dialog->findChild<QPushButton*>(QLatin1StringView(button));
    if (!b)
        qFatal("button %s missing", button);
    QTest::mouseClick(b, Qt::LeftButton);
}

QString status(QDialog* dialog) {
    return dialog->findChild<QLabel*>(u"StatusLbl"_s)->text();
}

} // namespace SourceDialogDriver
