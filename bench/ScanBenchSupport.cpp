#include "ScanBenchSupport.h"

#include "AppPaths.h"
#include "JpegCodec.h"
#include "SaneTestSupport.h"

#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace ScanBench {

Process::Platform::Platform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

Process::Process(int& argc, char** argv) : m_config(testDeviceSettings()), m_app(argc, argv) {
    AppPaths::setRuntimeFolderOverride(QString::fromUtf8(TENEMARK_RUNTIME_DIR));
}

const QMap<QString, QString>& testDeviceSettings() {
    static const QMap<QString, QString> settings = {
        {u"number_of_devices"_s, u"1"_s},
        {u"resolution"_s, u"300.0"_s},
        {u"br_x"_s, u"210.0"_s},
        {u"br_y"_s, u"297.0"_s},
    };
    return settings;
}

bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    // Sleeps in the event loop until something happens, as the program does: a loop that polls
    // would take a core from the scanning threads it is timing.
    QElapsedTimer timer;
    timer.start();
    QTimer deadline;
    deadline.start(timeoutMs);
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

qsizetype readDirectly() {
    const SanePage page = readSanePage(u"test:0"_s, true, Dpi, QRectF(0, 0, 210, 297));
    const QImage image(reinterpret_cast<const uchar*>(page.bytes.constData()), page.width, page.height,
                       page.width * 3, QImage::Format_RGB888);
    return JpegCodec::encode(image, 75).size();
}

QDialog* readySourceDialog() {
    QDialog* dialog = SourceDialogDriver::find();
    auto* scan = dialog ? dialog->findChild<QPushButton*>(u"ScanBtn"_s) : nullptr;
    return scan && scan->isEnabled() ? dialog : nullptr;
}

void choose(QDialog* dialog, const char* name, const QVariant& data) {
    if (!SourceDialogDriver::choose(dialog, name, data))
        qFatal("cannot choose in %s", name);
}

double median(std::vector<double> values) {
    values.erase(values.begin(), values.begin() + std::min<size_t>(WarmUps, values.size()));
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace ScanBench
