#pragma once

#include "Database.h"

#include <QWidget>
#include <optional>

class CatalogueBackup;
class FilterCriteria;
class ItemDetailsPanel;
class ItemListModel;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTableView;
class QToolButton;
class SortHeaderView;
class StatusPanels;
class TDirectoryForm;
class TKvartaEditForm;
class TKvartaFilterForm;
class TTableViewForm;
class TAboutForm;
class TRepForm;

// The main window: the item list with its quick filters, the details panel, the tool panel's
// commands and the status bar. Owns the shared connection and the main query object.
class TMainForm : public QWidget {
    Q_OBJECT
public:
    static constexpr int LaidOutPanel2Width = 185;
    static constexpr int DefaultBackupsKept = 7;

    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Creation: the status-bar button and the connection. False when the database file is missing
    // (the message has been shown and the program must end). Engine failures are thrown.
    bool FormCreate();
    // The About box, opened from the status bar's button.
    void setAboutForm(TAboutForm* about);
    void setReportForm(TRepForm* report) { m_report = report; }
    // The main query object, which the password operations use too.
    StoreQuery& mainQuery() { return query(); }
    // The windows created after this one, which the commands open.
    void setWindows(TTableViewForm* tableView, TDirectoryForm* directory, TKvartaFilterForm* filter,
                    TKvartaEditForm* card);

    void LoadSettings();
    void SaveSettings();

    void ApplyColumnLayout();
    void SaveColumnWidths();

    void LoadItemList();
    void ShowRecordCount();
    static void SetSortMark(QTableView* list, int column, bool sorted, bool descending);
    void FillGroupFilter();
    void FillDistrictFilter();
    void ItemsLVColumnClick(int column);
    void GroupCBChange(QComboBox* combo);

    // Details panel: a mouse click on the list (a row or an empty area) fills it; nothing else
    // does.
    void ItemsLVClick();
    void ShowItemSlides(int itemId);
    ItemDetailsPanel* detailsPanel() const { return Panel2; }

    void SpeedButton5Click(); // new item
    void SpeedButton4Click(); // edit the selected item
    void SpeedButton6Click(); // delete the selected item
    void SpeedButton7Click(); // refresh
    void SpeedButton1Click(); // extended filter
    void SpeedButton2Click(); // column layout
    void SpeedButton3Click(); // directories
    void SpeedButton8Click(); // general report
    void SpeedButton9Click(); // detailed report of the selected item

    static QPushButton* AddStatusBarButton(StatusPanels* bar, int panel);

    int sortColumn() const { return SortColumn; }
    bool sortAscending() const { return SortAscending; }
    // Id of the selected row, if any.
    std::optional<int> selectedItemId() const;
    QTableView* itemList() const { return ItemsLV; }
    ItemListModel* itemModel() const { return m_model; }
    StatusPanels* statusBar() const { return StatusBar1; }
    int panel2Width() const;
    void setPanel2Width(int width);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    QWidget* buildToolPanel();
    QToolButton* addToolButton(QWidget* panel, const char* name, const char16_t* icon, const QString& tip,
                               int left);

    void FormShow();
    // A lasting note in the status bar (read-only file, failed backup); the note that the server
    // cannot be reached shows over it until the server answers again.
    void setStatusNote(const QString& text);
    void startDailyBackup();
    void FormClose();
    void fillFilter(QComboBox* combo, const QString& table);
    void markRow(int row);
    int selectedRow() const;
    FilterCriteria* criteria() const;
    StoreQuery& query();

    TTableViewForm* m_tableView = nullptr;
    TAboutForm* m_about = nullptr;
    TRepForm* m_report = nullptr;
    TDirectoryForm* m_directory = nullptr;
    TKvartaFilterForm* m_filter = nullptr;
    TKvartaEditForm* m_card = nullptr;

    std::optional<StoreQuery> m_query;

    QComboBox* GroupCB = nullptr;
    QComboBox* LocationCB = nullptr;
    QTableView* ItemsLV = nullptr;
    SortHeaderView* m_header = nullptr;
    ItemListModel* m_model = nullptr;
    QSplitter* m_splitter = nullptr;
    ItemDetailsPanel* Panel2 = nullptr;
    QLabel* m_emptyHint = nullptr;
    StatusPanels* StatusBar1 = nullptr;
    QPushButton* m_aboutButton = nullptr;

    int SortColumn = 0;
    bool SortAscending = true;
    int m_panel2Width = LaidOutPanel2Width;
    QString m_statusNote;
    CatalogueBackup* m_backup = nullptr;
    int m_hiddenRowCount = -1; // items selected while no column is shown; -1 when columns are shown
    bool m_formShown = false;
};
