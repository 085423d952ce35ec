#include "TenemarkApplication.h"

#include "AppPaths.h"
#include "Guard.h"

#include <QFont>

using namespace Qt::StringLiterals;

TenemarkApplication::TenemarkApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf16(AppPaths::ApplicationTitle));
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
