#include "ShellLaunch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using ShellLaunch::Opener;

namespace {

// A folder that stands in for PATH, holding fake programs. Each fake notes its start in
// "<name>.log", writes its arguments, one per line, to "<name>.args" and then stays alive until
// the test creates "<name>.release"; it notes in "<name>.result" whether it was released while
// still running (it gives up after half a minute).
class FakePrograms {
public:
    FakePrograms() : m_savedPath(qgetenv("PATH")) {
        QVERIFY(m_dir.isValid());
        qputenv("PATH", QFile::encodeName(m_dir.path()));
    }
    ~FakePrograms() { qputenv("PATH", m_savedPath); }

    void add(const QString& name) {
        const QString base = m_dir.filePath(name);
        const QByteArray b = "'" + QFile::encodeName(base);
        const QByteArray script = "#!/bin/sh\n"
                                  "PATH='" +
                                  m_savedPath +
                                  "'\n"
                                  "echo \"$*\" >> " +
                                  b +
                                  ".log'\n"
                                  "printf '%s\\n' \"$@\" > " +
                                  b +
                                  ".tmp'\n"
                                  "mv " +
                                  b + ".tmp' " + b +
                                  ".args'\n"
                                  "i=0\n"
                                  "while [ ! -e " +
                                  b +
                                  ".release' ]; do\n"
                                  "  i=$((i+1)); if [ $i -gt 600 ]; then echo waited > " +
                                  b +
                                  ".result'; exit 0; fi\n"
                                  "  sleep 0.05\n"
                                  "done\n"
                                  "echo released > " +
                                  b + ".result'\n";
        QFile f(base);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(script);
        f.close();
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QString path(const QString& name) const { return m_dir.filePath(name); }
    QString read(const QString& file) const {
        QFile f(m_dir.filePath(file));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    bool exists(const QString& file) const { return QFile::exists(m_dir.filePath(file)); }
    void release(const QString& name) {
        QFile f(m_dir.filePath(name + u".release"_s));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedPath;
};

} // namespace

class TestShellLaunch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        ShellLaunchTestSeam::setRecording(false);
        ShellLaunchTestSeam::clear();
    }

    void commandsFollowWhatIsInstalled() {
        FakePrograms fakes;
        const QString page = u"/r/RepTmp/Общий отчет 1-2-26.htm"_s;
        // Nothing installed: no command.
        QVERIFY(ShellLaunch::command(Opener::Spreadsheet, page).program.isEmpty());
        QVERIFY(ShellLaunch::command(Opener::Default, u"http://example.org"_s).program.isEmpty());

        // Only the desktop's opener: it takes everything, the file as its one argument.
        fakes.add(u"xdg-open"_s);
        ShellLaunch::Command c = ShellLaunch::command(Opener::WordProcessor, page);
        QCOMPARE(c.program, fakes.path(u"xdg-open"_s));
        QCOMPARE(c.arguments, QStringList{page});

        // LibreOffice present: the reports go to it with their import filter, the address does not.
        fakes.add(u"libreoffice"_s);
        c = ShellLaunch::command(Opener::Spreadsheet, page);
        QCOMPARE(c.program, fakes.path(u"libreoffice"_s));
        QCOMPARE(c.arguments, (QStringList{u"--infilter=HTML (StarCalc)"_s, page}));
        fakes.add(u"soffice"_s);
        c = ShellLaunch::command(Opener::WordProcessor, page);
        QCOMPARE(c.program, fakes.path(u"soffice"_s));
        QCOMPARE(c.arguments, (QStringList{u"--infilter=HTML (StarWriter)"_s, page}));
        c = ShellLaunch::command(Opener::Default, u"http://example.org"_s);
        QCOMPARE(c.program, fakes.path(u"xdg-open"_s));
        QCOMPARE(c.arguments, QStringList{u"http://example.org"_s});
    }

    void startsAndReturnsAtOnce() {
        FakePrograms fakes;
        fakes.add(u"soffice"_s);
        const QString page = u"/r/RepTmp/Общий отчет 1-2-26 (1).htm"_s;
        ShellLaunch::openDocument(Opener::Spreadsheet, page);
        // The call is back while the program still runs: only now is it let go.
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"soffice.args"_s), 20000);
        fakes.release(u"soffice"_s);
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"soffice.result"_s), 20000);
        QCOMPARE(fakes.read(u"soffice.result"_s), u"released\n"_s);
        QCOMPARE(fakes.read(u"soffice.args"_s), u"--infilter=HTML (StarCalc)\n"_s + page + u'\n');
    }

    void addressGoesToTheDesktopOpener() {
        FakePrograms fakes;
        fakes.add(u"xdg-open"_s);
        ShellLaunch::openAddress(u"http://example.org/a?b=1&c=2"_s);
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"xdg-open.args"_s), 20000);
        fakes.release(u"xdg-open"_s);
        QCOMPARE(fakes.read(u"xdg-open.args"_s), u"http://example.org/a?b=1&c=2\n"_s);
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"xdg-open.result"_s), 20000);
        QCOMPARE(fakes.read(u"xdg-open.result"_s), u"released\n"_s);
    }

    void silentWhenNothingCanStart() {
        FakePrograms fakes;
        // A "program" that cannot be executed is as good as none.
        QFile notExecutable(fakes.path(u"soffice"_s));
        QVERIFY(notExecutable.open(QIODevice::WriteOnly));
        notExecutable.close();
        ShellLaunch::openDocument(Opener::Spreadsheet, u"/nowhere/x.htm"_s);
        ShellLaunch::openDocument(Opener::WordProcessor, u"/nowhere/x.htm"_s);
        ShellLaunch::openAddress(u"http://example.org"_s);
        QVERIFY(ShellLaunch::command(Opener::Spreadsheet, u"/nowhere/x.htm"_s).program.isEmpty());
        QVERIFY(ShellLaunchTestSeam::launches().isEmpty());
    }

    void recordingStartsNothing() {
        FakePrograms fakes;
        fakes.add(u"soffice"_s);
        ShellLaunchTestSeam::setRecording(true);
        ShellLaunch::openDocument(Opener::WordProcessor, u"/r/a.htm"_s);
        ShellLaunch::openAddress(u"http://example.org"_s);
        QCOMPARE(ShellLaunchTestSeam::launches().size(), 2);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).opener, Opener::WordProcessor);
        QCOMPARE(ShellLaunchTestSeam::launches().at(0).target, u"/r/a.htm"_s);
        QCOMPARE(ShellLaunchTestSeam::launches().at(1).opener, Opener::Default);
        QCOMPARE(ShellLaunchTestSeam::launches().at(1).target, u"http://example.org"_s);
        // A real start after the recorded one is the only one the fake program sees.
        ShellLaunchTestSeam::setRecording(false);
        ShellLaunch::openDocument(Opener::WordProcessor, u"/r/b.htm"_s);
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"soffice.args"_s), 20000);
        fakes.release(u"soffice"_s);
        QCOMPARE(fakes.read(u"soffice.args"_s), u"--infilter=HTML (StarWriter)\n/r/b.htm\n"_s);
        QTRY_VERIFY_WITH_TIMEOUT(fakes.exists(u"soffice.result"_s), 20000);
        QCOMPARE(fakes.read(u"soffice.log"_s), u"--infilter=HTML (StarWriter) /r/b.htm\n"_s);
    }
};

QTEST_GUILESS_MAIN(TestShellLaunch)
#include "tst_shelllaunch.moc"
