#include "ReportFileName.h"

#include "AppPaths.h"

#include <QDir>
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
