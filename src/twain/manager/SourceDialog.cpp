#include "SourceDialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace TwainSane {

namespace {

struct Paper {
    const char16_t* name;
    double width;
    double height;
};

constexpr Paper Papers[] = {
    {u"A4 (210 × 297 mm)", 210, 297},
    {u"A5 (148 × 210 mm)", 148, 210},
    {u"Letter (216 × 279 mm)", 215.9, 279.4},
};
constexpr int WholeAreaIndex = 3;
constexpr int CustomIndex = 4;
constexpr int StandardDpi[] = {50, 75, 100, 150, 200, 300, 400, 600, 1200};
constexpr int PreviewDpi = 30;

} // namespace

// The preview picture, scaled to fit, with the chosen scan area drawn over it.
class PreviewView : public QWidget {
public:
    explicit PreviewView(QWidget* parent) : QWidget(parent) {
        setObjectName(u"PreviewView"_s);
        setMinimumSize(170, 240);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    void setPicture(const QImage& image) {
        m_image = image;
        setToolTip(image.isNull() ? QString()
                                  : u"Preview: %1 × %2 pixels"_s.arg(image.width()).arg(image.height()));
        update();
    }
    const QImage& picture() const { return m_image; }
    void setArea(const QRectF& areaMm, QSizeF fullMm) {
        m_area = areaMm;
        m_full = fullMm;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().base());
        if (m_full.width() <= 0 || m_full.height() <= 0)
            return;
        QSizeF page = m_full.scaled(QSizeF(size()) - QSizeF(8, 8), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - page.width()) / 2, (height() - page.height()) / 2), page);
        p.fillRect(target, Qt::white);
        if (!m_image.isNull())
            p.drawImage(target, m_image);
        p.setPen(QPen(Qt::darkGray, 1));
        p.drawRect(target);
        const double sx = target.width() / m_full.width();
        const double sy = target.height() / m_full.height();
        p.setPen(QPen(QColor(0, 120, 215), 2, Qt::DashLine));
        p.drawRect(QRectF(target.left() + m_area.left() * sx, target.top() + m_area.top() * sy,
                          m_area.width() * sx, m_area.height() * sy));
    }

private:
    QImage m_image;
    QRectF m_area;
    QSizeF m_full;
};

SourceDialog::SourceDialog(Worker& worker, const Settings& initial, Hooks hooks)
    : m_worker(worker), m_initial(initial), m_hooks(std::move(hooks)) {
    buildWindow();
    setPhase(Phase::Discovering);
    QPointer<SourceDialog> self(this);
    m_worker.discover([self](const QList<Device>& devices, const QString& failure) {
        if (self)
            self->devicesFound(devices, failure);
    });
}

SourceDialog::~SourceDialog() = default;

void SourceDialog::buildWindow() {
    setObjectName(u"TwainSourceDialog"_s);
    setWindowTitle(u"Scan"_s);

    m_device = new QComboBox(this);
    m_device->setObjectName(u"DeviceCB"_s);
    m_device->setMinimumWidth(260);
    m_source = new QComboBox(this);
    m_source->setObjectName(u"SourceCB"_s);
    m_mode = new QComboBox(this);
    m_mode->setObjectName(u"ModeCB"_s);
    m_resolution = new QComboBox(this);
    m_resolution->setObjectName(u"ResolutionCB"_s);
    m_paper = new QComboBox(this);
    m_paper->setObjectName(u"PaperCB"_s);
    for (const Paper& paper : Papers)
        m_paper->addItem(QString::fromUtf16(paper.name));
    m_paper->addItem(u"Whole scan area"_s);
    m_paper->addItem(u"Custom"_s);

    auto spin = [this](const char16_t* name) {
        auto* box = new QDoubleSpinBox(this);
        box->setObjectName(QString::fromUtf16(name));
        box->setDecimals(1);
        box->setSuffix(u" mm"_s);
        box->setRange(0, 1000);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { areaEdited(); });
        return box;
    };
    m_left = spin(u"LeftSB");
    m_top = spin(u"TopSB");
    m_width = spin(u"WidthSB");
    m_height = spin(u"HeightSB");

    m_preview = new PreviewView(this);
    m_previewBtn = new QPushButton(u"Preview"_s, this);
    m_previewBtn->setObjectName(u"PreviewBtn"_s);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(u"ProgressBar"_s);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status = new QLabel(this);
    m_status->setObjectName(u"StatusLbl"_s);
    m_status->setWordWrap(true);
    m_scanBtn = new QPushButton(u"Scan"_s, this);
    m_scanBtn->setObjectName(u"ScanBtn"_s);
    m_scanBtn->setDefault(true);
    m_cancelBtn = new QPushButton(u"Cancel"_s, this);
    m_cancelBtn->setObjectName(u"CancelBtn"_s);

    auto* form = new QFormLayout;
    form->addRow(u"Scanner:"_s, m_device);
    form->addRow(u"Source:"_s, m_source);
    form->addRow(u"Colours:"_s, m_mode);
    form->addRow(u"Resolution:"_s, m_resolution);
    form->addRow(u"Scan area:"_s, m_paper);
    auto* origin = new QHBoxLayout;
    origin->addWidget(m_left);
    origin->addWidget(m_top);
    form->addRow(u"Left, top:"_s, origin);
    auto* extent = new QHBoxLayout;
    extent->addWidget(m_width);
    extent->addWidget(m_height);
    form->addRow(u"Width, height:"_s, extent);

    auto* previewColumn = new QVBoxLayout;
    previewColumn->addWidget(m_preview, 1);
    previewColumn->addWidget(m_previewBtn);

    auto* top = new QHBoxLayout;
    top->addLayout(form, 1);
    top->addLayout(previewColumn);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_scanBtn);
    buttons->addWidget(m_cancelBtn);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(m_device, &QComboBox::currentIndexChanged, this, [this] { deviceChanged(); });
    connect(m_paper, &QComboBox::currentIndexChanged, this, [this] { paperChanged(); });
    connect(m_scanBtn, &QPushButton::clicked, this, [this] { ScanBtnClick(); });
    connect(m_cancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
    connect(m_previewBtn, &QPushButton::clicked, this, [this] { PreviewBtnClick(); });
}

void SourceDialog::setPhase(Phase phase) {
    m_phase = phase;
    const bool idle = phase == Phase::Idle;
    const bool ready = idle && m_haveOptions;
    for (QWidget* w : std::initializer_list<QWidget*>{m_source, m_mode, m_resolution, m_paper, m_left, m_top,
                                                      m_width, m_height, m_previewBtn, m_scanBtn})
        w->setEnabled(ready);
    m_source->setEnabled(ready && m_source->count() > 1);
    m_device->setEnabled(idle && m_device->count() > 0);
    m_cancelBtn->setEnabled(phase != Phase::Transferring);
}

void SourceDialog::devicesFound(const QList<Device>& devices, const QString& failure) {
    if (devices.isEmpty()) {
        setPhase(Phase::Idle);
        m_status->setText(
            failure.isEmpty()
                ? u"No scanner found. Check that it is connected and switched on, and that this "
                  u"user may use it (member of the group \"scanner\")."_s
                : u"The scanners could not be listed: %1"_s.arg(failure));
        return;
    }
    const QSignalBlocker block(m_device);
    for (const Device& d : devices)
        m_device->addItem(d.label, d.name);
    const int remembered = m_device->findData(m_initial.device);
    m_device->setCurrentIndex(remembered >= 0 ? remembered : 0);
    deviceChanged();
}

void SourceDialog::deviceChanged() {
    const QString device = m_device->currentData().toString();
    if (device.isEmpty())
        return;
    m_haveOptions = false;
    setPhase(Phase::Discovering);
    m_status->setText(u"Opening %1…"_s.arg(m_device->currentText()));
    QPointer<SourceDialog> self(this);
    m_worker.describe(device, [self, device](const DeviceOptions& options, const QString& failure) {
        if (self)
            self->optionsFound(device, options, failure);
    });
}

void SourceDialog::optionsFound(const QString& device, const DeviceOptions& options, const QString& failure) {
    if (device != m_device->currentData().toString())
        return; // an answer for a device no longer chosen
    if (!failure.isEmpty()) {
        setPhase(Phase::Idle);
        m_status->setText(u"The scanner could not be opened: %1"_s.arg(failure));
        return;
    }
    m_options = options;
    const bool sameDevice = device == m_initial.device;

    m_source->clear();
    for (const QString& s : options.sources)
        m_source->addItem(s, s);
    if (options.sources.isEmpty())
        m_source->addItem(u"Flatbed"_s, QString());
    const int source = sameDevice ? m_source->findData(m_initial.source) : -1;
    m_source->setCurrentIndex(std::max(source, 0));

    m_mode->clear();
    m_mode->addItem(u"Colour"_s, true);
    m_mode->addItem(u"Grey"_s, false);
    m_mode->setCurrentIndex(m_initial.colour ? 0 : 1);

    m_resolution->clear();
    QList<int> dpis = options.dpiList;
    if (dpis.isEmpty())
        for (int dpi : StandardDpi)
            if (options.maxDpi == 0 || (dpi >= options.minDpi && dpi <= options.maxDpi))
                dpis.append(dpi);
    for (int dpi : dpis)
        m_resolution->addItem(u"%1 dpi"_s.arg(dpi), dpi);
    int nearest = 0;
    for (int i = 0; i < dpis.size(); ++i)
        if (std::abs(dpis[i] - m_initial.dpi) < std::abs(dpis[nearest] - m_initial.dpi))
            nearest = i;
    m_resolution->setCurrentIndex(nearest);

    const double maxW = options.maxWidthMm > 0 ? options.maxWidthMm : 1000;
    const double maxH = options.maxHeightMm > 0 ? options.maxHeightMm : 1000;
    {
        m_settingArea = true;
        m_left->setRange(0, maxW);
        m_top->setRange(0, maxH);
        m_width->setRange(1, maxW);
        m_height->setRange(1, maxH);
        m_settingArea = false;
    }
    m_haveOptions = true;
    m_preview->setPicture(QImage());
    // The remembered area, or A4 clipped to the device.
    const QRectF area = m_initial.areaMm;
    bool preset = false;
    for (int i = 0; i < WholeAreaIndex; ++i)
        if (qFuzzyCompare(area.width(), Papers[i].width) && qFuzzyCompare(area.height(), Papers[i].height) &&
            area.topLeft().isNull()) {
            m_paper->setCurrentIndex(i);
            paperChanged();
            preset = true;
        }
    if (!preset) {
        m_settingArea = true;
        m_left->setValue(area.left());
        m_top->setValue(area.top());
        m_width->setValue(area.width());
        m_height->setValue(area.height());
        m_settingArea = false;
        m_paper->setCurrentIndex(CustomIndex);
        areaEdited();
    }
    setPhase(Phase::Idle);
    m_status->setText(u"Ready"_s);
}

void SourceDialog::paperChanged() {
    const int index = m_paper->currentIndex();
    if (index == CustomIndex || !m_haveOptions)
        return;
    double w = m_width->maximum();
    double h = m_height->maximum();
    if (index < WholeAreaIndex) {
        w = std::min(w, Papers[index].width);
        h = std::min(h, Papers[index].height);
    }
    m_settingArea = true;
    m_left->setValue(0);
    m_top->setValue(0);
    m_width->setValue(w);
    m_height->setValue(h);
    m_settingArea = false;
    m_preview->setArea(areaMm(), QSizeF(m_width->maximum(), m_height->maximum()));
}

void SourceDialog::areaEdited() {
    if (m_settingArea)
        return;
    if (m_paper->currentIndex() != CustomIndex) {
        const QSignalBlocker block(m_paper);
        m_paper->setCurrentIndex(CustomIndex);
    }
    m_preview->setArea(areaMm(), QSizeF(m_width->maximum(), m_height->maximum()));
}

QRectF SourceDialog::areaMm() const {
    const double left = m_left->value();
    const double top = m_top->value();
    const double width = std::min(m_width->value(), m_width->maximum() - left);
    const double height = std::min(m_height->value(), m_height->maximum() - top);
    return QRectF(left, top, std::max(width, 1.0), std::max(height, 1.0));
}

Settings SourceDialog::settings() const {
    Settings s;
    s.device = m_device->currentData().toString();
    s.source = m_source->currentData().toString();
    s.colour = m_mode->currentData().toBool();
    s.dpi = m_resolution->currentData().toInt();
    s.areaMm = areaMm();
    return s;
}

void SourceDialog::showProgress(int linesRead, int linesTotal) {
    if (m_phase != Phase::Scanning && m_phase != Phase::Previewing)
        return;
    if (linesTotal > 0) {
        m_progress->setRange(0, linesTotal);
        m_progress->setValue(std::min(linesRead, linesTotal));
    } else {
        m_progress->setRange(0, 0); // height unknown: a busy bar
    }
}

void SourceDialog::ScanBtnClick() {
    if (m_phase != Phase::Idle || !m_haveOptions)
        return;
    setPhase(Phase::Scanning);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status->setText(u"Scanning…"_s);
    m_hooks.scan(settings());
}

void SourceDialog::scanEnded(const Result& result) {
    if (m_phase != Phase::Scanning)
        return;
    if (result.cancelled) {
        setPhase(Phase::Idle);
        m_status->setText(u"Scan cancelled after %1 lines."_s.arg(result.linesRead));
        return;
    }
    if (result.condition == 0)
        m_progress->setValue(m_progress->maximum());
    setPhase(Phase::Transferring);
    m_status->setText(result.condition == 0 ? u"Transferring the image…"_s : result.message);
}

void SourceDialog::transferEnded() {
    if (m_phase != Phase::Transferring)
        return;
    setPhase(Phase::Idle);
    m_status->setText(u"Ready"_s);
}

void SourceDialog::PreviewBtnClick() {
    if (m_phase != Phase::Idle || !m_haveOptions)
        return;
    Settings s = settings();
    s.packed = false;
    s.areaMm = QRectF(0, 0, m_width->maximum(), m_height->maximum());
    s.dpi = std::max(PreviewDpi, m_options.minDpi);
    if (!m_options.dpiList.isEmpty())
        s.dpi = *std::min_element(m_options.dpiList.begin(), m_options.dpiList.end());
    setPhase(Phase::Previewing);
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_status->setText(u"Preview…"_s);
    QPointer<SourceDialog> self(this);
    m_worker.scan(
        s,
        [self](int lines, int total) {
            if (self)
                self->showProgress(lines, total);
        },
        [self](const Result& result) {
            if (!self || self->m_phase != Phase::Previewing)
                return;
            self->setPhase(Phase::Idle);
            if (result.cancelled) {
                self->m_status->setText(u"Preview cancelled."_s);
            } else if (result.condition != 0) {
                self->m_status->setText(result.message);
            } else {
                self->m_preview->setPicture(result.image);
                self->m_status->setText(u"Ready"_s);
            }
        });
}

void SourceDialog::CancelBtnClick() {
    switch (m_phase) {
    case Phase::Scanning:
        m_status->setText(u"Cancelling…"_s);
        m_hooks.cancelScan();
        break;
    case Phase::Previewing:
        m_worker.cancel();
        break;
    case Phase::Transferring:
        break;
    default:
        m_hooks.closeRequested();
        break;
    }
}

void SourceDialog::closeEvent(QCloseEvent* event) {
    // The application closes the dialog when it disables the source.
    event->ignore();
    if (m_phase == Phase::Scanning)
        m_hooks.cancelScan();
    if (m_phase == Phase::Previewing)
        m_worker.cancel();
    if (m_phase != Phase::Transferring)
        m_hooks.closeRequested();
}

void SourceDialog::reject() {
    CancelBtnClick();
}

} // namespace TwainSane
