// The program on a desktop: the name a screen reader announces, the window class the desktop entry
// names, and the bounds of the windows under a real window manager (openbox on Xvfb), which
// frames them as offscreen windows are not.
#include "AppPaths.h"
#include "IniFile.h"
#include "Program.h"
#include "TDirectoryForm.h"
#include "TMainForm.h"
#include "TenemarkApplication.h"
#include "TestSupport.h"
#include "WindowSettings.h"

#include <QAccessible>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// The bounds kept in kvarta.ini for both windows, with the maximised state.
const QRect Bounds(120, 90, 900, 600);

// Brings a maximised window back to its normal state, as the window manager's button does, and
// whether it then has the kept bounds, frame included.
bool restore(QWidget* window) {
    if (!QTest::qWaitFor([window] { return window->isVisible() && window->isMaximized(); }, 20000))
        return false;
    QTest::qWait(500);
    window->showNormal();
    const bool framed = QTest::qWaitFor([window] { return window->frameGeometry() == Bounds; }, 5000);
    if (!framed)
        qWarning() << "restored:" << window << window->frameGeometry();
    return framed;
}

// One session on the display that the test prepared: the main window and the directory editor
// come up maximised, are restored and closed. 0 when all went as planned.
int session(int argc, char** argv) {
    TenemarkApplication app(argc, argv);
    AppPaths::setExecutableFolderOverride(QString::fromLocal8Bit(argv[2]));
    Program program;
    if (!program.start() || !restore(program.mainForm()))
        return 3;
    bool restored = false;
    onNextModal(
        [&](QWidget* editor) {
            restored = restore(editor);
            program.directoryForm()->reject();
        },
        20000);
    program.directoryForm()->OpenOnTable(QString());
    program.mainForm()->close();
    return restored ? 0 : 4;
}

// An X server of its own with openbox on it; empty display() when either program is missing.
class Desktop {
public:
    Desktop() {
        const QString xvfb = QStandardPaths::findExecutable(u"Xvfb"_s);
        const QString openbox = QStandardPaths::findExecutable(u"openbox"_s);
        if (xvfb.isEmpty() || openbox.isEmpty())
            return;
        m_server.start(xvfb, {u"-displayfd"_s, u"1"_s, u"-screen"_s, u"0"_s, u"1280x1024x24"_s,
                              u"-nolisten"_s, u"tcp"_s});
        if (!m_server.waitForReadyRead(20000))
            return;
        const QString display = u':' + QString::fromLatin1(m_server.readAllStandardOutput().trimmed());
        const QString ready = m_dir.filePath(u"ready"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"DISPLAY"_s, display);
        m_manager.setProcessEnvironment(env);
        m_manager.start(openbox, {u"--sm-disable"_s, u"--startup"_s, u"touch "_s + ready});
        if (QTest::qWaitFor([&] { return QFile::exists(ready); }, 20000))
            m_display = display;
    }
    ~Desktop() {
        for (QProcess* p : {&m_manager, &m_server}) {
            p->terminate();
            p->waitForFinished(5000);
        }
    }
    QString display() const { return m_display; }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_manager;
    QString m_display;
};

} // namespace

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

    // Bounds stored with the maximised state are the normal bounds of the frame: restored and closed,
    // the windows write them back as they were, session after session.
    void maximisedWindowsKeepTheirBounds() {
        Desktop desktop;
        if (desktop.display().isEmpty())
            QSKIP("Xvfb and openbox (scripts/setup.sh installs them) are needed to frame the windows");
        TempCatalogue catalogue(false);
        const QByteArray maximised = "Left=120\nTop=90\nWidth=900\nHeight=600\nState=MAXIMIZED\n";
        for (int run = 1; run <= 2; ++run) {
            catalogue.writeFile(u"kvarta.ini"_s,
                                "[MainForm]\n" + maximised + "[DirectoryForm]\n" + maximised);
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
            env.insert(u"DISPLAY"_s, desktop.display());
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QCoreApplication::applicationFilePath(), {u"--session"_s, catalogue.folder()});
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitCode(), 0);
            const MainSettings written = MainSettings::read(IniFile(catalogue.path(u"kvarta.ini"_s)), {});
            for (const WindowPlacement& window : {written.main, written.directory}) {
                QCOMPARE(window.bounds, Bounds);
                QCOMPARE(window.state, WindowPlacement::State::Normal);
            }
        }
    }
};

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--session") == 0)
        return session(argc, argv);
    TenemarkApplication app(argc, argv);
    DesktopTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DesktopTest.moc"
