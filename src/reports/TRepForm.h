#pragma once

#include <QDialog>
#include <QList>
#include <memory>

class KeyPreview;
class QAbstractItemModel;
class QKeyEvent;
class QTableView;
class ReportListModel;

namespace Ui {
class TRepForm;
}

// The report window: a copy of the main list in which the operator ticks the rows that go into
// the general report, and prints it as often as wanted. Modal; created once and refilled on every
// opening.
class TRepForm : public QDialog {
    Q_OBJECT
public:
    explicit TRepForm(QWidget* parent = nullptr);
    ~TRepForm() override;

    // Fills the list with a fresh copy of `source` (every row ticked, see ReportListModel) and
    // shows the window modally; the list lets go of the rows once the window is closed. `widths`
    // are the source view's column widths.
    void Open(const QAbstractItemModel& source, const QList<int>& widths);
    // The same, taking model and column widths from the main list's view.
    void Open(const QTableView& sourceList);
    // Filling without showing: the first two steps of Open.
    void Fill(const QAbstractItemModel& source, const QList<int>& widths);

    void SetAllChecked(bool checked);
    void CancelBtnClick();
    // Writes the general report of the ticked rows and hands it to the spreadsheet program; the
    // window stays open. Returns the report's path.
    QString BitBtn4Click();

    ReportListModel* listModel() const { return m_model; }
    // Column widths of a list view, in column order.
    static QList<int> columnWidths(const QTableView& view);

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool FormKeyDown(QKeyEvent* event);

    std::unique_ptr<Ui::TRepForm> ui;
    ReportListModel* m_model = nullptr;
    KeyPreview* m_keys = nullptr;
};
