#include "AppPaths.h"
#include "IniFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int code = -1;
    QString output;
};

Run run(const QString& program, const QStringList& args, const QStringList& extraEnv = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& e : extraEnv)
        env.insert(e.section(u'=', 0, 0), e.section(u'=', 1));
    p.setProcessEnvironment(env);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        r.output = u"(did not finish)"_s;
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

const QString AppId = u"example.tenemark.Tenemark"_s;

// The package names a control field of the package lists, without versions or alternatives' bars.
QStringList relationNames(const QString& field) {
    QStringList names;
    for (const QString& relation : field.split(QRegularExpression(u"[,|]"_s), Qt::SkipEmptyParts))
        names << relation.trimmed().section(u' ', 0, 0);
    return names;
}

} // namespace

class TestInstall : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The data folder: --data wins; else the executable's folder when it can be written (a portable
    // copy); else the user's data folder (a program installed where the user cannot write).
    void dataFolderChoice() {
        const auto writable = [](const QString& dir) { return dir.startsWith(u"/home/"_s); };
        QCOMPARE(AppPaths::chooseDataFolder(QString(), u"/home/u/stick/tenemark"_s, u"/home/u/.local/share/tenemark"_s,
                                            writable),
                 u"/home/u/stick/tenemark"_s);
        QCOMPARE(AppPaths::chooseDataFolder(QString(), u"/usr/lib/tenemark"_s, u"/home/u/.local/share/tenemark"_s,
                                            writable),
                 u"/home/u/.local/share/tenemark"_s);
        // Installed under /usr: never beside itself, also for the superuser who can write there.
        for (const auto& installed : {u"/usr/lib/tenemark"_s, u"/usr/local/lib/tenemark/"_s})
            QCOMPARE(AppPaths::chooseDataFolder(QString(), installed, u"/home/u/.local/share/tenemark"_s,
                                                [](const QString&) { return true; }),
                     u"/home/u/.local/share/tenemark"_s);
        QCOMPARE(AppPaths::chooseDataFolder(u"/srv/catalogue/"_s, u"/home/u/stick"_s, u"/home/u/.local/share/x"_s,
                                            writable),
                 u"/srv/catalogue"_s);
        QCOMPARE(AppPaths::chooseDataFolder(u"relative/dir"_s, u"/usr/lib/tenemark"_s, u"/x"_s, writable),
                 QDir::cleanPath(QDir::current().absoluteFilePath(u"relative/dir"_s)));

        // The chosen folder is made when missing, and the program's files are found in it.
        QTemporaryDir dir;
        const QString folder = dir.filePath(u"new/data"_s);
        QVERIFY(AppPaths::setDataFolder(folder));
        QVERIFY(QFileInfo(folder).isDir());
        QCOMPARE(AppPaths::filePath(u"db.MyDB"_s), folder + u"/db.MyDB"_s);
    }

    // The installed program works from its prefix alone: its helpers, its desktop entry, icon and
    // AppStream data are in place, and it keeps its files in the folder it is given.
    void installedProgramWorksFromItsPrefix() {
        QTemporaryDir tmp;
        const QString prefix = tmp.filePath(u"prefix"_s);
        const Run install = run(QString::fromUtf8(CMAKE_COMMAND),
                                {u"--install"_s, QString::fromUtf8(BUILD_DIR), u"--prefix"_s, prefix});
        QVERIFY2(install.code == 0, qPrintable(install.output));

        const QString lib = prefix + u"/" TENEMARK_INSTALL_DIR u"/"_s;
        for (const QString& file : {u"tenemark"_s, u"tenemark-db"_s, u"tenemark-wmf-render"_s,
                                    u"tenemark-emf-render"_s, u"libtenemark-twaindsm.so"_s})
            QVERIFY2(QFileInfo(lib + file).isFile(), qPrintable(lib + file));
        for (const QString& command : {u"tenemark"_s, u"tenemark-db"_s})
            QCOMPARE(QFileInfo(prefix + u"/bin/"_s + command).canonicalFilePath(),
                     QFileInfo(lib + command).canonicalFilePath());
        const QString share = prefix + u"/share/"_s;
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
            const QString png = share + u"icons/hicolor/%1x%1/apps/"_s.arg(size) + AppId + u".png"_s;
            QCOMPARE(QImage(png).size(), QSize(size, size));
        }
        QVERIFY(QFileInfo(share + u"icons/hicolor/scalable/apps/"_s + AppId + u".svg"_s).isFile());

        const QString desktop = share + u"applications/"_s + AppId + u".desktop"_s;
        const Run desktopCheck = run(u"desktop-file-validate"_s, {desktop});
        QVERIFY2(desktopCheck.code == 0 && desktopCheck.output.trimmed().isEmpty(), qPrintable(desktopCheck.output));
        const QString metainfo = share + u"metainfo/"_s + AppId + u".metainfo.xml"_s;
        const Run appstream = run(u"appstreamcli"_s, {u"validate"_s, u"--no-net"_s, metainfo});
        QVERIFY2(appstream.code == 0, qPrintable(appstream.output));

        // A catalogue in a data folder of its own, made by the installed tool.
        const QString data = tmp.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(data));
        const Run create = run(prefix + u"/bin/tenemark-db"_s, {u"demo"_s, data + u"/db.MyDB"_s, u"--items"_s, u"5"_s});
        QVERIFY2(create.code == 0, qPrintable(create.output));
        {
            QFile layout(data + u"/fields.ini"_s);
            QVERIFY(layout.open(QIODevice::WriteOnly));
            layout.write("[Checked]\r\nField1=1\r\nField2=1\r\n");
        }

        // Started offscreen and closed as a desktop session closes it (SIGTERM): the settings and
        // the column widths of the list it showed land in the data folder.
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        bool closed = false;
        for (const int wait : {2000, 8000}) { // a slow machine may not have its handler yet
            program.start(prefix + u"/bin/tenemark"_s, {u"--data"_s, data});
            QVERIFY(program.waitForStarted());
            QTest::qWait(wait);
            ::kill(pid_t(program.processId()), SIGTERM);
            QVERIFY(program.waitForFinished(60000));
            if (program.exitStatus() == QProcess::NormalExit) {
                closed = true;
                break;
            }
        }
        QVERIFY2(closed, program.readAll().constData());
        QCOMPARE(program.exitCode(), 0);
        const IniFile settings(data + u"/kvarta.ini"_s);
        QCOMPARE(settings.readInteger(u"MainForm"_s, u"Width"_s, 0), 700);
        QCOMPARE(settings.readString(u"MainForm"_s, u"State"_s, QString()), u"NORMAL"_s);
        const IniFile layout(data + u"/fields.ini"_s);
        QVERIFY(layout.readInteger(u"Width"_s, u"Field1"_s, 0) > 0);
        QVERIFY(layout.readInteger(u"Width"_s, u"Field2"_s, 0) > 0);
        // Nothing was written beside the installed program.
        QCOMPARE(QDir(lib).entryList({u"*.MyDB"_s, u"*.ini"_s, u"RepTmp"_s}, QDir::AllEntries), QStringList());
    }

    // The Debian package CPack makes from this build tree: the install rule's layout with the
    // manual pages and the package's documents, owned by root, nothing that points into the
    // build tree, and the relations apt resolves on a machine that has none of the libraries.
    void debianPackage() {
        for (const QString& tool : {u"dpkg-deb"_s, u"dpkg-shlibdeps"_s, u"file"_s})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                QSKIP(qPrintable(tool + u" is not installed: CPack cannot make the Debian package"_s));
        QTemporaryDir tmp;
        const Run cpack =
            run(QString::fromUtf8(CPACK_COMMAND),
                {u"--config"_s, QString::fromUtf8(BUILD_DIR "/CPackConfig.cmake"), u"-B"_s, tmp.path()});
        QVERIFY2(cpack.code == 0, qPrintable(cpack.output));
        const QStringList debs = QDir(tmp.path()).entryList({u"*.deb"_s});
        QCOMPARE(debs.size(), 1);
        const QString deb = tmp.filePath(debs[0]);

        QMap<QString, QString> control;
        const Run fields = run(u"dpkg-deb"_s, {u"--field"_s, deb});
        QCOMPARE(fields.code, 0);
        for (const QString& line : fields.output.split(u'\n'))
            if (!line.startsWith(u' ') && line.contains(u": "_s))
                control.insert(line.section(u": "_s, 0, 0), line.section(u": "_s, 1));
        QCOMPARE(control.value(u"Package"_s), u"tenemark"_s);
        const QString version = control.value(u"Version"_s);
        QVERIFY2(version.startsWith(u"" TENEMARK_VERSION u"-"_s), qPrintable(version));
        QCOMPARE(debs[0], u"tenemark_%1_amd64.deb"_s.arg(version));
        QCOMPARE(control.value(u"Architecture"_s), u"amd64"_s);
        const QStringList depends = relationNames(control.value(u"Depends"_s));
        // Named by the package, then found by dpkg-shlibdeps in the program, the helpers and the
        // scanner manager.
        for (const QString& name :
             {u"libqt6sql6-sqlite"_s, u"libqt6svg6"_s, u"libsane1"_s, u"fonts-urw-base35"_s, u"xdg-utils"_s,
              u"libqt6widgets6"_s, u"libwmf-0.2-7"_s, u"libemf2svg1"_s, u"librsvg2-2"_s})
            QVERIFY2(depends.contains(name), qPrintable(name + u" not in "_s + control.value(u"Depends"_s)));
        QCOMPARE(relationNames(control.value(u"Recommends"_s)), QStringList{u"libqt6sql6-psql"_s});
        QCOMPARE(relationNames(control.value(u"Suggests"_s)),
                 (QStringList{u"libreoffice-calc"_s, u"libreoffice-writer"_s}));

        // "dpkg-deb --contents" lists mode, owner, size, date, time, path and a link's target.
        QMap<QString, QStringList> entries;
        const Run contents = run(u"dpkg-deb"_s, {u"--contents"_s, deb});
        QCOMPARE(contents.code, 0);
        for (const QString& line : contents.output.split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList f = line.split(u' ', Qt::SkipEmptyParts);
            QVERIFY2(f.size() >= 6 && f[1] == u"root/root"_s &&
                         (f[5] == u"./"_s || f[5].startsWith(u"./usr/"_s)),
                     qPrintable(line));
            entries.insert(f[5].mid(1), f);
        }
        const QString lib = u"/usr/" TENEMARK_INSTALL_DIR u"/"_s;
        for (const QString& program :
             {u"tenemark"_s, u"tenemark-db"_s, u"tenemark-wmf-render"_s, u"tenemark-emf-render"_s})
            QCOMPARE(entries.value(lib + program).value(0), u"-rwxr-xr-x"_s);
        for (const QString& command : {u"tenemark"_s, u"tenemark-db"_s})
            QCOMPARE(entries.value(u"/usr/bin/"_s + command).mid(5),
                     (QStringList{u"./usr/bin/"_s + command, u"->"_s,
                                  u"../" TENEMARK_INSTALL_DIR u"/"_s + command}));
        for (const QString& file :
             {lib + u"libtenemark-twaindsm.so"_s, u"/usr/share/applications/"_s + AppId + u".desktop"_s,
              u"/usr/share/metainfo/"_s + AppId + u".metainfo.xml"_s,
              u"/usr/share/icons/hicolor/scalable/apps/"_s + AppId + u".svg"_s,
              u"/usr/share/icons/hicolor/48x48/apps/"_s + AppId + u".png"_s,
              u"/usr/share/man/man1/tenemark.1.gz"_s, u"/usr/share/man/man1/tenemark-db.1.gz"_s,
              u"/usr/share/doc/tenemark/copyright"_s, u"/usr/share/doc/tenemark/changelog.Debian.gz"_s})
            QVERIFY2(entries.value(file).value(0).startsWith(u"-rw"_s), qPrintable(file));

        // Stripped, with no run path or file name of the build tree left in any file.
        const QString root = tmp.filePath(u"root"_s);
        QCOMPARE(run(u"dpkg-deb"_s, {u"--extract"_s, deb, root}).code, 0);
        for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            QFile file(it.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!file.readAll().contains(BUILD_DIR), qPrintable(it.filePath()));
        }
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
