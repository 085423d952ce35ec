// The program on a desktop: the name a screen reader announces and the window class the desktop
// entry names.
#include "IniFile.h"
#include "TenemarkApplication.h"

#include <QAccessible>
#include <QTest>

using namespace Qt::StringLiterals;

class DesktopTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The application's accessible name is its title; its own name stays the data folder's.
    void nameForAssistiveTechnology() {
        QCOMPARE(QAccessible::queryAccessibleInterface(qApp)->text(QAccessible::Name), u"Tenemark 1.0"_s);
        QCOMPARE(QCoreApplication::applicationName(), u"tenemark"_s);
        // A dock ties the window to the menu entry by its class, which is the application's name.
        QCOMPARE(
            IniFile(QString::fromUtf8(DESKTOP_ENTRY)).readString(u"Desktop Entry"_s, u"StartupWMClass"_s, {}),
            QCoreApplication::applicationName());
    }
};

int main(int argc, char** argv) {
    TenemarkApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DesktopTest.moc"
