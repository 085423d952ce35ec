#pragma once

#include <QApplication>

// The application object: sets the title and the font, and turns an exception that escaped an
// event handler into the general error report instead of ending the program.
class TenemarkApplication : public QApplication {
    Q_OBJECT
public:
    TenemarkApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Tahoma 8 pt, or the nearest sans-serif face installed.
    static QFont applicationFont();
};
