#pragma once

#include <QDialog>

class TDirectoryForm;

// The item card.
class TKvartaEditForm : public QDialog {
    Q_OBJECT
public:
    TKvartaEditForm(TDirectoryForm* directory, QWidget* parent = nullptr);
    ~TKvartaEditForm() override;

    bool OpenForEdit(int itemId);   // true when closed with OK; the update has run
    bool OpenForNew();              // true when closed with OK; the insert has run
};
