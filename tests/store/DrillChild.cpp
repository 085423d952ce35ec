// The child process of the store drills: the program's store operations on a catalogue, run
// through the program's own connection.
//
//   tenemark-drill-child crash PATH SEED
//       runs operations until it is killed; prints "ready" once the catalogue is open, then
//       "B <seq> <operation> <arguments>" before and "D <seq>" after each operation
//   tenemark-drill-child writer PATH TAG COUNT SYNC
//       waits for a line on its input, then writes COUNT operations without pause and prints a
//       summary; exits 0 when none failed. SYNC is "sync" for the disk's own syncs, or a number of
//       microseconds that each sync pauses instead (the locking is the same either way).
//   tenemark-drill-child writer --server CONNINFO TAG COUNT
//       the same on a PostgreSQL server's catalogue
//   tenemark-drill-child hold PATH immediate|exclusive
//       another copy in the middle of a write: takes the file's write lock (or, exclusive, keeps
//       readers out too), prints "held", and commits once a line arrives on its input
//   tenemark-drill-child desk --server CONNINFO TAG SECONDS SEED
//       one desk of an agency for SECONDS: inserts, edits of the items both desks share (the
//       overwrite question answered either way, each yes told as "Q <seq> yes"), slides, rooms and
//       deletes, each told as "B <seq> <kind> <arguments>" and then "D <seq>" (stored),
//       "N <seq> <text>" (not stored) or "U <seq> <text>" (the server did not confirm it)

#include "AppError.h"
#include "Database.h"
#include "DrillPicture.h"
#include "FaultVfs.h"
#include "ItemStore.h"
#include "PasswordStore.h"
#include "SlideStore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <sqlite3.h>

#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// One write per line, so that a kill never cuts a line.
void say(const QString& line) {
    const QByteArray bytes = (line + u'\n').toUtf8();
    if (::write(STDOUT_FILENO, bytes.constData(), size_t(bytes.size())) != bytes.size())
        std::_Exit(4);
}

int scalar(StoreQuery& q, const QString& sql) {
    q.setText(sql);
    q.open();
    const int value = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    return value;
}

QList<int> column(StoreQuery& q, const QString& sql) {
    q.setText(sql);
    q.open();
    QList<int> values;
    while (q.next())
        values.append(q.value(0).toInt());
    return values;
}

int nextId(StoreQuery& q, const QString& table) {
    return scalar(q,
                  u"select coalesce((select seq from sqlite_sequence where name='%1'), 0) + 1"_s.arg(table));
}

QHash<QString, QString> cardTexts(const QString& osob, qint64 seq) {
    return {{u"osob"_s, osob},         {u"dolg"_s, QString::number(seq % 100000)},
            {u"etazh"_s, u"1"_s},      {u"etazhnost"_s, u"1"_s},
            {u"obsh_plosh"_s, u"1"_s}, {u"stoim"_s, u"1"_s}};
}

void insertItem(StoreQuery& q, const QString& osob, qint64 seq) {
    ItemStore::NewItem item;
    item.texts.insert(u"osob"_s, osob);
    item.dolg = double(seq % 100000);
    item.dateReg = QDateTime(QDate(2024, 5, 1), QTime(12, 0));
    ItemStore::insertItem(q, item);
}

void addRoom(StoreQuery& q, int itemId, const QString& name) {
    q.setText(u"insert into rooms (Items_ID, RoomName, P) values (:i, :n, 1)"_s);
    q.bind(u"i"_s, itemId);
    q.bind(u"n"_s, name);
    q.execute();
}

int crash(const QString& path, quint32 seed) {
    Database::open(path);
    StoreQuery q;
    QList<int> items = column(q, u"select id from items order by id"_s);
    QStringList entries;
    for (const QString& e : LookupStore::loadEntries(q, u"grupy"_s))
        entries.append(e);
    int slides = scalar(q, u"select count(*) from slides"_s);
    say(u"ready"_s);

    QRandomGenerator rng(seed);
    for (qint64 seq = qint64(seed) * 100'000;; ++seq) {
        enum Kind { Insert, Update, Guarded, Room, Slide, Delete, Rename, Password };
        // Weights keep the file small: a few slides, a few dozen items.
        const int weights[] = {items.size() < 25 ? 20 : 4, 15, 10, 15, slides < 4 ? 8 : 0,
                               items.size() > 20 ? 25 : 8, 8,  8};
        int total = 0;
        for (int w : weights)
            total += w;
        int pick = int(rng.bounded(quint32(total)));
        int kind = 0;
        while (pick >= weights[kind])
            pick -= weights[kind++];
        if (items.isEmpty() && kind != Rename && kind != Password)
            kind = Insert;
        const int target = items.isEmpty() ? 0 : items.at(int(rng.bounded(quint32(items.size()))));

        switch (Kind(kind)) {
        case Insert: {
            const int id = nextId(q, u"items"_s);
            say(u"B %1 insert %2"_s.arg(seq).arg(id));
            insertItem(q, u"op%1"_s.arg(seq), seq);
            items.append(id);
            break;
        }
        case Update:
            say(u"B %1 update %2"_s.arg(seq).arg(target));
            ItemStore::updateItem(q, target, cardTexts(u"op%1"_s.arg(seq), seq), QVariant());
            break;
        case Guarded: {
            say(u"B %1 update %2"_s.arg(seq).arg(target));
            const ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(q, target);
            const auto result =
                ItemStore::updateItemIfUnchanged(q, target, loaded, cardTexts(u"op%1"_s.arg(seq), seq), {});
            if (result.outcome != ItemStore::SaveOutcome::Saved)
                throw AppError(u"guarded update not saved"_s);
            break;
        }
        case Room:
            say(u"B %1 room %2"_s.arg(seq).arg(target));
            addRoom(q, target, u"r%1"_s.arg(seq));
            break;
        case Slide: {
            const int id = nextId(q, u"slides"_s);
            const QByteArray picture = DrillPicture::make(seq);
            say(u"B %1 slide %2 %3"_s.arg(seq).arg(id).arg(target));
            SlideStore::insertSlide(q, target, u".jpg"_s, picture);
            ++slides;
            break;
        }
        case Delete:
            say(u"B %1 delete %2"_s.arg(seq).arg(target));
            ItemStore::deleteItem(q, target);
            items.removeOne(target);
            slides = scalar(q, u"select count(*) from slides"_s);
            break;
        case Rename: {
            const int index = int(rng.bounded(quint32(entries.size())));
            const QString renamed = u"g%1-%2"_s.arg(index).arg(seq);
            say(u"B %1 rename %2 %3"_s.arg(seq).arg(entries[index], renamed));
            if (LookupStore::renameEntry(q, u"grupy"_s, entries[index], renamed) != 1)
                throw AppError(u"entry %1 not renamed"_s.arg(entries[index]));
            entries[index] = renamed;
            break;
        }
        case Password:
            say(u"B %1 password p%1"_s.arg(seq));
            PasswordStore::setPassword(q, u"p%1"_s.arg(seq));
            break;
        }
        say(u"D %1"_s.arg(seq));
    }
}

int hold(const QString& path, const QString& mode) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 3;
    sqlite3_busy_timeout(db, 10'000);
    const QByteArray begin = mode == u"exclusive" ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE";
    if (sqlite3_exec(db, begin.constData(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "insert into grupy values ('другая копия')", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 3;
    say(u"held"_s);
    char line[16];
    const bool asked = std::fgets(line, sizeof line, stdin) != nullptr;
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    say(u"released"_s);
    return asked && rc == SQLITE_OK ? 0 : 3;
}

// One desk of the two-desk drill on the server: operations on the items both desks share, each
// told with its outcome, until `seconds` have passed.
int desk(const QString& tag, qint64 seconds, quint32 seed) {
    StoreQuery q;
    QRandomGenerator rng(seed);
    QList<int> items;
    int told[3] = {};
    const auto tell = [&](qint64 seq, int outcome, const QString& text) {
        ++told[outcome];
        say(u"%1 %2 %3"_s.arg(QChar(u"DNU"[outcome])).arg(seq).arg(text));
    };
    QElapsedTimer clock;
    clock.start();
    // Each operation's values name it: the desks' numbers do not meet.
    for (qint64 seq = qint64(seed) * 10'000'000; clock.elapsed() < seconds * 1000; ++seq) {
        const QString name = u"%1-%2"_s.arg(tag).arg(seq);
        try {
            if (seq % 20 == 0 || items.isEmpty())
                items = column(q, u"select id from items order by id"_s);
            const int target = items.isEmpty() ? 0 : items.at(int(rng.bounded(quint32(items.size()))));
            const int roll = target == 0 ? 0 : int(rng.bounded(100u));
            if (roll < (items.size() < 8 ? 35 : 10)) {
                say(u"B %1 insert %2"_s.arg(seq).arg(name));
                ItemStore::NewItem item;
                item.texts.insert(u"osob"_s, name);
                item.dolg = double(seq);
                ItemStore::insertItem(q, item);
                tell(seq, 0, QString());
            } else if (roll < 60) {
                // The card: loaded, a moment of typing, saved over what was loaded; when the other
                // desk changed the item meanwhile, the overwrite question is answered by lot.
                say(u"B %1 edit %2"_s.arg(seq).arg(target));
                ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(q, target);
                QThread::msleep(rng.bounded(20u));
                QHash<QString, QString> texts = cardTexts(loaded.value(u"osob"_s).toString(), seq);
                texts.insert(u"dolg"_s, QString::number(seq));
                ItemStore::SaveResult result;
                while (loaded.exists &&
                       (result = ItemStore::updateItemIfUnchanged(q, target, loaded, texts, {})).outcome ==
                           ItemStore::SaveOutcome::ChangedElsewhere &&
                       rng.bounded(2u) == 0) {
                    say(u"Q %1 yes"_s.arg(seq));
                    loaded = result.current;
                }
                if (loaded.exists && result.outcome == ItemStore::SaveOutcome::Saved)
                    tell(seq, 0, QString());
                else
                    tell(seq, 1,
                         result.outcome == ItemStore::SaveOutcome::ChangedElsewhere ? u"no"_s : u"gone"_s);
            } else if (roll < 75) {
                say(u"B %1 slide %2 %3"_s.arg(seq).arg(target).arg(name));
                SlideStore::insertSlide(q, target, u".jpg"_s, name.toUtf8());
                tell(seq, 0, QString());
            } else if (roll < (items.size() > 15 ? 85 : 97)) {
                say(u"B %1 room %2 %3"_s.arg(seq).arg(target).arg(name));
                addRoom(q, target, name);
                tell(seq, 0, QString());
            } else {
                const QString osob = ItemStore::readSnapshot(q, target).value(u"osob"_s).toString();
                say(u"B %1 delete %2 %3"_s.arg(seq).arg(target).arg(osob));
                ItemStore::deleteItem(q, target);
                items.removeOne(target);
                tell(seq, 0, QString());
            }
        } catch (const Database::SaveUncertain& e) {
            tell(seq, 2, e.text());
        } catch (const AppError& e) {
            tell(seq, 1, e.text());
            // While the server is away every operation fails at once: not thousands of them.
            QThread::msleep(50);
        }
    }
    say(u"summary %1 stored %2, not stored %3, not confirmed %4"_s.arg(tag).arg(told[0]).arg(told[1]).arg(
        told[2]));
    return 0;
}

int writer(const QString& path, const QString& tag, int count, const QString& sync) {
    if (sync == u"server") {
        if (Database::openServer(StoreSettings::fromConnectionString(path)) != Database::ServerLogin::Opened)
            throw AppError(u"the server wants a password"_s);
    } else {
        if (sync != u"sync") {
            FaultVfs::Faults& faults = FaultVfs::install();
            faults.skipSync = true;
            faults.syncPauseMicroseconds = sync.toInt();
        }
        Database::open(path);
    }
    int notes = 0;
    Database::setWaitNotifier([&](bool waiting) { notes += waiting ? 1 : 0; });
    StoreQuery q;
    say(u"ready"_s);
    char go[16];
    if (!std::fgets(go, sizeof go, stdin))
        return 5;

    int failed = 0;
    qint64 longest = 0;
    QElapsedTimer clock;
    int lastItem = 0;
    for (int i = 0; i < count; ++i) {
        const QString name = u"%1-%2"_s.arg(tag).arg(i);
        clock.start();
        try {
            switch (i % 5) {
            case 0:
                insertItem(q, name, 0);
                lastItem = scalar(q, u"select max(id) from items where osob='%1'"_s.arg(name));
                break;
            case 1:
                LookupStore::addEntry(q, u"grupy"_s, name);
                break;
            case 2:
                addRoom(q, lastItem, name);
                break;
            case 3: {
                // The item this copy inserted two operations ago, saved with a new debt.
                const ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(q, lastItem);
                QHash<QString, QString> texts = cardTexts(loaded.value(u"osob"_s).toString(), 1);
                const auto result = ItemStore::updateItemIfUnchanged(q, lastItem, loaded, texts, {});
                if (result.outcome != ItemStore::SaveOutcome::Saved)
                    throw AppError(u"guarded update not saved"_s);
                break;
            }
            default:
                PasswordStore::setPassword(q, name);
                break;
            }
        } catch (const AppError& e) {
            ++failed;
            say(u"failed %1: %2"_s.arg(name, e.text()));
        }
        longest = std::max(longest, clock.elapsed());
    }
    say(u"summary %1 %2 %3 %4 %5"_s.arg(tag).arg(count).arg(failed).arg(longest).arg(notes));
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    try {
        if (args.size() == 3 && args[0] == u"crash")
            return crash(args[1], args[2].toUInt());
        if (args.size() == 5 && args[0] == u"writer" && args[1] == u"--server")
            return writer(args[2], args[3], args[4].toInt(), u"server"_s);
        if (args.size() == 5 && args[0] == u"writer")
            return writer(args[1], args[2], args[3].toInt(), args[4]);
        if (args.size() == 3 && args[0] == u"hold")
            return hold(args[1], args[2]);
        if (args.size() == 6 && args[0] == u"desk" && args[1] == u"--server") {
            if (Database::openServer(StoreSettings::fromConnectionString(args[2])) !=
                Database::ServerLogin::Opened)
                throw AppError(u"the server wants a password"_s);
            return desk(args[3], args[4].toLongLong(), args[5].toUInt());
        }
    } catch (const AppError& e) {
        say(u"error "_s + e.text());
        return 3;
    }
    std::fputs("usage: tenemark-drill-child crash PATH SEED | writer PATH TAG COUNT SYNC | "
               "writer --server CONNINFO TAG COUNT | hold PATH immediate|exclusive | "
               "desk --server CONNINFO TAG SECONDS SEED\n",
               stderr);
    return 2;
}
