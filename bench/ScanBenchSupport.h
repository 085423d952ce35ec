#pragma once

#include <QVariant>

#include <functional>
#include <vector>

class QDialog;

// What the two scanning benchmarks share: the direct read they compare with, and driving the
// source dialog.
namespace ScanBench {

constexpr int Runs = 5;
constexpr int Dpi = 300;

// Points SANE at `folder` with a configuration of its test device that takes an A4 page at Dpi.
// Before SANE is first used in the process.
void configureTestDevice(const QString& folder);
// Runs the event loop until `condition` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& condition, int timeoutMs = 60000);
// Init, open SANE's test device, read a colour A4 page at Dpi, close, exit; then one JPEG encoding
// at quality 75. Returns the JPEG's size.
qsizetype readDirectly();
// The visible source dialog, once its scan button can be pressed; nullptr before.
QDialog* readySourceDialog();
// Picks the entry with `data` in the dialog's combo box `name`.
void choose(QDialog* dialog, const char* name, const QVariant& data);
double median(std::vector<double> values);

} // namespace ScanBench
