#include "BenchCatalogue.h"

#include "AppPaths.h"
#include "Program.h"
#include "TMainForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTableView>
#include <QTextStream>

#include <limits>

using namespace Qt::StringLiterals;

namespace BenchCatalogue {

void writeSettings(const QString& folder) {
    QFile fields(folder + u"/fields.ini"_s);
    if (!fields.open(QIODevice::WriteOnly))
        qFatal("cannot write the layout file");
    QTextStream out(&fields);
    out << "[Checked]\n";
    for (int a = 0; a < 22; ++a)
        out << "Field" << a << "=1\n";
    out << "[Width]\n";
    for (int a = 0; a < 22; ++a)
        out << "Field" << a << "=80\n";
    QFile settings(folder + u"/kvarta.ini"_s);
    if (!settings.open(QIODevice::WriteOnly))
        qFatal("cannot write the settings file");
    settings.write("[Backup]\r\nKeep=0\r\n");
}

void build(const QString& folder, int items) {
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.start(QString::fromUtf8(TENEMARK_DB_TOOL),
               {u"demo"_s, folder + u"/db.MyDB"_s, u"--items"_s, QString::number(items), u"--no-photos"_s});
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        qFatal("the database tool failed");
    writeSettings(folder);
}

FullAndEmpty::FullAndEmpty() {
    if (!full.isValid() || !empty.isValid())
        qFatal("cannot create a temporary folder");
    std::printf("building a catalogue of %d items...\n", ItemCount);
    std::fflush(stdout);
    build(full.path());
    build(empty.path(), 0);
}

double bestOf(int repetitions, const std::function<void()>& run) {
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = qMin(best, timer.nsecsElapsed());
    }
    return double(best) / 1e6;
}

QString runChild(const QStringList& arguments) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
        qFatal("the child run %s failed", qPrintable(arguments.join(u' ')));
    const QStringList lines =
        QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    return lines.isEmpty() ? QString() : lines.last().trimmed();
}

qint64 peakResidentKb() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

} // namespace BenchCatalogue

namespace {

// Notes the first paint of a widget.
class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

namespace BenchCatalogue {

void startProgram(Program& program, const QString& folder) {
    if (!AppPaths::setDataFolder(folder))
        qFatal("cannot use the data folder");
    if (!program.start())
        qFatal("the program did not start");
    auto* list = program.mainForm()->findChild<QTableView*>(u"ItemsLV"_s);
    if (!list)
        qFatal("no list");
    PaintWatch watch;
    list->viewport()->installEventFilter(&watch);
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    list->viewport()->removeEventFilter(&watch);
}

} // namespace BenchCatalogue
