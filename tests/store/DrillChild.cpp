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
//       overwrite question answered either way), slides, rooms and deletes, each told as
//       "B <seq> <kind> <arguments>" and then "D <seq> [id]" (stored), "N <seq> <text>" (not stored)
//       or "U <seq> <text>" (the server did not confirm it); ends with a summary

#include "AppError.h"
#include "Database.h"
#include "DrillPicture.h"
#include "FaultVfs.h"
#include "ItemStore.h"
#include "PasswordStore.h"
#include "SlideStore.h"

#include <QCoreApplication>
#include <QThread>
#include <sqlite3.h>
#include <QElapsedTimer>
#include <QRandomGenerator>

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

// One desk of the two-desk drill on the server.
class Desk {
public:
    Desk(const QString& tag, quint32 seed, qint64 firstSeq) : m_tag(tag), m_rng(seed), m_seq(firstSeq) {}

    void run(qint64 seconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < seconds * 1000) {
            const qint64 seq = ++m_seq;
            try {
                if (seq % 20 == 0 || m_items.isEmpty())
                    m_items = column(m_q, u"select id from items order by id"_s);
                operation(seq);
            } catch (const Database::SaveUncertain& e) {
                ++m_uncertain;
                say(u"U %1 %2"_s.arg(seq).arg(e.text()));
            } catch (const AppError& e) {
                ++m_notStored;
                say(u"N %1 %2"_s.arg(seq).arg(e.text()));
                // While the server is away every operation fails at once: not thousands of them.
                QThread::msleep(50);
            }
        }
        say(u"summary %1 stored %2 not-stored %3 uncertain %4 overwritten %5 reloaded %6"_s.arg(m_tag)
                .arg(m_stored)
                .arg(m_notStored)
                .arg(m_uncertain)
                .arg(m_overwritten)
                .arg(m_reloaded));
    }

private:
    int pick() { return m_items.isEmpty() ? 0 : m_items.at(int(m_rng.bounded(quint32(m_items.size())))); }
    void stored(qint64 seq, const QString& extra = QString()) {
        ++m_stored;
        say(u"D %1%2"_s.arg(seq).arg(extra.isEmpty() ? QString() : u' ' + extra));
    }
    void notStored(qint64 seq, const QString& why) {
        ++m_notStored;
        say(u"N %1 %2"_s.arg(seq).arg(why));
    }

    void operation(qint64 seq) {
        enum Kind { Insert, Edit, Slide, SlideDelete, Room, Delete };
        const int weights[] = {m_items.size() < 8 ? 40 : 10, 35, 12, 8, 15, m_items.size() > 15 ? 15 : 3};
        int total = 0;
        for (int w : weights)
            total += w;
        int pick = int(m_rng.bounded(quint32(total)));
        int kind = 0;
        while (pick >= weights[kind])
            pick -= weights[kind++];
        const int target = this->pick();
        if (target == 0)
            kind = Insert;
        const QString name = u"%1-%2"_s.arg(m_tag).arg(seq);
        switch (Kind(kind)) {
        case Insert: {
            say(u"B %1 insert %2"_s.arg(seq).arg(name));
            ItemStore::NewItem item;
            item.texts.insert(u"osob"_s, name);
            item.dolg = double(seq);
            ItemStore::insertItem(m_q, item);
            // Stored: a failure to find its number now does not undo that.
            int id = 0;
            try {
                id = scalar(m_q, u"select max(id) from items where osob='%1'"_s.arg(name));
                m_items.append(id);
            } catch (const AppError&) {
            }
            stored(seq, QString::number(id));
            break;
        }
        case Edit:
            say(u"B %1 edit %2"_s.arg(seq).arg(target));
            edit(seq, target);
            break;
        case Slide:
            say(u"B %1 slide %2 %3"_s.arg(seq).arg(target).arg(name));
            SlideStore::insertSlide(m_q, target, u".jpg"_s, name.toUtf8());
            stored(seq);
            break;
        case SlideDelete: {
            const QList<SlideRecord> slides = SlideStore::loadSlides(m_q, target);
            if (slides.isEmpty())
                return;
            const SlideRecord& slide = slides.at(int(m_rng.bounded(quint32(slides.size()))));
            say(u"B %1 slide-delete %2 %3"_s.arg(seq).arg(slide.id).arg(QString::fromUtf8(slide.picture)));
            SlideStore::deleteSlide(m_q, slide.id);
            stored(seq);
            break;
        }
        case Room:
            say(u"B %1 room %2 %3"_s.arg(seq).arg(target).arg(name));
            addRoom(m_q, target, name);
            stored(seq);
            break;
        case Delete:
            say(u"B %1 delete %2"_s.arg(seq).arg(target));
            ItemStore::deleteItem(m_q, target);
            m_items.removeOne(target);
            stored(seq);
            break;
        }
    }

    // The card's edit: loaded, a moment of typing, then saved over what was loaded; when the other
    // desk changed the item meanwhile, the overwrite question is answered yes or no by lot.
    void edit(qint64 seq, int id) {
        ItemStore::ItemSnapshot loaded = ItemStore::readSnapshot(m_q, id);
        if (!loaded.exists) {
            notStored(seq, u"gone before the card opened"_s);
            return;
        }
        QThread::msleep(m_rng.bounded(20u));
        QHash<QString, QString> texts = cardTexts(loaded.value(u"osob"_s).toString(), seq);
        texts.insert(u"dolg"_s, QString::number(seq));
        for (;;) {
            const ItemStore::SaveResult result = ItemStore::updateItemIfUnchanged(m_q, id, loaded, texts, {});
            switch (result.outcome) {
            case ItemStore::SaveOutcome::Saved:
                stored(seq);
                return;
            case ItemStore::SaveOutcome::Deleted:
                notStored(seq, u"deleted meanwhile"_s);
                return;
            case ItemStore::SaveOutcome::ChangedElsewhere:
                break;
            }
            if (m_rng.bounded(2u) == 0) {
                ++m_reloaded;
                notStored(seq, u"reloaded"_s);
                return;
            }
            ++m_overwritten;
            loaded = result.current;
        }
    }

    StoreQuery m_q;
    QString m_tag;
    QRandomGenerator m_rng;
    qint64 m_seq;
    QList<int> m_items;
    int m_stored = 0;
    int m_notStored = 0;
    int m_uncertain = 0;
    int m_overwritten = 0;
    int m_reloaded = 0;
};

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
            if (Database::openServer(StoreSettings::fromConnectionString(args[2])) != Database::ServerLogin::Opened)
                throw AppError(u"the server wants a password"_s);
            say(u"ready"_s);
            // The desks' numbers do not meet: each operation's values name it.
            Desk(args[3], args[5].toUInt(), qint64(args[5].toUInt()) * 10'000'000).run(args[4].toLongLong());
            return 0;
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
