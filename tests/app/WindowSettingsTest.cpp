#include "WindowSettings.h"
#include "IniFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {
MainSettings laidOut() {
    MainSettings s;
    s.panel2Width = 185;
    s.dirListWidth = 209;
    s.dirColumnWidths = {160};
    s.entryColumnWidths = {160, 90};
    return s;
}
} // namespace

class WindowSettingsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_n = 0;
    QString path() { return m_dir.filePath(u"kvarta%1.ini"_s.arg(++m_n)); }
    static void write(const QString& p, const QByteArray& content) {
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write");
        f.write(content);
    }
    static QByteArray read(const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private Q_SLOTS:
    void missingFileGivesDefaults() {
        const MainSettings s = MainSettings::read(IniFile(path()), laidOut());
        QCOMPARE(s.main.bounds, QRect(50, 50, 700, 500));
        QCOMPARE(s.main.state, WindowPlacement::State::Normal);
        QCOMPARE(s.panel2Width, 185);
        QCOMPARE(s.directory.bounds, QRect(50, 50, 700, 500));
        QCOMPARE(s.directory.state, WindowPlacement::State::Normal);
        QCOMPARE(s.dirListWidth, 209);
        QCOMPARE(s.dirColumnWidths, QList<int>{160});
        QCOMPARE(s.entryColumnWidths, (QList<int>{160, 90}));
    }

    void valuesAreReadAndMalformedOnesFallBack() {
        const QString p = path();
        write(p, "[MainForm]\nLeft=10\nTop=-20\nWidth=800x\nHeight= 600 \nState=MAXIMIZED\nPanel2=250\n"
                 "[directoryform]\nleft=7\nState=maximized\nDirLV_Width=300\nDirLV_Column0=111\n"
                 "DirItemsLV_Column1=abc\nDirItemsLV_Column0=77\n");
        const MainSettings s = MainSettings::read(IniFile(p), laidOut());
        QCOMPARE(s.main.bounds, QRect(10, -20, 700, 600));
        QCOMPARE(s.main.state, WindowPlacement::State::Maximized);
        QCOMPARE(s.panel2Width, 250);
        QCOMPARE(s.directory.bounds, QRect(7, 50, 700, 500));
        // Only the exact upper-case word maximises.
        QCOMPARE(s.directory.state, WindowPlacement::State::Normal);
        QCOMPARE(s.dirListWidth, 300);
        QCOMPARE(s.dirColumnWidths, QList<int>{111});
        QCOMPARE(s.entryColumnWidths, (QList<int>{77, 90}));
    }

    void normalStateWritesEveryKeyAndKeepsForeignContent() {
        const QString p = path();
        write(p, "; hand-written note\n[Mine]\nfoo=bar\n[DirectoryForm]\nDirLV_Width=321\nExtra=1\n");
        MainSettings s = laidOut();
        s.main.bounds = QRect(1, 2, 3, 4);
        s.panel2Width = 190;
        s.directory.bounds = QRect(5, 6, 7, 8);
        s.dirListWidth = 999; // never written
        {
            IniFile ini(p);
            s.write(ini);
            ini.save();
        }
        const IniFile ini(p);
        QCOMPARE(ini.readString(u"Mine"_s, u"foo"_s, QString()), u"bar"_s);
        QCOMPARE(ini.readString(u"DirectoryForm"_s, u"Extra"_s, QString()), u"1"_s);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirLV_Width"_s, 0), 321);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Left"_s, 0), 1);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Top"_s, 0), 2);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Width"_s, 0), 3);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Height"_s, 0), 4);
        QCOMPARE(ini.readString(u"MainForm"_s, u"State"_s, QString()), u"NORMAL"_s);
        QCOMPARE(ini.readInteger(u"MainForm"_s, u"Panel2"_s, 0), 190);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"Left"_s, 0), 5);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirLV_Column0"_s, 0), 160);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirItemsLV_Column0"_s, 0), 160);
        QCOMPARE(ini.readInteger(u"DirectoryForm"_s, u"DirItemsLV_Column1"_s, 0), 90);
        QVERIFY(read(p).contains("hand-written note"));
    }

    void maximisedAndMinimisedKeepEarlierBounds() {
        const QString p = path();
        write(p, "[MainForm]\nLeft=11\nTop=12\nWidth=613\nHeight=414\nState=NORMAL\n"
                 "[DirectoryForm]\nLeft=21\nTop=22\nWidth=623\nHeight=424\nState=MAXIMIZED\n");
        MainSettings s = laidOut();
        s.main.bounds = QRect(0, 0, 1280, 1000);
        s.main.state = WindowPlacement::State::Maximized;
        s.directory.bounds = QRect(-32000, -32000, 160, 28);
        s.directory.state = WindowPlacement::State::Minimized;
        {
            IniFile ini(p);
            s.write(ini);
            ini.save();
        }
        const MainSettings back = MainSettings::read(IniFile(p), laidOut());
        QCOMPARE(back.main.bounds, QRect(11, 12, 613, 414));
        QCOMPARE(back.main.state, WindowPlacement::State::Maximized);
        QCOMPARE(back.directory.bounds, QRect(21, 22, 623, 424));
        QCOMPARE(back.directory.state, WindowPlacement::State::Normal); // minimised writes NORMAL
        QCOMPARE(IniFile(p).readString(u"DirectoryForm"_s, u"State"_s, QString()), u"NORMAL"_s);
    }

    void placementOfAndApplyToAWindow() {
        QWidget w;
        WindowPlacement p;
        p.bounds = QRect(40, 60, 420, 310);
        p.state = WindowPlacement::State::Maximized;
        p.applyTo(&w);
        QVERIFY(w.windowState() & Qt::WindowMaximized);
        QCOMPARE(WindowPlacement::of(&w).state, WindowPlacement::State::Maximized);
        // The bounds become the normal bounds, used when the window is restored.
        w.setWindowState(Qt::WindowNoState);
        QCOMPARE(w.geometry().size(), QSize(420, 310));

        WindowPlacement normal;
        normal.bounds = QRect(30, 40, 500, 350);
        normal.applyTo(&w);
        QCOMPARE(WindowPlacement::of(&w).state, WindowPlacement::State::Normal);
        QCOMPARE(WindowPlacement::of(&w).bounds, QRect(30, 40, 500, 350));
        // Shown, the window gets its frame; the outer bounds stay the stored ones.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_COMPARE(WindowPlacement::of(&w).bounds, QRect(30, 40, 500, 350));
        QCOMPARE(w.geometry(), QRect(32, 42, 496, 346));
        // Applied to a shown window, the frame is known at once.
        normal.bounds = QRect(10, 20, 300, 200);
        normal.applyTo(&w);
        QTRY_COMPARE(w.frameGeometry(), QRect(10, 20, 300, 200));
        w.setWindowState(Qt::WindowMinimized);
        QCOMPARE(WindowPlacement::of(&w).state, WindowPlacement::State::Minimized);
    }
};

QTEST_MAIN(WindowSettingsTest)
#include "WindowSettingsTest.moc"
