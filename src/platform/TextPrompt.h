#pragma once

#include <QDialog>

class QLineEdit;

// A small modal prompt: a title, a prompt above a one-line field with the initial text selected,
// "OK" (Enter) and "Cancel" (Esc). Centred on the screen.
class TextPrompt : public QDialog {
    Q_OBJECT
public:
    // The field holds at most this many characters (Unicode code points).
    static constexpr int MaxLength = 255;

    // The longest start of `text` within MaxLength code points that ends on a character boundary:
    // an emoji or a letter with its combining marks is kept whole or left out whole.
    static QString limited(const QString& text);

    TextPrompt(QWidget* parent, const QString& title, const QString& prompt, const QString& initialText);
    QString text() const;
    // Shows what is typed as dots (a password).
    void setSecret(bool secret);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_edit;
};
