// Times the conversion of a catalogue kept in the Jet 4 format: 10,000 items with their rooms and
// 2,000 photographs, made at run time by the Jet writer of the shared tools (../shared/tools/
// jetwriter.py beside the source tree; without it the benchmark says so and stops):
//  (a) reading every row and every picture with libmdb alone, as its own export does (columns
//      bound, pictures through mdb_ole_read_full);
//  (b) the whole conversion into a new catalogue file (JetImport), commit and comparisons included.
// Also (a) from a mapping of the file, which is how the conversion has libmdb read it. Prints the
// best of a few runs of each and the ratio b/a last. It never fails on the numbers.
#include "BenchCatalogue.h"
#include "JetImport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <glib.h>
#include <mdbtools.h>

#include <cstdio>
#include <functional>
#include <limits>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int ItemCount = 10000;
constexpr int PhotoCount = 2000;
constexpr int DistinctPhotos = 40;
constexpr int Repetitions = 5;

QString writerPath() {
    for (const char* up : {"/../shared", "/../../shared"}) {
        const QString path =
            QString::fromUtf8(TENEMARK_SOURCE_DIR) + QLatin1StringView(up) + u"/tools/jetwriter.py"_s;
        if (QFile::exists(path))
            return QDir::cleanPath(path);
    }
    return QString();
}

QJsonArray columns(std::initializer_list<std::pair<const char*, const char*>> list) {
    QJsonArray out;
    for (const auto& [name, type] : list)
        out.append(QJsonObject{{u"name"_s, QLatin1StringView(name)}, {u"type"_s, QLatin1StringView(type)}});
    return out;
}

// The catalogue's tables with ItemCount items, two rooms each, PhotoCount photographs of 8 to 64 KB
// (DistinctPhotos files, each stored many times) and the directories.
QJsonObject catalogueLayout(const QString& folder) {
    QRandomGenerator random(20);
    QStringList pictures;
    for (int p = 0; p < DistinctPhotos; ++p) {
        QByteArray bytes(8192 + qsizetype(random.bounded(57344)), Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        const QString path = folder + u"photo%1.jpg"_s.arg(p);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a picture file");
        pictures << path;
    }
    const QStringList districts{u"Центральный"_s, u"Ленинский"_s, u"Октябрьский"_s, u"Советский"_s};
    QJsonArray items, slides, rooms;
    for (int i = 1; i <= ItemCount; ++i) {
        QJsonObject item{{u"date_reg"_s, u"2004-%1-%2T10:%3:00"_s.arg(1 + i % 12, 2, 10, QChar(u'0'))
                                             .arg(1 + i % 28, 2, 10, QChar(u'0'))
                                             .arg(i % 60, 2, 10, QChar(u'0'))},
                         {u"grupa"_s, u"Продажа"_s},
                         {u"rajon"_s, districts[i % districts.size()]},
                         {u"obsh_plosh"_s, 30.5 + i % 90},
                         {u"etazh"_s, 1 + i % 9},
                         {u"etazhnost"_s, 9},
                         {u"sost"_s, u"Хорошее, после ремонта"_s},
                         {u"osob"_s, u"ул. Мира, д. %1, кв. %2\r\nБалкон застеклён"_s.arg(i % 80).arg(i)},
                         {u"stoim"_s, u"%1.00"_s.arg(1000000 + i * 50)},
                         {u"dolg"_s, u"0"_s},
                         {u"kontakt_inf"_s, u"Иванов Пётр Сергеевич\r\nтел. 8-912-%1"_s.arg(i)}};
        items.append(item);
        for (const char* room : {"Кухня", "Зал"})
            rooms.append(
                QJsonObject{{u"Items_ID"_s, i}, {u"RoomName"_s, QString::fromUtf8(room)}, {u"P"_s, 9.5}});
    }
    for (int s = 0; s < PhotoCount; ++s)
        slides.append(QJsonObject{{u"parent_id"_s, 1 + s * (ItemCount / PhotoCount)},
                                  {u"ext"_s, u".jpg"_s},
                                  {u"picture"_s, QJsonObject{{u"file"_s, pictures[s % DistinctPhotos]}}},
                                  {u"notes"_s, u"Вид из окна"_s}});
    QJsonArray itemColumns = columns({{"id", "autonumber"}, {"date_reg", "datetime"}});
    for (const char* name : {"grupa", "rajon"})
        itemColumns.append(QJsonObject{{u"name"_s, QLatin1StringView(name)}, {u"type"_s, u"text"_s}});
    for (const QJsonValue& c :
         columns({{"obsh_plosh", "double"}, {"sanuzel", "text"},     {"komnoty", "text"},
                  {"tip_kv", "text"},       {"sost", "memo"},        {"pech", "text"},
                  {"kolonka", "text"},      {"etazh", "long"},       {"etazhnost", "long"},
                  {"dver", "text"},         {"perigorodka", "text"}, {"osob", "memo"},
                  {"gaz", "text"},          {"konaliz", "text"},     {"garazh", "text"},
                  {"voda", "text"},         {"tip_stroen", "text"},  {"stoim", "currency"},
                  {"dolg", "currency"},     {"kontakt_inf", "memo"}}))
        itemColumns.append(c);
    QJsonArray tables{
        QJsonObject{{u"name"_s, u"items"_s}, {u"columns"_s, itemColumns}, {u"rows"_s, items}},
        QJsonObject{{u"name"_s, u"slides"_s},
                    {u"columns"_s, columns({{"id", "autonumber"},
                                            {"parent_id", "long"},
                                            {"ext", "text"},
                                            {"picture", "ole"},
                                            {"notes", "text"}})},
                    {u"rows"_s, slides}},
        QJsonObject{{u"name"_s, u"rooms"_s},
                    {u"columns"_s, columns({{"Items_ID", "long"}, {"RoomName", "text"}, {"P", "double"}})},
                    {u"rows"_s, rooms}},
        QJsonObject{{u"name"_s, u"pwl_cell"_s}, {u"columns"_s, columns({{"pwl_value", "text"}})}}};
    for (const char* directory :
         {"grupy", "rajony", "dveri", "garazhi", "gazy", "kolonki", "konalizacii", "pechi", "peregorodki",
          "sanuzly", "tipy_kv", "tipy_stroenij", "voda", "komnaty"})
        tables.append(QJsonObject{{u"name"_s, QLatin1StringView(directory)},
                                  {u"columns"_s, columns({{"naimen", "text"}})},
                                  {u"rows"_s, QJsonArray{QJsonArray{u"Центральный"_s}}}});
    return QJsonObject{{u"tables"_s, tables}};
}

// Every row of every table and every picture, with libmdb alone, on the file itself or, as the
// conversion reads it, on a mapping of the file; returns the picture bytes read.
qint64 readWithLibmdb(const QString& path, bool mapped) {
    QFile file(path);
    uchar* bytes = mapped && file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
    MdbHandle* mdb = mapped ? mdb_open_buffer(bytes, size_t(file.size()), MDB_NOFLAGS)
                            : mdb_open(QFile::encodeName(path).constData(), MDB_NOFLAGS);
    if (!mdb || !mdb_read_catalog(mdb, MDB_TABLE))
        qFatal("libmdb cannot open the file");
    qint64 pictureBytes = 0;
    for (unsigned int i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE || !mdb_is_user_table(entry))
            continue;
        MdbTableDef* table = mdb_read_table(entry);
        mdb_read_columns(table);
        mdb_rewind_table(table);
        std::vector<std::vector<char>> bound(table->num_cols, std::vector<char>(MDB_BIND_SIZE));
        std::vector<int> lengths(table->num_cols);
        for (unsigned int c = 0; c < table->num_cols; ++c)
            mdb_bind_column(table, int(c) + 1, bound[c].data(), &lengths[c]);
        while (mdb_fetch_row(table)) {
            for (unsigned int c = 0; c < table->num_cols; ++c) {
                auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
                if (column->col_type != MDB_OLE || lengths[c] == 0)
                    continue;
                size_t size = 0;
                void* picture = mdb_ole_read_full(mdb, column, &size);
                pictureBytes += qint64(size);
                free(picture);
            }
        }
        mdb_free_tabledef(table);
    }
    mdb_close(mdb);
    return pictureBytes;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString writer = writerPath();
    if (writer.isEmpty()) {
        std::printf("the Jet writer (../shared/tools/jetwriter.py beside the source tree) is not there; "
                    "nothing was timed\n");
        return 0;
    }
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("cannot create a temporary folder");
    const QString folder = dir.path() + u'/';
    const QString jet = folder + u"catalogue.mdb"_s;
    QFile description(folder + u"catalogue.json"_s);
    if (!description.open(QIODevice::WriteOnly) ||
        description.write(QJsonDocument(catalogueLayout(folder)).toJson(QJsonDocument::Compact)) < 0)
        qFatal("cannot write the writer's description");
    description.close();
    QElapsedTimer timer;
    timer.start();
    QProcess python;
    python.start(u"python3"_s, {writer, jet, description.fileName()});
    if (!python.waitForFinished(300000) || python.exitStatus() != QProcess::NormalExit ||
        python.exitCode() != 0) {
        std::printf("the Jet writer failed (%s); nothing was timed\n",
                    python.readAllStandardError().trimmed().constData());
        return 0;
    }
    std::printf("Jet file of %d items and %d photographs written in %lld ms: %lld MB\n", ItemCount,
                PhotoCount, timer.elapsed(), QFile(jet).size() >> 20);

    qint64 pictureBytes = 0;
    const double read =
        BenchCatalogue::bestOf(Repetitions, [&] { pictureBytes = readWithLibmdb(jet, false); });
    std::printf("read with libmdb alone (every row, %lld MB of pictures): %.1f ms\n", pictureBytes >> 20,
                read);
    const double mappedRead = BenchCatalogue::bestOf(Repetitions, [&] { readWithLibmdb(jet, true); });
    std::printf("the same from a mapping of the file, as the conversion reads: %.1f ms\n", mappedRead);
    int run = 0;
    JetImportReport report;
    const double import = BenchCatalogue::bestOf(Repetitions, [&] {
        JetImport conversion(jet, folder + u"converted%1.db"_s.arg(run++));
        report = conversion.run();
    });
    std::printf("conversion (%s, %d pictures compared): %.1f ms\n",
                qPrintable(report.counts.mid(0, 3).join(u", "_s)), report.pictures, import);
    std::printf("import/mapped read ratio: %.2f\n", import / mappedRead);
    std::printf("import/read ratio: %.2f\n", import / read);
    return 0;
}
