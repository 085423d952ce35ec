#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The small modal window shown over the window that asked while an operation waits for another
// copy of the program that is writing to the database. "Отмена", Esc and the close box abandon
// the operation; the window itself closes when the wait ends.
class WaitWindow : public QDialog {
    Q_OBJECT
public:
    explicit WaitWindow(QWidget* parent = nullptr);

    static QString text(qint64 waitedMs);
    void setWaited(qint64 waitedMs);
    bool cancelled() const { return m_cancelled; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* m_label = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_cancelled = false;
};

// Fills the pauses between the attempts of a unit of database work (Database::setWaiter) from the
// event loop, about 10 ms each: the interface keeps painting and answering while the operator's
// input waits; after half a second the wait window shows and takes the input.
namespace OperationWait {

constexpr int WindowAfterMs = 500;
constexpr int SliceMs = 10;

// False once the operator has abandoned the operation.
bool pause(qint64 waitedMs);
// Closes the wait window.
void finished();
// The wait window while it shows, for tests.
WaitWindow* window();

} // namespace OperationWait
