// "tenemark-db copy" of a catalogue of 100,000 items without photographs into a local PostgreSQL
// server (a throw-away cluster of the benchmark's own), against psql's \copy of the same rows
// from text files, all tables in one transaction, into the same empty tables. Both start from a
// fresh database with the catalogue's tables made beforehand; the best of two runs each. Not a
// test; run
//   build/bench/tenemark-bench-copy
// and read the last line, "copy/psql ratio: R" (or a line that no server could be started). It
// never fails on the numbers.
#include "BenchCatalogue.h"
#include "Statements.h"
#include "TestServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int Runs = 2;

// Runs a program to its end; ends the benchmark when it fails.
void run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        qFatal("%s %s failed", qPrintable(program), qPrintable(arguments.join(u' ')));
}

double timed(const QString& program, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    run(program, arguments);
    return double(timer.nsecsElapsed()) / 1e6;
}

const QString Tool = QString::fromUtf8(TENEMARK_DB_TOOL);
const QString Psql = u"psql"_s;

// A new database with the catalogue's empty tables; its connection string.
QString emptyCatalogue(TestServer& server) {
    const QString conninfo = server.settings(server.createDatabase()).connectionString();
    run(Tool, {u"create"_s, u"--server"_s, conninfo});
    return conninfo;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot create a temporary folder");
    std::printf("building a catalogue of %d items...\n", BenchCatalogue::ItemCount);
    std::fflush(stdout);
    BenchCatalogue::build(dir.path());
    const QString file = dir.filePath(u"db.MyDB"_s);

    TestServer* server = TestServer::instance();
    if (!server) {
        std::printf("copy: not measured, no PostgreSQL server could be started (%s)\n",
                    qPrintable(TestServer::unavailableReason()));
        return 0;
    }
    double tool = std::numeric_limits<double>::max();
    QString copied;
    for (int i = 0; i < Runs; ++i) {
        copied = emptyCatalogue(*server);
        tool = std::min(tool, timed(Tool, {u"copy"_s, file, u"--server"_s, copied}));
    }

    // The same rows as psql's text files, and a script that loads them in one transaction.
    QString script = u"\\set ON_ERROR_STOP on\nbegin;\n"_s;
    for (const QString& table : Statements::catalogueTables()) {
        const QString path = dir.filePath(table + u".txt"_s);
        run(Psql, {u"-X"_s, u"-q"_s, copied, u"-c"_s, u"\\copy %1 to '%2'"_s.arg(table, path)});
        script += u"\\copy %1 from '%2'\n"_s.arg(table, path);
    }
    script += u"commit;\n"_s;
    const QString scriptPath = dir.filePath(u"load.sql"_s);
    QFile scriptFile(scriptPath);
    if (!scriptFile.open(QIODevice::WriteOnly) || scriptFile.write(script.toUtf8()) < 0)
        qFatal("cannot write the psql script");
    scriptFile.close();
    double psql = std::numeric_limits<double>::max();
    for (int i = 0; i < Runs; ++i)
        psql = std::min(psql, timed(Psql, {u"-X"_s, u"-q"_s, emptyCatalogue(*server), u"-f"_s, scriptPath}));

    std::printf("tenemark-db copy into the server: %.0f ms\n", tool);
    std::printf("psql \\copy of the same rows:      %.0f ms\n", psql);
    std::printf("copy/psql ratio: %.2f\n", tool / psql);
    return 0;
}
