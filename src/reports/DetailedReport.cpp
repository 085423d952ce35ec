#include "DetailedReport.h"

#include "Database.h"
#include "HtmlPage.h"
#include "ItemStore.h"
#include "ReportFileName.h"
#include "ShellLaunch.h"
#include "SlideStore.h"

#include <QDir>
#include <QFile>
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

// The photo folder and photo files that one report has made so far, removed again unless the
// report is complete: a failed report leaves nothing of its own behind, and nothing of others.
class PhotoFiles {
public:
    explicit PhotoFiles(QString folder) : m_folder(std::move(folder)) {}
    ~PhotoFiles() {
        if (m_complete)
            return;
        for (const QString& file : std::as_const(m_files))
            QFile::remove(file);
        if (m_folderMade)
            QDir().rmdir(m_folder); // only when empty: files of others stay
    }
    PhotoFiles(const PhotoFiles&) = delete;
    PhotoFiles& operator=(const PhotoFiles&) = delete;

    // Makes the folder, with any missing parents, unless it is there.
    void makeFolder() {
        if (QFileInfo::exists(m_folder))
            return;
        m_folderMade = QDir().mkpath(m_folder);
    }
    void save(const QString& fileName, QByteArrayView bytes) {
        const QString path = m_folder + u'/' + fileName;
        ReportFile::save(path, bytes);
        m_files.append(path);
    }
    void complete() { m_complete = true; }

private:
    QString m_folder;
    QStringList m_files;
    bool m_folderMade = false;
    bool m_complete = false;
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
    // The page's path without ".htm".
    const QString photoFolder = pagePath.left(pagePath.size() - 4);
    PhotoFiles photos(photoFolder);
    if (!slides.isEmpty()) {
        photos.makeFolder();
        const QString folderName = QFileInfo(photoFolder).fileName();
        page.line(u"<Table align=center width=95% border=0 cellspacing=\"0\">");
        for (int i = 0; i < slides.size(); ++i) {
            const SlideRecord& slide = slides.at(i);
            // A stored extension must not lead out of the photo folder, nor make too long a name.
            const QString fileName = FittedFileName(QString::number(slide.id), FileNameSafeText(slide.ext));
            photos.save(fileName, slide.picture);
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
    photos.complete();
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
