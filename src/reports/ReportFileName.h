#pragma once

#include <QDate>
#include <QLocale>
#include <QString>

// Report files live in the folder "RepTmp" beside the executable and are never deleted.
inline constexpr auto ReportFolderName = u"RepTmp";

// The report folder with its trailing slash, made with any missing parents (whether that worked
// shows when the file is created).
QString ReportFolder();

// The date as it goes into a report's file name: the locale's short date format, made safe.
QString ReportFileDate(const QDate& date, const QLocale& locale = QLocale());
// `text` with every character that a file name cannot hold (path separators, ':', '*', '?', '"',
// '<', '>', '|', control characters) turned into '-'.
QString FileNameSafeText(QString text);

// The longest file name, in bytes of the file system's encoding, that file systems take.
inline constexpr qsizetype MaxFileNameBytes = 255;
// `stem` + `tail`, the tail cut at its end (never inside a character) as far as the whole name must
// be to stay within MaxFileNameBytes.
QString FittedFileName(const QString& stem, QStringView tail);

// The first free report name in the report folder: base + date + ".htm", or, when that exists,
// base + date + " (n).htm" for the first n from 1 whose file does not exist.
QString ReportFileName(const QString& baseText);
QString ReportFileName(const QString& baseText, const QString& dateText);
