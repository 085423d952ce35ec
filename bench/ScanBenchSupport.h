#pragma once

#include "SaneTestSupport.h"

#include <QApplication>
#include <QMap>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

class QDialog;

// What the two scanning benchmarks share beside the tests' SANE support: the device's settings,
// the direct read they compare with, and driving the source dialog.
namespace ScanBench {

// The benchmark's process: offscreen unless a platform is chosen, SANE's test device as the
// scanner, the application, and the scanner's manager taken from the build.
class Process {
public:
    Process(int& argc, char** argv);

private:
    struct Platform {
        Platform();
    } m_platform;
    SaneTestConfig m_config;
    QApplication m_app;
};

// The first runs of each path load SANE's backends and build the dialog once: they are run but left
// out of the median.
constexpr int WarmUps = 2;
constexpr int Runs = 7;
constexpr int Dpi = 300;

// test.conf values of SANE's test device for an A4 page at Dpi (for SaneTestConfig).
const QMap<QString, QString>& testDeviceSettings();
// Runs the event loop until `condition` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000);
// Init, open SANE's test device, read a colour A4 page at Dpi, close, exit; then one JPEG encoding
// at quality 75. Returns the JPEG's size.
qsizetype readDirectly();
// The visible source dialog once its "Scan" can be pressed, else nullptr; never waits (the tests'
// waiting sleeps between polls, which would show in the times).
QDialog* readySourceDialog();
// Picks the entry with `data` in the dialog's combo box `name`; stops the benchmark when it cannot.
void choose(QDialog* dialog, const char* name, const QVariant& data);
// The median of the runs after the first WarmUps.
double median(std::vector<double> values);

} // namespace ScanBench
