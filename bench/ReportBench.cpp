// Times the general report on a list of 100,000 rows and 22 columns:
//  (a) opening the report window on the list (the list's rows, every row ticked, first paint);
//  (b) writing the report file;
//  (c) writing the same bytes to a file in the same pieces, as the baseline for (b);
//  and, to tell making from writing, (b) into the null device.
// Prints the best of a few runs of each, the file size and the ratio b/c. It never fails on the
// numbers.
#include "AppPaths.h"
#include "BenchCatalogue.h"
#include "GeneralReport.h"
#include "ItemListModel.h"
#include "ReportListModel.h"
#include "TRepForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr int RowCount = 100000;
constexpr int ColumnCount = 22;
constexpr int Repetitions = 7;
constexpr qsizetype ChunkSize = 1 << 20;

double bestOf(const std::function<void()>& run) {
    return BenchCatalogue::bestOf(Repetitions, run);
}

// Texts of the kind the catalogue holds: directory entries, numbers, dates, a longer note.
QString cellText(int row, int column) {
    static const QStringList words{u"Центральный"_s, u"Заречный"_s, u"кирпичный"_s, u"раздельный"_s,
                                   u"есть"_s,        u"нет"_s,      u"хрущевка"_s,  u"железная"_s};
    switch (column) {
    case 0:
        return u"%1.%2.2024"_s.arg(1 + row % 28, 2, 10, QChar(u'0')).arg(1 + row % 12, 2, 10, QChar(u'0'));
    case 3:
        return QString::number(30 + row % 90) + u".5"_s;
    case 10:
    case 11:
        return QString::number(1 + row % 16);
    case 15:
        return u"Угловая, окна во двор, рядом школа & парк"_s;
    case 19:
    case 20:
        return QString::number(1000000 + row * 7);
    default:
        return words.at((row + column) % words.size());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot create a temporary folder");
    AppPaths::setExecutableFolderOverride(dir.path());

    ItemListModel source;
    QList<int> attributes;
    for (int a = 0; a < ColumnCount; ++a)
        attributes.append(a);
    source.setColumns(attributes);
    {
        ItemListModel::Rebuild rebuild(source);
        QStringList texts;
        for (int r = 0; r < RowCount; ++r) {
            texts.clear();
            for (int c = 0; c < ColumnCount; ++c)
                texts.append(cellText(r, c));
            rebuild.rows().addRow(r + 1, texts);
        }
    }
    const QList<int> widths(ColumnCount, 80);

    TRepForm form;
    // Filling and the first paint of the shown window.
    const double openMs = bestOf([&] {
        form.Fill(source, widths);
        form.show();
        QCoreApplication::processEvents();
        form.hide();
    });
    const ReportListModel& list = *form.listModel();

    const QString reportPath = dir.filePath(u"report.htm"_s);
    const double reportMs = bestOf([&] {
        QFile::remove(reportPath);
        GeneralReport::write(list, reportPath);
    });

    // The same into the null device: the time to make the page alone.
    const double makeMs = bestOf([&] { GeneralReport::write(list, QProcess::nullDevice()); });

    QFile report(reportPath);
    if (!report.open(QIODevice::ReadOnly))
        qFatal("cannot read the report");
    const QByteArray bytes = report.readAll();
    report.close();
    const QString copyPath = dir.filePath(u"copy.htm"_s);
    const double rawMs = bestOf([&] {
        QFile::remove(copyPath);
        QFile copy(copyPath);
        if (!copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write the copy");
        for (qsizetype at = 0; at < bytes.size(); at += ChunkSize)
            copy.write(bytes.constData() + at, qMin(ChunkSize, bytes.size() - at));
        copy.close();
    });

    std::printf("rows: %d, columns: %d, ticked: %d\n", list.rowCount(), list.columnCount(),
                list.checkedCount());
    std::printf("open report window (copy of the list): %.1f ms\n", openMs);
    std::printf("report file: %lld bytes\n", static_cast<long long>(bytes.size()));
    std::printf("report write: %.1f ms\n", reportMs);
    std::printf("report into the null device: %.1f ms\n", makeMs);
    std::printf("raw write of the same bytes: %.1f ms\n", rawMs);
    std::printf("report/write ratio: %.2f\n", reportMs / rawMs);
    return 0;
}
