#pragma once

#include "Database.h"
#include "ItemStore.h"

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QTime>

#include <functional>

class QComboBox;
class QDateEdit;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class RoomsEditor;
class SlidesPage;
class TDirectoryForm;
class TTWAIN;

// The item card: creates and edits one item. Modal; created once and reused, so whatever an
// opening does not reset (the current page, the item id) carries over to the next one.
class TKvartaEditForm : public QDialog {
    Q_OBJECT
public:
    TKvartaEditForm(TDirectoryForm* directory, QWidget* parent = nullptr);
    ~TKvartaEditForm() override;

    bool OpenForEdit(int itemId); // true when closed with OK; the update has run
    bool OpenForNew();            // true when closed with OK; the insert has run

    // Id of the item last opened with OpenForEdit; 0 before the first.
    int itemId() const { return ItemId; }

    // Rebuilds the strip on the page "Слайды" from the database.
    void LoadSlides();
    SlidesPage* slidesPage() const { return m_slides; }

    // The query object of the password read; the main window's one in the program. Until it is
    // set, the card's own query object serves.
    void setPasswordQuery(std::function<StoreQuery&()> query);

    // Contact-information lock: locked when the program starts; once the contact information has
    // been shown it stays shown, for every item, until the program ends.
    bool isContactLocked() const { return !m_contactUnlocked; }
    void UnLockBtnClick();
    void RevealContactInfo();

    // Rooms on the page "Цифры": enables the grid and the navigator and opens the rooms cursor, or
    // disables them and closes it.
    void SetRoomsEnabled(bool enabled);
    RoomsEditor* rooms() const { return m_rooms; }
    // "Вычислить": the total area of the item's stored rooms, with two decimals.
    void SumRoomAreas();

    // Scanning a slide: the scanner component and the picture that each transfer replaces.
    TTWAIN* twain() const { return TWAIN1; }
    void BitBtn2Click();
    void TWAIN1ScanReady();

    // Memo texts are stored with CR LF between lines and shown with the widget's own line breaks.
    static QString storedMemoText(const QString& widgetText);
    static QString shownMemoText(const QString& storedText);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class Mode { New, Edit };

    void FormCreate();
    bool FormKeyDown(QKeyEvent* event);
    void OkBtnClick();
    void CancelBtnClick();

    void ResetFields();
    void LoadLookup(QComboBox* combo, const QString& table);
    void SelectByText(QComboBox* combo, const QString& text);
    void EditLookup(QComboBox* combo, const QString& table);
    void LoadItem(int itemId);

    void loadAllLookups();
    void setDateReg(const QDateTime& value);
    // An item whose stored date is missing or unreadable: the picker shows no date, and the
    // stored value is written back unchanged unless the operator picks a date.
    void setNoDateReg(const QVariant& stored);
    QVariant dateRegValue() const;
    QDateTime dateReg() const;
    bool showModal(Mode mode);
    // False when the card stays open (the operator chose to reload it, or nothing was written).
    bool saveItem();
    void insertItem();
    bool updateItem();
    void reloadItem();
    StoreQuery& passwordQuery();
    QHash<QString, QString> lookupTexts() const;

    void buildWindow();
    QWidget* buildMainPage();
    QWidget* buildNumbersPage();
    QWidget* buildDescriptionPage();
    QWidget* buildFinancePage();
    void setUpScanner();

    TDirectoryForm* m_directory;
    StoreQuery m_query;
    int ItemId = 0;
    Mode m_mode = Mode::New;

    QTabWidget* m_pages = nullptr;
    QDateEdit* m_dateReg = nullptr;
    QTime m_dateRegTime;                  // the picker shows the date; the value keeps its time
    bool m_noDateReg = false;             // the picker shows "no date"
    bool m_settingDate = false;           // the program, not the operator, sets the picker
    QVariant m_storedDateReg;             // the unreadable stored value while there is no date
    QHash<QString, QComboBox*> m_lookups; // by items column
    QLineEdit* m_etazh = nullptr;
    QLineEdit* m_etazhnost = nullptr;
    QLineEdit* m_ploshad = nullptr;
    QLineEdit* m_stoimost = nullptr;
    QLineEdit* m_dolg = nullptr;
    QPlainTextEdit* m_sost = nullptr;
    QPlainTextEdit* m_osob = nullptr;
    QPlainTextEdit* m_kontaktInf = nullptr;
    QLabel* m_kontaktInfLabel = nullptr;
    QPushButton* UnLockBtn = nullptr;
    bool m_contactUnlocked = false;
    std::function<StoreQuery&()> m_passwordQuery;
    QWidget* m_numbersPage = nullptr;
    QPushButton* BitBtn3 = nullptr;
    RoomsEditor* m_rooms = nullptr;
    QPushButton* m_okBtn = nullptr;
    QPushButton* m_cancelBtn = nullptr;
    SlidesPage* m_slides = nullptr;
    // The item's row as the card loaded it: OK writes only over that version, unless the operator
    // says otherwise.
    ItemStore::ItemSnapshot m_loaded;

    TTWAIN* TWAIN1 = nullptr;
    QImage ScanBitmap;
    int m_scanItemId = 0; // the item a running scan is stored to
};
