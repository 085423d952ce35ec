#include "TenemarkApplication.h"

#include "AppPaths.h"
#include "Guard.h"
#include "QuitSignals.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QFont>

using namespace Qt::StringLiterals;

namespace {

// The application as a screen reader names it: by its title, where Qt's own interface gives the
// application name, which is the data folder's. (Not through the display name: on X11 Qt appends
// that to the title of every other window, "Error" becoming "Error — Tenemark 1.0".)
class ApplicationAccessible : public QAccessibleApplication {
public:
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return QString::fromUtf16(AppPaths::ApplicationTitle);
        return QAccessibleApplication::text(t);
    }
};

QAccessibleInterface* applicationFactory(const QString&, QObject* object) {
    return object && object == QCoreApplication::instance() ? new ApplicationAccessible : nullptr;
}

} // namespace

TenemarkApplication::TenemarkApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // The name under which the user's data folder is found (and the window class); the title
    // "Tenemark 1.0" is set on the windows and boxes themselves.
    setApplicationName(u"tenemark"_s);
    QAccessible::installFactory(applicationFactory);
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
