#pragma once

#include "Database.h"

#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QSplitter;
class QComboBox;
class QTableView;
class QToolButton;
class KeyPreview;
class RowListModel;

// Editor of the fourteen directories. Modal; created once and reused.
class TDirectoryForm : public QDialog {
    Q_OBJECT
public:
    explicit TDirectoryForm(QWidget* parent = nullptr);
    ~TDirectoryForm() override;

    // Shows the editor on a directory (empty name: the first one); true when closed with OK.
    bool OpenOnTable(const QString& tableName);
    void FillDirectoryList(const QString& tableName);

    // A selector's lookup button: opens the editor on the selector's table, lets `reload` refill the
    // selector, then reselects the text it showed before if that entry still exists letter for letter.
    void EditLookup(QComboBox* combo, const QString& tableName, const std::function<void()>& reload);

    // Placement kept in the settings file by the main window.
    int dirListWidth() const;
    void setDirListWidth(int width);
    QTableView* dirList() const;     // DirLV
    QTableView* entriesList() const; // DirItemsLV

    // Table of the directory selected in DirLV, or an empty text when none is selected.
    QString selectedTable() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    bool FormKeyDown(QKeyEvent* event);
    void DirLVClick();
    void AddBtnClick();
    void EditBtnClick();
    void DelBtnClick();
    void reportEntryGone(const QString& text);
    void OkBtnClick();
    void CancelBtnClick();

    int selectedDirectoryRow() const;
    int selectedEntryRow() const;
    StoreQuery& query();

    QSplitter* m_splitter = nullptr;
    QTableView* m_dirList = nullptr;
    QTableView* m_entriesList = nullptr;
    RowListModel* m_dirModel = nullptr;
    RowListModel* m_entriesModel = nullptr;
    QLabel* m_chapterLabel = nullptr;
    QToolButton* m_addBtn = nullptr;
    QToolButton* m_editBtn = nullptr;
    QToolButton* m_delBtn = nullptr;
    QPushButton* m_okBtn = nullptr;
    QPushButton* m_cancelBtn = nullptr;
    int m_dirListWidth = 209;
    // The window's own query object, made on first use so that it binds to the open connection.
    std::optional<StoreQuery> m_query;
};
