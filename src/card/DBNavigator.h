#pragma once

#include <QWidget>

#include <array>

class QToolButton;

// A record navigator over a table cursor: eight borderless buttons side by side, each with its
// hint. The buttons take no focus, so that pressing one leaves the grid's editor where it is; the
// owner carries out the commands and sets which buttons are enabled.
class DBNavigator : public QWidget {
    Q_OBJECT
public:
    enum Button { Prior, Next, Insert, Delete, Edit, Post, Cancel, Refresh };
    static constexpr int ButtonCount = 8;

    explicit DBNavigator(QWidget* parent = nullptr);

    QToolButton* button(Button which) const { return m_buttons[std::size_t(which)]; }
    void setButtonEnabled(Button which, bool enabled);
    static QString hint(Button which);

Q_SIGNALS:
    void clicked(DBNavigator::Button button);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void layoutButtons();

    std::array<QToolButton*, ButtonCount> m_buttons{};
};
