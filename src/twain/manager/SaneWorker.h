#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <functional>
#include <future>
#include <memory>

namespace TwainSane {

struct Device {
    QString name; // SANE device name, e.g. "test:0"
    QString label;
};

struct DeviceOptions {
    QStringList sources; // the device's own names; empty when it has no choice
    QString colourMode;  // values of the "mode" option, empty when missing
    QString greyMode;
    int minDpi = 0;
    int maxDpi = 0;
    QList<int> dpiList; // non-empty when the device allows only these
    double maxWidthMm = 0;
    double maxHeightMm = 0;
};

struct Settings {
    QString device;
    QString source;
    bool colour = true;
    int dpi = 150;
    QRectF areaMm{0, 0, 210, 297};
    bool packed = true; // deliver the page as a packed bitmap (Result::dib), else as Result::image
};

struct FreeBlock {
    void operator()(void* block) const noexcept;
};
using Block = std::unique_ptr<unsigned char, FreeBlock>;

// A packed device-independent bitmap in a block of the C allocator: 40-byte header, colour
// table for grey (256 entries) and line art (white, black), then bottom-up rows padded to 4 bytes.
struct PackedDib {
    std::shared_ptr<Block> block;
    std::size_t size = 0;
};
PackedDib packDib(const QImage& image, int dpi);

struct Result {
    bool cancelled = false;
    unsigned short condition = 0; // TWAIN condition code; 0 when the page was read
    QString message;              // SANE's text for the failure
    QImage image;                 // RGB888, Grayscale8 or Mono (set bit black), top-down
    PackedDib dib;
    int dpi = 0;
    int linesRead = 0;
};

// The TWAIN condition code that stands for a SANE status.
unsigned short conditionForStatus(int saneStatus);

// One thread that owns every SANE call. Requests are queued and answered in the thread of the
// object given to the constructor, through the callbacks; the caller's thread never waits on the
// device, except in scanNow() and stop().
class Worker {
public:
    explicit Worker(QObject* receiver);
    ~Worker(); // stop()
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    using DevicesReply = std::function<void(const QList<Device>& devices, const QString& failure)>;
    using OptionsReply = std::function<void(const DeviceOptions& options, const QString& failure)>;
    using ProgressReply = std::function<void(int linesRead, int linesTotal)>;
    using ScanReply = std::function<void(const Result& result)>;

    void discover(DevicesReply reply);
    void describe(const QString& device, OptionsReply reply);
    void scan(const Settings& settings, ProgressReply progress, ScanReply reply);
    // Runs a scan and waits for it.
    Result scanNow(const Settings& settings);
    // Stops the page being read at once: the read loop sees the flag before its next read.
    void cancel();
    // Closes the device, calls sane_exit and ends the thread; waits for it.
    void stop();

private:
    void post(std::function<void()> job);
    void reply(std::function<void()> call);
    Result runScan(const Settings& settings, const std::function<void(int, int)>& onLines);

    QObject* m_receiver; // outlives the worker, which it owns
    QThread m_thread;
    QObject* m_context = nullptr; // lives in m_thread
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_linesRead{0};
    std::atomic<bool> m_progressPosted{false};
    bool m_stopped = false;
    struct Sane;
    Sane* m_sane; // touched only in m_thread
};

} // namespace TwainSane
