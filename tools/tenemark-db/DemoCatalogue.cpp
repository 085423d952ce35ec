#include "DemoCatalogue.h"

#include "AppError.h"
#include "Database.h"
#include "DemoPictures.h"
#include "Schema.h"
#include "Statements.h"
#include "ValueText.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cmath>
#include <random>

using namespace Qt::StringLiterals;

namespace {

constexpr std::mt19937::result_type Seed = 19052007;
constexpr int PicturePoolSize = 12;

const QStringList& entriesOf(const QString& table) {
    static const QHash<QString, QStringList> entries = {
        {u"grupy"_s,
         {u"Продажа"_s, u"Срочная продажа"_s, u"Обмен"_s, u"Элитное жильё"_s, u"Новостройки"_s,
          u"Вторичное жильё"_s}},
        {u"rajony"_s,
         {u"Центральный"_s, u"Ленинский"_s, u"Октябрьский"_s, u"Заводской"_s, u"Советский"_s,
          u"Железнодорожный"_s, u"Кировский"_s, u"Северный"_s, u"Заречный"_s}},
        {u"dveri"_s,
         {u"Деревянная"_s, u"Металлическая"_s, u"Двойная"_s, u"Бронированная"_s, u"Филёнчатая"_s}},
        {u"garazhi"_s,
         {u"Нет"_s, u"Есть"_s, u"Кооперативный"_s, u"Подземный паркинг"_s, u"Металлический гараж"_s}},
        {u"gazy"_s, {u"Магистральный"_s, u"Баллонный"_s, u"Нет"_s}},
        {u"kolonki"_s, {u"Нет"_s, u"Газовая колонка"_s, u"Электрический бойлер"_s, u"Центральное ГВС"_s}},
        {u"konalizacii"_s, {u"Центральная"_s, u"Септик"_s, u"Выгребная яма"_s, u"Нет"_s}},
        {u"pechi"_s, {u"Газовая плита"_s, u"Электроплита"_s, u"Дровяная печь"_s, u"Нет"_s}},
        {u"peregorodki"_s,
         {u"Кирпичные"_s, u"Гипсокартон"_s, u"Деревянные"_s, u"Бетонные"_s, u"Шлакоблок"_s}},
        {u"sanuzly"_s, {u"Раздельный"_s, u"Совмещённый"_s, u"Два санузла"_s, u"Во дворе"_s}},
        {u"tipy_kv"_s,
         {u"Хрущёвка"_s, u"Брежневка"_s, u"Сталинка"_s, u"Улучшенной планировки"_s, u"Малосемейка"_s,
          u"Студия"_s, u"Ленинградский проект"_s}},
        {u"tipy_stroenij"_s,
         {u"Кирпичный"_s, u"Панельный"_s, u"Монолитный"_s, u"Блочный"_s, u"Деревянный"_s,
          u"Монолитно-кирпичный"_s}},
        {u"voda"_s, {u"Центральная"_s, u"Холодная и горячая"_s, u"Скважина"_s, u"Колодец"_s}},
        {u"komnaty"_s,
         {u"1-комнатная"_s, u"2-комнатная"_s, u"3-комнатная"_s, u"4-комнатная"_s, u"5-комнатная"_s,
          u"Комната в общежитии"_s}},
    };
    return *entries.find(table);
}

const QStringList ConditionLines = {u"Евроремонт 2021 года."_s,
                                    u"Требуется косметический ремонт."_s,
                                    u"Жилое состояние."_s,
                                    u"Пластиковые окна, балкон застеклён."_s,
                                    u"Новая сантехника."_s,
                                    u"Полы — ламинат."_s,
                                    u"Трубы и радиаторы заменены."_s,
                                    u"Натяжные потолки."_s,
                                    u"Требуется капитальный ремонт."_s,
                                    u"Стены выровнены, под чистовую отделку."_s,
                                    u"Деревянные окна, нужна замена."_s,
                                    u"Кухня после ремонта, комнаты в жилом состоянии."_s};

const QStringList FeatureLines = {
    u"Окна во двор."_s,          u"Рядом школа и детский сад."_s,  u"Балкон 6 м."_s,
    u"Лоджия 3 м, утеплена."_s,  u"Встроенная кухня остаётся."_s,  u"Тихий центр."_s,
    u"Высокие потолки 3,2 м."_s, u"Рядом остановка транспорта."_s, u"Документы готовы к сделке."_s,
    u"Один собственник."_s,      u"Подвал в собственности."_s,     u"Угловая квартира."_s,
    u"Вид на реку."_s,           u"Кодовый замок в подъезде."_s};

const QStringList Surnames = {u"Иванов"_s,  u"Петров"_s,  u"Смирнов"_s, u"Кузнецов"_s, u"Попов"_s,
                              u"Соколов"_s, u"Лебедев"_s, u"Козлов"_s,  u"Новиков"_s,  u"Морозов"_s,
                              u"Волков"_s,  u"Фёдоров"_s, u"Орлов"_s,   u"Никитин"_s,  u"Захаров"_s};
const QStringList MaleNames = {u"Александр"_s, u"Сергей"_s,   u"Андрей"_s, u"Дмитрий"_s,
                               u"Николай"_s,   u"Владимир"_s, u"Игорь"_s,  u"Олег"_s};
const QStringList FemaleNames = {u"Елена"_s, u"Ольга"_s,    u"Татьяна"_s, u"Наталья"_s,
                                 u"Ирина"_s, u"Светлана"_s, u"Мария"_s,   u"Анна"_s};
const QStringList Patronymics = {u"Александров"_s, u"Сергеев"_s,  u"Петров"_s,  u"Иванов"_s,
                                 u"Николаев"_s,    u"Викторов"_s, u"Михайлов"_s};
const QStringList ContactNotes = {u"Звонить после 18:00."_s, u"Собственник."_s,
                                  u"Доверенность от собственника."_s, u"Торг уместен."_s,
                                  u"Показ по выходным."_s};

// Uniform choices from a fixed generator; the modulo keeps the sequence the same on every platform.
class Dice {
public:
    Dice() : m_engine(Seed) {}
    int below(int n) { return int(m_engine() % std::mt19937::result_type(n)); }
    int between(int low, int high) { return low + below(high - low + 1); }
    double real(double low, double high) { return low + (high - low) * (double(m_engine()) / 4294967296.0); }
    bool chance(int percent) { return below(100) < percent; }
    const QString& pick(const QStringList& list) { return list[below(int(list.size()))]; }

private:
    std::mt19937 m_engine;
};

double oneDecimal(double value) {
    return std::round(value * 10.0) / 10.0;
}

class Writer {
public:
    explicit Writer(QSqlDatabase db) : m_db(std::move(db)) {}

    QSqlQuery prepare(const QString& text) {
        QSqlQuery q(m_db);
        if (!q.prepare(text))
            throw AppError(engineErrorText(q.lastError()));
        return q;
    }
    static void run(QSqlQuery& q) {
        if (!q.exec())
            throw AppError(engineErrorText(q.lastError()));
    }

private:
    QSqlDatabase m_db;
};

struct Flat {
    int rooms = 1; // 0 for a room in a hostel
    double area = 0;
};

QString multiLine(Dice& dice, const QStringList& lines, int low, int high) {
    QStringList chosen;
    const int count = dice.between(low, high);
    while (chosen.size() < count) {
        const QString& line = dice.pick(lines);
        if (!chosen.contains(line))
            chosen.append(line);
    }
    return chosen.join(u'\n');
}

QString contact(Dice& dice) {
    const bool female = dice.chance(55);
    QString surname = dice.pick(Surnames);
    if (female)
        surname += u'а';
    const QString name = dice.pick(female ? FemaleNames : MaleNames);
    const QString patronymic = dice.pick(Patronymics) + (female ? u"на"_s : u"ич"_s);
    QString text = u"%1 %2 %3\n+7 (9%4) %5-%6-%7"_s.arg(surname, name, patronymic)
                       .arg(dice.between(0, 99), 2, 10, QLatin1Char('0'))
                       .arg(dice.between(100, 999))
                       .arg(dice.between(0, 99), 2, 10, QLatin1Char('0'))
                       .arg(dice.between(0, 99), 2, 10, QLatin1Char('0'));
    if (dice.chance(40))
        text += u"\nдом. 5%1-%2-%3"_s.arg(dice.between(10, 99))
                    .arg(dice.between(0, 99), 2, 10, QLatin1Char('0'))
                    .arg(dice.between(0, 99), 2, 10, QLatin1Char('0'));
    if (dice.chance(50))
        text += u'\n' + dice.pick(ContactNotes);
    return text;
}

int storeysFor(Dice& dice, const QString& building) {
    static const QHash<QString, QList<int>> storeys = {
        {u"Кирпичный"_s, {2, 3, 4, 5, 5, 9}},
        {u"Панельный"_s, {5, 9, 9, 10, 12, 16}},
        {u"Монолитный"_s, {10, 14, 16, 17, 22, 25}},
        {u"Блочный"_s, {5, 5, 9}},
        {u"Деревянный"_s, {1, 2, 2}},
        {u"Монолитно-кирпичный"_s, {9, 10, 12, 14, 17}},
    };
    const QList<int>& choices = *storeys.find(building);
    return choices[dice.below(int(choices.size()))];
}

Flat flatFor(Dice& dice, const QString& komnaty) {
    Flat f;
    if (komnaty.startsWith(u"Комната")) {
        f.rooms = 0;
        f.area = dice.real(12, 22);
    } else {
        f.rooms = komnaty.left(1).toInt();
        static const double low[] = {0, 28, 40, 55, 75, 95};
        static const double high[] = {0, 42, 62, 88, 115, 160};
        f.area = dice.real(low[f.rooms], high[f.rooms]);
    }
    f.area = oneDecimal(f.area);
    return f;
}

QString weightedRooms(Dice& dice) {
    const int roll = dice.below(100);
    const QStringList& k = entriesOf(u"komnaty"_s);
    if (roll < 30)
        return k[0];
    if (roll < 65)
        return k[1];
    if (roll < 90)
        return k[2];
    if (roll < 97)
        return k[3];
    if (roll < 99)
        return k[4];
    return k[5];
}

void writeRooms(QSqlQuery& insert, Dice& dice, int itemId, const Flat& flat) {
    static const QStringList Names = {u"Гостиная"_s, u"Спальня"_s, u"Детская"_s, u"Кабинет"_s,
                                      u"Спальня 2"_s};
    const int living = qMax(1, flat.rooms);
    double kitchen = flat.rooms == 0 ? 0 : oneDecimal(dice.real(6, 12));
    const double livingArea = flat.area * dice.real(0.6, 0.72) - kitchen;
    for (int r = 0; r < living; ++r) {
        insert.bindValue(u":item"_s, itemId);
        insert.bindValue(u":name"_s, flat.rooms == 0 ? u"Комната"_s : Names[r]);
        insert.bindValue(u":p"_s, oneDecimal(qMax(6.0, livingArea / living * dice.real(0.8, 1.2))));
        Writer::run(insert);
    }
    if (kitchen > 0) {
        insert.bindValue(u":item"_s, itemId);
        insert.bindValue(u":name"_s, u"Кухня"_s);
        insert.bindValue(u":p"_s, kitchen);
        Writer::run(insert);
    }
}

} // namespace

void writeDemoCatalogue(const DemoOptions& options) {
    QSqlDatabase db = Database::connection();
    Writer writer(db);
    Dice dice;
    Transaction transaction(db);
    {
        for (const DirectoryTable& t : DirectoryTables) {
            const QString table = QString::fromLatin1(t.table);
            QSqlQuery insert = writer.prepare(Statements::lookupInsert(table));
            for (const QString& entry : entriesOf(table)) {
                insert.bindValue(u":naimen"_s, entry);
                Writer::run(insert);
            }
        }

        // Every item's first slide is a photograph; further slides take the photographs and the
        // pictures of the other formats in turn, so that every format is in the catalogue.
        QList<DemoPicture> photos;
        QList<DemoPicture> pictures;
        if (options.photos && options.items > 0) {
            photos = makeDemoPictures(PicturePoolSize);
            pictures = makeDemoExtras() + photos;
        }
        int nextPicture = 0;

        QSqlQuery item = writer.prepare(Statements::insertItem());
        QSqlQuery room =
            writer.prepare(u"insert into rooms (Items_ID, RoomName, P) values (:item, :name, :p)"_s);
        QSqlQuery slide = writer.prepare(
            u"insert into slides (parent_id, ext, picture, notes) values (:parent, :ext, :picture, :notes)"_s);

        const QDateTime start(options.today.addYears(-3), QTime(0, 0));
        const int days = int(start.date().daysTo(options.today));
        for (int i = 1; i <= options.items; ++i) {
            const QString grupa = dice.pick(entriesOf(u"grupy"_s));
            const QString rajon = dice.pick(entriesOf(u"rajony"_s));
            const QString komnaty = weightedRooms(dice);
            const Flat flat = flatFor(dice, komnaty);
            const QString building = dice.pick(entriesOf(u"tipy_stroenij"_s));
            const int storeys = storeysFor(dice, building);
            const int floor = dice.between(1, storeys);

            double perMetre = dice.real(48000, 82000);
            if (grupa == u"Элитное жильё")
                perMetre *= 1.6;
            else if (grupa == u"Срочная продажа")
                perMetre *= 0.88;
            if (rajon == u"Центральный")
                perMetre *= 1.25;
            const double price = std::round(flat.area * perMetre / 1000.0) * 1000.0;
            const double debt = dice.chance(85) ? 0.0 : std::round(dice.real(1500, 60000) / 100.0) * 100.0;

            const QDateTime registered(start.date().addDays(dice.between(0, days)),
                                       QTime(dice.between(9, 19), dice.below(60), dice.below(60)));

            const QHash<QString, QString> texts = {
                {u"grupa"_s, grupa},
                {u"rajon"_s, rajon},
                {u"sanuzel"_s, dice.pick(entriesOf(u"sanuzly"_s))},
                {u"komnoty"_s, komnaty},
                {u"tip_kv"_s, dice.pick(entriesOf(u"tipy_kv"_s))},
                {u"sost"_s, multiLine(dice, ConditionLines, 1, 3)},
                {u"pech"_s, dice.pick(entriesOf(u"pechi"_s))},
                {u"kolonka"_s, dice.pick(entriesOf(u"kolonki"_s))},
                {u"dver"_s, dice.pick(entriesOf(u"dveri"_s))},
                {u"perigorodka"_s, dice.pick(entriesOf(u"peregorodki"_s))},
                {u"osob"_s, multiLine(dice, FeatureLines, 1, 4)},
                {u"gaz"_s, dice.pick(entriesOf(u"gazy"_s))},
                {u"konaliz"_s, dice.pick(entriesOf(u"konalizacii"_s))},
                {u"garazh"_s, dice.pick(entriesOf(u"garazhi"_s))},
                {u"voda"_s, dice.pick(entriesOf(u"voda"_s))},
                {u"tip_stroen"_s, building},
                {u"kontakt_inf"_s, contact(dice)},
            };
            for (auto it = texts.begin(); it != texts.end(); ++it)
                item.bindValue(u':' + it.key(), it.value());
            item.bindValue(u":obsh_plosh"_s, flat.area);
            item.bindValue(u":etazh"_s, floor);
            item.bindValue(u":etazhnost"_s, storeys);
            item.bindValue(u":stoim"_s, price);
            item.bindValue(u":dolg"_s, debt);
            item.bindValue(u":d_r"_s, ValueText::storedDateTime(registered));
            Writer::run(item);
            // Ids are numbered from 1 in a new file, one per insert.
            const int id = item.lastInsertId().toInt();

            if (dice.chance(70))
                writeRooms(room, dice, id, flat);
            if (!pictures.isEmpty()) {
                const int count = dice.between(1, 3);
                for (int s = 0; s < count; ++s) {
                    const DemoPicture& picture = s == 0 ? photos[dice.below(int(photos.size()))]
                                                        : pictures[nextPicture++ % pictures.size()];
                    slide.bindValue(u":parent"_s, id);
                    slide.bindValue(u":ext"_s, picture.ext);
                    slide.bindValue(u":picture"_s, picture.bytes);
                    slide.bindValue(u":notes"_s, picture.note);
                    Writer::run(slide);
                }
            }
        }
    }
    transaction.commit();
}
