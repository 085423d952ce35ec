#pragma once

#include "ColumnLayout.h"

#include <QDialog>
#include <memory>

class KeyPreview;
class QKeyEvent;

namespace Ui {
class TTableViewForm;
}

// The column layout editor: ticks the attributes the item list shows and orders them; on OK the
// order and ticks go to the layout file. Modal; created once and refilled on every opening.
class TTableViewForm : public QDialog {
    Q_OBJECT
public:
    explicit TTableViewForm(QWidget* parent = nullptr);
    ~TTableViewForm() override;

    // True when the editor was closed with OK (the file is then written).
    bool EditLayout();

    void FillDefaultLayout();
    void LoadLayout();
    void SaveLayout();

    // The list as it stands, top to bottom.
    QList<ColumnLayout::Entry> entries() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fill(const QList<ColumnLayout::Entry>& entries);
    void moveSelected(int step);

    void CheckListBox1Click();
    void SpeedButton1Click();
    void SpeedButton2Click();
    void OkBtnClick();
    void CancelBtnClick();
    bool FormKeyDown(QKeyEvent* event);

    std::unique_ptr<Ui::TTableViewForm> ui;
    KeyPreview* m_keys = nullptr;
};
