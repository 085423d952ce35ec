// Start-up to the listed window: the program started on a catalogue of 100,000 items shown in all
// 22 columns, until its list has been painted, against the same start-up on a catalogue without
// items plus one LoadItemList of the 100,000 items. Each start runs in a child process of its own
// (the best of a few); the time counts from the moment the benchmark starts the child. Not a test;
// run
//   build/bench/tenemark-bench-startup
// and read the last line, "startup/load ratio: R". It never fails on the numbers.
#include "BenchCatalogue.h"
#include "Program.h"
#include "TMainForm.h"
#include "TenemarkApplication.h"

#include <QTemporaryDir>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int Starts = 3;

qint64 monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The best start of a few, in milliseconds.
double bestStart(const QString& folder) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < Starts; ++i)
        best = std::min(
            best,
            BenchCatalogue::runChild({u"--start"_s, folder, QString::number(monotonicNs())}).toDouble());
    return best;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc >= 3 && (qstrcmp(argv[1], "--start") == 0 || qstrcmp(argv[1], "--load") == 0)) {
        const bool start = qstrcmp(argv[1], "--start") == 0;
        const qint64 launched = argc > 3 ? QByteArray(argv[3]).toLongLong() : 0;
        // As main() does.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        TenemarkApplication app(argc, argv);
        Program program;
        BenchCatalogue::startProgram(program, QString::fromLocal8Bit(argv[2]));
        if (start) {
            std::printf("%.1f\n", double(monotonicNs() - launched) / 1e6);
        } else {
            TMainForm* main = program.mainForm();
            std::printf("%.1f\n", BenchCatalogue::bestOf(3, [main] { main->LoadItemList(); }));
        }
        std::fflush(stdout);
        // The windows need not be taken down one by one.
        std::_Exit(0);
    }
    QCoreApplication app(argc, argv);
    const BenchCatalogue::FullAndEmpty catalogues;
    const QTemporaryDir& full = catalogues.full;
    const QTemporaryDir& empty = catalogues.empty;

    const double listed = bestStart(full.path());
    const double emptyStart = bestStart(empty.path());
    const double load = BenchCatalogue::runChild({u"--load"_s, full.path()}).toDouble();
    std::printf("start-up to the listed window, 100,000 items: %.0f ms\n", listed);
    std::printf("start-up to the window, no items:             %.0f ms\n", emptyStart);
    std::printf("LoadItemList, 100,000 items:                  %.0f ms\n", load);
    std::printf("startup/load ratio: %.2f\n", listed / (emptyStart + load));
    return 0;
}
