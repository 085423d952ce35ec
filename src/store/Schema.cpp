#include "Schema.h"

#include "AppError.h"

const std::array<ItemAttribute, AttributeCount> ItemAttributes = {{
    {u"Дата рег.", "date_reg"},  {u"Группа", "grupa"},
    {u"Район", "rajon"},         {u"Общая площадь", "obsh_plosh"},
    {u"Санузел", "sanuzel"},     {u"Комноты", "komnoty"},
    {u"Тип квартиры", "tip_kv"}, {u"Состояние", "sost"},
    {u"Печь", "pech"},           {u"Колонка", "kolonka"},
    {u"Этаж", "etazh"},          {u"Этажность", "etazhnost"},
    {u"Дверь", "dver"},          {u"Перигородка", "perigorodka"},
    {u"Особенности", "osob"},    {u"Газ", "gaz"},
    {u"Конализация", "konaliz"}, {u"Гараж", "garazh"},
    {u"Вода", "voda"},           {u"Тип строения", "tip_stroen"},
    {u"Стоимость", "stoim"},     {u"Долг", "dolg"},
}};

const std::array<DirectoryTable, DirectoryCount> DirectoryTables = {{
    {"grupy", u"Группы", "grupa"},
    {"rajony", u"Районы", "rajon"},
    {"dveri", u"Двери", "dver"},
    {"garazhi", u"Гаражи", "garazh"},
    {"gazy", u"Газ", "gaz"},
    {"kolonki", u"Колонки", "kolonka"},
    {"konalizacii", u"Конализация", "konaliz"},
    {"pechi", u"Печи", "pech"},
    {"peregorodki", u"Перегородки", "perigorodka"},
    {"sanuzly", u"Санузлы", "sanuzel"},
    {"tipy_kv", u"Типы квартир", "tip_kv"},
    {"tipy_stroenij", u"Типы строений", "tip_stroen"},
    {"voda", u"Вода", "voda"},
    {"komnaty", u"Комнаты", "komnoty"},
}};

const std::array<LookupBinding, DirectoryCount> LookupBindings = {{
    {u"Район:", "RajonCB", "rajony", "rajon", "SpeedButton1"},
    {u"Группа:", "GrupaCB", "grupy", "grupa", "SpeedButton2"},
    {u"Тип квартиры:", "Tip_KvCB", "tipy_kv", "tip_kv", "SpeedButton4"},
    {u"Перигородка:", "PeregorodkaCB", "peregorodki", "perigorodka", "SpeedButton8"},
    {u"Дверь:", "DverCB", "dveri", "dver", "SpeedButton7"},
    {u"Комнаты:", "KomnataCB", "komnaty", "komnoty", "SpeedButton14"},
    {u"Печь:", "PechCB", "pechi", "pech", "SpeedButton5"},
    {u"Колонка:", "KolonkaCB", "kolonki", "kolonka", "SpeedButton6"},
    {u"Санузел:", "SanuzelCB", "sanuzly", "sanuzel", "SpeedButton3"},
    {u"Тип строения:", "Tip_StroeniyaCB", "tipy_stroenij", "tip_stroen", "SpeedButton13"},
    {u"Газ:", "GazCB", "gazy", "gaz", "SpeedButton9"},
    {u"Конализация:", "KonalizaciaCB", "konalizacii", "konaliz", "SpeedButton10"},
    {u"Вода:", "VodaCB", "voda", "voda", "SpeedButton12"},
    {u"Гараж:", "GarazhCB", "garazhi", "garazh", "SpeedButton11"},
}};

const std::array<const char*, DirectoryCount> LookupLoadOrder = {
    "rajony", "grupy",       "sanuzly", "tipy_kv", "pechi",         "dveri",   "peregorodki",
    "gazy",   "konalizacii", "garazhi", "voda",    "tipy_stroenij", "kolonki", "komnaty"};

const std::array<const char*, DirectoryCount> LookupReadOrder = {
    "rajon", "grupa",   "sanuzel", "tip_kv", "pech",       "dver",    "perigorodka",
    "gaz",   "konaliz", "garazh",  "voda",   "tip_stroen", "kolonka", "komnoty"};

bool isAttributeIndex(int index) {
    return index >= 0 && index < AttributeCount;
}

QString attributeCaption(int index) {
    return isAttributeIndex(index) ? QString::fromUtf16(ItemAttributes[size_t(index)].caption) : QString();
}

QString attributeColumn(int index) {
    return isAttributeIndex(index) ? QString::fromLatin1(ItemAttributes[size_t(index)].column) : QString();
}

ColumnKind itemColumnKind(QStringView column) {
    if (column.compare(u"date_reg", Qt::CaseInsensitive) == 0)
        return ColumnKind::DateTime;
    if (column.compare(u"stoim", Qt::CaseInsensitive) == 0 ||
        column.compare(u"dolg", Qt::CaseInsensitive) == 0)
        return ColumnKind::Currency;
    if (column.compare(u"obsh_plosh", Qt::CaseInsensitive) == 0)
        return ColumnKind::Real;
    if (column.compare(u"etazh", Qt::CaseInsensitive) == 0 ||
        column.compare(u"etazhnost", Qt::CaseInsensitive) == 0)
        return ColumnKind::Integer;
    return ColumnKind::Text;
}

const DirectoryTable* findDirectoryTable(QStringView table) {
    for (const DirectoryTable& t : DirectoryTables) {
        if (table == QLatin1StringView(t.table))
            return &t;
    }
    return nullptr;
}

bool isDirectoryColumn(QStringView column) {
    for (const DirectoryTable& t : DirectoryTables) {
        if (column == QLatin1StringView(t.itemsColumn))
            return true;
    }
    return false;
}

const LookupBinding& lookupByTable(QStringView table) {
    for (const LookupBinding& b : LookupBindings) {
        if (table == QLatin1StringView(b.table))
            return b;
    }
    throw AppError(QStringLiteral("Неизвестный справочник: %1").arg(table));
}
