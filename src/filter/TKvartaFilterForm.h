#pragma once

#include "Database.h"
#include "FilterCriteria.h"

#include <QDialog>
#include <QList>
#include <optional>

class QComboBox;
class QKeyEvent;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class TDirectoryForm;

// The extended filter window; owns the program's filter criteria.
class TKvartaFilterForm : public QDialog {
    Q_OBJECT
public:
    TKvartaFilterForm(TDirectoryForm* directory, QWidget* parent = nullptr);
    ~TKvartaFilterForm() override;

    FilterCriteria& criteria();
    const FilterCriteria& criteria() const;
    // Opens the window on the stored criteria; true when closed with OK (criteria replaced).
    bool EditCriteria();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Lookup {
        QComboBox* combo;
        QString table;
        QString key;
    };

    void buildLayout();
    QWidget* buildMainPage();
    QWidget* buildNumbersPage();
    QWidget* buildDescriptionPage();
    QWidget* buildFinancePage();

    void FormCreate();
    bool FormKeyDown(QKeyEvent* event);
    void PresetFixedFields();
    void LoadLookup(QComboBox* combo, const QString& table);
    void ShowCriteria();
    static void SelectByText(QComboBox* combo, const QString& lowerText);
    void EditLookup(QComboBox* combo, const QString& table);
    void BitBtn1Click();
    void OkBtnClick();
    void CancelBtnClick();

    const Lookup& lookupByTable(const QString& table) const;
    const Lookup& lookupByKey(const QString& key) const;
    StoreQuery& query();

    TDirectoryForm* m_directory;
    FilterCriteria m_criteria;
    QList<Lookup> m_lookups; // rows of the first page, top to bottom
    QTabWidget* m_pages = nullptr;
    QLineEdit* m_ploshad = nullptr;
    QLineEdit* m_etazh = nullptr;
    QLineEdit* m_etazhnost = nullptr;
    QLineEdit* m_stoimost = nullptr;
    QLineEdit* m_dolg = nullptr;
    QPlainTextEdit* m_sost = nullptr;
    QPlainTextEdit* m_osob = nullptr;
    QPlainTextEdit* m_kontakt = nullptr;
    QPushButton* m_okBtn = nullptr;
    QPushButton* m_cancelBtn = nullptr;
    QPushButton* m_resetBtn = nullptr;
    std::optional<StoreQuery> m_query;
};
