#include "TenemarkApplication.h"

#include "AppPaths.h"
#include "Guard.h"
#include "QuitSignals.h"

#include <QFont>

using namespace Qt::StringLiterals;

TenemarkApplication::TenemarkApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The name under which the user's data folder is found; the title "Tenemark 1.0" is set on
    // the windows and boxes themselves.
    setApplicationName(u"tenemark"_s);
    // A desktop session that ends the program asks it to close: settings are saved as on closing.
    QuitSignals::install(this);
    setFont(applicationFont());
}

QFont TenemarkApplication::applicationFont() {
    QFont font(u"Tahoma"_s);
    font.setFamilies({u"Tahoma"_s, u"Liberation Sans"_s, u"DejaVu Sans"_s});
    font.setPointSize(8);
    return font;
}

bool TenemarkApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    guard(activeWindow(), [&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
