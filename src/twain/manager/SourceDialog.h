#pragma once

#include "SaneWorker.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace TwainSane {

class PreviewView;

// The source's own dialog: device, feeder or flatbed, colour or grey, resolution, scan area,
// preview, progress, "Scan" and "Cancel". Shown with show(), never exec(): the application's
// event loop keeps running and learns the outcome through the source's messages.
class SourceDialog : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(const Settings&)> scan; // "Scan" pressed
        std::function<void()> cancelScan;          // "Cancel" while the page is read
        std::function<void()> closeRequested;      // "Cancel" otherwise, Esc or the window's close
    };

    SourceDialog(Worker& worker, const Settings& initial, Hooks hooks);
    ~SourceDialog() override;

    Settings settings() const;
    void showProgress(int linesRead, int linesTotal);
    // The page's reading ended: cancelled (back to idle) or finished (waiting for the transfer).
    void scanEnded(const Result& result);
    // The application took the page (or gave up on it) and left the source enabled.
    void transferEnded();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    enum class Phase { Discovering, Idle, Previewing, Scanning, Transferring };

    void buildWindow();
    void setPhase(Phase phase);
    void devicesFound(const QList<Device>& devices, const QString& failure);
    void deviceChanged();
    void optionsFound(const QString& device, const DeviceOptions& options, const QString& failure);
    void paperChanged();
    void areaEdited();
    void ScanBtnClick();
    void CancelBtnClick();
    void PreviewBtnClick();
    QRectF areaMm() const;

    Worker& m_worker;
    Settings m_initial;
    Hooks m_hooks;
    Phase m_phase = Phase::Discovering;
    DeviceOptions m_options;
    bool m_haveOptions = false;
    bool m_settingArea = false;

    QComboBox* m_device = nullptr;
    QComboBox* m_source = nullptr;
    QComboBox* m_mode = nullptr;
    QComboBox* m_resolution = nullptr;
    QComboBox* m_paper = nullptr;
    QDoubleSpinBox* m_left = nullptr;
    QDoubleSpinBox* m_top = nullptr;
    QDoubleSpinBox* m_width = nullptr;
    QDoubleSpinBox* m_height = nullptr;
    PreviewView* m_preview = nullptr;
    QPushButton* m_previewBtn = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_scanBtn = nullptr;
    QPushButton* m_cancelBtn = nullptr;
};

} // namespace TwainSane
