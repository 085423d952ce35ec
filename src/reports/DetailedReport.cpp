#include "DetailedReport.h"

#include "Database.h"
#include "HtmlPage.h"
#include "ItemStore.h"
#include "ReportFileName.h"
#include "ShellLaunch.h"
#include "SlideStore.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

struct AttributeLine {
    const char* column;
    const char16_t* label;
};

constexpr AttributeLine AttributeLines[] = {
    {"rajon", u"<p><b>Район:</b> "},
    {"grupa", u"<b>Группа:</b> "},
    {"sanuzel", u"<b>Санузел:</b> "},
    {"tip_kv", u"<b>Тип кв.:</b> "},
    {"pech", u"<b>Печка:</b> "},
    {"dver", u"<b>Дверь:</b> "},
    {"perigorodka", u"<b>Перигородка:</b> "},
    {"gaz", u"<b>Газ:</b> "},
    {"konaliz", u"<b>Конализация:</b> "},
    {"garazh", u"<b>Гараж:</b> "},
    {"voda", u"<b>Вода:</b> "},
    {"tip_stroen", u"<b>Тип строения:</b> "},
    {"kolonka", u"<b>Колонка:</b> "},
    {"komnoty", u"<b>Комноты:</b> "},
    {"obsh_plosh", u"<b>Площадь:</b> "},
    {"etazh", u"<b>Этаж:</b> "},
    {"etazhnost", u"<b>Этажность:</b> "},
    {"osob", u"<b>Особенности:</b> "},
    {"stoim", u"<b>Стоимость:</b> "},
    {"dolg", u"<b>Долг:</b> "},
};

} // namespace

namespace DetailedReport {

QString write(StoreQuery& query, int itemId) {
    if (!ItemStore::openItem(query, itemId))
        return QString();
    QStringList values;
    values.reserve(int(std::size(AttributeLines)));
    for (const AttributeLine& a : AttributeLines)
        values.append(query.text(QString::fromLatin1(a.column)));

    const QString pagePath = ReportFileName(QString::fromUtf16(BaseText));
    HtmlPage page;
    page.head(u"Детальный отчет");
    page.line(u"Детальный отчет</H3><br>");
    const int lastLine = int(std::size(AttributeLines)) - 1;
    for (int i = 0; i <= lastLine; ++i) {
        page.markup(AttributeLines[i].label).text(values.at(i));
        page.markup(i == lastLine ? u"<br></p>" : u"<br>").endLine();
    }

    const QList<SlideRecord> slides = SlideStore::loadSlides(query, itemId);
    if (!slides.isEmpty()) {
        // The page's path without ".htm".
        const QString photoFolder = pagePath.left(pagePath.size() - 4);
        QDir().mkpath(photoFolder);
        const QString folderName = QFileInfo(photoFolder).fileName();
        page.line(u"<Table align=center width=95% border=0 cellspacing=\"0\">");
        for (int i = 0; i < slides.size(); ++i) {
            const SlideRecord& slide = slides.at(i);
            // A stored extension must not lead out of the photo folder.
            const QString fileName = QString::number(slide.id) + FileNameSafeText(slide.ext);
            ReportFile::save(photoFolder + u'/' + fileName, slide.picture);
            const bool even = i % 2 == 0;
            page.line(even ? u"<tr><td>" : u"<td>");
            // Relative to the page, with '/' so that every viewer finds the picture.
            page.markup(u"<img  width=250 height=250 src=\"")
                .attribute(folderName)
                .markup(u"/")
                .attribute(fileName)
                .markup(u"\">")
                .endLine();
            page.markup(u"<p><b>Примечание:</b> ").text(slide.notes).markup(u"</p>").endLine();
            page.line(even ? u"</td>" : u"</td></tr>");
        }
        page.line(u"</table>");
    }
    page.line(u"</Body></Html>");
    ReportFile::save(pagePath, page.bytes());
    return pagePath;
}

QString run(StoreQuery& query, std::optional<int> itemId) {
    if (!itemId)
        return QString();
    const QString pagePath = write(query, *itemId);
    if (!pagePath.isEmpty())
        ShellLaunch::openDocument(ShellLaunch::Opener::WordProcessor, pagePath);
    return pagePath;
}

} // namespace DetailedReport
