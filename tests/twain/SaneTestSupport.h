#pragma once

#include <QByteArray>
#include <QMap>
#include <QRectF>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>

class QDialog;

// A SANE configuration of its own: the "test" backend only, with an A4-sized scan area and the
// given test.conf values. SANE reads its configuration once per process, so a process uses one.
class SaneTestConfig {
public:
    explicit SaneTestConfig(const QMap<QString, QString>& values = {});
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// A page read straight from SANE, as the reference for what the manager delivers: rows top-down,
// RGB or grey samples, `bytesPerLine` = width × channels.
struct SanePage {
    int width = 0;
    int height = 0;
    int channels = 0;
    QByteArray bytes;
    const uchar* row(int y) const {
        return reinterpret_cast<const uchar*>(bytes.constData()) + y * width * channels;
    }
};
// Must not run while a source of the manager is open (SANE is not shared between threads).
SanePage readSanePage(const QString& device, bool colour, int dpi, const QRectF& areaMm,
                      const QString& source = QStringLiteral("Flatbed"));

// The source's dialog, driven by its controls' object names.
namespace SourceDialogDriver {
QDialog* find();                              // the visible dialog, or null
QDialog* waitForReady(int timeoutMs = 20000); // visible, scanners listed, "Scan" enabled; null on time-out
bool choose(QDialog* dialog, const char* combo, const QVariant& data); // by item data
void setArea(QDialog* dialog, const QRectF& areaMm);                   // the four spin boxes
void click(QDialog* dialog, const char* button);
QString status(QDialog* dialog);
} // namespace SourceDialogDriver
