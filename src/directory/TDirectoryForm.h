#pragma once

#include "Database.h"

#include <QDialog>
#include <memory>

class QTableView;
class KeyPreview;

namespace Ui {
class TDirectoryForm;
}

// Editor of the fourteen directories. Modal; created once and reused.
class TDirectoryForm : public QDialog {
    Q_OBJECT
public:
    explicit TDirectoryForm(QWidget* parent = nullptr);
    ~TDirectoryForm() override;

    // Shows the editor on a directory (empty name: the first one); true when closed with OK.
    bool OpenOnTable(const QString& tableName);
    void FillDirectoryList(const QString& tableName);

    // Placement kept in the settings file by the main window.
    int dirListWidth() const;
    void setDirListWidth(int width);
    QTableView* dirList() const;        // DirLV
    QTableView* entriesList() const;    // DirItemsLV

    // ... handlers and the rest are the implementer's
};
