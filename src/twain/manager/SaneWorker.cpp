#include "SaneWorker.h"

#include "BackendThreads.h"
#include "TwainTypes.h"

#include <QMetaObject>

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <pthread.h>
#include <sys/mman.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace TwainSane {

unsigned short conditionForStatus(int saneStatus) {
    switch (saneStatus) {
    case SANE_STATUS_GOOD:
        return TWCC_SUCCESS;
    case SANE_STATUS_JAMMED:
    case SANE_STATUS_NO_DOCS:
    case SANE_STATUS_COVER_OPEN:
        return TWCC_PAPERJAM;
    case SANE_STATUS_DEVICE_BUSY:
        return TWCC_MAXCONNECTIONS;
    case SANE_STATUS_NO_MEM:
        return TWCC_LOWMEMORY;
    case SANE_STATUS_ACCESS_DENIED:
        return TWCC_DENIED;
    case SANE_STATUS_INVAL:
        return TWCC_BADVALUE;
    default:
        return TWCC_BUMMER;
    }
}

namespace {

constexpr double MmPerInch = 25.4;
// How long a frame's last byte or its cancel waits for the backend's reading thread.
constexpr int ReaderWaitMs = 3000;
// How often the reading tells its progress: a bar needs no more, and each update wakes the
// application's thread while the page is read.
constexpr int ProgressIntervalMs = 50;
// What a device may announce for one page: all its frames together (a colour A4 page at
// 1200 dpi is about 430 MB), and pixels or lines of one side (as the bitmap reader allows).
constexpr std::size_t MaxPageBytes = std::size_t(1) << 30;
constexpr int MaxSide = 1'000'000;

QString statusText(SANE_Status status) {
    return QString::fromLocal8Bit(sane_strstatus(status));
}

struct Failure {
    SANE_Status status;
};

// Every option is looked up by name: a backend may rebuild its list after a change.
const SANE_Option_Descriptor* findOption(SANE_Handle handle, const char* name, SANE_Int* index) {
    for (SANE_Int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(handle, i);
        if (!d)
            return nullptr;
        if (d->name && std::strcmp(d->name, name) == 0) {
            *index = i;
            return d;
        }
    }
}

bool usable(const SANE_Option_Descriptor* d) {
    return d && SANE_OPTION_IS_ACTIVE(d->cap) && SANE_OPTION_IS_SETTABLE(d->cap);
}

double toDouble(const SANE_Option_Descriptor* d, SANE_Word w) {
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : double(w);
}

SANE_Word fromDouble(const SANE_Option_Descriptor* d, double v) {
    return d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : SANE_Word(std::lround(v));
}

// A number clamped to the option's range or, for a list, the nearest allowed value.
SANE_Word constrained(const SANE_Option_Descriptor* d, double value) {
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        const double lo = toDouble(d, d->constraint.range->min);
        const double hi = toDouble(d, d->constraint.range->max);
        return fromDouble(d, std::clamp(value, lo, hi));
    }
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list[0] > 0) {
        SANE_Word best = d->constraint.word_list[1];
        for (SANE_Int i = 1; i <= d->constraint.word_list[0]; ++i)
            if (std::abs(toDouble(d, d->constraint.word_list[i]) - value) <
                std::abs(toDouble(d, best) - value))
                best = d->constraint.word_list[i];
        return best;
    }
    return fromDouble(d, value);
}

void setNumber(SANE_Handle handle, const char* name, double value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = findOption(handle, name, &index);
    if (!usable(d) || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) ||
        d->size != sizeof(SANE_Word))
        return;
    SANE_Word word = constrained(d, value);
    const SANE_Status status = sane_control_option(handle, index, SANE_ACTION_SET_VALUE, &word, nullptr);
    if (status != SANE_STATUS_GOOD)
        throw Failure{status};
}

double getNumber(SANE_Handle handle, const char* name, double fallback) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = findOption(handle, name, &index);
    if (!d || !SANE_OPTION_IS_ACTIVE(d->cap) || d->size != sizeof(SANE_Word))
        return fallback;
    SANE_Word word = 0;
    if (sane_control_option(handle, index, SANE_ACTION_GET_VALUE, &word, nullptr) != SANE_STATUS_GOOD)
        return fallback;
    return toDouble(d, word);
}

void setString(SANE_Handle handle, const char* name, const QString& value) {
    SANE_Int index = 0;
    const SANE_Option_Descriptor* d = findOption(handle, name, &index);
    if (!usable(d) || d->type != SANE_TYPE_STRING || value.isEmpty())
        return;
    std::vector<char> buffer(std::size_t(std::max<SANE_Int>(d->size, 1)), '\0');
    const QByteArray bytes = value.toUtf8();
    std::memcpy(buffer.data(), bytes.constData(), std::min(buffer.size() - 1, std::size_t(bytes.size())));
    const SANE_Status status =
        sane_control_option(handle, index, SANE_ACTION_SET_VALUE, buffer.data(), nullptr);
    if (status != SANE_STATUS_GOOD)
        throw Failure{status};
}

QStringList stringList(const SANE_Option_Descriptor* d) {
    QStringList list;
    if (d && d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s)
            list.append(QString::fromUtf8(*s));
    return list;
}

double rangeMax(const SANE_Option_Descriptor* d) {
    if (!d)
        return 0;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE)
        return toDouble(d, d->constraint.range->max);
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list[0] > 0)
        return toDouble(d, d->constraint.word_list[d->constraint.word_list[0]]);
    return 0;
}

// One frame as SANE delivered it.
struct Frame {
    SANE_Parameters params{};
    std::vector<unsigned char> bytes;
    int lines = 0;
};

bool onePlane(SANE_Frame format) {
    return format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE;
}

// Whether a frame's parameters describe rows that can be read and put together: a known format and
// depth, a positive width, rows at least as long as their pixels, a three-pass page's colour planes
// alike, and the page within MaxPageBytes. `before` are the page's frames read so far.
SANE_Status checkFrame(const SANE_Parameters& p, const std::vector<Frame>& before) {
    if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !onePlane(p.format))
        return SANE_STATUS_UNSUPPORTED;
    if (p.depth != 8 && p.depth != 16 && !(p.depth == 1 && p.format == SANE_FRAME_GRAY))
        return SANE_STATUS_UNSUPPORTED;
    if (p.pixels_per_line <= 0 || p.pixels_per_line > MaxSide || p.lines > MaxSide || p.lines < -1 ||
        p.bytes_per_line <= 0)
        return SANE_STATUS_IO_ERROR;
    const std::size_t channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    const std::size_t rowBits = std::size_t(p.pixels_per_line) * channels * std::size_t(p.depth);
    if (std::size_t(p.bytes_per_line) < (rowBits + 7) / 8)
        return SANE_STATUS_IO_ERROR;
    std::size_t pageBytes = 0;
    if (!before.empty()) {
        // Only the other colour planes of a three-pass page follow a first frame, each like it.
        const SANE_Parameters& first = before.front().params;
        if (before.size() >= 3 || !onePlane(first.format) || !onePlane(p.format) ||
            p.pixels_per_line != first.pixels_per_line || p.bytes_per_line != first.bytes_per_line ||
            p.depth != first.depth || p.lines != first.lines)
            return SANE_STATUS_IO_ERROR;
        for (const Frame& f : before)
            pageBytes += f.bytes.size();
    }
    const std::size_t rows = p.lines > 0 ? std::size_t(p.lines) : 1;
    if (pageBytes > MaxPageBytes || std::size_t(p.bytes_per_line) * rows > MaxPageBytes - pageBytes)
        return SANE_STATUS_NO_MEM;
    return SANE_STATUS_GOOD;
}

unsigned char sample(const unsigned char* row, int index, int depth) {
    if (depth == 16) {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * index, 2);
        return static_cast<unsigned char>(v >> 8);
    }
    return row[index];
}

// Frames to a top-down picture: RGB888 for colour, Grayscale8 for grey, Mono for line art.
QImage assemble(const std::vector<Frame>& frames) {
    const SANE_Parameters& first = frames.front().params;
    int lines = frames.front().lines;
    for (const Frame& f : frames)
        lines = std::min(lines, f.lines);
    const int width = first.pixels_per_line;
    if (width <= 0 || lines <= 0)
        throw Failure{SANE_STATUS_IO_ERROR};
    const int depth = first.depth;
    if (depth != 1 && depth != 8 && depth != 16)
        throw Failure{SANE_STATUS_UNSUPPORTED};
    const std::size_t bpl = std::size_t(first.bytes_per_line);

    if (first.format == SANE_FRAME_GRAY && frames.size() == 1) {
        if (depth == 1) {
            QImage image(width, lines, QImage::Format_Mono);
            if (image.isNull())
                throw Failure{SANE_STATUS_NO_MEM};
            image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            const std::size_t bytes = std::min(bpl, (std::size_t(width) + 7) / 8);
            for (int y = 0; y < lines; ++y)
                std::memcpy(image.scanLine(y), frames[0].bytes.data() + bpl * std::size_t(y), bytes);
            return image;
        }
        QImage image(width, lines, QImage::Format_Grayscale8);
        if (image.isNull())
            throw Failure{SANE_STATUS_NO_MEM};
        for (int y = 0; y < lines; ++y) {
            const unsigned char* s = frames[0].bytes.data() + bpl * std::size_t(y);
            unsigned char* d = image.scanLine(y);
            if (depth == 8)
                std::memcpy(d, s, std::size_t(width));
            else
                for (int x = 0; x < width; ++x)
                    d[x] = sample(s, x, 16);
        }
        return image;
    }

    if (depth == 1)
        throw Failure{SANE_STATUS_UNSUPPORTED};
    QImage image(width, lines, QImage::Format_RGB888);
    if (image.isNull())
        throw Failure{SANE_STATUS_NO_MEM};
    if (first.format == SANE_FRAME_RGB && frames.size() == 1) {
        for (int y = 0; y < lines; ++y) {
            const unsigned char* s = frames[0].bytes.data() + bpl * std::size_t(y);
            unsigned char* d = image.scanLine(y);
            if (depth == 8)
                std::memcpy(d, s, std::size_t(width) * 3);
            else
                for (int x = 0; x < width * 3; ++x)
                    d[x] = sample(s, x, 16);
        }
        return image;
    }
    // Three-pass: one frame per colour.
    for (const Frame& f : frames) {
        int channel = -1;
        switch (f.params.format) {
        case SANE_FRAME_RED:
            channel = 0;
            break;
        case SANE_FRAME_GREEN:
            channel = 1;
            break;
        case SANE_FRAME_BLUE:
            channel = 2;
            break;
        default:
            throw Failure{SANE_STATUS_UNSUPPORTED};
        }
        const std::size_t stride = std::size_t(f.params.bytes_per_line);
        for (int y = 0; y < lines; ++y) {
            const unsigned char* s = f.bytes.data() + stride * std::size_t(y);
            unsigned char* d = image.scanLine(y) + channel;
            for (int x = 0; x < width; ++x, d += 3)
                *d = sample(s, x, f.params.depth);
        }
    }
    return image;
}

} // namespace

void FreeBlock::operator()(void* block) const noexcept {
    std::free(block);
}

namespace {

// A block of the C allocator for a page. A large one is aligned to and advised into huge pages
// where the system offers them: first touching tens of megabytes of small pages costs more than
// writing the page into them.
void* allocatePage(std::size_t size) {
    constexpr std::size_t HugePage = std::size_t(2) << 20;
    if (size < 4 * HugePage)
        return std::malloc(size);
    const std::size_t rounded = (size + HugePage - 1) / HugePage * HugePage;
    void* block = std::aligned_alloc(HugePage, rounded);
    if (block)
        (void)madvise(block, rounded, MADV_HUGEPAGE);
    return block;
}

// A packed bitmap filled row by row: header and colour table first, then each picture row (RGB
// turned to blue-green-red, grey or line art as it is) put in its bottom-up place and padded with
// zeros. Rows come top row first.
class DibWriter {
public:
    DibWriter(int width, int height, int bits, int dpi)
        : m_width(width), m_height(height), m_bits(bits),
          m_stride(((std::size_t(width) * std::size_t(bits) + 31) / 32) * 4),
          m_offset(sizeof(TW_BITMAPINFOHEADER) + 4 * std::size_t(colours())) {
        m_packed.size = m_offset + m_stride * std::size_t(height);
        auto* block = static_cast<unsigned char*>(allocatePage(m_packed.size));
        if (!block)
            throw Failure{SANE_STATUS_NO_MEM};
        m_packed.block = std::make_shared<Block>(block);
        TW_BITMAPINFOHEADER header{};
        header.biSize = sizeof header;
        header.biWidth = width;
        header.biPlanes = 1;
        header.biBitCount = TW_UINT16(bits);
        header.biCompression = BI_RGB;
        header.biXPelsPerMeter = std::int32_t(std::lround(dpi / 0.0254));
        header.biYPelsPerMeter = header.biXPelsPerMeter;
        header.biClrUsed = TW_UINT32(colours());
        std::memcpy(block, &header, sizeof header);
        setHeight(height);
        unsigned char* table = block + sizeof header;
        for (int i = 0; i < colours(); ++i) {
            const unsigned char v = bits == 8 ? static_cast<unsigned char>(i) : (i == 0 ? 255 : 0);
            const unsigned char entry[4] = {v, v, v, 0};
            std::memcpy(table + 4 * i, entry, 4);
        }
    }

    void putRow(int y, const unsigned char* s) {
        unsigned char* d = m_packed.block->get() + m_offset + m_stride * std::size_t(m_height - 1 - y);
        std::size_t used = 0;
        if (m_bits == 24) {
            for (int x = 0; x < m_width; ++x, s += 3) {
                d[3 * x] = s[2];
                d[3 * x + 1] = s[1];
                d[3 * x + 2] = s[0];
            }
            used = std::size_t(m_width) * 3;
        } else {
            used = m_bits == 8 ? std::size_t(m_width) : (std::size_t(m_width) + 7) / 8;
            std::memcpy(d, s, used);
        }
        std::memset(d + used, 0, m_stride - used);
    }

    // Keeps the first `rows` rows put, for a device that sent fewer than it announced.
    void keepRows(int rows) {
        if (rows == m_height)
            return;
        unsigned char* bits = m_packed.block->get() + m_offset;
        std::memmove(bits, bits + m_stride * std::size_t(m_height - rows), m_stride * std::size_t(rows));
        m_height = rows;
        m_packed.size = m_offset + m_stride * std::size_t(rows);
        setHeight(rows);
    }

    PackedDib take() { return std::move(m_packed); }

private:
    int colours() const { return m_bits == 8 ? 256 : m_bits == 1 ? 2 : 0; }
    void setHeight(int height) {
        TW_BITMAPINFOHEADER header;
        std::memcpy(&header, m_packed.block->get(), sizeof header);
        header.biHeight = height;
        header.biSizeImage = TW_UINT32(m_stride * std::size_t(height));
        std::memcpy(m_packed.block->get(), &header, sizeof header);
    }

    const int m_width;
    int m_height;
    const int m_bits;
    const std::size_t m_stride;
    const std::size_t m_offset;
    PackedDib m_packed;
};

// The bits per pixel of the bitmap that a one-frame page of these parameters can be written into
// while it is read; 0 when it needs putting together first (three passes, 16 bits, unknown height).
int directBits(const SANE_Parameters& p) {
    if (!p.last_frame || p.lines <= 0)
        return 0;
    if (p.format == SANE_FRAME_RGB && p.depth == 8)
        return 24;
    if (p.format == SANE_FRAME_GRAY && (p.depth == 8 || p.depth == 1))
        return p.depth;
    return 0;
}

} // namespace

PackedDib packDib(const QImage& image, int dpi) {
    int bits = 24;
    if (image.format() == QImage::Format_Grayscale8)
        bits = 8;
    else if (image.format() == QImage::Format_Mono)
        bits = 1;
    else if (image.format() != QImage::Format_RGB888)
        return {};
    try {
        DibWriter dib(image.width(), image.height(), bits, dpi);
        for (int y = 0; y < image.height(); ++y)
            dib.putRow(y, image.constScanLine(y));
        return dib.take();
    } catch (const Failure&) {
        return {};
    }
}

struct Worker::Sane {
    bool initialised = false;
    SANE_Handle handle = nullptr;
    QString deviceName;

    void init() {
        if (initialised)
            return;
        SANE_Int version = 0;
        const SANE_Status status = sane_init(&version, nullptr);
        if (status != SANE_STATUS_GOOD)
            throw Failure{status};
        initialised = true;
    }
    void open(const QString& name) {
        init();
        if (handle && deviceName == name)
            return;
        close();
        const SANE_Status status = sane_open(name.toUtf8().constData(), &handle);
        if (status != SANE_STATUS_GOOD) {
            handle = nullptr;
            throw Failure{status};
        }
        deviceName = name;
    }
    void close() {
        if (handle)
            sane_close(handle);
        handle = nullptr;
        deviceName.clear();
    }
    void exit() {
        close();
        if (initialised)
            sane_exit();
        initialised = false;
    }
};

Worker::Worker(QObject* receiver) : m_receiver(receiver), m_sane(new Sane) {
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.setObjectName(u"SANE"_s);
    m_thread.start();
    // Backends read the device in a thread or process of their own and write to a pipe; when a
    // page is cancelled that pipe closes under them. The broken pipe must not end the program:
    // threads started from this one inherit the blocked signal.
    post([] {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    });
}

Worker::~Worker() {
    stop();
    delete m_sane;
}

void Worker::post(std::function<void()> job) {
    QMetaObject::invokeMethod(m_context, std::move(job), Qt::QueuedConnection);
}

void Worker::reply(std::function<void()> call) {
    QMetaObject::invokeMethod(m_receiver, std::move(call), Qt::QueuedConnection);
}

void Worker::discover(DevicesReply answer) {
    post([this, answer] {
        QList<Device> devices;
        QString failure;
        try {
            m_sane->init();
            const SANE_Device** list = nullptr;
            const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
            if (status != SANE_STATUS_GOOD)
                throw Failure{status};
            for (int i = 0; list && list[i]; ++i) {
                const SANE_Device* d = list[i];
                const QString name = QString::fromUtf8(d->name);
                devices.append({name, u"%1 %2 (%3)"_s.arg(QString::fromUtf8(d->vendor),
                                                          QString::fromUtf8(d->model), name)});
            }
        } catch (const Failure& f) {
            failure = statusText(f.status);
        }
        reply([answer, devices, failure] { answer(devices, failure); });
    });
}

void Worker::describe(const QString& device, OptionsReply answer) {
    post([this, device, answer] {
        DeviceOptions options;
        QString failure;
        try {
            m_sane->open(device);
            SANE_Handle h = m_sane->handle;
            SANE_Int index = 0;
            options.sources = stringList(findOption(h, SANE_NAME_SCAN_SOURCE, &index));
            const QStringList modes = stringList(findOption(h, SANE_NAME_SCAN_MODE, &index));
            for (const QString& m : modes) {
                const QString lower = m.toLower();
                if (options.colourMode.isEmpty() && (lower == u"color"_s || lower.contains(u"colo"_s)))
                    options.colourMode = m;
                if (options.greyMode.isEmpty() && (lower.contains(u"gray"_s) || lower.contains(u"grey"_s)))
                    options.greyMode = m;
            }
            if (const SANE_Option_Descriptor* d = findOption(h, SANE_NAME_SCAN_RESOLUTION, &index)) {
                if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
                    options.minDpi = int(std::ceil(toDouble(d, d->constraint.range->min)));
                    options.maxDpi = int(std::floor(toDouble(d, d->constraint.range->max)));
                } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
                    for (SANE_Int i = 1; i <= d->constraint.word_list[0]; ++i)
                        options.dpiList.append(int(std::lround(toDouble(d, d->constraint.word_list[i]))));
                }
            }
            options.maxWidthMm = rangeMax(findOption(h, SANE_NAME_SCAN_BR_X, &index));
            options.maxHeightMm = rangeMax(findOption(h, SANE_NAME_SCAN_BR_Y, &index));
        } catch (const Failure& f) {
            failure = statusText(f.status);
        }
        reply([answer, options, failure] { answer(options, failure); });
    });
}

void Worker::cancel() {
    m_cancel = true;
}

void Worker::scan(const Settings& settings, ProgressReply progress, ScanReply answer) {
    m_cancel = false;
    post([this, settings, progress, answer] {
        // Progress is posted at most once at a time and once per ProgressIntervalMs, besides the
        // first and the last line; the receiver reads the latest line count.
        auto onLines = [this, progress, last = std::chrono::steady_clock::time_point()](int lines,
                                                                                        int total) mutable {
            m_linesRead = lines;
            const auto now = std::chrono::steady_clock::now();
            if (lines != total && last != std::chrono::steady_clock::time_point() &&
                now - last < std::chrono::milliseconds(ProgressIntervalMs))
                return;
            last = now;
            if (!m_progressPosted.exchange(true))
                reply([this, progress, total] {
                    m_progressPosted = false;
                    progress(m_linesRead, total);
                });
        };
        Result result = runScan(settings, onLines);
        reply([answer, result = std::move(result)] { answer(result); });
    });
}

Result Worker::scanNow(const Settings& settings) {
    m_cancel = false;
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> future = promise->get_future();
    post([this, settings, promise] { promise->set_value(runScan(settings, [](int, int) {})); });
    return future.get();
}

Result Worker::runScan(const Settings& settings, const std::function<void(int, int)>& onLines) {
    Result result;
    result.dpi = settings.dpi;
    std::vector<Frame> frames;
    SANE_Handle h = nullptr;
    BackendThreads threads;
    // Cancels the frame once the backend's reading threads can take it.
    auto cancelFrame = [&] {
        (void)threads.waitUntilInterruptible(ReaderWaitMs);
        sane_cancel(h);
    };
    try {
        m_sane->open(settings.device);
        h = m_sane->handle;
        // Eight bits per sample when the device offers it; the mode may change the others.
        setString(h, SANE_NAME_SCAN_MODE, settings.colour ? u"Color"_s : u"Gray"_s);
        setNumber(h, SANE_NAME_BIT_DEPTH, 8);
        setString(h, SANE_NAME_SCAN_SOURCE, settings.source);
        setNumber(h, SANE_NAME_SCAN_RESOLUTION, settings.dpi);
        setNumber(h, SANE_NAME_SCAN_TL_X, settings.areaMm.left());
        setNumber(h, SANE_NAME_SCAN_TL_Y, settings.areaMm.top());
        setNumber(h, SANE_NAME_SCAN_BR_X, settings.areaMm.right());
        setNumber(h, SANE_NAME_SCAN_BR_Y, settings.areaMm.bottom());
        result.dpi = int(std::lround(getNumber(h, SANE_NAME_SCAN_RESOLUTION, settings.dpi)));

        int linesBefore = 0;
        // A one-frame page is written into the packed bitmap while it is read, through a buffer of
        // a few rows; other pages are kept whole as they come and put together at the end.
        std::optional<DibWriter> dib;
        std::vector<unsigned char> rows;
        for (;;) {
            threads.before();
            SANE_Status status = sane_start(h);
            threads.after();
            if (status != SANE_STATUS_GOOD)
                throw Failure{status};
            Frame frame;
            status = sane_get_parameters(h, &frame.params);
            if (status == SANE_STATUS_GOOD)
                status = checkFrame(frame.params, frames);
            if (status != SANE_STATUS_GOOD)
                throw Failure{status};
            const std::size_t bpl = std::size_t(frame.params.bytes_per_line);
            const bool knownHeight = frame.params.lines > 0;
            const int total = knownHeight ? frame.params.lines * (onePlane(frame.params.format) ? 3 : 1) : -1;
            if (const int bits = settings.packed && frames.empty() ? directBits(frame.params) : 0) {
                dib.emplace(frame.params.pixels_per_line, frame.params.lines, bits, result.dpi);
                rows.resize(bpl * std::max<std::size_t>(1, (std::size_t(1) << 20) / bpl));
            }
            // Within the page's limit also when the height is unknown and the frame grows.
            std::size_t room = MaxPageBytes;
            for (const Frame& f : frames)
                room -= f.bytes.size();
            std::size_t size = bpl * std::size_t(frame.params.lines);
            if (!dib)
                frame.bytes.resize(knownHeight ? size : std::min(bpl * 256, room));
            if (!knownHeight)
                size = frame.bytes.size();
            std::size_t filled = 0;
            std::size_t pending = 0; // bytes of rows not yet written into the bitmap
            bool lastByteHeld = false;
            for (;;) {
                if (m_cancel)
                    break;
                if (filled == size) {
                    if (knownHeight)
                        break; // a device that sends more than it announced: keep what it announced
                    if (size == room)
                        throw Failure{SANE_STATUS_NO_MEM};
                    frame.bytes.resize(std::min(size * 2, room));
                    size = frame.bytes.size();
                }
                std::size_t chunk =
                    std::min<std::size_t>(size - filled, dib ? rows.size() - pending : 1 << 20);
                if (knownHeight) {
                    const std::size_t left = size - filled;
                    if (left > 1 && chunk == left)
                        chunk = left - 1;
                    else if (left == 1 && !lastByteHeld) {
                        lastByteHeld = true;
                        (void)threads.waitUntilEnded(ReaderWaitMs);
                    }
                }
                SANE_Int length = 0;
                unsigned char* into = dib ? rows.data() + pending : frame.bytes.data() + filled;
                status = sane_read(h, into, SANE_Int(chunk), &length);
                if (status == SANE_STATUS_EOF)
                    break;
                if (status != SANE_STATUS_GOOD)
                    throw Failure{status};
                if (length < 0 || std::size_t(length) > chunk)
                    throw Failure{SANE_STATUS_IO_ERROR};
                if (dib) {
                    const int done = int(filled / bpl);
                    pending += std::size_t(length);
                    const std::size_t whole = pending / bpl;
                    for (std::size_t r = 0; r < whole; ++r)
                        dib->putRow(done + int(r), rows.data() + r * bpl);
                    pending -= whole * bpl;
                    std::memmove(rows.data(), rows.data() + whole * bpl, pending);
                }
                filled += std::size_t(length);
                onLines(linesBefore + int(filled / bpl), total);
            }
            if (m_cancel) {
                cancelFrame();
                result.cancelled = true;
                result.linesRead = linesBefore + int(filled / bpl);
                return result;
            }
            frame.lines = int(filled / bpl);
            linesBefore += frame.lines;
            if (dib)
                break;
            const bool last = frame.params.last_frame;
            frames.push_back(std::move(frame));
            if (last)
                break;
        }
        // A finished page is cancelled too: that ends the job on the device.
        sane_cancel(h);
        result.linesRead = linesBefore;
        if (dib) {
            if (linesBefore <= 0)
                throw Failure{SANE_STATUS_IO_ERROR};
            dib->keepRows(linesBefore);
            result.dib = dib->take();
            return result;
        }
        QImage image = assemble(frames);
        frames.clear();
        if (settings.packed) {
            result.dib = packDib(image, result.dpi);
            if (!result.dib.block)
                throw Failure{SANE_STATUS_NO_MEM};
        } else {
            result.image = std::move(image);
        }
    } catch (const Failure& f) {
        if (h)
            cancelFrame();
        result.condition = conditionForStatus(f.status);
        result.message = statusText(f.status);
    } catch (const std::bad_alloc&) {
        if (h)
            cancelFrame();
        result.condition = TWCC_LOWMEMORY;
        result.message = statusText(SANE_STATUS_NO_MEM);
    }
    return result;
}

void Worker::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    m_cancel = true;
    // Quit from inside the thread, after the jobs queued before: quit() from here could leave
    // them, sane_exit among them, unrun.
    post([this] {
        m_sane->exit();
        m_thread.quit();
    });
    m_thread.wait();
    delete m_context;
    m_context = nullptr;
}

} // namespace TwainSane
