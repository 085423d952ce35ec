#pragma once

#include <QDialog>
#include <functional>
#include <memory>

class KeyPreview;
class QKeyEvent;
class StoreQuery;

namespace Ui {
class TAboutForm;
}

// The About box: title, version and the web link, and the command that sets or changes the access
// password. Modal; created once at start-up and kept until the end, with no state between openings.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    // The password statements run on the main window's query object, asked for when needed.
    using QueryProvider = std::function<StoreQuery&()>;

    explicit TAboutForm(QueryProvider query, QWidget* parent = nullptr);
    ~TAboutForm() override;

    // Run by every closing of the window (the main window saves its settings there).
    void setCloseHandler(std::function<void()> handler);

    // Shows the window modally until it is closed.
    void Open();

    void SetPwlBtnClick();
    // Asks for the current password and compares it with `stored`; false when cancelled or wrong.
    bool CheckOldPassword(const QString& stored);
    // Asks for the new password twice and stores it when both entries agree.
    void AskNewPassword();
    void Label4Click();
    void CancelBtnClick();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FormKeyDown(QKeyEvent* event);
    void FormClose();

    std::unique_ptr<Ui::TAboutForm> ui;
    QueryProvider m_query;
    std::function<void()> m_closeHandler;
    KeyPreview* m_keys = nullptr;
};
