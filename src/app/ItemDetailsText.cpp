#include "ItemDetailsText.h"

#include <QStringList>

namespace ItemDetailsText {

const std::array<Line, 20> Lines = {{
    {u"Район: ", u"rajon"},
    {u"Группа: ", u"grupa"},
    {u"Санузел: ", u"sanuzel"},
    {u"Тип кв.: ", u"tip_kv"},
    {u"Печка: ", u"pech"},
    {u"Дверь: ", u"dver"},
    {u"Перигородка: ", u"perigorodka"},
    {u"Газ: ", u"gaz"},
    {u"Конализация: ", u"konaliz"},
    {u"Гараж: ", u"garazh"},
    {u"Вода: ", u"voda"},
    {u"Тип строения: ", u"tip_stroen"},
    {u"Колонка: ", u"kolonka"},
    {u"Комноты: ", u"komnoty"},
    {u"Площадь: ", u"obsh_plosh"},
    {u"Этаж: ", u"etazh"},
    {u"Этажность: ", u"etazhnost"},
    {u"Особенности: ", u"osob"},
    {u"Стоимость: ", u"stoim"},
    {u"Долг: ", u"dolg"},
}};

QString build(const std::function<QString(const QString& column)>& valueOf) {
    QStringList lines;
    lines.reserve(qsizetype(Lines.size()));
    for (const Line& line : Lines)
        lines.append(line.label.toString() + valueOf(line.column.toString()));
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace ItemDetailsText
