#include "ReportFileName.h"

#include "AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace {

bool fitsFileName(QChar c) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        return false;
    switch (c.unicode()) {
    case u'/':
    case u'\\':
    case u':':
    case u'*':
    case u'?':
    case u'"':
    case u'<':
    case u'>':
    case u'|':
        return false;
    default:
        return true;
    }
}

} // namespace

QString ReportFolder() {
    const QString folder = AppPaths::executableFolder() + QString::fromUtf16(ReportFolderName);
    QDir().mkpath(folder);
    return folder + u'/';
}

QString ReportFileDate(const QDate& date, const QLocale& locale) {
    return FileNameSafeText(locale.toString(date, QLocale::ShortFormat));
}

QString FileNameSafeText(QString text) {
    for (QChar& c : text) {
        if (!fitsFileName(c))
            c = u'-';
    }
    return text;
}

QString FittedFileName(const QString& stem, QStringView tail) {
    // File names are UTF-8 on the file system.
    qsizetype used = QFile::encodeName(stem).size();
    qsizetype end = 0;
    while (end < tail.size()) {
        const char16_t u = tail[end].unicode();
        const bool pair = QChar::isHighSurrogate(u) && end + 1 < tail.size() &&
                          QChar::isLowSurrogate(tail[end + 1].unicode());
        const int bytes = pair ? 4 : u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (used + bytes > MaxFileNameBytes)
            break;
        used += bytes;
        end += pair ? 2 : 1;
    }
    return stem + tail.first(end).toString();
}

QString ReportFileName(const QString& baseText) {
    return ReportFileName(baseText, ReportFileDate(QDate::currentDate()));
}

QString ReportFileName(const QString& baseText, const QString& dateText) {
    const QString stem = ReportFolder() + baseText + dateText;
    QString candidate = stem + u".htm"_s;
    for (int n = 1; QFileInfo::exists(candidate); ++n)
        candidate = stem + u" ("_s + QString::number(n) + u").htm"_s;
    return candidate;
}
