#pragma once

#include <QDialog>

class QLineEdit;

// A small modal prompt: a title, a prompt above a one-line field with the initial text selected,
// "OK" (Enter) and "Cancel" (Esc). Centred on the screen.
class TextPrompt : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxLength = 255;

    TextPrompt(QWidget* parent, const QString& title, const QString& prompt, const QString& initialText);
    QString text() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_edit;
};
