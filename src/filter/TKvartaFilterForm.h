#pragma once

#include "FilterCriteria.h"

#include <QDialog>

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
};
