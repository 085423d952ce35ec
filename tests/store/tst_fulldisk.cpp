#include "AppError.h"
#include "Database.h"
#include "FaultVfs.h"
#include "ItemStore.h"
#include "PasswordStore.h"
#include "RawConnection.h"
#include "SlideStore.h"
#include "TestSupport.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString FullText = u"Недостаточно места на диске: изменения не сохранены (database or disk is full)"_s;
const QString FolderText = u"Папка с файлом базы данных недоступна для записи, журнал изменений не создан: "
                           u"изменения не сохранены (attempt to write a readonly database)"_s;
const QString JournalText = u"Не удалось создать журнал изменений рядом с файлом базы данных: изменения не "
                            u"сохранены (unable to open database file)"_s;

// Long enough that every change that stores it needs new pages.
QString longText(const QString& seed) {
    return seed.repeated(100'000 / int(seed.size()));
}

// One user action that writes; the item with id 1 has two rooms and a slide.
struct Operation {
    const char* name;
    bool grows; // needs more room in the file than it had
    std::function<void(StoreQuery&)> run;
    QString effect;   // a select that shows the change...
    QString expected; // ...with its result once the action is done
};

QHash<QString, QString> cardTexts() {
    return {{u"grupa"_s, u"Продажа"_s},
            {u"etazh"_s, u"3"_s},
            {u"etazhnost"_s, u"9"_s},
            {u"obsh_plosh"_s, u"54"_s},
            {u"stoim"_s, u"100000"_s},
            {u"dolg"_s, u"0"_s},
            {u"osob"_s, longText(u"особенности "_s)}};
}

const QList<Operation>& operations() {
    static const QList<Operation> list = {
        {"item insert", true,
         [](StoreQuery& q) {
             ItemStore::NewItem item;
             item.texts.insert(u"osob"_s, longText(u"новый "_s));
             item.dateReg = QDateTime(QDate(2024, 5, 1), QTime(10, 0));
             ItemStore::insertItem(q, item);
         },
         u"select count(*), max(length(osob)) from items"_s, u"2|%1"_s.arg(longText(u"новый "_s).size())},
        {"item update", true, [](StoreQuery& q) { ItemStore::updateItem(q, 1, cardTexts(), QVariant()); },
         u"select etazhnost, length(osob) from items"_s, u"9|%1"_s.arg(cardTexts()[u"osob"_s].size())},
        {"guarded item update", true,
         [](StoreQuery& q) {
             const ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(q, 1);
             const auto result = ItemStore::updateItemIfUnchanged(q, 1, loaded, cardTexts(), QVariant());
             if (result.outcome != ItemStore::SaveOutcome::Saved)
                 throw AppError(u"not saved"_s);
         },
         u"select etazhnost, length(osob) from items"_s, u"9|%1"_s.arg(cardTexts()[u"osob"_s].size())},
        {"slide insert", true,
         [](StoreQuery& q) { SlideStore::insertSlide(q, 1, u".jpg"_s, QByteArray(2 * 1024 * 1024, '\x5a')); },
         u"select count(*), max(length(picture)) from slides"_s, u"2|2097152"_s},
        {"directory add", true,
         [](StoreQuery& q) { LookupStore::addEntry(q, u"grupy"_s, longText(u"группа "_s)); },
         u"select count(*), max(length(naimen)) from grupy"_s, u"3|%1"_s.arg(longText(u"группа "_s).size())},
        {"directory rename", true,
         [](StoreQuery& q) { LookupStore::renameEntry(q, u"grupy"_s, u"Обмен"_s, longText(u"обмен "_s)); },
         u"select count(*), max(length(naimen)) from grupy"_s, u"2|%1"_s.arg(longText(u"обмен "_s).size())},
        {"directory delete", false,
         [](StoreQuery& q) { LookupStore::deleteEntry(q, u"grupy"_s, u"Обмен"_s); },
         u"select group_concat(naimen) from grupy"_s, u"Продажа"_s},
        {"password change", true, [](StoreQuery& q) { PasswordStore::setPassword(q, longText(u"пароль"_s)); },
         u"select count(*), max(length(pwl_value)) from pwl_cell"_s,
         u"1|%1"_s.arg(longText(u"пароль"_s).size())},
        {"item delete", false, [](StoreQuery& q) { ItemStore::deleteItem(q, 1); },
         u"select (select count(*) from items), (select count(*) from rooms), (select count(*) from slides)"_s,
         u"0|0|0"_s},
    };
    return list;
}

const Operation& operation(const QString& name) {
    for (const Operation& op : operations())
        if (QLatin1StringView(op.name) == name)
            return op;
    qFatal("no operation %s", qPrintable(name));
}

// Every row of every table the operations touch, with pictures by size and checksum.
QStringList contents(const QString& path) {
    RawConnection c(path);
    QStringList all;
    all << c.rows(u"select * from items order by id"_s);
    all << c.rows(u"select * from rooms order by id"_s);
    all << c.rows(u"select id, parent_id, ext, length(picture), notes, hex(substr(picture, -16)) from slides "
                  u"order by id"_s);
    all << c.rows(u"select naimen from grupy order by naimen"_s);
    all << c.rows(u"select pwl_value from pwl_cell"_s);
    return all;
}

enum class Mode { PageLimit, DiskFull, DiskFillsUp, FolderReadOnly, NoJournal };

} // namespace

class TestFullDisk : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { FaultVfs::install(); }
    void cleanup() { FaultVfs::reset(); }

    void refusedWriteLeavesTheDataAsItWas_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("expected");
        const struct {
            const char* name;
            Mode mode;
            bool growingOnly;
            QString text;
        } modes[] = {
            {"page limit", Mode::PageLimit, true, FullText},
            {"disk full", Mode::DiskFull, false, FullText},
            {"disk fills up during the write", Mode::DiskFillsUp, true, FullText},
            {"folder read-only", Mode::FolderReadOnly, false, FolderText},
            {"journal cannot be created", Mode::NoJournal, false, JournalText},
        };
        for (const auto& m : modes) {
            for (const Operation& op : operations()) {
                if (m.growingOnly && !op.grows)
                    continue;
                QTest::addRow("%s, %s", op.name, m.name)
                    << QString::fromLatin1(op.name) << int(m.mode) << m.text;
            }
        }
    }

    void refusedWriteLeavesTheDataAsItWas() {
        QFETCH(QString, operation);
        QFETCH(int, mode);
        QFETCH(QString, expected);
        // Syncs cost time and do not matter here.
        FaultVfs::install().skipSync = true;
        TempCatalogue catalogue;
        const int item = catalogue.addItem({{u"grupa"_s, u"Обмен"_s}, {u"etazh"_s, 2}, {u"dolg"_s, 500}});
        QCOMPARE(item, 1);
        catalogue.exec(
            u"insert into rooms (Items_ID, RoomName, P) values (1, 'Кухня', 8.5), (1, 'Зал', 18)"_s);
        catalogue.exec(u"insert into slides (parent_id, ext, picture) values (1, '.jpg', ?)"_s,
                       {QByteArray(30'000, '\x11')});
        catalogue.addEntries(u"grupy"_s, {u"Обмен"_s, u"Продажа"_s});
        catalogue.exec(u"insert into pwl_cell (pwl_value) values ('старый')"_s);
        const QStringList before = contents(catalogue.databasePath());

        FaultVfs::Faults& faults = FaultVfs::install();
        switch (Mode(mode)) {
        case Mode::PageLimit:
            catalogue.exec(
                u"pragma max_page_count = %1"_s.arg(catalogue.scalar(u"pragma page_count"_s).toInt()));
            break;
        case Mode::DiskFull:
            faults.growthBudget = 0;
            break;
        case Mode::DiskFillsUp:
            // Room for the journal, not for the data.
            faults.growthBudget = 64 * 1024;
            break;
        case Mode::FolderReadOnly:
            faults.refuseJournal = 1544; // SQLITE_READONLY_DIRECTORY
            break;
        case Mode::NoJournal:
            faults.refuseJournal = 14; // SQLITE_CANTOPEN
            break;
        }
        StoreQuery query;
        const Operation& op = ::operation(operation);
        QString text = u"(no failure)"_s;
        try {
            op.run(query);
        } catch (const AppError& e) {
            text = e.text();
        }
        QCOMPARE(text, expected);

        // Once there is room again, the same action is written in full.
        FaultVfs::reset();
        faults.skipSync = true;
        catalogue.exec(u"pragma max_page_count = 1073741823"_s);
        QCOMPARE(contents(catalogue.databasePath()), before);
        QCOMPARE(RawConnection(catalogue.databasePath()).scalar(u"pragma integrity_check"_s), u"ok"_s);
        op.run(query);
        QCOMPARE(RawConnection(catalogue.databasePath()).scalar(op.effect), op.expected);
    }
};

QTEST_MAIN(TestFullDisk)
#include "tst_fulldisk.moc"
